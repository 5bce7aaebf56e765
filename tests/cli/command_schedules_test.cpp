#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "packing_fixtures.h"
#include "tool_test.h"

namespace {

using quorlix_test::DataDir;
using quorlix_test::FileExists;
using quorlix_test::ReadFile;

class CommandSchedulesTest : public quorlix_test::ToolTest {
 protected:
  static std::string Filing(const char* name) { return (DataDir() / "filing" / name).string(); }

  // The summary line with its time and rate taken out.
  static std::string Summary(std::string err) {
    const auto from = err.find(" in ");
    const auto to = err.find(" MiB/s", from);
    if (from != std::string::npos && to != std::string::npos) err.erase(from, to + 6 - from);
    return err;
  }

  static std::size_t Lines(const std::string& text) { return static_cast<std::size_t>(std::ranges::count(text, '\n')); }

  // Inputs enough to keep a run going for a while: long filings, each a file of
  // its own (a file named twice is read once). Each is a filing whose schedule
  // is followed by zeros that take no room on disk (a hole), up to 32 MiB.
  static constexpr std::size_t kLongRunInputs = 256;
  static constexpr off_t kLongRunFileBytes = off_t{32} << 20;
  void MakeLongRun() {
    std::filesystem::create_directories(PathOf("out"));
    std::filesystem::create_directories(PathOf("long"));
    const std::string filing = ReadFile(Filing("apple_10q_2000q1_ex27.txt"));
    std::string list;
    for (std::size_t i = 0; i < kLongRunInputs; ++i) {
      std::string name = "long/";
      name += std::to_string(i);
      name += ".txt";
      const std::string path = WriteFile(name, filing);
      ASSERT_EQ(::truncate(path.c_str(), kLongRunFileBytes), 0);
      list += path + "\n";
    }
    WriteFile("list", list);
  }

  // A report with its seconds column emptied.
  static std::string WithoutSeconds(const std::string& report) {
    std::string rows;
    for (std::size_t at = 0, end; (end = report.find("\r\n", at)) != std::string::npos; at = end + 2) {
      std::string row = report.substr(at, end - at);
      std::size_t nField = 0;
      for (int k = 0; k < 5 && nField != std::string::npos; ++k) nField = row.find(',', nField + (k ? 1 : 0));
      const std::size_t nEnd = row.find(',', nField + 1);
      if (at != 0 && nEnd != std::string::npos) row.erase(nField + 1, nEnd - nField - 1);
      rows += row + "\r\n";
    }
    return rows;
  }

