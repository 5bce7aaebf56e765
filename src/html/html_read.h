// The HTML rendering's reading of a page: the body tags' search, the input given
// back as it is passed, and the table's read position with its body end limit.
#pragma once

#include <cstdint>
#include <cstring>
#include <string_view>

#include "platform/byte_buffer.h"
#include "scan/html_scan.h"

// The page's tags, each from a '<' to the first '>' after it, with a '<' inside a
// tag being part of it: nStart and nEnd get the index of the '>' of the last tag
// that begins with startPattern and with endPattern (unchanged when there is
// none). False when a '<' has no '>' after it. The tags are looked for from the
// end of the page, many places at once, with the scanner in use.
struct HtmlBodyTags {
  std::uint32_t nStart = 0;
  std::uint32_t nEnd = 0;
};
bool FindHtmlBodyTags(const unsigned char* pIn, std::uint32_t nLen, std::string_view startPattern,
                      std::string_view endPattern, HtmlBodyTags& tags);

// The input up to the read position, given back to the system as the rendering
// passes it, 4 MiB at a time: the output grows no faster than the input is read,
// so the two together stay near the input's size. Nothing before a position
// passed is read again.
class InputRelease {
 public:
  explicit InputRelease(unsigned char* pIn) : m_pIn(pIn) {}

  void Passed(std::uint32_t nPos) {
    if (nPos - m_nReleased < kReleaseStepBytes) return;
    // The whole stretch before nPos: the pages cut at the last release's end go now.
    ReleaseBufferPages(m_pIn, nPos);
    m_nReleased = nPos;
  }

 private:
  static constexpr std::uint32_t kReleaseStepBytes = std::uint32_t{4} << 20;
  unsigned char* m_pIn;
  std::uint32_t m_nReleased = 0;
};

// The read position of a table between its rows (the row and body loops keep an
// index of their own): ch is the byte just taken, p the next one to take. No byte
// after nLast (the body end's '>') is ever taken: inside a table a step that would
// has failed, and the caller turns that into its status.
struct HtmlScan {
  const unsigned char* pIn;
  std::uint32_t nLast;
  std::uint32_t p;
  unsigned char ch = 0;

  bool Take() {
    if (p > nLast) return false;
    ch = pIn[p++];
    return true;
  }

  // ch is an '&': a digit reference begins when a digit follows.
  bool AtDigitReference() const { return p <= nLast && IsDecimalDigit(pIn[p]); }

  // With ch on the '&' of a digit reference: takes up to its ';' and one byte more.
  [[nodiscard]] bool SkipDigitReference() {
    const std::uint32_t nFound = Find(';');
    if (nFound > nLast) return false;
    p = nFound + 1;
    ch = ';';
    return Take();
  }

  // With ch on a '<': sets tag to the tag text, where it stands in the input, and
  // stops with ch on its '>'. Inside a table a tag must close before the body end,
  // so a '<' without a '>' fails here; the body's own collector (in the rendering)
  // instead cuts such a tag off before the body end and goes on.
  [[nodiscard]] bool CollectClosedTag(std::string_view& tag) {
    const std::uint32_t nFound = Find('>');
    if (nFound > nLast) return false;
    tag = std::string_view(reinterpret_cast<const char*>(pIn) + p - 1, nFound - (p - 1));
    p = nFound + 1;
    ch = '>';
    return true;
  }

 private:
  // Index of the first b in [p, nLast], or nLast + 1.
  std::uint32_t Find(unsigned char b) const {
    if (p > nLast) return nLast + 1;
    const void* pFound = std::memchr(pIn + p, b, nLast - p + 1);
    return pFound ? static_cast<std::uint32_t>(static_cast<const unsigned char*>(pFound) - pIn) : nLast + 1;
  }
};
