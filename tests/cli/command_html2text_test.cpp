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
  const std::string strIn = WriteFile("page.htm", "<BODY>x");
  const auto run = RunTool({"html2text", strIn, PathOf("page.txt")});
  EXPECT_EQ(run.exitStatus, 13);
  EXPECT_EQ(run.err, "quorlix: no body found in '" + strIn +
                         "' (upper-case <BODY> and </BODY> tags, every '<' closed by '>') (status 13)\n");
}

TEST_F(CommandHtml2textTest, LowerCaseBodyIsExplained) {
  const std::string explained =
      "': the conversion recognises upper-case tags only, and this page writes them in lower case (status 13)\n";
  // The tag far into the page, past the first block the tool reads, and cut by that block's end.
  const std::string page = "<html>" + std::string(64 * 1024 - 8, ' ') + "<body>x</body></html>";
  WriteFile("page.htm", page);
  const auto run = RunTool({"html2text", "page.htm", "page.txt"});
  EXPECT_EQ(run.exitStatus, 13);
  EXPECT_EQ(run.err, "quorlix: no <BODY> found in 'page.htm" + explained);
  const auto piped = RunTool({"html2text", "-", "-"}, WithInput("<body>"));
  EXPECT_EQ(piped.err, "quorlix: no <BODY> found in '-" + explained);
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
