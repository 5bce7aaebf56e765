// quorlix schedules into an SQLite database: the same rows as the CSV, --update
// and --prune, a run killed mid-update, and databases that must not be written.
#include <gtest/gtest.h>
#include <sqlite3.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <csignal>
#include <filesystem>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "tool_test.h"

namespace {

using quorlix_test::DataDir;
using quorlix_test::ReadFile;
namespace fs = std::filesystem;

using Rows = std::vector<std::vector<std::string>>;

// The rows of a query, NULL as "", or one row holding the error.
Rows Query(const std::string& path, const std::string& sql) {
  sqlite3* pDb = nullptr;
  Rows rows;
  if (sqlite3_open_v2(path.c_str(), &pDb, SQLITE_OPEN_READONLY, nullptr) != SQLITE_OK) {
    sqlite3_close(pDb);
    return {{"cannot open " + path}};
  }
  sqlite3_busy_timeout(pDb, 5000);
  sqlite3_stmt* pStmt = nullptr;
  if (sqlite3_prepare_v2(pDb, sql.c_str(), -1, &pStmt, nullptr) != SQLITE_OK) {
    rows.push_back({sqlite3_errmsg(pDb)});
  } else {
    while (sqlite3_step(pStmt) == SQLITE_ROW) {
      std::vector<std::string>& row = rows.emplace_back();
      for (int i = 0; i < sqlite3_column_count(pStmt); ++i) {
        const auto* const p = reinterpret_cast<const char*>(sqlite3_column_text(pStmt, i));
        row.emplace_back(p ? p : "");
      }
    }
  }
  sqlite3_finalize(pStmt);
  sqlite3_close(pDb);
  return rows;
}

std::string One(const std::string& path, const std::string& sql) {
  const Rows rows = Query(path, sql);
  return rows.empty() || rows[0].empty() ? std::string() : rows[0][0];
}

// The long form's rows back from a database, in the CSV's order and quoting.
const char kLongRowsSql[] =
    "SELECT s.path, s.member, s.accession_number, s.cik, s.company, s.form_type, s.filed, s.period, s.sic, "
    "s.fiscal_year_end, s.document, s.description, s.schedule, s.article, s.series, s.series_name, s.flawed, "
    "s.complete, s.multiplier, s.restated, s.multiplier_source, f.tag, f.raw, f.value, f.scaled FROM facts f JOIN "
    "schedules s ON s.id = f.schedule_id JOIN inputs i ON i.path = s.path ORDER BY s.id, f.seq";

// A CSV's records (RFC 4180), the header left out.
Rows ReadCsv(const std::string& text) {
  Rows rows;
  std::vector<std::string> row;
  std::string field;
  bool bQuoted = false;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (bQuoted) {
      if (c == '"' && i + 1 < text.size() && text[i + 1] == '"') field += text[++i];
      else if (c == '"') bQuoted = false;
      else field += c;
    } else if (c == '"') {
      bQuoted = true;
    } else if (c == ',') {
      row.push_back(std::move(field));
      field.clear();
    } else if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') {
      row.push_back(std::move(field));
      field.clear();
      rows.push_back(std::move(row));
      row.clear();
      ++i;
    } else {
      field += c;
    }
  }
  if (!rows.empty()) rows.erase(rows.begin());
  return rows;
}

class SchedulesDatabaseTest : public quorlix_test::ToolTest {
 protected:
  // A folder of real filings: every filing in tests/data that has a schedule, and a file that is none.
  std::string MakeArchive() {
    const std::string folder = PathOf("archive");
    fs::create_directories(folder);
    for (const char* name : {"apple_10q_2000q2_ex27.txt", "bank_10k_1997_article9.txt",
                             "fund_n30d_1997_article6_two_series.txt", "apple_10q_2000q1_cut_in_schedule.txt"})
      fs::copy_file(DataDir() / "schedules" / name, folder + "/" + name);
    fs::copy_file(DataDir() / "filing" / "apple_10k_1997_ex27.txt", folder + "/apple_10k_1997_ex27.txt");
    WriteFile("archive/notes.txt", "no filing\n");
    return folder;
  }

