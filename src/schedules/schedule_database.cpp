// The schedules in an SQLite database. The run reads the long form as for a CSV
// table, with every row of an input written before the input is reported; the
// caller's thread (the one writer) splits those rows back into fields and
// stores them, with the input's own row, when the input is reported. So an input
// is stored whole in one transaction, and a transaction is closed once it has
// lasted a second: a run killed at any point loses at most the open one.
//
// A new database is built under a temporary name and renamed into place; an
// update writes into the database itself, committing as it goes, so the next
// update goes on from what was committed.
#include "schedules/schedule_database.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <deque>
#include <filesystem>
#include <mutex>
#include <span>
#include <string>
#include <string_view>
#include <thread>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "platform/file.h"
#include "platform/replacing_file.h"
#include "schedules/database_file.h"
#include "schedules/schedule_run.h"
#include "schedules/schedule_table.h"
#include "schedules/tag_dictionary.h"

#ifndef QUORLIX_PRODUCT_VERSION
#error "the build defines QUORLIX_PRODUCT_VERSION"
#endif

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

constexpr auto kLongestTransaction = std::chrono::seconds(1);
// Rows read but not stored yet, at most: the readers wait for the writer beyond it.
constexpr std::size_t kMostQueuedBytes = std::size_t{2} << 20;
// Columns of the long form: 21 fixed ones, then tag, raw, value, scaled, and the marks.
constexpr std::size_t kLongColumns = 26;
constexpr std::size_t kFixedColumns = 21;
constexpr std::size_t kSubmissionColumnsEnd = 10;  // path to fiscal_year_end
constexpr std::size_t kScheduleColumn = 12;

std::string NameText(std::string_view name) {
  std::string text;
  AppendNameText(text, name);
  return text;
}

// ---- Inputs ----

// What --update compares: the file's size and modification time, when it has them.
struct InputStamp {
  bool bKnown = false;
  FileStamp file;
};

InputStamp StampOf(const char* pszPath) {
  InputStamp stamp;
  stamp.bKnown = GetFileStamp(pszPath, stamp.file);
  return stamp;
}

// An input's meaning in words, from its status and counts.
std::string MeaningOf(const QUORLIX_SCHEDULES_INPUT& input) {
  struct StatusWords {
    int nStatus;
    const char* pszWords;
  };
  static constexpr StatusWords kFailures[] = {
      {QUORLIX_FILING_NOT_FOUND, "not found"},
      {QUORLIX_FILING_TOO_MANY_FILES, "too many open files"},
      {QUORLIX_FILING_FILE_ERROR, "cannot be read"},
      {QUORLIX_FILING_DECODE_FAILED, "no memory to read it"},
  };
  if (input.status != QUORLIX_OK) {
    for (const StatusWords& words : kFailures)
      if (words.nStatus == input.status) return words.pszWords;
    return "failed";
  }
  if (input.first_index != input.index) return "names the file of an earlier input";
  if (input.filings == 0) return "not a filing";
  if (input.filings_with_schedules == 0) return "no schedule";
  return "read";
}

// Splits the next record of the long form (RFC 4180, CR LF) off [p, end) into
// fields; a quoted field is unquoted in place, which only ever shortens it.
// False at the end.
bool SplitRecord(char*& p, char* const end, std::array<std::string_view, kLongColumns>& fields) {
  if (p == end) return false;
  std::size_t nField = 0;
  for (;;) {
    char* const pStart = p;
    std::string_view field;
    if (*p == '"') {
      char* pOut = pStart;
      ++p;
      for (;;) {
        if (p == end) throw DatabaseError{"a row of the table ends inside a quoted field"};
        if (*p == '"') {
          if (p + 1 < end && p[1] == '"') {
            *pOut++ = '"';
            p += 2;
            continue;
          }
          ++p;
          break;
        }
        *pOut++ = *p++;
      }
      field = std::string_view(pStart, static_cast<std::size_t>(pOut - pStart));
    } else {
      while (p < end && *p != ',' && *p != '\r' && *p != '\n') ++p;
      field = std::string_view(pStart, static_cast<std::size_t>(p - pStart));
    }
    if (nField < kLongColumns) fields[nField] = field;
    ++nField;
    if (p < end && *p == ',') {
      ++p;
      continue;
    }
    if (p < end && *p == '\r') ++p;
    if (p < end && *p == '\n') ++p;
    break;
  }
  if (nField != kLongColumns) throw DatabaseError{"a row of the table has " + std::to_string(nField) + " fields"};
  return true;
}

