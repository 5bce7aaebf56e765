// HTML to text, the steps around the rendering: the check of the two file names,
// the load, and the search for the body, which ends at the last body end tag, so
// the whole page is scanned for tags before anything is rendered.
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <new>
#include <string_view>

#include "document/am_file.h"
#include "html/html_scan.h"
#include "quorlix.h"

namespace {

constexpr std::string_view kInputSuffixes[] = {".htm", ".html"};
constexpr std::string_view kOutputSuffixes[] = {".txt", ".wri"};

// Exact and case-sensitive: "PAGE.HTM" is a wrong input name.
template <std::size_t N>
bool EndsInOneOf(const CString& strName, const std::string_view (&suffixes)[N]) {
  return std::ranges::any_of(suffixes, [&](std::string_view suffix) { return strName.ends_with(suffix); });
}

}  // namespace

int CAMFile::CheckHtmlNames(const CString& strInPath, const CString& strOutPath) {
  const bool bInputRight = EndsInOneOf(strInPath, kInputSuffixes);
  const bool bOutputRight = EndsInOneOf(strOutPath, kOutputSuffixes);
  if (bInputRight && bOutputRight) return m_nStatus = kHtmlNamesRight;
  if (bInputRight) return m_nStatus = QUORLIX_HTML_OUTPUT_NAME_WRONG;
  if (bOutputRight) return m_nStatus = QUORLIX_HTML_INPUT_NAME_WRONG;
  return m_nStatus = QUORLIX_HTML_BOTH_NAMES_WRONG;
}

int CAMFile::LoadHtmlInput() {
  m_nInLen = 0;
  // Both names are checked before either file is opened.
  if (CheckHtmlNames(m_strInPath, m_strOutPath) != kHtmlNamesRight) return m_nStatus;
  return LoadInput();
}

int CAMFile::ConvertHtml() {
  const auto* const pIn = m_pInBuf.get();
  const std::string_view bodyStartPattern = std::string_view(m_strBodyTag).substr(0, 5);
  const std::string_view bodyEndPattern = std::string_view(m_strBodyEndTag).substr(0, 6);
  try {
    m_strTag.clear();
    for (std::uint32_t i = 0; i < m_nInLen; ++i) {
      const void* pLt = std::memchr(pIn + i, '<', m_nInLen - i);
      if (!pLt) break;
      i = static_cast<std::uint32_t>(static_cast<const unsigned char*>(pLt) - pIn);
      const void* pGt = std::memchr(pIn + i, '>', m_nInLen - i);
      if (!pGt) return m_nStatus = QUORLIX_HTML_NO_BODY;
      const auto nGt = static_cast<std::uint32_t>(static_cast<const unsigned char*>(pGt) - pIn);
      // The tag is compared where it stands, not copied.
      const std::string_view tag(reinterpret_cast<const char*>(pIn) + i, nGt - i);
      if (TagBeginsWith(tag, bodyStartPattern)) m_nBodyStart = nGt;
      if (TagBeginsWith(tag, bodyEndPattern)) m_nBodyEnd = nGt;
      i = nGt;
    }
  } catch (const std::bad_alloc&) {
    return m_nStatus = QUORLIX_HTML_NO_BODY;
  }
  if (m_nBodyStart == 0 || m_nBodyEnd == 0) return m_nStatus = QUORLIX_HTML_NO_BODY;

  if (RenderBody() != QUORLIX_OK) return m_nStatus;
  return SaveOutput();
}