  // The database's long rows equal the CSV the tool writes of the same folder.
  void ExpectRowsOfCsv(const std::string& db, const std::string& folder) {
    const auto csv = RunTool({"schedules", "-q", "-o", PathOf("long.csv"), folder});
    ASSERT_EQ(csv.exitStatus, 0) << csv.err;
    const Rows expected = ReadCsv(ReadFile(PathOf("long.csv")));
    ASSERT_FALSE(expected.empty());
    Rows got = Query(db, kLongRowsSql);
    // The database orders by schedule id, the CSV by input; both keep the order within an input.
    std::ranges::stable_sort(got, {}, [](const std::vector<std::string>& row) { return row[0]; });
    Rows want = expected;
    std::ranges::stable_sort(want, {}, [](const std::vector<std::string>& row) { return row[0]; });
    EXPECT_EQ(got, want);
  }

  // "N new, N changed, N unchanged, N pruned" from a run's summary.
  static std::string InputCounts(const std::string& err) {
    const auto from = err.find("; inputs ");
    const auto to = err.find(" pruned", from);
    return from == std::string::npos || to == std::string::npos ? err : err.substr(from + 9, to + 7 - from - 9);
  }
};

TEST_F(SchedulesDatabaseTest, HoldsTheRowsOfTheLongCsvWithItsMeta) {
  const std::string folder = MakeArchive();
  const std::string db = PathOf("fds.sqlite");
  const auto run = RunTool({"schedules", "-j", "2", "-o", db, folder});
  ASSERT_EQ(run.exitStatus, 0) << run.err;
  EXPECT_EQ(InputCounts(run.err), "6 new, 0 changed, 0 unchanged, 0 pruned");
  ExpectRowsOfCsv(db, folder);
  EXPECT_EQ(One(db, "PRAGMA integrity_check"), "ok");
  EXPECT_EQ(One(db, "PRAGMA journal_mode"), "wal");
  EXPECT_EQ(One(db, "SELECT value FROM quorlix_meta WHERE key = 'format_version'"), "2");
  EXPECT_EQ(One(db, "SELECT value FROM quorlix_meta WHERE key = 'library_version'"), QUORLIX_PRODUCT_VERSION);
  EXPECT_EQ(One(db, "SELECT count(*) FROM quorlix_meta WHERE key IN ('scaling_rule', 'multiplier_rule')"), "2");
  EXPECT_EQ(Query(db, "SELECT meaning, schedule_count FROM inputs WHERE path LIKE '%notes.txt'"),
            (Rows{{"not a filing", "0"}}));
  // Exact text beside the number: scaled as written out, amount for arithmetic.
  EXPECT_EQ(Query(db,
                  "SELECT f.scaled, typeof(f.amount), s.cik, typeof(s.cik) FROM facts f JOIN schedules s ON s.id = "
                  "f.schedule_id WHERE s.path LIKE '%2000q2_ex27.txt' AND f.tag = 'TOTAL-ASSETS'"),
            (Rows{{"7007000000", "real", "320193", "integer"}}));
  EXPECT_EQ(One(db, "SELECT count(*) FROM submissions"), "5");
  EXPECT_EQ(One(db, "SELECT count(*) FROM tag_dictionary WHERE article = '9'") != "0", true);
  // --format sqlite makes a database of any name; the CSV's options are refused with it.
  const auto named = RunTool({"schedules", "-q", "--format", "sqlite", "-o", PathOf("fds.data"), folder});
  EXPECT_EQ(named.exitStatus, 0) << named.err;
  EXPECT_EQ(One(PathOf("fds.data"), "SELECT count(*) FROM facts"), One(db, "SELECT count(*) FROM facts"));
  const auto wide = RunTool({"schedules", "--wide", "-o", db, folder});
  EXPECT_EQ(wide.exitStatus, 64);
  EXPECT_EQ(wide.err, "quorlix: a database holds both forms: --wide is for CSV\n");
  const auto update = RunTool({"schedules", "--update", "-o", PathOf("t.csv"), folder});
  EXPECT_EQ(update.exitStatus, 64);
  EXPECT_EQ(update.err,
            "quorlix: --update and --prune keep a database: name one with -o FILE.sqlite or --format sqlite\n");
}

