#include <gtest/gtest.h>

#include "test_support.h"

namespace {

using quorlix_test::ReadFile;
using quorlix_test::RunTool;

class CliTest : public quorlix_test::TempDirTest {};

TEST_F(CliTest, CrlfConvertsAndSaysNothing) {
  const std::string strIn = WriteFile("in.txt", "a\n\n\nb\n");
  const auto run = RunTool({"crlf", "--skip-blank", strIn, PathOf("out.txt")});
  EXPECT_EQ(run.nExitStatus, 0);
  EXPECT_EQ(run.strErr, "");
  EXPECT_EQ(ReadFile(PathOf("out.txt")), "a\r\nb\r\n");
}

TEST_F(CliTest, CrlfMissingInputExitsWithItsStatusAndOneLine) {
  const std::string strIn = PathOf("a.txt");
  const auto run = RunTool({"crlf", strIn, PathOf("out.txt")});
  EXPECT_EQ(run.nExitStatus, 3);
  EXPECT_EQ(run.strErr, "quorlix: input file '" + strIn + "' not found (status 3)\n");
}

TEST_F(CliTest, VersionPrintsTheLibraryVersion) {
  const auto run = RunTool({"version"});
  EXPECT_EQ(run.nExitStatus, 0);
  EXPECT_EQ(run.strOut, "103\n");
}

}  // namespace
