#include "batch/private_folders.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "test_support.h"

namespace {

namespace fs = std::filesystem;
using namespace batch;
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

TEST(PrivateFolderName, NamesHostPidAndARandomPart) {
  const std::string name = PrivateFolderName();
  EXPECT_TRUE(IsPrivateFolderName(name)) << name;
  const std::string pidPart = std::to_string(::getpid());
  EXPECT_NE(name.find('-' + pidPart + '-'), std::string::npos) << name;
  EXPECT_NE(PrivateFolderName(), name);
  EXPECT_TRUE(IsPrivateFolderName(".quorlix-node-7.lan-123-k3x9ab0z"));  // a '-' in the host name
  EXPECT_FALSE(IsPrivateFolderName(".quorlix-123-k3x9ab0z"));            // earlier versions: no host
  EXPECT_FALSE(IsPrivateFolderName(".quorlix-h-123-k3x9"));              // a short random part
  EXPECT_FALSE(IsPrivateFolderName(".quorlix-h-12a-k3x9ab0z"));
  EXPECT_FALSE(IsPrivateFolderName(".quorlix-1999-q1.csv.0123456789abcdef-0.tmp"));  // the library's temporary
  EXPECT_FALSE(IsPrivateFolderName(".quorlix-table.csv.0123456789ab.tmp"));          // the tool's
  EXPECT_FALSE(IsPrivateFolderName("quorlix-h-123-k3x9ab0z"));
}

TEST_F(StagingFoldersTest, ResumeRemovesOnlyFoldersWhoseLockIsFree) {
  const std::string out = MakeFolder("out");
  // A run that ends without cleaning up, as a killed one does.
  const pid_t child = ::fork();
  if (child == 0) {
    auto* staging = new StagingFolders;  // never destroyed
    const StagingFolders::Folder* made = staging->For(out);
    if (made) {
      const int fd = ::open((made->path + "/0-0-a.txt").c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0600);
      if (fd >= 0) ::close(fd);
    }
    ::_exit(made ? 0 : 1);
  }
  int childStatus = 0;
  ASSERT_EQ(::waitpid(child, &childStatus, 0), child);
  ASSERT_EQ(childStatus, 0);
  StagingFolders live;
  const StagingFolders::Folder* working = live.For(out);
  ASSERT_NE(working, nullptr);
  WriteFile("out/.quorlix-1999-q1.csv.0123456789abcdef-0.tmp", "a table in the making");
  MakeFolder("out/.quorlix-h-123-k3x9ab0z");  // by the rule, but no lock to take
  WriteFile("out/a.txt", "an output");

  LeftoverCount count;
  EXPECT_TRUE(RemoveLeftovers(out, count));
  EXPECT_EQ(count.removed, 1u);
  EXPECT_EQ(count.kept, 3u);
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(out)) names.push_back(entry.path().filename());
  std::ranges::sort(names);
  std::vector<std::string> expected = {".quorlix-1999-q1.csv.0123456789abcdef-0.tmp", ".quorlix-h-123-k3x9ab0z",
                                       fs::path(working->path).filename(), "a.txt"};
  std::ranges::sort(expected);
  EXPECT_EQ(names, expected);
}

}  // namespace
