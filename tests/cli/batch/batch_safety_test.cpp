// What a batch promises when things around it go wrong: links planted in the
// output folder, a report that names the run's own files, a limit on open
// files, runs killed outright, a second interrupt.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "cli/tool_test.h"

namespace {

using quorlix_test::FileExists;
using quorlix_test::ReadFile;
namespace fs = std::filesystem;

class BatchSafetyTest : public quorlix_test::ToolTest {
 protected:
  // Every entry below folder, folders too, whose name begins ".quorlix-".
  static std::vector<std::string> PrivateEntries(const std::string& folder) {
    std::vector<std::string> found;
    for (const auto& entry : fs::recursive_directory_iterator(folder))
      if (entry.path().filename().string().starts_with(".quorlix-")) found.push_back(entry.path().string());
    return found;
  }

  // The pid of a process that has ended and been reaped.
  static pid_t DeadPid() {
    const pid_t pid = ::fork();
    if (pid == 0) ::_exit(0);
    ::waitpid(pid, nullptr, 0);
    return pid;
  }

  std::string Filing() const { return (quorlix_test::DataDir() / "filing" / "apple_10q_2000q1_ex27.txt").string(); }
};

TEST_F(BatchSafetyTest, ALinkAtAnOutputsNameIsReplacedNotWrittenThrough) {
  WriteTree("in/a.txt", "a\n");
  const std::string victim = WriteTree("victim", "keep me");
  fs::create_directories(PathOf("out"));
  fs::create_symlink(victim, PathOf("out/a.txt"));
  const auto run = RunTool({"crlf", "-o", "out", "in"});
  EXPECT_EQ(run.exitStatus, 0) << run.err;
  EXPECT_EQ(ReadFile(victim), "keep me");
  EXPECT_FALSE(fs::is_symlink(PathOf("out/a.txt")));
  EXPECT_EQ(ReadFile(PathOf("out/a.txt")), "a\r\n");
  EXPECT_TRUE(PrivateEntries(PathOf("out")).empty());
}

TEST_F(BatchSafetyTest, AReportNamingAnInputOrAnOutputIsRefusedBeforeAnyWork) {
  WriteTree("rin/a.txt", "a\nb\n");
  WriteTree("rout/a.txt", "earlier output\n");
  const auto onInput = RunTool({"crlf", "-o", "rout", "rin", "--report", "rin/a.txt"});
  EXPECT_EQ(onInput.exitStatus, 64);
  EXPECT_EQ(onInput.err, "quorlix: the report 'rin/a.txt' is the input 'rin/a.txt'\n");
  const auto onOutput = RunTool({"crlf", "-o", "rout", "rin", "--report", "./rout/../rout/a.txt"});
  EXPECT_EQ(onOutput.exitStatus, 64);
  EXPECT_EQ(onOutput.err, "quorlix: the report './rout/../rout/a.txt' is where 'rin/a.txt' writes its output\n");
  // An output not there yet is compared by its path.
  WriteTree("rin/p.htm", "<HTML><BODY>p</BODY></HTML>");
  const auto onNewOutput = RunTool({"html2text", "-o", "new", "rin", "--report", "new/p.txt"});
  EXPECT_EQ(onNewOutput.exitStatus, 64) << onNewOutput.err;
  EXPECT_EQ(ReadFile(PathOf("rin/a.txt")), "a\nb\n");
  EXPECT_EQ(ReadFile(PathOf("rout/a.txt")), "earlier output\n");
  EXPECT_FALSE(FileExists(PathOf("new")));
}

TEST_F(BatchSafetyTest, AReportFifoWithoutAReaderFailsAtOnce) {
  WriteTree("in/a.txt", "a\n");
  ASSERT_EQ(::mkfifo(PathOf("fifo").c_str(), 0600), 0);
  const auto start = std::chrono::steady_clock::now();
  const auto run = RunTool({"crlf", "-o", "out", "in", "--report", "fifo"});
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(20));
  EXPECT_EQ(run.exitStatus, 74);
  EXPECT_EQ(run.err, "quorlix: cannot write the report 'fifo': it is a FIFO that no one reads\n");
}

TEST_F(BatchSafetyTest, FewOpenFilesGiveTheOutcomeOfOneJob) {
  const std::string filing = ReadFile(Filing());
  for (int i = 0; i < 40; ++i) WriteTree("in/f" + std::to_string(i) + ".txt", filing);
  Setup fewFiles;
  fewFiles.openFilesLimit = 16;
  const auto eight = RunTool({"decode-filing", "-q", "-j", "8", "-o", "out8", "in"}, fewFiles);
  const auto one = RunTool({"decode-filing", "-q", "-j", "1", "-o", "out1", "in"});
  EXPECT_EQ(eight.exitStatus, 0) << eight.err;
  EXPECT_EQ(one.exitStatus, 0) << one.err;
  EXPECT_EQ(ListFiles(PathOf("out8")).size(), 80u);
  EXPECT_EQ(ListFiles(PathOf("out8")), ListFiles(PathOf("out1")));
}

