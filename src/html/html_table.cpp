// Tables as comma-separated lines: each row becomes one line ended by CR LF, its
// cells separated by commas, a cell holding a comma enclosed in double quotes,
// and the table followed by one more CR LF. A row is built in place at the end of
// the output: a comma found inside a cell sends the reading back to the cell's
// start and cuts the row back to where the cell began, to store the cell again
// behind an opening quote.
//
// The rules are written three times: in the tag rule table (table_tags.h) and the
// byte-at-a-time reader (row_reader.h), in the windowed reader of the SSSE3 and
// AVX2 levels (row_windows.cpp), and plainly, one byte at a time, in the
// reference rendering (tests/reference/html_reference.h) that the tests and
// fuzz_html hold both readers to. A change of a rule changes all three.
//
// Why the output buffer of the body (body end - body start + 1 bytes) is never
// overrun, at any moment: every byte written can be charged to a distinct input
// byte of the body read before it is written. Text stands for itself; an opening
// quote for the '>' of the cell or row start tag that set the mark (a mark opens
// one quote at most); the closing quote
// and comma of a cell for the '<' and '/' of its end tag; the CR LF of "<BR" for
// its '<' and 'B'; the LF after a row end for its '<' (CR too, for '/', when the
// row was empty); the CR LF that a table end tag adds to a row for its '<' and
// '/', and the table's own CR LF for its 'T' and 'A' when the tag is read twice.
// A row cut back to its mark drops exactly the bytes charged after the mark.
#include <cstdint>
#include <new>
#include <string_view>

#include "document/am_file.h"
#include "html/html_read.h"
#include "html/row_reader.h"
#include "html/row_windows.h"
#include "html/table_tags.h"
#include "quorlix.h"

// ---- Row ----

int CAMFile::ConvertRow(const unsigned char* pIn, unsigned char* pOut, std::uint32_t& nOut, std::uint32_t& nPos) {
  const bool bRead = ReadRow<PortableCursor<false, true>>(pIn, m_nBodyEnd, pOut, m_nOutLen, nOut, nPos);
  return bRead ? QUORLIX_OK : m_nStatus = QUORLIX_HTML_ROW_FAILED;
}

// ---- Table ----

// The levels above the portable one read the whole table in windows; the
// portable one reads it here, handing each row to ConvertRow.
template <ScanLevel L>
int CAMFile::ConvertTable(const unsigned char* pIn, unsigned char* pOut, std::uint32_t& nOut, std::uint32_t& nPos,
                          InputRelease& release) {
  if constexpr (L != ScanLevel::kPortable) {
    const int nStatus = L == ScanLevel::kAvx2 ? ReadTableAvx2(pIn, m_nBodyEnd, pOut, m_nOutLen, nOut, nPos, release)
                                              : ReadTableSsse3(pIn, m_nBodyEnd, pOut, m_nOutLen, nOut, nPos, release);
    return nStatus == QUORLIX_OK ? QUORLIX_OK : m_nStatus = nStatus;
  }
  try {
    HtmlScan scan{pIn, m_nBodyEnd, nPos};
    std::uint32_t j = nOut;
    if (!scan.Take()) return m_nStatus = QUORLIX_HTML_TABLE_FAILED;
    for (;;) {
      if (scan.ch == '>' && !scan.Take()) return m_nStatus = QUORLIX_HTML_TABLE_FAILED;

      // Text outside rows (blanks, a caption's text) goes straight to the output.
      while (scan.ch != '<' && scan.ch != '>') {
        const TextByte kind = kTableTextBytes[scan.ch];
        if (kind == TextByte::kAmpersand && scan.AtDigitReference()) {
          if (!scan.SkipDigitReference()) return m_nStatus = QUORLIX_HTML_TABLE_FAILED;
          continue;
        }
        if (kind != TextByte::kDropped) pOut[j++] = scan.ch;
        if (!scan.Take()) return m_nStatus = QUORLIX_HTML_TABLE_FAILED;
      }

      if (scan.ch != '<') continue;
      std::string_view tag;
      if (!scan.CollectClosedTag(tag)) return m_nStatus = QUORLIX_HTML_TABLE_FAILED;
      const TableTag tableTag = TagBetweenRows(tag);
      if (tableTag == TableTag::kRowStart) {
        release.Passed(scan.p);
        nOut = j;
        const int nRowStatus = ConvertRow(pIn, pOut, nOut, scan.p);
        if (nRowStatus != QUORLIX_OK) return m_nStatus = nRowStatus;
        j = nOut;
        if (!scan.Take()) return m_nStatus = QUORLIX_HTML_TABLE_FAILED;
      } else if (tableTag == TableTag::kTableEnd) {
        pOut[j++] = '\r';
        pOut[j++] = '\n';
        nOut = j;
        nPos = scan.p;
        return QUORLIX_OK;
      }
    }
  } catch (const std::bad_alloc&) {
    RecordFailure(FailureCause::kNoMemory, FailedFile::kNone);
    return m_nStatus = QUORLIX_HTML_TABLE_FAILED;
  }
}

template int CAMFile::ConvertTable<ScanLevel::kPortable>(const unsigned char*, unsigned char*, std::uint32_t&,
                                                         std::uint32_t&, InputRelease&);
#ifdef QUORLIX_HAS_VECTOR_SCAN
template int CAMFile::ConvertTable<ScanLevel::kSsse3>(const unsigned char*, unsigned char*, std::uint32_t&,
                                                      std::uint32_t&, InputRelease&);
template int CAMFile::ConvertTable<ScanLevel::kAvx2>(const unsigned char*, unsigned char*, std::uint32_t&,
                                                     std::uint32_t&, InputRelease&);
#endif
