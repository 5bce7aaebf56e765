// Win32 backend of the file layer. Files are opened without sharing unless asked,
// so a file that one call holds open cannot be opened again until it is closed; causes
// come from GetLastError, where only a missing file and too many open files are
// told apart (a missing folder on the way, ERROR_PATH_NOT_FOUND, is "other").
#include <windows.h>

#include <algorithm>
#include <cstring>

#include "platform/file.h"
#include "platform/file_identity_win32.h"

namespace {

CFileException::Cause CauseOf(DWORD dwError) {
  switch (dwError) {
    case ERROR_FILE_NOT_FOUND: return CFileException::fileNotFound;
    case ERROR_TOO_MANY_OPEN_FILES: return CFileException::tooManyOpenFiles;
    default: return CFileException::other;
  }
}

// The cause is read before the exception object exists: allocating it may go
// through a heap that sets the last error of its own.
[[noreturn]] void ThrowLastError() {
  const DWORD dwError = ::GetLastError();
  throw CFileException(CauseOf(dwError));
}

HANDLE Handle(std::intptr_t hFile) { return reinterpret_cast<HANDLE>(hFile); }

// ReadFile and WriteFile move at most a DWORD's worth per call.
constexpr std::size_t kMaxTransferBytes = 0x40000000;

// The identifiers of an open file, which identify it however its name is spelled.
// The 128-bit identifier is asked for where the system offers it.
bool IdentifyHandle(HANDLE hFile, FileIdentity& identity) {
  BY_HANDLE_FILE_INFORMATION info;
  if (!::GetFileInformationByHandle(hFile, &info)) return false;
  FILE_ID_INFO idInfo;
  identity = FileIdentity{};
  identity.bHasFileId = ::GetFileInformationByHandleEx(hFile, FileIdInfo, &idInfo, sizeof idInfo) != 0;
  identity.nVolumeSerial = info.dwVolumeSerialNumber;
  identity.nFileIndex = (std::uint64_t{info.nFileIndexHigh} << 32) | info.nFileIndexLow;
  if (identity.bHasFileId) {
    static_assert(sizeof idInfo.FileId.Identifier == sizeof identity.fileId);
    identity.nIdVolumeSerial = idInfo.VolumeSerialNumber;
    std::memcpy(identity.fileId, idInfo.FileId.Identifier, sizeof identity.fileId);
  }
  return true;
}

// The file a path names is opened for no access at all, which a file held open
// without sharing still allows.
bool IdentifyFile(const CString& strPath, FileIdentity& identity) {
  const HANDLE hFile = ::CreateFileA(strPath.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                     nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (hFile == INVALID_HANDLE_VALUE) return false;
  const bool bKnown = IdentifyHandle(hFile, identity);
  ::CloseHandle(hFile);
  return bKnown;
}

}  // namespace

const unsigned CFile::modeOutput = CFile::modeReadWrite;

CFile::CFile(const CString& strPath, unsigned nOpenFlags) {
  const bool bCreate = (nOpenFlags & modeCreate) != 0;
  const bool bReadOnly = (nOpenFlags & (modeWrite | modeReadWrite)) == 0;
  const DWORD dwAccess = (nOpenFlags & modeReadWrite) ? GENERIC_READ | GENERIC_WRITE
                         : (nOpenFlags & modeWrite)   ? GENERIC_WRITE
                                                      : GENERIC_READ;
  const DWORD dwShare = (nOpenFlags & shareDenyNone) ? FILE_SHARE_READ | FILE_SHARE_WRITE : 0;
  const DWORD dwDisposition = !bCreate                        ? OPEN_EXISTING
                              : (nOpenFlags & modeCreateNew)  ? CREATE_NEW
                              : (nOpenFlags & modeNoTruncate) ? OPEN_ALWAYS
                                                              : CREATE_ALWAYS;
  const HANDLE hFile =
      ::CreateFileA(strPath.c_str(), dwAccess, dwShare, nullptr, dwDisposition, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (hFile == INVALID_HANDLE_VALUE) ThrowLastError();
  // NUL, CON and pipes are no input: they measure nothing or never end.
  if (bReadOnly && ::GetFileType(hFile) != FILE_TYPE_DISK) {
    ::CloseHandle(hFile);
    throw CFileException(CFileException::other);
  }
  m_hFile = reinterpret_cast<std::intptr_t>(hFile);
}

CFile::~CFile() {
  if (IsOpen()) ::CloseHandle(Handle(m_hFile));
}

std::uint64_t CFile::GetLength() const {
  LARGE_INTEGER length;
  if (!::GetFileSizeEx(Handle(m_hFile), &length)) ThrowLastError();
  return static_cast<std::uint64_t>(length.QuadPart);
}

std::size_t CFile::Read(void* pBuf, std::size_t nCount) {
  auto* pNext = static_cast<unsigned char*>(pBuf);
  std::size_t nDone = 0;
  while (nDone < nCount) {
    DWORD dwGot = 0;
    const DWORD dwWant = static_cast<DWORD>(std::min(nCount - nDone, kMaxTransferBytes));
    if (!::ReadFile(Handle(m_hFile), pNext + nDone, dwWant, &dwGot, nullptr)) ThrowLastError();
    if (dwGot == 0) break;
    nDone += dwGot;
  }
  return nDone;
}

void CFile::Write(const void* pBuf, std::size_t nCount) {
  const auto* pNext = static_cast<const unsigned char*>(pBuf);
  while (nCount > 0) {
    DWORD dwPut = 0;
    const DWORD dwWant = static_cast<DWORD>(std::min(nCount, kMaxTransferBytes));
    if (!::WriteFile(Handle(m_hFile), pNext, dwWant, &dwPut, nullptr)) ThrowLastError();
    // Some devices and pipes report success with nothing written; trying again would never end.
    if (dwPut == 0) throw CFileException(CFileException::other);
    pNext += dwPut;
    nCount -= dwPut;
  }
}

void CFile::SeekToOffset(std::uint64_t nOffset) {
  LARGE_INTEGER offset;
  offset.QuadPart = static_cast<LONGLONG>(nOffset);
  if (!::SetFilePointerEx(Handle(m_hFile), offset, nullptr, FILE_BEGIN)) ThrowLastError();
}

// Extending first claims the space, so a full disk fails here and not part-way
// through the overwrite. A shorter new length needs no room: the file is cut
// after the overwrite.
void CFile::ReserveLength(std::uint64_t nLength) {
  if (nLength > GetLength()) SetLength(nLength);
  SeekToOffset(0);
}

void CFile::SetLength(std::uint64_t nLength) {
  SeekToOffset(nLength);
  if (!::SetEndOfFile(Handle(m_hFile))) ThrowLastError();
}

void CFile::Close() {
  if (!IsOpen()) return;
  const HANDLE hFile = Handle(m_hFile);
  m_hFile = kInvalidHandle;
  if (!::CloseHandle(hFile)) ThrowLastError();
}

void CFile::CloseAndRemove(const CString& strPath) noexcept {
  if (!IsOpen()) return;
  ::CloseHandle(Handle(m_hFile));
  m_hFile = kInvalidHandle;
  ::DeleteFileA(strPath.c_str());
}

// On ReFS the 64-bit index is not unique, so the 128-bit identifier decides
// whenever both files have one. Some network redirectors report zeros: an
// identifier of zeros is unknown, and an unknown file is never the same.
bool IsSameFileIdentity(const FileIdentity& a, const FileIdentity& b) noexcept {
  if (a.bHasFileId && b.bHasFileId) {
    constexpr unsigned char kUnknownId[sizeof a.fileId] = {};
    return a.nIdVolumeSerial == b.nIdVolumeSerial && std::memcmp(a.fileId, b.fileId, sizeof a.fileId) == 0 &&
           std::memcmp(a.fileId, kUnknownId, sizeof a.fileId) != 0;
  }
  return a.nVolumeSerial == b.nVolumeSerial && a.nFileIndex == b.nFileIndex && a.nFileIndex != 0;
}

bool CFile::IsNamedBy(const CString& strPath) const noexcept {
  FileIdentity identityOpen, identityNamed;
  return IdentifyHandle(Handle(m_hFile), identityOpen) && IdentifyFile(strPath, identityNamed) &&
         IsSameFileIdentity(identityOpen, identityNamed);
}

bool NameSameFile(const CString& strPathA, const CString& strPathB) noexcept {
  FileIdentity identityA, identityB;
  return IdentifyFile(strPathA, identityA) && IdentifyFile(strPathB, identityB) &&
         IsSameFileIdentity(identityA, identityB);
}

bool GetFileStamp(const CString& strPath, FileStamp& stamp) noexcept {
  WIN32_FILE_ATTRIBUTE_DATA data{};
  if (!::GetFileAttributesExA(strPath.c_str(), GetFileExInfoStandard, &data) ||
      (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0)
    return false;
  // FILETIME counts 100 ns from 1601-01-01, 11644473600 s before 1970.
  const std::int64_t nTicks = static_cast<std::int64_t>(
      (static_cast<std::uint64_t>(data.ftLastWriteTime.dwHighDateTime) << 32) | data.ftLastWriteTime.dwLowDateTime);
  stamp.nSize = static_cast<std::int64_t>((static_cast<std::uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow);
  stamp.nModifiedNs = (nTicks - 116444736000000000) * 100;
  return true;
}

CFileStamper::~CFileStamper() = default;

bool CFileStamper::Get(std::string_view path, FileStamp& stamp) noexcept {
  try {
    return GetFileStamp(CString(path), stamp);
  } catch (...) {
    return false;
  }
}

bool CFile::GetKey(FileKey& key) const noexcept {
  FileIdentity identity;
  if (!IdentifyHandle(Handle(m_hFile), identity) || identity.nFileIndex == 0) return false;
  key = {identity.nVolumeSerial, identity.nFileIndex};
  return true;
}
