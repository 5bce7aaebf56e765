// Body rendering: one forward pass from the byte after the body start tag to the
// body end tag. Tags vanish, text bytes pass the byte filter, digit references
// ("&" and a digit, up to ';') vanish whole, and each table start tag hands the
// reading to ConvertTable, whose lines land where the table stands. In
// tables-only mode the text outside tables is skipped unread.
#include <cassert>
#include <cstdint>
#include <cstring>
#include <new>

#include "document/am_file.h"
#include "html/html_scan.h"
#include "quorlix.h"

namespace {

// The read position of the body: ch the byte just taken, p the next one. Unlike
// inside tables, the body's own steps stop at the body end instead of failing.
struct BodyScan {
  const unsigned char* pIn;
  std::uint32_t nEnd;
  std::uint32_t p;
  unsigned char ch = 0;

  // A table may end on the body end's '>' itself; nothing after it is read then.
  void Take() {
    ch = p <= nEnd ? pIn[p] : 0;
    ++p;
  }

  // With ch on a '<': collects the tag text into strTag, up to its '>' or, when
  // none stands before the body end, up to the body end.
  void CollectTag(CString& strTag) {
    const std::uint32_t nFrom = p - 1;
    const void* pFound = std::memchr(pIn + p, '>', nEnd - p);
    const std::uint32_t nStop =
        pFound ? static_cast<std::uint32_t>(static_cast<const unsigned char*>(pFound) - pIn) : nEnd - 1;
    strTag.assign(reinterpret_cast<const char*>(pIn) + nFrom, nStop - nFrom);
    p = nStop;
    Take();
  }
};

}  // namespace

int CAMFile::RenderBody() {
  const std::uint32_t nBodyEnd = m_nBodyEnd;
  // A body end before the body start has no body: refused here, before any size
  // is computed from the two.
  if (nBodyEnd <= m_nBodyStart || nBodyEnd >= m_nInLen) return m_nStatus = QUORLIX_HTML_BODY_FAILED;

  try {
    m_nOutLen = nBodyEnd - m_nBodyStart + 1;
    m_pOutBuf = std::make_unique_for_overwrite<unsigned char[]>(m_nOutLen);
    unsigned char* const pOut = m_pOutBuf.get();
    const bool bTablesOnly = m_bTablesOnly == 1;
    std::uint32_t j = 0;
    BodyScan scan{m_pInBuf.get(), nBodyEnd, m_nBodyStart};
    scan.Take();
    bool bTook = false;
    m_strTag.clear();

    while (scan.p < nBodyEnd) {
      if (scan.ch == '<') {
        scan.CollectTag(m_strTag);
        if (TagBeginsWith(m_strTag, "<TABLE")) {
          m_strTag.clear();
          const int nTableStatus = ConvertTable(scan.pIn, pOut, j, scan.p);
          if (nTableStatus != QUORLIX_OK) return m_nStatus = nTableStatus;
        }
        scan.Take();
        m_strTag.clear();
        continue;
      }

      if (!bTablesOnly) {
        // The run stops at a tag edge and, unhandled, at the byte before the body end.
        while (scan.ch != '<' && scan.ch != '>' && scan.p < nBodyEnd) {
          switch (kBodyTextBytes[scan.ch]) {
            case TextByte::kAmpersand:
              if (IsDecimalDigit(scan.pIn[scan.p])) {
                // The body end limit of a table serves here too: no ';' before it fails.
                TableScan reference{scan.pIn, nBodyEnd, scan.p, scan.ch};
                if (!reference.SkipDigitReference()) return m_nStatus = QUORLIX_HTML_BODY_FAILED;
                scan.p = reference.p;
                scan.ch = reference.ch;
                bTook = true;
                continue;
              }
              [[fallthrough]];
            case TextByte::kKept:
            case TextByte::kComma:
              pOut[j++] = scan.ch;
              break;
            case TextByte::kDropped:
            case TextByte::kTagEdge:
              break;
          }
          scan.Take();
          bTook = true;
        }
      }
      // After a run, ch is the first byte it left unhandled; otherwise ch is a
      // stray '>' (or, in tables-only mode, any text byte) and is dropped.
      if (bTook) bTook = false;
      else scan.Take();
    }

    assert(j < m_nOutLen);
    m_nBodyStart = scan.p;
    m_nOutLen = j;
    m_pInBuf.reset();
    return m_nStatus = QUORLIX_OK;
  } catch (const std::bad_alloc&) {
    return m_nStatus = QUORLIX_HTML_BODY_FAILED;
  }
}
