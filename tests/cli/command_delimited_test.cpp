#include <gtest/gtest.h>

#include "test_support.h"

namespace {

using quorlix_test::FileExists;
using quorlix_test::ReadFile;
using quorlix_test::RunTool;

class DelimitedCliTest : public quorlix_test::TempDirTest {};

TEST_F(DelimitedCliTest, DefaultsTurnCsvIntoTabSeparatedRecords) {
  const std::string strIn = WriteFile("in.csv", "a,b\r\nc,d\r\n");
  const auto run = RunTool({"delimited", strIn, PathOf("out.tsv")});
  EXPECT_EQ(run.nExitStatus, 0);
  EXPECT_EQ(run.strErr, "");
  EXPECT_EQ(ReadFile(PathOf("out.tsv")), "a\tb\r\nc\td\r\n");
}

TEST_F(DelimitedCliTest, DelimitersTakeCStyleEscapes) {
  const std::string strIn = WriteFile("in.txt", "a;b\\c\nd;e\\f\n");
  const auto run = RunTool({"delimited", strIn, PathOf("out.txt"), "--in-record", "\\n", "--in-field", "\\\\",
                            "--out-field", "\\x7C\\t", "--out-record", "\\r"});
  EXPECT_EQ(run.nExitStatus, 0);
  EXPECT_EQ(ReadFile(PathOf("out.txt")), "a;b|\tc\rd;e|\tf\r");
}

TEST_F(DelimitedCliTest, BadEscapeIsAUsageErrorThatTouchesNoFile) {
  const std::string strIn = WriteFile("in.csv", "a,b\r\n");
  for (const char* pszBad : {"\\q", "\\x4", "\\x00", "ab\\"}) {
    const auto run = RunTool({"delimited", strIn, PathOf("out.tsv"), "--in-field", pszBad});
    EXPECT_NE(run.nExitStatus, 0) << pszBad;
    EXPECT_NE(run.strErr.find("--in-field"), std::string::npos) << pszBad;
    EXPECT_FALSE(FileExists(PathOf("out.tsv"))) << pszBad;
  }
}

TEST_F(DelimitedCliTest, FailureExitsWithItsStatusAndOneLine) {
  const std::string strIn = WriteFile("in.csv", "a,b");
  auto run = RunTool({"delimited", strIn, PathOf("out.tsv")});
  EXPECT_EQ(run.nExitStatus, 5);
  EXPECT_EQ(run.strErr, "quorlix: no record delimiter found in '" + strIn + "' (status 5)\n");

  run = RunTool({"delimited", strIn, PathOf("out.tsv"), "--in-record", ""});
  EXPECT_EQ(run.nExitStatus, 4);
  EXPECT_EQ(run.strErr, "quorlix: the input record delimiter is empty (status 4)\n");
}

}  // namespace
