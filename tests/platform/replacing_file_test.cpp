#include "platform/replacing_file.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <string>

#include "platform/temporaries.h"
#include "test_support.h"

namespace {

using quorlix_test::FileExists;
using quorlix_test::ReadFile;

class ReplacingFileTest : public quorlix_test::TempDirTest {
 protected:
  // The entries of the test's folder whose names start ".quorlix-".
  int Leftovers() const {
    int count = 0;
    for (const auto& entry : std::filesystem::directory_iterator(m_dir))
      if (entry.path().filename().string().starts_with(".quorlix-")) ++count;
    return count;
  }
  static void Put(const CReplacingFile& file, const std::string& bytes) {
    ASSERT_EQ(::write(file.Fd(), bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
  }
};

TEST_F(ReplacingFileTest, TemporaryNamesAreBesideTheFileAndNewEachTime) {
  const std::string first = TemporaryNameFor("some/folder/out.csv");
  EXPECT_TRUE(first.starts_with("some/folder/.quorlix-out.csv.")) << first;
  EXPECT_TRUE(first.ends_with(".tmp")) << first;
  EXPECT_NE(first, TemporaryNameFor("some/folder/out.csv"));
  EXPECT_TRUE(TemporaryNameFor("out.csv").starts_with(".quorlix-out.csv.")) << TemporaryNameFor("out.csv");
}

// The first name tried stands for a leftover of another run.
std::string g_taken;
int g_namesAsked = 0;
std::string TakenThenFresh(const std::string& finalPath) {
  return ++g_namesAsked == 1 ? g_taken : TemporaryNameFor(finalPath);
}
std::string AlwaysTaken(const std::string&) {
  ++g_namesAsked;
  return g_taken;
}

TEST_F(ReplacingFileTest, ATakenNameIsLeftAloneAndAnotherTried) {
  g_taken = WriteFile(".quorlix-out.csv.leftover.tmp", "another run's");
  g_namesAsked = 0;
  CReplacingFile file(TakenThenFresh);
  ASSERT_EQ(file.Create(PathOf("out.csv")), 0);
  EXPECT_EQ(g_namesAsked, 2);
  EXPECT_NE(file.TemporaryPath(), g_taken);
  Put(file, "table");
  ASSERT_EQ(file.Commit(), 0);
  EXPECT_EQ(ReadFile(g_taken), "another run's");
  EXPECT_EQ(ReadFile(PathOf("out.csv")), "table");

  // A link at the name is taken too: never followed, never replaced.
  const std::string target = WriteFile("target", "kept");
  g_taken = PathOf(".quorlix-out.csv.link.tmp");
  std::filesystem::create_symlink(target, g_taken);
  g_namesAsked = 0;
  CReplacingFile always(AlwaysTaken);
  EXPECT_EQ(always.Create(PathOf("out.csv")), EEXIST);
  EXPECT_GT(g_namesAsked, 1);
  EXPECT_EQ(ReadFile(target), "kept");
  EXPECT_TRUE(std::filesystem::is_symlink(g_taken));
}

TEST_F(ReplacingFileTest, CommitReplacesTheFileALinkNamesAndKeepsTheLink) {
  std::filesystem::create_directory(m_dir / "real");
  const std::string real = WriteFile("real/table.csv", "old");
  const std::string link = PathOf("table.csv");
  std::filesystem::create_symlink("real/table.csv", link);
  CReplacingFile file;
  ASSERT_EQ(file.Create(link), 0);
  // Written in the target's folder, so the rename stays on its file system.
  EXPECT_EQ(std::filesystem::path(file.TemporaryPath()).parent_path(), std::filesystem::canonical(m_dir / "real"));
  Put(file, "new");
  ASSERT_EQ(file.Commit(), 0);
  EXPECT_TRUE(std::filesystem::is_symlink(link));
  EXPECT_EQ(ReadFile(real), "new");
  EXPECT_FALSE(FileExists(file.TemporaryPath()));

  // Not followed when asked: the link itself is replaced.
  CReplacingFile replacing;
  ASSERT_EQ(replacing.Create(link, false), 0);
  Put(replacing, "own");
  ASSERT_EQ(replacing.Commit(), 0);
  EXPECT_FALSE(std::filesystem::is_symlink(link));
  EXPECT_EQ(ReadFile(link), "own");
  EXPECT_EQ(ReadFile(real), "new");
}

TEST_F(ReplacingFileTest, ALinkToNothingOrAFolderIsRefusedAndNothingMade) {
  const std::string link = PathOf("dangling.csv");
  std::filesystem::create_symlink("nowhere/table.csv", link);
  CReplacingFile file;
  EXPECT_EQ(file.Create(link), ENOENT);
  EXPECT_EQ(ReplacedFileOf(link), "");
  std::filesystem::create_directory(m_dir / "folder");
  EXPECT_EQ(file.Create(PathOf("folder")), EISDIR);
  EXPECT_EQ(Leftovers(), 0);
  EXPECT_FALSE(std::filesystem::exists(m_dir / "nowhere"));
}

TEST_F(ReplacingFileTest, AbandonRemovesTheTemporaryAndKeepsTheOldFile) {
  const std::string output = WriteFile("out.csv", "old");
  {
    CReplacingFile file;
    ASSERT_EQ(file.Create(output), 0);
    Put(file, "half a ta");
    EXPECT_EQ(Leftovers(), 1);
    file.Abandon();
    EXPECT_EQ(Leftovers(), 0);
    EXPECT_EQ(file.Commit(), EINVAL);  // nothing left to put in place
    ASSERT_EQ(file.Create(output), 0);
    Put(file, "half again");
  }  // the destructor abandons too
  EXPECT_EQ(Leftovers(), 0);
  EXPECT_EQ(ReadFile(output), "old");
}

TEST_F(ReplacingFileTest, AFailureNamesTheTemporary) {
  // Its folder is missing: the creation fails on the temporary's path.
  CReplacingFile file;
  EXPECT_EQ(file.Create(PathOf("missing/out.csv")), ENOENT);
  EXPECT_TRUE(file.TemporaryPath().starts_with(PathOf("missing/.quorlix-out.csv."))) << file.TemporaryPath();

  // The rename fails (a folder with files now stands at the name): the
  // temporary is removed, and still named.
  ASSERT_EQ(file.Create(PathOf("busy")), 0);
  std::filesystem::create_directory(m_dir / "busy");
  WriteFile("busy/inside", "x");
  Put(file, "table");
  const int error = file.Commit();
  EXPECT_TRUE(error == EISDIR || error == ENOTEMPTY || error == EEXIST) << error;
  EXPECT_TRUE(file.TemporaryPath().starts_with(PathOf(".quorlix-busy."))) << file.TemporaryPath();
  EXPECT_FALSE(FileExists(file.TemporaryPath()));
  EXPECT_EQ(ReadFile(PathOf("busy/inside")), "x");
}

TEST_F(ReplacingFileTest, AnEndAtOnceRemovesTheTemporaryAndACommitForgetsIt) {
  // In a child, since the end keeps the registry locked for good.
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    CReplacingFile placed;
    CReplacingFile pending;
    const bool made =
        placed.Create(PathOf("placed.csv")) == 0 && pending.Create(PathOf("pending.csv")) == 0 && placed.Commit() == 0;
    temporaries::RemoveAllForGood();
    ::_exit(made ? 0 : 1);  // without the destructors, as a process ended by a signal
  }
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  EXPECT_EQ(Leftovers(), 0);
  EXPECT_TRUE(FileExists(PathOf("placed.csv")));
  EXPECT_FALSE(FileExists(PathOf("pending.csv")));
}

TEST_F(ReplacingFileTest, RenameIntoPlaceMovesANameOutOfAFoldersDescriptor) {
  std::filesystem::create_directory(m_dir / "private");
  WriteFile("private/out.txt", "whole");
  const int folder = ::open(PathOf("private").c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  ASSERT_GE(folder, 0);
  EXPECT_EQ(RenameIntoPlace(folder, "out.txt", PathOf("private/out.txt"), PathOf("out.txt")), 0);
  EXPECT_EQ(ReadFile(PathOf("out.txt")), "whole");
  EXPECT_EQ(RenameIntoPlace(folder, "gone.txt", PathOf("private/gone.txt"), PathOf("gone.txt")), ENOENT);
  ::close(folder);
}

}  // namespace
