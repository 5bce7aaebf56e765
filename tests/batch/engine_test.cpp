// The batch engine at its C seam: walk, naming, refusals, private folders, order
// for any number of jobs, the callbacks and a stop.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "cli/batch/naming_cases.h"
#include "packing_fixtures.h"
#include "quorlix_batch.h"
#include "test_support.h"

namespace {

namespace fs = std::filesystem;

struct Row {
  std::size_t index;
  std::string input;
  std::string relative;
  std::vector<std::string> outputs;
  int status;
  bool present;
  int skip;
  int note;
  int failureStatus;
  int errorNumber;
  int cause = 0;
  int file = 0;
  int operation = 0;
};

// What one run handed its callbacks.
struct Seen {
  std::vector<Row> rows;
  std::vector<quorlix_batch_refusal> refusals;
  std::string refusedInput, refusedInput2, refusedOutput;
  std::vector<std::string> inspectedOutputs;
  std::atomic<int> inspected{0};
  std::size_t stopAfterRows = ~std::size_t{0};
  bool stopAtProgress = false;
  std::size_t lastDone = 0;
  std::vector<std::string> listed;
  std::size_t nextListed = 0;
  void (*onRow)(const quorlix_batch_row&) = nullptr;
};

int OnRow(void* context, const quorlix_batch_row* row) {
  auto& seen = *static_cast<Seen*>(context);
  Row kept{row->index,
           row->input,
           std::string(row->input).substr(row->relative_start),
           {},
           row->status,
           row->outputs_present != 0,
           row->skip,
           row->note,
           row->failure.status,
           row->failure.error_number};
  kept.cause = row->failure.cause;
  kept.file = row->failure.file;
  kept.operation = row->failure.operation;
  for (int k = 0; k < row->output_count; ++k) kept.outputs.emplace_back(row->outputs[k]);
  seen.rows.push_back(kept);
  if (seen.onRow) seen.onRow(*row);
  return seen.rows.size() >= seen.stopAfterRows ? 1 : 0;
}

int OnProgress(void* context, const quorlix_batch_progress* progress) {
  auto& seen = *static_cast<Seen*>(context);
  seen.lastDone = progress->done;
  return seen.stopAtProgress ? 1 : 0;
}

void OnInspect(void* context, const quorlix_batch_call* call) {
  auto& seen = *static_cast<Seen*>(context);
  if (seen.inspected++ == 0 && call->outputs[0]) seen.inspectedOutputs.emplace_back(call->outputs[0]);
}

void OnRefused(void* context, const quorlix_batch_refusal* refusal) {
  auto& seen = *static_cast<Seen*>(context);
  seen.refusals.push_back(*refusal);
  seen.refusedInput = refusal->input;
  seen.refusedInput2 = refusal->input2;
  seen.refusedOutput = refusal->output;
}

int NextListed(void* context, const char** path, std::size_t* length) {
  auto& seen = *static_cast<Seen*>(context);
  if (seen.nextListed == seen.listed.size()) return 0;
  const std::string& next = seen.listed[seen.nextListed++];
  *path = next.data();
  *length = next.size();
  return 1;
}

class BatchEngineTest : public quorlix_test::TempDirTest {
 protected:
  std::string Write(const std::string& name, std::string_view bytes) {
    fs::create_directories(fs::path(PathOf(name)).parent_path());
    return WriteFile(name, bytes);
  }

  int Run(int which, const std::vector<std::string>& named, const std::string& outDir, unsigned jobs = 0) {
    m_named.clear();
    for (const auto& path : named) m_named.push_back(path.c_str());
    m_settings.conversion.which = which;
    m_settings.named = m_named.data();
    m_settings.named_count = m_named.size();
    m_settings.out_dir = outDir.empty() ? nullptr : outDir.c_str();
    m_settings.jobs = jobs;
    m_settings.next_listed = m_seen->listed.empty() ? nullptr : NextListed;
    m_settings.listed_context = m_seen.get();
    const quorlix_batch_callbacks callbacks{m_seen.get(), OnRow, OnProgress, OnInspect, OnRefused, nullptr};
    return quorlix_run_batch(&m_settings, &callbacks, &m_summary);
  }

