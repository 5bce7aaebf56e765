// The cause the tool names for a generic file error, each caused for real.
#include "failure_cause.h"

#include <gtest/gtest.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "cli/tool_test.h"
#include "quorlix.h"

namespace {

using quorlix_test::FileExists;
using quorlix_test::ReadFile;
namespace fs = std::filesystem;

class FailureCauseTest : public quorlix_test::ToolTest {
 protected:
  void SetUp() override {
    ToolTest::SetUp();
    m_filing =
        WriteTree("filing.txt", ReadFile((quorlix_test::DataDir() / "filing/apple_10q_2000q1_ex27.txt").string()));
  }
  void TearDown() override {
    if (m_mounted) ::umount2(PathOf("mnt").c_str(), MNT_DETACH);
    ToolTest::TearDown();
  }
  // A small tmpfs at "mnt"; false when mounting is refused (an unprivileged user).
  bool MountTmpfs(const char* options) {
    fs::create_directory(PathOf("mnt"));
    m_mounted = ::mount("tmpfs", PathOf("mnt").c_str(), "tmpfs", 0, options) == 0;
    return m_mounted;
  }

  std::string m_filing;
  bool m_mounted = false;
};

TEST_F(FailureCauseTest, MissingFolderIsNamed) {
  const auto run = RunTool({"decode-filing", "filing.txt", "gone/text.txt", "schedule.txt"});
  EXPECT_EQ(run.exitStatus, QUORLIX_FILING_FILE_ERROR);
  EXPECT_EQ(run.err, "quorlix: cannot create 'gone/text.txt': folder 'gone' does not exist (status 2)\n");
  const auto crlf = RunTool({"crlf", "filing.txt", "gone/deeper/copy.txt"});
  EXPECT_EQ(crlf.exitStatus, QUORLIX_CRLF_OUTPUT_ERROR);
  EXPECT_EQ(crlf.err,
            "quorlix: cannot create 'gone/deeper/copy.txt': folder 'gone/deeper' does not exist (status 6)\n");
}

TEST_F(FailureCauseTest, FileInPlaceOfAFolderIsNamed) {
  WriteFile("plain", "x");
  const auto run = RunTool({"html2text", "-", "plain/page.txt"}, WithInput("<BODY>x</BODY>"));
  EXPECT_NE(run.exitStatus, 0);
  EXPECT_EQ(run.err, "quorlix: cannot create 'plain/page.txt': 'plain' is not a folder (status " +
                         std::to_string(run.exitStatus) + ")\n");
  // In a batch, where the tool makes the output's folders itself.
  WriteTree("in/sub/a.txt", "a\n");
  WriteTree("out/sub", "a file where a folder belongs");
  const auto batch = RunTool({"crlf", "-q", "-o", "out", "in"});
  EXPECT_EQ(batch.exitStatus, QUORLIX_CRLF_OUTPUT_ERROR);
  EXPECT_EQ(batch.err, "quorlix: cannot create 'out/sub/a.txt': 'out/sub' is not a folder (status 6)\n");
}

TEST_F(FailureCauseTest, OutputsNamingTheInputOrOneFileAreNamed) {
  WriteFile("a.csv", "a,b\r\n");
  const auto delimited = RunTool({"delimited", "a.csv", "./a.csv"});
  EXPECT_EQ(delimited.exitStatus, QUORLIX_DELIMITED_OUTPUT_ERROR);
  EXPECT_EQ(delimited.err, "quorlix: the output './a.csv' is the input 'a.csv' itself (status 2)\n");
  EXPECT_EQ(ReadFile(PathOf("a.csv")), "a,b\r\n");

  const auto both = RunTool({"decode-filing", "filing.txt", "out.txt", "out.txt"});
  EXPECT_EQ(both.exitStatus, QUORLIX_FILING_FILE_ERROR);
  EXPECT_EQ(both.err, "quorlix: both outputs, 'out.txt' and 'out.txt', are one file (status 2)\n");
}

// Run by root, the tool runs as nobody, for whom file modes bind. Nobody may
// reach neither the build folder nor the test's (a clone in `mktemp -d`), so the
// tool and the files run from a folder under /tmp that anyone can reach.
TEST_F(FailureCauseTest, NoPermissionIsNamed) {
  Setup setup;
  std::string folder = m_dir.string();
  if (::geteuid() == 0) {
    std::string why;
    const std::string shared = MakeFolderForAnyUser(why);
    if (shared.empty()) GTEST_SKIP() << "the tool cannot be placed where nobody reaches it: " << why;
    setup.userId = 65534;
    setup.tool = shared + "/quorlix";
    folder = shared + "/work";
    fs::create_directory(folder);
    fs::copy_file(m_filing, folder + "/filing.txt");
    setup.folder = folder;
  }
  fs::create_directory(folder + "/locked");
  ::chmod((folder + "/locked").c_str(), 0555);
  const std::string kept = folder + "/kept.txt";
  std::ofstream(kept, std::ios::binary) << "kept";
  ::chmod(kept.c_str(), 0444);
  const auto run = RunTool({"decode-filing", "filing.txt", "locked/text.txt", "schedule.txt"}, setup);
  if (run.exitStatus == 125) GTEST_SKIP() << "the tool cannot run as another user here (setuid refused)";
  EXPECT_EQ(run.exitStatus, QUORLIX_FILING_FILE_ERROR) << run.err;
  EXPECT_EQ(run.err,
            "quorlix: cannot create 'locked/text.txt': no permission to write in folder 'locked' (status 2)\n");
  const auto file = RunTool({"crlf", "filing.txt", "kept.txt"}, setup);
  EXPECT_EQ(file.exitStatus, QUORLIX_CRLF_OUTPUT_ERROR);
  EXPECT_EQ(file.err, "quorlix: cannot write 'kept.txt': no permission to write it (status 6)\n");
  EXPECT_EQ(ReadFile(kept), "kept");
}

TEST_F(FailureCauseTest, ReadOnlyFileSystemIsNamed) {
  if (!MountTmpfs("ro,size=64k")) GTEST_SKIP() << "mounting a tmpfs is refused";
  const auto run = RunTool({"decode-filing", "filing.txt", "mnt/text.txt", "schedule.txt"});
  EXPECT_EQ(run.exitStatus, QUORLIX_FILING_FILE_ERROR);
  EXPECT_EQ(run.err, "quorlix: cannot write 'mnt/text.txt': folder 'mnt' is on a read-only file system (status 2)\n");
  // In a batch the export never runs: the batch's private folder cannot be made
  // there, and its record says why.
  WriteTree("in/a.txt", "a\n");
  const auto batch = RunTool({"crlf", "-q", "-o", "mnt", "in"});
  EXPECT_EQ(batch.exitStatus, QUORLIX_CRLF_OUTPUT_ERROR);
  EXPECT_EQ(batch.err, "quorlix: cannot write 'mnt/a.txt': folder 'mnt' is on a read-only file system (status 6)\n");
}

TEST_F(FailureCauseTest, FullFileSystemIsNamed) {
  if (!MountTmpfs("size=16k")) GTEST_SKIP() << "mounting a tmpfs is refused";
  const auto run = RunTool({"decode-filing", "filing.txt", "mnt/text.txt", "mnt/schedule.txt"});
  EXPECT_EQ(run.exitStatus, QUORLIX_FILING_FILE_ERROR);
  EXPECT_EQ(run.err, "quorlix: cannot write 'mnt/text.txt': no space left in folder 'mnt' (status 2)\n");
  EXPECT_EQ(ReadFile(m_filing).size(), 84584u);
}

TEST_F(FailureCauseTest, GenericWordsWhenNoCauseHolds) {
  // The filing is a folder: none of the outputs' causes holds.
  fs::create_directory(PathOf("folder.txt"));
  const auto run = RunTool({"decode-filing", "folder.txt", "text.txt", "schedule.txt"});
  EXPECT_EQ(run.exitStatus, QUORLIX_FILING_FILE_ERROR);
  EXPECT_EQ(run.err,
            "quorlix: file error on 'folder.txt', 'text.txt' or 'schedule.txt' (bad path, disk full, an output naming "
            "the filing, or both outputs one file) (status 2)\n");
}

// The record decides, not a look at the files afterwards: these files need not exist.
TEST(FindFailureCause, TheLibrarysRecordDecides) {
  const CallFiles files{"in.txt", "out/text.txt", "sched/schedule.txt"};
  quorlix_failure failure{};
  failure.cause = QUORLIX_CAUSE_NO_SPACE;
  failure.file = QUORLIX_FAILED_FILE_OUTPUT2;
  FailureCause cause = FindFailureCause(Export::kFiling, QUORLIX_FILING_FILE_ERROR, &failure);
  EXPECT_EQ(DescribeFailure(Export::kFiling, QUORLIX_FILING_FILE_ERROR, files, cause),
            "cannot write 'sched/schedule.txt': no space left in folder 'sched'");
  failure.cause = QUORLIX_CAUSE_SPECIAL_FILE;
  failure.file = QUORLIX_FAILED_FILE_INPUT;
  cause = FindFailureCause(Export::kCrlf, QUORLIX_CRLF_INPUT_ERROR, &failure);
  EXPECT_EQ(DescribeFailure(Export::kCrlf, QUORLIX_CRLF_INPUT_ERROR, files, cause),
            "input file 'in.txt' is not a regular file");
  // Memory is named only where it ran out.
  failure.cause = QUORLIX_CAUSE_NO_MEMORY;
  failure.file = QUORLIX_FAILED_FILE_NONE;
  cause = FindFailureCause(Export::kCrlf, QUORLIX_CRLF_INPUT_ERROR, &failure);
  EXPECT_EQ(cause.kind, CauseKind::kNone);
  EXPECT_EQ(DescribeFailure(Export::kCrlf, QUORLIX_CRLF_INPUT_ERROR, files, cause),
            "cannot read input file 'in.txt' (or not enough memory)");
  failure.cause = QUORLIX_CAUSE_NOT_FOUND;
  cause = FindFailureCause(Export::kCrlf, QUORLIX_CRLF_INPUT_ERROR, &failure);
  EXPECT_EQ(DescribeFailure(Export::kCrlf, QUORLIX_CRLF_INPUT_ERROR, files, cause), "cannot read input file 'in.txt'");
}

// "or not enough memory" only where the input is large enough for memory to run out.
TEST(DescribeFailure, MemoryNoteOnlyWhereMemoryMayBeShort) {
  const CallFiles files{"page.htm", "page.txt", {}};
  FailureCause cause;
  EXPECT_EQ(DescribeFailure(Export::kHtml, QUORLIX_HTML_TABLE_FAILED, files, cause),
            "a table in 'page.htm' is not closed before the body ends");
  cause.memoryMayBeShort = true;
  EXPECT_EQ(DescribeFailure(Export::kHtml, QUORLIX_HTML_TABLE_FAILED, files, cause),
            "a table in 'page.htm' is not closed before the body ends, or not enough memory");
  // Verify reads only its text types whole.
  EXPECT_EQ(DescribeFailure(Export::kVerify, QUORLIX_VERIFY_MISMATCH, {"a.gif", {}, {}}, cause),
            "contents do not match .gif");
  const quorlix_failure none{};
  EXPECT_EQ(FindFailureCause(Export::kHtml, QUORLIX_HTML_TABLE_FAILED, &none).memoryMayBeShort, false);
}

}  // namespace
