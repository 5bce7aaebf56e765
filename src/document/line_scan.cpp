#include "document/line_scan.h"

#include <atomic>
#include <cstdlib>

namespace {

// Any value but empty or "0" asks for the portable scanner.
bool IsPortableScanRequested() noexcept {
  const char* psz = std::getenv("QUORLIX_PORTABLE");
  return psz && *psz && !(psz[0] == '0' && psz[1] == '\0');
}

bool HasVectorScan() noexcept {
#ifdef QUORLIX_HAS_VECTOR_SCAN
  __builtin_cpu_init();
  return __builtin_cpu_supports("ssse3") && __builtin_cpu_supports("popcnt");
#else
  return false;
#endif
}

bool HasWideScan() noexcept {
#ifdef QUORLIX_HAS_VECTOR_SCAN
  __builtin_cpu_init();
  return HasVectorScan() && __builtin_cpu_supports("avx2");
#else
  return false;
#endif
}

bool OwnVectorScanChoice() noexcept {
  static const bool bOwnChoice = HasVectorScan() && !IsPortableScanRequested();
  return bOwnChoice;
}

// Decided on first use; reads of a relaxed atomic cost no more than of a plain bool.
std::atomic<bool>& VectorScanChoice() noexcept {
  static std::atomic<bool> bChoice{OwnVectorScanChoice()};
  return bChoice;
}

std::atomic<bool>& WideScanChoice() noexcept {
  static std::atomic<bool> bChoice{HasWideScan()};
  return bChoice;
}

}  // namespace

#ifdef QUORLIX_HAS_VECTOR_SCAN
// Row m lists the set bits of m from the lowest, then 0x80 (a zero byte) for the rest.
const CompactionTable kCompactionTable = [] {
  CompactionTable table{};
  for (unsigned m = 0; m < 256; ++m) {
    unsigned nNext = 0;
    for (unsigned b = 0; b < 8; ++b)
      if (m & (1u << b)) table.indices[m][nNext++] = static_cast<unsigned char>(b);
    while (nNext < 8) table.indices[m][nNext++] = 0x80;
  }
  return table;
}();
#endif

bool IsVectorScanEnabled() noexcept { return VectorScanChoice().load(std::memory_order_relaxed); }

void SetVectorScanEnabled(bool bEnabled) noexcept {
  VectorScanChoice().store(bEnabled && HasVectorScan(), std::memory_order_relaxed);
}

void ResetVectorScanEnabled() noexcept {
  VectorScanChoice().store(OwnVectorScanChoice(), std::memory_order_relaxed);
  WideScanChoice().store(HasWideScan(), std::memory_order_relaxed);
}

bool IsWideScanEnabled() noexcept { return IsVectorScanEnabled() && WideScanChoice().load(std::memory_order_relaxed); }

void SetWideScanEnabled(bool bEnabled) noexcept {
  WideScanChoice().store(bEnabled && HasWideScan(), std::memory_order_relaxed);
}
