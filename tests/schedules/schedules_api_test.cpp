// The schedules' C interface as a host uses it: the shared library loaded by name.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <stdexcept>
#include <string>
#include <vector>

#include "packing_fixtures.h"
#include "quorlix_failure.h"
#include "quorlix_schedules.h"
#include "test_support.h"

namespace {

using quorlix_test::DataDir;
using quorlix_test::ReadFile;

using WriteSchedulesFn = decltype(&quorlix_write_schedules);
using WriteSchedulesFileFn = decltype(&quorlix_write_schedules_file);
using FilePackingFn = decltype(&quorlix_file_packing);
using IsFilingFn = decltype(&quorlix_is_filing);
using NameAsTextFn = decltype(&quorlix_name_as_text);
using WriteSchedulesExFn = decltype(&quorlix_write_schedules_ex);
using WriteSchedulesFileExFn = decltype(&quorlix_write_schedules_file_ex);
using WriteTagDictionaryFn = decltype(&quorlix_write_tag_dictionary);

// What a call wrote and reported.
struct Outcome {
  int status = -1;
  std::string table;
  std::vector<std::size_t> pieces;              // the sizes handed to write
  std::vector<QUORLIX_SCHEDULES_INPUT> inputs;  // problem is null here: it lives during on_input only
  std::vector<std::string> paths;               // as reported
  std::vector<std::string> problems;
  std::size_t stopAfter = SIZE_MAX;
  int failWriteAt = -1;  // the write call that fails, counting from 0
  bool throws = false;   // the failing call throws instead of returning non-zero
};

int WriteInto(void* context, const char* data, size_t size) {
  auto* outcome = static_cast<Outcome*>(context);
  if (static_cast<int>(outcome->pieces.size()) == outcome->failWriteAt) {
    if (outcome->throws) throw std::runtime_error("write failed");
    return 1;
  }
  outcome->table.append(data, size);
  outcome->pieces.push_back(size);
  return 0;
}

int Report(void* context, const QUORLIX_SCHEDULES_INPUT* input) {
  auto* outcome = static_cast<Outcome*>(context);
  outcome->inputs.push_back(*input);
  outcome->inputs.back().problem = nullptr;
  outcome->paths.emplace_back(input->path);
  outcome->problems.emplace_back(input->problem ? input->problem : "");
  if (outcome->inputs.size() > outcome->stopAfter && outcome->throws) throw std::logic_error("on_input failed");
  return outcome->inputs.size() > outcome->stopAfter ? 1 : 0;
}

class SchedulesApiTest : public quorlix_test::TempDirTest {
 protected:
  void SetUp() override {
    TempDirTest::SetUp();
    m_hLib = ::dlopen(QUORLIX_SHARED_LIBRARY, RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(m_hLib, nullptr) << ::dlerror();
    m_write = reinterpret_cast<WriteSchedulesFn>(::dlsym(m_hLib, "quorlix_write_schedules"));
    m_writeFile = reinterpret_cast<WriteSchedulesFileFn>(::dlsym(m_hLib, "quorlix_write_schedules_file"));
    m_packing = reinterpret_cast<FilePackingFn>(::dlsym(m_hLib, "quorlix_file_packing"));
    m_isFiling = reinterpret_cast<IsFilingFn>(::dlsym(m_hLib, "quorlix_is_filing"));
    m_nameAsText = reinterpret_cast<NameAsTextFn>(::dlsym(m_hLib, "quorlix_name_as_text"));
    ASSERT_NE(m_packing, nullptr);
    ASSERT_NE(m_isFiling, nullptr);
    ASSERT_NE(m_nameAsText, nullptr);
    m_writeEx = reinterpret_cast<WriteSchedulesExFn>(::dlsym(m_hLib, "quorlix_write_schedules_ex"));
    m_writeFileEx = reinterpret_cast<WriteSchedulesFileExFn>(::dlsym(m_hLib, "quorlix_write_schedules_file_ex"));
    m_writeTags = reinterpret_cast<WriteTagDictionaryFn>(::dlsym(m_hLib, "quorlix_write_tag_dictionary"));
    ASSERT_NE(m_write, nullptr);
    ASSERT_NE(m_writeFile, nullptr);
    ASSERT_NE(m_writeEx, nullptr);
    ASSERT_NE(m_writeFileEx, nullptr);
    ASSERT_NE(m_writeTags, nullptr);
  }
  void TearDown() override {
    if (m_hLib) ::dlclose(m_hLib);
    TempDirTest::TearDown();
  }

  Outcome Write(const std::vector<std::string>& paths, int form, unsigned jobs, Outcome outcome = {}) {
    std::vector<const char*> pointers;
    for (const std::string& path : paths) pointers.push_back(path.c_str());
    outcome.status = m_write(pointers.data(), pointers.size(), form, jobs, WriteInto, &outcome, Report, &outcome);
    return outcome;
  }

  Outcome WriteEx(const std::vector<std::string>& paths, int form, unsigned jobs,
                  const QUORLIX_SCHEDULES_OPTIONS* pOptions) {
    std::vector<const char*> pointers;
    for (const std::string& path : paths) pointers.push_back(path.c_str());
    Outcome outcome;
    outcome.status =
        m_writeEx(pointers.data(), pointers.size(), form, jobs, pOptions, WriteInto, &outcome, Report, &outcome);
    return outcome;
  }

  int WriteFile(const std::vector<std::string>& paths, int form, unsigned jobs, const std::string& output,
                Outcome* pOutcome = nullptr) {
    std::vector<const char*> pointers;
    for (const std::string& path : paths) pointers.push_back(path.c_str());
    Outcome own;
    Outcome& outcome = pOutcome ? *pOutcome : own;
    return m_writeFile(pointers.data(), pointers.size(), form, jobs, output.c_str(), Report, &outcome);
  }

  // The real filings with schedules, and one without, many times over: copies,
  // since a file named twice is read once.
  std::vector<std::string> ManyFilings() const {
    const std::filesystem::path sources[] = {
        DataDir() / "filing" / "apple_10k_1994_ims_ex27.txt",
        DataDir() / "filing" / "apple_10k_1997_ex27.txt",
        DataDir() / "filing" / "apple_10q_1998q3_ex27_flawed_tabs.txt",
        DataDir() / "filing" / "apple_10q_2000q1_ex27.txt",
        DataDir() / "schedules" / "fund_n30d_1997_article6_two_series.txt",
        DataDir() / "schedules" / "bank_10k_1997_article9.txt",
        DataDir() / "verify" / "apple_8k_2000_no_ex27.txt",
    };
    std::vector<std::string> paths;
    for (int i = 0; i < 6; ++i) {
      const std::filesystem::path folder = m_dir / "copy" / std::to_string(i);
      std::filesystem::create_directories(folder);
      for (const std::filesystem::path& source : sources) {
        std::filesystem::copy_file(source, folder / source.filename(), std::filesystem::copy_options::skip_existing);
        paths.push_back((folder / source.filename()).string());
      }
    }
    return paths;
  }

  // A file in the test's folder.
  std::string Put(std::string_view name, std::string_view bytes) const { return TempDirTest::WriteFile(name, bytes); }

  void* m_hLib = nullptr;
  WriteSchedulesFn m_write = nullptr;
  WriteSchedulesFileFn m_writeFile = nullptr;
  FilePackingFn m_packing = nullptr;
  IsFilingFn m_isFiling = nullptr;
  NameAsTextFn m_nameAsText = nullptr;
  WriteSchedulesExFn m_writeEx = nullptr;
  WriteSchedulesFileExFn m_writeFileEx = nullptr;
  WriteTagDictionaryFn m_writeTags = nullptr;
};

const char kLongHeader[] =
    "path,member,accession_number,cik,company,form_type,filed,period,sic,fiscal_year_end,document,description,"
    "schedule,article,series,series_name,flawed,complete,multiplier,restated,multiplier_source,tag,raw,value,"
    "scaled\r\n";

TEST_F(SchedulesApiTest, BadArgumentsGiveAStatusAndNothingIsWritten) {
  const std::string filing = (DataDir() / "filing" / "apple_10q_2000q1_ex27.txt").string();
  const char* paths[] = {filing.c_str(), nullptr};
  Outcome outcome;
  EXPECT_EQ(m_write(nullptr, 1, QUORLIX_SCHEDULES_LONG, 1, WriteInto, &outcome, Report, &outcome),
            QUORLIX_SCHEDULES_BAD_ARGUMENT);
  EXPECT_EQ(m_write(paths, 2, QUORLIX_SCHEDULES_LONG, 1, WriteInto, &outcome, Report, &outcome),
            QUORLIX_SCHEDULES_BAD_ARGUMENT);
  EXPECT_EQ(m_write(paths, 1, 3, 1, WriteInto, &outcome, Report, &outcome), QUORLIX_SCHEDULES_BAD_ARGUMENT);
  EXPECT_EQ(m_write(paths, 1, -1, 1, WriteInto, &outcome, Report, &outcome), QUORLIX_SCHEDULES_BAD_ARGUMENT);
  EXPECT_EQ(m_write(paths, 1, QUORLIX_SCHEDULES_WIDE, 1, nullptr, nullptr, nullptr, nullptr),
            QUORLIX_SCHEDULES_BAD_ARGUMENT);
  EXPECT_EQ(m_writeFile(paths, 1, QUORLIX_SCHEDULES_LONG, 1, nullptr, nullptr, nullptr),
            QUORLIX_SCHEDULES_BAD_ARGUMENT);
  EXPECT_EQ(m_writeFile(paths, 1, QUORLIX_SCHEDULES_LONG, 1, "", nullptr, nullptr), QUORLIX_SCHEDULES_BAD_ARGUMENT);
  EXPECT_TRUE(outcome.table.empty() && outcome.inputs.empty());
  // An output that is one of the inputs, by another name, would lose it.
  const std::string copy = quorlix_test::TempDirTest::WriteFile("copy.txt", ReadFile(filing));
  std::filesystem::create_symlink(copy, PathOf("link.txt"));
  EXPECT_EQ(WriteFile({filing, copy}, QUORLIX_SCHEDULES_LONG, 1, PathOf("link.txt")), QUORLIX_SCHEDULES_BAD_ARGUMENT);
  EXPECT_EQ(ReadFile(copy), ReadFile(filing));
  // No inputs at all: the header alone, and no paths needed.
  EXPECT_EQ(m_write(nullptr, 0, QUORLIX_SCHEDULES_LONG, 0, WriteInto, &outcome, nullptr, nullptr),
            QUORLIX_SCHEDULES_OK);
  EXPECT_EQ(outcome.table, kLongHeader);
}

TEST_F(SchedulesApiTest, EachInputIsReportedInOrderWithTheDecodersStatuses) {
  const std::string filing = (DataDir() / "filing" / "apple_10q_2000q1_ex27.txt").string();
  const std::string notFiling = quorlix_test::TempDirTest::WriteFile("notes.txt", "no filing here\n");
  const std::vector<std::string> paths = {PathOf("absent.txt"),         filing,    m_dir.string(),
                                          PathOf("no/such/folder.txt"), notFiling, "/dev/null"};
  for (const unsigned jobs : {1u, 3u}) {
    const Outcome outcome = Write(paths, QUORLIX_SCHEDULES_LONG, jobs);
    ASSERT_EQ(outcome.status, QUORLIX_SCHEDULES_OK);
    ASSERT_EQ(outcome.inputs.size(), paths.size());
    const int expected[] = {QUORLIX_FILING_NOT_FOUND,  QUORLIX_OK, QUORLIX_FILING_FILE_ERROR,
                            QUORLIX_FILING_FILE_ERROR, QUORLIX_OK, QUORLIX_FILING_FILE_ERROR};
    for (std::size_t i = 0; i < paths.size(); ++i) {
      EXPECT_EQ(outcome.inputs[i].index, i);
      EXPECT_EQ(outcome.paths[i], paths[i]);
      EXPECT_EQ(outcome.inputs[i].status, expected[i]) << paths[i];
    }
    EXPECT_EQ(outcome.inputs[1].bytes, 84584u);
    EXPECT_EQ(outcome.inputs[1].schedules, 1u);
    EXPECT_EQ(outcome.inputs[1].values, 37u);
    EXPECT_EQ(outcome.inputs[1].packing, QUORLIX_PACKING_NONE);
    EXPECT_EQ(outcome.inputs[1].filings, 1u);
    EXPECT_EQ(outcome.inputs[1].filings_with_schedules, 1u);
    EXPECT_EQ(outcome.inputs[4].bytes, 15u);
    EXPECT_EQ(outcome.inputs[4].schedules, 0u);
    EXPECT_EQ(outcome.inputs[4].filings, 0u);  // not a filing
    for (std::size_t i = 0; i < paths.size(); ++i) {
      EXPECT_EQ(outcome.inputs[i].first_index, i);
      EXPECT_EQ(outcome.problems[i], "");
    }
    EXPECT_TRUE(outcome.table.starts_with(kLongHeader));
    EXPECT_EQ(std::ranges::count(outcome.table, '\n'), 38);  // the header and the filing's 37 values
  }
}

TEST_F(SchedulesApiTest, TooManyOpenFilesIsTheInputsStatus) {
  const std::string filing = (DataDir() / "filing" / "apple_10q_2000q1_ex27.txt").string();
  const auto call = [&] {
    Outcome outcome = Write({filing}, QUORLIX_SCHEDULES_LONG, 1);
    return outcome.inputs.empty() ? -1 : outcome.inputs[0].status;
  };
  // A sanitized build checks each type once with a descriptor of its own: the warm-up meets a failure too.
  const auto warmUp = [&] { Write({filing, PathOf("absent.txt")}, QUORLIX_SCHEDULES_LONG, 1); };
  EXPECT_EQ(quorlix_test::StatusWithDescriptorsLeft(0, warmUp, call), QUORLIX_FILING_TOO_MANY_FILES);
}

TEST_F(SchedulesApiTest, EveryNumberOfThreadsWritesTheSameBytes) {
  const std::vector<std::string> paths = ManyFilings();
  for (const int form : {QUORLIX_SCHEDULES_LONG, QUORLIX_SCHEDULES_WIDE, QUORLIX_SCHEDULES_PANEL}) {
    const Outcome one = Write(paths, form, 1);
    ASSERT_EQ(one.status, QUORLIX_SCHEDULES_OK);
    EXPECT_EQ(one.inputs.size(), paths.size());
    for (const unsigned jobs : {2u, 4u, 0u}) {
      const Outcome many = Write(paths, form, jobs);
      EXPECT_EQ(many.status, QUORLIX_SCHEDULES_OK);
      EXPECT_EQ(many.table, one.table) << "form " << form << ", " << jobs << " threads";
      EXPECT_EQ(many.paths, one.paths);
    }
    for (const std::size_t size : one.pieces) EXPECT_LE(size, 64u * 1024u);
  }
  // 6 times: 4 Apple schedules of 37 values, the fund's 2 of 62, the bank's 53.
  EXPECT_EQ(std::ranges::count(Write(paths, QUORLIX_SCHEDULES_LONG, 4).table, '\n'), 1 + 6 * (4 * 37 + 2 * 62 + 53));
  // Named twice, read once.
  std::vector<std::string> twice = paths;
  twice.insert(twice.end(), paths.begin(), paths.end());
  EXPECT_EQ(Write(twice, QUORLIX_SCHEDULES_LONG, 4).table, Write(paths, QUORLIX_SCHEDULES_LONG, 4).table);
  EXPECT_EQ(std::ranges::count(Write(paths, QUORLIX_SCHEDULES_WIDE, 4).table, '\n'), 1 + 6 * (4 + 2 + 1));
}

TEST_F(SchedulesApiTest, AStopKeepsTheRowsOfTheInputsReportedSoFar) {
  const std::vector<std::string> paths = ManyFilings();
  for (const int form : {QUORLIX_SCHEDULES_LONG, QUORLIX_SCHEDULES_WIDE}) {
    const std::vector<std::string> firstTwo(paths.begin(), paths.begin() + 2);
    const Outcome expected = Write(firstTwo, form, 1);
    for (const unsigned jobs : {1u, 4u}) {
      Outcome stopping;
      stopping.stopAfter = 1;  // the second report stops the call
      const Outcome stopped = Write(paths, form, jobs, stopping);
      EXPECT_EQ(stopped.status, QUORLIX_SCHEDULES_STOPPED);
      EXPECT_EQ(stopped.inputs.size(), 2u);
      EXPECT_EQ(stopped.table, expected.table) << "form " << form << ", " << jobs << " threads";
    }
  }
}

TEST_F(SchedulesApiTest, AFailedWriteEndsTheCall) {
  const std::vector<std::string> paths = ManyFilings();
  for (const unsigned jobs : {1u, 4u}) {
    for (const int failAt : {0, 1}) {
      Outcome failing;
      failing.failWriteAt = failAt;
      const Outcome outcome = Write(paths, QUORLIX_SCHEDULES_LONG, jobs, failing);
      EXPECT_EQ(outcome.status, QUORLIX_SCHEDULES_OUTPUT_ERROR);
      EXPECT_LT(outcome.inputs.size(), paths.size());
    }
    Outcome failing;
    failing.failWriteAt = 0;
    EXPECT_EQ(Write(paths, QUORLIX_SCHEDULES_WIDE, jobs, failing).status, QUORLIX_SCHEDULES_OUTPUT_ERROR);
  }
}

// A C++ host's callback that throws ends the call with its own status; the
// table stands as after a stop, and nothing unwinds into the host's call.
TEST_F(SchedulesApiTest, AThrowingCallbackEndsTheCallAsAStopWould) {
  const std::vector<std::string> paths = ManyFilings();
  for (const int form : {QUORLIX_SCHEDULES_LONG, QUORLIX_SCHEDULES_WIDE, QUORLIX_SCHEDULES_PANEL}) {
    for (const unsigned jobs : {1u, 4u}) {
      Outcome stopping;
      stopping.stopAfter = 1;
      const Outcome stopped = Write(paths, form, jobs, stopping);
      stopping.throws = true;
      const Outcome threw = Write(paths, form, jobs, stopping);
      EXPECT_EQ(threw.status, QUORLIX_SCHEDULES_CALLBACK_FAILED);
      EXPECT_EQ(threw.inputs.size(), 2u);
      EXPECT_EQ(threw.table, stopped.table) << "form " << form << ", " << jobs << " threads";

      Outcome failing;
      failing.failWriteAt = 0;
      failing.throws = true;
      const Outcome writeThrew = Write(paths, form, jobs, failing);
      EXPECT_EQ(writeThrew.status, QUORLIX_SCHEDULES_CALLBACK_FAILED);
      EXPECT_TRUE(writeThrew.pieces.empty());
    }
  }
  // The file form leaves its output as it was.
  quorlix_test::TempDirTest::WriteFile("kept.csv", "old");
  Outcome stopping;
  stopping.stopAfter = 0;
  stopping.throws = true;
  EXPECT_EQ(WriteFile(paths, QUORLIX_SCHEDULES_WIDE, 2, PathOf("kept.csv"), &stopping),
            QUORLIX_SCHEDULES_CALLBACK_FAILED);
  EXPECT_EQ(ReadFile(PathOf("kept.csv")), "old");
}

TEST_F(SchedulesApiTest, TheFileFormIsWholeOrLeftAsItWas) {
  const std::vector<std::string> paths = ManyFilings();
  const std::string output = PathOf("table.csv");
  EXPECT_EQ(WriteFile(paths, QUORLIX_SCHEDULES_WIDE, 2, output), QUORLIX_SCHEDULES_OK);
  EXPECT_EQ(ReadFile(output), Write(paths, QUORLIX_SCHEDULES_WIDE, 1).table);
  EXPECT_EQ(WriteFile(paths, QUORLIX_SCHEDULES_LONG, 2, output), QUORLIX_SCHEDULES_OK);  // replaced
  EXPECT_EQ(ReadFile(output), Write(paths, QUORLIX_SCHEDULES_LONG, 1).table);

  quorlix_test::TempDirTest::WriteFile("kept.csv", "old");
  Outcome stopping;
  stopping.stopAfter = 0;
  EXPECT_EQ(WriteFile(paths, QUORLIX_SCHEDULES_LONG, 1, PathOf("kept.csv"), &stopping), QUORLIX_SCHEDULES_STOPPED);
  EXPECT_EQ(ReadFile(PathOf("kept.csv")), "old");
  EXPECT_EQ(WriteFile(paths, QUORLIX_SCHEDULES_LONG, 1, PathOf("no/folder/t.csv")), QUORLIX_SCHEDULES_OUTPUT_ERROR);
  EXPECT_EQ(WriteFile(paths, QUORLIX_SCHEDULES_LONG, 1, m_dir.string()), QUORLIX_SCHEDULES_OUTPUT_ERROR);  // a folder
  EXPECT_EQ(WriteFile(paths, QUORLIX_SCHEDULES_LONG, 1, "/dev/full"), QUORLIX_SCHEDULES_OUTPUT_ERROR);
  // No temporary file is left behind.
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(m_dir))
    if (!entry.is_directory()) names.push_back(entry.path().filename());
  std::ranges::sort(names);
  EXPECT_EQ(names, (std::vector<std::string>{"kept.csv", "table.csv"}));
}

TEST_F(SchedulesApiTest, TheFileFormFollowsLinks) {
  const std::vector<std::string> paths = {ManyFilings().front()};
  const std::string table = Write(paths, QUORLIX_SCHEDULES_LONG, 1).table;
  std::filesystem::create_directory(m_dir / "real");
  Put("real/t.csv", "old");
  std::filesystem::create_symlink("real/t.csv", m_dir / "link.csv");
  EXPECT_EQ(WriteFile(paths, QUORLIX_SCHEDULES_LONG, 1, PathOf("link.csv")), QUORLIX_SCHEDULES_OK);
  EXPECT_TRUE(std::filesystem::is_symlink(m_dir / "link.csv"));
  EXPECT_EQ(ReadFile(PathOf("real/t.csv")), table);
  // A link to nothing creates nothing; a link to a device writes the device.
  std::filesystem::create_symlink("real/none.csv", m_dir / "dangling.csv");
  EXPECT_EQ(WriteFile(paths, QUORLIX_SCHEDULES_LONG, 1, PathOf("dangling.csv")), QUORLIX_SCHEDULES_OUTPUT_ERROR);
  EXPECT_FALSE(std::filesystem::exists(m_dir / "real/none.csv"));
  std::filesystem::create_symlink("/dev/null", m_dir / "null.csv");
  EXPECT_EQ(WriteFile(paths, QUORLIX_SCHEDULES_LONG, 1, PathOf("null.csv")), QUORLIX_SCHEDULES_OK);
  EXPECT_TRUE(std::filesystem::is_symlink(m_dir / "null.csv"));
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(m_dir / "real"))
    names.push_back(entry.path().filename());
  EXPECT_EQ(names, std::vector<std::string>{"t.csv"});  // no temporary left
}

