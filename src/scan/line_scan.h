// Runs of line bytes (0x20-0x7E: the bytes that pass the byte filter and need no
// further look) found and copied many at a time. The text conversions spend most
// of their time in such runs; only the byte that ends a run is looked at alone.
//
// Two scanners with one interface: a portable one, eight bytes at a time in a
// 64-bit word, and one of sixteen at a time for the SSSE3 level and above
// (scan/scan_level.h); LineScanAt gives the one of a level.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <type_traits>

#include "scan/scan_level.h"

inline constexpr bool IsLineByte(unsigned char b) { return b >= 0x20 && b <= 0x7E; }
// Neither a line byte nor CR nor LF: the bytes the byte filter drops.
inline constexpr bool IsDroppedByte(unsigned char b) { return !IsLineByte(b) && b != '\r' && b != '\n'; }

// Both scanners give:
//   CopyRun(p, n, pOut)  the length of the run of line bytes at the start of
//                        [p, p + n), with the run copied to pOut. It may store
//                        bytes past the run, never past n bytes from pOut, so the
//                        caller keeps room for n bytes at pOut.
//   CopyRunWatching(p, n, pOut, ch, bSeen)  the same, and sets bSeen when ch is in the run
//   CountDropped(p, n)   the length of the run of dropped bytes at the start of
//                        [p, p + n), so that a long one (a sparse file's zeros)
//                        costs no more per byte than text

struct PortableLineScan {
  static constexpr bool kHasBlocks = false;
  static constexpr std::size_t kWordBytes = 8;

  // True when any of the eight bytes of x lies outside 0x20-0x7E. A borrow or carry
  // between bytes can only start at a byte that is itself outside, so the answer
  // for the word is exact even where the per-byte bits are not.
  static constexpr bool HasNonLineByte(std::uint64_t x) {
    constexpr std::uint64_t kEachByte = 0x0101010101010101;
    constexpr std::uint64_t kHighBits = kEachByte * 0x80;
    const std::uint64_t nBelow = (x - kEachByte * 0x20) & ~x & kHighBits;  // 0x00-0x1F
    const std::uint64_t nAbove = ((x + kEachByte) | x) & kHighBits;        // 0x7F-0xFF
    return (nBelow | nAbove) != 0;
  }

  // True when any of the eight bytes of x is a line byte, CR or LF. Each byte is
  // judged in its own eight bits, with no carry between them.
  static constexpr bool HasKeptByte(std::uint64_t x) {
    constexpr std::uint64_t kEachByte = 0x0101010101010101;
    constexpr std::uint64_t kHighBits = kEachByte * 0x80;
    constexpr std::uint64_t kLowBits = kEachByte * 0x7F;
    const std::uint64_t y = x & kLowBits;
    // The low seven bits at least 0x20 and not 0x7F, the high bit clear: 0x20-0x7E.
    const std::uint64_t nLine = (y + kEachByte * 0x60) & ~(y + kEachByte) & ~x & kHighBits;
    const auto zeroBytes = [](std::uint64_t z) { return ~(((z & kLowBits) + kLowBits) | z) & kHighBits; };
    return (nLine | zeroBytes(x ^ (kEachByte * '\r')) | zeroBytes(x ^ (kEachByte * '\n'))) != 0;
  }

  static std::size_t CopyRun(const unsigned char* p, std::size_t n, unsigned char* pOut) {
    std::size_t k = 0;
    for (std::uint64_t x; n - k >= kWordBytes; k += kWordBytes) {
      std::memcpy(&x, p + k, sizeof x);
      std::memcpy(pOut + k, &x, sizeof x);
      if (HasNonLineByte(x)) break;
    }
    while (k < n && IsLineByte(p[k])) {
      pOut[k] = p[k];
      ++k;
    }
    return k;
  }

  static std::size_t CopyRunWatching(const unsigned char* p, std::size_t n, unsigned char* pOut,
                                     unsigned char chWatched, bool& bWatchedSeen) {
    constexpr std::uint64_t kEachByte = 0x0101010101010101;
    std::size_t k = 0;
    for (std::uint64_t x; n - k >= kWordBytes; k += kWordBytes) {
      std::memcpy(&x, p + k, sizeof x);
      std::memcpy(pOut + k, &x, sizeof x);
      if (HasNonLineByte(x)) break;
      const std::uint64_t y = x ^ (kEachByte * chWatched);  // a zero byte where x holds chWatched
      if ((y - kEachByte) & ~y & (kEachByte * 0x80)) bWatchedSeen = true;
    }
    for (; k < n && IsLineByte(p[k]); ++k) {
      pOut[k] = p[k];
      if (p[k] == chWatched) bWatchedSeen = true;
    }
    return k;
  }