  // The entries of a folder whose names start with ".quorlix-".
  static std::vector<std::string> PrivateEntries(const std::string& folder) {
    std::vector<std::string> names;
    for (const auto& entry : fs::recursive_directory_iterator(folder))
      if (entry.path().filename().string().starts_with(".quorlix-")) names.push_back(entry.path().string());
    return names;
  }

  quorlix_batch_settings m_settings{};
  quorlix_batch_summary m_summary{};
  std::vector<const char*> m_named;
  std::unique_ptr<Seen> m_seen = std::make_unique<Seen>();
};

TEST_F(BatchEngineTest, RowsComeInInputOrderWithTheSameOutputsForAnyJobs) {
  for (int i = 0; i < 40; ++i) Write("in/" + std::string(i < 10 ? "0" : "") + std::to_string(i), "a\nb\n");
  for (const unsigned jobs : {1u, 3u, 8u}) {
    m_seen->rows.clear();
    const std::string out = PathOf("out" + std::to_string(jobs));
    ASSERT_EQ(Run(QUORLIX_BATCH_CRLF, {PathOf("in")}, out, jobs), QUORLIX_BATCH_DONE);
    ASSERT_EQ(m_seen->rows.size(), 40u);
    for (std::size_t i = 0; i < m_seen->rows.size(); ++i) {
      const Row& row = m_seen->rows[i];
      EXPECT_EQ(row.index, i);
      EXPECT_EQ(row.relative, fs::path(row.input).filename().string());
      EXPECT_EQ(row.status, 0);
      EXPECT_TRUE(row.present);
      ASSERT_EQ(row.outputs.size(), 1u);
      EXPECT_EQ(row.outputs[0], out + "/" + row.relative);
      EXPECT_EQ(quorlix_test::ReadFile(row.outputs[0]), "a\r\nb\r\n");
    }
    EXPECT_TRUE(std::ranges::is_sorted(m_seen->rows, {}, &Row::input));
    EXPECT_EQ(m_seen->lastDone, 40u);
    EXPECT_TRUE(PrivateEntries(out).empty()) << "the private folders are gone";
  }
}

TEST_F(BatchEngineTest, OutputNamesFollowTheTableSharedWithPython) {
  const std::vector<std::pair<std::string, int>> commands{{"crlf", QUORLIX_BATCH_CRLF},
                                                          {"html2text", QUORLIX_BATCH_HTML},
                                                          {"decode-filing", QUORLIX_BATCH_FILING},
                                                          {"delimited", QUORLIX_BATCH_DELIMITED}};
  m_settings.walk = QUORLIX_BATCH_WALK_EVERY_FILE;
  int tried = 0;
  for (const auto& [command, which] : commands) {
    for (const auto& named : quorlix_test::ReadNamingCases()) {
      if (named.command != command) continue;
      const std::string folder = "case" + std::to_string(tried);
      Write(folder + "/" + named.input, "x\n");
      const std::string out = PathOf("out" + std::to_string(tried++));
      m_seen->rows.clear();
      ASSERT_EQ(Run(which, {PathOf(folder)}, out), QUORLIX_BATCH_DONE) << named.input;
      ASSERT_EQ(m_seen->rows.size(), 1u);
      std::vector<std::string> below;
      for (const auto& output : m_seen->rows[0].outputs) below.push_back(output.substr(out.size() + 1));
      EXPECT_EQ(below, named.outputs) << command << " " << named.input;
    }
  }
  EXPECT_GT(tried, 4);
}

TEST_F(BatchEngineTest, WalksFilterTheirFilesAndSkipWhatLiesInsideTheOutputFolder) {
  Write("site/a.htm", "<HTML><BODY>a</BODY></HTML>");
  Write("site/b.png", "png");
  Write("site/out/old.htm", "<HTML><BODY>old</BODY></HTML>");
  ASSERT_EQ(Run(QUORLIX_BATCH_HTML, {PathOf("site")}, PathOf("site/out")), QUORLIX_BATCH_DONE);
  ASSERT_EQ(m_seen->rows.size(), 3u);
  EXPECT_EQ(m_seen->rows[0].relative, "a.htm");
  EXPECT_EQ(m_seen->rows[0].skip, QUORLIX_BATCH_SKIP_NONE);
  EXPECT_EQ(m_seen->rows[1].relative, "b.png");
  EXPECT_EQ(m_seen->rows[1].skip, QUORLIX_BATCH_SKIP_NOT_A_PAGE);
  EXPECT_TRUE(m_seen->rows[1].outputs.empty());
  EXPECT_EQ(m_seen->rows[2].relative, "out/old.htm");
  EXPECT_EQ(m_seen->rows[2].skip, QUORLIX_BATCH_SKIP_INSIDE_OUTPUT);
  EXPECT_FALSE(quorlix_test::FileExists(PathOf("site/out/out/old.txt")));
}

TEST_F(BatchEngineTest, ListedPathsAreMirroredAsGivenAndListedFoldersPassedOver) {
  Write("l/x.txt", "1\n");
  struct BackTo {
    fs::path folder = fs::current_path();
    ~BackTo() { fs::current_path(folder); }
  } backTo;
  fs::current_path(m_dir);
  m_seen->listed = {"l/x.txt", "l", "", "./l/x.txt"};
  ASSERT_EQ(Run(QUORLIX_BATCH_CRLF, {}, "o/"), QUORLIX_BATCH_REFUSED) << "l/x.txt and ./l/x.txt write one output";
  EXPECT_EQ(m_seen->refusals[0].reason, QUORLIX_BATCH_REFUSED_COLLISION);
  EXPECT_EQ(m_seen->refusedOutput, "o/l/x.txt");

  m_seen = std::make_unique<Seen>();
  m_seen->listed = {"l/x.txt", "l"};
  ASSERT_EQ(Run(QUORLIX_BATCH_CRLF, {}, "o"), QUORLIX_BATCH_DONE);
  ASSERT_EQ(m_seen->rows.size(), 1u);
  EXPECT_EQ(m_seen->rows[0].outputs, std::vector<std::string>{"o/l/x.txt"});

  m_seen = std::make_unique<Seen>();
  m_seen->listed = {"l/../../etc/passwd"};
  ASSERT_EQ(Run(QUORLIX_BATCH_CRLF, {}, "p"), QUORLIX_BATCH_REFUSED);
  EXPECT_EQ(m_seen->refusals[0].reason, QUORLIX_BATCH_REFUSED_DOT_DOT);
  EXPECT_EQ(m_seen->refusedInput, "l/../../etc/passwd");
  EXPECT_FALSE(fs::exists("p"));
}

TEST_F(BatchEngineTest, RefusalsComeBeforeAnyOutput) {
  const std::string a = Write("a/same.txt", "1\n");
  const std::string b = Write("b/same.txt", "2\n");
  ASSERT_EQ(Run(QUORLIX_BATCH_CRLF, {a, b}, PathOf("out")), QUORLIX_BATCH_REFUSED);
  EXPECT_EQ(m_seen->refusals.at(0).reason, QUORLIX_BATCH_REFUSED_COLLISION);
  EXPECT_EQ(m_seen->refusedInput, a);
  EXPECT_EQ(m_seen->refusedInput2, b);
  EXPECT_EQ(m_seen->refusedOutput, PathOf("out") + "/same.txt");
  EXPECT_FALSE(fs::exists(PathOf("out")));
  EXPECT_TRUE(m_seen->rows.empty());

  // A file the caller writes itself may be neither an input nor an output.
  const std::string report = PathOf("out2/same.txt");
  const char* reserved[] = {report.c_str()};
  m_settings.reserved = reserved;
  m_settings.reserved_count = 1;
  m_seen = std::make_unique<Seen>();
  ASSERT_EQ(Run(QUORLIX_BATCH_CRLF, {a}, PathOf("out2")), QUORLIX_BATCH_REFUSED);
  EXPECT_EQ(m_seen->refusals.at(0).reason, QUORLIX_BATCH_REFUSED_RESERVED_IS_OUTPUT);
  reserved[0] = a.c_str();
  m_seen = std::make_unique<Seen>();
  ASSERT_EQ(Run(QUORLIX_BATCH_CRLF, {a}, PathOf("out2")), QUORLIX_BATCH_REFUSED);
  EXPECT_EQ(m_seen->refusals.at(0).reason, QUORLIX_BATCH_REFUSED_RESERVED_IS_INPUT);
  m_settings.reserved_count = 0;

  m_seen = std::make_unique<Seen>();
  EXPECT_EQ(Run(QUORLIX_BATCH_CRLF, {a}, b), QUORLIX_BATCH_REFUSED);
  EXPECT_EQ(m_seen->refusals.at(0).reason, QUORLIX_BATCH_REFUSED_OUT_DIR_IS_FILE);
  EXPECT_EQ(quorlix_test::ReadFile(b), "2\n");

  EXPECT_EQ(Run(QUORLIX_BATCH_CRLF, {}, PathOf("o")), QUORLIX_BATCH_REFUSED);
  EXPECT_EQ(Run(QUORLIX_BATCH_CRLF, {a}, ""), QUORLIX_BATCH_BAD_CALL);
  EXPECT_EQ(Run(99, {a}, PathOf("o")), QUORLIX_BATCH_BAD_CALL);
  EXPECT_EQ(quorlix_run_batch(nullptr, nullptr, nullptr), QUORLIX_BATCH_BAD_CALL);
}

TEST_F(BatchEngineTest, FailuresAreInspectedWhereTheExportLeftThemAndNoteWhatTheBatchFound) {
  // A missing input: the export fails, and the caller sees the output it was
  // handed in the private folder, while the row names the final one.
  ASSERT_EQ(Run(QUORLIX_BATCH_CRLF, {PathOf("gone")}, PathOf("out")), QUORLIX_BATCH_DONE);
  ASSERT_EQ(m_seen->rows.size(), 1u);
  EXPECT_EQ(m_seen->rows[0].status, QUORLIX_CRLF_INPUT_NOT_FOUND);
  EXPECT_TRUE(m_seen->rows[0].failureStatus == 0 || m_seen->rows[0].failureStatus == QUORLIX_CRLF_INPUT_NOT_FOUND);
  EXPECT_FALSE(m_seen->rows[0].present);
  EXPECT_EQ(m_seen->inspected.load(), 1);
  ASSERT_EQ(m_seen->inspectedOutputs.size(), 1u);
  EXPECT_NE(m_seen->inspectedOutputs[0], m_seen->rows[0].outputs[0]);
  EXPECT_TRUE(PrivateEntries(PathOf("out")).empty());

  // A packed input is refused before the export; so is an output in the way
  // that is a filing, when decoding, unless forced.
  m_seen = std::make_unique<Seen>();
  const std::string packed = Write(
      "p/a.txt.gz",
      quorlix_test::Pack(quorlix_test::PackFormat::kNone, quorlix_test::PackFilter::kGzip, {{"a.txt", "hello\n"}}));
  ASSERT_EQ(Run(QUORLIX_BATCH_CRLF, {packed}, PathOf("out")), QUORLIX_BATCH_DONE);
  EXPECT_EQ(m_seen->rows.at(0).note, QUORLIX_BATCH_NOTE_INPUT_PACKED);
  EXPECT_EQ(m_seen->rows.at(0).status, QUORLIX_CRLF_INPUT_ERROR);
  EXPECT_EQ(m_seen->inspected.load(), 0);

  fs::copy_file(quorlix_test::DataDir() / "filing/apple_10q_2000q1_ex27.txt", PathOf("f.txt"));
  fs::create_directories(PathOf("slip"));
  fs::copy_file(PathOf("f.txt"), PathOf("slip/f.txt"));
  m_seen = std::make_unique<Seen>();
  ASSERT_EQ(Run(QUORLIX_BATCH_FILING, {PathOf("f.txt")}, PathOf("slip")), QUORLIX_BATCH_DONE);
  EXPECT_EQ(m_seen->rows.at(0).note, QUORLIX_BATCH_NOTE_OUTPUT_IS_FILING);
  EXPECT_EQ(m_seen->rows.at(0).status, QUORLIX_FILING_FILE_ERROR);
  EXPECT_EQ(quorlix_test::ReadFile(PathOf("slip/f.txt")), quorlix_test::ReadFile(PathOf("f.txt")));
  m_settings.force = 1;
  m_seen = std::make_unique<Seen>();
  ASSERT_EQ(Run(QUORLIX_BATCH_FILING, {PathOf("f.txt")}, PathOf("slip")), QUORLIX_BATCH_DONE);
  EXPECT_EQ(m_seen->rows.at(0).status, 0);
  EXPECT_TRUE(m_seen->rows.at(0).present);
}

TEST_F(BatchEngineTest, ResumePassesOverUpToDateInputsAndKeepsOtherRunsEntries) {
  for (const char* name : {"a", "b", "c"}) Write(std::string("in/") + name, "1\n");
  ASSERT_EQ(Run(QUORLIX_BATCH_CRLF, {PathOf("in")}, PathOf("out")), QUORLIX_BATCH_DONE);
  fs::create_directories(PathOf("out/.quorlix-elsewhere"));
  Write("in/b", "2\n");  // newer than its output now
  fs::last_write_time(PathOf("in/b"), fs::last_write_time(PathOf("out/b")) + std::chrono::seconds(5));
  m_settings.resume = 1;
  m_seen = std::make_unique<Seen>();
  ASSERT_EQ(Run(QUORLIX_BATCH_CRLF, {PathOf("in")}, PathOf("out")), QUORLIX_BATCH_DONE);
  ASSERT_EQ(m_seen->rows.size(), 3u);
  EXPECT_EQ(m_seen->rows[0].skip, QUORLIX_BATCH_SKIP_UP_TO_DATE);
  EXPECT_EQ(m_seen->rows[1].skip, QUORLIX_BATCH_SKIP_NONE);
  EXPECT_EQ(m_seen->rows[2].skip, QUORLIX_BATCH_SKIP_UP_TO_DATE);
  EXPECT_EQ(quorlix_test::ReadFile(PathOf("out/b")), "2\r\n");
  EXPECT_EQ(m_summary.kept_entries, 1u);
}

TEST_F(BatchEngineTest, AStopFinishesWhatIsInFlightAndHandsTheRowsOfWhatFinished) {
  for (int i = 0; i < 30; ++i) Write("in/" + std::to_string(100 + i), "1\n");
  m_seen->stopAfterRows = 2;
  ASSERT_EQ(Run(QUORLIX_BATCH_CRLF, {PathOf("in")}, PathOf("out"), 1), QUORLIX_BATCH_STOPPED);
  ASSERT_GE(m_seen->rows.size(), 2u);
  EXPECT_EQ(m_seen->rows.size(), m_seen->lastDone) << "every input finished has its row";
  for (std::size_t i = 0; i < m_seen->rows.size(); ++i) EXPECT_TRUE(m_seen->rows[i].present);
  EXPECT_TRUE(PrivateEntries(PathOf("out")).empty());

  m_seen = std::make_unique<Seen>();
  m_seen->stopAtProgress = true;
  EXPECT_EQ(Run(QUORLIX_BATCH_CRLF, {PathOf("in")}, PathOf("out2"), 2), QUORLIX_BATCH_STOPPED);
  EXPECT_EQ(m_seen->rows.size(), m_seen->lastDone);
  // In input order still; past the first input not started come those other
  // workers had finished.
  EXPECT_TRUE(std::ranges::is_sorted(m_seen->rows, std::less<>{}, &Row::index));
  EXPECT_EQ(std::ranges::adjacent_find(m_seen->rows, {}, &Row::index), m_seen->rows.end());
}

TEST_F(BatchEngineTest, AbandonRemovesEveryTemporaryOfARunningBatch) {
  for (int i = 0; i < 20; ++i) Write("in/" + std::to_string(100 + i), std::string(100000, 'x') + "\n");
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    // An end at once in the middle of the batch, from its first row.
    m_seen->onRow = [](const quorlix_batch_row&) {
      quorlix_batch_abandon();
      ::_exit(0);
    };
    Run(QUORLIX_BATCH_CRLF, {PathOf("in")}, PathOf("out"), 4);
    ::_exit(1);
  }
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0);
  EXPECT_TRUE(PrivateEntries(PathOf("out")).empty());
}