TEST_F(SchedulesApiTest, TheFileFormsFailureIsRecordedNamingItsTemporary) {
  const auto lastFailure = reinterpret_cast<decltype(&quorlix_last_failure)>(::dlsym(m_hLib, "quorlix_last_failure"));
  ASSERT_NE(lastFailure, nullptr);
  const std::vector<std::string> paths = {ManyFilings().front()};
  quorlix_failure failure{};
  // A missing folder: creating the temporary fails, and only the record knows its name.
  EXPECT_EQ(WriteFile(paths, QUORLIX_SCHEDULES_LONG, 1, PathOf("no/t.csv")), QUORLIX_SCHEDULES_OUTPUT_ERROR);
  EXPECT_EQ(lastFailure(&failure), QUORLIX_SCHEDULES_OUTPUT_ERROR);
  EXPECT_EQ(failure.file, QUORLIX_FAILED_FILE_TEMPORARY);
  EXPECT_EQ(failure.operation, QUORLIX_OPERATION_CREATE);
  EXPECT_EQ(failure.error_number, ENOENT);
  const std::string temporary = failure.detail;
  EXPECT_TRUE(temporary.starts_with(PathOf("no/.quorlix-t.csv.")) && temporary.ends_with(".tmp")) << temporary;
  // A folder or a link to nothing at the name is the output's own failure.
  EXPECT_EQ(WriteFile(paths, QUORLIX_SCHEDULES_LONG, 1, m_dir.string()), QUORLIX_SCHEDULES_OUTPUT_ERROR);
  lastFailure(&failure);
  EXPECT_EQ(failure.file, QUORLIX_FAILED_FILE_OUTPUT);
  EXPECT_EQ(failure.error_number, EISDIR);
  EXPECT_STREQ(failure.detail, "");
  std::filesystem::create_symlink("none.csv", m_dir / "dangling.csv");
  EXPECT_EQ(WriteFile(paths, QUORLIX_SCHEDULES_LONG, 1, PathOf("dangling.csv")), QUORLIX_SCHEDULES_OUTPUT_ERROR);
  lastFailure(&failure);
  EXPECT_EQ(failure.file, QUORLIX_FAILED_FILE_OUTPUT);
  EXPECT_EQ(failure.cause, QUORLIX_CAUSE_NOT_FOUND);
  // A device's failed write is the output's, with the system's error.
  EXPECT_EQ(WriteFile(paths, QUORLIX_SCHEDULES_LONG, 1, "/dev/full"), QUORLIX_SCHEDULES_OUTPUT_ERROR);
  lastFailure(&failure);
  EXPECT_EQ(failure.file, QUORLIX_FAILED_FILE_OUTPUT);
  EXPECT_EQ(failure.error_number, ENOSPC);
  EXPECT_EQ(failure.operation, QUORLIX_OPERATION_WRITE);
  // Success clears the record, and another run's temporary beside the table stays.
  Put(".quorlix-t.csv.00000000000000ff-0.tmp", "another run's");
  EXPECT_EQ(WriteFile(paths, QUORLIX_SCHEDULES_LONG, 1, PathOf("t.csv")), QUORLIX_SCHEDULES_OK);
  EXPECT_EQ(lastFailure(&failure), 0);
  EXPECT_EQ(failure.file, QUORLIX_FAILED_FILE_NONE);
  EXPECT_EQ(ReadFile(PathOf(".quorlix-t.csv.00000000000000ff-0.tmp")), "another run's");
}

