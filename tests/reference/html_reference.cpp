#include "html_reference.h"

#include "quorlix.h"
#include "scan/byte_filter.h"

namespace quorlix_reference {

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

namespace {

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

}  // namespace

int ConvertHtmlByteByByte(std::string_view page, bool bTablesOnly, std::string& out) {
  HtmlBodyTags tags;
  if (!FindBodyTagsByteByByte(page, "<BODY", "</BODY", tags) || tags.nStart == 0 || tags.nEnd == 0)
    return QUORLIX_HTML_NO_BODY;
  return RenderingTwin(page, tags.nStart, tags.nEnd, bTablesOnly).Render(out);
}

}  // namespace quorlix_reference
