#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "test_support.h"

namespace {

using quorlix_test::RunTool;

class VerifyCommandTest : public quorlix_test::TempDirTest {};

TEST_F(VerifyCommandTest, OneFileThatAgrees) {
  const std::string strBmp = WriteFile("a.bmp", "BM");
  const auto run = RunTool({"verify", strBmp});
  EXPECT_EQ(run.nExitStatus, 0);
  EXPECT_EQ(run.strOut, strBmp + ": ok\n");
  EXPECT_EQ(run.strErr, "");
}

TEST_F(VerifyCommandTest, OneFileExitsWithItsStatus) {
  const std::string strJpg = WriteFile("PHOTO.JPG", "GIF89a");
  const auto run = RunTool({"verify", strJpg});
  EXPECT_EQ(run.nExitStatus, 18);
  EXPECT_EQ(run.strOut, strJpg + ": contents do not match .jpg (status 18)\n");
}

TEST_F(VerifyCommandTest, SeveralFilesReportEachAndExitWithTheFirstFailure) {
  const std::string strGood = WriteFile("a.txt", "\r\n");
  const std::string strDoc = PathOf("notes.doc");
  const std::string strMissing = PathOf("gone.gif");
  const std::string strBad = WriteFile("b.txt", "\n");
  const auto run = RunTool({"verify", strGood, strDoc, strMissing, strBad});
  EXPECT_EQ(run.nExitStatus, 17);
  EXPECT_EQ(run.strOut, strGood + ": ok\n" + strDoc + ": unknown suffix (status 17)\n" + strMissing +
                            ": not found (status 3)\n" + strBad + ": contents do not match .txt (status 18)\n");
}

TEST_F(VerifyCommandTest, AllAgreeExitsZero) {
  const auto run = RunTool({"verify", WriteFile("a.gif", "gif89a"), PathOf("x.pct")});
  EXPECT_EQ(run.nExitStatus, 0);
}

TEST_F(VerifyCommandTest, QuietPrintsOnlyFailures) {
  const std::string strGood = WriteFile("a.gif", "GIF87a");
  const auto run = RunTool({"verify", "--quiet", strGood, m_dir.string() + "/."});
  EXPECT_EQ(run.nExitStatus, 17);
  EXPECT_EQ(run.strOut, m_dir.string() + "/.: unknown suffix (status 17)\n");
  const auto runAllGood = RunTool({"verify", "-q", strGood});
  EXPECT_EQ(runAllGood.nExitStatus, 0);
  EXPECT_EQ(runAllGood.strOut, "");
}

TEST_F(VerifyCommandTest, UnreadableFileIsNamed) {
  std::filesystem::create_directory(PathOf("folder.bmp"));
  const auto run = RunTool({"verify", PathOf("folder.bmp")});
  EXPECT_EQ(run.nExitStatus, 2);
  EXPECT_EQ(run.strOut, PathOf("folder.bmp") + ": cannot be read (status 2)\n");
}

}  // namespace
