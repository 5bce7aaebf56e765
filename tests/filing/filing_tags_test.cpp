#include <gtest/gtest.h>

#include <string>

#include "document/am_file.h"
#include "filing/filing_stream.h"

namespace {

std::string Blanks(std::size_t n) { return std::string(n, ' '); }

class ScheduleRowTest : public ::testing::Test {
 protected:
  std::string Row(const std::string& strLabel, const std::string& strValue) {
    return m_doc.FormatScheduleRow(strLabel, strValue);
  }
  CAMFile m_doc;
};

TEST_F(ScheduleRowTest, PlainValueEndsInColumn38WithItsLineEnd) {
  const std::string strRow = Row("Cash", "1,234\r\n");
  EXPECT_EQ(strRow, "Cash" + Blanks(16) + Blanks(13) + "1,234\r\n");
  EXPECT_EQ(strRow.size(), 40u);
}

TEST_F(ScheduleRowTest, ValueInParenthesesGetsOneMoreColumnAndKeepsItsDigitsAligned) {
  const std::string strPlain = Row("Cash", "1,234\r\n");
  const std::string strNegative = Row("Cash", "(1,234)\r\n");
  EXPECT_EQ(strNegative, "Cash" + Blanks(16) + Blanks(12) + "(1,234)\r\n");
  EXPECT_EQ(strNegative.size(), 41u);
  EXPECT_EQ(strNegative.find_last_of("0123456789"), strPlain.find_last_of("0123456789"));
}

TEST_F(ScheduleRowTest, TooLongValuesLoseTheirLeadingCharacters) {
  EXPECT_EQ(Row("Cash", "123456789012345678\r\n"), "Cash" + Blanks(16) + "123456789012345678\r\n");  // 18 fit
  EXPECT_EQ(Row("Cash", "1234567890123456789\r\n"), "Cash" + Blanks(16) + "234567890123456789\r\n");
  EXPECT_EQ(Row("Cash", "(12345678901234567)\r\n"), "Cash" + Blanks(16) + "(12345678901234567)\r\n");  // 19 fit
  EXPECT_EQ(Row("Cash", "(123456789012345678)\r\n"), "Cash" + Blanks(16) + "123456789012345678)\r\n");
}

TEST_F(ScheduleRowTest, EmptyValueGivesBlankColumnsWithoutLineEnd) {
  EXPECT_EQ(Row("Cash", ""), "Cash" + Blanks(16) + Blanks(20));
}

TEST_F(ScheduleRowTest, TrailingBlanksStayInTheValueAndLeadingOnesGo) {
  EXPECT_EQ(Row("Cash", "1,234  \r\n"), "Cash" + Blanks(16) + Blanks(11) + "1,234  \r\n");  // pushed left
  EXPECT_EQ(Row("Cash", "   5\r\n"), Row("Cash", "5\r\n"));                                 // leading ones go
}

TEST_F(ScheduleRowTest, LabelColumnIsCutAfterTwentyCharacters) {
  EXPECT_EQ(Row("Total Liability & Equity", "7,586\r\n"), "Total Liability & Eq" + Blanks(13) + "7,586\r\n");
}

// ---- Classification ----

class ClassifyTest : public ::testing::Test {
 protected:
  // Classifies the tag with the given remainder; returns what becomes of the remainder.
  std::string Classify(const std::string& strTag, const std::string& strRest = "rest\r\n") {
    return std::string(m_doc.ClassifyFilingTag(strTag, strRest, m_strRow, m_flags));
  }
  CAMFile m_doc;
  CString m_strRow;
  FilingCopyFlags m_flags;
};

TEST_F(ClassifyTest, FrameAndMarkupTagsDropTheLineAndLeaveCopyingAlone) {
  m_flags.bCapture = true;
  for (const char* pszTag : {"<SEC-DOCUMENT>",
                             "</SEC-DOCUMENT>",
                             "<IMS-DOCUMENT>",
                             "</IMS-DOCUMENT>",
                             "<IMS-HEADER>",
                             "</IMS-HEADER>",
                             "</DOCUMENT>",
                             "<TYPE>",
                             "<SEQUENCE>",
                             "<DESCRIPTION>",
                             "<TEXT>",
                             "</TEXT>",
                             "<PAGE>",
                             "<TABLE>",
                             "</TABLE>",
                             "<CAPTION>",
                             "<S>",
                             "<C>",
                             "<F1>",
                             "<F2>",
                             "<F3>",
                             "<F4>"}) {
    EXPECT_EQ(Classify(pszTag), "<NUL>") << pszTag;
  }
  EXPECT_TRUE(m_flags.bCapture);
  EXPECT_FALSE(m_flags.bEmitTag);
}

TEST_F(ClassifyTest, HeaderAndDocumentTagsKeepTheRemainder) {
  for (const char* pszTag : {"<SEC-HEADER>", "</SEC-HEADER>", "<DOCUMENT>"}) EXPECT_EQ(Classify(pszTag), "rest\r\n");
  EXPECT_FALSE(m_flags.bEmitTag);
}

TEST_F(ClassifyTest, UnknownTagsAreWrittenBack) {
  for (const char* pszTag : {"<FILER>", "<EPS-BASIC>", "<PAGE >", "<page>", "SOME PROSE >"}) {
    m_flags.bEmitTag = false;
    EXPECT_EQ(Classify(pszTag), "rest\r\n") << pszTag;
    EXPECT_TRUE(m_flags.bEmitTag) << pszTag;
  }
}

TEST_F(ClassifyTest, ScheduleTagsBecomeRowsUnderTheirLabels) {
  EXPECT_EQ(Classify("<CURRENT-ASSETS>", "4,909\r\n"), "Currents Assets" + Blanks(5) + Blanks(13) + "4,909\r\n");
  EXPECT_EQ(Classify("<PP&E>", "725\r\n"), "PP&E" + Blanks(16) + Blanks(15) + "725\r\n");
  EXPECT_EQ(Classify("<OTHER-SE>", "1\r\n").substr(0, 20), "Other SE" + Blanks(12));
  EXPECT_EQ(Classify("<EPS-PRIMARY>", "1\r\n").substr(0, 20), "EPS Primary" + Blanks(9));
  EXPECT_FALSE(m_flags.bCapture);  // only the first and last tags touch the flags
  EXPECT_FALSE(m_flags.bEmitTag);
}

TEST_F(ClassifyTest, ArticleStartsCopyingAfresh) {
  m_flags.bScheduleEnded = true;
  EXPECT_EQ(Classify("<ARTICLE>", "5\r\n"), "Article" + Blanks(13) + Blanks(17) + "5\r\n");
  EXPECT_TRUE(m_flags.bCapture);
  EXPECT_FALSE(m_flags.bScheduleEnded);
  Classify("<EPS-DILUTED>", "1.03\r\n");
  EXPECT_TRUE(m_flags.bScheduleEnded);
  EXPECT_TRUE(m_flags.bCapture);  // the line end stops copying, after the row
}

TEST_F(ClassifyTest, LegendTagsDropTheirLinesAndSuspendCopying) {
  EXPECT_EQ(Classify("<LEGEND>"), "<NUL>");
  EXPECT_TRUE(m_flags.bInLegend);
  EXPECT_EQ(Classify("</LEGEND>"), "<NUL>");
  EXPECT_FALSE(m_flags.bInLegend);
}

}  // namespace
