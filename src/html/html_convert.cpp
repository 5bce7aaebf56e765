// HTML to text, the steps around the rendering: the check of the two file names,
// the load, and the search for the body, which ends at the last body end tag, so
// the whole page is searched for body tags before anything is rendered.
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <new>
#include <string_view>

#include "document/am_file.h"
#include "html/html_read.h"
#include "quorlix.h"
#include "scan/html_scan.h"

namespace {

constexpr std::string_view kInputSuffixes[] = {".htm", ".html"};
constexpr std::string_view kOutputSuffixes[] = {".txt", ".wri"};

// Exact and case-sensitive: "PAGE.HTM" is a wrong input name.
template <std::size_t N>
bool EndsInOneOf(const CString& strName, const std::string_view (&suffixes)[N]) {
  return std::ranges::any_of(suffixes, [&](std::string_view suffix) { return strName.ends_with(suffix); });
}

// ---- Body search ----
//
// Walked from the front, a '<' opens a tag and the next '>' closes it; a '>' met
// outside a tag opens nothing. After any '>' the walk is thus outside a tag, so
// whether it is inside one just before a place depends only on the nearest '<' or
// '>' before that place: inside after a '<', outside after a '>' or with neither
// before it. A '<' opens a tag exactly when the walk is outside just before it. So
// the last tag that begins with a pattern is found from the end: the last place
// where the pattern stands and a tag opens, with a '>' somewhere after it. The
// pattern stands far more rarely than tags do, so the page is passed once at the
// speed of the pattern search; each look back from a place stops at the nearest
// '<' or '>', at or after the next place the search tries (the pattern opens with
// '<'), so the looks back pass each byte once at most. A pattern that cannot be
// found that way (empty, not opening with '<', or holding a '>') is left to the
// walk itself.

// Whether the walk from the front is outside any tag just before nAt.
bool IsOutsideTagAt(const unsigned char* pIn, std::uint32_t nAt) {
  for (std::uint32_t k = nAt; k-- > 0;) {
    if (pIn[k] == '>') return true;
    if (pIn[k] == '<') return false;
  }
  return true;
}

bool CanFindTagsFromTheEnd(std::string_view pattern) {
  return pattern.starts_with('<') && pattern.find('>') == std::string_view::npos;
}

// Sets nGt to the index of the '>' of the last tag that begins with pattern.
template <typename Scan>
void FindLastTag(const unsigned char* pIn, std::uint32_t nLen, std::string_view pattern, std::uint32_t& nGt) {
  const auto nSize = static_cast<std::uint32_t>(pattern.size());
  // Places before nBefore are searched: a match at q needs q + nSize bytes.
  for (std::uint32_t nBefore = nLen; nBefore > 0;) {
    const auto nEnd = static_cast<std::uint32_t>(std::min<std::uint64_t>(nLen, std::uint64_t{nBefore} - 1 + nSize));
    const auto nAt = static_cast<std::uint32_t>(Scan::FindLastMatch(pIn, nEnd, pattern));
    if (nAt == nEnd) return;
    if (IsOutsideTagAt(pIn, nAt)) {
      // The pattern holds no '>', so the tag cannot close inside it.
      const std::uint32_t nFrom = nAt + nSize;
      const auto nFound = static_cast<std::uint32_t>(Scan::FindTagEnd(pIn + nFrom, nLen - nFrom));
      if (nFound < nLen - nFrom) {
        nGt = nFrom + nFound;
        return;
      }
    }
    nBefore = nAt;
  }
}

// The walk itself, for patterns that the search from the end cannot take.
bool WalkBodyTags(const unsigned char* pIn, std::uint32_t nLen, std::string_view startPattern,
                  std::string_view endPattern, HtmlBodyTags& tags) {
  for (std::uint32_t i = 0; i < nLen; ++i) {
    const void* pLt = std::memchr(pIn + i, '<', nLen - i);
    if (!pLt) break;
    i = static_cast<std::uint32_t>(static_cast<const unsigned char*>(pLt) - pIn);
    const void* pGt = std::memchr(pIn + i, '>', nLen - i);
    if (!pGt) return false;
    const auto nGt = static_cast<std::uint32_t>(static_cast<const unsigned char*>(pGt) - pIn);
    // The tag is compared where it stands, not copied.
    const std::string_view tag(reinterpret_cast<const char*>(pIn) + i, nGt - i);
    if (TagBeginsWith(tag, startPattern)) tags.nStart = nGt;
    if (TagBeginsWith(tag, endPattern)) tags.nEnd = nGt;
    i = nGt;
  }
  return true;
}

template <typename Scan>
bool FindBodyTagsFromTheEnd(const unsigned char* pIn, std::uint32_t nLen, std::string_view startPattern,
                            std::string_view endPattern, HtmlBodyTags& tags) {
  FindLastTag<Scan>(pIn, nLen, startPattern, tags.nStart);
  FindLastTag<Scan>(pIn, nLen, endPattern, tags.nEnd);
  // Every '<' has a '>' after it when the walk ends outside a tag.
  return IsOutsideTagAt(pIn, nLen);
}

// One form per scan level, each compiled with its level's target.
template <ScanLevel L>
bool FindBodyTagsAt(const unsigned char* pIn, std::uint32_t nLen, std::string_view startPattern,
                    std::string_view endPattern, HtmlBodyTags& tags);

template <>
bool FindBodyTagsAt<ScanLevel::kPortable>(const unsigned char* pIn, std::uint32_t nLen, std::string_view startPattern,
                                          std::string_view endPattern, HtmlBodyTags& tags) {
  return FindBodyTagsFromTheEnd<PortableHtmlScan>(pIn, nLen, startPattern, endPattern, tags);
}

#ifdef QUORLIX_HAS_VECTOR_SCAN
template <>
QUORLIX_SSSE3_TARGET bool FindBodyTagsAt<ScanLevel::kSsse3>(const unsigned char* pIn, std::uint32_t nLen,
                                                            std::string_view startPattern, std::string_view endPattern,
                                                            HtmlBodyTags& tags) {
  return FindBodyTagsFromTheEnd<Ssse3HtmlScan>(pIn, nLen, startPattern, endPattern, tags);
}
#endif

}  // namespace

bool FindHtmlBodyTags(const unsigned char* pIn, std::uint32_t nLen, std::string_view startPattern,
                      std::string_view endPattern, HtmlBodyTags& tags) {
  if (!CanFindTagsFromTheEnd(startPattern) || !CanFindTagsFromTheEnd(endPattern))
    return WalkBodyTags(pIn, nLen, startPattern, endPattern, tags);
  return WithScanLevel([&]<ScanLevel L>() {
    return FindBodyTagsAt<kScanLevelUpTo<L, ScanLevel::kSsse3>>(pIn, nLen, startPattern, endPattern, tags);
  });
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
  if (!bTagsClosed || m_nBodyStart == 0 || m_nBodyEnd == 0) {
    // Only upper-case tags count; a page that writes its body tag in lower case
    // is the common reason, and worth the one pass over a page that failed.
    const std::string_view page(reinterpret_cast<const char*>(pIn), m_nInLen);
    if (page.find("<body") != std::string_view::npos) RecordFailure(FailureCause::kLowerCaseBody, FailedFile::kInput);
    return m_nStatus = QUORLIX_HTML_NO_BODY;
  }

  if (RenderBody() != QUORLIX_OK) return m_nStatus;
  return SaveOutput();
}
