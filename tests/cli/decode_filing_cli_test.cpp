#include <gtest/gtest.h>

#include "test_support.h"

namespace {

using quorlix_test::ReadFile;
using quorlix_test::RunTool;

class DecodeFilingCliTest : public quorlix_test::TempDirTest {};

TEST_F(DecodeFilingCliTest, DecodesTheSampleFilingAndSaysNothing) {
  const std::string strFiling = (quorlix_test::DataDir() / "filing/apple_10q_2000q1_ex27.txt").string();
  const auto run = RunTool({"decode-filing", strFiling, PathOf("text.txt"), PathOf("schedule.txt")});
  EXPECT_EQ(run.nExitStatus, 0);
  EXPECT_EQ(run.strErr, "");
  EXPECT_TRUE(ReadFile(PathOf("schedule.txt")).starts_with("Article                              5\r\n"));
}

TEST_F(DecodeFilingCliTest, FailuresExitWithTheirStatusAndOneLine) {
  const std::string strMissing = PathOf("absent.txt");
  const auto missing = RunTool({"decode-filing", strMissing, PathOf("text.txt"), PathOf("schedule.txt")});
  EXPECT_EQ(missing.nExitStatus, 3);
  EXPECT_EQ(missing.strErr, "quorlix: filing '" + strMissing + "' not found (status 3)\n");

  const std::string strFiling = WriteFile("filing.txt", "x\n");
  const auto same = RunTool({"decode-filing", strFiling, strFiling, PathOf("schedule.txt")});
  EXPECT_EQ(same.nExitStatus, 2);
  EXPECT_EQ(same.strErr, "quorlix: file error on '" + strFiling + "', '" + strFiling + "' or '" + PathOf("schedule.txt") +
                             "' (bad path, disk full, an output naming the filing, or both outputs one file) (status 2)\n");
  EXPECT_EQ(ReadFile(strFiling), "x\n");
}

}  // namespace