// ---- The writer ----

class DatabaseWriter {
 public:
  // chosen maps the run's inputs to the caller's; stamps and known (which the
  // database already holds) are the caller's inputs'.
  DatabaseWriter(Database& db, const char* const* paths, const std::vector<std::size_t>& chosen,
                 const std::vector<InputStamp>& stamps, const std::vector<bool>& known,
                 QUORLIX_DATABASE_SUMMARY& summary, QUORLIX_SCHEDULES_INPUT_FN onInput, void* pInputContext)
      : m_db(db),
        m_paths(paths),
        m_chosen(chosen),
        m_stamps(stamps),
        m_known(known),
        m_summary(summary),
        m_onInput(onInput),
        m_pInputContext(pInputContext),
        m_putSubmission(db.Get(),
                        "INSERT INTO submissions(path, member, accession_number, cik, company, form_type, filed, "
                        "period, sic, fiscal_year_end) VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?)"),
        m_putSchedule(db.Get(),
                      "INSERT INTO schedules(submission_id, path, member, accession_number, cik, company, form_type, "
                      "filed, period, sic, fiscal_year_end, document, description, schedule, article, series, "
                      "series_name, flawed, complete, multiplier, restated, multiplier_source) VALUES (?, ?, ?, ?, "
                      "?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)"),
        m_putFact(db.Get(),
                  "INSERT INTO facts(schedule_id, seq, tag, raw, value, scaled, amount, repeated, cut) VALUES (?, ?, "
                  "?, ?, ?, ?, ?, ?, ?)"),
        m_putUnparsed(db.Get(), "UPDATE schedules SET unparsed = ? WHERE id = ?"),
        m_putInput(db.Get(),
                   "INSERT OR REPLACE INTO inputs(path, size, mtime_ns, status, meaning, problem, packing, members, "
                   "filings, filings_with_schedules, schedule_count, value_count, same_as, read_at, seconds) VALUES "
                   "(?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)") {}

  ~DatabaseWriter() { Finish(); }
  DatabaseWriter(const DatabaseWriter&) = delete;
  DatabaseWriter& operator=(const DatabaseWriter&) = delete;

  // ---- On the caller's thread ----

  static int TakeRows(void* pContext, const char* pData, std::size_t nSize) {
    auto& writer = *static_cast<DatabaseWriter*>(pContext);
    try {
      writer.m_pending.append(pData, nSize);
      return 0;
    } catch (...) {
      writer.m_bCallerNoMemory = true;
      return 1;
    }
  }

  static int TakeInput(void* pContext, const QUORLIX_SCHEDULES_INPUT* pInput) {
    auto& writer = *static_cast<DatabaseWriter*>(pContext);
    try {
      if (!writer.Queue(*pInput)) return 1;
    } catch (...) {
      writer.m_bCallerNoMemory = true;
      return 1;
    }
    QUORLIX_SCHEDULES_INPUT input = *pInput;
    input.index = writer.m_chosen[pInput->index];
    input.first_index = writer.m_chosen[pInput->first_index];
    return writer.m_onInput && writer.m_onInput(writer.m_pInputContext, &input) != 0 ? 1 : 0;
  }

  // Waits for the writer to store what it was given; then the database is the caller's thread's again.
  void Finish() {
    if (!m_thread.joinable()) return;
    {
      const std::lock_guard lock(m_mutex);
      m_bClosing = true;
    }
    m_workReady.notify_all();
    m_thread.join();
  }

  // Commits the inputs stored so far.
  void Commit() {
    if (!m_bInTransaction) return;
    m_db.Exec("COMMIT");
    m_bInTransaction = false;
  }

