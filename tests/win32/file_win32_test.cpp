// The Win32 file layer as the conversions meet it: causes from the system's
// errors, files held without sharing, 64-bit lengths and offsets, and one file
// recognised under every spelling of its name.
#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <string>

#include "import_patch.h"
#include "platform/cause_of_opening.h"
#include "platform/file.h"
#include "platform/file_identity_win32.h"

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

TEST_F(FileWin32Test, NewFileIsCreatedOnlyOnceAndRemovedWhenLeftUnfinished) {
  constexpr unsigned kNew = CFile::modeCreate | CFile::modeCreateNew | CFile::modeReadWrite;
  const std::string strOld = WriteFile("old.txt", "old contents");
  EXPECT_EQ(CauseOfOpening(strOld, kNew), CFileException::other);
  EXPECT_EQ(std::filesystem::file_size(strOld), 12u);

  const std::string strPath = PathOf("new.txt");
  CFile file(strPath, kNew);
  file.Write("part", 4);
  file.CloseAndRemove(strPath);
  EXPECT_FALSE(file.IsOpen());
  EXPECT_FALSE(std::filesystem::exists(strPath));
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

TEST_F(FileWin32Test, IsNamedBySeesThroughSpellingsOfTheOpenFile) {
  const std::string strPath = WriteFile("a.txt", "a");
  const std::string strOther = WriteFile("b.txt", "b");
  std::string strSlashes = strPath;
  std::replace(strSlashes.begin(), strSlashes.end(), '\\', '/');
  CFile held(strPath, CFile::modeRead);  // held without sharing
  EXPECT_TRUE(held.IsNamedBy(strSlashes));
  EXPECT_TRUE(held.IsNamedBy(PathOf(".\\A.TXT")));
  EXPECT_FALSE(held.IsNamedBy(strOther));
  EXPECT_FALSE(held.IsNamedBy(PathOf("absent.txt")));
}

// ---- Same-file identity, with identifiers no local volume hands out ----

FileIdentity IndexOnly(std::uint32_t nVolume, std::uint64_t nIndex) {
  FileIdentity identity;
  identity.nVolumeSerial = nVolume;
  identity.nFileIndex = nIndex;
  return identity;
}

FileIdentity WithFileId(std::uint32_t nVolume, std::uint64_t nIndex, unsigned char chIdByte) {
  FileIdentity identity = IndexOnly(nVolume, nIndex);
  identity.bHasFileId = true;
  identity.nIdVolumeSerial = nVolume;
  std::fill(std::begin(identity.fileId), std::end(identity.fileId), chIdByte);
  return identity;
}

TEST(FileIdentityWin32, The128BitIdentifierDecidesWhenBothHaveOne) {
  EXPECT_TRUE(IsSameFileIdentity(WithFileId(7, 42, 0x5A), WithFileId(7, 42, 0x5A)));
  // ReFS: one 64-bit index for two files that the 128-bit identifiers tell apart.
  EXPECT_FALSE(IsSameFileIdentity(WithFileId(7, 42, 0x5A), WithFileId(7, 42, 0x5B)));
  // The identifier is what counts, not the index beside it.
  EXPECT_TRUE(IsSameFileIdentity(WithFileId(7, 1, 0x5A), WithFileId(7, 2, 0x5A)));
  EXPECT_FALSE(IsSameFileIdentity(WithFileId(7, 42, 0x5A), WithFileId(8, 42, 0x5A)));
}

TEST(FileIdentityWin32, ZerosAreUnknownAndNeverTheSame) {
  EXPECT_FALSE(IsSameFileIdentity(WithFileId(7, 42, 0), WithFileId(7, 42, 0)));
  EXPECT_FALSE(IsSameFileIdentity(IndexOnly(7, 0), IndexOnly(7, 0)));  // a redirector that reports no index
}

TEST(FileIdentityWin32, TheIndexDecidesWithoutTwoIdentifiers) {
  EXPECT_TRUE(IsSameFileIdentity(IndexOnly(7, 42), IndexOnly(7, 42)));
  EXPECT_FALSE(IsSameFileIdentity(IndexOnly(7, 42), IndexOnly(7, 43)));
  EXPECT_FALSE(IsSameFileIdentity(IndexOnly(7, 42), IndexOnly(8, 42)));
  EXPECT_TRUE(IsSameFileIdentity(WithFileId(7, 42, 0x5A), IndexOnly(7, 42)));
}

// ---- System calls that misbehave, through this program's import table ----

// Restores the patched import when the test ends, however it ends.
class ImportPatch {
 public:
  ImportPatch(const char* pszDll, const char* pszName, void* pfnNew)
      : m_pszDll(pszDll),
        m_pszName(pszName),
        m_pfnOld(PatchImport(::GetModuleHandleA(nullptr), pszDll, pszName, pfnNew)) {}
  ~ImportPatch() {
    if (m_pfnOld) PatchImport(::GetModuleHandleA(nullptr), m_pszDll, m_pszName, m_pfnOld);
  }
  ImportPatch(const ImportPatch&) = delete;
  ImportPatch& operator=(const ImportPatch&) = delete;
  void* Old() const { return m_pfnOld; }

 private:
  const char* m_pszDll;
  const char* m_pszName;
  void* m_pfnOld;
};

using MallocFn = void*(__cdecl*)(std::size_t);
MallocFn g_pfnMalloc = nullptr;

// A heap that leaves a last error of its own behind, as debug heaps and verifiers may.
void* __cdecl MallocSettingLastError(std::size_t nBytes) {
  void* p = g_pfnMalloc(nBytes);
  ::SetLastError(ERROR_ACCESS_DENIED);
  return p;
}

TEST_F(FileWin32Test, CauseIsReadBeforeTheExceptionIsAllocated) {
  const ImportPatch patch("msvcrt.dll", "malloc", reinterpret_cast<void*>(MallocSettingLastError));
  g_pfnMalloc = reinterpret_cast<MallocFn>(patch.Old());
  ASSERT_NE(g_pfnMalloc, nullptr) << "malloc is not imported from msvcrt.dll";
  EXPECT_EQ(CauseOfOpening(PathOf("absent.txt"), CFile::modeRead), CFileException::fileNotFound);
}

BOOL WINAPI WriteNothing(HANDLE, LPCVOID, DWORD, LPDWORD pdwPut, LPOVERLAPPED) {
  if (pdwPut) *pdwPut = 0;
  return TRUE;
}

// Trying again after a write that took nothing would never end.
TEST_F(FileWin32Test, WriteThatTakesNothingFails) {
  CFile file(PathOf("out.txt"), kCreate);
  const ImportPatch patch("kernel32.dll", "WriteFile", reinterpret_cast<void*>(WriteNothing));
  ASSERT_NE(patch.Old(), nullptr) << "WriteFile is not imported from kernel32.dll";
  try {
    file.Write("abc", 3);
    ADD_FAILURE() << "the write succeeded";
  } catch (const CFileException& e) {
    EXPECT_EQ(e.GetCause(), CFileException::other);
  }
}

}  // namespace
