// POSIX backend of the file layer. Causes follow the way the Windows file layer
// tells its failures apart, so that statuses are the same on both platforms:
// a missing file in an existing folder is "file not found", while a missing
// folder on the way (or a non-folder used as one) is a bad path, cause other.
//
// Every file is opened non-blocking and the descriptor is examined before the
// mode goes back to blocking: a FIFO without a writer or reader fails or is refused
// at once instead of holding the call for ever, and what the descriptor is, not
// what the path named a moment earlier, decides.
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

#include "platform/file.h"

namespace {

bool IsExistingFolder(const CString& strPath) {
  struct stat st {};
  return ::stat(strPath.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

CString FolderOf(const CString& strPath) {
  const auto nSlash = strPath.find_last_of('/');
  if (nSlash == CString::npos) return ".";
  if (nSlash == 0) return "/";
  return strPath.substr(0, nSlash);
}

CFileException::Cause CauseOf(int nErrno, const CString& strPath) {
  switch (nErrno) {
    case ENOENT: return IsExistingFolder(FolderOf(strPath)) ? CFileException::fileNotFound : CFileException::other;
    case EMFILE:
    case ENFILE: return CFileException::tooManyOpenFiles;
    default: return CFileException::other;
  }
}

// A missing name is told apart from a missing folder on the way to it, and a
// file that may not be written from a folder where none may be created.
FailureCause FailureCauseOf(int nErrno, const CString& strPath, FileOperation operation) {
  if (nErrno == ENOENT && !IsExistingFolder(FolderOf(strPath))) return FailureCause::kFolderMissing;
  struct stat st {};
  if ((nErrno == EACCES || nErrno == EPERM) && operation == FileOperation::kCreate &&
      ::lstat(strPath.c_str(), &st) != 0 && errno == ENOENT)
    return FailureCause::kNoPermissionInFolder;
  return FailureCauseOfErrno(nErrno);
}

[[noreturn]] void ThrowFromErrno(int nErrno, const CString& strPath, FileOperation operation) {
  const FailureCause failureCause = FailureCauseOf(nErrno, strPath, operation);
  throw CFileException(CauseOf(nErrno, strPath), failureCause, nErrno, operation);
}

// A failure of an open file: errno is read before anything else can change it.
[[noreturn]] void ThrowOther(FileOperation operation, const CFile* pFile) {
  const int nErrno = errno;
  throw CFileException(CFileException::other, FailureCauseOfErrno(nErrno), nErrno, operation, pFile);
}

[[noreturn]] void ThrowRefused(FailureCause cause, FileOperation operation) {
  throw CFileException(CFileException::other, cause, 0, operation);
}

int Fd(std::intptr_t hFile) { return static_cast<int>(hFile); }

}  // namespace

const unsigned CFile::modeOutput = CFile::modeWrite;

CFile::CFile(const CString& strPath, unsigned nOpenFlags) {
  const bool bCreate = (nOpenFlags & modeCreate) != 0;
  const FileOperation operation =
      bCreate || (nOpenFlags & (modeWrite | modeReadWrite)) != 0 ? FileOperation::kCreate : FileOperation::kOpenForRead;
  // An empty name is a bad path, not a missing file.
  if (strPath.empty()) ThrowRefused(FailureCause::kEmptyName, operation);
  const bool bTruncate = bCreate && (nOpenFlags & modeNoTruncate) == 0;
  const bool bReadOnly = operation == FileOperation::kOpenForRead;
  const int nAccess = (nOpenFlags & modeReadWrite) ? O_RDWR : (nOpenFlags & modeWrite) ? O_WRONLY : O_RDONLY;
  const bool bNew = bCreate && (nOpenFlags & modeCreateNew) != 0;
  const int nFlags =
      nAccess | O_CLOEXEC | O_NONBLOCK | (bCreate ? O_CREAT : 0) | (bTruncate ? O_TRUNC : 0) | (bNew ? O_EXCL : 0);
  int fd;
  do {
    fd = ::open(strPath.c_str(), nFlags, 0666);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) ThrowFromErrno(errno, strPath, operation);  // a FIFO without a reader: ENXIO, cause other
  struct stat st {};
  const int nStat = ::fstat(fd, &st);
  const int nStatErrno = errno;
  const bool bRefused = nStat != 0 || S_ISDIR(st.st_mode) || (bReadOnly && !S_ISREG(st.st_mode));
  // O_NONBLOCK means nothing to a regular file (open(2)), which keeps it and
  // spares two calls per file; a FIFO or device goes back to blocking.
  const bool bBlocking = !bRefused && S_ISREG(st.st_mode);
  const int nStatusFlags = bRefused || bBlocking ? -1 : ::fcntl(fd, F_GETFL);
  if (bRefused || (!bBlocking && (nStatusFlags < 0 || ::fcntl(fd, F_SETFL, nStatusFlags & ~O_NONBLOCK) != 0))) {
    const int nErrno = bRefused ? nStatErrno : errno;
    ::close(fd);  // a constructor that throws gets no destructor
    if (nStat != 0 || (!bRefused && nErrno != 0)) {
      throw CFileException(CFileException::other, FailureCauseOfErrno(nErrno), nErrno, operation);
    }
    ThrowRefused(S_ISDIR(st.st_mode) ? FailureCause::kIsFolder : FailureCause::kSpecialFile, operation);
  }
  m_hFile = fd;
}

CFile::~CFile() {
  if (IsOpen()) ::close(Fd(m_hFile));
}

std::uint64_t CFile::GetLength() const {
  struct stat st {};
  if (::fstat(Fd(m_hFile), &st) != 0) ThrowOther(FileOperation::kRead, this);
  return static_cast<std::uint64_t>(st.st_size);
}

std::size_t CFile::Read(void* pBuf, std::size_t nCount) {
  auto* pNext = static_cast<unsigned char*>(pBuf);
  std::size_t nDone = 0;
  while (nDone < nCount) {
    const ssize_t nGot = ::read(Fd(m_hFile), pNext + nDone, nCount - nDone);
    if (nGot == 0) break;
    if (nGot < 0) {
      if (errno == EINTR) continue;
      ThrowOther(FileOperation::kRead, this);
    }
    nDone += static_cast<std::size_t>(nGot);
  }
  return nDone;
}

void CFile::Write(const void* pBuf, std::size_t nCount) {
  const auto* pNext = static_cast<const unsigned char*>(pBuf);
  while (nCount > 0) {
    const ssize_t nPut = ::write(Fd(m_hFile), pNext, nCount);
    if (nPut < 0) {
      if (errno == EINTR) continue;
      ThrowOther(FileOperation::kWrite, this);
    }
    pNext += nPut;
    nCount -= static_cast<std::size_t>(nPut);
  }
}

void CFile::SeekToOffset(std::uint64_t nOffset) {
  if (::lseek(Fd(m_hFile), static_cast<off_t>(nOffset), SEEK_SET) < 0) ThrowOther(FileOperation::kRead, this);
}

// The size limit is checked first because a write past it would not fail
// cleanly: it raises SIGXFSZ, which ends a process that does not ignore it.
void CFile::ReserveLength(std::uint64_t nLength) {
  const int fd = Fd(m_hFile);
  struct stat st {};
  if (::fstat(fd, &st) != 0) ThrowOther(FileOperation::kWrite, this);
  const std::uint64_t nLargest = std::max(static_cast<std::uint64_t>(st.st_size), nLength);
  rlimit limit{};
  if (::getrlimit(RLIMIT_FSIZE, &limit) == 0 && limit.rlim_cur != RLIM_INFINITY && nLargest > limit.rlim_cur)
    throw CFileException(CFileException::other, FailureCause::kFileTooLarge, EFBIG, FileOperation::kWrite, this);
  if (nLength > 0) {
    int nResult;
    do {
      nResult = ::fallocate(fd, 0, 0, static_cast<off_t>(nLength));
    } while (nResult != 0 && errno == EINTR);
    // A file system that cannot reserve (EOPNOTSUPP) is overwritten as before, unprotected.
    if (nResult != 0 && errno != EOPNOTSUPP) {
      const int nErrno = errno;
      // Some file systems grow the file as they allocate; the old length comes back.
      [[maybe_unused]] const int nRestored = ::ftruncate(fd, st.st_size);
      errno = nErrno;
      ThrowOther(FileOperation::kWrite, this);
    }
  }
  SeekToOffset(0);
}

void CFile::SetLength(std::uint64_t nLength) {
  int nResult;
  do {
    nResult = ::ftruncate(Fd(m_hFile), static_cast<off_t>(nLength));
  } while (nResult != 0 && errno == EINTR);
  if (nResult != 0) ThrowOther(FileOperation::kWrite, this);
}

void CFile::Close() {
  if (!IsOpen()) return;
  const int fd = Fd(m_hFile);
  m_hFile = kInvalidHandle;
  if (::close(fd) != 0 && errno != EINTR) ThrowOther(FileOperation::kClose, this);
}

void CFile::CloseAndRemove(const CString& strPath) noexcept {
  if (!IsOpen()) return;
  const int fd = Fd(m_hFile);
  m_hFile = kInvalidHandle;
  struct stat stOpen {
  }, stNamed{};
  if (::fstat(fd, &stOpen) == 0 && ::lstat(strPath.c_str(), &stNamed) == 0 && stOpen.st_dev == stNamed.st_dev &&
      stOpen.st_ino == stNamed.st_ino)
    ::unlink(strPath.c_str());
  ::close(fd);
}

bool CFile::IsNamedBy(const CString& strPath) const noexcept {
  struct stat stOpen {
  }, stNamed{};
  return ::fstat(Fd(m_hFile), &stOpen) == 0 && ::stat(strPath.c_str(), &stNamed) == 0 &&
         stOpen.st_dev == stNamed.st_dev && stOpen.st_ino == stNamed.st_ino;
}

bool NameSameFile(const CString& strPathA, const CString& strPathB) noexcept {
  struct stat stA {
  }, stB{};
  return ::stat(strPathA.c_str(), &stA) == 0 && ::stat(strPathB.c_str(), &stB) == 0 && stA.st_dev == stB.st_dev &&
         stA.st_ino == stB.st_ino;
}

namespace {

bool StampOfStat(const struct stat& st, FileStamp& stamp) {
  if (!S_ISREG(st.st_mode)) return false;
  stamp.nSize = static_cast<std::int64_t>(st.st_size);
  stamp.nModifiedNs = static_cast<std::int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
  stamp.key = {static_cast<std::uint64_t>(st.st_dev), static_cast<std::uint64_t>(st.st_ino)};
  return true;
}

}  // namespace

bool GetFileStamp(const CString& strPath, FileStamp& stamp) noexcept {
  struct stat st {};
  return ::stat(strPath.c_str(), &st) == 0 && StampOfStat(st, stamp);
}

CFileStamper::~CFileStamper() {
  if (m_nFolder >= 0) ::close(m_nFolder);
}

bool CFileStamper::Get(std::string_view path, FileStamp& stamp) noexcept {
  struct stat st {};
  const std::size_t nSlash = path.find_last_of('/');
  // A name without a folder, or a folder's own name ("a/"), as it stands.
  if (nSlash == std::string_view::npos || nSlash + 1 == path.size()) {
    try {
      return ::stat(CString(path).c_str(), &st) == 0 && StampOfStat(st, stamp);
    } catch (...) {
      return false;
    }
  }
  const std::string_view folder = path.substr(0, nSlash + 1);
  try {
    if (folder != m_strFolder) {
      if (m_nFolder >= 0) ::close(m_nFolder);
      m_strFolder = folder;
      m_nFolder = ::open(m_strFolder.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
    }
    const CString name(path.substr(nSlash + 1));
    if (m_nFolder < 0) return ::stat(CString(path).c_str(), &st) == 0 && StampOfStat(st, stamp);
    return ::fstatat(m_nFolder, name.c_str(), &st, 0) == 0 && StampOfStat(st, stamp);
  } catch (...) {
    m_strFolder.clear();
    if (m_nFolder >= 0) ::close(m_nFolder);
    m_nFolder = -1;
    return false;
  }
}

bool CFile::GetKey(FileKey& key) const noexcept {
  struct stat st {};
  if (::fstat(Fd(m_hFile), &st) != 0) return false;
  key = {static_cast<std::uint64_t>(st.st_dev), static_cast<std::uint64_t>(st.st_ino)};
  return true;
}