  bool HasTemporaryFile() const {
    for (const auto& file : ListFiles(m_dir.string()))
      if (file.find(".quorlix-") != std::string::npos) return true;
    return false;
  }
};

const char kLongHeader[] =
    "path,member,accession_number,cik,company,form_type,filed,period,sic,fiscal_year_end,document,description,"
    "schedule,article,series,series_name,flawed,complete,multiplier,restated,multiplier_source,tag,raw,value,"
    "scaled\r\n";

TEST_F(CommandSchedulesTest, TheLongTableGoesToStandardOutputWithASummary) {
  const std::string filing = Filing("apple_10q_2000q1_ex27.txt");
  const auto run = RunTool({"schedules", filing});
  EXPECT_EQ(run.exitStatus, 0) << run.err;
  ASSERT_TRUE(run.out.starts_with(kLongHeader));
  EXPECT_EQ(Lines(run.out), 38u);
  const std::string prefix = filing +
                             ",,0000912057-00-003201,320193,APPLE COMPUTER INC,10-Q,2000-02-01,2000-01-01,3571,"
                             "0930,EX-27,EX-27,1,5,,,0,1,1000000,0,written,";
  EXPECT_NE(run.out.find(prefix + "EPS-BASIC,1.14,1.14,1.14\r\n"), std::string::npos);
  EXPECT_NE(run.out.find(prefix + "TOTAL-ASSETS,\"7,586\",7586,7586000000\r\n"), std::string::npos);
  EXPECT_EQ(Summary(run.err),
            "quorlix: 1 filings with schedules, 0 without, 0 not filings, 1 schedules, 37 values, 0 failed, 84584 "
            "bytes\n");
}

TEST_F(CommandSchedulesTest, FailuresAreNamedAndTheFirstIsTheExitStatus) {
  const std::string notFiling = WriteFile("notes.txt", "no filing\n");
  const auto run = RunTool({"schedules", "--wide", "-q", PathOf("gone.txt"), Filing("apple_10k_1997_ex27.txt"),
                            "/dev/null", notFiling, m_dir.string() + "/none/x.txt"});
  EXPECT_EQ(run.exitStatus, 3);
  EXPECT_EQ(run.err, "quorlix: filing '" + PathOf("gone.txt") + "' not found (status 3)\n" +
                         "quorlix: filing '/dev/null' is not a regular file (status 2)\n" +
                         "quorlix: cannot read filing '" + m_dir.string() +
                         "/none/x.txt' (a folder, a bad path, or a file that changed while it was read) (status 2)\n");
  EXPECT_EQ(Lines(run.out), 2u);  // the header and the one schedule
}

TEST_F(CommandSchedulesTest, FoldersListsAndJobsGiveTheSameTableAndReport) {
  const std::string folder = PathOf("archive");
  std::filesystem::create_directories(folder + "/b");
  std::filesystem::copy_file(Filing("apple_10q_2000q1_ex27.txt"), folder + "/b/q1.txt");
  std::filesystem::copy_file(Filing("apple_10k_1994_ims_ex27.txt"), folder + "/a.txt");
  WriteFile("archive/b/empty.txt", "");
  const auto one = RunTool({"schedules", "-j", "1", "--report", "one.csv", "-o", "one-table.csv", folder});
  EXPECT_EQ(one.exitStatus, 0) << one.err;
  EXPECT_EQ(one.out, "");
  const std::string table = ReadFile(PathOf("one-table.csv"));
  EXPECT_EQ(Lines(table), 1u + 37 + 37);
  EXPECT_LT(table.find("/archive/a.txt,"), table.find("/archive/b/q1.txt,"));  // depth-first, byte order
  const std::string nul(1, '\0');
  WriteFile("list", folder + "/a.txt" + nul + folder + "/b/empty.txt" + nul + folder + "/b/q1.txt" + nul);
  const auto four = RunTool({"schedules", "-j", "4", "--report", "four.csv", "-0", "-T", "list"});
  EXPECT_EQ(four.out, table);
  EXPECT_EQ(WithoutSeconds(ReadFile(PathOf("four.csv"))), WithoutSeconds(ReadFile(PathOf("one.csv"))));
  EXPECT_EQ(WithoutSeconds(ReadFile(PathOf("one.csv"))),
            "input,status,meaning,outputs,bytes_in,seconds,members,schedules,values\r\n" + folder +
                "/a.txt,0,ok,,240556,,0,1,37\r\n" + folder + "/b/empty.txt,0,skipped: not a filing,,0,,0,0,0\r\n" +
                folder + "/b/q1.txt,0,ok,,84584,,0,1,37\r\n");
  EXPECT_EQ(Summary(four.err),
            "quorlix: 2 filings with schedules, 0 without, 1 not filings, 2 schedules, 74 values, 0 failed, 325140 "
            "bytes\n");
}

TEST_F(CommandSchedulesTest, AnOutputFileIsWholeOrLeftAsItWas) {
  const std::string filing = Filing("apple_10q_2000q1_ex27.txt");
  WriteFile("kept.csv", "old\n");
  // A table that cannot be written leaves no file behind.
  const auto folder = RunTool({"schedules", "-o", m_dir.string(), filing});
  EXPECT_EQ(folder.exitStatus, 74);
  EXPECT_EQ(folder.err, "quorlix: cannot write the table '" + m_dir.string() + "': Is a directory\n");
  // A failure on the temporary file names it.
  const auto missing = RunTool({"schedules", "-q", "-o", PathOf("no/t.csv"), filing});
  EXPECT_EQ(missing.exitStatus, 74);
  EXPECT_TRUE(missing.err.starts_with("quorlix: cannot write the table '" + PathOf("no/t.csv") +
                                      "' through its temporary file '" + PathOf("no/.quorlix-t.csv.")))
      << missing.err;
  EXPECT_TRUE(missing.err.ends_with(".tmp': No such file or directory\n")) << missing.err;
  const auto full = RunTool({"schedules", "-q", "-o", "/dev/full", filing});
  EXPECT_EQ(full.exitStatus, 74);
  EXPECT_EQ(full.err, "quorlix: cannot write the table '/dev/full': No space left on device\n");
  EXPECT_TRUE(std::filesystem::is_character_file("/dev/full"));
  // Replaced whole.
  EXPECT_EQ(RunTool({"schedules", "-q", "-o", PathOf("kept.csv"), filing}).exitStatus, 0);
  EXPECT_EQ(Lines(ReadFile(PathOf("kept.csv"))), 38u);
  EXPECT_FALSE(HasTemporaryFile());
}

TEST_F(CommandSchedulesTest, OutputsThroughLinks) {
  const std::string filing = Filing("apple_10q_2000q1_ex27.txt");
  const std::string table = RunTool({"schedules", "-q", filing}).out;
  // The file a link names is replaced, in its own folder; the link stays.
  WriteTree("real/t.csv", "old\n");
  ASSERT_EQ(::symlink("real/t.csv", PathOf("link.csv").c_str()), 0);
  const auto linked = RunTool({"schedules", "-q", "-o", "link.csv", filing});
  EXPECT_EQ(linked.exitStatus, 0) << linked.err;
  EXPECT_TRUE(std::filesystem::is_symlink(PathOf("link.csv")));
  EXPECT_EQ(ReadFile(PathOf("real/t.csv")), table);
  // The report through a link too.
  WriteTree("real/r.csv", "old\n");
  ASSERT_EQ(::symlink("real/r.csv", PathOf("report.csv").c_str()), 0);
  EXPECT_EQ(RunTool({"schedules", "-q", "--report", "report.csv", "-o", "t2.csv", filing}).exitStatus, 0);
  EXPECT_TRUE(std::filesystem::is_symlink(PathOf("report.csv")));
  EXPECT_TRUE(ReadFile(PathOf("real/r.csv")).starts_with("input,"));
  // A dangling link is refused, naming it; nothing is created where it points.
  ASSERT_EQ(::symlink("real/none.csv", PathOf("dangling.csv").c_str()), 0);
  const std::string refusal =
      "'dangling.csv' is a link to 'real/none.csv', which names no file: nothing is written through it\n";
  const auto dangling = RunTool({"schedules", "-q", "-o", "dangling.csv", filing});
  EXPECT_EQ(dangling.exitStatus, 64);
  EXPECT_EQ(dangling.err, "quorlix: " + refusal);
  const auto report = RunTool({"schedules", "-q", "--report", "dangling.csv", "-o", "t3.csv", filing});
  EXPECT_EQ(report.exitStatus, 74);
  EXPECT_EQ(report.err, "quorlix: cannot write the report: " + refusal);
  const auto oneFile = RunTool({"crlf", filing, "dangling.csv"});
  EXPECT_EQ(oneFile.exitStatus, 64);
  EXPECT_EQ(oneFile.err, "quorlix: " + refusal);
  EXPECT_FALSE(FileExists(PathOf("real/none.csv")));
  EXPECT_FALSE(FileExists(PathOf("t3.csv")));
  EXPECT_FALSE(HasTemporaryFile());
}

TEST_F(CommandSchedulesTest, ALinkToStandardOutputWritesStandardOutput) {
  const std::string filing = Filing("apple_10q_2000q1_ex27.txt");
  const std::string table = RunTool({"schedules", "-q", filing}).out;
  ASSERT_EQ(::symlink("/dev/stdout", PathOf("out.csv").c_str()), 0);
  for (const char* path : {"/dev/stdout", "out.csv"}) {
    // Standard output appended to a file keeps what the file held.
    WriteFile("earlier.txt", "kept\n");
    Setup setup;
    setup.appendOutTo = PathOf("earlier.txt");
    const auto run = RunTool({"schedules", "-q", "-o", path, filing}, setup);
    EXPECT_EQ(run.exitStatus, 0) << run.err;
    EXPECT_EQ(ReadFile(PathOf("earlier.txt")), "kept\n" + table) << path;
    const auto captured = RunTool({"schedules", "-q", "-o", path, filing});
    EXPECT_EQ(captured.out, table) << path;
    const auto crlf = RunTool({"crlf", filing, path}, setup);
    EXPECT_EQ(crlf.exitStatus, 0) << crlf.err;
    EXPECT_TRUE(ReadFile(PathOf("earlier.txt")).starts_with("kept\n" + table + "-----BEGIN")) << path;
  }
  EXPECT_TRUE(std::filesystem::is_symlink("/dev/stdout"));
  EXPECT_TRUE(std::filesystem::is_symlink(PathOf("out.csv")));
}

TEST_F(CommandSchedulesTest, UsageErrorsExit64) {
  const std::string filing = Filing("apple_10q_2000q1_ex27.txt");
  const std::string copy = WriteFile("copy.txt", ReadFile(filing));
  const struct {
    std::vector<std::string> args;
    std::string err;
  } cases[] = {
      {{"schedules"}, "quorlix: no inputs: name files or folders, or -T FILE\n"},
      {{"schedules", "-0", filing}, "quorlix: -0 needs -T\n"},
      {{"schedules", "-", filing},
       "quorlix: '-' is no input in batch mode; -T - reads the inputs' paths from standard input\n"},
      {{"schedules", "--report", "-", filing},
       "quorlix: the table and the report would both go to standard output; name a file for one of them\n"},
      {{"schedules", "-o", copy, filing, copy}, "quorlix: the output '" + copy + "' is one of the inputs\n"},
      {{"schedules", "-j", "0", filing}, "quorlix: --jobs: must be at least 1\n"},
  };
  for (const auto& usage : cases) {
    const auto run = RunTool(usage.args);
    EXPECT_EQ(run.exitStatus, 64) << usage.err;
    EXPECT_EQ(run.err, usage.err);
    EXPECT_EQ(run.out, "");
  }
  EXPECT_EQ(ReadFile(copy), ReadFile(filing));
}

// The report and the database are written over: one that is an input is refused
// before anything is read or written, and the input stays as it was.
TEST_F(CommandSchedulesTest, AReportOrDatabaseThatIsAnInputIsRefused) {
  const std::string filing = ReadFile(Filing("apple_10q_2000q1_ex27.txt"));
  const std::string a = WriteFile("a.txt", filing);
  const std::string b = WriteFile("b.db", filing);
  const struct {
    std::vector<std::string> args;
    std::string err;
  } cases[] = {
      {{"schedules", "-o", PathOf("out.csv"), "--report", a, a, b},
       "quorlix: the report '" + a + "' is the input '" + a + "'\n"},
      {{"panel", "--report", a, PathOf("in")},
       "quorlix: the report '" + a + "' is the input '" + PathOf("in/link.txt") + "'\n"},
      {{"schedules", "-o", b, a, b}, "quorlix: the output '" + b + "' is one of the inputs\n"},
  };
  std::filesystem::create_directories(PathOf("in"));
  std::filesystem::create_symlink(a, PathOf("in/link.txt"));
  for (const auto& usage : cases) {
    const auto run = RunTool(usage.args);
    EXPECT_EQ(run.exitStatus, 64) << usage.err;
    EXPECT_EQ(run.err, usage.err);
  }
  EXPECT_EQ(ReadFile(a), filing);
  EXPECT_EQ(ReadFile(b), filing);
  EXPECT_FALSE(FileExists(PathOf("out.csv")));
}

TEST_F(CommandSchedulesTest, InterruptReportsWhatWasReadAndLeavesNoTable) {
  MakeLongRun();
  const pid_t pid =
      StartTool({"schedules", "-j", "2", "-o", "out/table.csv", "--report", "report.csv", "-T", "list"}, {});
  // The table's temporary file grows once the first inputs are through.
  const auto started = [&] {
    for (const auto& file : ListFiles(PathOf("out")))
      if (std::filesystem::file_size(PathOf("out/" + file)) > 0) return true;
    return false;
  };
  while (!started()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  ::kill(pid, SIGINT);
  const auto run = FinishTool(pid);
  EXPECT_EQ(run.signal, SIGINT);
  EXPECT_TRUE(ListFiles(PathOf("out")).empty());  // neither the table nor its temporary file
  const std::string report = ReadFile(PathOf("report.csv"));
  EXPECT_LT(Lines(report), kLongRunInputs + 1) << "the run ended before the signal";
  const std::size_t read = Lines(report) - 1;
  EXPECT_EQ(Summary(run.err), "quorlix: " + std::to_string(read) +
                                  " filings with schedules, 0 without, 0 not filings, " + std::to_string(read) +
                                  " schedules, " + std::to_string(37 * read) + " values, 0 failed, " +
                                  std::to_string(kLongRunFileBytes * read) + " bytes\n");
}

TEST_F(CommandSchedulesTest, ASecondInterruptEndsAtOnceWithoutATable) {
  MakeLongRun();
  const pid_t pid = StartTool({"schedules", "--wide", "-j", "2", "-o", "out/table.csv", "-T", "list"}, {});
  while (ListFiles(PathOf("out")).empty()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  ::kill(pid, SIGINT);
  ::kill(pid, SIGINT);
  EXPECT_EQ(FinishTool(pid).signal, SIGINT);
  EXPECT_TRUE(ListFiles(PathOf("out")).empty());
}

TEST_F(CommandSchedulesTest, AnEndAtOnceRemovesTheLibrarysTemporary) {
  MakeLongRun();
  const pid_t pid = StartTool({"schedules", "-j", "2", "-o", "out/table.csv", "-T", "list"}, {});
  while (ListFiles(PathOf("out")).empty()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  // Two signals of one kind may arrive as one: a second kind is surely a second signal.
  ::kill(pid, SIGINT);
  ::kill(pid, SIGTERM);
  EXPECT_EQ(FinishTool(pid).signal, SIGTERM);
  EXPECT_TRUE(ListFiles(PathOf("out")).empty());
}

// ---- Archives as EDGAR distributes them ----

TEST_F(CommandSchedulesTest, ArchivesAsTheyComeGiveTheirFilingsRowsAndCounts) {
  using quorlix_test::PackFilter;
  using quorlix_test::PackFormat;
  std::vector<quorlix_test::PackedMember> filings = quorlix_test::SampleFilings();
  std::string day;
  for (const auto& filing : filings) day += filing.bytes;
  std::vector<quorlix_test::PackedMember> tagged = filings;
  for (auto& filing : tagged) filing.bytes = quorlix_test::WithTaggedHeader(filing.bytes);
  tagged.push_back({"logo.png", "\x89PNG\r\n\x1a\n"});
  WriteTree("in/20000201.nc.tar.gz", quorlix_test::Pack(PackFormat::kTar, PackFilter::kGzip, tagged));
  WriteTree("in/20000202.nc.gz", quorlix_test::Pack(PackFormat::kNone, PackFilter::kGzip, {{"day", day}}));
  WriteTree("in/20000203.zip", quorlix_test::Pack(PackFormat::kZip, PackFilter::kNone, filings));
  WriteTree("in/picture.png", "\x89PNG\r\n\x1a\n");
  const auto run = RunTool({"schedules", "--wide", "--report", "report.csv", "-o", "table.csv", PathOf("in")});
  EXPECT_EQ(run.exitStatus, 0) << run.err;
  EXPECT_EQ(Summary(run.err),
            "quorlix: 9 filings with schedules, 0 without, 2 not filings, 12 schedules, 444 values, 0 failed, " +
                std::to_string(std::filesystem::file_size(PathOf("in/20000201.nc.tar.gz")) +
                               std::filesystem::file_size(PathOf("in/20000202.nc.gz")) +
                               std::filesystem::file_size(PathOf("in/20000203.zip")) + 8) +
                " bytes\n");
  const auto size = [this](const char* name) { return std::to_string(std::filesystem::file_size(PathOf(name))); };
  EXPECT_EQ(WithoutSeconds(ReadFile(PathOf("report.csv"))),
            "input,status,meaning,outputs,bytes_in,seconds,members,schedules,values\r\n" +
                PathOf("in/20000201.nc.tar.gz") + ",0,ok,," + size("in/20000201.nc.tar.gz") + ",,5,4,148\r\n" +
                PathOf("in/20000202.nc.gz") + ",0,ok,," + size("in/20000202.nc.gz") + ",,0,4,148\r\n" +
                PathOf("in/20000203.zip") + ",0,ok,," + size("in/20000203.zip") + ",,4,4,148\r\n" +
                PathOf("in/picture.png") + ",0,skipped: not a filing,,8,,0,0,0\r\n");
  // Keyed by path and member; the tagged headers give the same columns.
  const std::string table = ReadFile(PathOf("table.csv"));
  const std::string tail =
      ",0000912057-00-003201,320193,APPLE COMPUTER INC,10-Q,2000-02-01,2000-01-01,3571,0930,EX-27,";
  EXPECT_NE(table.find(PathOf("in/20000201.nc.tar.gz") + ",apple_10q_2000q1_ex27.txt" + tail), std::string::npos);
  EXPECT_NE(table.find(PathOf("in/20000202.nc.gz") + "," + tail), std::string::npos);
  EXPECT_NE(table.find(PathOf("in/20000203.zip") + ",apple_10q_2000q1_ex27.txt" + tail), std::string::npos);
  EXPECT_EQ(Lines(table), 1u + 12u);
}

TEST_F(CommandSchedulesTest, ADamagedArchiveFailsNamingItsMemberAndKeepsTheRowsBefore) {
  std::string bytes = quorlix_test::Pack(quorlix_test::PackFormat::kTar, quorlix_test::PackFilter::kGzip,
                                         quorlix_test::SampleFilings());
  bytes.resize(bytes.size() / 2);
  const std::string cut = WriteFile("cut.tar.gz", bytes);
  const auto run = RunTool({"schedules", "--report", "report.csv", cut, Filing("apple_10q_2000q1_ex27.txt")});
  EXPECT_EQ(run.exitStatus, 2);
  EXPECT_EQ(Summary(run.err), "quorlix: cannot read '" + cut +
                                  "': member 'apple_10k_1997_ex27.txt': truncated gzip input (status 2)\n"
                                  "quorlix: 2 filings with schedules, 0 without, 0 not filings, 2 schedules, 74 "
                                  "values, 1 failed, " +
                                  std::to_string(bytes.size() + 84584) + " bytes\n");
  EXPECT_EQ(Lines(run.out), 1u + 2 * 37);  // the first member's rows, then the plain filing's
  EXPECT_NE(ReadFile(PathOf("report.csv")).find(",2,cannot read '" + cut + "': member 'apple_10k_1997_ex27.txt': "),
            std::string::npos);
}

TEST_F(CommandSchedulesTest, OverlappingInputsAreReadOnceAndCounted) {
  std::filesystem::create_directories(PathOf("archive/320193"));
  std::filesystem::copy_file(Filing("apple_10q_2000q1_ex27.txt"), PathOf("archive/320193/q1.txt"));
  std::filesystem::copy_file(Filing("apple_10k_1997_ex27.txt"), PathOf("archive/k.txt"));
  const auto once = RunTool({"schedules", "--wide", PathOf("archive")});
  const auto twice =
      RunTool({"schedules", "--wide", "--report", "report.csv", PathOf("archive"), PathOf("archive/320193") + "/"});
  EXPECT_EQ(twice.exitStatus, 0);
  EXPECT_EQ(twice.out, once.out);
  EXPECT_EQ(Summary(twice.err),
            "quorlix: 2 filings with schedules, 0 without, 0 not filings, 2 schedules, 74 values, 0 failed, 1 named "
            "more than once, 723926 bytes\n");
  EXPECT_NE(ReadFile(PathOf("report.csv")).find("/320193/q1.txt,0,skipped: named more than once,,,,,,\r\n"),
            std::string::npos);
}

TEST_F(CommandSchedulesTest, NamesThatAreNotUtf8AreWrittenAsEscapes) {
  std::string name = "d\xE9";
  name += "c.txt";
  const std::string latin = WriteFile(name, ReadFile(Filing("apple_10q_2000q1_ex27.txt")));
  const auto run = RunTool({"schedules", "-q", "--report", "report.csv", "-o", "table.csv", latin});
  EXPECT_EQ(run.exitStatus, 0) << run.err;
  const std::string table = ReadFile(PathOf("table.csv"));
  const std::string report = ReadFile(PathOf("report.csv"));
  EXPECT_NE(table.find("\r\n" + m_dir.string() + "/d\\xe9c.txt,,0000912057-00-003201,"), std::string::npos);
  EXPECT_NE(report.find("\r\n" + m_dir.string() + "/d\\xe9c.txt,0,ok,"), std::string::npos);
  EXPECT_EQ((table + report).find('\xE9'), std::string::npos);
}

// ---- Bounds and safe cells ----

// Tags past --max-columns go to other_tags and the summary counts them;
// --spreadsheet-safe guards a formula in a text cell, in the table and the panel.
TEST_F(CommandSchedulesTest, MaxColumnsAndSpreadsheetSafeShapeTheCells) {
  const std::string filing =
      WriteFile("f.txt",
                "<SEC-HEADER>\nCONFORMED SUBMISSION TYPE: 10-K\nCENTRAL INDEX KEY: 0000000042\n</SEC-HEADER>\n"
                "<DOCUMENT>\n<TYPE>EX-27\n<TEXT>\n<ARTICLE> 5\n<PERIOD-TYPE> YEAR\n<FISCAL-YEAR-END> DEC-31-1999\n"
                "<PERIOD-END> DEC-31-1999\n<NAME> =HYPERLINK(\"http://x\")\n<OWN-ONE> -1,045\n<OWN-TWO> a\x01"
                "b\n"
                "<CASH> 7\n</TEXT>\n</DOCUMENT>\n");
  const auto wide = RunTool({"schedules", "--wide", "--max-columns", "5", filing});
  EXPECT_EQ(wide.exitStatus, 0) << wide.err;
  EXPECT_NE(wide.out.find("multiplier_source,unparsed,other_tags,PERIOD-TYPE,FISCAL-YEAR-END,PERIOD-END,NAME,CASH\r\n"),
            std::string::npos)
      << wide.out;
  EXPECT_NE(wide.out.find(",absent,,\"OWN-ONE=-1,045; OWN-TWO=a\\x01b\",YEAR,1999-12-31,1999-12-31,"
                          "\"=HYPERLINK(\"\"http://x\"\")\",7\r\n"),
            std::string::npos)
      << wide.out;
  EXPECT_NE(Summary(wide.err).find(", 0 failed, 2 tags left to other_tags, "), std::string::npos) << wide.err;

  const auto safe = RunTool({"schedules", "-q", "--spreadsheet-safe", filing});
  EXPECT_NE(safe.out.find(",NAME,\"'=HYPERLINK(\"\"http://x\"\")\",,\r\n"), std::string::npos) << safe.out;
  EXPECT_NE(safe.out.find(",OWN-ONE,\"-1,045\",-1045,-1045\r\n"), std::string::npos) << safe.out;  // a number
  const auto panel = RunTool({"panel", "-q", "--spreadsheet-safe", filing});
  EXPECT_NE(panel.out.find(",\"'=HYPERLINK(\"\"http://x\"\")\","), std::string::npos) << panel.out;
  // The panel is capped alike; a cell left out keeps its value as the panel types it.
  const auto cappedPanel = RunTool({"panel", "--max-columns", "5", filing});
  EXPECT_NE(cappedPanel.out.find(",eps_diluted,other_tags,PERIOD-TYPE,FISCAL-YEAR-END,PERIOD-END,NAME,CASH\r\n"),
            std::string::npos)
      << cappedPanel.out;
  EXPECT_NE(cappedPanel.out.find(",OWN-ONE=-1045; OWN-TWO=a\\x01b,YEAR,"), std::string::npos) << cappedPanel.out;
  EXPECT_NE(cappedPanel.err.find(", 2 tags left to other_tags, "), std::string::npos) << cappedPanel.err;
  EXPECT_EQ(RunTool({"schedules", "--max-columns", "0", filing}).exitStatus, 64);
}

// ---- The panel and the tag dictionary ----

TEST_F(CommandSchedulesTest, ThePanelKeepsOneVintageAndDerivesQuarters) {
  const std::string q2 = (DataDir() / "panel" / "apple_10q_1998q2_ex27_excerpt.txt").string();
  const std::string q3 = Filing("apple_10q_1998q3_ex27_flawed_tabs.txt");
  const auto run = RunTool({"panel", "-j", "2", q3, q2});
  EXPECT_EQ(run.exitStatus, 0) << run.err;
  ASSERT_TRUE(
      run.out.starts_with("cik,series,company,article,fiscal_year_end,period_start,period_end,months,derived,"));
  EXPECT_EQ(Lines(run.out), 4u);  // the header, two reported rows and the quarter between them
  EXPECT_NE(run.out.find("\r\n320193,,APPLE COMPUTER INC,5,1998-09-25,1998-03-28,1998-06-26,3,1,,0,,"
                         "1998-05-11;1998-08-10,10-Q;10-Q,0000320193-98-000006;0000320193-98-000008,1;1," +
                         q2 + ";" + q3 + ",,0,1000000,written,1402000000,101000000,4041000000,,,"),
            std::string::npos)
      << run.out;
  EXPECT_EQ(Summary(run.err),
            "quorlix: 2 filings with schedules, 0 without, 0 not filings, 2 schedules, 74 values, 0 failed, 63147 "
            "bytes\n");
  // The same with the other vintage: one candidate each, so the same rows.
  const auto latest = RunTool({"panel", "--vintage", "latest", "-q", "-o", PathOf("panel.csv"), q3, q2});
  EXPECT_EQ(latest.exitStatus, 0) << latest.err;
  EXPECT_EQ(ReadFile(PathOf("panel.csv")), run.out);
  const auto wrong = RunTool({"panel", "--vintage", "last", q2});
  EXPECT_EQ(wrong.exitStatus, 64);
  EXPECT_EQ(wrong.err, "quorlix: --vintage: last not in {first,latest}\n");
}

TEST_F(CommandSchedulesTest, TagsPrintsTheDictionaryOrOneArticle) {
  const auto all = RunTool({"tags"});
  EXPECT_EQ(all.exitStatus, 0) << all.err;
  EXPECT_TRUE(all.out.starts_with("article,tag,kind,label,concept\r\n5,ARTICLE,identifier,Article,\r\n"));
  const auto bank = RunTool({"tags", "--article", "9"});
  EXPECT_EQ(bank.exitStatus, 0) << bank.err;
  EXPECT_NE(bank.out.find("\r\n9,YIELD-ACTUAL,ratio,Yield Actual,\r\n"), std::string::npos) << bank.out;
  EXPECT_EQ(bank.out.find("\r\n5,"), std::string::npos);
  const auto none = RunTool({"tags", "--article", "12"});
  EXPECT_EQ(none.exitStatus, 64);
  EXPECT_EQ(none.err, "quorlix: the tag dictionary has no article '12' (quorlix tags prints every article's tags)\n");
  EXPECT_EQ(none.out, "");
}

}  // namespace
