#include <gtest/gtest.h>

#include "tool_test.h"

namespace {

using quorlix_test::FileExists;
using quorlix_test::ReadFile;

class CommandDelimitedTest : public quorlix_test::ToolTest {};

TEST_F(CommandDelimitedTest, DefaultsTurnCsvIntoTabSeparatedRecords) {
  const std::string strIn = WriteFile("in.csv", "a,b\r\nc,d\r\n");
  const auto run = RunTool({"delimited", strIn, PathOf("out.tsv")});
  EXPECT_EQ(run.exitStatus, 0);
  EXPECT_EQ(run.err, "");
  EXPECT_EQ(ReadFile(PathOf("out.tsv")), "a\tb\r\nc\td\r\n");
}

TEST_F(CommandDelimitedTest, DelimitersTakeCStyleEscapes) {
  const std::string strIn = WriteFile("in.txt", "a;b\\c\nd;e\\f\n");
  const auto run = RunTool({"delimited", strIn, PathOf("out.txt"), "--in-record", "\\n", "--in-field", "\\\\",
                            "--out-field", "\\x7C\\t", "--out-record", "\\r"});
  EXPECT_EQ(run.exitStatus, 0);
  EXPECT_EQ(ReadFile(PathOf("out.txt")), "a;b|\tc\rd;e|\tf\r");
}

TEST_F(CommandDelimitedTest, BadEscapeIsAUsageErrorThatTouchesNoFile) {
  const std::string strIn = WriteFile("in.csv", "a,b\r\n");
  for (const char* pszBad : {"\\q", "\\x4", "\\x00", "ab\\"}) {
    const auto run = RunTool({"delimited", strIn, PathOf("out.tsv"), "--in-field", pszBad});
    EXPECT_NE(run.exitStatus, 0) << pszBad;
    EXPECT_NE(run.err.find("--in-field"), std::string::npos) << pszBad;
    EXPECT_FALSE(FileExists(PathOf("out.tsv"))) << pszBad;
  }
}

TEST_F(CommandDelimitedTest, FailureExitsWithItsStatusAndOneLine) {
  const std::string strIn = WriteFile("in.csv", "a,b");
  auto run = RunTool({"delimited", strIn, PathOf("out.tsv")});
  EXPECT_EQ(run.exitStatus, 5);
  EXPECT_EQ(run.err, "quorlix: no record delimiter found in '" + strIn + "' (status 5)\n");

  run = RunTool({"delimited", strIn, PathOf("out.tsv"), "--in-record", ""});
  EXPECT_EQ(run.exitStatus, 4);
  EXPECT_EQ(run.err, "quorlix: the input record delimiter is empty (status 4)\n");
}

TEST_F(CommandDelimitedTest, StandardInputAndOutput) {
  const auto run = RunTool({"delimited", "-", "-"}, WithInput("a,b\r\n"));
  EXPECT_EQ(run.exitStatus, 0);
  EXPECT_EQ(run.out, "a\tb\r\n");
  // A status that says what the input lacked comes with a complete output.
  const auto lacking = RunTool({"delimited", "-", "-"}, WithInput("a,b"));
  EXPECT_EQ(lacking.exitStatus, 5);
  EXPECT_EQ(lacking.out, "a\tb\r\n");
  EXPECT_EQ(lacking.err, "quorlix: no record delimiter found in '-' (status 5)\n");
}

}  // namespace