// ---- Run settings ----

TEST_F(SchedulesApiTest, OptionsAreReadUpToTheCallersSizeAndUnknownSettingsRefused) {
  const std::vector<std::string> paths = ManyFilings();
  const std::string defaults = Write(paths, QUORLIX_SCHEDULES_PANEL, 1).table;
  // A struct of an older caller: the size field alone, every later field its default.
  QUORLIX_SCHEDULES_OPTIONS options{};
  options.size = sizeof(std::size_t);
  options.vintage = QUORLIX_VINTAGE_LATEST;  // past the size: not read
  EXPECT_EQ(WriteEx(paths, QUORLIX_SCHEDULES_PANEL, 1, &options).table, defaults);
  options.size = sizeof options;
  const Outcome latest = WriteEx(paths, QUORLIX_SCHEDULES_PANEL, 2, &options);
  EXPECT_EQ(latest.status, QUORLIX_SCHEDULES_OK);
  EXPECT_EQ(WriteEx(paths, QUORLIX_SCHEDULES_PANEL, 1, nullptr).table, defaults);
  // A newer caller's larger struct: its unknown bytes must be 0.
  struct Newer {
    QUORLIX_SCHEDULES_OPTIONS known;
    std::uint64_t unknown;
  } newer{};
  newer.known.size = sizeof newer;
  EXPECT_EQ(WriteEx(paths, QUORLIX_SCHEDULES_PANEL, 1, &newer.known).table, defaults);
  newer.unknown = 1;
  Outcome refused = WriteEx(paths, QUORLIX_SCHEDULES_PANEL, 1, &newer.known);
  EXPECT_EQ(refused.status, QUORLIX_SCHEDULES_BAD_ARGUMENT);
  EXPECT_TRUE(refused.table.empty() && refused.inputs.empty());
  options.size = sizeof(std::size_t) - 1;
  EXPECT_EQ(WriteEx(paths, QUORLIX_SCHEDULES_PANEL, 1, &options).status, QUORLIX_SCHEDULES_BAD_ARGUMENT);
  options.size = sizeof options;
  options.vintage = 2;
  EXPECT_EQ(WriteEx(paths, QUORLIX_SCHEDULES_PANEL, 1, &options).status, QUORLIX_SCHEDULES_BAD_ARGUMENT);
  EXPECT_EQ(m_writeFileEx(nullptr, 0, QUORLIX_SCHEDULES_PANEL, 1, &options, PathOf("t.csv").c_str(), nullptr, nullptr),
            QUORLIX_SCHEDULES_BAD_ARGUMENT);
  options.vintage = QUORLIX_VINTAGE_LATEST;
  std::vector<const char*> pointers;
  for (const std::string& path : paths) pointers.push_back(path.c_str());
  EXPECT_EQ(m_writeFileEx(pointers.data(), pointers.size(), QUORLIX_SCHEDULES_PANEL, 2, &options,
                          PathOf("t.csv").c_str(), nullptr, nullptr),
            QUORLIX_SCHEDULES_OK);
  EXPECT_EQ(ReadFile(PathOf("t.csv")), latest.table);

  // The wide form's cap, and the count of tags left to other_tags, through the caller's struct.
  QUORLIX_SCHEDULES_OPTIONS wide{};
  wide.size = sizeof wide;
  std::uint64_t nOtherTags = 99;
  wide.other_tags = &nOtherTags;
  const Outcome everything = WriteEx(paths, QUORLIX_SCHEDULES_WIDE, 2, &wide);
  EXPECT_EQ(everything.status, QUORLIX_SCHEDULES_OK);
  EXPECT_EQ(nOtherTags, 0u);
  wide.max_columns = 1;
  const Outcome capped = WriteEx(paths, QUORLIX_SCHEDULES_WIDE, 2, &wide);
  EXPECT_EQ(capped.status, QUORLIX_SCHEDULES_OK);
  EXPECT_GT(nOtherTags, 0u);  // the dictionary's tags keep their columns; the sample's others do not
  EXPECT_LT(capped.table.size(), everything.table.size() + everything.inputs.size() * 4096);
  wide.spreadsheet_safe = 2;
  EXPECT_EQ(WriteEx(paths, QUORLIX_SCHEDULES_WIDE, 1, &wide).status, QUORLIX_SCHEDULES_BAD_ARGUMENT);
}

