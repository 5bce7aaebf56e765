// The C interface as a host uses it: the shared library loaded by name.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <string>

#include "quorlix.h"
#include "test_support.h"

namespace {

class SharedLibraryTest : public quorlix_test::TempDirTest {
 protected:
  void SetUp() override {
    TempDirTest::SetUp();
    m_hLib = ::dlopen(QUORLIX_SHARED_LIBRARY, RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(m_hLib, nullptr) << ::dlerror();
  }
  void TearDown() override {
    if (m_hLib) ::dlclose(m_hLib);
    TempDirTest::TearDown();
  }
  template <typename Fn>
  Fn* Resolve(const char* pszName) {
    return reinterpret_cast<Fn*>(::dlsym(m_hLib, pszName));
  }
  void* m_hLib = nullptr;
};

TEST_F(SharedLibraryTest, VersionIs103OnEveryCall) {
  auto* pfnVersion = Resolve<int()>("CvtDLLVersion");
  ASSERT_NE(pfnVersion, nullptr);
  EXPECT_EQ(pfnVersion(), 103);
  EXPECT_EQ(pfnVersion(), QUORLIX_DLL_VERSION);
}

TEST_F(SharedLibraryTest, ConvertsLineEndsEndToEnd) {
  auto* pfnCrlf = Resolve<int(const char*, const char*, int)>("CvtCRLF");
  ASSERT_NE(pfnCrlf, nullptr);
  const std::string strIn = WriteFile("in.txt", "a\tb\n\nc");
  EXPECT_EQ(pfnCrlf(strIn.c_str(), PathOf("out.txt").c_str(), 1), QUORLIX_OK);
  EXPECT_EQ(quorlix_test::ReadFile(PathOf("out.txt")), "ab\r\nc");
  EXPECT_EQ(pfnCrlf(PathOf("absent.txt").c_str(), PathOf("out2.txt").c_str(), 0), QUORLIX_CRLF_INPUT_NOT_FOUND);
}

TEST_F(SharedLibraryTest, VerifiesEndToEnd) {
  auto* pfnVerify = Resolve<int(const char*)>("CvtVerifyFile");
  ASSERT_NE(pfnVerify, nullptr);
  EXPECT_EQ(pfnVerify(WriteFile("a.gif", "GIF89a").c_str()), QUORLIX_OK);
  EXPECT_EQ(pfnVerify(WriteFile("a.txt", "no pair\n").c_str()), QUORLIX_VERIFY_MISMATCH);
  EXPECT_EQ(pfnVerify(nullptr), QUORLIX_VERIFY_UNKNOWN_SUFFIX);
}

TEST_F(SharedLibraryTest, DecodesFilingEndToEnd) {
  auto* pfnDecode = Resolve<int(const char*, const char*, const char*)>("CvtDecodeFiling");
  ASSERT_NE(pfnDecode, nullptr);
  const std::string strFiling =
      WriteFile("filing.txt", "<TYPE>EX-27\n<ARTICLE> 5\n<CASH> 1,234\n<EPS-DILUTED> .5\nend");
  EXPECT_EQ(pfnDecode(strFiling.c_str(), PathOf("text.txt").c_str(), PathOf("schedule.txt").c_str()), QUORLIX_OK);
  const std::string strSchedule =
      "Article                              5\r\nCash                             1,234\r\n"
      "EPS Diluted                         .5\r\n";
  EXPECT_EQ(quorlix_test::ReadFile(PathOf("schedule.txt")), strSchedule);
  EXPECT_EQ(quorlix_test::ReadFile(PathOf("text.txt")), strSchedule + "end");
  EXPECT_EQ(pfnDecode(strFiling.c_str(), strFiling.c_str(), PathOf("s2.txt").c_str()), QUORLIX_FILING_FILE_ERROR);
}

TEST_F(SharedLibraryTest, ConvertsHtmlEndToEnd) {
  auto* pfnHtml = Resolve<int(const char*, const char*, int)>("CvtHTMLtoText");
  ASSERT_NE(pfnHtml, nullptr);
  const std::string strPage = WriteFile("page.htm", "<BODY>Hi<TABLE><TR><TD>a</TD><TD>b</TD></TR></TABLE></BODY>");
  EXPECT_EQ(pfnHtml(strPage.c_str(), PathOf("tables.txt").c_str(), 1), QUORLIX_OK);
  EXPECT_EQ(quorlix_test::ReadFile(PathOf("tables.txt")), "a,b\r\n\r\n");
  EXPECT_EQ(pfnHtml(strPage.c_str(), PathOf("out.doc").c_str(), 0), QUORLIX_HTML_OUTPUT_NAME_WRONG);
}

TEST_F(SharedLibraryTest, ConvertsDelimitedEndToEnd) {
  auto* pfnDelimited =
      Resolve<int(const char*, const char*, const char*, const char*, const char*, const char*)>("CvtDelimitedFile");
  ASSERT_NE(pfnDelimited, nullptr);
  const std::string strIn = WriteFile("in.csv", "a,b\r\nc,d\r\n");
  EXPECT_EQ(pfnDelimited(strIn.c_str(), "\r\n", ",", PathOf("out.txt").c_str(), "\t", "\n"), QUORLIX_OK);
  EXPECT_EQ(quorlix_test::ReadFile(PathOf("out.txt")), "a\tb\nc\td\n");
  EXPECT_EQ(pfnDelimited(strIn.c_str(), nullptr, ",", PathOf("out.txt").c_str(), "\t", "\n"),
            QUORLIX_DELIMITED_NO_IN_RECORD);
}

TEST_F(SharedLibraryTest, InternalsAreHidden) {
  EXPECT_EQ(::dlsym(m_hLib, "_ZN7CAMFile9LoadInputEv"), nullptr);
  EXPECT_EQ(::dlsym(m_hLib, "_ZN7CAMFile15ConvertLineEndsEv"), nullptr);
}

}  // namespace