TEST_F(SchedulesDatabaseTest, ViewsNameEveryColumnApartInAnyCase) {
  const std::string folder = MakeArchive();
  const std::string db = PathOf("fds.db");
  ASSERT_EQ(RunTool({"schedules", "-q", "-o", db, folder}).exitStatus, 0);
  const Rows views = Query(db, "SELECT name FROM sqlite_master WHERE type = 'view' ORDER BY name");
  EXPECT_EQ(views, (Rows{{"wide_5"}, {"wide_6"}, {"wide_7"}, {"wide_9"}, {"wide_bd"}, {"wide_ut"}}));
  for (const auto& view : views) {
    const Rows columns = Query(db, "SELECT name FROM pragma_table_info('" + view[0] + "')");
    std::set<std::string> lower;
    for (const auto& column : columns) {
      std::string name = column[0];
      for (char& c : name) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
      EXPECT_TRUE(lower.insert(name).second) << view[0] << " names " << column[0] << " twice";
    }
    EXPECT_GT(columns.size(), 30u) << view[0];
  }
  // The fund's two series, its CIK the header's, its amounts scaled.
  EXPECT_EQ(Query(db, "SELECT cik, series, \"TOTAL-ASSETS\" FROM wide_6 ORDER BY schedule_id"),
            (Rows{{"876543", "011", "502020000.0"}, {"876543", "012", "194122000.0"}}));
  EXPECT_EQ(Query(db,
                  "SELECT period, \"TOTAL-REVENUES\", \"NET-INCOME\" FROM wide_5 WHERE \"TOTAL-REVENUES\" "
                  "IS NOT NULL ORDER BY period"),
            (Rows{{"1997-09-26", "7081000000.0", "-1045000000.0"}, {"2000-04-01", "1945000000.0", "233000000.0"}}));
}

TEST_F(SchedulesDatabaseTest, UpdateReadsWhatIsNewOrChangedAndPruneDropsWhatIsGone) {
  const std::string folder = MakeArchive();
  const std::string db = PathOf("fds.sqlite");
  const std::string moved = PathOf("fund.txt");
  fs::rename(folder + "/fund_n30d_1997_article6_two_series.txt", moved);
  const auto first = RunTool({"schedules", "--update", "-o", db, folder});
  ASSERT_EQ(first.exitStatus, 0) << first.err;
  EXPECT_EQ(InputCounts(first.err), "5 new, 0 changed, 0 unchanged, 0 pruned");

  // One added, one rewritten with other figures (its size the same, its time later).
  fs::rename(moved, folder + "/fund_n30d_1997_article6_two_series.txt");
  const std::string bank = folder + "/bank_10k_1997_article9.txt";
  std::string text = ReadFile(bank);
  const auto at = text.find("<TOTAL-ASSETS>");
  ASSERT_NE(at, std::string::npos);
  const auto digit = text.find_first_of("123456789", at);
  text[digit] = text[digit] == '9' ? '8' : '9';
  WriteFile("archive/bank_10k_1997_article9.txt", text);
  fs::last_write_time(bank, fs::last_write_time(bank) + std::chrono::seconds(5));
  const auto second = RunTool({"schedules", "--update", "-o", db, folder});
  ASSERT_EQ(second.exitStatus, 0) << second.err;
  EXPECT_EQ(InputCounts(second.err), "1 new, 1 changed, 4 unchanged, 0 pruned");
  ExpectRowsOfCsv(db, folder);

  const auto nothing = RunTool({"schedules", "--update", "-o", db, folder});
  EXPECT_EQ(InputCounts(nothing.err), "0 new, 0 changed, 6 unchanged, 0 pruned");

  // A removed input stays until --prune.
  fs::remove(folder + "/apple_10q_2000q2_ex27.txt");
  const auto kept = RunTool({"schedules", "--update", "-o", db, folder});
  EXPECT_EQ(InputCounts(kept.err), "0 new, 0 changed, 5 unchanged, 0 pruned");
  EXPECT_EQ(One(db, "SELECT count(*) FROM schedules WHERE path LIKE '%2000q2_ex27.txt'"), "1");
  const auto pruned = RunTool({"schedules", "--update", "--prune", "-o", db, folder});
  EXPECT_EQ(InputCounts(pruned.err), "0 new, 0 changed, 5 unchanged, 1 pruned");
  ExpectRowsOfCsv(db, folder);
  EXPECT_EQ(One(db,
                "SELECT count(*) FROM schedules s WHERE NOT EXISTS (SELECT 1 FROM inputs i WHERE i.path = "
                "s.path)"),
            "0");
  EXPECT_EQ(One(db, "PRAGMA integrity_check"), "ok");
  const auto alone = RunTool({"schedules", "--prune", "-o", db, folder});
  EXPECT_EQ(alone.exitStatus, 64);
  EXPECT_EQ(alone.err, "quorlix: --prune goes with --update\n");
}

