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

#include <sqlite3.h>

#include <algorithm>
#include <array>
#include <charconv>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <ctime>
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
#include "schedules/schedule_panel.h"
#include "schedules/schedule_run.h"
#include "schedules/schedule_table.h"
#include "schedules/tag_dictionary.h"

#ifndef QUORLIX_PRODUCT_VERSION
#error "the build defines QUORLIX_PRODUCT_VERSION"
#endif

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

// The layout written here; a database of a higher number is refused. Format 1
// had no facts.cut nor schedules.unparsed: an update adds them (0 and NULL for
// the rows it holds, as format 1 read them).
constexpr int kFormatVersion = 2;
constexpr auto kLongestTransaction = std::chrono::seconds(1);
// SQLite's page cache, and the memory an index's sort keeps before it spills to
// a file: the rows go in in key order, so a modest one costs little time and
// keeps the memory the same however many inputs there are.
constexpr const char* kCacheSizePragma = "PRAGMA cache_size=-8192";
// Rows read but not stored yet, at most: the readers wait for the writer beyond it.
constexpr std::size_t kMostQueuedBytes = std::size_t{2} << 20;
// Columns of the long form: 21 fixed ones, then tag, raw, value, scaled, and the marks.
constexpr std::size_t kLongColumns = 26;
constexpr std::size_t kFixedColumns = 21;
constexpr std::size_t kSubmissionColumnsEnd = 10;  // path to fiscal_year_end
constexpr std::size_t kScheduleColumn = 12;

// An SQLite failure, with its words.
struct DatabaseError {
  std::string problem;
};
// A file that this library must not write into.
struct DatabaseRefused {
  std::string problem;
};

std::string NameText(std::string_view name) {
  std::string text;
  AppendNameText(text, name);
  return text;
}

// A file's name as messages write it: as text, between single quotes.
std::string QuotedFileName(std::string_view name) {
  std::string text = "'";
  AppendNameText(text, name);
  text += '\'';
  return text;
}

// ---- SQLite, thinly ----

class Statement {
 public:
  Statement(sqlite3* pDb, std::string_view sql) : m_pDb(pDb) {
    if (sqlite3_prepare_v2(pDb, sql.data(), static_cast<int>(sql.size()), &m_pStmt, nullptr) != SQLITE_OK)
      throw DatabaseError{sqlite3_errmsg(pDb)};
  }
  ~Statement() { sqlite3_finalize(m_pStmt); }
  Statement(const Statement&) = delete;
  Statement& operator=(const Statement&) = delete;

  // An empty field is NULL; the text must live until the statement has run.
  void BindText(int nColumn, std::string_view text) {
    Check(text.empty()
              ? sqlite3_bind_null(m_pStmt, nColumn)
              : sqlite3_bind_text(m_pStmt, nColumn, text.data(), static_cast<int>(text.size()), SQLITE_STATIC));
  }
  void BindInt(int nColumn, std::int64_t n) { Check(sqlite3_bind_int64(m_pStmt, nColumn, n)); }
  void BindReal(int nColumn, double d) { Check(sqlite3_bind_double(m_pStmt, nColumn, d)); }
  void BindNull(int nColumn) { Check(sqlite3_bind_null(m_pStmt, nColumn)); }

  // Runs a statement that gives no rows, and readies it for the next.
  void Run() {
    const int nResult = sqlite3_step(m_pStmt);
    sqlite3_reset(m_pStmt);
    if (nResult != SQLITE_DONE && nResult != SQLITE_ROW) throw DatabaseError{sqlite3_errmsg(m_pDb)};
  }
  // The next row; false at the end (the statement is then ready to run again).
  bool Step() {
    const int nResult = sqlite3_step(m_pStmt);
    if (nResult == SQLITE_ROW) return true;
    sqlite3_reset(m_pStmt);
    if (nResult != SQLITE_DONE) throw DatabaseError{sqlite3_errmsg(m_pDb)};
    return false;
  }
  std::string_view Text(int nColumn) const {
    const auto* const p = reinterpret_cast<const char*>(sqlite3_column_text(m_pStmt, nColumn));
    return p ? std::string_view(p, static_cast<std::size_t>(sqlite3_column_bytes(m_pStmt, nColumn)))
             : std::string_view();
  }
  std::int64_t Int(int nColumn) const { return sqlite3_column_int64(m_pStmt, nColumn); }
  bool IsNull(int nColumn) const { return sqlite3_column_type(m_pStmt, nColumn) == SQLITE_NULL; }