  // After Finish: what stopped the writer, if anything.
  const std::string& Problem() const { return m_problem; }
  bool NoMemory() const { return m_bNoMemory || m_bCallerNoMemory; }

 private:
  // An input and its rows, as the writer thread gets them.
  struct Work {
    QUORLIX_SCHEDULES_INPUT input;
    std::string problem;
    std::string rows;
  };

  // Hands the input to the writer, waiting while too much is queued; false once the writer has failed.
  bool Queue(const QUORLIX_SCHEDULES_INPUT& input) {
    Work work{input, input.problem ? input.problem : "", std::move(m_pending)};
    work.input.problem = nullptr;
    m_pending.clear();
    std::unique_lock lock(m_mutex);
    m_spaceReady.wait(lock, [this] { return m_bFailed || m_nQueuedBytes < kMostQueuedBytes; });
    if (m_bFailed) return false;
    m_nQueuedBytes += work.rows.size();
    m_queue.push_back(std::move(work));
    m_workReady.notify_one();
    return true;
  }

  // ---- On the writer thread ----

  void Drain() {
    for (;;) {
      Work work;
      {
        std::unique_lock lock(m_mutex);
        m_workReady.wait(lock, [this] { return !m_queue.empty() || m_bClosing; });
        if (m_queue.empty()) return;
        work = std::move(m_queue.front());
        m_queue.pop_front();
      }
      const std::size_t nBytes = work.rows.size();
      try {
        if (!work.problem.empty()) work.input.problem = work.problem.c_str();
        m_rows.swap(work.rows);
        StoreInput(work.input);
      } catch (const DatabaseError& error) {
        Fail(error.problem, false);
        return;
      } catch (...) {
        Fail({}, true);
        return;
      }
      const std::lock_guard lock(m_mutex);
      m_nQueuedBytes -= nBytes;
      m_spaceReady.notify_all();
    }
  }

  void Fail(std::string problem, bool bNoMemory) {
    const std::lock_guard lock(m_mutex);
    m_problem = std::move(problem);
    m_bNoMemory = m_bNoMemory || bNoMemory;
    m_bFailed = true;
    m_spaceReady.notify_all();
  }

  void StoreInput(const QUORLIX_SCHEDULES_INPUT& input) {
    if (!m_bInTransaction) {
      m_db.Exec("BEGIN IMMEDIATE");
      m_bInTransaction = true;
      m_transactionStart = Clock::now();
    }
    const std::size_t nCaller = m_chosen[input.index];
    const std::string path = NameText(m_paths[nCaller]);
    if (m_known[nCaller]) {
      RemoveInputRows(m_db, path);
      ++m_summary.changed_inputs;
    } else {
      ++m_summary.new_inputs;
    }
    StoreRows();
    const InputStamp& stamp = m_stamps[nCaller];
    m_putInput.BindText(1, path);
    if (stamp.bKnown) {
      m_putInput.BindInt(2, stamp.file.nSize);
      m_putInput.BindInt(3, stamp.file.nModifiedNs);
    } else {
      m_putInput.BindNull(2);
      m_putInput.BindNull(3);
    }
    const std::string meaning = MeaningOf(input);
    const std::string firstPath =
        input.first_index != input.index ? NameText(m_paths[m_chosen[input.first_index]]) : std::string();
    const std::string readAt = UtcNow();
    m_putInput.BindInt(4, input.status);
    m_putInput.BindText(5, meaning);
    m_putInput.BindText(6, input.problem ? std::string_view(input.problem) : std::string_view());
    m_putInput.BindInt(7, input.packing);
    m_putInput.BindInt(8, static_cast<std::int64_t>(input.members));
    m_putInput.BindInt(9, static_cast<std::int64_t>(input.filings));
    m_putInput.BindInt(10, static_cast<std::int64_t>(input.filings_with_schedules));
    m_putInput.BindInt(11, static_cast<std::int64_t>(input.schedules));
    m_putInput.BindInt(12, static_cast<std::int64_t>(input.values));
    m_putInput.BindText(13, firstPath);
    m_putInput.BindText(14, readAt);
    m_putInput.BindReal(15, input.seconds);
    m_putInput.Run();
    if (Clock::now() - m_transactionStart >= kLongestTransaction) Commit();
  }

