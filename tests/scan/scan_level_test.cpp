#include "scan/scan_level.h"

#include <gtest/gtest.h>

namespace {

ScanLevel DispatchedLevel() {
  return WithScanLevel([]<ScanLevel L>() { return L; });
}

TEST(ScanLevel, AScopedLevelHoldsWhileItLivesAndTheOldOneComesBack) {
  const ScanLevel own = ActiveScanLevel();
  {
    const ScopedScanLevel portable(ScanLevel::kPortable);
    EXPECT_EQ(ActiveScanLevel(), ScanLevel::kPortable);
    EXPECT_EQ(DispatchedLevel(), ScanLevel::kPortable);
    {
      const ScopedScanLevel highest(ScanLevel::kAvx2);
      EXPECT_EQ(DispatchedLevel(), ActiveScanLevel());
    }
    EXPECT_EQ(ActiveScanLevel(), ScanLevel::kPortable);
  }
  EXPECT_EQ(ActiveScanLevel(), own);
}

// A level the processor cannot run is never taken: the highest it can stands in.
TEST(ScanLevel, AnAskedLevelIsCappedAtWhatTheProcessorRuns) {
  ScanLevel highest;
  {
    const ScopedScanLevel level(ScanLevel::kAvx2);
    highest = ActiveScanLevel();
  }
  const ScopedScanLevel level(ScanLevel::kSsse3);
  EXPECT_EQ(ActiveScanLevel(), highest < ScanLevel::kSsse3 ? highest : ScanLevel::kSsse3);
#ifndef QUORLIX_HAS_VECTOR_SCAN
  EXPECT_EQ(highest, ScanLevel::kPortable);
#endif
}

}  // namespace