 private:
  void Check(int nResult) const {
    if (nResult != SQLITE_OK) throw DatabaseError{sqlite3_errmsg(m_pDb)};
  }

  sqlite3* m_pDb;
  sqlite3_stmt* m_pStmt = nullptr;
};

class Database {
 public:
  Database(const std::string& path, int nOpenFlags) {
    const int nResult = sqlite3_open_v2(path.c_str(), &m_pDb, nOpenFlags | SQLITE_OPEN_NOMUTEX, nullptr);
    if (nResult != SQLITE_OK) {
      const std::string problem = m_pDb ? sqlite3_errmsg(m_pDb) : sqlite3_errstr(nResult);
      sqlite3_close_v2(m_pDb);
      throw DatabaseError{"cannot open " + QuotedFileName(path) + ": " + problem};
    }
    sqlite3_busy_timeout(m_pDb, 10000);  // a reader's checkpoint or another update, briefly
  }
  ~Database() { Close(); }
  Database(const Database&) = delete;
  Database& operator=(const Database&) = delete;

  sqlite3* Get() const { return m_pDb; }
  void Exec(const std::string& sql) {
    char* pszError = nullptr;
    if (sqlite3_exec(m_pDb, sql.c_str(), nullptr, nullptr, &pszError) != SQLITE_OK) {
      const std::string problem = pszError ? pszError : sqlite3_errmsg(m_pDb);
      sqlite3_free(pszError);
      throw DatabaseError{problem};
    }
  }
  // Closes the file (a WAL database is checkpointed, its -wal file removed); false when that failed.
  bool Close() {
    const bool bClosed = sqlite3_close(m_pDb) == SQLITE_OK;
    if (!bClosed) sqlite3_close_v2(m_pDb);  // statements still open: closed when they are
    m_pDb = nullptr;
    return bClosed;
  }

 private:
  sqlite3* m_pDb = nullptr;
};

// ---- The layout ----

constexpr const char* kTablesSql = R"sql(
CREATE TABLE quorlix_meta(key TEXT PRIMARY KEY, value TEXT NOT NULL) WITHOUT ROWID;
CREATE TABLE inputs(path TEXT PRIMARY KEY, size INTEGER, mtime_ns INTEGER, status INTEGER NOT NULL,
  meaning TEXT NOT NULL, problem TEXT, packing INTEGER, members INTEGER, filings INTEGER,
  filings_with_schedules INTEGER, schedule_count INTEGER, value_count INTEGER, same_as TEXT,
  read_at TEXT NOT NULL, seconds REAL);
CREATE TABLE submissions(id INTEGER PRIMARY KEY, path TEXT NOT NULL, member TEXT, accession_number TEXT,
  cik INTEGER, company TEXT, form_type TEXT, filed TEXT, period TEXT, sic INTEGER, fiscal_year_end TEXT);
CREATE TABLE schedules(id INTEGER PRIMARY KEY, submission_id INTEGER NOT NULL REFERENCES submissions(id),
  path TEXT NOT NULL, member TEXT, accession_number TEXT, cik INTEGER, company TEXT, form_type TEXT, filed TEXT,
  period TEXT, sic INTEGER, fiscal_year_end TEXT, document TEXT, description TEXT, schedule INTEGER, article TEXT,
  series TEXT, series_name TEXT, flawed INTEGER, complete INTEGER, multiplier TEXT, restated INTEGER,
  multiplier_source TEXT, unparsed TEXT);
CREATE TABLE facts(schedule_id INTEGER NOT NULL REFERENCES schedules(id), seq INTEGER NOT NULL, tag TEXT NOT NULL,
  raw TEXT, value TEXT, scaled TEXT, amount REAL, repeated INTEGER NOT NULL, cut INTEGER NOT NULL DEFAULT 0,
  PRIMARY KEY(schedule_id, seq)) WITHOUT ROWID;
