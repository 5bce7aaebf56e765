#include <gtest/gtest.h>

#include <random>
#include <string>
#include <utility>
#include <vector>

#include "html/html_test_support.h"
#include "quorlix.h"
#include "reference/html_reference.h"
#include "scan/scan_level.h"

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
  EXPECT_EQ(Table("<TABLE><TR><TD>a,b,c</TD></TR></TABLE>"), "\"a,b,c\"\r\n\r\n");        // quoted once
  EXPECT_EQ(Table("<TABLE><TR><TD>say \"hi\"</TD></TR></TABLE>"), "say \"hi\"\r\n\r\n");  // not escaped
}

TEST_F(ConvertTableTest, HowARowEndsDecidesItsLastByte) {
  EXPECT_EQ(Table("<TABLE><TR><TD>a</TD><TD>b</TD></TABLE>"), "a,b,\r\n\r\n");  // the table end keeps the comma
  EXPECT_EQ(Table("<TABLE><TR><TD>a</TR></TABLE>"), "\r\n\r\n");                // no cell end: 'a' becomes CR
  EXPECT_EQ(Table("<TABLE><TR><TD>1,000</TR></TABLE>"), "\"1,00\r\n\r\n");
  EXPECT_EQ(Table("<TABLE><TR><TD>a</TD> </TR></TABLE>"), "a,\r\n\r\n");  // the blank becomes CR
  EXPECT_EQ(Table("<TABLE><TR></TR><TR><TD>a</TD></TR></TABLE>"),
            "\r\n"
            "a\r\n\r\n");  // an empty row
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
  EXPECT_EQ(Table("<TABLE><TR><TD>" + std::string(300, 'x') + "</TD></TR></TABLE>"),
            std::string(300, 'x') + "\r\n\r\n");
  // The 256th byte to be stored follows a dropped TAB, then a tag.
  EXPECT_EQ(Table("<TABLE><TR><TD>" + a255 + "\tb</TD></TR></TABLE>"), a255 + "b\r\n\r\n");
  EXPECT_EQ(Table("<TABLE><TR><TD>" + a255.substr(1) + "</TD><TD>b</TD></TR></TABLE>"), a255.substr(1) + ",b\r\n\r\n");
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

// The table readers go through the table in windows of 64 bytes (32 or 16 a
// compare), or row by row in words of eight bytes, or byte by byte at the body
// end; each case is shifted through every place of a window, in every scanner.
class TableAcrossWindowsTest : public ConvertTableTest {
 protected:
  struct Scanner {
    const char* pszName;
    ScanLevel level;
  };
  static constexpr Scanner kScanners[] = {
      {"avx2", ScanLevel::kAvx2}, {"ssse3", ScanLevel::kSsse3}, {"portable", ScanLevel::kPortable}};

  // The reference rendering first, then every level.
  void ExpectInEveryScanner(const std::string& table, const std::string& expected) {
    std::string strReference;
    EXPECT_EQ(quorlix_reference::ConvertHtmlByteByByte("<BODY>" + table + "</BODY>", false, strReference), QUORLIX_OK);
    EXPECT_EQ(strReference, expected) << "reference on " << testing::PrintToString(table);
    for (const Scanner& scanner : kScanners) {
      const ScopedScanLevel level(scanner.level);
      EXPECT_EQ(Render(table), expected) << scanner.pszName << " scanner on " << testing::PrintToString(table);
    }
  }
};

TEST_F(TableAcrossWindowsTest, StopsAndTagsAnywhereInAWindow) {
  for (std::size_t nPad = 0; nPad < 100; ++nPad) {
    const std::string pad(nPad, 'x');
    // A comma sends the cell back to its start; the digit reference and the bold
    // tags vanish, "&amp;" is text, and a line break splits the second cell.
    ExpectInEveryScanner(
        "<TABLE><TR><TD>" + pad + "<FONT SIZE=\"2\">a,b&1;c&amp;<B>d</B></FONT></TD><TD>e<BR>f</TD></TR></TABLE>",
        "\"" + pad + "a,bc&amp;d\",e\r\nf\r\n\r\n");
    // Tags longer than a window, a rule's tag inside another tag, a digit
    // reference that runs over tags, and a row that ends just before the body end.
    ExpectInEveryScanner("<TABLE><TR><TD " + std::string(100, 'y') + ">" + pad + "<FONT " + std::string(70, 'z') +
                             " <TD>>g&2<TD>h;i</TD></TR></TABLE>",
                         pad + "gi\r\n\r\n");
    ExpectInEveryScanner("<TABLE><TR><TD>" + pad + "&3;\t,\xe9</TD></TR></TABLE>", "\"" + pad + ",\"\r\n\r\n");
  }
}

TEST_F(TableAcrossWindowsTest, WhatReachesTheBodyEndFailsInEveryScanner) {
  for (std::size_t nPad = 0; nPad < 80; ++nPad) {
    const std::string pad(nPad, 'x');
    for (const std::string& body :
         {"<TABLE><TR><TD>" + pad + "<B>", "<TABLE><TR><TD>" + pad + "&4 x", "<TABLE><TR>" + pad + ","}) {
      for (const Scanner& scanner : kScanners) {
        const ScopedScanLevel level(scanner.level);
        EXPECT_EQ(FailingStatus(body), QUORLIX_HTML_ROW_FAILED) << scanner.pszName << " scanner on " << body;
      }
    }
  }
}

// Between rows the text goes out as it stands, its commas never quoted, a
// digit reference vanishes and cell tags do nothing; a header cell tag starts a
// row, and a table end inside a row ends the row and the table.
TEST_F(TableAcrossWindowsTest, BetweenRowsTheTableRulesHoldAnywhereInAWindow) {
  for (std::size_t nPad = 0; nPad < 100; ++nPad) {
    const std::string pad(nPad, 'x');
    ExpectInEveryScanner("<TABLE>" + pad + "a,b&5;<TD>c</TD>\r\n<TR><TD>1,2</TD></TR>" + pad + ",<TH>h</TH></TABLE>",
                         pad + "a,bc\"1,2\"\r\n" + pad + ",h,\r\n\r\n");
  }
}

// What reaches the body end between rows fails as the table, and what reaches
// it in a row as the row.
TEST_F(TableAcrossWindowsTest, WhereTheBodyEndIsReachedDecidesTheStatus) {
  const std::string rowEnded = "<TABLE><TR><TD>a</TD></TR>";
  for (std::size_t nPad = 0; nPad < 80; ++nPad) {
    const std::string pad(nPad, 'x');
    const std::pair<std::string, int> cases[] = {
        {"<TABLE>" + pad, QUORLIX_HTML_TABLE_FAILED},
        {rowEnded + pad + ",", QUORLIX_HTML_TABLE_FAILED},
        {rowEnded + pad + "&6 x", QUORLIX_HTML_TABLE_FAILED},
        {rowEnded + pad + "<TD>b</TD>", QUORLIX_HTML_TABLE_FAILED},
        {rowEnded + pad + "<TR>b,", QUORLIX_HTML_ROW_FAILED},
        {rowEnded + "<TH>" + pad + "&7 x", QUORLIX_HTML_ROW_FAILED},
    };
    for (const auto& [body, nStatus] : cases) {
      for (const Scanner& scanner : kScanners) {
        const ScopedScanLevel level(scanner.level);
        EXPECT_EQ(FailingStatus(body), nStatus) << scanner.pszName << " scanner on " << body;
      }
    }
  }
}

// Tables of the kind filers' software wrote: short amounts with thousands
// commas and parentheses, labels with bold tags and entities, a digit reference
// now and then, cells left open and rows cut off by the table end. Every level
// gives the reference rendering's status and text.
TEST_F(TableAcrossWindowsTest, EveryLevelRendersGeneratedTablesAsTheReferenceDoes) {
  std::minstd_rand rng(24);
  const char* const kCells[] = {
      "1,000", "(2,345)", "12", "Net sales", "<B>Total</B>", "&amp; other", "&#169;",
      "&12;x", "a,b,c",   "",   " ",         "x<BR>y",       "\t,",         "<FONT SIZE=2>3,4</FONT>"};
  const char* const kCellEnds[] = {"</TD>", "</TD>", "</TD>", "</TH>", ""};
  const char* const kRowEnds[] = {"</TR>\r\n", "</TR>", "\r\n", ""};
  for (int nTable = 0; nTable < 40; ++nTable) {
    std::string body = "<P>text &amp; more</P>\r\n<TABLE BORDER=1>\r\n";
    const int nRows = 1 + static_cast<int>(rng() % 12);
    for (int nRow = 0; nRow < nRows; ++nRow) {
      body += rng() % 8 == 0 ? "<TH>" : "<TR>";
      const int nCells = 2 + static_cast<int>(rng() % 7);
      for (int nCell = 0; nCell < nCells; ++nCell)
        body += std::string(rng() % 4 == 0 ? "<TD ALIGN=RIGHT>" : "<TD>") + kCells[rng() % std::size(kCells)] +
                kCellEnds[rng() % std::size(kCellEnds)];
      body += kRowEnds[rng() % std::size(kRowEnds)];
    }
    body += "</TABLE>\r\n";
    const std::string page = "<BODY>" + body + "</BODY>";
    for (const int nTablesOnly : {0, 1}) {
      std::string strReference;
      const int nReference = quorlix_reference::ConvertHtmlByteByByte(page, nTablesOnly == 1, strReference);
      for (const Scanner& scanner : kScanners) {
        const ScopedScanLevel level(scanner.level);
        const Result result = ConvertPage(page, nTablesOnly);
        EXPECT_EQ(result.nStatus, nReference) << scanner.pszName << " on " << testing::PrintToString(body);
        EXPECT_EQ(result.strOut, nReference == QUORLIX_OK ? strReference : std::string())
            << scanner.pszName << " on " << testing::PrintToString(body);
      }
    }
  }
}

}  // namespace
