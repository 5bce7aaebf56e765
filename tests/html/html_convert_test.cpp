#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>

#include "document/am_file.h"
#include "html/html_test_support.h"
#include "quorlix.h"

namespace {

using quorlix_test::FileExists;
using quorlix_test::ReadFile;

// ---- Name check ----

TEST(CheckHtmlNames, GivesAllFourResultsByExactSuffix) {
  struct Case {
    const char* pszIn;
    const char* pszOut;
    int nExpected;
  };
  const Case cases[] = {
      {"a.htm", "a.txt", CAMFile::kHtmlNamesRight},         {"a.html", "a.wri", CAMFile::kHtmlNamesRight},
      {".htm", ".txt", CAMFile::kHtmlNamesRight},  // the suffix alone is a name
      {"a.HTM", "a.txt", QUORLIX_HTML_INPUT_NAME_WRONG},    {"a.htmx", "a.txt", QUORLIX_HTML_INPUT_NAME_WRONG},
      {"htm", "a.txt", QUORLIX_HTML_INPUT_NAME_WRONG},      {"a.htm", "a.TXT", QUORLIX_HTML_OUTPUT_NAME_WRONG},
      {"a.html", "a.text", QUORLIX_HTML_OUTPUT_NAME_WRONG}, {"a.htm", "", QUORLIX_HTML_OUTPUT_NAME_WRONG},
      {"a.doc", "a.doc", QUORLIX_HTML_BOTH_NAMES_WRONG},    {"", "", QUORLIX_HTML_BOTH_NAMES_WRONG},
  };
  for (const auto& c : cases) {
    CAMFile doc(c.pszIn, c.pszOut, 0);
    EXPECT_EQ(doc.CheckHtmlNames(c.pszIn, c.pszOut), c.nExpected) << c.pszIn << " " << c.pszOut;
    EXPECT_EQ(doc.m_nStatus, c.nExpected);
  }
}

class HtmlConvertTest : public quorlix_test::HtmlTest {};

TEST_F(HtmlConvertTest, NamesAreCheckedBeforeTheInputIsOpened) {
  const std::string strMissing = PathOf("absent.htm");
  EXPECT_EQ(CvtHTMLtoText(strMissing.c_str(), PathOf("out.doc").c_str(), 0), QUORLIX_HTML_OUTPUT_NAME_WRONG);
  EXPECT_EQ(CvtHTMLtoText(strMissing.c_str(), PathOf("out.txt").c_str(), 0), QUORLIX_HTML_INPUT_NOT_FOUND);
  EXPECT_FALSE(FileExists(PathOf("out.txt")));
}

TEST_F(HtmlConvertTest, BadPathsGiveTheirSidesFileErrorAndNullNamesAreBothWrong) {
  const std::string strIn = WriteFile("page.htm", "<BODY>x</BODY>");
  EXPECT_EQ(CvtHTMLtoText(strIn.c_str(), PathOf("no-folder/out.txt").c_str(), 0), QUORLIX_HTML_OUTPUT_ERROR);
  std::filesystem::create_directory(PathOf("folder.htm"));
  EXPECT_EQ(CvtHTMLtoText(PathOf("folder.htm").c_str(), PathOf("out.txt").c_str(), 0), QUORLIX_HTML_INPUT_ERROR);
  EXPECT_EQ(CvtHTMLtoText(nullptr, nullptr, 0), QUORLIX_HTML_BOTH_NAMES_WRONG);
}

// The link's own folder exists, so creating the file it names fails as not found.
TEST_F(HtmlConvertTest, OutputLinkIntoAMissingFolderGivesOutputNotFound) {
  const std::string in = WriteFile("page.htm", "<BODY>x</BODY>");
  std::filesystem::create_symlink(PathOf("no-folder/out.txt"), PathOf("link.txt"));
  EXPECT_EQ(CvtHTMLtoText(in.c_str(), PathOf("link.txt").c_str(), 0), QUORLIX_HTML_OUTPUT_NOT_FOUND);
  EXPECT_FALSE(FileExists(PathOf("no-folder")));
}

// ---- Body search ----

TEST_F(HtmlConvertTest, TheLastBodyTagsBound) {
  EXPECT_EQ(Render("a<BODY>b"), "b");    // two start tags: the later counts
  EXPECT_EQ(Render("a</BODY>b"), "ab");  // two end tags: the earlier is just a tag
  EXPECT_EQ(ConvertPage("<HTML><BODY BGCOLOR=white>x</BODY LANG=en></HTML>").strOut, "x");
  EXPECT_EQ(ConvertPage("<BODYX>x</BODYX>").strOut, "x");  // any tag text beginning "<BODY"
  EXPECT_EQ(Render("x<P <BODY>y"), "xy");                  // inside another tag: part of its text
  EXPECT_EQ(Render("x<P > <BODY>y"), "y");                 // after that tag's '>': a tag of its own
  EXPECT_EQ(Render("x<P <</BODY>y"), "xy");                // the end tag likewise
}

TEST_F(HtmlConvertTest, BodyStartThenBodyEndGivesAnEmptyFile) {
  const auto result = ConvertPage("<HTML><BODY></BODY></HTML>");
  EXPECT_EQ(result.nStatus, QUORLIX_OK);
  EXPECT_TRUE(result.bWritten);
  EXPECT_EQ(result.strOut, "");
}

TEST_F(HtmlConvertTest, NoBodyIsThirteenAndLeavesTheOutputAlone) {
  const char* const pages[] = {
      "",                                 // empty input
      "<HTML>text</BODY>",                // no start tag
      "<BODY>text",                       // no end tag
      "<body>text</body>",                // lower-case tags are not recognised
      "<BODY>text</BODY> <!-- broken <",  // a '<' without '>' after a complete body
  };
  const std::string strOut = WriteFile("old.txt", "old contents");
  for (const char* pszPage : pages) {
    const std::string strIn = WriteFile("page.htm", pszPage);
    EXPECT_EQ(CvtHTMLtoText(strIn.c_str(), strOut.c_str(), 0), QUORLIX_HTML_NO_BODY) << pszPage;
    EXPECT_EQ(ReadFile(strOut), "old contents");
  }
}

TEST_F(HtmlConvertTest, BodyEndBeforeBodyStartIsRefused) {
  const auto result = ConvertPage("<HTML></BODY>text<BODY></HTML>");
  EXPECT_EQ(result.nStatus, QUORLIX_HTML_BODY_FAILED);
  EXPECT_FALSE(result.bWritten);
}

// ---- Real pages ----

class HtmlPageTest : public quorlix_test::HtmlTest {
 protected:
  Result ConvertDataPage(const std::string& strName, int nTablesOnly) {
    return ConvertPage(ReadFile((quorlix_test::DataDir() / "html" / strName).string()), nTablesOnly);
  }
};

// True when every byte of part appears in whole, in order.
bool IsSubsequence(const std::string& part, const std::string& whole) {
  auto it = whole.begin();
  for (const char c : part) {
    it = std::find(it, whole.end(), c);
    if (it == whole.end()) return false;
    ++it;
  }
  return true;
}

bool HasOnlyTextBytesAndCrLfPairs(const std::string& out) {
  for (std::size_t i = 0; i < out.size(); ++i) {
    const auto b = static_cast<unsigned char>(out[i]);
    if (b == '\r' && (i + 1 == out.size() || out[i + 1] != '\n')) return false;
    if (b != '\r' && b != '\n' && (b < 0x20 || b > 0x7E)) return false;
  }
  return true;
}

TEST_F(HtmlPageTest, EachPageGivesThePredictedStatusAndItsTablesAsLines) {
  struct Page {
    const char* pszName;
    int nStatus;
    int nMinTableLines;  // lines holding a comma in the tables-only output
  };
  const Page pages[] = {
      {"edgar_10k_1999.htm", 0, 200},
      {"edgar_8k_2016.htm", 0, 10},
      {"edgar_ex12_2012_ratio_table.htm", 0, 15},
      {"edgar_ex21_2012_subsidiaries.htm", 0, 4},
      {"libtiff_contrib.htm", 0, 5},
      {"libtiff_internals.htm", 0, 30},
      {"libtiff_v370_notes_no_table.htm", 0, 0},
      {"libtiff34_support_no_body_tag.htm", QUORLIX_HTML_NO_BODY, 0},
  };
  for (const auto& page : pages) {
    SCOPED_TRACE(page.pszName);
    const Result full = ConvertDataPage(page.pszName, 0);
    const Result tables = ConvertDataPage(page.pszName, 1);
    EXPECT_EQ(full.nStatus, page.nStatus);
    EXPECT_EQ(tables.nStatus, page.nStatus);
    if (page.nStatus != QUORLIX_OK) continue;
    EXPECT_TRUE(HasOnlyTextBytesAndCrLfPairs(full.strOut));
    EXPECT_TRUE(HasOnlyTextBytesAndCrLfPairs(tables.strOut));
    EXPECT_TRUE(IsSubsequence(tables.strOut, full.strOut));
    int nTableLines = 0;
    for (std::size_t nStart = 0; nStart < tables.strOut.size();) {
      const std::size_t nEnd = std::min(tables.strOut.find("\r\n", nStart), tables.strOut.size());
      if (tables.strOut.substr(nStart, nEnd - nStart).find(',') != std::string::npos) ++nTableLines;
      nStart = nEnd + 2;
    }
    EXPECT_GE(nTableLines, page.nMinTableLines);
    if (page.nMinTableLines == 0) {
      EXPECT_EQ(tables.strOut, "");
    }
  }
}

TEST_F(HtmlPageTest, SubsidiariesTableMatchesTheHandCheckedLines) {
  const Result tables = ConvertDataPage("edgar_ex21_2012_subsidiaries.htm", 1);
  ASSERT_EQ(tables.nStatus, QUORLIX_OK);
  EXPECT_EQ(tables.strOut,
            ReadFile((quorlix_test::DataDir() / "html" / "edgar_ex21_2012_subsidiaries.expected.txt").string()));
  EXPECT_NE(tables.strOut.find(" Google Ireland Holdings,&nbsp;,,&nbsp;&nbsp;,Ireland\r\n"), std::string::npos);
}

}  // namespace