 public:
  // Removes an input's rows and its own row (an update replaces them, a prune drops them).
  static void RemoveInputRows(Database& db, std::string_view path) {
    static constexpr const char* kRemovals[] = {
        "DELETE FROM facts WHERE schedule_id IN (SELECT id FROM schedules WHERE path = ?1)",
        "DELETE FROM schedules WHERE path = ?1",
        "DELETE FROM submissions WHERE path = ?1",
        "DELETE FROM inputs WHERE path = ?1",
    };
    for (const char* pszSql : kRemovals) {
      Statement remove(db.Get(), pszSql);
      remove.BindText(1, path);
      remove.Run();
    }
  }

 private:
  // The rows written since the last input: the reported input's, whole. The
  // first piece starts with the header line.
  void StoreRows() {
    char* p = m_rows.data();
    char* const end = p + m_rows.size();
    if (!m_bHeaderSkipped) {
      char* const pLineEnd = static_cast<char*>(std::memchr(p, '\n', m_rows.size()));
      if (!pLineEnd) return;  // the header is still coming: no rows
      p = pLineEnd + 1;
      m_bHeaderSkipped = true;
    }
    std::array<std::string_view, kLongColumns> fields;
    std::array<std::string_view, kLongColumns> previous;
    bool bFirst = true;
    std::int64_t nSubmission = 0;
    std::int64_t nSchedule = 0;
    std::int64_t nSeq = 0;
    long long nScheduleNumber = 0;
    std::vector<std::string_view>& tagsOfSchedule = m_tagsOfSchedule;
    // The schedule's unparsed list, once its values are in (rarely any).
    const auto endSchedule = [&] {
      if (m_unparsed.empty()) return;
      m_putUnparsed.BindText(1, m_unparsed);
      m_putUnparsed.BindInt(2, nSchedule);
      m_putUnparsed.Run();
      m_unparsed.clear();
    };
    while (SplitRecord(p, end, fields)) {
      // The fixed columns lie side by side in the row: one comparison tells a row of another schedule.
      const auto span = [](const std::array<std::string_view, kLongColumns>& row, std::size_t nFrom, std::size_t nTo) {
        return std::string_view(
            row[nFrom].data(), static_cast<std::size_t>(row[nTo - 1].data() + row[nTo - 1].size() - row[nFrom].data()));
      };
      const auto differ = [&](std::size_t nFrom, std::size_t nTo) {
        return span(fields, nFrom, nTo) != span(previous, nFrom, nTo);
      };
      const bool bNewSchedule = bFirst || differ(1, kFixedColumns);
      if (bNewSchedule) {
        endSchedule();
        long long nNumber = 0;
        const std::string_view number = fields[kScheduleColumn];
        std::from_chars(number.data(), number.data() + number.size(), nNumber);
        // Schedule numbers rise through a submission: one that does not starts another.
        if (bFirst || differ(1, kSubmissionColumnsEnd) || nNumber <= nScheduleNumber) {
          for (std::size_t i = 0; i < kSubmissionColumnsEnd; ++i)
            m_putSubmission.BindText(static_cast<int>(i + 1), fields[i]);
          m_putSubmission.Run();
          nSubmission = sqlite3_last_insert_rowid(m_db.Get());
        }
        nScheduleNumber = nNumber;
        m_putSchedule.BindInt(1, nSubmission);
        for (std::size_t i = 0; i < kFixedColumns; ++i) m_putSchedule.BindText(static_cast<int>(i + 2), fields[i]);
        m_putSchedule.Run();
        nSchedule = sqlite3_last_insert_rowid(m_db.Get());
        nSeq = 0;
        tagsOfSchedule.clear();
      }
      const std::string_view scaled = fields[24];
      double dAmount = 0;
      const std::from_chars_result parsed = std::from_chars(scaled.data(), scaled.data() + scaled.size(), dAmount);
      m_putFact.BindInt(1, nSchedule);
      m_putFact.BindInt(2, ++nSeq);
      m_putFact.BindText(3, fields[21]);
      m_putFact.BindText(4, fields[22]);
      m_putFact.BindText(5, fields[23]);
      m_putFact.BindText(6, scaled);
      // Beyond a double's range there is no amount, only the exact text.
      if (!scaled.empty() && parsed.ec == std::errc() && std::isfinite(dAmount)) m_putFact.BindReal(7, dAmount);
      else m_putFact.BindNull(7);
      // Few tags a schedule, seldom repeated: a look through them beats hashing each.
      const bool bRepeated = std::ranges::find(tagsOfSchedule, fields[21]) != tagsOfSchedule.end();
      if (!bRepeated) tagsOfSchedule.push_back(fields[21]);
      m_putFact.BindInt(8, bRepeated ? 1 : 0);
      const std::string_view marks = fields[25];
      m_putFact.BindInt(9, marks.find('c') != std::string_view::npos ? 1 : 0);
      m_putFact.Run();
      if (marks.find('u') != std::string_view::npos) {
        if (!m_unparsed.empty()) m_unparsed += "; ";
        m_unparsed += fields[21];
        m_unparsed += '=';
        m_unparsed += fields[22];
      }
      previous = fields;
      bFirst = false;
    }
    endSchedule();
    m_rows.clear();
  }

