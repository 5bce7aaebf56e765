#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "tool_test.h"

namespace {

using quorlix_test::ReadFile;

class CommandVerifyTest : public quorlix_test::ToolTestWithoutMagic {};

TEST_F(CommandVerifyTest, OneFileThatAgrees) {
  const std::string strBmp = WriteFile("a.bmp", "BM");
  const auto run = RunTool({"verify", strBmp});
  EXPECT_EQ(run.exitStatus, 0);
  EXPECT_EQ(run.out, strBmp + ": ok\n");
  EXPECT_EQ(run.err, "");
}

TEST_F(CommandVerifyTest, OneFileExitsWithItsStatus) {
  const std::string strJpg = WriteFile("PHOTO.JPG", "GIF89a");
  const auto run = RunTool({"verify", strJpg});
  EXPECT_EQ(run.exitStatus, 18);
  EXPECT_EQ(run.out, strJpg +
                         ": contents do not match .jpg: bytes 6-10 are not \"JFIF\" (in any case) and a NUL; the "
                         "file has 6 bytes (status 18)\n");
}

TEST_F(CommandVerifyTest, SeveralFilesReportEachAndExitWithTheFirstFailure) {
  const std::string strGood = WriteFile("a.txt", "\r\n");
  const std::string strDoc = PathOf("notes.doc");
  const std::string strMissing = PathOf("gone.gif");
  const std::string strBad = WriteFile("b.txt", "\n");
  const auto run = RunTool({"verify", strGood, strDoc, strMissing, strBad});
  EXPECT_EQ(run.exitStatus, 17);
  EXPECT_EQ(run.out, strGood + ": ok\n" + strDoc + ": unknown suffix (status 17)\n" + strMissing +
                         ": not found (status 3)\n" + strBad +
                         ": contents do not match .txt: no CR LF pair in 1 byte; 1 line ends in LF alone, the first at "
                         "byte 0 (status 18)\n");
}

TEST_F(CommandVerifyTest, AllAgreeExitsZero) {
  const auto run = RunTool({"verify", WriteFile("a.gif", "gif89a"), PathOf("x.pct")});
  EXPECT_EQ(run.exitStatus, 0);
}

TEST_F(CommandVerifyTest, QuietPrintsOnlyFailures) {
  const std::string strGood = WriteFile("a.gif", "GIF87a");
  const std::string strDoc = WriteFile("notes.doc", "x");
  const auto run = RunTool({"verify", "--quiet", strGood, strDoc});
  EXPECT_EQ(run.exitStatus, 17);
  EXPECT_EQ(run.out, strDoc + ": unknown suffix (status 17)\n");
  EXPECT_EQ(run.err, "");
  const auto runAllGood = RunTool({"verify", "-q", strGood});
  EXPECT_EQ(runAllGood.exitStatus, 0);
  EXPECT_EQ(runAllGood.out, "");
}

TEST_F(CommandVerifyTest, FoldersAreWalkedAndLinesKeepInputOrderWhateverTheJobs) {
  std::string expected;
  for (int i = 0; i < 40; ++i) {
    const std::string name = "scans/" + std::to_string(i % 3) + "/f" + std::to_string(i) + (i % 5 ? ".gif" : ".bmp");
    WriteTree(name, "GIF89a");
  }
  const auto one = RunTool({"verify", "-j", "1", "scans", "--report", "r1.csv"});
  const auto four = RunTool({"verify", "-j", "4", "scans", "--report", "r4.csv"});
  EXPECT_EQ(one.exitStatus, 18);
  EXPECT_EQ(four.exitStatus, 18);
  EXPECT_EQ(one.out, four.out);
  EXPECT_TRUE(one.out.starts_with(
      "scans/0/f0.bmp: contents do not match .bmp: does not begin with \"BM\" or \"IC\" but \"GI\" (status 18)\n"
      "scans/0/f12.gif: ok\n"))
      << one.out;
  EXPECT_TRUE(four.err.starts_with("quorlix: 32 agree, 8 failed, 0 skipped, 240 bytes in ")) << four.err;
  EXPECT_TRUE(ReadFile(PathOf("r4.csv"))
                  .starts_with("input,status,meaning,outputs,bytes_in,seconds,looks_like\r\n"
                               "scans/0/f0.bmp,18,\"contents do not match .bmp: does not begin with \"\"BM\"\" or "
                               "\"\"IC\"\" but \"\"GI\"\"\",,6,"));
}

TEST_F(CommandVerifyTest, NamesAreEscaped) {
  const std::string bad = WriteFile("a\nb.txt", "\r");
  const auto run = RunTool({"verify", bad});
  EXPECT_EQ(run.out, PathOf("a\\nb.txt") +
                         ": contents do not match .txt: no CR LF pair in 1 byte; 1 line ends in CR alone, the first at "
                         "byte 0 (status 18)\n");
}

}  // namespace
