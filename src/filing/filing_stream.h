// The filing decoder's state as it passes from one block of the filing to the
// next. A filing is one stream of lines: a line, a CR LF pair or a schedule may
// straddle a block boundary, so everything a line needs lives here rather than
// in one block's decoding.
#pragma once

#include <algorithm>
#include <cassert>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <new>
#include <string_view>

#include "platform/archive.h"
#include "platform/byte_buffer.h"
#include "platform/file.h"
#include "platform/platform_string.h"

// Largest block of the filing held in memory at once.
inline constexpr std::uint32_t kFilingBlockBytes = 0xFFFF;

// What a classification leaves in place of a line that no output gets; compared
// without regard to case.
inline constexpr std::string_view kFilingDropMarker = "<NUL>";

// The characters that trimming a line or a value removes.
inline constexpr std::string_view kFilingBlanks = " \t\n\v\f\r";

inline constexpr bool IsFilingBlank(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}
static_assert(
    [] {
      for (int b = 0; b < 256; ++b)
        if (IsFilingBlank(static_cast<char>(b)) != (kFilingBlanks.find(static_cast<char>(b)) != std::string_view::npos))
          return false;
      return true;
    }(),
    "IsFilingBlank holds for the bytes of kFilingBlanks and no others");

// The first byte of str at or after nFrom that is not blank, or npos; the same as
// find_first_not_of(kFilingBlanks, nFrom), a byte compared at a time, without a
// library search per byte.
inline constexpr std::size_t FindFilingNonBlank(std::string_view str, std::size_t nFrom = 0) {
  for (; nFrom < str.size(); ++nFrom)
    if (!IsFilingBlank(str[nFrom])) return nFrom;
  return std::string_view::npos;
}

// The decoded text waiting for the text output. Unlike a string, it makes room
// without filling it, so that runs of line bytes are copied straight in. It
// grows in steps of half its size into a buffer that costs about what it holds
// (see GrowingByteBuffer), so a line of any length is held once.
class FilingText {
 public:
  std::size_t size() const noexcept { return m_nSize; }
  const char* data() const noexcept { return reinterpret_cast<const char*>(m_bytes.get()); }
  char* data() noexcept { return reinterpret_cast<char*>(m_bytes.get()); }
  std::string_view View() const noexcept { return {data(), m_nSize}; }

  // Makes room for nMore bytes past the end, keeping the text; raises
  // std::bad_alloc when there is no memory, or no size_t to count it in.
  void Reserve(std::size_t nMore) {
    const std::size_t nCapacity = m_bytes.capacity();
    if (nCapacity - m_nSize >= nMore) return;
    if (nMore > SIZE_MAX - m_nSize) throw std::bad_alloc();
    const std::size_t nStep = std::min(nCapacity / 2, SIZE_MAX - nCapacity);
    m_bytes.Grow(std::max(nCapacity + nStep, m_nSize + nMore), m_nSize);
  }
  // Where bytes written in the reserved room go; Grow counts them in.
  unsigned char* End() noexcept { return m_bytes.get() + m_nSize; }
  void Grow(std::size_t nWritten) noexcept {
    assert(nWritten <= m_bytes.capacity() - m_nSize);
    m_nSize += nWritten;
  }

  void Append(std::string_view str) {
    Reserve(str.size());
    if (!str.empty()) std::memcpy(End(), str.data(), str.size());
    m_nSize += str.size();
  }
  void Insert(std::size_t nAt, std::string_view str) {
    assert(nAt <= m_nSize);
    Reserve(str.size());
    unsigned char* const pAt = m_bytes.get() + nAt;
    std::memmove(pAt + str.size(), pAt, m_nSize - nAt);
    if (!str.empty()) std::memcpy(pAt, str.data(), str.size());
    m_nSize += str.size();
  }
  void Truncate(std::size_t nSize) noexcept {
    assert(nSize <= m_nSize);
    m_nSize = nSize;
  }
  void EraseFront(std::size_t nCount) noexcept {
    assert(nCount <= m_nSize);
    std::memmove(m_bytes.get(), m_bytes.get() + nCount, m_nSize - nCount);
    m_nSize -= nCount;
  }

