// Files by path: the small part of a platform file layer that the conversions
// need. Every failure is raised as a CFileException whose cause tells apart the
// three outcomes callers map onto statuses: file not found, too many open files,
// and everything else. One backend per platform implements this header.
#pragma once

#include <compare>
#include <cstddef>
#include <cstdint>
#include <exception>
#include <string_view>

#include "platform/failure_record.h"
#include "platform/platform_string.h"

// The cause decides the status; the rest is what the failure record keeps: the
// cause in detail, the system's errno where it gave one, what was being done,
// and which open file failed (none while it was being opened), so that a step
// with several files open can tell which one.
class CFileException : public std::exception {
 public:
  // The values are the platform's own cause numbers.
  enum Cause : int { other = 1, fileNotFound = 2, tooManyOpenFiles = 4 };

  explicit CFileException(Cause cause, FailureCause failureCause = FailureCause::kNone, int nErrno = 0,
                          FileOperation operation = FileOperation::kNone, const CFile* pFile = nullptr) noexcept
      : m_cause(cause), m_failureCause(failureCause), m_nErrno(nErrno), m_operation(operation), m_pFile(pFile) {}
  Cause GetCause() const noexcept { return m_cause; }
  FailureCause GetFailureCause() const noexcept { return m_failureCause; }
  int GetErrno() const noexcept { return m_nErrno; }
  FileOperation GetOperation() const noexcept { return m_operation; }
  const CFile* GetFile() const noexcept { return m_pFile; }

 private:
  Cause m_cause;
  FailureCause m_failureCause;
  int m_nErrno;
  FileOperation m_operation;
  const CFile* m_pFile;
};

// What tells one existing file from every other: the same for every path to it
// (links, other spellings). POSIX: the device and inode; Windows: the volume's
// serial number and the file's index.
struct FileKey {
  std::uint64_t nDevice = 0;
  std::uint64_t nIndex = 0;
  auto operator<=>(const FileKey&) const = default;
};

class CFile {
 public:
  // Open flags, with the platform's values: read-only is 0, and
  // modeCreate | modeReadWrite (4098) creates a file or truncates an existing one;
  // modeNoTruncate keeps the bytes of an existing file that modeCreate opens;
  // modeCreateNew makes modeCreate fail (cause other) when the file exists.
  // A file is held exclusively while open unless shareDenyNone lets others read
  // and write it meanwhile, as the C runtime's streams do (POSIX never holds a
  // file exclusively).
  enum OpenFlags : unsigned {
    modeRead = 0x0000,
    modeWrite = 0x0001,
    modeReadWrite = 0x0002,
    shareDenyNone = 0x0040,
    modeCreate = 0x1000,
    modeNoTruncate = 0x2000,
    modeCreateNew = 0x4000,
  };
  // The access with which a conversion opens a new output: write-only on POSIX,
  // so that the process never holds the read end of a pipe it writes into;
  // read-write on Windows, as the original interface opens its outputs.
  static const unsigned modeOutput;

  CFile() noexcept = default;
  // Opens the file as the flags say; raises CFileException on failure. A directory
  // is not a file: opening one fails with cause other. A file opened for reading
  // only must be a regular file (a disk file on Windows): a pipe, FIFO, device or
  // socket is refused with cause other, so that no read can wait for a writer or
  // run without end. No opening waits: a FIFO without a reader or writer fails
  // at once.
  CFile(const CString& strPath, unsigned nOpenFlags);
  CFile(const CFile&) = delete;
  CFile& operator=(const CFile&) = delete;
  ~CFile();  // closes a file still open, ignoring errors

  bool IsOpen() const noexcept { return m_hFile != kInvalidHandle; }
  // The measured length. Some regular files measure 0 and still hold data
  // (POSIX /proc files): a caller that finds 0 reads until the end of file.
  std::uint64_t GetLength() const;
  // Reads up to nCount bytes; fewer only at end of file. Raises on a read error.
  std::size_t Read(void* pBuf, std::size_t nCount);
  // Writes all nCount bytes or raises.
  void Write(const void* pBuf, std::size_t nCount);
  // Moves to nOffset bytes from the start of the file.
  void SeekToOffset(std::uint64_t nOffset);
  // Before a file is overwritten in place: makes sure that it can hold nLength
  // bytes, so that writing them cannot fail for want of space or a size limit,
  // and raises (cause other) with the file unchanged when it cannot. POSIX:
  // refused when the old or the new length exceeds the process's file size limit,
  // then the space is reserved with fallocate; where the file system cannot
  // reserve, nothing is promised and no error is raised. Windows: the file is
  // extended to nLength bytes. The file position is left at the start.
  void ReserveLength(std::uint64_t nLength);
  // Cuts or extends the file to nLength bytes.
  void SetLength(std::uint64_t nLength);
  // True when strPath names this open file, however it is spelled (relative or
  // absolute, through a link); false when it names another file or none. The
  // open file decides, not what its own name leads to by now, and no path to it
  // is looked up again.
  bool IsNamedBy(const CString& strPath) const noexcept;
  // The open file's key; false when the platform does not tell it.
  bool GetKey(FileKey& key) const noexcept;
  // Closes the file; raises when the platform reports a failure (a late write error).
  void Close();
  // Closes a file that this process created under strPath and left unfinished,
  // and removes it; on POSIX only while the name still leads to this file.
  void CloseAndRemove(const CString& strPath) noexcept;

 private:
  static constexpr std::intptr_t kInvalidHandle = -1;
  std::intptr_t m_hFile = kInvalidHandle;
};

// A regular file's size and last modification, as one look at it finds them.
struct FileStamp {
  std::int64_t nSize = 0;
  std::int64_t nModifiedNs = 0;  // nanoseconds since 1970-01-01 UTC
  FileKey key;                   // POSIX only; Windows leaves it 0
};
// False when the path names no regular file or it cannot be looked at.
bool GetFileStamp(const CString& strPath, FileStamp& stamp) noexcept;

// The stamps of many files, most of them in a few folders: on POSIX each folder is
// opened once and its files are looked at by name in it, so the folder's own path
// is not looked up again for each file.
class CFileStamper {
 public:
  CFileStamper() = default;
  ~CFileStamper();
  CFileStamper(const CFileStamper&) = delete;
  CFileStamper& operator=(const CFileStamper&) = delete;

  // As GetFileStamp.
  bool Get(std::string_view path, FileStamp& stamp) noexcept;

 private:
  CString m_strFolder;
  int m_nFolder = -1;
};

// True when both paths name one existing file, however they are spelled
// (relative or absolute, through a link); false when either does not exist.
bool NameSameFile(const CString& strPathA, const CString& strPathB) noexcept;
