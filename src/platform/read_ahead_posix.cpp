#include "platform/read_ahead.h"

#include <pthread.h>
#include <signal.h>

#include <algorithm>
#include <new>
#include <system_error>

namespace {

// The thread takes no signals, so that they reach the caller's threads as before.
class AllSignalsBlocked {
 public:
  AllSignalsBlocked() noexcept {
    sigset_t all;
    sigfillset(&all);
    ::pthread_sigmask(SIG_SETMASK, &all, &m_old);
  }
  ~AllSignalsBlocked() { ::pthread_sigmask(SIG_SETMASK, &m_old, nullptr); }
  AllSignalsBlocked(const AllSignalsBlocked&) = delete;
  AllSignalsBlocked& operator=(const AllSignalsBlocked&) = delete;

 private:
  sigset_t m_old;
};

}  // namespace

CReadAhead::CReadAhead(CFile& file, std::uint64_t nOffset, std::uint64_t nLength, std::size_t nBlockBytes)
    : m_file(file), m_nOffset(nOffset), m_nLength(nLength), m_nBlockBytes(nBlockBytes), m_blocks(kBlocksAhead) {
  for (Block& block : m_blocks) block.pBytes = AllocateByteBuffer(nBlockBytes);
  const AllSignalsBlocked blocked;
  m_thread = std::thread([this] { ReadBlocks(); });
}

CReadAhead::~CReadAhead() {
  {
    const std::lock_guard lock(m_mutex);
    m_bStop = true;
  }
  m_cvTaken.notify_one();
  m_thread.join();
}

// The reader waits when the ring is full, and goes on only once half of it is
// free again, so that it is woken once for many blocks rather than for each.
void CReadAhead::ReadBlocks() noexcept {
  for (std::uint64_t nDone = 0; nDone < m_nLength;) {
    Block* pBlock = nullptr;
    {
      std::unique_lock lock(m_mutex);
      if (m_nRead - m_nTaken == kBlocksAhead) {
        m_bReaderWaits = true;
        m_cvTaken.wait(lock, [this] { return m_bStop || m_nRead - m_nTaken <= kBlocksAhead / 2; });
        m_bReaderWaits = false;
      }
      if (m_bStop) break;
      pBlock = &m_blocks[m_nRead % kBlocksAhead];
    }
    // The block's slot is the reader's alone until m_nRead counts it.
    const auto nWanted = static_cast<std::size_t>(std::min<std::uint64_t>(m_nBlockBytes, m_nLength - nDone));
    try {
      m_file.SeekToOffset(m_nOffset + nDone);
      pBlock->nGot = m_file.Read(pBlock->pBytes.get(), nWanted);
    } catch (...) {
      pBlock->pError = std::current_exception();
    }
    nDone += nWanted;
    const bool bLast = pBlock->pError || pBlock->nGot != nWanted || nDone == m_nLength;
    bool bWake = false;
    {
      const std::lock_guard lock(m_mutex);
      ++m_nRead;
      m_bReadingEnded = bLast;
      bWake = m_bTakerWaits;
    }
    if (bWake) m_cvRead.notify_one();
    if (bLast) return;
  }
  const std::lock_guard lock(m_mutex);
  m_bReadingEnded = true;
  m_cvRead.notify_one();
}

std::size_t CReadAhead::Next(ByteBuffer& pBlock) {
  std::unique_lock lock(m_mutex);
  if (m_nRead == m_nTaken) {
    m_bTakerWaits = true;
    m_cvRead.wait(lock, [this] { return m_nRead != m_nTaken || m_bReadingEnded; });
    m_bTakerWaits = false;
  }
  // Asked for more than the file has: a short read, as at an early end.
  if (m_nRead == m_nTaken) return 0;
  Block& block = m_blocks[m_nTaken % kBlocksAhead];
  lock.unlock();  // the slot is the taker's until m_nTaken moves past it

  if (block.pError) std::rethrow_exception(block.pError);
  std::swap(pBlock, block.pBytes);
  const std::size_t nGot = block.nGot;
  lock.lock();
  ++m_nTaken;
  const bool bWake = m_bReaderWaits && m_nRead - m_nTaken <= kBlocksAhead / 2;
  lock.unlock();
  if (bWake) m_cvTaken.notify_one();
  return nGot;
}

void StartReadAhead(std::optional<CReadAhead>& ahead, CFile& file, std::uint64_t nOffset, std::uint64_t nLength,
                    std::size_t nBlockBytes) noexcept {
  try {
    ahead.emplace(file, nOffset, nLength, nBlockBytes);
  } catch (const std::system_error&) {
  } catch (const std::bad_alloc&) {
  }
}
