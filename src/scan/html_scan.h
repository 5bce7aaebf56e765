// The scanners of the HTML rendering: the byte classes of text runs, the two
// scanners and cursors that pass their runs many bytes at a time, and the prefix
// test on tag texts.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string_view>
#include <type_traits>

#include "scan/byte_filter.h"
#include "scan/line_scan.h"

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

// ---- Scanners ----

// A run is the stretch of bytes that a text loop stores as they stand (kKept in
// the classes that bKeepLineBreaks and bCommaStops choose); a tag runs up to its
// '>'. Both scanners give, for [p, p + n):
//   KeptRun<bKeepLineBreaks, bCommaStops>(p, n)  the length of the run at p
//   FindTagEnd(p, n)                              the index of the first '>', or n
//   FindLastMatch(p, n, pattern)                  the index of the last place where the
//                      whole pattern stands (pattern.length() >= 1), or n; the first
//                      kMatchBytes bytes are compared many places at once
// The portable one looks at eight bytes at a time in a 64-bit word, the SSSE3 one
// at sixteen; each finishes byte by byte with the class tables, so both end a run
// exactly where those tables do. Neither reads outside [p, p + n).
inline constexpr std::size_t kMatchBytes = 4;

struct PortableHtmlScan {
  static constexpr std::size_t kWordBytes = 8;
  static constexpr std::uint64_t kEachByte = 0x0101010101010101;

  // True when some byte of x is zero. Bits above a zero byte may be wrong, so the
  // answer for the whole word is exact while the bits are not.
  static constexpr bool HasZeroByte(std::uint64_t x) { return ((x - kEachByte) & ~x & (kEachByte * 0x80)) != 0; }
  static constexpr bool HasByte(std::uint64_t x, unsigned char b) { return HasZeroByte(x ^ (kEachByte * b)); }

  // Whether every byte of x is kept; a word with a line break is left to the bytes.
  template <bool bCommaStops>
  static constexpr bool IsWordKept(std::uint64_t x) {
    return !PortableLineScan::HasNonLineByte(x) && !HasByte(x, '<') && !HasByte(x, '>') && !HasByte(x, '&') &&
           !(bCommaStops && HasByte(x, ','));
  }

  // Whole words while they are kept, then the bytes of the word that is not; a
  // word whose bytes all turn out kept (line breaks) lets the words go on.
  template <bool bKeepLineBreaks, bool bCommaStops>
  static std::size_t KeptRun(const unsigned char* p, std::size_t n) {
    static constexpr auto kClasses = MakeTextBytes(bKeepLineBreaks, bCommaStops);
    std::size_t k = 0;
    for (;;) {
      for (std::uint64_t x; n - k >= kWordBytes; k += kWordBytes) {
        std::memcpy(&x, p + k, sizeof x);
        if (!IsWordKept<bCommaStops>(x)) break;
      }
      const std::size_t nWordEnd = n - k >= kWordBytes ? k + kWordBytes : n;
      while (k < nWordEnd && kClasses[p[k]] == TextByte::kKept) ++k;
      if (k < nWordEnd || k == n) return k;
    }
  }

  static std::size_t FindTagEnd(const unsigned char* p, std::size_t n) {
    const void* pFound = std::memchr(p, '>', n);
    return pFound ? static_cast<std::size_t>(static_cast<const unsigned char*>(pFound) - p) : n;
  }

  // The high bit of each byte of x that is zero, and no other bit.
  static constexpr std::uint64_t ZeroBytes(std::uint64_t x) {
    constexpr std::uint64_t kLowBits = kEachByte * 0x7F;
    return ~(((x & kLowBits) + kLowBits) | x | kLowBits);
  }