CREATE TABLE tag_dictionary(article TEXT NOT NULL, tag TEXT NOT NULL, kind TEXT NOT NULL, label TEXT,
  concept TEXT, PRIMARY KEY(article, tag)) WITHOUT ROWID;
)sql";

// Made after a new database's rows, which go in faster without them.
constexpr const char* kIndexesSql = R"sql(
CREATE INDEX IF NOT EXISTS submissions_cik ON submissions(cik);
CREATE INDEX IF NOT EXISTS submissions_accession_number ON submissions(accession_number);
CREATE INDEX IF NOT EXISTS submissions_path ON submissions(path);
CREATE INDEX IF NOT EXISTS schedules_cik ON schedules(cik);
CREATE INDEX IF NOT EXISTS schedules_accession_number ON schedules(accession_number);
CREATE INDEX IF NOT EXISTS schedules_path ON schedules(path);
CREATE INDEX IF NOT EXISTS facts_tag ON facts(tag);
)sql";

constexpr const char* kScalingRule =
    "scaled is the number times the multiplier, exactly, for tags of kind stock, flow or shares, and the number "
    "unscaled for the other kinds; a tag outside the dictionary is unscaled when it contains PER-SHARE, has a word "
    "EPS, RATIO, NAV, YIELD or RATE, is Article 6's RETURNS-OF-CAPITAL or is CIK, and scaled otherwise; empty for "
    "ARTICLE, MULTIPLIER, what is no number, and amounts whose multiplier is unreadable";
constexpr const char* kMultiplierRule =
    "the number of the schedule's first MULTIPLIER line, also in words (THOUSAND(S), 1,000'S, 1,000S and $1,000 "
    "are 1000, MILLION(S) 1000000); 1 without one; unreadable when 0, negative, longer than 40 digits, no number, "
    "or on a last line no line end closed";

// text between quote marks, each quote mark in it doubled: an SQL name ('"') or string ('\'').
std::string Quoted(std::string_view text, char quote) {
  std::string quoted;
  quoted.reserve(text.size() + 2);
  quoted.push_back(quote);
  for (const char c : text) {
    if (c == quote) quoted.push_back(quote);
    quoted.push_back(c);
  }
  quoted.push_back(quote);
  return quoted;
}
std::string QuotedName(std::string_view name) { return Quoted(name, '"'); }
std::string QuotedText(std::string_view text) { return Quoted(text, '\''); }

