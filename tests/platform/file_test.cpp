#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <filesystem>
#include <string>

#include "platform/archive.h"
#include "platform/cause_of_opening.h"
#include "platform/file.h"
#include "test_support.h"

namespace {

using quorlix_test::ReadFile;

class FileTest : public quorlix_test::TempDirTest {};

TEST_F(FileTest, MissingFileInExistingFolderIsFileNotFound) {
  EXPECT_EQ(CauseOfOpening(PathOf("absent.txt"), CFile::modeRead), CFileException::fileNotFound);
}

TEST_F(FileTest, MissingFolderOnThePathIsABadPath) {
  EXPECT_EQ(CauseOfOpening(PathOf("no-such-folder/a.txt"), CFile::modeRead), CFileException::other);
  EXPECT_EQ(CauseOfOpening(PathOf("no-such-folder/a.txt"), CFile::modeCreate | CFile::modeReadWrite),
            CFileException::other);
}

TEST_F(FileTest, FileUsedAsFolderIsABadPath) {
  const std::string strFile = WriteFile("plain.txt", "x");
  EXPECT_EQ(CauseOfOpening(strFile + "/a.txt", CFile::modeRead), CFileException::other);
}

TEST_F(FileTest, EmptyPathIsABadPath) {
  EXPECT_EQ(CauseOfOpening("", CFile::modeRead), CFileException::other);
  EXPECT_EQ(CauseOfOpening("", CFile::modeCreate | CFile::modeReadWrite), CFileException::other);
}

TEST_F(FileTest, DirectoryIsNotAFile) {
  EXPECT_EQ(CauseOfOpening(m_dir.string(), CFile::modeRead), CFileException::other);
  EXPECT_EQ(CauseOfOpening(m_dir.string(), CFile::modeCreate | CFile::modeReadWrite), CFileException::other);
}

TEST_F(FileTest, RefusedDirectoryLeavesNoDescriptorOpen) {
  const auto CountOpenDescriptors = [] {
    const std::filesystem::directory_iterator fds("/proc/self/fd");
    return std::distance(begin(fds), end(fds));
  };
  const auto nBefore = CountOpenDescriptors();
  for (int i = 0; i < 8; ++i) CauseOfOpening(m_dir.string(), CFile::modeRead);
  EXPECT_EQ(CountOpenDescriptors(), nBefore);
}

// Reading wants a regular file; writing takes devices and FIFOs, but never
// waits for a FIFO's reader.
TEST_F(FileTest, OnlyRegularFilesAreReadAndNoOpeningWaits) {
  ASSERT_EQ(::mkfifo(PathOf("fifo").c_str(), 0600), 0);
  for (const std::string& strPath : {std::string("/dev/zero"), std::string("/dev/null"), PathOf("fifo")})
    EXPECT_EQ(CauseOfOpening(strPath, CFile::modeRead), CFileException::other) << strPath;
  EXPECT_EQ(CauseOfOpening(PathOf("fifo"), CFile::modeCreate | CFile::modeWrite), CFileException::other);
  CFile fileNull("/dev/null", CFile::modeCreate | CFile::modeOutput);
  fileNull.Write("abc", 3);
  fileNull.Close();
}

TEST_F(FileTest, InPlaceOpeningReservesAndCutsWithoutLosingBytes) {
  const std::string strPath = WriteFile("digits.txt", "0123456789");
  CFile file(strPath, CFile::modeCreate | CFile::modeNoTruncate | CFile::modeReadWrite);
  EXPECT_EQ(file.GetLength(), 10u);
  file.ReserveLength(4000);
  EXPECT_GE(file.GetLength(), 10u);
  file.Write("ab", 2);  // the reservation leaves the position at the start
  file.SetLength(4);
  file.Close();
  EXPECT_EQ(ReadFile(strPath), "ab23");
}

TEST_F(FileTest, CreateTruncatesAnExistingFile) {
  const std::string strPath = WriteFile("old.txt", "old contents");
  CFile file(strPath, CFile::modeCreate | CFile::modeReadWrite);
  EXPECT_EQ(file.GetLength(), 0u);
}

// A file created only if new, and removed again when left unfinished; the name
// is removed only while it still leads to that file.
TEST_F(FileTest, NewFileIsCreatedOnlyOnceAndRemovedWhileItsNameLeadsToIt) {
  constexpr unsigned kNew = CFile::modeCreate | CFile::modeCreateNew | CFile::modeWrite;
  const std::string strOld = WriteFile("old.txt", "old contents");
  EXPECT_EQ(CauseOfOpening(strOld, kNew), CFileException::other);
  EXPECT_EQ(ReadFile(strOld), "old contents");

  const std::string strPath = PathOf("new.txt");
  {
    CFile file(strPath, kNew);
    file.Write("part", 4);
    file.CloseAndRemove(strPath);
    EXPECT_FALSE(file.IsOpen());
  }
  EXPECT_FALSE(std::filesystem::exists(strPath));

  CFile file(strPath, kNew);
  std::filesystem::rename(strPath, PathOf("moved.txt"));
  WriteFile("new.txt", "someone else's");
  file.CloseAndRemove(strPath);
  EXPECT_EQ(ReadFile(strPath), "someone else's");
}

TEST_F(FileTest, SeekThenReadStartsAtTheOffset) {
  CFile file(WriteFile("digits.txt", "0123456789"), CFile::modeRead);
  file.SeekToOffset(7);
  char buf[8] = {};
  EXPECT_EQ(file.Read(buf, sizeof buf), 3u);
  EXPECT_EQ(std::string(buf, 3), "789");
}

TEST_F(FileTest, NameSameFileSeesThroughSpellingsAndLinks) {
  const std::string strPath = WriteFile("a.txt", "a");
  const std::string strOther = WriteFile("b.txt", "b");
  std::filesystem::create_symlink(strPath, PathOf("sym.txt"));
  std::filesystem::create_hard_link(strPath, PathOf("hard.txt"));
  EXPECT_TRUE(NameSameFile(strPath, m_dir.string() + "/./a.txt"));
  EXPECT_TRUE(NameSameFile(strPath, PathOf("sym.txt")));
  EXPECT_TRUE(NameSameFile(strPath, PathOf("hard.txt")));
  EXPECT_FALSE(NameSameFile(strPath, strOther));
  EXPECT_FALSE(NameSameFile(strPath, PathOf("absent.txt")));
  // The key of an open file is the same through every name of it.
  const auto keyOf = [](const std::string& path) {
    const CFile file(path, CFile::modeRead);
    FileKey key;
    EXPECT_TRUE(file.GetKey(key));
    return key;
  };
  EXPECT_EQ(keyOf(strPath), keyOf(PathOf("sym.txt")));
  EXPECT_EQ(keyOf(strPath), keyOf(PathOf("hard.txt")));
  EXPECT_NE(keyOf(strPath), keyOf(strOther));
}

// The stamper looks at files by name in their folder, kept open between them:
// the same stamps as one look at each path, across folders and back.
TEST_F(FileTest, TheStamperTellsWhatEachPathNames) {
  const std::string strA = WriteFile("a.txt", "aa");
  std::filesystem::create_directory(PathOf("sub"));
  const std::string strB = WriteFile("sub/b.txt", "bbb");
  std::filesystem::create_symlink(strB, PathOf("sym.txt"));
  CFileStamper stamper;
  for (const std::string& path : {strA, strB, PathOf("sym.txt"), strA, m_dir.string() + "/sub/../a.txt"}) {
    FileStamp expected, got;
    ASSERT_TRUE(GetFileStamp(path, expected)) << path;
    ASSERT_TRUE(stamper.Get(path, got)) << path;
    EXPECT_EQ(got.nSize, expected.nSize) << path;
    EXPECT_EQ(got.nModifiedNs, expected.nModifiedNs) << path;
    EXPECT_EQ(got.key, expected.key) << path;
  }
  FileStamp stamp;
  EXPECT_FALSE(stamper.Get(PathOf("sub"), stamp));
  EXPECT_FALSE(stamper.Get(PathOf("sub/"), stamp));
  EXPECT_FALSE(stamper.Get(PathOf("absent.txt"), stamp));
  EXPECT_FALSE(stamper.Get(PathOf("missing/a.txt"), stamp));
  // A file replaced since its folder was opened: what the name leads to now.
  std::filesystem::remove(strA);
  WriteFile("a.txt", "longer");
  ASSERT_TRUE(stamper.Get(strA, stamp));
  EXPECT_EQ(stamp.nSize, 6);
}

// The open file decides: a name that led to it when it was opened and now leads
// to another file no longer names it, and a name of a file since removed does.
TEST_F(FileTest, IsNamedByComparesTheOpenFileWithWhatAPathNamesNow) {
  const std::string strPath = WriteFile("a.txt", "a");
  std::filesystem::create_symlink(strPath, PathOf("sym.txt"));
  std::filesystem::create_hard_link(strPath, PathOf("hard.txt"));
  CFile file(strPath, CFile::modeRead);
  EXPECT_TRUE(file.IsNamedBy(m_dir.string() + "/./a.txt"));
  EXPECT_TRUE(file.IsNamedBy(PathOf("sym.txt")));
  EXPECT_TRUE(file.IsNamedBy(PathOf("hard.txt")));
  EXPECT_FALSE(file.IsNamedBy(PathOf("absent.txt")));

  std::filesystem::rename(WriteFile("b.txt", "b"), strPath);
  EXPECT_FALSE(file.IsNamedBy(strPath));
  EXPECT_FALSE(file.IsNamedBy(PathOf("sym.txt")));
  EXPECT_TRUE(file.IsNamedBy(PathOf("hard.txt")));
}

// Round trips through the archive at sizes around its buffer, where a
// refill or a direct transfer could lose or repeat bytes.
TEST_F(FileTest, ArchiveRoundTripsEveryLengthAroundItsBuffer) {
  for (const std::size_t nLen : {0u, 1u, 4095u, 4096u, 4097u, 8191u, 8192u, 12289u}) {
    std::string bytes(nLen, '\0');
    for (std::size_t i = 0; i < nLen; ++i) bytes[i] = static_cast<char>(i * 7 + i / 251);
    const std::string strPath = PathOf("round.bin");
    {
      CFile file(strPath, CFile::modeCreate | CFile::modeReadWrite);
      CArchive ar(file, CArchive::store);
      // Split the writes so that the buffer is topped up, flushed and bypassed.
      const std::size_t nFirst = nLen / 3;
      ar.Write(bytes.data(), nFirst);
      ar.Write(bytes.data() + nFirst, nLen - nFirst);
      ar.Close();
      file.Close();
    }
    ASSERT_EQ(ReadFile(strPath), bytes) << nLen;

    CFile file(strPath, CFile::modeRead);
    CArchive ar(file, CArchive::load);
    std::string back(nLen + 10, '\0');
    const std::size_t nFirst = nLen / 2 + 1;
    std::size_t nGot = ar.Read(back.data(), std::min(nFirst, nLen));
    nGot += ar.Read(back.data() + nGot, nLen + 10 - nGot);
    EXPECT_EQ(nGot, nLen);
    EXPECT_EQ(back.substr(0, nLen), bytes) << nLen;
  }
}

// Whatever the way in (buffer topped up, or passed by), the file holds the whole
// buffers taken so far, and the tail waits.
TEST_F(FileTest, ArchiveAbandonedWithoutCloseWritesOnlyFullBuffers) {
  const std::string strPath = PathOf("abandoned.bin");
  {
    CFile file(strPath, CFile::modeCreate | CFile::modeReadWrite);
    CArchive ar(file, CArchive::store);
    ar.Write(std::string(5000, 'x').data(), 5000);
    EXPECT_EQ(ReadFile(strPath).size(), 4096u);
    EXPECT_EQ(ar.BufferedBytes(), 904u);
    ar.Write(std::string(3192, 'y').data(), 3192);  // fills the buffer exactly: it waits
    EXPECT_EQ(ReadFile(strPath).size(), 4096u);
    ar.Write(std::string(9000, 'z').data(), 9000);
    EXPECT_EQ(ReadFile(strPath).size(), 16384u);
    EXPECT_EQ(ar.BufferedBytes(), 808u);
  }
  const std::string strWritten = ReadFile(strPath);
  EXPECT_EQ(strWritten.size(), 16384u);
  EXPECT_EQ(strWritten.substr(4990, 12), "xxxxxxxxxxyy");
  EXPECT_EQ(strWritten.substr(8190, 4), "yyzz");
}

TEST(FileException, WriteToFullDeviceIsRaisedAtLatestOnClose) {
  CFile file("/dev/full", CFile::modeCreate | CFile::modeReadWrite);
  CArchive ar(file, CArchive::store);
  ar.Write("abc", 3);
  EXPECT_THROW(ar.Close(), CFileException);
}

}  // namespace