  static std::size_t FindLastMatch(const unsigned char* p, std::size_t n, std::string_view pattern) {
    const std::size_t nSize = pattern.length();
    if (n < nSize) return n;
    const std::size_t nCompared = nSize < kMatchBytes ? nSize : kMatchBytes;
    std::size_t nTop = n - nSize + 1;
    for (; nTop >= kWordBytes; nTop -= kWordBytes) {
      const std::size_t nBase = nTop - kWordBytes;
      std::uint64_t nMatches = ~std::uint64_t{0};
      for (std::size_t i = 0; i < nCompared; ++i) {
        std::uint64_t x;
        std::memcpy(&x, p + nBase + i, sizeof x);
        nMatches &= ZeroBytes(x ^ (kEachByte * static_cast<unsigned char>(pattern[i])));
      }
      if (nMatches == 0) continue;
      for (std::size_t nAt = kWordBytes; nAt-- > 0;)
        if (std::memcmp(p + nBase + nAt, &pattern.front(), nSize) == 0) return nBase + nAt;
    }
    while (nTop-- > 0)
      if (std::memcmp(p + nTop, &pattern.front(), nSize) == 0) return nTop;
    return n;
  }
};

#ifdef QUORLIX_HAS_VECTOR_SCAN
struct Ssse3HtmlScan {
  static constexpr std::size_t kBlockBytes = 16;

  template <bool bKeepLineBreaks, bool bCommaStops>
  QUORLIX_SSSE3_TARGET static unsigned KeptMask(__m128i v) {
    unsigned nKept = Ssse3LineScan::LineByteMask(v);
    if constexpr (bKeepLineBreaks) nKept |= MaskOf(v, '\r') | MaskOf(v, '\n');
    unsigned nStops = MaskOf(v, '<') | MaskOf(v, '>') | MaskOf(v, '&');
    if constexpr (bCommaStops) nStops |= MaskOf(v, ',');
    return nKept & ~nStops;
  }

  template <bool bKeepLineBreaks, bool bCommaStops>
  QUORLIX_SSSE3_TARGET static std::size_t KeptRun(const unsigned char* p, std::size_t n) {
    static constexpr auto kClasses = MakeTextBytes(bKeepLineBreaks, bCommaStops);
    std::size_t k = 0;
    for (; n - k >= kBlockBytes; k += kBlockBytes) {
      const unsigned nKept = KeptMask<bKeepLineBreaks, bCommaStops>(Load(p + k));
      if (nKept != 0xFFFF) return k + static_cast<std::size_t>(__builtin_ctz(~nKept));
    }
    while (k < n && kClasses[p[k]] == TextByte::kKept) ++k;
    return k;
  }

  QUORLIX_SSSE3_TARGET static std::size_t FindTagEnd(const unsigned char* p, std::size_t n) {
    std::size_t k = 0;
    for (; n - k >= kBlockBytes; k += kBlockBytes) {
      const unsigned nEnds = MaskOf(Load(p + k), '>');
      if (nEnds != 0) return k + static_cast<std::size_t>(__builtin_ctz(nEnds));
    }
    while (k < n && p[k] != '>') ++k;
    return k;
  }

  // Places are looked at 64 at a time by the pattern's first and last bytes, and
  // those where both stand are compared whole, from the last.
  QUORLIX_SSSE3_TARGET static std::size_t FindLastMatch(const unsigned char* p, std::size_t n,
                                                        std::string_view pattern) {
    const std::size_t nSize = pattern.length();
    if (n < nSize) return n;
    constexpr std::size_t kStepBytes = 4 * kBlockBytes;
    const std::size_t nLastAt = nSize - 1;
    const __m128i vFirst = _mm_set1_epi8(pattern[0]);
    const __m128i vLast = _mm_set1_epi8(pattern[nLastAt]);
    const auto Candidates = [&](const unsigned char* pBlock) QUORLIX_SSSE3_TARGET {
      return _mm_and_si128(_mm_cmpeq_epi8(Load(pBlock), vFirst), _mm_cmpeq_epi8(Load(pBlock + nLastAt), vLast));
    };
    std::size_t nTop = n - nSize + 1;
    for (; nTop >= kStepBytes; nTop -= kStepBytes) {
      const unsigned char* const pBase = p + nTop - kStepBytes;
      const __m128i v0 = Candidates(pBase);
      const __m128i v1 = Candidates(pBase + kBlockBytes);
      const __m128i v2 = Candidates(pBase + 2 * kBlockBytes);
      const __m128i v3 = Candidates(pBase + 3 * kBlockBytes);
      if (_mm_movemask_epi8(_mm_or_si128(_mm_or_si128(v0, v1), _mm_or_si128(v2, v3))) == 0) continue;
      std::uint64_t nMatches = static_cast<std::uint64_t>(static_cast<unsigned>(_mm_movemask_epi8(v0))) |
                               static_cast<std::uint64_t>(static_cast<unsigned>(_mm_movemask_epi8(v1))) << 16 |
                               static_cast<std::uint64_t>(static_cast<unsigned>(_mm_movemask_epi8(v2))) << 32 |
                               static_cast<std::uint64_t>(static_cast<unsigned>(_mm_movemask_epi8(v3))) << 48;
      while (nMatches != 0) {
        const auto nAt = static_cast<std::size_t>(63 - __builtin_clzll(nMatches));
        if (std::memcmp(pBase + nAt, &pattern.front(), nSize) == 0) return nTop - kStepBytes + nAt;
        nMatches &= ~(std::uint64_t{1} << nAt);
      }
    }
    while (nTop-- > 0)
      if (std::memcmp(p + nTop, &pattern.front(), nSize) == 0) return nTop;
    return n;
  }