// ---- The tag dictionary ----

int AppendTo(void* context, const char* data, size_t size) {
  static_cast<std::string*>(context)->append(data, size);
  return 0;
}
int Refuse(void*, const char*, size_t) { return 1; }

TEST_F(SchedulesApiTest, TheTagDictionaryIsWrittenWholeOrByArticle) {
  std::string all;
  ASSERT_EQ(m_writeTags(nullptr, AppendTo, &all), QUORLIX_SCHEDULES_OK);
  EXPECT_TRUE(all.starts_with("article,tag,kind,label,concept\r\n5,ARTICLE,identifier,Article,\r\n")) << all;
  EXPECT_NE(all.find("\r\n5,CURRENT-ASSETS,stock,Currents Assets,\r\n"), std::string::npos);
  EXPECT_NE(all.find("\r\n5,TOTAL-LIABILITY-AND-EQUITY,stock,Total Liability & Equity,\r\n"), std::string::npos);
  EXPECT_NE(all.find("\r\nUT,GROSS-OPERATING-REVENUE,flow,Gross Operating Revenue,revenue\r\n"), std::string::npos);
  // Every line of the data file, and nothing else.
  std::size_t nRows = 0;
  const std::string data = ReadFile((DataDir().parent_path().parent_path() / "data" / "fds_tags.tsv").string());
  for (std::size_t nStart = 0, nEnd; nStart < data.size(); nStart = nEnd + 1) {
    nEnd = data.find('\n', nStart);
    if (data[nStart] != '#') ++nRows;
  }
  EXPECT_EQ(std::ranges::count(all, '\n'), static_cast<std::ptrdiff_t>(nRows));

  std::string nine;
  ASSERT_EQ(m_writeTags("09", AppendTo, &nine), QUORLIX_SCHEDULES_OK);
  std::string ut;
  ASSERT_EQ(m_writeTags(" ut", AppendTo, &ut), QUORLIX_SCHEDULES_OK);
  EXPECT_TRUE(ut.starts_with("article,tag,kind,label,concept\r\nUT,ARTICLE,")) << ut;
  for (const std::string* pPart : {&nine, &ut})
    for (std::size_t nStart = pPart->find('\n') + 1; nStart < pPart->size(); nStart = pPart->find('\n', nStart) + 1)
      EXPECT_NE(all.find(pPart->substr(nStart, pPart->find('\n', nStart) + 1 - nStart)), std::string::npos);

  std::string none;
  EXPECT_EQ(m_writeTags("12", AppendTo, &none), QUORLIX_SCHEDULES_BAD_ARGUMENT);
  EXPECT_EQ(m_writeTags("", AppendTo, &none), QUORLIX_SCHEDULES_BAD_ARGUMENT);
  EXPECT_TRUE(none.empty());
  EXPECT_EQ(m_writeTags(nullptr, nullptr, nullptr), QUORLIX_SCHEDULES_BAD_ARGUMENT);
  EXPECT_EQ(m_writeTags("5", Refuse, nullptr), QUORLIX_SCHEDULES_OUTPUT_ERROR);
}

