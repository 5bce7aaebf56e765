#include "platform/read_ahead.h"

#include <gtest/gtest.h>

#include <string>

#include "test_support.h"

namespace {

class ReadAheadTest : public quorlix_test::TempDirTest {
 protected:
  // Bytes that differ from block to block and within each, so that a block out
  // of place or out of order shows.
  static std::string Numbered(std::size_t nBytes) {
    std::string str(nBytes, '\0');
    for (std::size_t i = 0; i < nBytes; ++i) str[i] = static_cast<char>(i * 7 + i / 1000);
    return str;
  }
};

// More blocks than the ring holds, so that the thread waits for room and its
// slots come round many times; the last block is short.
TEST_F(ReadAheadTest, BlocksArriveWholeAndInOrder) {
  constexpr std::size_t nBlock = 1000;
  const std::size_t nBlocks = 10 * CReadAhead::kBlocksAhead;
  const std::string strData = Numbered(nBlocks * nBlock + 123);
  CFile file(WriteFile("data.bin", strData), CFile::modeRead);
  // Read from an offset, as a decoder that has taken a first block itself does.
  CReadAhead ahead(file, nBlock, strData.size() - nBlock, nBlock);
  ByteBuffer pBlock = AllocateByteBuffer(nBlock);
  std::string strGot;
  for (std::size_t i = 1; i <= nBlocks; ++i) {
    const std::size_t nGot = ahead.Next(pBlock);
    ASSERT_EQ(nGot, i < nBlocks ? nBlock : 123) << "block " << i;
    strGot.append(reinterpret_cast<const char*>(pBlock.get()), nGot);
  }
  EXPECT_TRUE(strGot == strData.substr(nBlock));
}

// A file that ends before the length asked for gives a short block there, and
// nothing after it.
TEST_F(ReadAheadTest, FileShorterThanAskedEndsInAShortBlock) {
  const std::string strData = Numbered(2500);
  CFile file(WriteFile("data.bin", strData), CFile::modeRead);
  CReadAhead ahead(file, 0, 10'000, 1000);
  ByteBuffer pBlock = AllocateByteBuffer(1000);
  EXPECT_EQ(ahead.Next(pBlock), 1000u);
  EXPECT_EQ(ahead.Next(pBlock), 1000u);
  EXPECT_EQ(ahead.Next(pBlock), 500u);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(pBlock.get()), 500), strData.substr(2000));
  EXPECT_EQ(ahead.Next(pBlock), 0u);
}

// A read that fails raises the file layer's exception at that block, in the
// taker's thread.
TEST_F(ReadAheadTest, FailedReadRaisesAtItsBlock) {
  CFile file(PathOf("write_only.bin"), CFile::modeCreate | CFile::modeWrite);
  file.Write("0123456789", 10);
  CReadAhead ahead(file, 0, 10, 4);
  ByteBuffer pBlock = AllocateByteBuffer(4);
  EXPECT_THROW(ahead.Next(pBlock), CFileException);
}

// A taker that stops early ends the reading, also while the thread waits for
// room or is between blocks.
TEST_F(ReadAheadTest, TakerThatStopsEarlyEndsTheReading) {
  const std::string strData = Numbered(64 * 1000);
  CFile file(WriteFile("data.bin", strData), CFile::modeRead);
  for (std::size_t nTaken = 0; nTaken < 3; ++nTaken) {
    CReadAhead ahead(file, 0, strData.size(), 1000);
    ByteBuffer pBlock = AllocateByteBuffer(1000);
    for (std::size_t i = 0; i < nTaken; ++i) ASSERT_EQ(ahead.Next(pBlock), 1000u);
  }
}

}  // namespace