  Database& m_db;
  const char* const* m_paths;
  const std::vector<std::size_t>& m_chosen;
  const std::vector<InputStamp>& m_stamps;
  const std::vector<bool>& m_known;
  QUORLIX_DATABASE_SUMMARY& m_summary;
  QUORLIX_SCHEDULES_INPUT_FN m_onInput;
  void* m_pInputContext;
  Statement m_putSubmission;
  Statement m_putSchedule;
  Statement m_putFact;
  Statement m_putUnparsed;
  Statement m_putInput;
  // The caller's thread's.
  std::string m_pending;  // rows of the input not reported yet
  bool m_bCallerNoMemory = false;

  std::mutex m_mutex;
  std::condition_variable m_workReady;
  std::condition_variable m_spaceReady;
  std::deque<Work> m_queue;
  std::size_t m_nQueuedBytes = 0;
  bool m_bClosing = false;
  bool m_bFailed = false;
  bool m_bNoMemory = false;
  std::string m_problem;

  // The writer thread's.
  std::string m_rows;
  std::vector<std::string_view> m_tagsOfSchedule;  // in the schedule being stored
  std::string m_unparsed;                          // its values the wide form lists in unparsed
  bool m_bHeaderSkipped = false;
  bool m_bInTransaction = false;
  Clock::time_point m_transactionStart;

  std::thread m_thread{[this] { Drain(); }};  // last: it starts once everything above is made
};

// ---- The call ----

void RemoveDatabaseFiles(const std::string& path) {
  for (const char* pszSuffix : {"", "-wal", "-shm", "-journal"}) std::remove((path + pszSuffix).c_str());
}

// A new, empty file beside path under a temporary name, for SQLite to open as a
// new database; returns its path. A link at path is replaced, not followed.
const std::string& ReserveTemporary(CReplacingFile& file, const std::string& path) {
  if (const int nError = file.CreateClosed(path, false); nError != 0)
    throw DatabaseError{"cannot create " + QuotedFileName(file.TemporaryPath().empty() ? path : file.TemporaryPath()) +
                        ": " + std::strerror(nError)};
  return file.TemporaryPath();
}

// Renames the closed database into place.
void PutInPlace(CReplacingFile& file, const std::string& path) {
  if (const int nError = file.Commit(); nError != 0)
    throw DatabaseError{"cannot rename the database into place as " + QuotedFileName(path) + ": " +
                        std::strerror(nError)};
}

