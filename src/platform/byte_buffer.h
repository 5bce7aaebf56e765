// Byte buffers for whole files. Large buffers ask the system for huge pages,
// since filling hundreds of megabytes page by page costs more than the
// conversion itself.
#pragma once

#include <cstddef>
#include <memory>
#include <new>

// Frees a buffer as it was made: with new[], or aligned to nAlignment bytes.
struct ByteBufferDeleter {
  std::size_t nAlignment = 0;

  constexpr ByteBufferDeleter() noexcept = default;
  constexpr explicit ByteBufferDeleter(std::size_t nAligned) noexcept : nAlignment(nAligned) {}
  // A buffer made with new[] (as std::make_unique makes one) may be handed over.
  constexpr ByteBufferDeleter(std::default_delete<unsigned char[]>) noexcept {}

  void operator()(unsigned char* p) const noexcept {
    if (nAlignment != 0) ::operator delete[](p, std::align_val_t{nAlignment});
    else delete[] p;
  }
};

using ByteBuffer = std::unique_ptr<unsigned char[], ByteBufferDeleter>;

// A buffer of nBytes uninitialised bytes; raises std::bad_alloc when there is no memory.
ByteBuffer AllocateByteBuffer(std::size_t nBytes);

// The same for a buffer that may be filled in part only: its pages are mapped as
// they are first written, a huge page at a time where the system can.
ByteBuffer AllocateSparseByteBuffer(std::size_t nBytes);

// A buffer that grows while keeping its bytes, for text whose length is not known
// ahead. Growing by a copy would hold the old bytes and the new at once, twice
// the text; on Linux a large buffer is instead a mapping of its own, which the
// system enlarges or moves without copying, and whose pages are mapped as they
// are first written. So a buffer holding n bytes costs about n, whatever its
// capacity, there; elsewhere a growth copies the bytes kept.
class GrowingByteBuffer {
 public:
  GrowingByteBuffer() noexcept = default;
  GrowingByteBuffer(const GrowingByteBuffer&) = delete;
  GrowingByteBuffer& operator=(const GrowingByteBuffer&) = delete;
  ~GrowingByteBuffer();

  unsigned char* get() const noexcept { return m_pBytes; }
  std::size_t capacity() const noexcept { return m_nCapacity; }

  // Makes the capacity at least nCapacity, keeping the first nKeep bytes (at most
  // the capacity); raises std::bad_alloc when there is no memory, keeping the buffer as it was.
  void Grow(std::size_t nCapacity, std::size_t nKeep);

 private:
  unsigned char* m_pBytes = nullptr;
  std::size_t m_nCapacity = 0;
  bool m_bMapped = false;  // a mapping of its own rather than from the heap
};

// Gives the memory pages that lie wholly inside the nBytes at p back to the
// system, where it can take them: their bytes must not be read again.
void ReleaseBufferPages(unsigned char* p, std::size_t nBytes) noexcept;
