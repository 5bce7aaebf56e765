// What a batch promises when things around it go wrong: links planted in the
// output folder, a report that names the run's own files, a limit on open
// files, runs killed outright, a second interrupt.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
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

TEST_F(BatchSafetyTest, ResumeRemovesWhatKilledRunsLeftAndWalksPassItOver) {
  WriteTree("in/a.txt", "a\n");
  const std::string dead = std::to_string(DeadPid());
  const std::string live = std::to_string(::getpid());
  // A killed run's private folder and a temporary of earlier versions, then a live run's.
  WriteTree("out/.quorlix-" + dead + "-k3x9/0-0-a.txt", "partial");
  WriteTree("out/.quorlix-" + dead + "-0-0-a.txt", "partial");
  WriteTree("out/.quorlix-" + live + "-0-0-a.txt", "in flight");
  const auto run = RunTool({"crlf", "--resume", "--report", "report.csv", "-o", "out", "in"});
  EXPECT_EQ(run.exitStatus, 0) << run.err;
  EXPECT_EQ(PrivateEntries(PathOf("out")), std::vector<std::string>{PathOf("out/.quorlix-" + live + "-0-0-a.txt")});
  // A later batch over the output folder does not take the live run's file as an input.
  const auto again = RunTool({"verify", "out", "--report", "again.csv"});
  EXPECT_EQ(ReadFile(PathOf("again.csv")).find(".quorlix-"), std::string::npos);
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