  QUORLIX_SSSE3_TARGET static __m128i Load(const unsigned char* p) {
    return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
  }
  QUORLIX_SSSE3_TARGET static unsigned MaskOf(__m128i v, unsigned char b) {
    return static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(v, _mm_set1_epi8(static_cast<char>(b)))));
  }
};
#endif

// ---- Cursors ----

// A text loop over [.., nLast] asks a cursor for two places from an index i <= nLast:
//   NextStop(i)    the first index at or after i whose byte ends a run of kept
//                  bytes (in the classes the two flags choose), or nLast + 1
//   NextTagEnd(i)  the first index at or after i that holds a '>', or nLast + 1
// The portable cursor asks its scanner afresh each time. The SSSE3 one keeps a
// window of 64 bytes with one bit per byte for each answer, so that the places
// within a window come from a shift and a bit count rather than from loads and
// compares that wait on the index; a window is made again when an index leaves
// it (forward, or back to a cell's start), and near nLast, where no whole window
// fits, the SSSE3 scanner answers instead.
template <typename Scan, bool bKeepLineBreaks, bool bCommaStops>
class ScanningCursor {
 public:
  ScanningCursor(const unsigned char* pIn, std::uint32_t nLast) : m_pIn(pIn), m_nLast(nLast) {}

  std::uint32_t NextStop(std::uint32_t i) const {
    return i +
           static_cast<std::uint32_t>(Scan::template KeptRun<bKeepLineBreaks, bCommaStops>(m_pIn + i, m_nLast + 1 - i));
  }
  std::uint32_t NextTagEnd(std::uint32_t i) const {
    return i + static_cast<std::uint32_t>(Scan::FindTagEnd(m_pIn + i, m_nLast + 1 - i));
  }

 private:
  const unsigned char* m_pIn;
  std::uint32_t m_nLast;
};

template <bool bKeepLineBreaks, bool bCommaStops>
using PortableCursor = ScanningCursor<PortableHtmlScan, bKeepLineBreaks, bCommaStops>;

#ifdef QUORLIX_HAS_VECTOR_SCAN
template <bool bKeepLineBreaks, bool bCommaStops>
class Ssse3Cursor {
 public:
  static constexpr std::uint32_t kWindowBytes = 64;

  // No window yet: every index lies outside the one at nLast + 1.
  Ssse3Cursor(const unsigned char* pIn, std::uint32_t nLast)
      : m_pIn(pIn), m_nLast(nLast), m_nBase(nLast + 1), m_scanning(pIn, nLast) {}

  QUORLIX_SSSE3_TARGET std::uint32_t NextStop(std::uint32_t i) { return NextMarked<false>(i); }
  QUORLIX_SSSE3_TARGET std::uint32_t NextTagEnd(std::uint32_t i) { return NextMarked<true>(i); }