TEST_F(SchedulesDatabaseTest, AnUpdateKilledMidwayLeavesWholeInputsAndTheNextFinishes) {
  // Enough small filings that a run outlasts its first commit (a second).
  const std::string folder = PathOf("many");
  fs::create_directories(folder);
  const std::string filing = ReadFile((DataDir() / "schedules" / "bank_10k_1997_article9.txt").string());
  constexpr int kInputs = 12000;
  for (int i = 0; i < kInputs; ++i) WriteFile("many/" + std::to_string(i) + ".txt", filing);
  const std::string db = PathOf("fds.sqlite");
  const pid_t pid = StartTool({"schedules", "-q", "-j", "1", "--update", "-o", db, folder}, {});
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
  // Killed once the first inputs are committed.
  const auto committedSoFar = [&] {
    const std::string count = fs::exists(db) ? One(db, "SELECT count(*) FROM inputs") : "";
    return !count.empty() && std::isdigit(static_cast<unsigned char>(count[0])) ? std::stoi(count) : 0;
  };
  // The tool runs a few milliseconds at a time, so that its first commit (after
  // a second) comes long before its last input on a machine of any speed.
  while (std::chrono::steady_clock::now() < deadline) {
    ::kill(pid, SIGCONT);
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
    ::kill(pid, SIGSTOP);
    if (committedSoFar() != 0) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(15));
  }
  ::kill(pid, SIGKILL);
  const auto killed = FinishTool(pid);
  EXPECT_EQ(One(db, "PRAGMA integrity_check"), "ok");
  const std::string committed = One(db, "SELECT count(*) FROM inputs");
  ASSERT_TRUE(!committed.empty() && std::isdigit(static_cast<unsigned char>(committed[0]))) << committed;
  EXPECT_NE(committed, "0");
  EXPECT_EQ(killed.signal, SIGKILL);
  EXPECT_LT(std::stoi(committed), kInputs);
  // Each input committed is whole: its values all there.
  EXPECT_EQ(One(db,
                "SELECT count(*) FROM inputs i WHERE value_count != (SELECT count(*) FROM facts f JOIN "
                "schedules s ON s.id = f.schedule_id WHERE s.path = i.path)"),
            "0");
  const auto next = RunTool({"schedules", "--update", "-o", db, folder});
  ASSERT_EQ(next.exitStatus, 0) << next.err;
  EXPECT_EQ(InputCounts(next.err),
            std::to_string(kInputs - std::stoi(committed)) + " new, 0 changed, " + committed + " unchanged, 0 pruned");
  EXPECT_EQ(One(db, "SELECT count(*) FROM inputs"), std::to_string(kInputs));
  EXPECT_EQ(One(db, "SELECT count(*) FROM schedules"), std::to_string(kInputs));
  EXPECT_EQ(One(db, "PRAGMA integrity_check"), "ok");
}

