// Helpers shared by the test files: a fresh folder per test and whole-file I/O.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
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

// Runs the built quorlix tool with these arguments and collects what it printed.
struct ToolRun {
  int nExitStatus;
  std::string strOut;
  std::string strErr;
};
ToolRun RunTool(const std::vector<std::string>& args);

}  // namespace quorlix_test
