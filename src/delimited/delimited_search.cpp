#include "delimited/delimited_search.h"

#include <algorithm>
#include <cassert>
#include <cstring>

#include "scan/scan_level.h"

#if defined(__GLIBC__)
#define QUORLIX_HAS_LINEAR_MEMMEM 1
#endif

DelimiterSearch::DelimiterSearch(std::string_view strDelim) : m_strDelim(strDelim), m_border(strDelim.size()) {
  assert(!strDelim.empty());
  std::uint32_t nMatched = 0;
  for (std::size_t k = 1; k < strDelim.size(); ++k) {
    while (nMatched > 0 && strDelim[k] != strDelim[nMatched]) nMatched = m_border[nMatched - 1];
    if (strDelim[k] == strDelim[nMatched]) ++nMatched;
    m_border[k] = nMatched;
  }
}

const unsigned char* DelimiterSearch::Find(const unsigned char* pFrom, const unsigned char* pTo) const {
#ifdef QUORLIX_HAS_LINEAR_MEMMEM
  if (m_strDelim.size() > kShortDelimiterBytes) {
    return WithScanLevel([&]<ScanLevel L>() -> const unsigned char* {
      if constexpr (L == ScanLevel::kPortable) return FindPortable(pFrom, pTo);
      if (static_cast<std::size_t>(pTo - pFrom) < m_strDelim.size()) return nullptr;
      return static_cast<const unsigned char*>(::memmem(pFrom, pTo - pFrom, m_strDelim.data(), m_strDelim.size()));
    });
  }
#endif
  return FindPortable(pFrom, pTo);
}

// Each byte is read once by the scan and the matched length falls at most as
// often as it rose, so the work is linear in the bytes searched.
const unsigned char* DelimiterSearch::FindPortable(const unsigned char* pFrom, const unsigned char* pTo) const {
  const std::size_t nLen = m_strDelim.size();
  const auto* const pDelim = reinterpret_cast<const unsigned char*>(m_strDelim.data());
  std::size_t nMatched = 0;
  for (const unsigned char* p = pFrom; p < pTo; ++p) {
    if (nMatched == 0) {
      p = static_cast<const unsigned char*>(std::memchr(p, pDelim[0], static_cast<std::size_t>(pTo - p)));
      if (!p) return nullptr;
      nMatched = 1;
    } else {
      while (nMatched > 0 && *p != pDelim[nMatched]) nMatched = m_border[nMatched - 1];
      if (*p == pDelim[nMatched]) ++nMatched;
    }
    if (nMatched == nLen) return p + 1 - nLen;
  }
  return nullptr;
}

const unsigned char* DelimiterSearch::FindEndOfLast(const unsigned char* pFrom, const unsigned char* pTo) const {
  constexpr std::ptrdiff_t kNearEndBytes = 1024;
  const std::size_t nLen = m_strDelim.size();
  const auto findEndOfLastIn = [&](const unsigned char* p, const unsigned char* pEnd) {
    const unsigned char* pLastEnd = nullptr;
    while (const unsigned char* pFound = Find(p, pEnd)) p = pLastEnd = pFound + nLen;
    return pLastEnd;
  };
  // Where occurrences can overlap, which are found depends on where the search begins.
  if (CanOverlapItself()) return findEndOfLastIn(pFrom, pTo);
  const unsigned char* const pNearEnd = pTo - pFrom > kNearEndBytes ? pTo - kNearEndBytes : pFrom;
  if (const unsigned char* pLastEnd = findEndOfLastIn(pNearEnd, pTo); pLastEnd || pNearEnd == pFrom) return pLastEnd;
  // None starts near the end: the last one lies wholly before pNearEnd's first
  // nLen - 1 bytes end.
  return findEndOfLastIn(pFrom, std::min(pTo, pNearEnd + (nLen - 1)));
}
