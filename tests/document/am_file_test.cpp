#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "document/am_file.h"
#include "scan/byte_filter.h"
#include "test_support.h"

namespace {

using quorlix_test::FileExists;
using quorlix_test::ReadFile;
using quorlix_test::StatusWithDescriptorsLeft;

class LoadInputTest : public quorlix_test::TempDirTest {
 protected:
  int Load(const std::string& strPath) {
    m_doc = std::make_unique<CAMFile>(strPath, PathOf("out.txt"));
    return m_doc->LoadInput();
  }
  std::unique_ptr<CAMFile> m_doc;
};

TEST_F(LoadInputTest, ReadsTheWholeFile) {
  std::string bytes(10000, 'a');
  bytes[9999] = '\xFF';
  ASSERT_EQ(Load(WriteFile("in.txt", bytes)), 0);
  EXPECT_EQ(m_doc->m_nStatus, 0);
  ASSERT_EQ(m_doc->m_nInLen, 10000u);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(m_doc->m_pInBuf.get()), 10000), bytes);
}

TEST_F(LoadInputTest, EmptyFileLoadsWithLengthZero) {
  EXPECT_EQ(Load(WriteFile("in.txt", "")), 0);
  EXPECT_EQ(m_doc->m_nInLen, 0u);
}

TEST_F(LoadInputTest, FileThatMeasuresZeroIsReadToItsEnd) {
  ASSERT_EQ(Load("/proc/self/status"), 0);
  const std::string strText(reinterpret_cast<const char*>(m_doc->m_pInBuf.get()), m_doc->m_nInLen);
  EXPECT_TRUE(strText.starts_with("Name:")) << strText;
  EXPECT_TRUE(strText.ends_with("\n")) << strText;
}

TEST_F(LoadInputTest, FileLongerThanTheCallerTakesGivesItsStatusUnread) {
  m_doc = std::make_unique<CAMFile>(WriteFile("in.txt", "abcd"), PathOf("out.txt"));
  EXPECT_EQ(m_doc->LoadInput(3, 42), 42);
  EXPECT_EQ(m_doc->m_pInBuf, nullptr);
  EXPECT_EQ(m_doc->m_nInLen, 0u);
  EXPECT_EQ(m_doc->LoadInput(4, 42), 0);
}

// A file that measures 0 is held to the caller's limit once its length is known.
TEST_F(LoadInputTest, FileThatMeasuresZeroLongerThanTheCallerTakesGivesItsStatus) {
  m_doc = std::make_unique<CAMFile>("/proc/self/status", PathOf("out.txt"));
  EXPECT_EQ(m_doc->LoadInput(3, 42), 42);
  EXPECT_EQ(m_doc->m_nStatus, 42);
  EXPECT_EQ(m_doc->m_pInBuf, nullptr);
  EXPECT_EQ(m_doc->m_nInLen, 0u);
}

TEST_F(LoadInputTest, MissingFileIsNotFound) {
  EXPECT_EQ(Load(PathOf("absent.txt")), kStatusInputNotFound);
  EXPECT_EQ(m_doc->m_nStatus, kStatusInputNotFound);
  EXPECT_EQ(m_doc->m_nInLen, 0u);
}

TEST_F(LoadInputTest, FileInMissingFolderIsFileError) {
  EXPECT_EQ(Load(PathOf("missing-folder/in.txt")), kStatusInputError);
}

TEST_F(LoadInputTest, DirectoryAsInputIsFileError) { EXPECT_EQ(Load(m_dir.string()), kStatusInputError); }

TEST_F(LoadInputTest, EmptyPathIsFileError) { EXPECT_EQ(Load(""), kStatusInputError); }

// A sparse file costs no disk; its length no longer fits the 32-bit buffer length.
TEST_F(LoadInputTest, FileOf4GiBIsRefusedNotTruncated) {
  const std::string strPath = PathOf("huge.txt");
  WriteFile("huge.txt", "");
  std::filesystem::resize_file(strPath, std::uint64_t{1} << 32);
  EXPECT_EQ(Load(strPath), kStatusInputError);
  EXPECT_EQ(m_doc->m_pInBuf, nullptr);
}

TEST_F(LoadInputTest, TooManyOpenFilesGivesTooManyFiles) {
  const std::string path = WriteFile("in.txt", "text");
  const auto warmUp = [&] {
    Load(PathOf("absent.txt"));
    Load(path);
  };
  EXPECT_EQ(StatusWithDescriptorsLeft(0, warmUp, [&] { return Load(path); }), kStatusTooManyFiles);
}

