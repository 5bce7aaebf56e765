#include "platform/archive.h"

#include <algorithm>
#include <cassert>
#include <cstring>

std::size_t CArchive::Read(void* pBuf, std::size_t nCount) {
  assert(IsLoading());
  if (nCount == 0) return 0;
  auto* pOut = static_cast<unsigned char*>(pBuf);
  std::size_t nDone = 0;

  // Bytes already buffered first.
  const std::size_t nHeld = std::min(nCount, m_nBufLen - m_nBufPos);
  std::memcpy(pOut, m_buf + m_nBufPos, nHeld);
  m_nBufPos += nHeld;
  nDone += nHeld;

  // Whole buffers straight from the file.
  const std::size_t nDirect = (nCount - nDone) / kArchiveBufferBytes * kArchiveBufferBytes;
  if (nDirect > 0) {
    const std::size_t nGot = m_file.Read(pOut + nDone, nDirect);
    nDone += nGot;
    if (nGot < nDirect) return nDone;  // end of file
  }

  // The rest through one refill.
  if (nDone < nCount) {
    m_nBufLen = m_file.Read(m_buf, kArchiveBufferBytes);
    m_nBufPos = std::min(nCount - nDone, m_nBufLen);
    std::memcpy(pOut + nDone, m_buf, m_nBufPos);
    nDone += m_nBufPos;
  }
  return nDone;
}

void CArchive::Write(const void* pBuf, std::size_t nCount) {
  assert(!IsLoading());
  if (nCount == 0) return;
  const auto* pIn = static_cast<const unsigned char*>(pBuf);

  // Top up the buffer; write it once it is full. A request of more than a
  // buffer finding it empty skips this step, which would only split its first
  // transfer in two: the same bytes reach the file either way.
  if (m_nBufLen > 0 || nCount <= kArchiveBufferBytes) {
    const std::size_t nFill = std::min(nCount, kArchiveBufferBytes - m_nBufLen);
    std::memcpy(m_buf + m_nBufLen, pIn, nFill);
    m_nBufLen += nFill;
    pIn += nFill;
    nCount -= nFill;
    if (nCount == 0) return;
    m_file.Write(m_buf, m_nBufLen);
    m_nBufLen = 0;
  }

  // Whole buffers straight to the file; the tail waits in the buffer.
  const std::size_t nDirect = nCount / kArchiveBufferBytes * kArchiveBufferBytes;
  if (nDirect > 0) m_file.Write(pIn, nDirect);
  std::memcpy(m_buf, pIn + nDirect, nCount - nDirect);
  m_nBufLen = nCount - nDirect;
}

void CArchive::Close() {
  if (IsLoading() || m_nBufLen == 0) return;
  const std::size_t nPending = m_nBufLen;
  m_nBufLen = 0;
  m_file.Write(m_buf, nPending);
}
