#include <gtest/gtest.h>

#include "tool_test.h"

namespace {

using quorlix_test::ReadFile;

class CommandHtml2textTest : public quorlix_test::ToolTest {};

TEST_F(CommandHtml2textTest, TablesOnlyWritesTheTablesAndSaysNothing) {
  const std::string strIn = WriteFile("page.htm", "<BODY>x<TABLE><TR><TD>a</TD><TD>b</TD></TR></TABLE></BODY>");
  const auto run = RunTool({"html2text", "--tables-only", strIn, PathOf("page.txt")});
  EXPECT_EQ(run.exitStatus, 0);
  EXPECT_EQ(run.err, "");
  EXPECT_EQ(ReadFile(PathOf("page.txt")), "a,b\r\n\r\n");
}

TEST_F(CommandHtml2textTest, FailureExitsWithItsStatusAndOneLine) {
  const std::string strIn = WriteFile("page.htm", "<body>x</body>");
  const auto run = RunTool({"html2text", strIn, PathOf("page.txt")});
  EXPECT_EQ(run.exitStatus, 13);
  EXPECT_EQ(run.err,
            "quorlix: no body found in '" + strIn +
                "' (upper-case <BODY> and </BODY> tags, every '<' closed by '>'), or not enough memory (status 13)\n");
}

TEST_F(CommandHtml2textTest, StandardInputAndOutputGoThroughFilesWithTheCheckedSuffixes) {
  const auto run = RunTool({"html2text", "-", "-"}, WithInput("<BODY>hi</BODY>"));
  EXPECT_EQ(run.exitStatus, 0) << run.err;
  EXPECT_EQ(run.out, "hi");
  const auto failed = RunTool({"html2text", "-", "-"}, WithInput("<body>"));
  EXPECT_EQ(failed.exitStatus, 13);
  EXPECT_EQ(failed.out, "");
}

}  // namespace
