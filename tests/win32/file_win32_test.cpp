// The Win32 file layer as the conversions meet it: causes from the system's
// errors, files held without sharing, 64-bit lengths and offsets, and one file
// recognised under every spelling of its name.
#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <string>

#include "platform/file.h"
#include "platform/cause_of_opening.h"

namespace {

constexpr unsigned kCreate = CFile::modeCreate | CFile::modeReadWrite;

// Each test works in a fresh folder under the current one (the build folder).
class FileWin32Test : public ::testing::Test {
 protected:
  void SetUp() override {
    m_dir = std::filesystem::current_path() / "file_win32_test" /
            ::testing::UnitTest::GetInstance()->current_test_info()->name();
    std::filesystem::remove_all(m_dir);
    std::filesystem::create_directories(m_dir);
  }
  void TearDown() override { std::filesystem::remove_all(m_dir); }

  std::string PathOf(const char* pszName) const { return (m_dir / pszName).string(); }
  std::string WriteFile(const char* pszName, const std::string& bytes) const {
    std::ofstream(PathOf(pszName), std::ios::binary) << bytes;
    return PathOf(pszName);
  }

  std::filesystem::path m_dir;
};

TEST_F(FileWin32Test, MissingFileIsFileNotFound) {
  EXPECT_EQ(CauseOfOpening(PathOf("absent.txt"), CFile::modeRead), CFileException::fileNotFound);
}

TEST_F(FileWin32Test, MissingFolderOnThePathIsOther) {
  EXPECT_EQ(CauseOfOpening(PathOf("absent\\a.txt"), CFile::modeRead), CFileException::other);
  EXPECT_EQ(CauseOfOpening(PathOf("absent\\a.txt"), kCreate), CFileException::other);
}

TEST_F(FileWin32Test, FolderIsNotAFile) {
  EXPECT_EQ(CauseOfOpening(m_dir.string(), CFile::modeRead), CFileException::other);
  EXPECT_EQ(CauseOfOpening(m_dir.string(), kCreate), CFileException::other);
}

// What makes one call's open file unavailable to another until it is closed.
TEST_F(FileWin32Test, OpenFileIsNotShared) {
  const std::string strPath = WriteFile("held.txt", "held");
  {
    CFile held(strPath, CFile::modeRead);
    EXPECT_EQ(CauseOfOpening(strPath, CFile::modeRead), CFileException::other);
    EXPECT_EQ(CauseOfOpening(strPath, kCreate), CFileException::other);
  }
  CFile again(strPath, CFile::modeRead);
  EXPECT_EQ(again.GetLength(), 4u);
}

// Shared opens admit each other, as the C runtime's streams do, but not an
// exclusive one.
TEST_F(FileWin32Test, SharedOpensAdmitEachOther) {
  const std::string strPath = WriteFile("shared.txt", "shared");
  CFile reader(strPath, CFile::modeRead | CFile::shareDenyNone);
  CFile writer(strPath, CFile::modeReadWrite | CFile::shareDenyNone);
  EXPECT_EQ(writer.GetLength(), 6u);
  EXPECT_EQ(CauseOfOpening(strPath, CFile::modeRead), CFileException::other);
}

TEST_F(FileWin32Test, CreateTruncatesAnExistingFile) {
  const std::string strPath = WriteFile("old.txt", "old contents");
  CFile file(strPath, kCreate);
  EXPECT_EQ(file.GetLength(), 0u);
}

// A byte past 4 GiB: lengths and offsets must not be cut to 32 bits. The file
// is sparse, so it costs no disk space.
TEST_F(FileWin32Test, LengthAndOffsetsBeyondFourGiB) {
  constexpr std::uint64_t kOffset = (std::uint64_t{5} << 30) + 3;
  const std::string strPath = PathOf("large.bin");
  {
    CFile file(strPath, kCreate);
    file.SeekToOffset(kOffset);
    file.Write("x", 1);
    file.Close();
  }
  CFile file(strPath, CFile::modeRead);
  EXPECT_EQ(file.GetLength(), kOffset + 1);
  file.SeekToOffset(kOffset);
  char ch = 0;
  EXPECT_EQ(file.Read(&ch, 1), 1u);
  EXPECT_EQ(ch, 'x');
}

TEST_F(FileWin32Test, NameSameFileSeesThroughSpellings) {
  const std::string strPath = WriteFile("a.txt", "a");
  const std::string strOther = WriteFile("b.txt", "b");
  std::string strSlashes = strPath;
  std::replace(strSlashes.begin(), strSlashes.end(), '\\', '/');
  EXPECT_TRUE(NameSameFile(strPath, strSlashes));
  EXPECT_TRUE(NameSameFile(strPath, PathOf(".\\A.TXT")));
  EXPECT_FALSE(NameSameFile(strPath, strOther));
  EXPECT_FALSE(NameSameFile(strPath, PathOf("absent.txt")));
  // A file that a call holds open without sharing is still recognised.
  CFile held(strPath, CFile::modeRead);
  EXPECT_TRUE(NameSameFile(strSlashes, strPath));
}

}  // namespace
