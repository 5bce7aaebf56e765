#include "batch/progress_line.h"

#include <gtest/gtest.h>

namespace {

constexpr std::uint64_t kMiB = 1024 * 1024;

TEST(ProgressText, SaysWhatIsDoneAndEstimatesTheRest) {
  EXPECT_EQ(ProgressText({0, 10, 0, 0}, 0), "quorlix: 0/10 files, 0 failed, 0.0 MiB/s, 0:00 elapsed, ? left");
  // Half the files in 30 s: as long again for the other half.
  EXPECT_EQ(ProgressText({5, 10, 1, 15 * kMiB}, 30.5),
            "quorlix: 5/10 files, 1 failed, 0.5 MiB/s, 0:30 elapsed, 0:30 left");
  EXPECT_EQ(ProgressText({10, 10, 0, 10 * kMiB}, 4),
            "quorlix: 10/10 files, 0 failed, 2.5 MiB/s, 0:04 elapsed, 0:00 left");
}

TEST(ProgressText, LongRunsShowHours) {
  EXPECT_EQ(ProgressText({1, 3, 0, 0}, 3725), "quorlix: 1/3 files, 0 failed, 0.0 MiB/s, 1:02:05 elapsed, 2:04:10 left");
  EXPECT_EQ(ProgressText({1, 2, 0, 0}, 59.9), "quorlix: 1/2 files, 0 failed, 0.0 MiB/s, 0:59 elapsed, 0:59 left");
}

TEST(ProgressLine, CountsFromAnyThreadAndDrawsOnlyWhenShown) {
  ProgressLine hidden(false, 4);
  hidden.CountDone(100, true);
  testing::internal::CaptureStderr();
  hidden.Draw(true);
  hidden.Clear();
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "");

  ProgressLine shown(true, 4);
  shown.CountDone(100, true);
  shown.CountDone(0, false);
  testing::internal::CaptureStderr();
  shown.Draw(true);
  shown.Draw(false);  // within 100 ms of the last drawing: nothing
  shown.Clear();
  shown.Clear();  // already cleared: nothing
  const std::string drawn = testing::internal::GetCapturedStderr();
  EXPECT_TRUE(drawn.starts_with("\r\x1b[Kquorlix: 2/4 files, 1 failed, ")) << drawn;
  EXPECT_TRUE(drawn.ends_with(" left\r\x1b[K")) << drawn;
  EXPECT_EQ(drawn.find("quorlix", 1), drawn.rfind("quorlix")) << "drawn once: " << drawn;
}

}  // namespace
