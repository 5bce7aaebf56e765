// The panel of a database into a file, as a host calls it: whole or left as it
// was, never through a temporary left behind, failures in the record.
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <sqlite3.h>

#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <string>
#include <vector>

#include "quorlix_failure.h"
#include "quorlix_schedules.h"
#include "test_support.h"

namespace {

using quorlix_test::DataDir;
using quorlix_test::ReadFile;
namespace fs = std::filesystem;

int Collect(void* context, const char* data, size_t size) {
  static_cast<std::string*>(context)->append(data, size);
  return 0;
}

class DatabasePanelFileTest : public quorlix_test::TempDirTest {
 protected:
  void SetUp() override {
    TempDirTest::SetUp();
    m_hLib = ::dlopen(QUORLIX_SHARED_LIBRARY, RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(m_hLib, nullptr) << ::dlerror();
    m_database = reinterpret_cast<decltype(&quorlix_write_schedules_database)>(
        ::dlsym(m_hLib, "quorlix_write_schedules_database"));
    m_panel = reinterpret_cast<decltype(&quorlix_write_panel_of_database)>(
        ::dlsym(m_hLib, "quorlix_write_panel_of_database"));
    m_panelFile = reinterpret_cast<decltype(&quorlix_write_panel_of_database_file)>(
        ::dlsym(m_hLib, "quorlix_write_panel_of_database_file"));
    m_lastFailure = reinterpret_cast<decltype(&quorlix_last_failure)>(::dlsym(m_hLib, "quorlix_last_failure"));
    ASSERT_TRUE(m_database && m_panel && m_panelFile && m_lastFailure);
    // A database of the panel's filings.
    std::vector<std::string> paths;
    for (const auto& entry : fs::directory_iterator(DataDir() / "panel"))
      if (entry.path().extension() == ".txt") paths.push_back(entry.path().string());
    std::ranges::sort(paths);
    std::vector<const char*> pointers;
    for (const std::string& path : paths) pointers.push_back(path.c_str());
    m_db = PathOf("fds.sqlite");
    ASSERT_EQ(m_database(pointers.data(), pointers.size(), 1, 0, m_db.c_str(), nullptr, nullptr, nullptr),
              QUORLIX_SCHEDULES_OK);
  }
  void TearDown() override {
    if (m_hLib) ::dlclose(m_hLib);
    TempDirTest::TearDown();
  }

  std::string PanelByCallback(const QUORLIX_SCHEDULES_OPTIONS* pOptions = nullptr) {
    std::string panel;
    EXPECT_EQ(m_panel(m_db.c_str(), pOptions, Collect, &panel, nullptr), QUORLIX_SCHEDULES_OK);
    return panel;
  }

  int PanelFile(const std::string& database, const std::string& output, QUORLIX_DATABASE_SUMMARY* pSummary = nullptr,
                const QUORLIX_SCHEDULES_OPTIONS* pOptions = nullptr) {
    return m_panelFile(database.c_str(), pOptions, output.c_str(), pSummary);
  }

  // The names in a folder, sorted: what a call left there.
  static std::vector<std::string> NamesIn(const fs::path& folder) {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder)) names.push_back(entry.path().filename());
    std::ranges::sort(names);
    return names;
  }

  void* m_hLib = nullptr;
  decltype(&quorlix_write_schedules_database) m_database = nullptr;
  decltype(&quorlix_write_panel_of_database) m_panel = nullptr;
  decltype(&quorlix_write_panel_of_database_file) m_panelFile = nullptr;
  decltype(&quorlix_last_failure) m_lastFailure = nullptr;
  std::string m_db;
};