TEST_F(BatchSafetyTest, ResumeRemovesAKilledRunsFolderAndKeepsOtherNames) {
  const std::string filing = ReadFile(Filing());
  for (int i = 0; i < 300; ++i) WriteTree("in/f" + std::to_string(i) + ".txt", filing);
  const pid_t pid = StartTool({"decode-filing", "-q", "-j", "1", "-o", "out", "in"}, {});
  while (!FileExists(PathOf("out/f0.fds.txt"))) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  ::kill(pid, SIGKILL);
  ASSERT_EQ(FinishTool(pid).signal, SIGKILL);
  const std::vector<std::string> killed = PrivateEntries(PathOf("out"));
  ASSERT_FALSE(killed.empty());
  // Names that are no private folder of this version: the library's table
  // temporary, an earlier version's pid-only names (pid 1 of a container, too).
  const std::vector<std::string> foreign = {
      WriteTree("out/.quorlix-1999-q1.csv.0123456789abcdef-0.tmp", "table"),
      WriteTree("out/.quorlix-1-table.csv", "table"),
      WriteTree("out/.quorlix-" + std::to_string(DeadPid()) + "-k3x9/0-0-a.txt", "partial")};
  const auto run = RunTool({"decode-filing", "--resume", "-o", "out", "in"});
  EXPECT_EQ(run.exitStatus, 0) << run.err;
  EXPECT_NE(run.err.find(" 3 .quorlix- entries kept"), std::string::npos) << run.err;
  std::vector<std::string> left = PrivateEntries(PathOf("out"));
  std::ranges::sort(left);
  std::vector<std::string> expected = {foreign[0], foreign[1], fs::path(foreign[2]).parent_path().string()};
  std::ranges::sort(expected);
  EXPECT_EQ(left, expected);
  EXPECT_EQ(ListFiles(PathOf("out")).size(), 600u + 3u);
  // A later batch over the output folder does not take those names as inputs.
  const auto again = RunTool({"verify", "out", "--report", "again.csv"});
  EXPECT_EQ(ReadFile(PathOf("again.csv")).find(".quorlix-"), std::string::npos);
}

TEST_F(BatchSafetyTest, ARunInAnotherPidNamespaceKeepsItsFolderBesideAResume) {
  if (std::system("unshare -p -f --mount-proc true >/dev/null 2>&1") != 0)
    GTEST_SKIP() << "unshare -p -f --mount-proc is not available or not permitted here";
  const std::string filing = ReadFile(Filing());
  for (int i = 0; i < 300; ++i) WriteTree("in/f" + std::to_string(i) + ".txt", filing);
  WriteTree("in2/g.txt", filing);
  // In its own namespace the tool's pid says nothing here: after sixty short
  // processes there it is most likely a pid that no process has here.
  Setup contained;
  contained.runUnder = {"unshare",
                        "-p",
                        "-f",
                        "--mount-proc",
                        "sh",
                        "-c",
                        "i=0; while [ $i -lt 60 ]; do /bin/true; i=$((i+1)); done; exec \"$0\" \"$@\""};
  const pid_t pid = StartTool({"decode-filing", "-q", "-j", "1", "-o", "out", "in"}, contained);
  while (!FileExists(PathOf("out/f0.fds.txt"))) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  const auto resumed = RunTool({"decode-filing", "-q", "--resume", "-o", "out", "in2"});
  EXPECT_EQ(resumed.exitStatus, 0) << resumed.err;
  const auto run = FinishTool(pid);
  EXPECT_EQ(run.exitStatus, 0) << run.err;
  EXPECT_EQ(ListFiles(PathOf("out")).size(), 602u);
  EXPECT_TRUE(PrivateEntries(PathOf("out")).empty());
}

TEST_F(BatchSafetyTest, ALeftoverOfAnEarlierPidOneRunBlocksNoTable) {
  // A table run killed as pid 1 (in a container) left its temporary.
  WriteTree("out/.quorlix-1-table.csv", "partial");
  Setup contained;
  if (std::system("unshare -p -f --mount-proc true >/dev/null 2>&1") == 0)
    contained.runUnder = {"unshare", "-p", "-f", "--mount-proc"};
  const auto run = RunTool({"schedules", "-q", "-o", "out/table.csv", Filing()}, contained);
  EXPECT_EQ(run.exitStatus, 0) << run.err;
  EXPECT_TRUE(ReadFile(PathOf("out/table.csv")).starts_with("path,"));
  EXPECT_EQ(ReadFile(PathOf("out/.quorlix-1-table.csv")), "partial");
}

TEST_F(BatchSafetyTest, ResumeTakesOnlyARegularFileForAFinishedOutput) {
  WriteTree("in/a.txt", "a\n");
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  fs::create_directories(PathOf("out/a.txt"));  // newer than the input, but a folder
  const auto run = RunTool({"crlf", "--resume", "-o", "out", "in"});
  EXPECT_NE(run.exitStatus, 0);
  EXPECT_NE(run.err.find("'out/a.txt'"), std::string::npos) << run.err;
}

TEST_F(BatchSafetyTest, ASecondInterruptLeavesPairsWholeAndRowsWhole) {
  constexpr int kFiles = 400;
  const std::string filing = ReadFile(Filing());
  for (int i = 0; i < kFiles; ++i)
    WriteTree("in/" + std::to_string(i / 100) + "/f" + std::to_string(i) + ".txt", filing);
  const pid_t pid = StartTool({"decode-filing", "-j", "2", "-o", "out", "in", "--report", "report.csv"}, {});
  while (!FileExists(PathOf("out/0/f0.fds.txt"))) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  ::kill(pid, SIGINT);
  ::kill(pid, SIGINT);
  EXPECT_EQ(FinishTool(pid).signal, SIGINT);
  for (const auto& file : ListFiles(PathOf("out"))) {
    if (!file.ends_with(".fds.txt")) {
      const std::string schedule = file.substr(0, file.size() - 4) + ".fds.txt";
      EXPECT_TRUE(FileExists(PathOf("out/" + schedule))) << file;
    }
  }
  EXPECT_TRUE(PrivateEntries(PathOf("out")).empty());
  const std::string report = ReadFile(PathOf("report.csv"));
  EXPECT_TRUE(report.ends_with("\r\n")) << report.substr(report.size() > 80 ? report.size() - 80 : 0);
}

}  // namespace
