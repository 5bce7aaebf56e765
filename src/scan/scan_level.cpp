#include "scan/scan_level.h"

#include <atomic>
#include <cstdlib>

namespace {

// Any value but empty or "0" asks for the portable level.
bool IsPortableScanRequested() noexcept {
  const char* psz = std::getenv("QUORLIX_PORTABLE");
  return psz && *psz && !(psz[0] == '0' && psz[1] == '\0');
}

ScanLevel HighestRunnableLevel() noexcept {
#ifdef QUORLIX_HAS_VECTOR_SCAN
  __builtin_cpu_init();
  if (!__builtin_cpu_supports("ssse3") || !__builtin_cpu_supports("popcnt")) return ScanLevel::kPortable;
  return __builtin_cpu_supports("avx2") ? ScanLevel::kAvx2 : ScanLevel::kSsse3;
#else
  return ScanLevel::kPortable;
#endif
}

ScanLevel HighestRunnableLevelOnce() noexcept {
  static const ScanLevel level = HighestRunnableLevel();
  return level;
}

// Decided on first use; reads of a relaxed atomic cost no more than of a plain byte.
std::atomic<ScanLevel>& LevelInUse() noexcept {
  static std::atomic<ScanLevel> level{IsPortableScanRequested() ? ScanLevel::kPortable : HighestRunnableLevelOnce()};
  return level;
}

}  // namespace

ScanLevel ActiveScanLevel() noexcept { return LevelInUse().load(std::memory_order_relaxed); }

ScopedScanLevel::ScopedScanLevel(ScanLevel level) noexcept : m_previous(ActiveScanLevel()) {
  const ScanLevel highest = HighestRunnableLevelOnce();
  LevelInUse().store(level < highest ? level : highest, std::memory_order_relaxed);
}

ScopedScanLevel::~ScopedScanLevel() { LevelInUse().store(m_previous, std::memory_order_relaxed); }