 private:
  GrowingByteBuffer m_bytes;
  std::size_t m_nSize = 0;
};

// How the current line is routed to the two outputs.
struct FilingCopyFlags {
  bool bCapture = false;        // lines go to the schedule output too
  bool bScheduleEnded = false;  // the last tag of a schedule was seen: copying stops after each written line
  bool bInLegend = false;       // inside a schedule legend: the schedule output is suspended
  bool bEmitTag = false;        // the current line's tag is written back in front of it
};

struct FilingStream {
  // Both outputs are buffered; Close writes out what is still held.
  FilingStream(CFile& fileText, CFile& fileSchedule) noexcept
      : arText(fileText, CArchive::store), arSchedule(fileSchedule, CArchive::store) {}

  // The current line starts at text's end: the lines before it are done.
  void CommitLine() noexcept { nLineStart = text.size(); }
  std::string_view CurrentLine() const noexcept { return text.View().substr(nLineStart); }
  std::size_t CurrentLineSize() const noexcept { return text.size() - nLineStart; }

  // Hands the finished lines to the text archive in one transfer; the current
  // line moves to the front. Lines that failed to go out are dropped, as an
  // abandoned archive drops what it holds.
  void WriteDoneLines() { WriteLines(nLineStart); }

  // The same, and the done text from nCopyFrom on to the schedule archive too,
  // after the text archive has it. The bytes go out from the text itself, so a
  // long line is never copied.
  void WriteDoneLinesCopyingFrom(std::size_t nCopyFrom) {
    assert(nCopyFrom <= nLineStart);
    const std::size_t nDone = nLineStart;
    try {
      arText.Write(text.data(), nDone);
      arSchedule.Write(text.data() + nCopyFrom, nDone - nCopyFrom);
    } catch (...) {
      DropDoneLines(nDone);
      throw;
    }
    DropDoneLines(nDone);
  }

  // The same, as far as the lines fill the archive's buffer and whole buffers
  // after it: the archive then passes them straight to the file in one transfer,
  // and the rest waits here rather than in its buffer. The file receives the
  // same bytes as from WriteDoneLines.
  void WriteDoneLinesInWholeBuffers() {
    const std::size_t nHeld = arText.BufferedBytes();
    const std::size_t nUpTo = (nHeld + nLineStart) / CArchive::kArchiveBufferBytes * CArchive::kArchiveBufferBytes;
    if (nUpTo > nHeld) WriteLines(nUpTo - nHeld);
  }

  void Close() {
    WriteLines(nLineStart);
    arText.Close();
    arSchedule.Close();
  }

  CArchive arText;
  CArchive arSchedule;
  // Decoded text waiting for the text archive: whole lines, then from nLineStart
  // the line being assembled. Lines are gathered here so that they reach the
  // archive in large transfers; before anything goes to the schedule output, the
  // text before it goes out, so both outputs see their writes in line order.
  FilingText text;
  std::size_t nLineStart = 0;
  // The first bytes of the current line known to hold no '>', so that the line
  // end looks for its tag only in the rest; 0 (nothing known) is always right.
  std::size_t nLineBytesWithoutGt = 0;
  CString strRow;  // a schedule row made of a line
  // The tag, in capitals, of the line dropped that left bEmitTag set: a line
  // without a '>' that follows gets it in front (one with a '>' gets its own tag).
  CString strTag;
  // The byte before the current one, as far as line ends care: CR after a CR, a
  // byte added to the line after that byte; an LF or a dropped byte leaves it.
  unsigned char chPrev = ' ';
  // The line ends in a CR that was the last byte of its block: the first byte of
  // the next block decides whether an LF completes it.
  bool bCrPending = false;
  FilingCopyFlags flags;

 private:
  void WriteLines(std::size_t nDone) {
    if (nDone == 0) return;
    try {
      arText.Write(text.data(), nDone);
    } catch (...) {
      DropDoneLines(nDone);
      throw;
    }
    DropDoneLines(nDone);
  }

  void DropDoneLines(std::size_t nDone) noexcept {
    text.EraseFront(nDone);
    nLineStart -= nDone;
  }
};