// ---- Archives as EDGAR distributes them ----

TEST_F(SchedulesApiTest, ArchivesAreOneInputEachWithTheirMembersCounted) {
  using quorlix_test::PackFilter;
  using quorlix_test::PackFormat;
  const std::vector<quorlix_test::PackedMember> filings = quorlix_test::SampleFilings();
  std::vector<std::string> plainPaths;
  for (const auto& filing : filings) plainPaths.push_back((DataDir() / "filing" / filing.path).string());
  const std::string tgz = Put("day.tar.gz", quorlix_test::Pack(PackFormat::kTar, PackFilter::kGzip, filings));
  const std::string zip = Put("day.zip", quorlix_test::Pack(PackFormat::kZip, PackFilter::kNone, filings));
  std::vector<quorlix_test::PackedMember> cut = filings;
  std::string damaged = quorlix_test::Pack(PackFormat::kTar, PackFilter::kGzip, cut);
  damaged.resize(damaged.size() / 2);
  const std::string half = Put("half.tar.gz", damaged);
  for (const unsigned jobs : {1u, 3u}) {
    const Outcome outcome = Write({tgz, zip, half}, QUORLIX_SCHEDULES_WIDE, jobs);
    ASSERT_EQ(outcome.status, QUORLIX_SCHEDULES_OK);
    ASSERT_EQ(outcome.inputs.size(), 3u);
    for (const std::size_t i : {0u, 1u}) {
      EXPECT_EQ(outcome.inputs[i].status, QUORLIX_OK);
      EXPECT_EQ(outcome.inputs[i].packing, QUORLIX_PACKING_ARCHIVE);
      EXPECT_EQ(outcome.inputs[i].members, 4u);
      EXPECT_EQ(outcome.inputs[i].filings, 4u);
      EXPECT_EQ(outcome.inputs[i].filings_with_schedules, 4u);
      EXPECT_EQ(outcome.inputs[i].schedules, 4u);
      EXPECT_EQ(outcome.inputs[i].values, 148u);
    }
    EXPECT_EQ(outcome.inputs[2].status, QUORLIX_FILING_FILE_ERROR);
    EXPECT_TRUE(outcome.problems[2].starts_with("member 'apple_10k_1997_ex27.txt': ")) << outcome.problems[2];
    EXPECT_EQ(outcome.inputs[2].members, 2u);
    EXPECT_EQ(outcome.inputs[2].schedules, 1u);  // the first member's, kept
    // The wide rows: path and member, then the same cells as the plain files'.
    const Outcome plain = Write(plainPaths, QUORLIX_SCHEDULES_WIDE, jobs);
    std::vector<std::string> plainRows;
    for (std::size_t nStart = plain.table.find("\r\n") + 2; nStart < plain.table.size();) {
      const std::size_t nEnd = plain.table.find("\r\n", nStart);
      const std::string row = plain.table.substr(nStart, nEnd - nStart);
      plainRows.push_back(row.substr(row.find(',') + 2));  // after the path and the empty member
      nStart = nEnd + 2;
    }
    ASSERT_EQ(plainRows.size(), 4u);
    // The panel names each kept schedule's member beside its path.
    const std::string panel = Write({tgz}, QUORLIX_SCHEDULES_PANEL, jobs).table;
    EXPECT_NE(panel.find(",schedule,path,member,restated,"), std::string::npos) << panel;
    for (const auto& filing : filings)
      EXPECT_NE(panel.find("," + tgz + "," + filing.path + ","), std::string::npos) << filing.path;
    for (std::size_t i = 0; i < 4; ++i) {
      const std::string name = filings[i].path;
      const std::string& cells = plainRows[i];
      EXPECT_NE(outcome.table.find(tgz + "," + name + "," + cells), std::string::npos) << name;
      EXPECT_NE(outcome.table.find(zip + "," + name + "," + cells), std::string::npos) << name;
    }
  }
}