TEST_F(DatabasePanelFileTest, TheFileHoldsTheCallbacksPanelWholeAndReplacesAnOldOne) {
  const std::string panel = PanelByCallback();
  ASSERT_GT(std::ranges::count(panel, '\n'), 5);
  WriteFile("panel.csv", "old");
  EXPECT_EQ(PanelFile(m_db, PathOf("panel.csv")), QUORLIX_SCHEDULES_OK);
  EXPECT_EQ(ReadFile(PathOf("panel.csv")), panel);
  // The options reach the panel.
  QUORLIX_SCHEDULES_OPTIONS latest{};
  latest.size = sizeof latest;
  latest.vintage = QUORLIX_VINTAGE_LATEST;
  EXPECT_EQ(PanelFile(m_db, PathOf("latest.csv"), nullptr, &latest), QUORLIX_SCHEDULES_OK);
  EXPECT_EQ(ReadFile(PathOf("latest.csv")), PanelByCallback(&latest));
  // Through a link the file it names is replaced, and the link stays.
  fs::create_directory(m_dir / "real");
  WriteFile("real/p.csv", "old");
  fs::create_symlink("real/p.csv", m_dir / "link.csv");
  EXPECT_EQ(PanelFile(m_db, PathOf("link.csv")), QUORLIX_SCHEDULES_OK);
  EXPECT_TRUE(fs::is_symlink(m_dir / "link.csv"));
  EXPECT_EQ(ReadFile(PathOf("real/p.csv")), panel);
  EXPECT_EQ(NamesIn(m_dir / "real"), std::vector<std::string>{"p.csv"});
  quorlix_failure failure{};
  EXPECT_EQ(m_lastFailure(&failure), 0);
}

TEST_F(DatabasePanelFileTest, ARefusedOrMissingDatabaseLeavesTheFileAsItWas) {
  // An SQLite file that is no Quorlix database, a file that is no SQLite file, and none at all.
  const std::string foreign = PathOf("foreign.sqlite");
  sqlite3* pDb = nullptr;
  ASSERT_EQ(sqlite3_open(foreign.c_str(), &pDb), SQLITE_OK);
  ASSERT_EQ(sqlite3_exec(pDb, "CREATE TABLE t (x)", nullptr, nullptr, nullptr), SQLITE_OK);
  sqlite3_close(pDb);
  const std::string text = WriteFile("notes.txt", "no database\n");
  WriteFile("out.csv", "old");
  for (const std::string& database : {foreign, text}) {
    QUORLIX_DATABASE_SUMMARY summary{};
    EXPECT_EQ(PanelFile(database, PathOf("out.csv"), &summary), QUORLIX_SCHEDULES_DATABASE_REFUSED) << database;
    EXPECT_NE(std::string(summary.problem), "") << database;
    EXPECT_EQ(ReadFile(PathOf("out.csv")), "old");
  }
  QUORLIX_DATABASE_SUMMARY summary{};
  EXPECT_NE(PanelFile(PathOf("none.sqlite"), PathOf("out.csv"), &summary), QUORLIX_SCHEDULES_OK);
  EXPECT_EQ(ReadFile(PathOf("out.csv")), "old");
  EXPECT_FALSE(fs::exists(PathOf("none.sqlite")));
  // The database itself, by any name, is never the output.
  fs::create_symlink("fds.sqlite", m_dir / "db-link");
  const std::string before = ReadFile(m_db);
  EXPECT_EQ(PanelFile(m_db, m_db), QUORLIX_SCHEDULES_BAD_ARGUMENT);
  EXPECT_EQ(PanelFile(m_db, PathOf("db-link")), QUORLIX_SCHEDULES_BAD_ARGUMENT);
  EXPECT_EQ(ReadFile(m_db), before);
  // Nor are a missing path, output or size of options taken.
  QUORLIX_SCHEDULES_OPTIONS tooShort{};
  tooShort.size = 1;
  EXPECT_EQ(m_panelFile(nullptr, nullptr, PathOf("out.csv").c_str(), nullptr), QUORLIX_SCHEDULES_BAD_ARGUMENT);
  EXPECT_EQ(m_panelFile(m_db.c_str(), nullptr, nullptr, nullptr), QUORLIX_SCHEDULES_BAD_ARGUMENT);
  EXPECT_EQ(m_panelFile(m_db.c_str(), nullptr, "", nullptr), QUORLIX_SCHEDULES_BAD_ARGUMENT);
  EXPECT_EQ(PanelFile(m_db, PathOf("out.csv"), nullptr, &tooShort), QUORLIX_SCHEDULES_BAD_ARGUMENT);
  EXPECT_EQ(ReadFile(PathOf("out.csv")), "old");
  // No temporary is left behind (a database's own -wal or -shm files aside).
  std::vector<std::string> names = NamesIn(m_dir);
  std::erase_if(names, [](const std::string& name) { return name.starts_with("fds.sqlite"); });
  EXPECT_EQ(names, (std::vector<std::string>{"db-link", "foreign.sqlite", "notes.txt", "out.csv"}));
}

