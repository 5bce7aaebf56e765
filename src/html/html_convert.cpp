// HTML to text, the steps around the rendering: the check of the two file names,
// the load, and the search for the body, which ends at the last body end tag, so
// the whole page is scanned for tags before anything is rendered.
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <new>
#include <string_view>

#include "document/am_file.h"
#include "document/line_scan.h"
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

// Notes the tag [nLt, nGt) if it begins with one of the patterns.
struct BodyTagNoter {
  const unsigned char* pIn;
  std::string_view startPattern;
  std::string_view endPattern;
  HtmlBodyTags& tags;

  void operator()(std::uint32_t nLt, std::uint32_t nGt) const {
    // The tag is compared where it stands, not copied.
    const std::string_view tag(reinterpret_cast<const char*>(pIn) + nLt, nGt - nLt);
    if (TagBeginsWith(tag, startPattern)) tags.nStart = nGt;
    if (TagBeginsWith(tag, endPattern)) tags.nEnd = nGt;
  }
};

bool FindBodyTagsPortable(const unsigned char* pIn, std::uint32_t nLen, const BodyTagNoter& note) {
  for (std::uint32_t i = 0; i < nLen; ++i) {
    const void* pLt = std::memchr(pIn + i, '<', nLen - i);
    if (!pLt) break;
    i = static_cast<std::uint32_t>(static_cast<const unsigned char*>(pLt) - pIn);
    const void* pGt = std::memchr(pIn + i, '>', nLen - i);
    if (!pGt) return false;
    const auto nGt = static_cast<std::uint32_t>(static_cast<const unsigned char*>(pGt) - pIn);
    note(i, nGt);
    i = nGt;
  }
  return true;
}

#ifdef QUORLIX_HAS_VECTOR_SCAN
// One pass for both bytes: each block of sixteen gives a mask of its '<' and one
// of its '>', and the tags are read off the masks in order. A tag may span blocks.
QUORLIX_VECTOR_TARGET bool FindBodyTagsVector(const unsigned char* pIn, std::uint32_t nLen, const BodyTagNoter& note) {
  bool bInTag = false;  // a '<' was seen at nLt and its '>' not yet
  std::uint32_t nLt = 0;
  std::uint32_t k = 0;
  for (; nLen - k >= 16; k += 16) {
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(pIn + k));
    auto nLts = static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(v, _mm_set1_epi8('<'))));
    auto nGts = static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(v, _mm_set1_epi8('>'))));
    for (;;) {
      if (!bInTag) {
        if (nLts == 0) break;
        const auto nAt = static_cast<unsigned>(__builtin_ctz(nLts));
        nLt = k + nAt;
        bInTag = true;
        nGts &= ~0u << nAt;  // only a '>' after the '<' closes it
      }
      if (nGts == 0) break;
      const auto nAt = static_cast<unsigned>(__builtin_ctz(nGts));
      note(nLt, k + nAt);
      bInTag = false;
      nLts &= ~0u << nAt;  // a '<' inside the tag opens nothing
    }
  }
  for (; k < nLen; ++k) {
    if (!bInTag && pIn[k] == '<') {
      nLt = k;
      bInTag = true;
    } else if (bInTag && pIn[k] == '>') {
      note(nLt, k);
      bInTag = false;
    }
  }
  return !bInTag;
}
#endif

}  // namespace

bool FindHtmlBodyTags(const unsigned char* pIn, std::uint32_t nLen, std::string_view startPattern,
                      std::string_view endPattern, HtmlBodyTags& tags) {
  const BodyTagNoter note{pIn, startPattern, endPattern, tags};
#ifdef QUORLIX_HAS_VECTOR_SCAN
  if (IsVectorScanEnabled()) return FindBodyTagsVector(pIn, nLen, note);
#endif
  return FindBodyTagsPortable(pIn, nLen, note);
}

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
  m_strTag.clear();
  HtmlBodyTags tags{m_nBodyStart, m_nBodyEnd};
  const bool bTagsClosed = FindHtmlBodyTags(pIn, m_nInLen, bodyStartPattern, bodyEndPattern, tags);
  m_nBodyStart = tags.nStart;
  m_nBodyEnd = tags.nEnd;
  if (!bTagsClosed) return m_nStatus = QUORLIX_HTML_NO_BODY;
  if (m_nBodyStart == 0 || m_nBodyEnd == 0) return m_nStatus = QUORLIX_HTML_NO_BODY;

  if (RenderBody() != QUORLIX_OK) return m_nStatus;
  return SaveOutput();
}
