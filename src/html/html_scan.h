// Shared pieces of the HTML rendering: the byte classes of text runs, the prefix
// test on tag texts, and the read position with its body end limit.
#pragma once

#include <array>
#include <cstdint>
#include <cstring>
#include <string_view>

#include "document/byte_filter.h"
#include "platform/platform_string.h"

// What a text run does with a byte.
enum class TextByte : std::uint8_t {
  kDropped,    // consumed, not stored
  kKept,       // stored
  kTagEdge,    // '<' or '>': the run stops
  kAmpersand,  // stored, unless a digit follows: then a digit reference begins
  kComma,      // row text only: may open a quoted cell
};

// Built from the shared byte filter; '<', '>' and '&' (and ',' in row text) get
// their own class. Body text keeps CR and LF; table text drops them, so that a
// table row stays on one line.
constexpr std::array<TextByte, 256> MakeTextBytes(bool bKeepLineBreaks, bool bCommaSeparates) {
  std::array<TextByte, 256> classes{};
  for (int b = 0; b < 256; ++b) {
    const ByteKind kind = KindOf(static_cast<unsigned char>(b));
    const bool bLineBreak = kind == ByteKind::kCr || kind == ByteKind::kLf;
    if (b == '<' || b == '>') classes[b] = TextByte::kTagEdge;
    else if (b == '&') classes[b] = TextByte::kAmpersand;
    else if (b == ',' && bCommaSeparates) classes[b] = TextByte::kComma;
    else if (kind == ByteKind::kDropped || (bLineBreak && !bKeepLineBreaks)) classes[b] = TextByte::kDropped;
    else classes[b] = TextByte::kKept;
  }
  return classes;
}

inline constexpr auto kBodyTextBytes = MakeTextBytes(true, false);
inline constexpr auto kTableTextBytes = MakeTextBytes(false, false);
inline constexpr auto kRowTextBytes = MakeTextBytes(false, true);

inline bool IsDecimalDigit(unsigned char b) { return b >= '0' && b <= '9'; }

// Exact and case-sensitive, so only upper-case tags are recognised. Most tags
// differ from a pattern in their second byte, which is looked at first.
inline bool TagBeginsWith(std::string_view tag, std::string_view pattern) {
  return tag.size() >= pattern.size() && (pattern.size() < 2 || tag[1] == pattern[1]) && tag.starts_with(pattern);
}

// The page's tags, each from a '<' to the first '>' after it, with a '<' inside a
// tag being part of it: nStart and nEnd get the index of the '>' of the last tag
// that begins with startPattern and with endPattern (unchanged when there is
// none). False when a '<' has no '>' after it. Whole blocks are scanned at once
// where the vector scanner is in use.
struct HtmlBodyTags {
  std::uint32_t nStart = 0;
  std::uint32_t nEnd = 0;
};
bool FindHtmlBodyTags(const unsigned char* pIn, std::uint32_t nLen, std::string_view startPattern,
                      std::string_view endPattern, HtmlBodyTags& tags);

// The read position: ch is the byte just taken, p the next one to take. No byte
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
