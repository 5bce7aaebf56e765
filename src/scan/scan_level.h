// The scan levels: which form of each fast loop runs. A loop is written once over
// a scanner or block type and compiled once per level, each form with the target
// options of its instruction set; the level is chosen once per process and
// dispatched once per call, never per row or block.
//
//   kPortable  eight bytes at a time in a 64-bit word, on any processor
//   kSsse3     sixteen at a time, on x86 processors with SSSE3 and POPCNT (asked
//              at run time, so the 32-bit library still runs on any i686)
//   kAvx2      32 at a time where a loop has such a form, with AVX2; the others
//              take their SSSE3 form
//
// QUORLIX_PORTABLE=1 (any value but empty or "0") in the environment forces the
// portable level, so that both can be run on one machine.
#pragma once

#include <cstdint>

#if defined(__i386__) || defined(__x86_64__)
#include <immintrin.h>
#define QUORLIX_HAS_VECTOR_SCAN 1
#define QUORLIX_SSSE3_TARGET __attribute__((target("ssse3,popcnt")))
#define QUORLIX_AVX2_TARGET __attribute__((target("ssse3,popcnt,avx2")))
#else
#define QUORLIX_SSSE3_TARGET
#define QUORLIX_AVX2_TARGET
#endif
// A loop of a level's form carries that level's target too, so that the
// scanner's steps are inlined into it.

enum class ScanLevel : std::uint8_t { kPortable, kSsse3, kAvx2 };

// The level in use: the highest the processor runs, or kPortable when the
// environment asks for it, unless a ScopedScanLevel holds another.
ScanLevel ActiveScanLevel() noexcept;

// For tests and fuzz targets, which run every conversion at every level: while it
// lives, the level in use is the one asked for, or the highest the processor runs
// below it. One at a time, on one thread; the previous level comes back after it.
class ScopedScanLevel {
 public:
  explicit ScopedScanLevel(ScanLevel level) noexcept;
  ~ScopedScanLevel();
  ScopedScanLevel(const ScopedScanLevel&) = delete;
  ScopedScanLevel& operator=(const ScopedScanLevel&) = delete;

 private:
  ScanLevel m_previous;
};

// A loop with no form of its own at level L takes the highest it has below it.
template <ScanLevel L, ScanLevel kTop>
inline constexpr ScanLevel kScanLevelUpTo = L < kTop ? L : kTop;

// Runs fn.template operator()<L>() with the active level L: the one place that
// picks a form. Only the levels the build has are instantiated, so a loop's x86
// forms need not exist elsewhere.
template <typename Fn>
decltype(auto) WithScanLevel(Fn&& fn) {
#ifdef QUORLIX_HAS_VECTOR_SCAN
  switch (ActiveScanLevel()) {
    case ScanLevel::kAvx2: return fn.template operator()<ScanLevel::kAvx2>();
    case ScanLevel::kSsse3: return fn.template operator()<ScanLevel::kSsse3>();
    case ScanLevel::kPortable: break;
  }
#endif
  return fn.template operator()<ScanLevel::kPortable>();
}
