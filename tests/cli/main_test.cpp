#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tool_test.h"

namespace {

class MainTest : public quorlix_test::ToolTest {};

// Every command line the tool cannot use exits 64 with one line naming the
// problem, apart from every status the library returns.
TEST_F(MainTest, UsageErrorsExit64WithOneLine) {
  const std::vector<std::vector<std::string>> commandLines = {
      {},
      {"bogus"},
      {"--bogus"},
      {"crlf", "--bogus", "a", "b"},
      {"crlf", "a"},
      {"crlf", "a", "b", "c"},
      {"crlf", "-j", "abc", "-o", "out", "a"},
      {"crlf", "-j", "0", "-o", "out", "a"},
      {"crlf", "-j", "2", "a", "b"},
      {"crlf", "-o"},
      {"crlf", "-o", "out"},
      {"crlf", "-o", "out", "-"},
      {"decode-filing", "f", "-", "-"},
      {"verify"},
      {"verify", "-0", "a"},
      {"html2text", "-o", "out", "-T", "missing-list"},
  };
  for (const auto& args : commandLines) {
    std::string shown;
    for (const auto& arg : args) shown += arg + ' ';
    const auto run = RunTool(args);
    EXPECT_EQ(run.exitStatus, 64) << shown;
    EXPECT_TRUE(run.err.starts_with("quorlix: ")) << shown << run.err;
    EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 1) << shown << run.err;
  }
  EXPECT_EQ(RunTool({"bogus"}).err, "quorlix: unknown subcommand 'bogus' (quorlix --help lists them)\n");
}

TEST_F(MainTest, HelpIsNotAnError) {
  EXPECT_EQ(RunTool({"--help"}).exitStatus, 0);
  EXPECT_EQ(RunTool({"crlf", "--help"}).exitStatus, 0);
}

}  // namespace