class SaveOutputTest : public quorlix_test::TempDirTest {
 protected:
  int Save(const std::string& strPath, std::string_view bytes) {
    m_doc = std::make_unique<CAMFile>(PathOf("in.txt"), strPath);
    m_doc->m_nOutLen = static_cast<std::uint32_t>(bytes.size());
    m_doc->m_pOutBuf = std::make_unique<unsigned char[]>(bytes.size());
    std::copy(bytes.begin(), bytes.end(), m_doc->m_pOutBuf.get());
    return m_doc->SaveOutput();
  }
  std::unique_ptr<CAMFile> m_doc;
};

TEST_F(SaveOutputTest, WritesExactlyTheBufferAndReleasesIt) {
  const std::string bytes(9000, 'z');
  ASSERT_EQ(Save(PathOf("out.txt"), bytes), 0);
  EXPECT_EQ(ReadFile(PathOf("out.txt")), bytes);
  EXPECT_EQ(m_doc->m_pOutBuf, nullptr);
}

TEST_F(SaveOutputTest, EmptyBufferStillCreatesTheFile) {
  ASSERT_EQ(Save(PathOf("out.txt"), ""), 0);
  EXPECT_TRUE(FileExists(PathOf("out.txt")));
  EXPECT_EQ(ReadFile(PathOf("out.txt")), "");
}

TEST_F(SaveOutputTest, ExistingFileIsTruncated) {
  WriteFile("out.txt", std::string(100, 'o'));
  ASSERT_EQ(Save(PathOf("out.txt"), "new"), 0);
  EXPECT_EQ(ReadFile(PathOf("out.txt")), "new");
}

TEST_F(SaveOutputTest, OutputInMissingFolderIsOtherError) {
  EXPECT_EQ(Save(PathOf("missing-folder/out.txt"), "x"), kStatusOutputError);
}

TEST_F(SaveOutputTest, DirectoryAsOutputIsOtherError) { EXPECT_EQ(Save(m_dir.string(), "x"), kStatusOutputError); }

TEST_F(SaveOutputTest, WriteFailureAtFlushIsOtherError) {
  EXPECT_EQ(Save("/dev/full", "x"), kStatusOutputError);  // the byte waits in the buffer until the close
}

TEST_F(SaveOutputTest, TooManyOpenFilesGivesTooManyFiles) {
  const auto warmUp = [&] {
    Save(PathOf("absent/out.txt"), "x");
    Save(PathOf("out.txt"), "x");
  };
  EXPECT_EQ(StatusWithDescriptorsLeft(0, warmUp, [&] { return Save(PathOf("out.txt"), "x"); }), kStatusTooManyFiles);
}

TEST(CAMFileClass, RuntimeClassCreatesDocumentsByName) {
  const CRuntimeClass* pClass = CRuntimeClass::FromName("CAMFile");
  ASSERT_NE(pClass, nullptr);
  EXPECT_EQ(pClass, &CAMFile::classCAMFile);
  EXPECT_EQ(pClass->m_wSchema, 1u);
  EXPECT_TRUE(pClass->IsDerivedFrom(&CObject::classCObject));
  const auto pObject = pClass->CreateObject();
  ASSERT_NE(pObject, nullptr);
  EXPECT_EQ(pObject->GetRuntimeClass(), &CAMFile::classCAMFile);
}

TEST(CAMFileClass, HtmlConstructorSetsTheTagTexts) {
  const CAMFile doc("in.htm", "out.txt", 1);
  EXPECT_EQ(doc.m_bTablesOnly, 1);
  EXPECT_EQ(doc.m_strBodyTag, "<BODY>");
  EXPECT_EQ(doc.m_strBodyEndTag, "</BODY>");
  EXPECT_EQ(doc.m_strCellTag, "<TD>");
  EXPECT_EQ(doc.m_strCellEndTag, "</TD>");
  EXPECT_EQ(doc.m_strTableTag, "<TABLE>");
  EXPECT_EQ(doc.m_strRowEndTag, "</TR>");
  EXPECT_EQ(CAMFile("a.gif").m_strHtmlTag, "<HTML>");
}

TEST(ByteFilter, KeepsPrintableAsciiSpaceCrAndLfOnly) {
  static_assert(sizeof kByteKinds == 256);
  for (int b = 0; b < 256; ++b) {
    const bool bKept = (b >= 0x20 && b <= 0x7E) || b == '\r' || b == '\n';
    EXPECT_EQ(IsKeptByte(static_cast<unsigned char>(b)), bKept) << b;
  }
}

}  // namespace
