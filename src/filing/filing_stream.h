// The filing decoder's state as it passes from one block of the filing to the
// next. A filing is one stream of lines: a line, a CR LF pair or a schedule may
// straddle a block boundary, so everything a line needs lives here rather than
// in one block's decoding.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "platform/archive.h"
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

  // The current line starts at strText's end: the lines before it are done.
  void CommitLine() noexcept { nLineStart = strText.size(); }
  std::string_view CurrentLine() const noexcept {
    return std::string_view(strText).substr(nLineStart);
  }
  std::size_t CurrentLineSize() const noexcept { return strText.size() - nLineStart; }

  // Hands the finished lines to the text archive in one transfer; the current
  // line moves to the front. Lines that failed to go out are dropped, as an
  // abandoned archive drops what it holds.
  void WriteDoneLines() {
    const std::size_t nDone = nLineStart;
    if (nDone == 0) return;
    try {
      arText.Write(strText.data(), nDone);
    } catch (...) {
      DropDoneLines(nDone);
      throw;
    }
    DropDoneLines(nDone);
  }

  void Close() {
    WriteDoneLines();
    arText.Close();
    arSchedule.Close();
  }

  CArchive arText;
  CArchive arSchedule;
  // Decoded text waiting for the text archive: whole lines, then from nLineStart
  // the line being assembled. Lines are gathered here so that they reach the
  // archive in large transfers; before anything goes to the schedule output, the
  // text before it goes out, so both outputs see their writes in line order.
  CString strText;
  std::size_t nLineStart = 0;
  // The first bytes of the current line known to hold no '>', so that the line
  // end looks for its tag only in the rest; 0 (nothing known) is always right.
  std::size_t nLineBytesWithoutGt = 0;
  CString strRest;  // a line's remainder after its tag is cut off, or its copy for the schedule
  CString strTag;   // the tag of the latest line that held a '>', in capitals
  // The byte before the current one, as far as line ends care: CR after a CR, a
  // byte added to the line after that byte; an LF or a dropped byte leaves it.
  unsigned char chPrev = ' ';
  // The line ends in a CR that was the last byte of its block: the first byte of
  // the next block decides whether an LF completes it.
  bool bCrPending = false;
  FilingCopyFlags flags;

 private:
  void DropDoneLines(std::size_t nDone) noexcept {
    strText.erase(0, nDone);
    nLineStart -= nDone;
  }
};