TEST_F(SchedulesApiTest, AFileIsReadOnceHoweverManyInputsNameIt) {
  const std::string filing = Put("a.txt", ReadFile((DataDir() / "filing" / "apple_10q_2000q1_ex27.txt").string()));
  std::filesystem::create_symlink(filing, PathOf("link.txt"));
  std::filesystem::create_hard_link(filing, PathOf("hard.txt"));
  const std::string other = (DataDir() / "filing" / "apple_10k_1997_ex27.txt").string();
  const std::vector<std::string> paths = {
      other, filing, PathOf("link.txt"), m_dir.string() + "/./a.txt", other, PathOf("hard.txt")};
  for (const unsigned jobs : {1u, 4u}) {
    const Outcome outcome = Write(paths, QUORLIX_SCHEDULES_LONG, jobs);
    ASSERT_EQ(outcome.inputs.size(), paths.size());
    const std::size_t firsts[] = {0, 1, 1, 1, 0, 1};
    for (std::size_t i = 0; i < paths.size(); ++i) {
      EXPECT_EQ(outcome.inputs[i].first_index, firsts[i]) << paths[i];
      EXPECT_EQ(outcome.inputs[i].status, QUORLIX_OK);
      EXPECT_EQ(outcome.inputs[i].values, firsts[i] == i ? 37u : 0u);
      EXPECT_EQ(outcome.inputs[i].bytes == 0, firsts[i] != i);
    }
    EXPECT_EQ(std::ranges::count(outcome.table, '\n'), 1 + 2 * 37);
  }
}