  static std::size_t CountDropped(const unsigned char* p, std::size_t n) {
    std::size_t k = 0;
    for (std::uint64_t x; n - k >= kWordBytes; k += kWordBytes) {
      std::memcpy(&x, p + k, sizeof x);
      if (HasKeptByte(x)) break;
    }
    while (k < n && IsDroppedByte(p[k])) ++k;
    return k;
  }
};

#ifdef QUORLIX_HAS_VECTOR_SCAN
// The byte shuffle controls that gather the bytes an 8-bit mask selects to the
// front of eight, in order; the places after them get zero.
struct CompactionTable {
  alignas(16) unsigned char indices[256][8];
};
extern const CompactionTable kCompactionTable;

struct Ssse3LineScan {
  // Beyond the run scans, the SSSE3 scanner classifies whole blocks: one bit per
  // byte of sixteen, for line bytes, CRs and LFs.
  static constexpr bool kHasBlocks = true;
  static constexpr std::size_t kBlockBytes = 16;

  struct BlockKinds {
    unsigned nLine;
    unsigned nCr;
    unsigned nLf;
  };

  // Adding 0x60 moves 0x20-0x7E to 0x80-0xDE, the signed bytes below -33, and
  // every other byte to -33 or above: one signed comparison bounds the range.
  QUORLIX_SSSE3_TARGET static unsigned LineByteMask(__m128i v) {
    const __m128i vShifted = _mm_add_epi8(v, _mm_set1_epi8(0x60));
    return static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpgt_epi8(_mm_set1_epi8(-33), vShifted)));
  }

  QUORLIX_SSSE3_TARGET static BlockKinds Classify(const unsigned char* p) {
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
    return {LineByteMask(v), static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(v, _mm_set1_epi8('\r')))),
            static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(v, _mm_set1_epi8('\n'))))};
  }

  QUORLIX_SSSE3_TARGET static unsigned CountBits(unsigned nMask) {
    return static_cast<unsigned>(__builtin_popcount(nMask));
  }

  // Stores the bytes of the block at p that nMask selects, in order, at pOut and
  // returns their number. Up to sixteen bytes at pOut are written whatever it returns.
  QUORLIX_SSSE3_TARGET static std::size_t StoreSelected(const unsigned char* p, unsigned nMask, unsigned char* pOut) {
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
    const unsigned nLow = nMask & 0xFF;
    const unsigned nHigh = nMask >> 8;
    // The high half's indices point eight places on; the zeroing ones keep their top bit.
    const __m128i vControl = _mm_add_epi8(
        _mm_unpacklo_epi64(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(kCompactionTable.indices[nLow])),
                           _mm_loadl_epi64(reinterpret_cast<const __m128i*>(kCompactionTable.indices[nHigh]))),
        _mm_set_epi8(8, 8, 8, 8, 8, 8, 8, 8, 0, 0, 0, 0, 0, 0, 0, 0));
    const __m128i vPacked = _mm_shuffle_epi8(v, vControl);
    const std::size_t nLowCount = CountBits(nLow);
    _mm_storel_epi64(reinterpret_cast<__m128i*>(pOut), vPacked);
    _mm_storel_epi64(reinterpret_cast<__m128i*>(pOut + nLowCount), _mm_unpackhi_epi64(vPacked, vPacked));
    return nLowCount + CountBits(nHigh);
  }

  QUORLIX_SSSE3_TARGET static std::size_t CopyRun(const unsigned char* p, std::size_t n, unsigned char* pOut) {
    std::size_t k = 0;
    for (; n - k >= kBlockBytes; k += kBlockBytes) {
      const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + k));
      _mm_storeu_si128(reinterpret_cast<__m128i*>(pOut + k), v);
      const unsigned nMask = LineByteMask(v);
      if (nMask != 0xFFFF) return k + static_cast<std::size_t>(__builtin_ctz(~nMask));
    }
    while (k < n && IsLineByte(p[k])) {
      pOut[k] = p[k];
      ++k;
    }
    return k;
  }

  // Plain lines, the bulk of a filing: blocks of line bytes other than chWatched,
  // and of LFs, each LF stored as CR LF. Stops before the first block holding any
  // other byte, and while fewer than two blocks are left: after a CR put in, the
  // rest of the block is stored again from its LF on. Returns the bytes taken and
  // moves pOut past what was stored, and pLineEnd past the last LF stored (left as
  // it was when none was). Up to 32 bytes at pOut are written for every 16 taken.
  QUORLIX_SSSE3_TARGET static std::size_t CopyPlainLines(const unsigned char* p, std::size_t n, unsigned char*& pOut,
                                                         unsigned char chWatched, unsigned char*& pLineEnd) {
    const __m128i vWatched = _mm_set1_epi8(static_cast<char>(chWatched));
    const __m128i vLf = _mm_set1_epi8('\n');
    unsigned char* q = pOut;
    std::size_t k = 0;
    for (; n - k >= 2 * kBlockBytes; k += kBlockBytes) {
      // A block read ahead by another thread sits in that processor's cache; asking
      // for the bytes well before they are needed hides their way over.
      _mm_prefetch(reinterpret_cast<const char*>(p + k + 1024), _MM_HINT_T0);
      const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + k));
      const auto nLf = static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(v, vLf)));
      const auto nWatched = static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(v, vWatched)));
      if ((LineByteMask(v) | nLf) != 0xFFFF || nWatched != 0) break;
      _mm_storeu_si128(reinterpret_cast<__m128i*>(q), v);
      if (nLf == 0) {
        q += kBlockBytes;
        continue;
      }
      // Each CR moves the rest of the block one place on: qAt is where its first byte now lands.
      unsigned char* qAt = q;
      for (unsigned nLeft = nLf; nLeft != 0; nLeft &= nLeft - 1) {
        const auto j = static_cast<unsigned>(__builtin_ctz(nLeft));
        qAt[j] = '\r';
        ++qAt;
        _mm_storeu_si128(reinterpret_cast<__m128i*>(qAt + j),
                         _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + k + j)));
      }
      pLineEnd = qAt + (31 - __builtin_clz(nLf)) + 1;
      q = qAt + kBlockBytes;
    }
    pOut = q;
    return k;
  }

  QUORLIX_SSSE3_TARGET static std::size_t CopyRunWatching(const unsigned char* p, std::size_t n, unsigned char* pOut,
                                                          unsigned char chWatched, bool& bWatchedSeen) {
    const __m128i vWatched = _mm_set1_epi8(static_cast<char>(chWatched));
    std::size_t k = 0;
    for (; n - k >= 2 * kBlockBytes; k += 2 * kBlockBytes) {
      const __m128i v0 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + k));
      const __m128i v1 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + k + kBlockBytes));
      _mm_storeu_si128(reinterpret_cast<__m128i*>(pOut + k), v0);
      _mm_storeu_si128(reinterpret_cast<__m128i*>(pOut + k + kBlockBytes), v1);
      const unsigned nMask = LineByteMask(v0) | LineByteMask(v1) << 16;
      const unsigned nWatched = static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(v0, vWatched))) |
                                static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(v1, vWatched))) << 16;
      if (nMask != 0xFFFFFFFF) {
        const auto nRun = static_cast<unsigned>(__builtin_ctz(~nMask));
        if (nWatched & ((1u << nRun) - 1)) bWatchedSeen = true;
        return k + nRun;
      }
      if (nWatched) bWatchedSeen = true;
    }
    for (; n - k >= kBlockBytes; k += kBlockBytes) {
      const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + k));
      _mm_storeu_si128(reinterpret_cast<__m128i*>(pOut + k), v);
      const unsigned nMask = LineByteMask(v);
      const auto nWatched = static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(v, vWatched)));
      if (nMask != 0xFFFF) {
        const auto nRun = static_cast<unsigned>(__builtin_ctz(~nMask));
        if (nWatched & ((1u << nRun) - 1)) bWatchedSeen = true;
        return k + nRun;
      }
      if (nWatched) bWatchedSeen = true;
    }
    for (; k < n && IsLineByte(p[k]); ++k) {
      pOut[k] = p[k];
      if (p[k] == chWatched) bWatchedSeen = true;
    }
    return k;
  }

  // One bit per byte of sixteen that is a line byte, CR or LF.
  QUORLIX_SSSE3_TARGET static unsigned KeptByteMask(__m128i v) {
    return LineByteMask(v) | static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(v, _mm_set1_epi8('\r')))) |
           static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(v, _mm_set1_epi8('\n'))));
  }

  QUORLIX_SSSE3_TARGET static std::size_t CountDropped(const unsigned char* p, std::size_t n) {
    std::size_t k = 0;
    for (; n - k >= 2 * kBlockBytes; k += 2 * kBlockBytes) {
      const unsigned nKept = KeptByteMask(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p + k))) |
                             KeptByteMask(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p + k + kBlockBytes))) << 16;
      if (nKept != 0) return k + static_cast<std::size_t>(__builtin_ctz(nKept));
    }
    while (k < n && IsDroppedByte(p[k])) ++k;
    return k;
  }
};
#endif

// The line scanner of level L.
#ifdef QUORLIX_HAS_VECTOR_SCAN
template <ScanLevel L>
using LineScanAt = std::conditional_t<L == ScanLevel::kPortable, PortableLineScan, Ssse3LineScan>;
#else
template <ScanLevel L>
using LineScanAt = PortableLineScan;
#endif