TEST_F(SchedulesDatabaseTest, ASecondInterruptRemovesANewDatabasesTemporary) {
  const std::string filing = ReadFile((DataDir() / "schedules" / "bank_10k_1997_article9.txt").string());
  fs::create_directories(PathOf("many"));
  fs::create_directories(PathOf("out"));
  for (int i = 0; i < 4000; ++i) WriteFile("many/" + std::to_string(i) + ".txt", filing);
  const pid_t pid = StartTool({"schedules", "-q", "-j", "1", "-o", "out/fds.sqlite", PathOf("many")}, {});
  while (ListFiles(PathOf("out")).empty()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  // Two signals of one kind may arrive as one: a second kind is surely a second signal.
  ::kill(pid, SIGINT);
  ::kill(pid, SIGTERM);
  EXPECT_EQ(FinishTool(pid).signal, SIGTERM);
  EXPECT_EQ(ListFiles(PathOf("out")), std::vector<std::string>{});  // neither the database nor its temporary
}

TEST_F(SchedulesDatabaseTest, ForeignAndNewerDatabasesAreRefusedUntouched) {
  const std::string folder = MakeArchive();
  const std::string foreign = PathOf("other.db");
  {
    sqlite3* pDb = nullptr;
    ASSERT_EQ(sqlite3_open(foreign.c_str(), &pDb), SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(pDb, "CREATE TABLE notes(x); INSERT INTO notes VALUES (1)", nullptr, nullptr, nullptr),
              SQLITE_OK);
    sqlite3_close(pDb);
  }
  const std::string before = ReadFile(foreign);
  for (const bool bUpdate : {true, false}) {
    std::vector<std::string> args{"schedules", "-q", "-o", foreign, folder};
    if (bUpdate) args.insert(args.begin() + 1, "--update");
    const auto run = RunTool(args);
    EXPECT_EQ(run.exitStatus, 74);
    EXPECT_EQ(run.err.substr(0, run.err.find('\n') + 1),
              "quorlix: database: '" + foreign + "' has no quorlix_meta table: no Quorlix database\n");
    EXPECT_EQ(ReadFile(foreign), before);
  }

  const std::string newer = PathOf("newer.sqlite");
  ASSERT_EQ(RunTool({"schedules", "-q", "-o", newer, folder}).exitStatus, 0);
  {
    sqlite3* pDb = nullptr;
    ASSERT_EQ(sqlite3_open(newer.c_str(), &pDb), SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(pDb, "UPDATE quorlix_meta SET value = '3' WHERE key = 'format_version'", nullptr, nullptr,
                           nullptr),
              SQLITE_OK);
    sqlite3_close(pDb);
  }
  const std::string facts = One(newer, "SELECT count(*) FROM facts");
  const auto run = RunTool({"schedules", "-q", "--update", "--prune", "-o", newer, folder});
  EXPECT_EQ(run.exitStatus, 74);
  EXPECT_EQ(run.err.substr(0, run.err.find('\n') + 1),
            "quorlix: database: '" + newer + "' is of database format 3, newer than this library's 2\n");
  EXPECT_EQ(One(newer, "SELECT count(*) FROM facts"), facts);

  WriteFile("text.db", "not a database at all, though named so\n");
  const auto text = RunTool({"schedules", "-q", "--update", "-o", PathOf("text.db"), folder});
  EXPECT_EQ(text.exitStatus, 74);
  EXPECT_EQ(text.err.substr(0, text.err.find('\n') + 1),
            "quorlix: database: '" + PathOf("text.db") + "' is no SQLite database\n");
  EXPECT_EQ(ReadFile(PathOf("text.db")), "not a database at all, though named so\n");
}

}  // namespace

