// The fixture of the tool's tests: it runs the built quorlix tool as a user
// would, with its captured output kept in the test's own folder.
#pragma once

#include <sys/types.h>

#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "test_support.h"

namespace quorlix_test {

class ToolTest : public TempDirTest {
 protected:
  struct Run {
    int exitStatus;  // -1 when the tool ended by a signal
    int signal;      // the signal that ended it, or 0
    std::string out;
    std::string err;
    long peakRssKiB = 0;  // the tool's peak resident set, from getrusage
  };
  struct Setup {
    std::string input;                  // bytes on standard input
    std::string appendOutTo;            // standard output appended to this file instead of captured
    std::string folder;                 // the folder the tool starts in (default: the test's)
    long fileSizeLimit = -1;            // RLIMIT_FSIZE in bytes, when not negative
    long openFilesLimit = -1;           // RLIMIT_NOFILE, when not negative
    long userId = -1;                   // the user (and group) the tool runs as, when not negative
    std::string tool;                   // the tool to run (default: the built one)
    std::vector<std::string> runUnder;  // a command that runs the tool, such as {"unshare", "-p", "-f"}
  };

  static Setup WithInput(std::string bytes) {
    Setup setup;
    setup.input = std::move(bytes);
    return setup;
  }
  static Setup WithFileSizeLimit(long bytes) {
    Setup setup;
    setup.fileSizeLimit = bytes;
    return setup;
  }

  void SetUp() override;
  void TearDown() override;

  // For a test that runs the tool as another user, who may not reach the build
  // folder or the test's own (a clone in a private folder, a private TMPDIR): a
  // fresh folder under /tmp, mode 0755, holding a copy of the tool as "quorlix";
  // "" (with why set) when it cannot be made. Removed when the test ends.
  std::string MakeFolderForAnyUser(std::string& why);

  Run RunTool(const std::vector<std::string>& args) { return RunTool(args, Setup{}); }
  Run RunTool(const std::vector<std::string>& args, const Setup& setup);

  // Starts the tool without waiting for it; FinishTool waits and collects.
  pid_t StartTool(const std::vector<std::string>& args, const Setup& setup);
  Run FinishTool(pid_t pid);

  // Writes a file below the test's folder, creating its folders.
  std::string WriteTree(std::string_view relPath, std::string_view bytes) const;
  // The relative paths of the regular files below a folder, sorted.
  static std::vector<std::string> ListFiles(const std::string& folder);

 private:
  std::string m_ioDir;
  std::string m_sharedDir;
};

// A tool test without libmagic's database, so that verify's lines hold the
// tool's own words alone.
class ToolTestWithoutMagic : public ToolTest {
 protected:
  void SetUp() override {
    ToolTest::SetUp();
    ::setenv("MAGIC", PathOf("no-such-magic.mgc").c_str(), 1);
  }
  void TearDown() override {
    ::unsetenv("MAGIC");
    ToolTest::TearDown();
  }
};

}  // namespace quorlix_test
