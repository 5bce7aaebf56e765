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

// With ch on a '<': collects the tag text into strTag, up to its '>' or, when none
// stands before the body end, up to the byte before the body end. Unlike the
// table's HtmlScan::CollectClosedTag it never fails.
void CollectTagCutAtBodyEnd(HtmlScan& scan, CString& strTag) {
  const std::uint32_t nFrom = scan.p - 1;
  const void* pFound = std::memchr(scan.pIn + scan.p, '>', scan.nLast - scan.p);
  const std::uint32_t nStop =
      pFound ? static_cast<std::uint32_t>(static_cast<const unsigned char*>(pFound) - scan.pIn) : scan.nLast - 1;
  strTag.assign(reinterpret_cast<const char*>(scan.pIn) + nFrom, nStop - nFrom);
  scan.p = nStop;
  scan.Take();
}

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
    HtmlScan scan{m_pInBuf.get(), nBodyEnd, m_nBodyStart};
    scan.Take();
    bool bTook = false;
    m_strTag.clear();

    while (scan.p < nBodyEnd) {
      if (scan.ch == '<') {
        CollectTagCutAtBodyEnd(scan, m_strTag);
        if (TagBeginsWith(m_strTag, "<TABLE")) {
          m_strTag.clear();
          const int nTableStatus = ConvertTable(scan.pIn, pOut, j, scan.p);
          if (nTableStatus != QUORLIX_OK) return m_nStatus = nTableStatus;
        }
        // Fails only when the table ended on the body end's '>': the loop ends then.
        scan.Take();
        m_strTag.clear();
        continue;
      }

      if (!bTablesOnly) {
        // The run stops at a tag edge and, unhandled, at the byte before the body end.
        while (scan.ch != '<' && scan.ch != '>' && scan.p < nBodyEnd) {
          bTook = true;
          const TextByte kind = kBodyTextBytes[scan.ch];
          if (kind == TextByte::kAmpersand && scan.AtDigitReference()) {
            if (!scan.SkipDigitReference()) return m_nStatus = QUORLIX_HTML_BODY_FAILED;
            continue;
          }
          if (kind != TextByte::kDropped) pOut[j++] = scan.ch;
          scan.Take();
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
