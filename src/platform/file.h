// Files by path: the small part of a platform file layer that the conversions
// need. Every failure is raised as a CFileException whose cause tells apart the
// three outcomes callers map onto statuses: file not found, too many open files,
// and everything else. One backend per platform implements this header.
#pragma once

#include <cstddef>
#include <cstdint>
#include <exception>

#include "platform/platform_string.h"

class CFileException : public std::exception {
 public:
  // The values are the platform's own cause numbers.
  enum Cause : int { other = 1, fileNotFound = 2, tooManyOpenFiles = 4 };

  explicit CFileException(Cause cause) noexcept : m_cause(cause) {}
  Cause GetCause() const noexcept { return m_cause; }

 private:
  Cause m_cause;
};

class CFile {
 public:
  // Open flags, with the platform's values: read-only is 0, and
  // modeCreate | modeReadWrite (4098) creates a file or truncates an existing one.
  // A file is held exclusively while open unless shareDenyNone lets others read
  // and write it meanwhile, as the C runtime's streams do (POSIX never holds a
  // file exclusively).
  enum OpenFlags : unsigned {
    modeRead = 0x0000,
    modeReadWrite = 0x0002,
    shareDenyNone = 0x0040,
    modeCreate = 0x1000,
  };

  CFile() noexcept = default;
  // Opens the file as the flags say; raises CFileException on failure. A directory
  // is not a file: opening one fails with cause other.
  CFile(const CString& strPath, unsigned nOpenFlags);
  CFile(const CFile&) = delete;
  CFile& operator=(const CFile&) = delete;
  ~CFile();  // closes a file still open, ignoring errors

  bool IsOpen() const noexcept { return m_hFile != kInvalidHandle; }
  std::uint64_t GetLength() const;
  // Reads up to nCount bytes; fewer only at end of file. Raises on a read error.
  std::size_t Read(void* pBuf, std::size_t nCount);
  // Writes all nCount bytes or raises.
  void Write(const void* pBuf, std::size_t nCount);
  // Moves to nOffset bytes from the start of the file.
  void SeekToOffset(std::uint64_t nOffset);
  // Closes the file; raises when the platform reports a failure (a late write error).
  void Close();

 private:
  static constexpr std::intptr_t kInvalidHandle = -1;
  std::intptr_t m_hFile = kInvalidHandle;
};

// True when both paths name one existing file, however they are spelled
// (relative or absolute, through a link); false when either does not exist.
bool NameSameFile(const CString& strPathA, const CString& strPathB) noexcept;