TEST_F(BatchEngineTest, TheOutputsFolderWorkFailsWithTheSystemsWordsAndARunStartsAfresh) {
  const std::string input = Write("in/sub/a.txt", "1\n");
  Write("in/b.txt", "1\n");
  Write("out/sub", "a file where the output folder goes");
  ASSERT_EQ(Run(QUORLIX_BATCH_CRLF, {PathOf("in")}, PathOf("out"), 1), QUORLIX_BATCH_DONE);
  ASSERT_EQ(m_seen->rows.size(), 2u);
  EXPECT_EQ(m_seen->rows[0].status, 0);
  EXPECT_EQ(m_seen->rows[1].status, QUORLIX_CRLF_OUTPUT_ERROR);
  EXPECT_EQ(m_seen->rows[1].note, QUORLIX_BATCH_NOTE_NO_PRIVATE_FOLDER);
  EXPECT_EQ(m_seen->rows[1].errorNumber, EEXIST);
  // The record says why, as the export would have met it creating the output there.
  EXPECT_EQ(m_seen->rows[1].cause, QUORLIX_CAUSE_NOT_A_FOLDER);
  EXPECT_EQ(m_seen->rows[1].file, QUORLIX_FAILED_FILE_OUTPUT);
  EXPECT_EQ(m_seen->rows[1].operation, QUORLIX_OPERATION_CREATE);
  EXPECT_EQ(m_seen->rows[1].failureStatus, QUORLIX_CRLF_OUTPUT_ERROR);

  // A file further up the way: a folder below it cannot be made either.
  Write("deep/sub/deeper/c.txt", "1\n");
  m_seen = std::make_unique<Seen>();
  ASSERT_EQ(Run(QUORLIX_BATCH_CRLF, {PathOf("deep")}, PathOf("out"), 1), QUORLIX_BATCH_DONE);
  ASSERT_EQ(m_seen->rows.size(), 1u);
  EXPECT_EQ(m_seen->rows[0].note, QUORLIX_BATCH_NOTE_NO_PRIVATE_FOLDER);
  EXPECT_EQ(m_seen->rows[0].errorNumber, ENOTDIR);
  EXPECT_EQ(m_seen->rows[0].cause, QUORLIX_CAUSE_NOT_A_FOLDER);
  EXPECT_EQ(m_seen->rows[0].file, QUORLIX_FAILED_FILE_OUTPUT);

  // A name too long for the folder fails at the rename, and neither output stays.
  const std::string longName = std::string(250, 'n') + ".htm";
  Write("long/" + longName, "1\n");
  m_seen = std::make_unique<Seen>();
  ASSERT_EQ(Run(QUORLIX_BATCH_FILING, {PathOf("long/" + longName)}, PathOf("long-out")), QUORLIX_BATCH_DONE);
  EXPECT_NE(m_seen->rows.at(0).status, 0);
  EXPECT_EQ(m_seen->rows.at(0).errorNumber, ENAMETOOLONG);
  EXPECT_EQ(m_seen->rows.at(0).operation, QUORLIX_OPERATION_RENAME);
  EXPECT_EQ(m_seen->rows.at(0).cause, QUORLIX_CAUSE_SYSTEM_ERROR);

  // A folder with files in it where the output goes: the rename fails, with its cause, and the folder stays.
  Write("in3/x.txt", "1\n");
  Write("out3/x.txt/kept", "k");
  m_seen = std::make_unique<Seen>();
  ASSERT_EQ(Run(QUORLIX_BATCH_CRLF, {PathOf("in3")}, PathOf("out3"), 1), QUORLIX_BATCH_DONE);
  ASSERT_EQ(m_seen->rows.size(), 1u);
  EXPECT_EQ(m_seen->rows[0].status, QUORLIX_CRLF_OUTPUT_ERROR);
  EXPECT_EQ(m_seen->rows[0].note, QUORLIX_BATCH_NOTE_OUTPUT_NOT_PLACED);
  EXPECT_EQ(m_seen->rows[0].errorNumber, EISDIR);
  EXPECT_EQ(m_seen->rows[0].cause, QUORLIX_CAUSE_IS_FOLDER);
  EXPECT_EQ(m_seen->rows[0].file, QUORLIX_FAILED_FILE_OUTPUT);
  EXPECT_EQ(m_seen->rows[0].operation, QUORLIX_OPERATION_RENAME);
  EXPECT_EQ(quorlix_test::ReadFile(PathOf("out3/x.txt/kept")), "k");

  // The same output folder, removed between two runs on one thread, is made again.
  fs::remove_all(PathOf("out"));
  m_seen = std::make_unique<Seen>();
  ASSERT_EQ(Run(QUORLIX_BATCH_CRLF, {PathOf("in")}, PathOf("out"), 1), QUORLIX_BATCH_DONE);
  ASSERT_EQ(m_seen->rows.size(), 2u);
  EXPECT_EQ(m_seen->rows[0].status, 0);
  EXPECT_EQ(m_seen->rows[1].status, 0);
  EXPECT_EQ(quorlix_test::ReadFile(PathOf("out/sub/a.txt")), "1\r\n");
}

