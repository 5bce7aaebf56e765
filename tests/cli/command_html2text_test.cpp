#include <gtest/gtest.h>

#include "test_support.h"

namespace {

using quorlix_test::ReadFile;
using quorlix_test::RunTool;

class Html2textCliTest : public quorlix_test::TempDirTest {};

TEST_F(Html2textCliTest, TablesOnlyWritesTheTablesAndSaysNothing) {
  const std::string strIn = WriteFile("page.htm", "<BODY>x<TABLE><TR><TD>a</TD><TD>b</TD></TR></TABLE></BODY>");
  const auto run = RunTool({"html2text", "--tables-only", strIn, PathOf("page.txt")});
  EXPECT_EQ(run.nExitStatus, 0);
  EXPECT_EQ(run.strErr, "");
  EXPECT_EQ(ReadFile(PathOf("page.txt")), "a,b\r\n\r\n");
}

TEST_F(Html2textCliTest, FailureExitsWithItsStatusAndOneLine) {
  const std::string strIn = WriteFile("page.htm", "<body>x</body>");
  const auto run = RunTool({"html2text", strIn, PathOf("page.txt")});
  EXPECT_EQ(run.nExitStatus, 13);
  EXPECT_EQ(run.strErr, "quorlix: no body found in '" + strIn +
                            "' (upper-case <BODY> and </BODY> tags, every '<' closed by '>') (status 13)\n");
}

}  // namespace
