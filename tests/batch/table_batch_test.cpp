// The schedules' table as a batch: the engine walks and checks the inputs, the
// table reads them, and each input comes back as a row in input order.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cerrno>
#include <filesystem>
#include <string>
#include <vector>

#include "quorlix_batch.h"
#include "quorlix_failure.h"
#include "quorlix_schedules.h"
#include "test_support.h"

namespace {

namespace fs = std::filesystem;
using quorlix_test::DataDir;
using quorlix_test::ReadFile;

struct TableRow {
  std::size_t index;
  std::string input;
  int status;
  int skip;
  bool told;  // a table_input came with the row
  std::size_t toldIndex;
  std::size_t firstIndex;
  std::uint64_t schedules;
  quorlix_failure failure;  // the row's
  bool toldFailure;         // the table_input carried a record
};

struct Seen {
  std::vector<TableRow> rows;
  std::string table;
  std::size_t started = 0;
  std::size_t stopAfterRows = ~std::size_t{0};
  int refusal = 0;
  std::string refusedInput, refusedOutput;
};

int OnRow(void* context, const quorlix_batch_row* row) {
  auto& seen = *static_cast<Seen*>(context);
  const QUORLIX_SCHEDULES_INPUT* told = row->table_input;
  seen.rows.push_back({row->index, row->input, row->status, row->skip, told != nullptr, told ? told->index : 0,
                       told ? told->first_index : 0, told ? told->schedules : 0, row->failure, told && told->failure});
  return seen.rows.size() >= seen.stopAfterRows ? 1 : 0;
}

void OnRefused(void* context, const quorlix_batch_refusal* refusal) {
  auto& seen = *static_cast<Seen*>(context);
  seen.refusal = refusal->reason;
  seen.refusedInput = refusal->input;
  seen.refusedOutput = refusal->output;
}

int OnStart(void* context, std::size_t count) {
  static_cast<Seen*>(context)->started = count;
  return 0;
}

int Write(void* context, const char* data, std::size_t size) {
  static_cast<Seen*>(context)->table.append(data, size);
  return 0;
}

class TableBatchTest : public quorlix_test::TempDirTest {
 protected:
  static std::string Filing(const char* name) { return (DataDir() / "filing" / name).string(); }

  // A folder of two filings and a note, walked in byte order: a, b (the note), c.
  std::string MakeFolder() {
    fs::create_directories(PathOf("in"));
    fs::copy_file(Filing("apple_10q_2000q1_ex27.txt"), PathOf("in/a.txt"));
    WriteFile("in/b.txt", "no filing here\n");
    fs::copy_file(Filing("apple_10k_1997_ex27.txt"), PathOf("in/c.txt"));
    return PathOf("in");
  }

  int Run(const std::vector<std::string>& named, unsigned jobs = 1, int walk = QUORLIX_BATCH_WALK_DEFAULT,
          int which = QUORLIX_BATCH_SCHEDULES) {
    m_named.clear();
    for (const auto& path : named) m_named.push_back(path.c_str());
    quorlix_batch_settings settings{};
    settings.conversion.which = which;
    settings.named = m_named.data();
    settings.named_count = m_named.size();
    settings.jobs = jobs;
    settings.walk = walk;
    settings.table = &m_table;
    const quorlix_batch_callbacks callbacks{&m_seen, OnRow, nullptr, nullptr, OnRefused, OnStart};
    return quorlix_run_batch(&settings, &callbacks, nullptr);
  }

  void ToWrite(int form = QUORLIX_SCHEDULES_LONG) {
    m_table = {};
    m_table.form = form;
    m_table.to = QUORLIX_BATCH_TABLE_TO_WRITE;
    m_table.write = Write;
    m_table.write_context = &m_seen;
  }

