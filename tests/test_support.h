// Helpers shared by the test files: a fresh folder per test, whole-file I/O, the
// built tool run as a user runs it, and a process without free file descriptors.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace quorlix_test {

// Each test works in a folder of its own, removed when the test ends.
class TempDirTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  // A path inside the test's folder.
  std::string PathOf(std::string_view strName) const;
  // Writes bytes to a file in the test's folder and returns its path.
  std::string WriteFile(std::string_view strName, std::string_view bytes) const;

  std::filesystem::path m_dir;
};

std::string ReadFile(const std::string& strPath);
bool FileExists(const std::string& strPath);

// The folder of checked-in test inputs.
std::filesystem::path DataDir();

// What StatusWithDescriptorsLeft gives when its child process could not take
// the descriptors away.
inline constexpr int kNoDescriptorsSetUpFailed = 255;

// Runs call() in a child process in which only `left` more files can be open at
// once, so that opening one file more fails with too many open files, and returns
// the status call() gave; kNoDescriptorsSetUpFailed when the limit could not be
// set up, -1 when the child did not exit by itself. The test's own process keeps
// its descriptors. warmUp() runs in the child first, while descriptors remain: a
// sanitized build opens descriptors the first time it checks a type, so warmUp()
// should meet every type that call() meets, the exceptions of its failures too.
int StatusWithDescriptorsLeft(int left, const std::function<void()>& warmUp, const std::function<int()>& call);

}  // namespace quorlix_test
