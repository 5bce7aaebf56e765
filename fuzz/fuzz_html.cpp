// No input crashes, hangs or reads outside the HTML conversion in either mode; a
// success writes only printable ASCII, CR and LF, never more bytes than the body
// holds, and a failure writes nothing. With either scanner, the search for the
// body tags gives the same answer as a byte-by-byte twin does, and the conversion
// (with each scanner and form) the same status and text as a twin that reads the
// rendering rules one byte at a time. Each input is checked as it stands and in
// its large form (fuzz_support.h), of up to 1 MiB.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <memory>
#include <span>
#include <string>
#include <string_view>

#include "document/am_file.h"
#include "document/byte_filter.h"
#include "document/line_scan.h"
#include "fuzz_support.h"
#include "html/html_scan.h"
#include "quorlix.h"

namespace {

constexpr std::size_t kMaxInputBytes = 1 << 16;

bool HasOnlyTextBytes(const std::string& out) {
  for (const char c : out) {
    const auto b = static_cast<unsigned char>(c);
    if (b != '\r' && b != '\n' && (b < 0x20 || b > 0x7E)) return false;
  }
  return true;
}

// The body's bytes between the '>' of the last "<BODY" tag and that of the last
// "</BODY" tag, found by a plain scan of its own.
std::size_t BodyBytes(std::string_view page) {
  std::size_t nStart = 0, nEnd = 0;
  for (std::size_t nLt = page.find('<'); nLt != std::string_view::npos; nLt = page.find('<', nLt + 1)) {
    const std::size_t nGt = page.find('>', nLt);
    if (nGt == std::string_view::npos) break;
    const std::string_view tag = page.substr(nLt, nGt - nLt);
    if (tag.starts_with("<BODY")) nStart = nGt;
    if (tag.starts_with("</BODY")) nEnd = nGt;
    nLt = nGt;
  }
  return nEnd > nStart ? nEnd - nStart : 0;
}

// The tag search taken literally: a '<' opens a tag, the next '>' closes it.
bool FindBodyTagsByteByByte(std::string_view page, std::string_view startPattern, std::string_view endPattern,
                            HtmlBodyTags& tags) {
  bool bInTag = false;
  std::size_t nLt = 0;
  for (std::size_t k = 0; k < page.size(); ++k) {
    if (!bInTag && page[k] == '<') {
      nLt = k;
      bInTag = true;
    } else if (bInTag && page[k] == '>') {
      const std::string_view tag = page.substr(nLt, k - nLt);
      if (tag.starts_with(startPattern)) tags.nStart = static_cast<std::uint32_t>(k);
      if (tag.starts_with(endPattern)) tags.nEnd = static_cast<std::uint32_t>(k);
      bInTag = false;
    }
  }
  return !bInTag;
}

// ---- The rendering, one byte at a time ----

// The rules of the body, table and row rendering read literally: ch is the byte
// just taken, p the next, and no byte after the body end E is ever taken.
class RenderingTwin {
 public:
  RenderingTwin(std::string_view page, std::uint32_t nStart, std::uint32_t nEnd, bool bTablesOnly)
      : m_page(page), m_nStart(nStart), m_nEnd(nEnd), m_bTablesOnly(bTablesOnly) {}

  // The status, and the text when it is QUORLIX_OK.
  int Render(std::string& out) {
    if (m_nEnd <= m_nStart || m_nEnd >= m_page.size()) return QUORLIX_HTML_BODY_FAILED;
    m_p = m_nStart;
    Take();
    bool bTook = false;
    while (m_p < m_nEnd) {
      if (m_ch == '<') {
        // Up to the '>', or cut off before the body end.
        std::string tag;
        while (m_p < m_nEnd) {
          tag += static_cast<char>(m_ch);
          Take();
          if (m_ch == '>') break;
        }
        if (tag.starts_with("<TABLE")) {
          const int nStatus = Table(out);
          if (nStatus != QUORLIX_OK) return nStatus;
        }
        Take();
        continue;
      }
      if (!m_bTablesOnly) {
        while (m_ch != '<' && m_ch != '>' && m_p < m_nEnd) {
          bTook = true;
          if (m_ch == '&' && AtDigit()) {
            if (!SkipReference()) return QUORLIX_HTML_BODY_FAILED;
            continue;
          }
          if (IsKeptByte(m_ch)) out += static_cast<char>(m_ch);
          Take();
        }
      }
      if (bTook) bTook = false;
      else Take();
    }
    return QUORLIX_OK;
  }