TEST_F(DatabasePanelFileTest, AFailureOnTheFileIsRecordedNamingIt) {
  quorlix_failure failure{};
  // A missing folder: the temporary could not be made, and the record names it.
  EXPECT_EQ(PanelFile(m_db, PathOf("no/p.csv")), QUORLIX_SCHEDULES_OUTPUT_ERROR);
  EXPECT_EQ(m_lastFailure(&failure), QUORLIX_SCHEDULES_OUTPUT_ERROR);
  EXPECT_EQ(failure.file, QUORLIX_FAILED_FILE_TEMPORARY);
  EXPECT_EQ(failure.operation, QUORLIX_OPERATION_CREATE);
  EXPECT_EQ(failure.error_number, ENOENT);
  const std::string temporary = failure.detail;
  EXPECT_TRUE(temporary.starts_with(PathOf("no/.quorlix-p.csv.")) && temporary.ends_with(".tmp")) << temporary;
  // A folder, and a link to nothing, are the output's own failures; nothing is made through the link.
  EXPECT_EQ(PanelFile(m_db, m_dir.string()), QUORLIX_SCHEDULES_OUTPUT_ERROR);
  m_lastFailure(&failure);
  EXPECT_EQ(failure.file, QUORLIX_FAILED_FILE_OUTPUT);
  EXPECT_EQ(failure.cause, QUORLIX_CAUSE_IS_FOLDER);
  fs::create_symlink("nothing.csv", m_dir / "dangling.csv");
  EXPECT_EQ(PanelFile(m_db, PathOf("dangling.csv")), QUORLIX_SCHEDULES_OUTPUT_ERROR);
  m_lastFailure(&failure);
  EXPECT_EQ(failure.file, QUORLIX_FAILED_FILE_OUTPUT);
  EXPECT_EQ(failure.cause, QUORLIX_CAUSE_NOT_FOUND);
  EXPECT_FALSE(fs::exists(m_dir / "nothing.csv"));
  // A device is written as it stands, its failure recorded too (a full one: no space).
  EXPECT_EQ(PanelFile(m_db, "/dev/null"), QUORLIX_SCHEDULES_OK);
  EXPECT_EQ(PanelFile(m_db, "/dev/full"), QUORLIX_SCHEDULES_OUTPUT_ERROR);
  m_lastFailure(&failure);
  EXPECT_EQ(failure.file, QUORLIX_FAILED_FILE_OUTPUT);
  EXPECT_EQ(failure.error_number, ENOSPC);
  EXPECT_EQ(failure.cause, QUORLIX_CAUSE_NO_SPACE);
  EXPECT_TRUE(fs::is_character_file("/dev/full"));
  // A refused database is SQLite's problem: the record names no file.
  WriteFile("notes.txt", "no database\n");
  EXPECT_EQ(PanelFile(PathOf("notes.txt"), PathOf("p.csv")), QUORLIX_SCHEDULES_DATABASE_REFUSED);
  EXPECT_EQ(m_lastFailure(&failure), QUORLIX_SCHEDULES_DATABASE_REFUSED);
  EXPECT_EQ(failure.file, QUORLIX_FAILED_FILE_NONE);
}

}  // namespace