std::string LowerCase(std::string_view name) {
  std::string lower(name);
  std::ranges::transform(lower, lower.begin(), [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return lower;
}

// The fixed columns' names, as the CSV forms write them.
std::vector<std::string> FixedColumnNames() {
  std::string names;
  AppendFixedColumnNames(names);
  std::vector<std::string> columns;
  for (std::size_t nStart = 0; nStart <= names.size();) {
    const std::size_t nComma = std::min(names.find(',', nStart), names.size());
    columns.emplace_back(names.substr(nStart, nComma - nStart));
    nStart = nComma + 1;
  }
  return columns;
}

// The view of one article's schedules: the fixed columns and unparsed, then a column per tag
// of the dictionary. A tag's column keeps the tag's name unless that name is a
// fixed column's in some case, when it takes "_tag" (tags hold no '_', so the
// suffix meets no other tag's name).
std::string ViewSql(std::string_view article, std::span<const TagEntry> entries) {
  const std::vector<std::string> fixed = FixedColumnNames();
  std::unordered_set<std::string> used{"schedule_id"};
  std::string sql = "CREATE VIEW " + QuotedName("wide_" + LowerCase(article)) + " AS SELECT s.id AS schedule_id";
  for (const std::string& column : fixed) {
    used.insert(LowerCase(column));
    sql += ", s." + QuotedName(column);
  }
  used.insert("unparsed");
  sql += ", s.unparsed";
  for (const TagEntry& entry : entries) {
    if (entry.article != article) continue;
    std::string name(entry.tag);
    while (used.contains(LowerCase(name))) name += "_tag";
    used.insert(LowerCase(name));
    const char* const pszCell = IsNumberKind(entry.kind) ? "amount" : entry.kind == TagKind::kDate ? "value" : "raw";
    sql += ", MAX(CASE WHEN f.tag = " + QuotedText(entry.tag) + " THEN f." + pszCell + " END) AS " + QuotedName(name);
  }
  sql +=
      " FROM schedules s LEFT JOIN facts f ON f.schedule_id = s.id AND f.repeated = 0 WHERE ltrim(upper(s.article), "
      "'0') = " +
      QuotedText(article) + " GROUP BY s.id;\n";
  return sql;
}

std::string UtcNow() {
  const std::time_t now = std::time(nullptr);
  std::tm utc{};
  gmtime_r(&now, &utc);
  char text[32];
  std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &utc);
  return text;
}

void WriteMeta(Database& db, std::string_view key, std::string_view value) {
  Statement put(db.Get(), "INSERT OR REPLACE INTO quorlix_meta(key, value) VALUES (?, ?)");
  put.BindText(1, key);
  put.BindText(2, value);
  put.Run();
}

// A view per article, made anew.
void CreateViews(Database& db) {
  const std::span<const TagEntry> entries = TagEntries();
  std::vector<std::string_view> articles;
  for (const TagEntry& entry : entries)
    if (std::ranges::find(articles, entry.article) == articles.end()) articles.push_back(entry.article);
  for (const std::string_view article : articles) {
    db.Exec("DROP VIEW IF EXISTS " + QuotedName("wide_" + LowerCase(article)));
    db.Exec(ViewSql(article, entries));
  }
}

// The tables, the dictionary and the views of a new database, in one transaction.
void CreateLayout(Database& db, bool bWithIndexes) {
  db.Exec("BEGIN");
  db.Exec(kTablesSql);
  if (bWithIndexes) db.Exec(kIndexesSql);
  const std::span<const TagEntry> entries = TagEntries();
  {
    Statement put(db.Get(), "INSERT INTO tag_dictionary(article, tag, kind, label, concept) VALUES (?, ?, ?, ?, ?)");
    for (const TagEntry& entry : entries) {
      put.BindText(1, entry.article);
      put.BindText(2, entry.tag);
      put.BindText(3, KindName(entry.kind));
      put.BindText(4, entry.label);
      put.BindText(5, ConceptName(entry.tagConcept));
      put.Run();
    }
  }
  CreateViews(db);
  WriteMeta(db, "format_version", std::to_string(kFormatVersion));
  WriteMeta(db, "scaling_rule", kScalingRule);
  WriteMeta(db, "multiplier_rule", kMultiplierRule);
  WriteMeta(db, "created_at", UtcNow());
  db.Exec("COMMIT");
}

// Refuses a database that this library did not write, or that a newer one did; its format.
std::int64_t CheckQuorlixDatabase(Database& db, const std::string& path) {
  const std::string name = QuotedFileName(path);
  std::int64_t nFormat = 0;
  try {
    Statement get(db.Get(), "SELECT value FROM quorlix_meta WHERE key = 'format_version'");
    if (!get.Step()) throw DatabaseRefused{name + " has no format version in quorlix_meta: no Quorlix database"};
    nFormat = get.Int(0);
    get.Step();
  } catch (const DatabaseError&) {
    if (sqlite3_errcode(db.Get()) == SQLITE_NOTADB) throw DatabaseRefused{name + " is no SQLite database"};
    throw DatabaseRefused{name + " has no quorlix_meta table: no Quorlix database"};
  }
  if (nFormat > kFormatVersion)
    throw DatabaseRefused{name + " is of database format " + std::to_string(nFormat) + ", newer than this library's " +
                          std::to_string(kFormatVersion)};
  if (nFormat < 1) throw DatabaseRefused{name + " has no readable format version in quorlix_meta"};
  return nFormat;
}

// Brings a database of an older format to this one, in one transaction.
void UpgradeDatabase(Database& db, std::int64_t nFormat) {
  if (nFormat >= kFormatVersion) return;
  db.Exec("BEGIN IMMEDIATE");
  db.Exec(
      "ALTER TABLE facts ADD COLUMN cut INTEGER NOT NULL DEFAULT 0; ALTER TABLE schedules ADD COLUMN unparsed TEXT");
  CreateViews(db);  // with unparsed
  WriteMeta(db, "format_version", std::to_string(kFormatVersion));
  db.Exec("COMMIT");
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

bool IsSqliteFile(const std::string& path) {
  std::FILE* const pFile = std::fopen(path.c_str(), "rb");
  if (!pFile) return false;
  char header[16] = {};
  const bool bSqlite = std::fread(header, 1, sizeof header, pFile) == sizeof header &&
                       std::memcmp(header, "SQLite format 3", sizeof header) == 0;
  std::fclose(pFile);
  return bSqlite;
}

void RemoveDatabaseFiles(const std::string& path) {
  for (const char* pszSuffix : {"", "-wal", "-shm", "-journal"}) std::remove((path + pszSuffix).c_str());
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

void CopyProblem(QUORLIX_DATABASE_SUMMARY& summary, std::string_view problem) {
  const std::size_t nCopied = std::min(problem.size(), sizeof summary.problem - 1);
  std::memcpy(summary.problem, problem.data(), nCopied);
  summary.problem[nCopied] = '\0';
}

// An empty Quorlix database at path, with every table, index and view, put in place whole.
void CreateEmptyDatabase(const std::string& path) {
  const std::string temporary = TemporaryNameFor(path);
  try {
    {
      Database db(temporary, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_EXCLUSIVE);
      db.Exec("PRAGMA page_size=16384; PRAGMA journal_mode=WAL");
      CreateLayout(db, true);
      if (!db.Close()) throw DatabaseError{"cannot close " + QuotedFileName(temporary)};
    }
    if (std::rename(temporary.c_str(), path.c_str()) != 0)
      throw DatabaseError{"cannot rename the database into place as " + QuotedFileName(path) + ": " +
                          std::strerror(errno)};
  } catch (...) {
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

  const std::string temporary = TemporaryNameFor(path);
  int nStatus = QUORLIX_SCHEDULES_OUTPUT_ERROR;
  try {
    Database db(temporary, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_EXCLUSIVE);
    // The file is only renamed into place whole, so nothing need survive a crash here: no journal.
    // Pages of 16 KiB (set before the first table, like every new database's) take the rows in a
    // third less time than SQLite's 4 KiB.
    db.Exec("PRAGMA page_size=16384; PRAGMA journal_mode=OFF; PRAGMA locking_mode=EXCLUSIVE; PRAGMA synchronous=OFF");
    db.Exec(kCacheSizePragma);
    CreateLayout(db, false);
    nStatus = FillDatabase(db, paths, count, stamps, nJobs, false, false, summary, onInput, pInputContext);
    if (nStatus == QUORLIX_SCHEDULES_OK) {
      db.Exec(kIndexesSql);
      // Readers of the finished database query while later updates write.
      db.Exec("PRAGMA synchronous=NORMAL; PRAGMA journal_mode=WAL");
      if (!db.Close()) throw DatabaseError{"cannot close " + QuotedFileName(temporary)};
      // The replaced database's WAL must not be read as the new one's.
      for (const char* pszSuffix : {"-wal", "-shm"}) std::remove((path + pszSuffix).c_str());
      if (std::rename(temporary.c_str(), path.c_str()) != 0)
        throw DatabaseError{"cannot rename the database into place as " + QuotedFileName(path) + ": " +
                            std::strerror(errno)};
      return QUORLIX_SCHEDULES_OK;
    }
  } catch (...) {
    RemoveDatabaseFiles(temporary);
    throw;
  }
  RemoveDatabaseFiles(temporary);
  return nStatus;
}

}  // namespace

int WriteScheduleDatabase(const char* const* paths, std::size_t count, unsigned nJobs, int nFlags,
                          const char* pszDatabasePath, QUORLIX_DATABASE_SUMMARY& summary,
                          QUORLIX_SCHEDULES_INPUT_FN onInput, void* pInputContext) {
  summary = {};
  try {
    return WriteDatabase(paths, count, nJobs, nFlags, pszDatabasePath, summary, onInput, pInputContext);
  } catch (const DatabaseRefused& refused) {
    CopyProblem(summary, refused.problem);
    return QUORLIX_SCHEDULES_DATABASE_REFUSED;
  } catch (const DatabaseError& failure) {
    CopyProblem(summary, failure.problem);
    return QUORLIX_SCHEDULES_OUTPUT_ERROR;
  }
}

// ---- The panel of a database ----

namespace {

// Text as the table wrote it (UTF-8 from Windows-1252 filing bytes) back as the
// filing's bytes, so the panel writes it again as it was.
void AppendFilingBytes(std::string& out, std::string_view text) {
  static const std::unordered_map<char32_t, unsigned char> kByteOfCodePoint = [] {
    std::unordered_map<char32_t, unsigned char> map;
    for (unsigned b = 0x80; b <= 0xFF; ++b) map.emplace(CodePointOfFilingByte(static_cast<unsigned char>(b)), b);
    return map;
  }();
  for (std::size_t i = 0; i < text.size();) {
    const auto b = static_cast<unsigned char>(text[i]);
    const std::size_t nLength = b < 0x80 ? 1 : b >= 0xF0 ? 4 : b >= 0xE0 ? 3 : b >= 0xC0 ? 2 : 1;
    if (nLength == 1 || i + nLength > text.size()) {
      out += static_cast<char>(b);
      ++i;
      continue;
    }
    char32_t codePoint = b & (0xFF >> (nLength + 1));
    for (std::size_t k = 1; k < nLength; ++k)
      codePoint = (codePoint << 6) | (static_cast<unsigned char>(text[i + k]) & 0x3F);
    const auto it = kByteOfCodePoint.find(codePoint);
    if (it != kByteOfCodePoint.end()) out += static_cast<char>(it->second);
    else out.append(text.substr(i, nLength));
    i += nLength;
  }
}

class PieceWriter final : public ChunkSink {
 public:
  PieceWriter(QUORLIX_WRITE_FN write, void* pContext) : m_write(write), m_pContext(pContext) {}
  void TakeChunk(std::string& chunk) override {
    for (std::size_t nDone = 0; nDone < chunk.size() && !m_bFailed; nDone += kTablePieceBytes) {
      try {
        m_bFailed = m_write(m_pContext, chunk.data() + nDone, std::min(kTablePieceBytes, chunk.size() - nDone)) != 0;
      } catch (...) {
        m_bFailed = m_bThrew = true;
      }
    }
    chunk.clear();
  }
  bool Failed() const { return m_bFailed; }
  int FailedStatus() const { return m_bThrew ? QUORLIX_SCHEDULES_CALLBACK_FAILED : QUORLIX_SCHEDULES_OUTPUT_ERROR; }

 private:
  QUORLIX_WRITE_FN m_write;
  void* m_pContext;
  bool m_bFailed = false;
  bool m_bThrew = false;
};

// Each input's schedules, in the order they were stored, handed to the panel as
// the reader would have: a document per schedule, under its submission's header.
int FeedPanel(Database& db, std::int64_t nFormat, const TableSettings& settings, ChunkSink& out) {
  std::vector<std::string> paths;
  {
    Statement list(db.Get(), "SELECT path FROM inputs ORDER BY rowid");
    while (list.Step()) paths.emplace_back(list.Text(0));
  }
  std::vector<const char*> pathPointers;
  std::unordered_map<std::string_view, std::size_t> indexOfPath;
  for (std::size_t i = 0; i < paths.size(); ++i) {
    pathPointers.push_back(paths[i].c_str());
    indexOfPath.emplace(paths[i], i);
  }
  PanelTable table(pathPointers.data(), settings.vintage, settings.guard, settings.nMostTagColumns);
  PanelSink sink;
  PanelInput part;
  SubmissionHeader header;
  ScheduleDocument document;
  std::string bytes;
  const auto keep = [&](std::string_view text) {
    bytes.clear();
    AppendFilingBytes(bytes, text);
    return document.Keep(bytes);
  };
  // The columns of schedules from path on, then a fact's tag, raw and cut mark (format 1 had none).
  Statement rows(db.Get(),
                 std::string("SELECT s.id, s.path, s.member, s.accession_number, s.cik, s.company, s.form_type, "
                             "s.filed, s.period, s.sic, s.fiscal_year_end, s.document, s.description, s.schedule, "
                             "s.article, s.series, s.series_name, s.flawed, s.complete, f.tag, f.raw, ") +
                     (nFormat >= 2 ? "f.cut" : "0") +
                     " FROM schedules s JOIN facts f ON f.schedule_id = s.id JOIN inputs i ON i.path = s.path ORDER "
                     "BY i.rowid, s.id, f.seq");
  std::int64_t nSchedule = -1;
  std::size_t nInput = SIZE_MAX;
  const auto endSchedule = [&] {
    if (nSchedule < 0) return;
    document.schedules.back().lineCount = document.lines.size() - document.schedules.back().firstLine;
    sink.TakeDocument(header, document);
  };
  const auto endInput = [&] {
    endSchedule();
    nSchedule = -1;
    if (nInput != SIZE_MAX) table.Merge(part, nInput);
  };
  while (rows.Step()) {
    const std::size_t nRowInput = indexOfPath.at(rows.Text(1));
    if (nRowInput != nInput) {
      endInput();
      nInput = nRowInput;
      sink.StartInput(part);
    }
    if (rows.Int(0) != nSchedule) {
      endSchedule();
      nSchedule = rows.Int(0);
      header.Clear();
      header.member = rows.Text(2);
      static constexpr HeaderField kFields[] = {kAccessionNumber, kCentralIndexKey, kCompanyName,  kFormType,
                                                kFiledDate,       kPeriodOfReport,  kIndustryCode, kFiscalYearEnd};
      for (std::size_t k = 0; k < std::size(kFields); ++k) {
        bytes.clear();
        AppendFilingBytes(bytes, rows.Text(static_cast<int>(k + 3)));
        header.fields[kFields[k]] = bytes;
        header.seen[kFields[k]] = true;
      }
      document.Clear();
      document.type = keep(rows.Text(11));
      document.hasDescription = !rows.IsNull(12);
      document.description = keep(rows.Text(12));
      document.flawed = rows.Int(17) != 0;
      document.complete = rows.Int(18) != 0;
      Schedule& schedule = document.schedules.emplace_back();
      schedule.number = static_cast<std::uint64_t>(rows.Int(13));
      schedule.article = keep(rows.Text(14));
      schedule.hasSeries = !rows.IsNull(15);
      schedule.series = keep(rows.Text(15));
      schedule.hasSeriesName = !rows.IsNull(16);
      schedule.seriesName = keep(rows.Text(16));
      schedule.firstLine = 0;
    }
    ScheduleLine& line = document.lines.emplace_back();
    line.tag = keep(rows.Text(19));
    line.raw = keep(rows.Text(20));
    line.lineEnded = rows.Int(21) == 0;
  }
  endInput();
  const std::uint64_t nOtherTags = table.Write(out);
  if (settings.pOtherTags) *settings.pOtherTags = nOtherTags;
  return QUORLIX_SCHEDULES_OK;
}

}  // namespace

int WritePanelOfDatabase(const char* pszDatabasePath, const TableSettings& settings, QUORLIX_WRITE_FN write,
                         void* pContext, QUORLIX_DATABASE_SUMMARY& summary) {
  summary = {};
  try {
    const std::string path(pszDatabasePath);
    if (!IsSqliteFile(path)) throw DatabaseRefused{QuotedFileName(path) + " is no SQLite database"};
    Database db(path, SQLITE_OPEN_READONLY);
    const std::int64_t nFormat = CheckQuorlixDatabase(db, path);
    db.Exec("BEGIN");  // one snapshot, while an update may be writing
    PieceWriter out(write, pContext);
    FeedPanel(db, nFormat, settings, out);
    return out.Failed() ? out.FailedStatus() : QUORLIX_SCHEDULES_OK;
  } catch (const DatabaseRefused& refused) {
    CopyProblem(summary, refused.problem);
    return QUORLIX_SCHEDULES_DATABASE_REFUSED;
  } catch (const DatabaseError& failure) {
    CopyProblem(summary, failure.problem);
    return QUORLIX_SCHEDULES_OUTPUT_ERROR;
  }
}