namespace {

TEST_F(SchedulesDatabaseTest, ThePanelOfADatabaseIsThePanelOfItsFilings) {
  const std::string folder = (DataDir() / "panel").string();
  const std::string db = PathOf("panel.sqlite");
  ASSERT_EQ(RunTool({"schedules", "-q", "-o", db, folder}).exitStatus, 0);
  for (const char* vintage : {"first", "latest"}) {
    const auto direct = RunTool({"panel", "-q", "--vintage", vintage, folder});
    const auto fromDatabase = RunTool({"panel", "-q", "--vintage", vintage, db});
    ASSERT_EQ(fromDatabase.exitStatus, 0) << fromDatabase.err;
    EXPECT_GT(std::ranges::count(direct.out, '\n'), 5);
    EXPECT_EQ(fromDatabase.out, direct.out) << vintage;
  }
  // A newer database is refused here too.
  {
    sqlite3* pDb = nullptr;
    ASSERT_EQ(sqlite3_open(db.c_str(), &pDb), SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(pDb, "UPDATE quorlix_meta SET value = '9' WHERE key = 'format_version'", nullptr, nullptr,
                           nullptr),
              SQLITE_OK);
    sqlite3_close(pDb);
  }
  const auto newer = RunTool({"panel", "-q", db});
  EXPECT_EQ(newer.exitStatus, 74);
  EXPECT_EQ(newer.err, "quorlix: database: '" + db + "' is of database format 9, newer than this library's 2\n");
  EXPECT_EQ(newer.out, "");
}

// The panel of a database into a file: the library writes it whole, so a failed
// or refused run leaves the file as it was and no temporary beside it.
TEST_F(SchedulesDatabaseTest, ThePanelOfADatabaseGoesIntoAFileWholeOrNotAtAll) {
  const std::string db = PathOf("panel.sqlite");
  ASSERT_EQ(RunTool({"schedules", "-q", "-o", db, (DataDir() / "panel").string()}).exitStatus, 0);
  const auto out = RunTool({"panel", "-q", db});
  ASSERT_EQ(out.exitStatus, 0) << out.err;
  fs::create_directories(PathOf("out"));
  WriteFile("out/p.csv", "old");
  const auto toFile = RunTool({"panel", "-q", "-o", PathOf("out/p.csv"), db});
  ASSERT_EQ(toFile.exitStatus, 0) << toFile.err;
  EXPECT_EQ(toFile.out, "");
  EXPECT_EQ(ReadFile(PathOf("out/p.csv")), out.out);

  const auto missing = RunTool({"panel", "-q", "-o", PathOf("no/p.csv"), db});
  EXPECT_EQ(missing.exitStatus, 74);
  EXPECT_TRUE(missing.err.starts_with("quorlix: cannot write the table '" + PathOf("no/p.csv") +
                                      "' through its temporary file '" + PathOf("no/.quorlix-p.csv.")))
      << missing.err;
  EXPECT_TRUE(missing.err.ends_with(".tmp': No such file or directory\n")) << missing.err;

  // A newer database is refused, and the file it would have replaced stays.
  {
    sqlite3* pDb = nullptr;
    ASSERT_EQ(sqlite3_open(db.c_str(), &pDb), SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(pDb, "UPDATE quorlix_meta SET value = '9' WHERE key = 'format_version'", nullptr, nullptr,
                           nullptr),
              SQLITE_OK);
    sqlite3_close(pDb);
  }
  WriteFile("out/p.csv", "old");
  const auto newer = RunTool({"panel", "-q", "-o", PathOf("out/p.csv"), db});
  EXPECT_EQ(newer.exitStatus, 74);
  EXPECT_EQ(newer.err, "quorlix: database: '" + db + "' is of database format 9, newer than this library's 2\n");
  EXPECT_EQ(ReadFile(PathOf("out/p.csv")), "old");
  EXPECT_EQ(ListFiles(PathOf("out")), std::vector<std::string>{"p.csv"});
}

// The schedules table holds the wide form's fixed columns, unparsed among them:
// values not of their tag's kind, and one the filing's end cut.
TEST_F(SchedulesDatabaseTest, SchedulesHoldTheWideFormsUnparsedList) {
  const std::string schedules = (DataDir() / "schedules").string();
  const std::string panel = (DataDir() / "panel").string();
  const std::string db = PathOf("fds.sqlite");
  ASSERT_EQ(RunTool({"schedules", "-q", "-o", db, schedules, panel}).exitStatus, 0);
  const auto wide = RunTool({"schedules", "-q", "--wide", "-o", PathOf("wide.csv"), schedules, panel});
  ASSERT_EQ(wide.exitStatus, 0) << wide.err;
  Rows want;
  for (const auto& row : ReadCsv(ReadFile(PathOf("wide.csv")))) want.push_back({row[0], row[12], row[21]});
  const Rows got = Query(db, "SELECT path, schedule, unparsed FROM schedules ORDER BY id");
  EXPECT_EQ(got, want);
  EXPECT_NE(One(db, "SELECT count(*) FROM schedules WHERE unparsed IS NOT NULL"), "0");
  EXPECT_EQ(One(db, "SELECT unparsed FROM wide_5 WHERE path LIKE '%cut_in_schedule.txt'"), "TOTAL-ASSETS=7,5");
}

// A name that is no UTF-8 (Latin-1 'é'), stored as text, and a value whose line
// the filing ended in: the panel of the database is still that of the filings,
// byte for byte. A database of format 1 (no cut marks) is read, and upgraded by
// an update.
TEST_F(SchedulesDatabaseTest, ThePanelOfADatabaseKeepsOddNamesAndCutValues) {
  const std::string folder = PathOf("odd");
  fs::create_directories(folder);
  fs::copy_file(DataDir() / "panel" / "apple_10q_1998q1_ex27_excerpt.txt", folder + "/caf\xe9.txt");
  // Cut inside a number that reads whole ("7,500"): its column stays empty.
  std::string cut = ReadFile((DataDir() / "schedules" / "apple_10q_2000q1_cut_in_schedule.txt").string());
  ASSERT_TRUE(cut.ends_with("7,5"));
  WriteFile("odd/cut.txt", cut + "00");
  const std::string db = PathOf("odd.sqlite");
  ASSERT_EQ(RunTool({"schedules", "-q", "-o", db, folder}).exitStatus, 0);
  EXPECT_EQ(One(db, "SELECT path FROM inputs WHERE path LIKE '%caf%'"), folder + "/caf\\xe9.txt");
  EXPECT_EQ(Query(db,
                  "SELECT f.tag, f.cut FROM facts f JOIN schedules s ON s.id = f.schedule_id WHERE s.path LIKE "
                  "'%cut.txt' AND (f.cut = 1 OR f.tag = 'DEPRECIATION')"),
            (Rows{{"DEPRECIATION", "0"}, {"TOTAL-ASSETS", "1"}}));
  const auto direct = RunTool({"panel", "-q", folder});
  ASSERT_EQ(direct.exitStatus, 0) << direct.err;
  EXPECT_NE(direct.out.find("caf\\xe9.txt"), std::string::npos);
  const auto fromDatabase = RunTool({"panel", "-q", db});
  ASSERT_EQ(fromDatabase.exitStatus, 0) << fromDatabase.err;
  EXPECT_EQ(fromDatabase.out, direct.out);

  // Format 1, as an earlier release wrote it: no cut or unparsed column (its views, which name unparsed now, go too).
  {
    sqlite3* pDb = nullptr;
    ASSERT_EQ(sqlite3_open(db.c_str(), &pDb), SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(pDb,
                           "DROP VIEW wide_5; DROP VIEW wide_6; DROP VIEW wide_7; DROP VIEW wide_9; DROP VIEW wide_ut; "
                           "DROP VIEW wide_bd; ALTER TABLE facts DROP COLUMN cut; ALTER TABLE schedules DROP COLUMN "
                           "unparsed; UPDATE "
                           "quorlix_meta SET value = '1' WHERE key = 'format_version'",
                           nullptr, nullptr, nullptr),
              SQLITE_OK)
        << sqlite3_errmsg(pDb);
    sqlite3_close(pDb);
  }
  const auto older = RunTool({"panel", "-q", db});
  ASSERT_EQ(older.exitStatus, 0) << older.err;
  EXPECT_EQ(std::ranges::count(older.out, '\n'), std::ranges::count(direct.out, '\n'));
  fs::last_write_time(folder + "/cut.txt", fs::last_write_time(folder + "/cut.txt") + std::chrono::seconds(5));
  const auto update = RunTool({"schedules", "--update", "-o", db, folder});
  ASSERT_EQ(update.exitStatus, 0) << update.err;
  EXPECT_EQ(InputCounts(update.err), "0 new, 1 changed, 1 unchanged, 0 pruned");
  EXPECT_EQ(One(db, "SELECT value FROM quorlix_meta WHERE key = 'format_version'"), "2");
  EXPECT_EQ(One(db, "SELECT count(*) FROM facts WHERE cut = 1"), "1");
  EXPECT_EQ(One(db, "SELECT unparsed FROM schedules WHERE path LIKE '%cut.txt'"), "TOTAL-ASSETS=7,500");
  EXPECT_EQ(One(db, "SELECT unparsed FROM wide_5 WHERE path LIKE '%cut.txt'"), "TOTAL-ASSETS=7,500");
  EXPECT_EQ(RunTool({"panel", "-q", db}).out, direct.out);
  EXPECT_EQ(One(db, "PRAGMA integrity_check"), "ok");
}

}  // namespace
