// Body rendering: one forward pass from the byte after the body start tag to the
// body end tag. Tags vanish, text bytes pass the byte filter, digit references
// ("&" and a digit, up to ';') vanish whole, and each table start tag hands the
// reading to ConvertTable, whose lines land where the table stands. In
// tables-only mode the text outside tables is skipped unread.
#include <algorithm>
#include <cassert>
#include <cstdint>
#include <cstring>
#include <new>
#include <string_view>

#include "document/am_file.h"
#include "html/html_read.h"
#include "quorlix.h"
#include "scan/html_scan.h"

namespace {

// The body from its start tag's '>' (dropped first) to its end, with the runs of
// kept bytes and the tag ends found by Cursor, appended at nOut: QUORLIX_OK, or the
// status that ends the rendering. Inlined into one function per scanner, so that
// the SSSE3 scanner's steps are inlined with it.
//
// i is the index of the byte being handled (ch, with p = i + 1). Text is read
// while i < nBodyEnd - 1: the byte before the body end's '>' ends every run
// unhandled, and what is left then is dropped. A tag is collected up to its '>',
// or, when none stands before the body end, cut off before the byte before it.
// The input before each tag and stretch of text is passed to the release, and
// tables pass it on.
template <ScanLevel L>
[[gnu::always_inline]] inline int RenderBodyWith(CAMFile& doc, unsigned char* pOut, std::uint32_t nOutCapacity,
                                                 std::uint32_t& nOut) {
  const unsigned char* const pIn = doc.m_pInBuf.get();
  InputRelease release(doc.m_pInBuf.get());
  const std::uint32_t nBodyEnd = doc.m_nBodyEnd;
  const bool bTablesOnly = doc.m_bTablesOnly == 1;
  std::uint32_t j = nOut;
  std::uint32_t i = doc.m_nBodyStart;
  CursorAt<L, true, false> cursor(pIn, nBodyEnd);
  while (i + 1 < nBodyEnd) {
    release.Passed(i);
    if (pIn[i] == '<') {
      const std::uint32_t nFound = cursor.NextTagEnd(i + 1);
      const std::uint32_t nStop = nFound < nBodyEnd ? nFound : nBodyEnd - 1;
      const std::string_view tag(reinterpret_cast<const char*>(pIn) + i, nStop - i);
      std::uint32_t nPos = nStop + 1;
      if (TagBeginsWith(tag, "<TABLE")) {
        const int nTableStatus = doc.template ConvertTable<L>(pIn, pOut, j, nPos, release);
        if (nTableStatus != QUORLIX_OK) return nTableStatus;
      }
      // The byte after the tag; after a table that ended on the body end's '>' the loop ends.
      i = nPos;
      continue;
    }
    if (bTablesOnly || pIn[i] == '>') {
      ++i;  // dropped: a '>' outside any tag, or any text in tables-only mode
      continue;
    }
    while (i + 1 < nBodyEnd) {
      const TextByte kind = kBodyTextBytes[pIn[i]];
      if (kind == TextByte::kTagEdge) break;
      if (kind == TextByte::kDropped) {
        ++i;
        continue;
      }
      if (kind == TextByte::kAmpersand && IsDecimalDigit(pIn[i + 1])) {
        // A digit reference, up to its ';' at or before the body end, vanishes.
        const void* pSemicolon = std::memchr(pIn + i + 2, ';', nBodyEnd - i - 1);
        if (!pSemicolon) return QUORLIX_HTML_BODY_FAILED;
        i = static_cast<std::uint32_t>(static_cast<const unsigned char*>(pSemicolon) - pIn) + 1;
        continue;
      }
      // Stored, with the kept bytes that follow it up to the byte before the body end's '>'.
      const std::uint32_t nStop = std::min(cursor.NextStop(i + 1), nBodyEnd - 1);
      CopyTextRun(pOut + j, nOutCapacity - j, pIn + i, nBodyEnd + 1 - i, nStop - i);
      j += nStop - i;
      i = nStop;
    }
  }
  nOut = j;
  return QUORLIX_OK;
}

// One form per scan level, each compiled with its level's target so that the
// cursor's steps are inlined into it; each hands its tables to ConvertTable's
// form of the same level.
template <ScanLevel L>
int RenderBodyAt(CAMFile& doc, unsigned char* pOut, std::uint32_t nOutCapacity, std::uint32_t& nOut);

template <>
int RenderBodyAt<ScanLevel::kPortable>(CAMFile& doc, unsigned char* pOut, std::uint32_t nOutCapacity,
                                       std::uint32_t& nOut) {
  return RenderBodyWith<ScanLevel::kPortable>(doc, pOut, nOutCapacity, nOut);
}

#ifdef QUORLIX_HAS_VECTOR_SCAN
template <>
QUORLIX_SSSE3_TARGET int RenderBodyAt<ScanLevel::kSsse3>(CAMFile& doc, unsigned char* pOut, std::uint32_t nOutCapacity,
                                                         std::uint32_t& nOut) {
  return RenderBodyWith<ScanLevel::kSsse3>(doc, pOut, nOutCapacity, nOut);
}

template <>
QUORLIX_SSSE3_TARGET int RenderBodyAt<ScanLevel::kAvx2>(CAMFile& doc, unsigned char* pOut, std::uint32_t nOutCapacity,
                                                        std::uint32_t& nOut) {
  return RenderBodyWith<ScanLevel::kAvx2>(doc, pOut, nOutCapacity, nOut);
}
#endif

}  // namespace

int CAMFile::RenderBody() {
  const std::uint32_t nBodyEnd = m_nBodyEnd;
  // A body end before the body start has no body: refused here, before any size
  // is computed from the two.
  if (nBodyEnd <= m_nBodyStart || nBodyEnd >= m_nInLen) return m_nStatus = QUORLIX_HTML_BODY_FAILED;

  try {
    m_nOutLen = nBodyEnd - m_nBodyStart + 1;
    m_pOutBuf = AllocateSparseByteBuffer(m_nOutLen);
    m_strTag.clear();
    std::uint32_t j = 0;
    const int nStatus =
        WithScanLevel([&]<ScanLevel L>() { return RenderBodyAt<L>(*this, m_pOutBuf.get(), m_nOutLen, j); });
    if (nStatus != QUORLIX_OK) return m_nStatus = nStatus;

    assert(j < m_nOutLen);
    m_nOutLen = j;
    m_pInBuf.reset();
    return m_nStatus = QUORLIX_OK;
  } catch (const std::bad_alloc&) {
    RecordFailure(FailureCause::kNoMemory, FailedFile::kNone);
    return m_nStatus = QUORLIX_HTML_BODY_FAILED;
  }
}
