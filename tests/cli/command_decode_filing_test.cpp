#include <gtest/gtest.h>

#include "tool_test.h"

namespace {

using quorlix_test::ReadFile;

class CommandDecodeFilingTest : public quorlix_test::ToolTest {};

TEST_F(CommandDecodeFilingTest, DecodesTheSampleFilingAndSaysNothing) {
  const std::string strFiling = (quorlix_test::DataDir() / "filing/apple_10q_2000q1_ex27.txt").string();
  const auto run = RunTool({"decode-filing", strFiling, PathOf("text.txt"), PathOf("schedule.txt")});
  EXPECT_EQ(run.exitStatus, 0);
  EXPECT_EQ(run.err, "");
  EXPECT_TRUE(ReadFile(PathOf("schedule.txt")).starts_with("Article                              5\r\n"));
}

TEST_F(CommandDecodeFilingTest, FailuresExitWithTheirStatusAndOneLine) {
  const std::string strMissing = PathOf("absent.txt");
  const auto missing = RunTool({"decode-filing", strMissing, PathOf("text.txt"), PathOf("schedule.txt")});
  EXPECT_EQ(missing.exitStatus, 3);
  EXPECT_EQ(missing.err, "quorlix: filing '" + strMissing + "' not found (status 3)\n");

  const std::string strFiling = WriteFile("filing.txt", "x\n");
  const auto same = RunTool({"decode-filing", strFiling, strFiling, PathOf("schedule.txt")});
  EXPECT_EQ(same.exitStatus, 2);
  EXPECT_EQ(same.err,
            "quorlix: file error on '" + strFiling + "', '" + strFiling + "' or '" + PathOf("schedule.txt") +
                "' (bad path, disk full, an output naming the filing, or both outputs one file) (status 2)\n");
  EXPECT_EQ(ReadFile(strFiling), "x\n");
}

TEST_F(CommandDecodeFilingTest, FilingFromStandardInputAndOneOutputToStandardOutput) {
  const std::string filing = ReadFile((quorlix_test::DataDir() / "filing/apple_10q_2000q1_ex27.txt").string());
  ASSERT_EQ(RunTool({"decode-filing", "-", PathOf("text.txt"), PathOf("schedule.txt")}, WithInput(filing)).exitStatus,
            0);
  const auto run = RunTool({"decode-filing", "-", PathOf("text2.txt"), "-"}, WithInput(filing));
  EXPECT_EQ(run.exitStatus, 0) << run.err;
  EXPECT_EQ(run.out, ReadFile(PathOf("schedule.txt")));
  EXPECT_EQ(ReadFile(PathOf("text2.txt")), ReadFile(PathOf("text.txt")));
  EXPECT_EQ(RunTool({"decode-filing", "-", "-", "-"}, WithInput(filing)).exitStatus, 64);
}

}  // namespace
