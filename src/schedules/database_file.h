// A Quorlix database on disk: SQLite, thinly (a statement and a connection whose
// failures are raised with SQLite's words), the layout of a new database, and
// the checks that keep this library from writing into a file it did not make.
#pragma once

#include <sqlite3.h>

#include <cstdint>
#include <string>
#include <string_view>
#include <utility>

#include "quorlix_schedules.h"

// An SQLite failure, with its words.
struct DatabaseError {
  std::string problem;
};
// A file that this library must not write into.
struct DatabaseRefused {
  std::string problem;
};

// A file's name as messages write it: as text, between single quotes.
std::string QuotedFileName(std::string_view name);

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

// SQLite's page cache, and the memory an index's sort keeps before it spills to
// a file: the rows go in in key order, so a modest one costs little time and
// keeps the memory the same however many inputs there are.
inline constexpr const char* kCacheSizePragma = "PRAGMA cache_size=-8192";

// The time now, as the database writes it (UTC, ISO 8601).
std::string UtcNow();
// Sets one entry of quorlix_meta.
void WriteMeta(Database& db, std::string_view key, std::string_view value);
// The tables, the dictionary and the views of a new database, in one transaction;
// without its indexes, a new database's rows go in faster (CreateIndexes after them).
void CreateLayout(Database& db, bool bWithIndexes);
void CreateIndexes(Database& db);
// Refuses (DatabaseRefused) a database that this library did not write, or that a
// newer one did; returns its format.
std::int64_t CheckQuorlixDatabase(Database& db, const std::string& path);
// Brings a database of an older format to this one, in one transaction.
void UpgradeDatabase(Database& db, std::int64_t nFormat);
// True when the file begins as an SQLite database does.
bool IsSqliteFile(const std::string& path);

// Runs call; a file refused or an SQLite failure gives its status, with its
// words as the summary's problem.
void CopyProblem(QUORLIX_DATABASE_SUMMARY& summary, std::string_view problem);
template <class Call>
int WithDatabaseProblem(QUORLIX_DATABASE_SUMMARY& summary, Call&& call) {
  summary = {};
  try {
    return std::forward<Call>(call)();
  } catch (const DatabaseRefused& refused) {
    CopyProblem(summary, refused.problem);
    return QUORLIX_SCHEDULES_DATABASE_REFUSED;
  } catch (const DatabaseError& failure) {
    CopyProblem(summary, failure.problem);
    return QUORLIX_SCHEDULES_OUTPUT_ERROR;
  }
}