TEST_F(BatchEngineTest, AListNamesTheOutputsOfAConversionAndRefusesItsCollisions) {
  Write("w/a.txt", "x");
  Write("w/a.htm", "x");
  Write("w/out/old.txt", "x");
  m_settings.walk = QUORLIX_BATCH_WALK_EVERY_FILE;
  m_settings.conversion.flag = QUORLIX_BATCH_CRLF;
  ASSERT_EQ(Run(QUORLIX_BATCH_LIST, {PathOf("w")}, PathOf("w/out")), QUORLIX_BATCH_DONE);
  ASSERT_EQ(m_seen->rows.size(), 3u);
  EXPECT_EQ(m_seen->rows[0].outputs, std::vector<std::string>{PathOf("w/out") + "/a.htm"});
  EXPECT_EQ(m_seen->rows[2].skip, QUORLIX_BATCH_SKIP_INSIDE_OUTPUT);
  EXPECT_EQ(m_seen->rows[2].outputs, std::vector<std::string>{PathOf("w/out") + "/out/old.txt"});
  EXPECT_FALSE(fs::exists(PathOf("w/out/a.htm"))) << "a list converts nothing";

  m_settings.conversion.flag = QUORLIX_BATCH_FILING;
  m_seen = std::make_unique<Seen>();
  ASSERT_EQ(Run(QUORLIX_BATCH_LIST, {PathOf("w")}, PathOf("w/out")), QUORLIX_BATCH_REFUSED);
  EXPECT_EQ(m_seen->refusals.at(0).reason, QUORLIX_BATCH_REFUSED_COLLISION);
  EXPECT_TRUE(m_seen->refusedOutput.starts_with(PathOf("w/out") + "/a.")) << "a.txt or a.fds.txt, both written twice";
  m_settings.conversion.flag = QUORLIX_BATCH_VERIFY;
  EXPECT_EQ(Run(QUORLIX_BATCH_LIST, {PathOf("w")}, PathOf("w/out")), QUORLIX_BATCH_BAD_CALL);
}