// Reads the chosen inputs into the open database and, with prune, drops the inputs the list no longer names.
int FillDatabase(Database& db, const char* const* paths, std::size_t count, const std::vector<InputStamp>& allStamps,
                 unsigned nJobs, bool bUpdate, bool bPrune, QUORLIX_DATABASE_SUMMARY& summary,
                 QUORLIX_SCHEDULES_INPUT_FN onInput, void* pInputContext) {
  std::vector<bool> held(count, false);
  std::vector<bool> unchanged(count, false);
  std::vector<std::string> gone;
  if (bUpdate) {
    // Keyed by the inputs' names as stored: most are their paths as they stand.
    std::deque<std::string> escapedNames;
    std::unordered_map<std::string_view, std::size_t> indexOfPath;
    indexOfPath.reserve(count);
    std::string name;
    for (std::size_t i = 0; i < count; ++i) {
      const std::string_view path(paths[i]);
      name.clear();
      AppendNameText(name, path);
      indexOfPath.emplace(name == path ? path : std::string_view(escapedNames.emplace_back(name)), i);
    }
    Statement list(db.Get(), "SELECT path, size, mtime_ns FROM inputs");
    while (list.Step()) {
      const auto it = indexOfPath.find(list.Text(0));
      if (it == indexOfPath.end()) {
        gone.emplace_back(list.Text(0));
        continue;
      }
      const InputStamp& stamp = allStamps[it->second];
      held[it->second] = true;
      unchanged[it->second] = stamp.bKnown && !list.IsNull(1) && !list.IsNull(2) && list.Int(1) == stamp.file.nSize &&
                              list.Int(2) == stamp.file.nModifiedNs;
    }
  }
  std::vector<std::size_t> chosen;
  std::vector<const char*> chosenPaths;
  for (std::size_t i = 0; i < count; ++i) {
    if (unchanged[i]) {
      ++summary.unchanged_inputs;
      continue;
    }
    chosen.push_back(i);
    chosenPaths.push_back(paths[i]);
  }

  TableSettings settings;
  settings.form = TableForm::kLong;
  settings.bRowsBeforeReport = true;
  settings.bMarksColumn = true;
  DatabaseWriter writer(db, paths, chosen, allStamps, held, summary, onInput, pInputContext);
  const int nStatus = WriteScheduleTable(chosenPaths.data(), chosenPaths.size(), settings, nJobs,
                                         DatabaseWriter::TakeRows, &writer, DatabaseWriter::TakeInput, &writer);
  writer.Finish();
  if (!writer.Problem().empty()) throw DatabaseError{writer.Problem()};
  if (writer.NoMemory()) throw std::bad_alloc();
  writer.Commit();
  if (nStatus != QUORLIX_SCHEDULES_OK) return nStatus;

  if (bPrune && !gone.empty()) {
    db.Exec("BEGIN IMMEDIATE");
    for (const std::string& path : gone) DatabaseWriter::RemoveInputRows(db, path);
    db.Exec("COMMIT");
    summary.pruned_inputs = gone.size();
  }
  db.Exec("BEGIN IMMEDIATE");
  WriteMeta(db, "library_version", QUORLIX_PRODUCT_VERSION);
  WriteMeta(db, "written_at", UtcNow());
  db.Exec("COMMIT");
  return QUORLIX_SCHEDULES_OK;
}

// An empty Quorlix database at path, with every table, index and view, put in place whole.
void CreateEmptyDatabase(const std::string& path) {
  CReplacingFile file;
  const std::string& temporary = ReserveTemporary(file, path);
  try {
    {
      Database db(temporary, SQLITE_OPEN_READWRITE);
      db.Exec("PRAGMA page_size=16384; PRAGMA journal_mode=WAL");
      CreateLayout(db, true);
      if (!db.Close()) throw DatabaseError{"cannot close " + QuotedFileName(temporary)};
    }
    PutInPlace(file, path);
  } catch (...) {
    file.Abandon();
    RemoveDatabaseFiles(temporary);
    throw;
  }
}