TEST_F(SchedulesApiTest, PathsAndMembersAreWrittenAsUtf8Text) {
  const std::string latin =
      Put("d\xE9"
          "c.txt",
          ReadFile((DataDir() / "filing" / "apple_10q_2000q1_ex27.txt").string()));
  const std::string tar =
      Put("day.tar", quorlix_test::Pack(quorlix_test::PackFormat::kTar, quorlix_test::PackFilter::kNone,
                                        {{"r\xE9sum\xE9.txt", ReadFile(latin)}}));
  const Outcome outcome = Write({latin, tar}, QUORLIX_SCHEDULES_LONG, 1);
  EXPECT_NE(outcome.table.find(m_dir.string() + "/d\\xe9c.txt,,0000912057-00-003201,"), std::string::npos);
  EXPECT_NE(outcome.table.find(tar + ",r\\xe9sum\\xe9.txt,0000912057-00-003201,"), std::string::npos);
  EXPECT_EQ(outcome.table.find('\xE9'), std::string::npos);
  // The same text through the call that writes names.
  const auto text = [this](std::string_view name) {
    std::string out(m_nameAsText(name.data(), name.size(), nullptr, 0), '\0');
    EXPECT_EQ(m_nameAsText(name.data(), name.size(), out.data(), out.size() + 1), out.size());
    return out;
  };
  EXPECT_EQ(text("r\xE9sum\xE9.txt"), "r\\xe9sum\\xe9.txt");
  EXPECT_EQ(text("line\nbreak\tand \xC3\xA9"), "line\\x0abreak\tand \xC3\xA9");
  EXPECT_EQ(text(""), "");
  char small[4] = "old";
  EXPECT_EQ(m_nameAsText("abcdef", 6, small, sizeof small), 6u);  // too small: measured, not written
  EXPECT_STREQ(small, "old");
}

