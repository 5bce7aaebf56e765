// A file read ahead of its reader, a block at a time, on a thread of its own, so
// that copying the next blocks in overlaps the work on this one. Each block is
// read as the reader would read it itself, a seek to its offset and then
// CFile::Read, so it arrives with the same bytes, the same short length where the
// file ends early, and the same exception where a read fails.
//
// On Windows the library keeps to the thread that calls it: each block is read
// when it is asked for.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#if !defined(_WIN32)
#include <condition_variable>
#include <exception>
#include <mutex>
#include <thread>
#include <vector>
#endif

#include "platform/byte_buffer.h"
#include "platform/file.h"

class CReadAhead {
 public:
  // Blocks held ready at most; memory: this many blocks.
  static constexpr std::size_t kBlocksAhead = 16;
  // Whether the reading runs on a thread of its own (not on Windows).
#if defined(_WIN32)
  static constexpr bool kOnItsOwnThread = false;
#else
  static constexpr bool kOnItsOwnThread = true;
#endif

  // Starts reading nLength bytes of file from nOffset in blocks of nBlockBytes
  // (the last one shorter). The file belongs to the reading thread until this is
  // destroyed. Raises std::bad_alloc or std::system_error when it cannot start.
  CReadAhead(CFile& file, std::uint64_t nOffset, std::uint64_t nLength, std::size_t nBlockBytes);
  // Stops reading, after the block being read.
  ~CReadAhead();
  CReadAhead(const CReadAhead&) = delete;
  CReadAhead& operator=(const CReadAhead&) = delete;

  // Waits for the next block and hands it over by swapping it into pBlock, a
  // buffer of at least nBlockBytes whose old bytes the thread then reads over.
  // Returns the block's length, short only where the file ended early; raises
  // what its read raised. No block follows a short or failed one.
  std::size_t Next(ByteBuffer& pBlock);

 private:
  CFile& m_file;
  const std::uint64_t m_nOffset;
  const std::uint64_t m_nLength;
  const std::size_t m_nBlockBytes;
#if defined(_WIN32)
  std::uint64_t m_nDone = 0;  // bytes asked for so far
  bool m_bEnded = false;      // a short or failed read ended the file
#else
  struct Block {
    ByteBuffer pBytes;
    std::size_t nGot = 0;
    std::exception_ptr pError;
  };

  void ReadBlocks() noexcept;

  std::vector<Block> m_blocks;  // a ring: block i in m_blocks[i % kBlocksAhead]
  std::mutex m_mutex;
  std::condition_variable m_cvRead;   // a block was read, or the reading ended
  std::condition_variable m_cvTaken;  // blocks were taken, or the reading must stop
  std::uint64_t m_nRead = 0;          // blocks read so far
  std::uint64_t m_nTaken = 0;         // blocks handed over so far
  bool m_bReadingEnded = false;
  bool m_bStop = false;
  bool m_bReaderWaits = false;
  bool m_bTakerWaits = false;
  std::thread m_thread;
#endif
};

// Starts reading ahead into ahead, or leaves it empty where it cannot start (no
// memory, or no thread to be had): the caller then reads for itself.
void StartReadAhead(std::optional<CReadAhead>& ahead, CFile& file, std::uint64_t nOffset, std::uint64_t nLength,
                    std::size_t nBlockBytes) noexcept;