 private:
  bool Take() {
    if (m_p > m_nEnd) return false;
    m_ch = static_cast<unsigned char>(m_page[m_p++]);
    return true;
  }
  bool AtDigit() const { return m_p <= m_nEnd && m_page[m_p] >= '0' && m_page[m_p] <= '9'; }
  // From the '&' up to the ';', then one byte more.
  bool SkipReference() {
    do {
      if (!Take()) return false;
    } while (m_ch != ';');
    return Take();
  }
  // With ch on a '<': the tag up to its '>', or false at the body end.
  bool CollectTag(std::string& tag) {
    do {
      tag += static_cast<char>(m_ch);
      if (!Take()) return false;
    } while (m_ch != '>');
    return true;
  }
  static bool IsTableTextByte(unsigned char b) { return b >= 0x20 && b <= 0x7E; }

  int Table(std::string& out) {
    if (!Take()) return QUORLIX_HTML_TABLE_FAILED;
    for (;;) {
      if (m_ch == '>' && !Take()) return QUORLIX_HTML_TABLE_FAILED;
      while (m_ch != '<' && m_ch != '>') {
        if (m_ch == '&' && AtDigit()) {
          if (!SkipReference()) return QUORLIX_HTML_TABLE_FAILED;
          continue;
        }
        if (IsTableTextByte(m_ch)) out += static_cast<char>(m_ch);
        if (!Take()) return QUORLIX_HTML_TABLE_FAILED;
      }
      if (m_ch != '<') continue;
      std::string tag;
      if (!CollectTag(tag)) return QUORLIX_HTML_TABLE_FAILED;
      if (tag.starts_with("<TR") || tag.starts_with("<TH")) {
        const int nStatus = Row(out);
        if (nStatus != QUORLIX_OK) return nStatus;
        if (!Take()) return QUORLIX_HTML_TABLE_FAILED;
      } else if (tag.starts_with("</TABL")) {
        out += "\r\n";
        return QUORLIX_OK;
      }
    }
  }

  int Row(std::string& out) {
    std::string row;
    std::uint32_t nMarkPos = m_p;
    std::size_t nMarkLen = 0;
    bool bQuoted = false;
    bool bCellClosed = false;
    if (!Take()) return QUORLIX_HTML_ROW_FAILED;
    for (bool bEnded = false; !bEnded;) {
      if (m_ch == '>' && !Take()) return QUORLIX_HTML_ROW_FAILED;
      while (m_ch != '<' && m_ch != '>') {
        if (m_ch == '&' && AtDigit()) {
          if (!SkipReference()) return QUORLIX_HTML_ROW_FAILED;
          continue;
        }
        if (m_ch == ',' && !bQuoted && !bCellClosed) {
          row.resize(nMarkLen);
          m_p = nMarkPos;
          row += '"';
          bQuoted = true;
        } else if (IsTableTextByte(m_ch)) {
          row += static_cast<char>(m_ch);
        }
        if (!Take()) return QUORLIX_HTML_ROW_FAILED;
      }
      if (m_ch != '<') continue;
      std::string tag;
      if (!CollectTag(tag)) return QUORLIX_HTML_ROW_FAILED;
      if (tag.starts_with("<BR")) {
        row += "\r\n";
      } else if (tag.starts_with("<TD") || tag.starts_with("<TH")) {
        nMarkPos = m_p;
        nMarkLen = row.size();
        bCellClosed = false;
      } else if (tag.starts_with("</TR")) {
        if (row.empty()) row += '\r';
        else row.back() = '\r';
        row += '\n';
        bEnded = true;
      } else if (tag.starts_with("</TABL")) {
        m_p -= static_cast<std::uint32_t>(tag.size()) + 1;
        row += "\r\n";
        bEnded = true;
      } else if (tag.starts_with("</TD") || tag.starts_with("</TH")) {
        if (bQuoted) row += '"';
        bQuoted = false;
        row += ',';
        bCellClosed = true;
      }
    }
    out += row;
    return QUORLIX_OK;
  }