TEST_F(SchedulesApiTest, APackingIsToldByContentWithItsWords) {
  using quorlix_test::PackFilter;
  using quorlix_test::PackFormat;
  const std::vector<quorlix_test::PackedMember> one = {quorlix_test::SampleFilings()[3]};
  struct Case {
    std::string name;
    std::string bytes;
    int packing;
    const char* words;
  };
  const Case cases[] = {
      {"filing.txt.gz", one[0].bytes, QUORLIX_PACKING_NONE, ""},  // the name says nothing
      {"a.bin", quorlix_test::Pack(PackFormat::kNone, PackFilter::kGzip, one), QUORLIX_PACKING_COMPRESSED,
       "a gzip-compressed file"},
      {"b.bin", quorlix_test::Pack(PackFormat::kNone, PackFilter::kBzip2, one), QUORLIX_PACKING_COMPRESSED,
       "a bzip2-compressed file"},
      {"c.bin", quorlix_test::Pack(PackFormat::kNone, PackFilter::kXz, one), QUORLIX_PACKING_COMPRESSED,
       "an xz-compressed file"},
      {"d.bin", quorlix_test::Pack(PackFormat::kNone, PackFilter::kCompress, one), QUORLIX_PACKING_COMPRESSED,
       "a compress (.Z) file"},
      {"e.bin", quorlix_test::Pack(PackFormat::kTar, PackFilter::kNone, one), QUORLIX_PACKING_ARCHIVE, "a tar archive"},
      {"f.bin", quorlix_test::Pack(PackFormat::kTar, PackFilter::kGzip, one), QUORLIX_PACKING_ARCHIVE,
       "a gzip-compressed tar archive"},
      {"g.bin", quorlix_test::Pack(PackFormat::kZip, PackFilter::kNone, one), QUORLIX_PACKING_ARCHIVE, "a zip archive"},
      {"h.bin", "PK but no zip\n", QUORLIX_PACKING_NONE, ""},
      {"i.bin", "", QUORLIX_PACKING_NONE, ""},
  };
  for (const Case& c : cases) {
    char words[64] = "unchanged";
    EXPECT_EQ(m_packing(Put(c.name, c.bytes).c_str(), words, sizeof words), c.packing) << c.name;
    EXPECT_STREQ(words, c.words) << c.name;
  }
  char cut[8];
  EXPECT_EQ(m_packing(PathOf("f.bin").c_str(), cut, sizeof cut), QUORLIX_PACKING_ARCHIVE);
  EXPECT_STREQ(cut, "a gzip-");
  EXPECT_EQ(m_packing(PathOf("a.bin").c_str(), nullptr, 0), QUORLIX_PACKING_COMPRESSED);
  EXPECT_EQ(m_packing(PathOf("absent").c_str(), nullptr, 0), QUORLIX_PACKING_UNREADABLE);
  EXPECT_EQ(m_packing(m_dir.c_str(), nullptr, 0), QUORLIX_PACKING_UNREADABLE);
  EXPECT_EQ(m_packing(nullptr, nullptr, 0), QUORLIX_PACKING_UNREADABLE);
  // Whether a plain file is a filing.
  EXPECT_EQ(m_isFiling(PathOf("filing.txt.gz").c_str()), QUORLIX_FILE_IS_FILING);
  EXPECT_EQ(m_isFiling(PathOf("a.bin").c_str()), QUORLIX_FILE_IS_NO_FILING);
  EXPECT_EQ(m_isFiling(PathOf("absent").c_str()), QUORLIX_FILE_UNREADABLE);
  EXPECT_EQ(m_isFiling(nullptr), QUORLIX_FILE_UNREADABLE);
}

}  // namespace
