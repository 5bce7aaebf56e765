#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "cli/batch/naming_cases.h"
#include "cli/tool_test.h"
#include "quorlix.h"

namespace {

using quorlix_test::FileExists;
using quorlix_test::ReadFile;
namespace fs = std::filesystem;

class BatchTest : public quorlix_test::ToolTest {
 protected:
  // The report without its seconds column, which alone may differ between runs.
  static std::string WithoutSeconds(const std::string& report) {
    std::string kept;
    std::size_t start = 0;
    while (start < report.size()) {
      const std::size_t end = report.find("\r\n", start);
      const std::string row = report.substr(start, end - start);
      kept += row.substr(0, row.find_last_of(',')) + "\n";
      start = end + 2;
    }
    return kept;
  }

  static bool HasTemporaryFile(const std::string& folder) {
    for (const auto& file : ListFiles(folder))
      if (file.find(".quorlix-") != std::string::npos) return true;
    return false;
  }
};

TEST_F(BatchTest, OutputFolderMirrorsFoldersAndNamedFiles) {
  WriteTree("in/b/two.txt", "2\n");
  WriteTree("in/a/deep/one.txt", "1\n");
  WriteTree("in/top.txt", "t\n");
  const std::string named = WriteTree("other/named.txt", "n\n");
  const auto run = RunTool({"crlf", "-o", "out", "in", named, "--report", "report.csv"});
  EXPECT_EQ(run.exitStatus, 0) << run.err;
  EXPECT_EQ(ListFiles(PathOf("out")),
            (std::vector<std::string>{"a/deep/one.txt", "b/two.txt", "named.txt", "top.txt"}));
  EXPECT_EQ(ReadFile(PathOf("out/a/deep/one.txt")), "1\r\n");
  // Depth-first, names in byte order, then the named file.
  EXPECT_EQ(WithoutSeconds(ReadFile(PathOf("report.csv"))),
            "input,status,meaning,outputs,bytes_in\n"
            "in/a/deep/one.txt,0,ok,out/a/deep/one.txt,2\n"
            "in/b/two.txt,0,ok,out/b/two.txt,2\n"
            "in/top.txt,0,ok,out/top.txt,2\n" +
                named + ",0,ok,out/named.txt,2\n");
  EXPECT_TRUE(run.err.starts_with("quorlix: 4 converted, 0 failed, 0 skipped, 8 bytes in ")) << run.err;
}

TEST_F(BatchTest, OutputNamesFollowTheConversion) {
  WriteTree("pages/ex21.htm", "<BODY>x</BODY>");
  EXPECT_EQ(RunTool({"html2text", "-q", "-o", "text", "pages"}).exitStatus, 0);
  EXPECT_EQ(ListFiles(PathOf("text")), std::vector<std::string>{"ex21.txt"});

  fs::copy_file(quorlix_test::DataDir() / "filing/apple_10q_2000q1_ex27.txt", PathOf("apple.txt"));
  EXPECT_EQ(RunTool({"decode-filing", "-q", "-o", "decoded", PathOf("apple.txt")}).exitStatus, 0);
  EXPECT_EQ(ListFiles(PathOf("decoded")), (std::vector<std::string>{"apple.fds.txt", "apple.txt"}));
  EXPECT_TRUE(ReadFile(PathOf("decoded/apple.fds.txt")).starts_with("Article"));
}

// The tool against the table of names it shares with the Python package. Each
// case sits in a folder of its own: "x." and "x..y" both write "x..txt". For
// html2text only the names the export takes as pages (".htm" or ".html", in lower
// case); the walk passes over the others. The bytes are a page, delimited text
// and a filing at once.
TEST_F(BatchTest, OutputNamesFollowTheTableSharedWithPython) {
  const auto cases = quorlix_test::ReadNamingCases();
  for (const std::string command : {"crlf", "delimited", "decode-filing", "html2text"}) {
    std::vector<std::string> expected;
    for (std::size_t i = 0; i < cases.size(); ++i) {
      if (cases[i].command != command) continue;
      const std::string& input = cases[i].input;
      if (command == "html2text" && !input.ends_with(".htm") && !input.ends_with(".html")) continue;
      const std::string folder = "case" + std::to_string(i) + "/";
      WriteTree("in-" + command + "/" + folder + cases[i].input, "<SEC-DOCUMENT>\r\n<BODY>a,b</BODY>\r\n");
      for (const auto& output : cases[i].outputs) expected.push_back(folder + output);
    }
    ASSERT_FALSE(expected.empty()) << command;
    std::ranges::sort(expected);
    const auto run = RunTool({command, "-q", "-o", "out-" + command, "in-" + command});
    EXPECT_EQ(run.exitStatus, 0) << command << ": " << run.err;
    EXPECT_EQ(ListFiles(PathOf("out-" + command)), expected) << command;
  }
}

TEST_F(BatchTest, ListsMirrorTheirPathsAsGiven) {
  WriteTree("in/x/a.txt", "a\n");
  WriteTree("in/b.txt", "b\n");
  const std::string absolute = WriteTree("abs/c.txt", "c\n");
  const auto lines =
      RunTool({"crlf", "-q", "-o", "out", "-T", "-"}, WithInput("in/x/a.txt\n./in/b.txt\n" + absolute + "\n"));
  EXPECT_EQ(lines.exitStatus, 0) << lines.err;
  std::vector<std::string> expected{absolute.substr(1), "in/b.txt", "in/x/a.txt"};
  std::ranges::sort(expected);
  EXPECT_EQ(ListFiles(PathOf("out")), expected);

  const auto nul =
      RunTool({"crlf", "-q", "-o", "out0", "-0", "-T", "-"}, WithInput(std::string("in/x/a.txt\0in/b.txt\0", 20)));
  EXPECT_EQ(nul.exitStatus, 0) << nul.err;
  EXPECT_EQ(ListFiles(PathOf("out0")), (std::vector<std::string>{"in/b.txt", "in/x/a.txt"}));

  const auto up = RunTool({"crlf", "-o", "out2", "-T", "-"}, WithInput("in/../in/b.txt\n"));
  EXPECT_EQ(up.exitStatus, 64);
  EXPECT_FALSE(FileExists(PathOf("out2")));
}

TEST_F(BatchTest, CollisionsAreRefusedBeforeAnyOutput) {
  WriteTree("one/same.txt", "1\n");
  WriteTree("two/same.txt", "2\n");
  WriteTree("one/first.txt", "f\n");
  const auto run = RunTool({"crlf", "-o", "out", "one", "two"});
  EXPECT_EQ(run.exitStatus, 64);
  EXPECT_EQ(run.err,
            "quorlix: the inputs 'one/same.txt' and 'two/same.txt' would both write 'out/same.txt'; "
            "nothing was converted\n");
  EXPECT_TRUE(ListFiles(PathOf("out")).empty());

  // A filing's schedule name is another filing's text name.
  WriteTree("f/a.txt", "<SEC-DOCUMENT>x\n");
  WriteTree("f/a.fds", "<SEC-DOCUMENT>y\n");
  EXPECT_EQ(RunTool({"decode-filing", "-o", "d", "f"}).exitStatus, 64);
}

TEST_F(BatchTest, WalkedFoldersGiveTheConversionWhatItTakes) {
  WriteTree("site/index.htm", "<BODY>home</BODY>");
  WriteTree("site/docs/guide.html", "<BODY>guide</BODY>");
  WriteTree("site/made.aiff", "FORM");  // made.aiff and made.au would both write made.txt
  WriteTree("site/made.au", ".snd");
  WriteTree("site/OLD.HTM", "<BODY>old</BODY>");  // the export takes lower-case suffixes only
  const std::string named = WriteTree("notes.txt", "named");
  const auto pages = RunTool({"html2text", "-o", "text", "site", named, "--report", "-"});
  EXPECT_EQ(pages.exitStatus, QUORLIX_HTML_INPUT_NAME_WRONG);
  EXPECT_EQ(ListFiles(PathOf("text")), (std::vector<std::string>{"docs/guide.txt", "index.txt"}));
  EXPECT_EQ(WithoutSeconds(pages.out),
            "input,status,meaning,outputs,bytes_in\n"
            "site/OLD.HTM,0,skipped: not a page,,\n"
            "site/docs/guide.html,0,ok,text/docs/guide.txt,18\n"
            "site/index.htm,0,ok,text/index.txt,17\n"
            "site/made.aiff,0,skipped: not a page,,\n"
            "site/made.au,0,skipped: not a page,,\n" +
                named + ",12,input name '" + named + "' must end in .htm or .html,,5\n");
  // The files passed over are counted, not told one by one.
  EXPECT_EQ(pages.err.substr(0, pages.err.find(" bytes in ")),
            "quorlix: input name '" + named +
                "' must end in .htm or .html (status 12)\nquorlix: 2 converted, 1 failed, 3 skipped, 40");

  WriteTree("arch/README.md", "# Filings\n");
  fs::copy_file(quorlix_test::DataDir() / "filing/apple_10q_2000q1_ex27.txt", PathOf("arch/q1.txt"));
  ASSERT_EQ(RunTool({"decode-filing", "-q", "-o", "decoded", "arch"}).exitStatus, 0);
  // The decoded text opens with the filing's banner, but is no filing.
  fs::copy_file(PathOf("decoded/q1.txt"), PathOf("arch/q1-text.txt"));
  const auto filings = RunTool({"decode-filing", "-o", "again", "arch", "--report", "-"});
  EXPECT_EQ(filings.exitStatus, 0) << filings.err;
  EXPECT_EQ(ListFiles(PathOf("again")), (std::vector<std::string>{"q1.fds.txt", "q1.txt"}));
  EXPECT_EQ(WithoutSeconds(filings.out),
            "input,status,meaning,outputs,bytes_in\n"
            "arch/README.md,0,skipped: not a filing,,\n"
            "arch/q1-text.txt,0,skipped: not a filing,,\n"
            "arch/q1.txt,0,ok,again/q1.txt;again/q1.fds.txt,84584\n");
  // Named or listed, a file is converted as before.
  const auto listed = RunTool({"decode-filing", "-q", "-o", "listed", "-T", "-"}, WithInput("arch/README.md\n"));
  EXPECT_EQ(listed.exitStatus, 0) << listed.err;
  EXPECT_EQ(ListFiles(PathOf("listed")), (std::vector<std::string>{"arch/README.fds.txt", "arch/README.txt"}));
  // verify and crlf take every file.
  const auto verify = RunTool({"verify", "site"});
  EXPECT_EQ(std::ranges::count(verify.out, '\n'), 5) << verify.out;
  EXPECT_EQ(RunTool({"crlf", "-q", "-o", "copies", "site"}).exitStatus, 0);
  EXPECT_EQ(ListFiles(PathOf("copies")).size(), 5u);
}

TEST_F(BatchTest, OutDirNamingAFileIsAUsageError) {
  const std::string filing = WriteFile("filing.txt", "<SEC-DOCUMENT>\n");
  WriteTree("out/a.txt", "<SEC-DOCUMENT>\n");
  const auto run = RunTool({"decode-filing", "-o", "filing.txt", "out/"});
  EXPECT_EQ(run.exitStatus, 64);
  EXPECT_EQ(run.err, "quorlix: -o names the folder the outputs go to, and 'filing.txt' is an existing file\n");
  EXPECT_EQ(ReadFile(filing), "<SEC-DOCUMENT>\n");
  // A named input that is missing keeps its own name, trailing '/' or not.
  const auto gone = RunTool({"decode-filing", "-q", "-o", "decoded", "gone/"});
  EXPECT_EQ(gone.err.find("unnamed"), std::string::npos) << gone.err;
  EXPECT_NE(gone.err.find("'decoded/gone.txt'"), std::string::npos) << gone.err;
}

TEST_F(BatchTest, InputsInsideTheOutputFolderAreSkippedAndLoopsEnd) {
  WriteTree("tree/a.txt", "a\n");
  WriteTree("tree/out/old.txt", "o\n");
  fs::create_directory_symlink("..", PathOf("tree/loop"));
  const auto run = RunTool({"crlf", "-o", "tree/out", "tree", "--report", "-"});
  EXPECT_EQ(run.exitStatus, 0) << run.err;
  EXPECT_EQ(WithoutSeconds(run.out),
            "input,status,meaning,outputs,bytes_in\n"
            "tree/a.txt,0,ok,tree/out/a.txt,2\n"
            "tree/out/old.txt,0,skipped: inside the output folder,,\n");
  EXPECT_TRUE(run.err.starts_with("quorlix: skipped 'tree/out/old.txt': inside the output folder\n")) << run.err;
  EXPECT_EQ(ReadFile(PathOf("tree/out/old.txt")), "o\n");
}

TEST_F(BatchTest, JobsDoNotChangeOutputsReportOrStatus) {
  // Pages 5, 14, 23, ... have no body; in input order (in/0/p0, in/0/p14, ...) the
  // first failure is in/0/p14.htm, while in/5/p5.htm fails first in time.
  for (int i = 0; i < 60; ++i) {
    const std::string name = "in/" + std::to_string(i % 7) + "/p" + std::to_string(i) + ".htm";
    WriteTree(name, i % 9 == 5 ? "<body>" : "<BODY>page " + std::to_string(i) + "</BODY>");
  }
  WriteTree("in/0/p14.htm", "<BODY><TABLE></BODY>");
  const auto one = RunTool({"html2text", "-j", "1", "-o", "out1", "in", "--report", "r1.csv"});
  const auto four = RunTool({"html2text", "-j", "4", "-o", "out4", "in", "--report", "r4.csv"});
  EXPECT_EQ(one.exitStatus, four.exitStatus);
  EXPECT_EQ(one.exitStatus, QUORLIX_HTML_TABLE_FAILED);
  const auto files = ListFiles(PathOf("out1"));
  EXPECT_EQ(files, ListFiles(PathOf("out4")));
  for (const auto& file : files) EXPECT_EQ(ReadFile(PathOf("out1/" + file)), ReadFile(PathOf("out4/" + file)));
  std::string report4 = WithoutSeconds(ReadFile(PathOf("r4.csv")));
  for (std::size_t at; (at = report4.find("out4/")) != std::string::npos;) report4.replace(at, 5, "out1/");
  EXPECT_EQ(WithoutSeconds(ReadFile(PathOf("r1.csv"))), report4);
}

TEST_F(BatchTest, FailingInputsLeaveNothingBehindAndAreReported) {
  WriteTree("in/a.htm", "<BODY>a</BODY>");
  WriteTree("in/b.htm", "no body here");
  WriteTree("in/c.htm", "<BODY>c</BODY>");
  const auto run = RunTool({"html2text", "-o", "out", "in", "gone.htm", "--report", "-", "--no-progress"});
  EXPECT_EQ(run.exitStatus, 13);
  EXPECT_EQ(ListFiles(PathOf("out")), (std::vector<std::string>{"a.txt", "c.txt"}));
  const std::string noBody =
      "no body found in 'in/b.htm' (upper-case <BODY> and </BODY> tags, every '<' closed by '>')";
  EXPECT_TRUE(
      run.err.starts_with("quorlix: " + noBody + " (status 13)\nquorlix: input file 'gone.htm' not found (status 3)\n"))
      << run.err;
  EXPECT_EQ(WithoutSeconds(run.out),
            "input,status,meaning,outputs,bytes_in\n"
            "in/a.htm,0,ok,out/a.txt,14\n"
            "in/b.htm,13,\"" +
                noBody +
                "\",,12\n"
                "in/c.htm,0,ok,out/c.txt,14\n"
                "gone.htm,3,input file 'gone.htm' not found,,0\n");
}

TEST_F(BatchTest, KeptStatusesKeepTheirCompleteOutput) {
  WriteTree("in/norecord.csv", "a,b");
  const auto run = RunTool({"delimited", "-q", "-o", "out", "in"});
  EXPECT_EQ(run.exitStatus, 5);
  EXPECT_EQ(ReadFile(PathOf("out/norecord.csv")), "a\tb\r\n");
  EXPECT_EQ(RunTool({"delimited", "-q", "--resume", "-o", "out", "in"}).exitStatus, 0);
}

TEST_F(BatchTest, ResumeSkipsExactlyTheInputsWithNewerOutputs) {
  WriteTree("in/done.txt", "d\n");
  WriteTree("in/stale.txt", "s\n");
  WriteTree("in/new.txt", "n\n");
  ASSERT_EQ(RunTool({"crlf", "-q", "-o", "out", "in/done.txt", "in/stale.txt"}).exitStatus, 0);
  const auto later = fs::last_write_time(PathOf("out/stale.txt")) + std::chrono::seconds(5);
  WriteFile("in/stale.txt", "changed\n");
  fs::last_write_time(PathOf("in/stale.txt"), later);
  const auto run = RunTool({"crlf", "-q", "--resume", "-o", "out", "in", "--report", "-"});
  EXPECT_EQ(run.exitStatus, 0);
  EXPECT_EQ(WithoutSeconds(run.out),
            "input,status,meaning,outputs,bytes_in\n"
            "in/done.txt,0,skipped: up to date,out/done.txt,2\n"
            "in/new.txt,0,ok,out/new.txt,2\n"
            "in/stale.txt,0,ok,out/stale.txt,8\n");
  EXPECT_EQ(ReadFile(PathOf("out/stale.txt")), "changed\r\n");
}

TEST_F(BatchTest, InterruptFinishesWhatIsInFlightAndEndsBySigint) {
  constexpr int kFiles = 5000;
  for (int i = 0; i < kFiles; ++i)
    WriteTree("in/" + std::to_string(i / 1000) + "/f" + std::to_string(i) + ".txt", "line\n");
  const pid_t pid = StartTool({"crlf", "-j", "2", "-o", "out", "in", "--report", "report.csv"}, {});
  while (!FileExists(PathOf("out/0/f0.txt"))) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  ::kill(pid, SIGINT);
  const auto run = FinishTool(pid);
  EXPECT_EQ(run.signal, SIGINT);
  const auto outputs = ListFiles(PathOf("out"));
  EXPECT_LT(outputs.size(), static_cast<std::size_t>(kFiles)) << "the batch ended before the signal";
  EXPECT_FALSE(HasTemporaryFile(PathOf("out")));
  for (const auto& file : outputs) ASSERT_EQ(ReadFile(PathOf("out/" + file)), "line\r\n") << file;
  const std::string report = ReadFile(PathOf("report.csv"));
  EXPECT_EQ(static_cast<std::size_t>(std::count(report.begin(), report.end(), '\n')), outputs.size() + 1);
}

TEST_F(BatchTest, SecondInterruptEndsAtOnceWithoutPartialOutputs) {
  constexpr int kFiles = 2000;
  const std::string text = std::string(4095, 'x') + "\n";
  for (int i = 0; i < kFiles; ++i) WriteTree("in/" + std::to_string(i / 500) + "/f" + std::to_string(i) + ".txt", text);
  const pid_t pid = StartTool({"crlf", "-j", "2", "-o", "out", "in"}, {});
  while (!FileExists(PathOf("out/0/f0.txt"))) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  ::kill(pid, SIGINT);
  ::kill(pid, SIGINT);
  EXPECT_EQ(FinishTool(pid).signal, SIGINT);
  const std::string converted = ReadFile(PathOf("out/0/f0.txt"));
  EXPECT_EQ(converted.size(), text.size() + 1);
  for (const auto& file : ListFiles(PathOf("out")))
    if (file.find(".quorlix-") == std::string::npos) {
      ASSERT_EQ(ReadFile(PathOf("out/" + file)), converted) << file;
    }
}

TEST_F(BatchTest, ReportThatCannotBeWrittenExits74) {
  WriteTree("in/a.txt", "a\n");
  const auto run = RunTool({"crlf", "-o", "out", "in", "--report", "missing/report.csv"});
  EXPECT_EQ(run.exitStatus, 74);
  EXPECT_TRUE(ListFiles(PathOf("out")).empty());
}

TEST_F(BatchTest, ProgressAppearsOnATerminalOnly) {
  for (int i = 0; i < 20; ++i) WriteTree("in/f" + std::to_string(i) + ".txt", "x\n");
  const std::string command = std::string(QUORLIX_TOOL) + " crlf -o out in 2>&1";
  const std::string script = "cd '" + m_dir.string() + "' && script -qec \"" + command + "\" /dev/null > tty.log";
  ASSERT_EQ(std::system(script.c_str()), 0);
  EXPECT_NE(ReadFile(PathOf("tty.log")).find("20/20 files, 0 failed"), std::string::npos)
      << ReadFile(PathOf("tty.log"));

  const auto piped = RunTool({"crlf", "-o", "out2", "in"});
  EXPECT_EQ(piped.err.find("files,"), std::string::npos);
  EXPECT_NE(RunTool({"crlf", "--progress", "-o", "out3", "in"}).err.find("20/20 files"), std::string::npos);
}

}  // namespace
