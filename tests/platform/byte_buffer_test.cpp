#include "platform/byte_buffer.h"

#include <gtest/gtest.h>

#include <cstddef>
#include <cstdint>
#include <limits>
#include <new>
#include <utility>

namespace {

unsigned char PatternByte(std::size_t i) { return static_cast<unsigned char>(i * 7 + i / 4093); }

void Fill(GrowingByteBuffer& buffer, std::size_t nFrom, std::size_t nTo) {
  for (std::size_t i = nFrom; i < nTo; ++i) buffer.get()[i] = PatternByte(i);
}

// The first nBytes as Fill wrote them; reports the first place that differs.
::testing::AssertionResult HoldsPattern(const GrowingByteBuffer& buffer, std::size_t nBytes) {
  for (std::size_t i = 0; i < nBytes; ++i)
    if (buffer.get()[i] != PatternByte(i)) return ::testing::AssertionFailure() << "byte " << i << " changed";
  return ::testing::AssertionSuccess();
}

// A large buffer starts on a huge page on Linux, and every size, either kind,
// holds what is written to its last byte and is freed as it was made (which the
// sanitizer build checks), also after it is handed on and its pages released.
TEST(AllocateByteBuffer, LargeBuffersStartOnAHugePageAndAreFreedAsMade) {
  constexpr std::size_t kHugePageBytes = std::size_t{2} << 20;
  for (const std::size_t nBytes :
       {std::size_t{1}, 2 * kHugePageBytes - 1, 2 * kHugePageBytes, 5 * kHugePageBytes + 3}) {
    for (const bool bSparse : {false, true}) {
      ByteBuffer pBuf = bSparse ? AllocateSparseByteBuffer(nBytes) : AllocateByteBuffer(nBytes);
      pBuf[0] = 1;
      pBuf[nBytes - 1] = 2;
#ifdef __linux__
      if (nBytes >= 2 * kHugePageBytes) {
        EXPECT_EQ(reinterpret_cast<std::uintptr_t>(pBuf.get()) % kHugePageBytes, 0u);
      }
#endif
      ByteBuffer pMoved = std::move(pBuf);
      ReleaseBufferPages(pMoved.get(), nBytes);
    }
  }
}

// From the heap to a mapping of its own and on through mappings that grow: every
// step keeps the bytes written, and gives at least the room asked for.
TEST(GrowingByteBuffer, KeepsItsBytesAsItGrowsFromSmallToLarge) {
  GrowingByteBuffer buffer;
  EXPECT_EQ(buffer.capacity(), 0u);
  std::size_t nHeld = 0;
  for (const std::size_t nCapacity : {std::size_t{100}, std::size_t{70000}, std::size_t{1} << 20,
                                      (std::size_t{3} << 20) + 5, std::size_t{12} << 20}) {
    buffer.Grow(nCapacity, nHeld);
    ASSERT_GE(buffer.capacity(), nCapacity);
    EXPECT_TRUE(HoldsPattern(buffer, nHeld)) << "after growing to " << nCapacity;
    Fill(buffer, nHeld, nCapacity);
    nHeld = nCapacity;
  }
  EXPECT_TRUE(HoldsPattern(buffer, nHeld));
}

TEST(GrowingByteBuffer, KeepsOnlyWhatItIsToldToKeep) {
  GrowingByteBuffer buffer;
  buffer.Grow(1000, 0);
  Fill(buffer, 0, 10);
  buffer.Grow(std::size_t{2} << 20, 10);  // heap to mapping: ten bytes are copied, no more
  EXPECT_TRUE(HoldsPattern(buffer, 10));
}

TEST(GrowingByteBuffer, AskingForLessChangesNothing) {
  GrowingByteBuffer buffer;
  buffer.Grow(std::size_t{2} << 20, 0);
  unsigned char* const pBefore = buffer.get();
  const std::size_t nBefore = buffer.capacity();
  buffer.Grow(100, 0);
  EXPECT_EQ(buffer.get(), pBefore);
  EXPECT_EQ(buffer.capacity(), nBefore);
}

TEST(GrowingByteBuffer, NoMemoryRaisesAndKeepsTheBuffer) {
  for (const std::size_t nStart : {std::size_t{1000}, std::size_t{2} << 20}) {  // on the heap and mapped
    GrowingByteBuffer buffer;
    buffer.Grow(nStart, 0);
    Fill(buffer, 0, nStart);
    EXPECT_THROW(buffer.Grow(std::numeric_limits<std::size_t>::max() / 2, nStart), std::bad_alloc);
    EXPECT_THROW(buffer.Grow(std::numeric_limits<std::size_t>::max(), nStart), std::bad_alloc);
    ASSERT_GE(buffer.capacity(), nStart);
    EXPECT_TRUE(HoldsPattern(buffer, nStart));
  }
}

}  // namespace
