#include "batch/staging_folders.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <string>

#include "test_support.h"

namespace {

namespace fs = std::filesystem;
using quorlix_test::FileExists;
using quorlix_test::ReadFile;

class StagingFoldersTest : public quorlix_test::TempDirTest {
 protected:
  std::string MakeFolder(const std::string& name) const {
    fs::create_directories(PathOf(name));
    return PathOf(name);
  }
};

TEST_F(StagingFoldersTest, APrivateFolderIsTheOwnersAloneAndAnotherInItsPlaceIsRefused) {
  StagingFolders staging;
  const StagingFolders::Folder* made = staging.For(MakeFolder("out"));
  ASSERT_NE(made, nullptr);
  EXPECT_TRUE(fs::path(made->path).filename().string().starts_with(kPrivatePrefix));
  struct stat info {};
  ASSERT_EQ(::stat(made->path.c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 07777, 0700u);
  EXPECT_EQ(staging.For(PathOf("out")), made);  // one per destination

  // Someone moves it away and puts a folder, then a link, in its place.
  fs::rename(made->path, PathOf("moved"));
  fs::create_directory(made->path);
  EXPECT_FALSE(StagingFolders::Opened(*made).IsOpen());
  fs::remove(made->path);
  fs::create_directory_symlink(PathOf("moved"), made->path);
  EXPECT_FALSE(StagingFolders::Opened(*made).IsOpen());
}

TEST_F(StagingFoldersTest, AHandedPathKeepsNamingTheFolderMadeAfterALinkIsSwappedIn) {
  StagingFolders staging;
  const StagingFolders::Folder* made = staging.For(MakeFolder("out"));
  ASSERT_NE(made, nullptr);
  const StagingFolders::Opened opened(*made);
  ASSERT_TRUE(opened.IsOpen());
  const std::string handed = opened.Handed("a.txt");
  if (!handed.starts_with("/proc/")) GTEST_SKIP() << "no /proc here: the folder's path is handed";

  const std::string elsewhere = MakeFolder("elsewhere");
  fs::rename(made->path, PathOf("moved"));
  fs::create_directory_symlink(elsewhere, made->path);
  const int fd = ::open(handed.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(::write(fd, "x", 1), 1);
  ::close(fd);
  EXPECT_EQ(ReadFile(PathOf("moved/a.txt")), "x");
  EXPECT_TRUE(fs::is_empty(elsewhere));
  fs::remove(made->path);
}

TEST_F(StagingFoldersTest, OnlyEntriesOfDeadRunsAreLeftovers) {
  const pid_t child = ::fork();
  if (child == 0) ::_exit(0);
  ::waitpid(child, nullptr, 0);
  const std::string dead = std::to_string(child);
  const std::string live = std::to_string(::getpid());
  EXPECT_TRUE(IsLeftByDeadRun(".quorlix-" + dead + "-k3x9"));
  EXPECT_TRUE(IsLeftByDeadRun(".quorlix-" + dead + "-0-1-a.txt"));
  EXPECT_FALSE(IsLeftByDeadRun(".quorlix-" + live + "-k3x9"));
  EXPECT_FALSE(IsLeftByDeadRun(".quorlix-1-k3x9"));  // init runs, whoever owns it
  EXPECT_FALSE(IsLeftByDeadRun(".quorlix-x-k3x9"));
  EXPECT_FALSE(IsLeftByDeadRun("quorlix-" + dead + "-k3x9"));

  const std::string out = MakeFolder("out");
  MakeFolder("out/.quorlix-" + dead + "-k3x9");
  WriteFile("out/.quorlix-" + dead + "-k3x9/0-0-a.txt", "partial");
  WriteFile("out/.quorlix-" + dead + "-0-1-b.txt", "partial");
  WriteFile("out/.quorlix-" + live + "-0-0-a.txt", "in flight");
  WriteFile("out/a.txt", "an output");
  EXPECT_TRUE(RemoveLeftovers(out));
  EXPECT_FALSE(FileExists(PathOf("out/.quorlix-" + dead + "-k3x9")));
  EXPECT_FALSE(FileExists(PathOf("out/.quorlix-" + dead + "-0-1-b.txt")));
  EXPECT_TRUE(FileExists(PathOf("out/.quorlix-" + live + "-0-0-a.txt")));
  EXPECT_TRUE(FileExists(PathOf("out/a.txt")));
}

}  // namespace