int WriteDatabase(const char* const* paths, std::size_t count, unsigned nJobs, int nFlags, const std::string& path,
                  QUORLIX_DATABASE_SUMMARY& summary, QUORLIX_SCHEDULES_INPUT_FN onInput, void* pInputContext) {
  const bool bUpdate = (nFlags & QUORLIX_DATABASE_UPDATE) != 0;
  const bool bPrune = (nFlags & QUORLIX_DATABASE_PRUNE) != 0;
  std::error_code error;
  const fs::file_status status = fs::status(path, error);
  const bool bExists = !error && fs::exists(status);
  if (bExists && !fs::is_regular_file(status))
    throw DatabaseError{QuotedFileName(path) + " is no regular file: a database cannot go there"};
  std::vector<InputStamp> stamps(count);
  CFileStamper stamper;
  for (std::size_t i = 0; i < count; ++i) stamps[i].bKnown = stamper.Get(paths[i], stamps[i].file);
  // Writing over an input would lose it.
  if (const InputStamp target = StampOf(path.c_str()); target.bKnown) {
    for (const InputStamp& stamp : stamps)
      if (stamp.bKnown && stamp.file.key == target.file.key) return QUORLIX_SCHEDULES_BAD_ARGUMENT;
  }
  // Only a Quorlix database of a format this library knows is written into or replaced.
  if (bExists && (bUpdate || IsSqliteFile(path))) {
    Database db(path, SQLITE_OPEN_READONLY);
    CheckQuorlixDatabase(db, path);
  }

  if (bUpdate) {
    // A new database gets its layout under another name first, so that a run
    // killed at once leaves no database without it (which the next would refuse).
    if (!bExists) CreateEmptyDatabase(path);
    Database db(path, SQLITE_OPEN_READWRITE);
    db.Exec("PRAGMA journal_mode=WAL; PRAGMA synchronous=NORMAL");
    db.Exec(kCacheSizePragma);
    // Again, now that it is ours to write: another may have made it meanwhile.
    UpgradeDatabase(db, CheckQuorlixDatabase(db, path));
    const int nStatus = FillDatabase(db, paths, count, stamps, nJobs, true, bPrune, summary, onInput, pInputContext);
    if (!db.Close()) throw DatabaseError{"cannot close " + QuotedFileName(path)};
    return nStatus;
  }

  CReplacingFile file;
  const std::string& temporary = ReserveTemporary(file, path);
  int nStatus = QUORLIX_SCHEDULES_OUTPUT_ERROR;
  try {
    Database db(temporary, SQLITE_OPEN_READWRITE);
    // The file is only renamed into place whole, so nothing need survive a crash here: no journal.
    // Pages of 16 KiB (set before the first table, like every new database's) take the rows in a
    // third less time than SQLite's 4 KiB.
    db.Exec("PRAGMA page_size=16384; PRAGMA journal_mode=OFF; PRAGMA locking_mode=EXCLUSIVE; PRAGMA synchronous=OFF");
    db.Exec(kCacheSizePragma);
    CreateLayout(db, false);
    nStatus = FillDatabase(db, paths, count, stamps, nJobs, false, false, summary, onInput, pInputContext);
    if (nStatus == QUORLIX_SCHEDULES_OK) {
      CreateIndexes(db);
      // Readers of the finished database query while later updates write.
      db.Exec("PRAGMA synchronous=NORMAL; PRAGMA journal_mode=WAL");
      if (!db.Close()) throw DatabaseError{"cannot close " + QuotedFileName(temporary)};
      // The replaced database's WAL must not be read as the new one's.
      for (const char* pszSuffix : {"-wal", "-shm"}) std::remove((path + pszSuffix).c_str());
      PutInPlace(file, path);
      return QUORLIX_SCHEDULES_OK;
    }
  } catch (...) {
    file.Abandon();
    RemoveDatabaseFiles(temporary);
    throw;
  }
  file.Abandon();
  RemoveDatabaseFiles(temporary);
  return nStatus;
}

}  // namespace

int WriteScheduleDatabase(const char* const* paths, std::size_t count, unsigned nJobs, int nFlags,
                          const char* pszDatabasePath, QUORLIX_DATABASE_SUMMARY& summary,
                          QUORLIX_SCHEDULES_INPUT_FN onInput, void* pInputContext) {
  return WithDatabaseProblem(summary, [&] {
    return WriteDatabase(paths, count, nJobs, nFlags, pszDatabasePath, summary, onInput, pInputContext);
  });
}
