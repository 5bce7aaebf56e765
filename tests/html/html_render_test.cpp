#include <gtest/gtest.h>

#include <string>

#include "html/html_test_support.h"
#include "quorlix.h"
#include "scan/line_scan.h"

namespace {

class RenderBodyTest : public quorlix_test::HtmlTest {};

TEST_F(RenderBodyTest, TagsVanishAndTheirSurroundingBlanksStay) {
  EXPECT_EQ(Render("one <B>two</B> three"), "one two three");
  EXPECT_EQ(Render("<P>para<BR>line<H1>head</H1>"), "paralinehead");  // no tag makes a line outside tables
  EXPECT_EQ(Render("a <IMG SRC=\"x>y\"> b"), "a y\" b");              // quotes do not hide a '>'
}

TEST_F(RenderBodyTest, OnlyPrintableAsciiBlanksAndSourceLineBreaksPass) {
  EXPECT_EQ(Render("a\r\nb\nc"), "a\r\nb\nc");  // passed as they stand, not made CR LF
  EXPECT_EQ(Render("caf\xE9\tbar\x7F\x01"), "cafbar");
}

TEST_F(RenderBodyTest, DigitReferencesVanishWholeOtherReferencesStay) {
  EXPECT_EQ(Render("a&amp;b &lt;"), "a&amp;b &lt;");
  EXPECT_EQ(Render("x&146;y &1<B>2;z"), "xy z");  // up to the ';', over tags too
  EXPECT_EQ(Render("x&#146;y"), "x&#146;y");      // '#' is not a digit
  EXPECT_EQ(Render("tail &"), "tail &");
}

TEST_F(RenderBodyTest, UnterminatedDigitReferenceFailsOnlyWhereTextIsRead) {
  EXPECT_EQ(FailingStatus("x &146 y"), QUORLIX_HTML_BODY_FAILED);
  EXPECT_EQ(RenderTablesOnly("x &146 y"), "");
}

TEST_F(RenderBodyTest, StrayCloseBracketIsDropped) { EXPECT_EQ(Render("a > b >>c"), "a  b c"); }

TEST_F(RenderBodyTest, TablesOnlyDropsTextAndKeepsTablesAsTheyAre) {
  const std::string body =
      "before\r\n<TABLE><TR><TD>a</TD><TD>1,5</TD></TR></TABLE>between<TABLE><TH>b</TH></TABLE>after";
  const std::string tables = "a,\"1,5\"\r\n\r\nb,\r\n\r\n";
  EXPECT_EQ(Render(body),
            "before\r\n"
            "a,\"1,5\"\r\n\r\n"
            "between"
            "b,\r\n\r\n"
            "after");
  EXPECT_EQ(RenderTablesOnly(body), tables);
  EXPECT_EQ(Render(body, 2), Render(body));  // only 1 selects tables-only
}

TEST_F(RenderBodyTest, LowerCaseTableIsPlainText) {
  EXPECT_EQ(Render("<table><tr><td>a</td><td>b</td></tr></table>"), "ab");
  EXPECT_EQ(RenderTablesOnly("<table><tr><td>a</td></tr></table>"), "");
}

TEST_F(RenderBodyTest, TableStartWithAttributesStartsATable) {
  EXPECT_EQ(Render("<TABLE BORDER=1 WIDTH=\"100%\"><TR><TD>a</TD></TR></TABLE>"), "a\r\n\r\n");
}

// The input behind the read position is given back to the system as the page
// is rendered, a few MiB at a time: text and a long table on both sides of such
// steps come out whole, in every scanner and both modes.
TEST_F(RenderBodyTest, APageOfManyMebibytesComesOutWhole) {
  const std::string paragraph = "<P>net &amp; 1,234 &12;sales</P>\n";  // 33 bytes
  const std::string row = "<TR><TD>1,234</TD><TD>(5)</TD></TR>\n";     // 37 bytes
  const std::size_t nParagraphs = 100000;
  const std::size_t nRows = 150000;
  std::string body, text, table;
  for (std::size_t k = 0; k < nParagraphs; ++k) body += paragraph, text += "net &amp; 1,234 sales\n";
  body += "<TABLE>";
  for (std::size_t k = 0; k < nRows; ++k) body += row, table += "\"1,234\",(5)\r\n";
  body += "</TABLE>" + body.substr(0, paragraph.size() * nParagraphs);
  table += "\r\n";
  struct Scanner {
    const char* pszName;
    ScanLevel level;
  };
  for (const Scanner& scanner : {Scanner{"avx2", ScanLevel::kAvx2}, Scanner{"ssse3", ScanLevel::kSsse3},
                                 Scanner{"portable", ScanLevel::kPortable}}) {
    const ScopedScanLevel level(scanner.level);
    EXPECT_TRUE(Render(body) == text + table + text) << scanner.pszName;
    EXPECT_TRUE(RenderTablesOnly(body) == table) << scanner.pszName;
  }
}

}  // namespace
