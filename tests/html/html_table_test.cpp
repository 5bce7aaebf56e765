#include <gtest/gtest.h>

#include <string>

#include "html/html_test_support.h"
#include "quorlix.h"

namespace {

class ConvertTableTest : public quorlix_test::HtmlTest {
 protected:
  // A table's lines are the same in both modes; the check covers both.
  std::string Table(const std::string& table) {
    const std::string strTables = RenderTablesOnly(table);
    EXPECT_EQ(Render(table), strTables);
    return strTables;
  }
};

TEST_F(ConvertTableTest, RowsBecomeCommaSeparatedLines) {
  EXPECT_EQ(Table("<TABLE><TR><TD>a</TD><TD>b</TD></TR><TR><TD>1,000</TD><TD>d</TD></TR></TABLE>"),
            "a,b\r\n\"1,000\",d\r\n\r\n");
  EXPECT_EQ(Table("<TABLE><TR><TD>1,0</TD><TD>x</TD><TD>2,5</TD></TR></TABLE>"), "\"1,0\",x,\"2,5\"\r\n\r\n");
  EXPECT_EQ(Table("<TABLE><TR><TD>a,b,c</TD></TR></TABLE>"), "\"a,b,c\"\r\n\r\n");  // quoted once
  EXPECT_EQ(Table("<TABLE><TR><TD>say \"hi\"</TD></TR></TABLE>"), "say \"hi\"\r\n\r\n");  // not escaped
}

TEST_F(ConvertTableTest, HowARowEndsDecidesItsLastByte) {
  EXPECT_EQ(Table("<TABLE><TR><TD>a</TD><TD>b</TD></TABLE>"), "a,b,\r\n\r\n");  // the table end keeps the comma
  EXPECT_EQ(Table("<TABLE><TR><TD>a</TR></TABLE>"), "\r\n\r\n");               // no cell end: 'a' becomes CR
  EXPECT_EQ(Table("<TABLE><TR><TD>1,000</TR></TABLE>"), "\"1,00\r\n\r\n");
  EXPECT_EQ(Table("<TABLE><TR><TD>a</TD> </TR></TABLE>"), "a,\r\n\r\n");       // the blank becomes CR
  EXPECT_EQ(Table("<TABLE><TR></TR><TR><TD>a</TD></TR></TABLE>"), "\r\n" "a\r\n\r\n");  // an empty row
}

TEST_F(ConvertTableTest, LineBreakTagSplitsACell) {
  EXPECT_EQ(Table("<TABLE><TR><TD>a<BR>b</TD><TD>c</TD></TR></TABLE>"), "a\r\nb,c\r\n\r\n");
}

TEST_F(ConvertTableTest, HeaderTagsStartRowsAndMarkCells) {
  EXPECT_EQ(Table("<TABLE><TH>x</TH><TH>y</TH></TR><TR><TD>1</TD></TR></TABLE>"), "x,y\r\n1\r\n\r\n");
  EXPECT_EQ(Table("<TABLE><THEAD><TR><TH>h,i</TH></TR></THEAD></TABLE>"), "\"h,i\"\r\n\r\n");
}

TEST_F(ConvertTableTest, QuotedCellIsReadAgainWithoutItsTagsAndLineBreaks) {
  EXPECT_EQ(Table("<TABLE><TR><TD><B>x,y</B></TD><TD>\r\nz,\r\n</TD></TR></TABLE>"), "\"x,y\",\"z,\"\r\n\r\n");
}

TEST_F(ConvertTableTest, CommaBetweenCellsIsPlainText) {
  EXPECT_EQ(Table("<TABLE><TR><TD>a</TD>,<TD>b</TD></TR></TABLE>"), "a,,b\r\n\r\n");
  EXPECT_EQ(Table("<TABLE><TR><TD>1,2</TD> , <TD>b</TD></TR></TABLE>"), "\"1,2\", , b\r\n\r\n");
}

TEST_F(ConvertTableTest, TextOutsideRowsGoesStraightOut) {
  EXPECT_EQ(Table("<TABLE>\r\n  <CAPTION>Cap</CAPTION>\n<TR><TD>a</TD></TR>\r\n</TABLE>"), "  Capa\r\n\r\n");
  EXPECT_EQ(Table("<TABLE><tr><td>a</td><td>b</td></tr></TABLE>"), "ab\r\n");  // lower case: plain text
}

TEST_F(ConvertTableTest, DigitReferencesVanishInsideTables) {
  EXPECT_EQ(Table("<TABLE>&1;<TR><TD>a&#38;&38;b&amp;</TD></TR></TABLE>"), "a&#38;b&amp;\r\n\r\n");
}

TEST_F(ConvertTableTest, LongCellsComeOutWholeWhileTheRowGrows) {
  const std::string a255(255, 'a');
  EXPECT_EQ(Table("<TABLE><TR><TD>" + std::string(300, 'x') + "</TD></TR></TABLE>"), std::string(300, 'x') + "\r\n\r\n");
  // The 256th byte to be stored follows a dropped TAB, then a tag.
  EXPECT_EQ(Table("<TABLE><TR><TD>" + a255 + "\tb</TD></TR></TABLE>"), a255 + "b\r\n\r\n");
  EXPECT_EQ(Table("<TABLE><TR><TD>" + a255.substr(1) + "</TD><TD>b</TD></TR></TABLE>"),
            a255.substr(1) + ",b\r\n\r\n");
  // A comma after the growth sends the row back below it.
  EXPECT_EQ(Table("<TABLE><TR><TD>" + a255 + a255 + ",</TD></TR></TABLE>"), "\"" + a255 + a255 + ",\"\r\n\r\n");
}

TEST_F(ConvertTableTest, NestedTableEndEndsTheOuterTable) {
  EXPECT_EQ(Render("<TABLE><TR><TD>a<TABLE><TD>b</TD></TABLE>c</TD></TR></TABLE>d"), "ab,\r\n\r\ncd");
  EXPECT_EQ(RenderTablesOnly("<TABLE><TR><TD>a<TABLE><TD>b</TD></TABLE>c</TD></TR></TABLE>d"), "ab,\r\n\r\n");
}

TEST_F(ConvertTableTest, WhatIsLeftOpenAtTheBodyEndFails) {
  for (const int nTablesOnly : {0, 1}) {
    EXPECT_EQ(FailingStatus("<TABLE><TR><TD>a</TD></TR>", nTablesOnly), QUORLIX_HTML_TABLE_FAILED);
    EXPECT_EQ(FailingStatus("<TABLE>&1 x", nTablesOnly), QUORLIX_HTML_TABLE_FAILED);
    EXPECT_EQ(FailingStatus("<TABLE><TR><TD>a", nTablesOnly), QUORLIX_HTML_ROW_FAILED);
    EXPECT_EQ(FailingStatus("<TABLE><TR><TD>a&1 x</TD></TR></TABLE>", nTablesOnly), QUORLIX_HTML_ROW_FAILED);
    EXPECT_EQ(FailingStatus("<TABLE>", nTablesOnly), QUORLIX_HTML_TABLE_FAILED);
  }
}

}  // namespace
