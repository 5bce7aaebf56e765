// The row reader, one byte class at a time: the table's rules inside a row, with
// the cell marks and the tag steps that the windowed reader (row_windows.cpp)
// shares. The plainest statement of the same rules, byte by byte, is the
// reference rendering in tests/reference/, which the tests and fuzz_html compare
// both readers with.
#pragma once

#include <cassert>
#include <cstdint>
#include <cstring>
#include <string_view>

#include "html/table_tags.h"
#include "scan/html_scan.h"

// Where a cell's text begins: the read position after its start tag and the
// output length then. A row starts with a mark on its own first byte.
struct CellMark {
  std::uint32_t nPos;
  std::uint32_t nOut;
};

// A table tag met inside a row at i, its '>' at nGt, applied to the row built so
// far in pOut up to j (from nOut on): true when it ends the row, with nOut and
// nPos set to the row's end in the output and to where reading goes on. The row
// reader and the windowed table reader share it.
template <typename StoreFn>
[[gnu::always_inline]] inline bool TakeRowTag(TableTag tag, std::uint32_t i, std::uint32_t nGt, unsigned char* pOut,
                                              std::uint32_t& j, CellMark& mark, bool& bQuoted, bool& bCellClosed,
                                              std::uint32_t& nOut, std::uint32_t& nPos, const StoreFn& Store) {
  switch (tag) {
    case TableTag::kLineBreak:
      Store('\r');
      Store('\n');
      break;
    case TableTag::kCellStart:
      mark = {nGt + 1, j};
      bCellClosed = false;
      break;
    case TableTag::kRowEnd:
      // The row's last byte (the comma after its last cell) becomes CR; an
      // empty row has none to give, so it stores the whole line end.
      if (j == nOut) Store('\r');
      else pOut[j - 1] = '\r';
      Store('\n');
      nOut = j;
      nPos = nGt + 1;
      return true;
    case TableTag::kTableEnd:
      // Left on the tag's '<', so that the table reads its end tag itself.
      Store('\r');
      Store('\n');
      nOut = j;
      nPos = i;
      return true;
    case TableTag::kCellEnd:
      // The closing quote goes where the comma goes when there is none.
      pOut[j] = '"';
      j += bQuoted ? 1 : 0;
      Store(',');
      bQuoted = false;
      bCellClosed = true;
      break;
    case TableTag::kRowStart:
    case TableTag::kOther: break;
  }
  return false;
}

// Reads the row from the byte after its start tag (at nPos) up to its end, with
// the runs of kept bytes and the tag ends found by Cursor, and writes its line at
// nOut. False when a step would take a byte after the body end (nLast). Inlined
// into one function per scanner, so that the SSSE3 scanner's steps are inlined
// with it; the read and write positions stay local, held in registers rather
// than reloaded after every byte stored.
//
// The loop keeps i, the index of the byte being handled (ch, with p = i + 1), and
// handles each byte by its class alone. A step takes a byte after the body end
// only from the body end's own '>' at nLast: text runs, dropped bytes and digit
// references all stop before it, and a tag closes at the latest on it. So the
// row fails exactly where i would leave nLast, or where a digit reference has no
// ';' before it.
template <typename Cursor>
[[gnu::always_inline]] inline bool ReadRow(const unsigned char* pIn, std::uint32_t nLast, unsigned char* pOut,
                                           std::uint32_t nOutCapacity, std::uint32_t& nOut, std::uint32_t& nPos) {
  assert(pIn[nLast] == '>');
  std::uint32_t j = nOut;
  const auto Store = [&](unsigned char b) {
    assert(j < nOutCapacity);
    pOut[j++] = b;
  };
  CellMark mark{nPos, j};
  bool bQuoted = false;
  // After a cell end tag the mark still names the closed cell; reading that cell
  // again for a comma between cells would meet the same comma for ever, so such a
  // comma is plain text.
  bool bCellClosed = false;
  std::uint32_t i = nPos;
  if (i > nLast) return false;
  Cursor cursor(pIn, nLast);

  for (;;) {
    const unsigned char ch = pIn[i];
    switch (kRowTextBytes[ch]) {
      case TextByte::kDropped: ++i; continue;
      case TextByte::kComma:
        if (!bQuoted && !bCellClosed) {
          // The cell holds a comma: store it again from its start, behind a quote.
          j = mark.nOut;
          i = mark.nPos;
          Store('"');
          bQuoted = true;
          continue;
        }
        break;  // stored as text
      case TextByte::kAmpersand:
        if (IsDecimalDigit(pIn[i + 1])) {
          // A digit reference, up to its ';' (never the '>' at nLast), vanishes.
          const void* pSemicolon = std::memchr(pIn + i + 2, ';', nLast - i - 1);
          if (!pSemicolon) return false;
          i = static_cast<std::uint32_t>(static_cast<const unsigned char*>(pSemicolon) - pIn) + 1;
          continue;
        }
        break;  // stored as text
      case TextByte::kKept: break;
      case TextByte::kTagEdge:
        if (ch == '>') {
          if (i == nLast) return false;
          ++i;
          continue;
        }
        {
          const std::uint32_t nGt = cursor.NextTagEnd(i + 1);
          if (nGt > nLast) return false;
          const std::string_view tag(reinterpret_cast<const char*>(pIn) + i, nGt - i);
          if (TakeRowTag(TagInsideRow(tag), i, nGt, pOut, j, mark, bQuoted, bCellClosed, nOut, nPos, Store))
            return true;
          // On to the byte after the '>', which must not be the body end's.
          if (nGt == nLast) return false;
          i = nGt + 1;
          continue;
        }
    }
    // Stored as text, with the kept bytes that follow it at once; '>' at nLast ends every run.
    const std::uint32_t nStop = cursor.NextStop(i + 1);
    CopyTextRun(pOut + j, nOutCapacity - j, pIn + i, nLast + 1 - i, nStop - i);
    j += nStop - i;
    i = nStop;
  }
}