 private:
  // The first place at or after i that the window's stops, or its tag ends, mark;
  // past the last whole window, the scanning cursor's answer.
  template <bool bTagEnds>
  QUORLIX_SSSE3_TARGET std::uint32_t NextMarked(std::uint32_t i) {
    for (;;) {
      if (i - m_nBase >= kWindowBytes && !MakeWindow(i))
        return bTagEnds ? m_scanning.NextTagEnd(i) : m_scanning.NextStop(i);
      const std::uint64_t nMarks = (bTagEnds ? m_nTagEnds : m_nStops) >> (i - m_nBase);
      if (nMarks != 0) return i + static_cast<std::uint32_t>(__builtin_ctzll(nMarks));
      i = m_nBase + kWindowBytes;
    }
  }

  // The window at i, when all its bytes lie at or before nLast.
  QUORLIX_SSSE3_TARGET bool MakeWindow(std::uint32_t i) {
    if (m_nLast + 1 - i < kWindowBytes) return false;
    std::uint64_t nStops = 0;
    std::uint64_t nEnds = 0;
    for (std::uint32_t k = 0; k < kWindowBytes; k += Ssse3HtmlScan::kBlockBytes) {
      const __m128i v = Ssse3HtmlScan::Load(m_pIn + i + k);
      const unsigned nKept = Ssse3HtmlScan::KeptMask<bKeepLineBreaks, bCommaStops>(v);
      nStops |= static_cast<std::uint64_t>(~nKept & 0xFFFF) << k;
      nEnds |= static_cast<std::uint64_t>(Ssse3HtmlScan::MaskOf(v, '>')) << k;
    }
    m_nBase = i;
    m_nStops = nStops;
    m_nTagEnds = nEnds;
    return true;
  }

  const unsigned char* m_pIn;
  std::uint32_t m_nLast;
  std::uint32_t m_nBase;
  std::uint64_t m_nStops = 0;
  std::uint64_t m_nTagEnds = 0;
  ScanningCursor<Ssse3HtmlScan, bKeepLineBreaks, bCommaStops> m_scanning;
};
#endif

// The scanner and the cursor of level L.
#ifdef QUORLIX_HAS_VECTOR_SCAN
template <ScanLevel L>
using HtmlScanAt = std::conditional_t<L == ScanLevel::kPortable, PortableHtmlScan, Ssse3HtmlScan>;
template <ScanLevel L, bool bKeepLineBreaks, bool bCommaStops>
using CursorAt = std::conditional_t<L == ScanLevel::kPortable, PortableCursor<bKeepLineBreaks, bCommaStops>,
                                    Ssse3Cursor<bKeepLineBreaks, bCommaStops>>;
#else
template <ScanLevel L>
using HtmlScanAt = PortableHtmlScan;
template <ScanLevel L, bool bKeepLineBreaks, bool bCommaStops>
using CursorAt = PortableCursor<bKeepLineBreaks, bCommaStops>;
#endif

// Copies a run of nCount bytes. Where both sides have room past it (nReadable
// bytes may be read at pFrom, nWritable written at pTo), in whole pieces of
// kCopyPieceBytes, the last of which may reach up to kCopyPieceBytes - 1 bytes
// past the run on both sides; otherwise byte for byte.
inline constexpr std::size_t kCopyPieceBytes = 16;
inline void CopyTextRun(unsigned char* pTo, std::size_t nWritable, const unsigned char* pFrom, std::size_t nReadable,
                        std::size_t nCount) {
  if (nReadable - nCount >= kCopyPieceBytes && nWritable - nCount >= kCopyPieceBytes) {
    for (std::size_t k = 0; k < nCount; k += kCopyPieceBytes) std::memcpy(pTo + k, pFrom + k, kCopyPieceBytes);
  } else if (nCount > 0) {
    std::memcpy(pTo, pFrom, nCount);
  }
}

inline bool IsDecimalDigit(unsigned char b) { return b >= '0' && b <= '9'; }

// Exact and case-sensitive, so only upper-case tags are recognised. Most tags
// differ from a pattern in their second byte, which is looked at first.
inline bool TagBeginsWith(std::string_view tag, std::string_view pattern) {
  return tag.length() >= pattern.length() && (pattern.length() < 2 || tag[1] == pattern[1]) && tag.starts_with(pattern);
}
