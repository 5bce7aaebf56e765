#include "platform/byte_buffer.h"

#include <cstdint>

#ifdef __linux__
#include <sys/mman.h>
#endif

namespace {

constexpr std::size_t kHugePageBytes = std::size_t{2} << 20;

// Marks the whole huge pages inside the buffer before anything touches them.
void AdviseHugePages([[maybe_unused]] unsigned char* pBuf, [[maybe_unused]] std::size_t nBytes) {
#ifdef __linux__
  const auto nStart = reinterpret_cast<std::uintptr_t>(pBuf);
  const std::uintptr_t nFirst = (nStart + kHugePageBytes - 1) & ~(kHugePageBytes - 1);
  const std::uintptr_t nEnd = (nStart + nBytes) & ~(kHugePageBytes - 1);
  if (nFirst < nEnd) ::madvise(reinterpret_cast<void*>(nFirst), nEnd - nFirst, MADV_HUGEPAGE);
#endif
}

}  // namespace

ByteBuffer AllocateByteBuffer(std::size_t nBytes) {
  ByteBuffer pBuf = std::make_unique_for_overwrite<unsigned char[]>(nBytes);
  if (nBytes >= 2 * kHugePageBytes) AdviseHugePages(pBuf.get(), nBytes);
  return pBuf;
}