TEST_F(BatchEngineTest, OutputsTheCallerNamesAreWrittenAsNamedOrInPlace) {
  const std::string a = Write("a.txt", "1\n");
  const std::string b = Write("b.txt", "2\n");
  const std::string c = Write("c.txt", "3\n");
  const std::string toA = PathOf("o/x.txt");
  const std::string missing = PathOf("none/y.txt");
  fs::create_directories(PathOf("o"));
  const char* outputs[] = {toA.c_str(), b.c_str(), missing.c_str()};
  m_settings.outputs = outputs;
  // b is converted in place; c's output folder does not exist, which the export meets.
  ASSERT_EQ(Run(QUORLIX_BATCH_CRLF, {a, b, c}, "", 2), QUORLIX_BATCH_DONE);
  ASSERT_EQ(m_seen->rows.size(), 3u);
  EXPECT_EQ(m_seen->rows[0].outputs, std::vector<std::string>{toA});
  EXPECT_EQ(m_seen->rows[0].status, 0);
  EXPECT_EQ(quorlix_test::ReadFile(toA), "1\r\n");
  EXPECT_EQ(m_seen->rows[1].status, 0);
  EXPECT_EQ(quorlix_test::ReadFile(b), "2\r\n");
  EXPECT_EQ(m_seen->rows[2].status, CvtCRLF(c.c_str(), missing.c_str(), 0)) << "the export's own status";
  EXPECT_NE(m_seen->rows[2].status, 0);
  EXPECT_EQ(m_seen->rows[2].note, QUORLIX_BATCH_NOTE_NONE);
  EXPECT_FALSE(fs::exists(PathOf("none")));
  EXPECT_TRUE(PrivateEntries(PathOf("o")).empty());

  // Outputs the caller names may be the same: each input writes in turn.
  const char* same[] = {toA.c_str(), toA.c_str()};
  m_settings.outputs = same;
  m_seen = std::make_unique<Seen>();
  ASSERT_EQ(Run(QUORLIX_BATCH_CRLF, {a, c}, "", 1), QUORLIX_BATCH_DONE);
  EXPECT_EQ(quorlix_test::ReadFile(toA), "3\r\n");
  EXPECT_EQ(Run(QUORLIX_BATCH_LIST, {a}, ""), QUORLIX_BATCH_BAD_CALL);
}

TEST_F(BatchEngineTest, AListRunConvertsNothingAndWalksAll) {
  Write("w/b/2", "x");
  Write("w/a", "x");
  m_settings.walk = QUORLIX_BATCH_WALK_EVERY_FILE;
  ASSERT_EQ(Run(QUORLIX_BATCH_LIST, {PathOf("w")}, ""), QUORLIX_BATCH_DONE);
  ASSERT_EQ(m_seen->rows.size(), 2u);
  EXPECT_EQ(m_seen->rows[0].relative, "a");
  EXPECT_EQ(m_seen->rows[1].relative, "b/2");
  EXPECT_TRUE(m_seen->rows[1].outputs.empty());
}

}  // namespace