  std::string_view m_page;
  std::uint32_t m_nStart;
  std::uint32_t m_nEnd;
  bool m_bTablesOnly;
  std::uint32_t m_p = 0;
  unsigned char m_ch = 0;
};

// The status and text of the whole conversion by the twins.
int ConvertByteByByte(std::string_view page, bool bTablesOnly, std::string& out) {
  HtmlBodyTags tags;
  if (!FindBodyTagsByteByByte(page, "<BODY", "</BODY", tags) || tags.nStart == 0 || tags.nEnd == 0)
    return QUORLIX_HTML_NO_BODY;
  return RenderingTwin(page, tags.nStart, tags.nEnd, bTablesOnly).Render(out);
}

// The scanners the conversion can run with: the vector one in its wide form and
// in blocks of sixteen, and the portable one.
struct Scanner {
  bool bVector;
  bool bWide;
};
constexpr Scanner kScanners[] = {{true, true}, {true, false}, {false, false}};

void Check(const std::string& strIn, std::string_view page, int nTablesOnly, Scanner scanner, const std::uint8_t* pData,
           std::size_t nSize) {
  const std::string strOut = quorlix_fuzz::WorkDir() + "/page.txt";
  std::filesystem::remove(strOut);
  SetVectorScanEnabled(scanner.bVector);
  SetWideScanEnabled(scanner.bWide);
  CAMFile doc(strIn, strOut, nTablesOnly);
  if (doc.LoadHtmlInput() != QUORLIX_OK) quorlix_fuzz::FailWithInput("the page did not load", pData, nSize);
  const int nStatus = doc.ConvertHtml();
  ResetVectorScanEnabled();
  const bool bWritten = std::filesystem::exists(strOut);
  std::string strTwin;
  if (nStatus != ConvertByteByByte(page, nTablesOnly == 1, strTwin))
    quorlix_fuzz::FailWithInput("the status differs from the byte-by-byte twin's", pData, nSize);
  switch (nStatus) {
    case QUORLIX_OK: {
      if (!bWritten) quorlix_fuzz::FailWithInput("success without an output file", pData, nSize);
      const std::string out = quorlix_fuzz::ReadWorkFile(strOut);
      if (out != strTwin) quorlix_fuzz::FailWithInput("the text differs from the byte-by-byte twin's", pData, nSize);
      if (!HasOnlyTextBytes(out)) quorlix_fuzz::FailWithInput("output holds a byte outside text", pData, nSize);
      if (out.size() > BodyBytes(page)) quorlix_fuzz::FailWithInput("output longer than the body", pData, nSize);
      break;
    }
    case QUORLIX_HTML_NO_BODY:
    case QUORLIX_HTML_BODY_FAILED:
    case QUORLIX_HTML_TABLE_FAILED:
    case QUORLIX_HTML_ROW_FAILED:
      if (bWritten) quorlix_fuzz::FailWithInput("a failure wrote the output", pData, nSize);
      break;
    default: quorlix_fuzz::FailWithInput("a status the conversion never gives", pData, nSize);
  }
}

// The body's own patterns, and others that reach the short patterns, the ones
// that stand in every tag, and those that the search from the end leaves to the walk.
constexpr std::string_view kPatternPairs[][2] = {
    {"<BODY", "</BODY"}, {"<B", "</"}, {"<", "<<"}, {"<<BO", "<</BODY<"}, {"<A>", ""}, {"BODY", "<BODY"},
};

void CheckBodyTags(std::string_view page, const std::uint8_t* pData, std::size_t nSize) {
  // Copied into a buffer of its exact size, so that a read past it is caught.
  const auto pPage = std::make_unique<unsigned char[]>(page.size());
  if (!page.empty()) std::memcpy(pPage.get(), page.data(), page.size());
  const auto nLen = static_cast<std::uint32_t>(page.size());
  for (const auto& patterns : kPatternPairs) {
    HtmlBodyTags twin, vector, portable;
    const bool bTwin = FindBodyTagsByteByByte(page, patterns[0], patterns[1], twin);
    SetVectorScanEnabled(true);
    const bool bVector = FindHtmlBodyTags(pPage.get(), nLen, patterns[0], patterns[1], vector);
    SetVectorScanEnabled(false);
    const bool bPortable = FindHtmlBodyTags(pPage.get(), nLen, patterns[0], patterns[1], portable);
    ResetVectorScanEnabled();
    const auto same = [&](bool b, const HtmlBodyTags& tags) {
      return b == bTwin && tags.nStart == twin.nStart && tags.nEnd == twin.nEnd;
    };
    if (!same(bVector, vector) || !same(bPortable, portable))
      quorlix_fuzz::FailWithInput("the body tag search differs from its twin", pData, nSize);
  }
}

void CheckPage(const std::uint8_t* pData, std::size_t nSize, std::span<const Scanner> scanners) {
  const std::string strIn = quorlix_fuzz::WriteWorkFile("page.htm", pData, nSize);
  const std::string_view page(reinterpret_cast<const char*>(pData), nSize);
  CheckBodyTags(page, pData, nSize);
  for (const Scanner scanner : scanners) {
    Check(strIn, page, 0, scanner, pData, nSize);
    Check(strIn, page, 1, scanner, pData, nSize);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* pData, std::size_t nSize) {
  if (nSize > kMaxInputBytes) return 0;
  CheckPage(pData, nSize, kScanners);
  // A large form with one scanner, picked by its first byte, to stay quick.
  quorlix_fuzz::CheckLargeForm(
      pData, nSize,
      [](const std::uint8_t* p, std::size_t n) {
        CheckPage(p, n, {&kScanners[p[0] % 3], 1});
      },
      std::size_t{1} << 20);
  return 0;
}