  quorlix_batch_table m_table{};
  Seen m_seen;
  std::vector<const char*> m_named;
};

// The table of a walked folder and a file named twice: its rows in input order for
// any number of jobs, the table as the table's own call writes it.
TEST_F(TableBatchTest, RowsComeInInputOrderWithWhatTheTableRead) {
  const std::string folder = MakeFolder();
  const std::string again = PathOf("in/a.txt");
  std::string firstTable;
  for (const unsigned jobs : {1u, 2u}) {
    m_seen = {};
    ToWrite(QUORLIX_SCHEDULES_WIDE);
    ASSERT_EQ(Run({folder, again}, jobs), QUORLIX_BATCH_DONE) << jobs;
    EXPECT_EQ(m_table.status, QUORLIX_SCHEDULES_OK);
    EXPECT_EQ(m_seen.started, 4u);
    ASSERT_EQ(m_seen.rows.size(), 4u) << jobs;
    const std::vector<std::string> inputs{PathOf("in/a.txt"), PathOf("in/b.txt"), PathOf("in/c.txt"), again};
    const std::vector<int> skips{QUORLIX_BATCH_SKIP_NONE, QUORLIX_BATCH_SKIP_NOT_A_FILING, QUORLIX_BATCH_SKIP_NONE,
                                 QUORLIX_BATCH_SKIP_REPEATED};
    for (std::size_t i = 0; i < 4; ++i) {
      const TableRow& row = m_seen.rows[i];
      EXPECT_EQ(row.index, i);
      EXPECT_EQ(row.input, inputs[i]);
      EXPECT_EQ(row.skip, skips[i]) << i;
      EXPECT_EQ(row.status, 0) << i;
      ASSERT_TRUE(row.told) << i;
      EXPECT_EQ(row.toldIndex, i);
    }
    EXPECT_EQ(m_seen.rows[3].firstIndex, 0u);  // read once, as the first input
    EXPECT_GT(m_seen.rows[0].schedules, 0u);
    if (jobs == 1) firstTable = m_seen.table;
    else EXPECT_EQ(m_seen.table, firstTable);
  }
  // The same bytes as the table's own call over the walked paths.
  Seen direct;
  const std::string a = PathOf("in/a.txt"), b = PathOf("in/b.txt"), c = PathOf("in/c.txt");
  const char* paths[] = {a.c_str(), b.c_str(), c.c_str(), a.c_str()};
  quorlix_write_schedules_ex(paths, 4, QUORLIX_SCHEDULES_WIDE, 1, nullptr, Write, &direct, nullptr, nullptr);
  EXPECT_EQ(direct.table, firstTable);
}

// A walk that passes files over gives them their rows in their places, unread.
TEST_F(TableBatchTest, WalkedInputsTheTableIsNotGivenKeepTheirPlaces) {
  const std::string folder = MakeFolder();
  ToWrite();
  ASSERT_EQ(Run({folder}, 2, QUORLIX_BATCH_WALK_FILINGS), QUORLIX_BATCH_DONE);
  ASSERT_EQ(m_seen.rows.size(), 3u);
  EXPECT_TRUE(m_seen.rows[0].told);
  EXPECT_FALSE(m_seen.rows[1].told);
  EXPECT_EQ(m_seen.rows[1].skip, QUORLIX_BATCH_SKIP_NOT_A_FILING);
  EXPECT_EQ(m_seen.rows[1].index, 1u);
  ASSERT_TRUE(m_seen.rows[2].told);
  EXPECT_EQ(m_seen.rows[2].index, 2u);
  EXPECT_EQ(m_seen.rows[2].toldIndex, 2u);
  EXPECT_EQ(m_seen.rows[2].firstIndex, 2u);
}

// An input that cannot be read fails alone, with the reading's own record of
// why: the cause, errno and the file, for any number of jobs.
TEST_F(TableBatchTest, AnInputThatCannotBeReadCarriesItsRecord) {
  const std::string filing = Filing("apple_10q_2000q1_ex27.txt");
  const std::string missing = PathOf("missing.txt");
  const std::string pipe = PathOf("pipe");
  ASSERT_EQ(::mkfifo(pipe.c_str(), 0600), 0);
  for (const unsigned jobs : {1u, 2u}) {
    m_seen = {};
    ToWrite();
    ASSERT_EQ(Run({filing, missing, pipe, filing + "/"}, jobs), QUORLIX_BATCH_DONE) << jobs;
    ASSERT_EQ(m_seen.rows.size(), 4u);
    EXPECT_EQ(m_seen.rows[0].status, QUORLIX_OK);
    EXPECT_FALSE(m_seen.rows[0].toldFailure);
    const TableRow& gone = m_seen.rows[1];
    EXPECT_EQ(gone.status, QUORLIX_FILING_NOT_FOUND);
    EXPECT_TRUE(gone.toldFailure);
    EXPECT_EQ(gone.failure.status, QUORLIX_FILING_NOT_FOUND);
    EXPECT_EQ(gone.failure.cause, QUORLIX_CAUSE_NOT_FOUND);
    EXPECT_EQ(gone.failure.error_number, ENOENT);
    EXPECT_EQ(gone.failure.file, QUORLIX_FAILED_FILE_INPUT);
    const TableRow& special = m_seen.rows[2];
    EXPECT_NE(special.status, QUORLIX_OK);
    EXPECT_EQ(special.failure.cause, QUORLIX_CAUSE_SPECIAL_FILE);
    EXPECT_EQ(special.failure.file, QUORLIX_FAILED_FILE_INPUT);
    // A file named as a folder: the system's own error, on the input.
    const TableRow& notFolder = m_seen.rows[3];
    EXPECT_NE(notFolder.status, QUORLIX_OK);
    EXPECT_EQ(notFolder.failure.error_number, ENOTDIR);
    EXPECT_EQ(notFolder.failure.file, QUORLIX_FAILED_FILE_INPUT);
  }
}

// The table's file or database is refused as an input, before anything starts,
// and left as it was.
TEST_F(TableBatchTest, AnOutputThatIsAnInputIsRefused) {
  const std::string folder = MakeFolder();
  const std::string input = PathOf("in/c.txt");
  const std::string before = ReadFile(input);
  for (const int to : {QUORLIX_BATCH_TABLE_TO_FILE, QUORLIX_BATCH_TABLE_TO_DATABASE}) {
    m_seen = {};
    m_table = {};
    m_table.to = to;
    m_table.path = input.c_str();
    EXPECT_EQ(Run({folder}), QUORLIX_BATCH_REFUSED) << to;
    EXPECT_EQ(m_seen.refusal, QUORLIX_BATCH_REFUSED_RESERVED_IS_INPUT);
    EXPECT_EQ(m_seen.refusedInput, input);
    EXPECT_EQ(m_seen.refusedOutput, input);
    EXPECT_EQ(m_seen.started, 0u);
    EXPECT_TRUE(m_seen.rows.empty());
    EXPECT_EQ(m_table.status, -1);
  }
  EXPECT_EQ(ReadFile(input), before);
}

// A row callback that asks to stop stops the table: the file is not written.
TEST_F(TableBatchTest, AStopFromARowStopsTheTable) {
  const std::string folder = MakeFolder();
  const std::string output = PathOf("table.csv");
  m_table.to = QUORLIX_BATCH_TABLE_TO_FILE;
  m_table.path = output.c_str();
  m_seen.stopAfterRows = 1;
  EXPECT_EQ(Run({folder}, 2), QUORLIX_BATCH_STOPPED);
  EXPECT_EQ(m_table.status, QUORLIX_SCHEDULES_STOPPED);
  EXPECT_EQ(m_seen.rows.size(), 1u);
  EXPECT_FALSE(fs::exists(output));
  // Not stopped, the file is written whole.
  m_seen = {};
  ASSERT_EQ(Run({folder}, 2), QUORLIX_BATCH_DONE);
  EXPECT_EQ(m_table.status, QUORLIX_SCHEDULES_OK);
  EXPECT_TRUE(ReadFile(output).starts_with("path,member,"));
}

TEST_F(TableBatchTest, TheDatabaseFormCountsItsInputs) {
  const std::string folder = MakeFolder();
  const std::string database = PathOf("table.sqlite");
  QUORLIX_DATABASE_SUMMARY summary{};
  m_table.to = QUORLIX_BATCH_TABLE_TO_DATABASE;
  m_table.path = database.c_str();
  m_table.database_summary = &summary;
  ASSERT_EQ(Run({folder}), QUORLIX_BATCH_DONE);
  EXPECT_EQ(m_table.status, QUORLIX_SCHEDULES_OK) << summary.problem;
  EXPECT_EQ(summary.new_inputs, 3u);
  EXPECT_EQ(m_seen.rows.size(), 3u);
  // Kept up to date: nothing changed, nothing read, no row.
  m_seen = {};
  m_table.database_flags = QUORLIX_DATABASE_UPDATE;
  ASSERT_EQ(Run({folder}), QUORLIX_BATCH_DONE);
  EXPECT_EQ(summary.unchanged_inputs, 3u);
  EXPECT_EQ(summary.new_inputs, 0u);
  EXPECT_TRUE(m_seen.rows.empty());
  // A new input among unchanged ones has the one row, at its place in the walk.
  fs::copy_file(Filing("apple_10q_2000q1_ex27.txt"), PathOf("in/b2.txt"));
  ASSERT_EQ(Run({folder}, 2), QUORLIX_BATCH_DONE);
  EXPECT_EQ(summary.new_inputs, 1u);
  ASSERT_EQ(m_seen.rows.size(), 1u);
  EXPECT_EQ(m_seen.rows[0].index, 2u);
  EXPECT_EQ(m_seen.rows[0].input, PathOf("in/b2.txt"));
  EXPECT_EQ(m_seen.rows[0].toldIndex, 2u);
}

// A table goes with the schedules alone, and whole: else nothing is read.
TEST_F(TableBatchTest, ATableGoesWithTheSchedulesAloneAndWhole) {
  const std::string input = Filing("apple_10q_2000q1_ex27.txt");
  m_table.to = QUORLIX_BATCH_TABLE_TO_FILE;  // and no path
  EXPECT_EQ(Run({input}), QUORLIX_BATCH_BAD_CALL);
  m_table.to = QUORLIX_BATCH_TABLE_TO_WRITE;  // and no write
  EXPECT_EQ(Run({input}), QUORLIX_BATCH_BAD_CALL);
  ToWrite();
  EXPECT_EQ(Run({input}, 1, QUORLIX_BATCH_WALK_DEFAULT, QUORLIX_BATCH_VERIFY), QUORLIX_BATCH_BAD_CALL);
  EXPECT_EQ(m_seen.started, 0u);
  EXPECT_TRUE(m_seen.table.empty());
}

}  // namespace
