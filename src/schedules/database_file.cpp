#include "schedules/database_file.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <span>
#include <unordered_set>
#include <vector>

#include "schedules/schedule_table.h"
#include "schedules/tag_dictionary.h"

namespace {

// The layout written here; a database of a higher number is refused. Format 1
// had no facts.cut nor schedules.unparsed: an update adds them (0 and NULL for
// the rows it holds, as format 1 read them).
constexpr int kFormatVersion = 2;

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

}  // namespace

std::string QuotedFileName(std::string_view name) {
  std::string text = "'";
  AppendNameText(text, name);
  text += '\'';
  return text;
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

namespace {

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

}  // namespace

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

void UpgradeDatabase(Database& db, std::int64_t nFormat) {
  if (nFormat >= kFormatVersion) return;
  db.Exec("BEGIN IMMEDIATE");
  db.Exec(
      "ALTER TABLE facts ADD COLUMN cut INTEGER NOT NULL DEFAULT 0; ALTER TABLE schedules ADD COLUMN unparsed TEXT");
  CreateViews(db);  // with unparsed
  WriteMeta(db, "format_version", std::to_string(kFormatVersion));
  db.Exec("COMMIT");
}

void CreateIndexes(Database& db) { db.Exec(kIndexesSql); }

bool IsSqliteFile(const std::string& path) {
  std::FILE* const pFile = std::fopen(path.c_str(), "rb");
  if (!pFile) return false;
  char header[16] = {};
  const bool bSqlite = std::fread(header, 1, sizeof header, pFile) == sizeof header &&
                       std::memcmp(header, "SQLite format 3", sizeof header) == 0;
  std::fclose(pFile);
  return bSqlite;
}

void CopyProblem(QUORLIX_DATABASE_SUMMARY& summary, std::string_view problem) {
  const std::size_t nCopied = std::min(problem.size(), sizeof summary.problem - 1);
  std::memcpy(summary.problem, problem.data(), nCopied);
  summary.problem[nCopied] = '\0';
}
