// A buffered byte stream over an open CFile, loading or storing. The file is read
// and written in transfers of kArchiveBufferBytes; a request of many bytes moves
// its whole multiples of the buffer size straight between the file and the
// caller's memory, so large buffers cost no extra copy.
#pragma once

#include <cstddef>

#include "platform/file.h"

class CArchive {
 public:
  enum Mode { store = 0, load = 1 };
  static constexpr std::size_t kArchiveBufferBytes = 4096;

  CArchive(CFile& file, Mode mode) noexcept : m_file(file), m_mode(mode) {}
  CArchive(const CArchive&) = delete;
  CArchive& operator=(const CArchive&) = delete;
  // An archive that was not closed is abandoned: bytes still buffered are not written.
  ~CArchive() = default;

  bool IsLoading() const noexcept { return m_mode == load; }
  const CFile& GetFile() const noexcept { return m_file; }
  // Loading: delivers up to nCount bytes; fewer only at end of file.
  std::size_t Read(void* pBuf, std::size_t nCount);
  // Storing: takes all nCount bytes, writing whenever the buffer is full.
  void Write(const void* pBuf, std::size_t nCount);
  // Storing: the bytes taken but not yet written.
  std::size_t BufferedBytes() const noexcept { return IsLoading() ? 0 : m_nBufLen; }
  // Storing: writes out the bytes still buffered. The file stays open.
  void Close();

 private:
  CFile& m_file;
  Mode m_mode;
  std::size_t m_nBufPos = 0;  // next byte to deliver (load)
  std::size_t m_nBufLen = 0;  // bytes held in m_buf
  unsigned char m_buf[kArchiveBufferBytes];
};
