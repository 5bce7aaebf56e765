// The panel: periods' lengths, vintages, derived quarters and concepts, on the
// hand-written filings of tests/data/panel and on real ones.
#include "schedules/schedule_panel.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "schedules/schedule_number.h"
#include "schedules/schedule_run.h"
#include "test_support.h"

namespace {

using quorlix_test::DataDir;

// ---- The length of a period ----

std::int32_t Day(std::string_view iso) {
  std::int32_t day = kNoDay;
  EXPECT_TRUE(ReadIsoDay(iso, day)) << iso;
  return day;
}

TEST(PanelPeriodLength, StartAndEndDatesComeFirst) {
  const PeriodLength half = LengthOfPeriod(Day("2000-01-01"), Day("2000-06-30"), Day("2000-12-31"), 6);
  EXPECT_EQ(half.months, 6);
  EXPECT_FALSE(half.conflict);
  // 13 weeks of a 52-53-week year, and a PERIOD-TYPE that says otherwise.
  const PeriodLength quarter = LengthOfPeriod(Day("1998-09-27"), Day("1998-12-26"), kNoDay, 12);
  EXPECT_EQ(quarter.months, 3);
  EXPECT_TRUE(quarter.conflict);
}

TEST(PanelPeriodLength, TheFiscalYearEndGivesTheYearToDate) {
  // One year before SEP-25-1998 to JUN-26-1998 is 274 days: nine months.
  EXPECT_EQ(LengthOfPeriod(kNoDay, Day("1998-06-26"), Day("1998-09-25"), 9).months, 9);
  EXPECT_EQ(LengthOfPeriod(kNoDay, Day("1999-12-31"), Day("1999-12-31"), 0).months, 12);  // a year's own end
  // A PERIOD-TYPE of 6-MOS over nine months: the dates win and the conflict is marked.
  const PeriodLength said = LengthOfPeriod(kNoDay, Day("1997-06-27"), Day("1997-09-26"), 6);
  EXPECT_EQ(said.months, 9);
  EXPECT_TRUE(said.conflict);
  // A 3-MOS schedule of a later quarter holds the quarter's own figures: marked, kept at 3.
  const PeriodLength quarter = LengthOfPeriod(kNoDay, Day("2000-04-01"), Day("2000-09-30"), 3);
  EXPECT_EQ(quarter.months, 3);
  EXPECT_TRUE(quarter.conflict);
}

TEST(PanelPeriodLength, PeriodTypeWhenTheDatesSayNothing) {
  // The fiscal year end before the period's end (last year's), or more than a year after it.
  EXPECT_EQ(LengthOfPeriod(kNoDay, Day("1998-06-30"), Day("1997-12-31"), 6).months, 6);
  EXPECT_EQ(LengthOfPeriod(kNoDay, Day("1998-06-30"), Day("1999-06-30"), 3).months, 3);
  EXPECT_EQ(LengthOfPeriod(kNoDay, Day("1998-06-30"), kNoDay, 0).months, 0);               // nothing known
  EXPECT_EQ(LengthOfPeriod(Day("1999-01-01"), Day("1998-06-30"), kNoDay, 12).months, 12);  // start after end
  EXPECT_FALSE(LengthOfPeriod(kNoDay, Day("1998-06-30"), kNoDay, 6).conflict);
}

TEST(PanelDates, CalendarDatesOnlyAndYearsAddedAlongTheCalendar) {
  std::int32_t day = 0;
  EXPECT_FALSE(ReadIsoDay("1999-02-29", day));
  EXPECT_FALSE(ReadIsoDay("2000-13-01", day));
  EXPECT_FALSE(ReadIsoDay("2000-1-01", day));
  EXPECT_TRUE(ReadIsoDay("2000-02-29", day));
  std::string text;
  AppendIsoDay(text, AddYears(day, -1));
  EXPECT_EQ(text, "1999-02-28");
  text.clear();
  AppendIsoDay(text, Day("1999-12-31") + 1);
  EXPECT_EQ(text, "2000-01-01");
  EXPECT_EQ(Day("1970-01-01"), 0);
}

TEST(PanelNumbers, SumsAreExact) {
  const auto sum = [](std::string_view a, std::string_view b) {
    ScheduleNumber x, y, z;
    EXPECT_TRUE(ParseScheduleNumber(a, x) && ParseScheduleNumber(b, y));
    AddScheduleNumbers(x, y, z);
    std::string out;
    AppendPlainNumber(out, z);
    return out;
  };
  EXPECT_EQ(sum("7081000000", "-5467000000"), "1614000000");
  EXPECT_EQ(sum("-1045000000", "884000000"), "-161000000");
  EXPECT_EQ(sum("0.1", "0.2"), "0.3");
  EXPECT_EQ(sum("1.5", "-1.5"), "0");
  EXPECT_EQ(sum("999999999999999999999999", "1"), "1000000000000000000000000");
  EXPECT_EQ(sum("-0.001", "-2"), "-2.001");
}

// ---- The panel of filings ----

using PanelRow = std::map<std::string, std::string>;

// A CSV table split into records of fields, quotes undone.
std::vector<std::vector<std::string>> ParseCsv(std::string_view text) {
  std::vector<std::vector<std::string>> rows(1, std::vector<std::string>(1));
  bool bQuoted = false;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    std::string& field = rows.back().back();
    if (bQuoted) {
      if (c == '"' && i + 1 < text.size() && text[i + 1] == '"') field += text[i++];
      else if (c == '"') bQuoted = false;
      else field += c;
    } else if (c == '"') {
      bQuoted = true;
    } else if (c == ',') {
      rows.back().emplace_back();
    } else if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') {
      ++i;
      rows.emplace_back(1);
    } else {
      field += c;
    }
  }
  rows.pop_back();
  return rows;
}

std::vector<PanelRow> Records(const std::string& table) {
  const auto rows = ParseCsv(table);
  std::vector<PanelRow> records;
  for (std::size_t i = 1; i < rows.size(); ++i) {
    EXPECT_EQ(rows[i].size(), rows[0].size());
    PanelRow record;
    for (std::size_t k = 0; k < rows[0].size() && k < rows[i].size(); ++k) record[rows[0][k]] = rows[i][k];
    records.push_back(record);
  }
  return records;
}

int AppendTo(void* context, const char* data, std::size_t size) {
  static_cast<std::string*>(context)->append(data, size);
  return 0;
}

std::string TableOf(const std::vector<std::string>& paths, TableForm form,
                    PanelVintage vintage = PanelVintage::kFirst) {
  std::vector<const char*> pointers;
  for (const std::string& path : paths) pointers.push_back(path.c_str());
  std::string table;
  EXPECT_EQ(
      WriteScheduleTable(pointers.data(), pointers.size(), {form, vintage}, 1, AppendTo, &table, nullptr, nullptr),
      QUORLIX_SCHEDULES_OK);
  return table;
}

std::vector<PanelRow> PanelOf(const std::vector<std::string>& paths, PanelVintage vintage = PanelVintage::kFirst) {
  return Records(TableOf(paths, TableForm::kPanel, vintage));
}

std::string PanelData(const char* name) { return (DataDir() / "panel" / name).string(); }

// The row of a period: "period_end/months" or "period_end/months/derived".
const PanelRow& RowOf(const std::vector<PanelRow>& rows, const std::string& cik, const std::string& key) {
  for (const PanelRow& row : rows) {
    const std::string rowKey = row.at("period_end") + "/" + row.at("months");
    if (row.at("cik") == cik && (rowKey == key || rowKey + "/" + row.at("derived") == key)) return row;
  }
  ADD_FAILURE() << "no row " << cik << " " << key;
  static const PanelRow kNone;
  return kNone;
}

std::string Get(const PanelRow& row, const std::string& column) {
  const auto it = row.find(column);
  return it == row.end() ? "<no column>" : it->second;
}

std::vector<std::string> FiscalYear1999() {
  return {PanelData("example_10q_1999q3.txt"), PanelData("example_10k_1999_restating_two_years.txt"),
          PanelData("example_10q_1999q1.txt"), PanelData("example_10q_1999q2.txt")};
}

class PanelFiscalYear : public quorlix_test::TempDirTest {};

TEST_F(PanelFiscalYear, ATenKAndThreeYearToDateTenQsGiveFourQuarters) {
  const auto rows = PanelOf(FiscalYear1999());
  // Sorted by key: 1997 and 1998 restated, then 1999's rows, each quarter after the row it is derived from.
  std::vector<std::string> keys;
  for (const PanelRow& row : rows)
    keys.push_back(row.at("period_end") + "/" + row.at("months") + "/" + row.at("derived"));
  EXPECT_EQ(keys, (std::vector<std::string>{"1997-12-31/12/0", "1998-12-31/12/0", "1999-03-31/3/0", "1999-06-30/3/1",
                                            "1999-06-30/6/0", "1999-09-30/3/1", "1999-09-30/9/0", "1999-12-31/3/1",
                                            "1999-12-31/12/0"}));
  const struct {
    const char* key;
    const char* start;
    const char* revenue;
    const char* netIncome;
    const char* totalAssets;
    const char* accessions;
  } quarters[] = {
      {"1999-06-30/3/1", "1999-04-01", "1100000", "130000", "5200000", "0009990001-99-000005;0009990001-99-000008"},
      {"1999-09-30/3/1", "1999-07-01", "1200000", "130000", "5400000", "0009990001-99-000008;0009990001-99-000011"},
      {"1999-12-31/3/1", "1999-10-01", "1300000", "140000", "5800000", "0009990001-99-000011;0009990001-00-000003"},
  };
  for (const auto& quarter : quarters) {
    const PanelRow& row = RowOf(rows, "9990001", quarter.key);
    EXPECT_EQ(Get(row, "period_start"), quarter.start);
    EXPECT_EQ(Get(row, "revenue"), quarter.revenue) << quarter.key;
    EXPECT_EQ(Get(row, "TOTAL-REVENUES"), quarter.revenue);
    EXPECT_EQ(Get(row, "net_income"), quarter.netIncome) << quarter.key;
    EXPECT_EQ(Get(row, "total_assets"), quarter.totalAssets) << quarter.key;  // a stock: the later row's
    EXPECT_EQ(Get(row, "accession_number"), quarter.accessions);
    EXPECT_EQ(Get(row, "eps_basic") + Get(row, "EPS-BASIC") + Get(row, "period_type") + Get(row, "vintages"), "");
    EXPECT_EQ(Get(row, "multiplier") + "|" + Get(row, "multiplier_source"), "1000|written");
  }
  const PanelRow& q4 = RowOf(rows, "9990001", "1999-12-31/3/1");
  EXPECT_EQ(Get(q4, "form_type"), "10-Q;10-K");
  EXPECT_EQ(Get(q4, "schedule"), "1;1");
  EXPECT_EQ(Get(q4, "path"),
            PanelData("example_10q_1999q3.txt") + ";" + PanelData("example_10k_1999_restating_two_years.txt"));
  const PanelRow& year = RowOf(rows, "9990001", "1999-12-31/12/0");
  EXPECT_EQ(Get(year, "eps_basic") + "|" + Get(year, "eps_diluted") + "|" + Get(year, "vintages"), "5|4.8|1");
  EXPECT_EQ(Get(RowOf(rows, "9990001", "1999-09-30/9/0"), "period_start"), "1999-01-01");
}

TEST_F(PanelFiscalYear, AReportedQuarterTakesThePlaceOfADerivedOne) {
  // Apple's 2000 10-Qs report three months each: no quarter is derived between them.
  const auto rows = PanelOf({(DataDir() / "filing" / "apple_10q_2000q1_ex27.txt").string(),
                             (DataDir() / "schedules" / "apple_10q_2000q2_ex27.txt").string()});
  ASSERT_EQ(rows.size(), 2u);
  EXPECT_EQ(Get(rows[1], "months") + "|" + Get(rows[1], "derived"), "3|0");
  // A year-to-date pair whose later end already has a reported three-month row derives nothing there.
  auto withQuarter = FiscalYear1999();
  const std::string quarter = quorlix_test::ReadFile(PanelData("example_10q_1999q2.txt"));
  std::string reported = quarter;
  for (const auto& [from, to] : std::vector<std::pair<std::string, std::string>>{
           {"6-MOS", "3-MOS"}, {"0009990001-99-000008", "0009990001-99-000009"}, {"2,100", "1,150"}})
    for (std::size_t at; (at = reported.find(from)) != std::string::npos;) reported.replace(at, from.size(), to);
  withQuarter.push_back(WriteFile("reported_quarter.txt", reported));
  const auto rows2 = PanelOf(withQuarter);
  const PanelRow& q2 = RowOf(rows2, "9990001", "1999-06-30/3");
  EXPECT_EQ(Get(q2, "derived") + "|" + Get(q2, "revenue"), "0|1150000");
  for (const PanelRow& row : rows2) EXPECT_FALSE(row.at("period_end") == "1999-06-30" && row.at("derived") == "1");
}

TEST(PanelVintages, AnAmendmentReplacesAFigureOnlyForTheLatest) {
  auto paths = FiscalYear1999();
  paths.push_back(PanelData("example_10ka_1999.txt"));
  const auto first = PanelOf(paths, PanelVintage::kFirst);
  const auto latest = PanelOf(paths, PanelVintage::kLatest);
  const PanelRow& original = RowOf(first, "9990001", "1999-12-31/12/0");
  const PanelRow& amended = RowOf(latest, "9990001", "1999-12-31/12/0");
  EXPECT_EQ(Get(original, "net_income") + "|" + Get(original, "form_type") + "|" + Get(original, "vintages"),
            "500000|10-K|2");
  EXPECT_EQ(Get(amended, "net_income") + "|" + Get(amended, "form_type") + "|" + Get(amended, "vintages"),
            "480000|10-K/A|2");
  EXPECT_EQ(Get(RowOf(first, "9990001", "1999-12-31/3/1"), "net_income"), "140000");
  EXPECT_EQ(Get(RowOf(latest, "9990001", "1999-12-31/3/1"), "net_income"), "120000");
}

TEST(PanelVintages, RestatedYearsOfALaterTenKAreCandidatesMarkedRestated) {
  auto paths = FiscalYear1999();
  paths.push_back(PanelData("example_10k_1998.txt"));
  const auto first = PanelOf(paths, PanelVintage::kFirst);
  const auto latest = PanelOf(paths, PanelVintage::kLatest);
  // 1998: the original 10-K (filed 1999) first; the EX-27.1 restating it (filed 2000) latest.
  const PanelRow& original = RowOf(first, "9990001", "1998-12-31/12/0");
  EXPECT_EQ(Get(original, "net_income") + "|" + Get(original, "restated") + "|" + Get(original, "filed"),
            "400000|0|1999-03-20");
  const PanelRow& restated = RowOf(latest, "9990001", "1998-12-31/12/0");
  EXPECT_EQ(Get(restated, "net_income") + "|" + Get(restated, "restated") + "|" + Get(restated, "schedule"),
            "390000|1|2");
  EXPECT_EQ(Get(restated, "vintages"), "2");
  // 1997 has only the EX-27.2, whose period is its own year, not the filing's.
  const PanelRow& older = RowOf(first, "9990001", "1997-12-31/12/0");
  EXPECT_EQ(Get(older, "net_income") + "|" + Get(older, "schedule") + "|" + Get(older, "fiscal_year_end"),
            "300000|3|1997-12-31");
}

TEST(PanelVintages, TiesGoToTheEarlierInput) {
  // The same filing twice, whole and cut off: one key, two candidates filed the same day.
  const std::string whole = (DataDir() / "filing" / "apple_10q_2000q1_ex27.txt").string();
  const std::string cut = (DataDir() / "schedules" / "apple_10q_2000q1_cut_in_schedule.txt").string();
  for (const PanelVintage vintage : {PanelVintage::kFirst, PanelVintage::kLatest}) {
    EXPECT_EQ(Get(PanelOf({whole, cut}, vintage).at(0), "path"), whole);
    const auto rows = PanelOf({cut, whole}, vintage);
    EXPECT_EQ(Get(rows.at(0), "path"), cut);
    EXPECT_EQ(Get(rows.at(0), "vintages"), "2");
    EXPECT_EQ(Get(rows.at(0), "total_assets"), "");  // cut off: not a number
  }
}

TEST(PanelPeriods, ARealTenQWhosePeriodTypeContradictsItsDates) {
  const auto rows = PanelOf({PanelData("apple_10q_1997q3_ex27_excerpt_six_months_said.txt"),
                             (DataDir() / "filing" / "apple_10k_1997_ex27.txt").string()});
  const PanelRow& said = RowOf(rows, "320193", "1997-06-27/9/0");
  EXPECT_EQ(Get(said, "period_type") + "|" + Get(said, "period_type_conflict"), "6-MOS|1");
  EXPECT_EQ(Get(said, "revenue"), "5467000000");  // nine months of sales
  // The fourth quarter: the year less nine months, Apple's reported $1,614 million and loss of $161 million.
  const PanelRow& q4 = RowOf(rows, "320193", "1997-09-26/3/1");
  EXPECT_EQ(Get(q4, "period_start") + "|" + Get(q4, "revenue") + "|" + Get(q4, "net_income"),
            "1997-06-28|1614000000|-161000000");
}

TEST(PanelPeriods, ApplesFiscal1998QuartersAreThoseItsTenQsReport) {
  const auto rows =
      PanelOf({PanelData("apple_10q_1998q1_ex27_excerpt.txt"), PanelData("apple_10q_1998q2_ex27_excerpt.txt"),
               (DataDir() / "filing" / "apple_10q_1998q3_ex27_flawed_tabs.txt").string()});
  // The 10-Qs' statements of operations give these three-month figures.
  EXPECT_EQ(Get(RowOf(rows, "320193", "1997-12-26/3/0"), "revenue"), "1578000000");
  const PanelRow& q2 = RowOf(rows, "320193", "1998-03-27/3/1");
  EXPECT_EQ(Get(q2, "revenue") + "|" + Get(q2, "net_income"), "1405000000|55000000");
  const PanelRow& q3 = RowOf(rows, "320193", "1998-06-26/3/1");
  EXPECT_EQ(Get(q3, "revenue") + "|" + Get(q3, "net_income"), "1402000000|101000000");
}

TEST(PanelConcepts, ABankAndAFundWithTwoSeries) {
  const auto rows = PanelOf({(DataDir() / "schedules" / "bank_10k_1997_article9.txt").string(),
                             (DataDir() / "schedules" / "fund_n30d_1997_article6_two_series.txt").string()});
  ASSERT_EQ(rows.size(), 3u);
  const PanelRow& bank = rows[0];
  EXPECT_EQ(Get(bank, "article") + "|" + Get(bank, "revenue") + "|" + Get(bank, "net_income") + "|" +
                Get(bank, "total_assets") + "|" + Get(bank, "eps_basic") + "|" + Get(bank, "eps_diluted"),
            "9||30987000|2698754000|2.51|2.47");
  EXPECT_EQ(Get(bank, "YIELD-ACTUAL"), "4.62");  // a ratio: not scaled
  // The fund's two series are two rows of one company and period.
  EXPECT_EQ(Get(rows[1], "series") + "|" + Get(rows[2], "series"), "011|012");
  EXPECT_EQ(Get(rows[1], "cik"), Get(rows[2], "cik"));
  EXPECT_EQ(Get(rows[1], "period_end") + "|" + Get(rows[1], "months"), "1997-12-31|12");
  EXPECT_EQ(Get(rows[1], "net_income") + Get(rows[1], "revenue") + Get(rows[1], "eps_basic"), "");
  EXPECT_NE(Get(rows[1], "total_assets"), "");
  EXPECT_EQ(Get(rows[1], "series") + "|" + Get(rows[1], "PER-SHARE-NAV-END"), "011|21.3");
}

// On every filing of the test data, a reported row of the panel holds the
// wide form's cells of its schedule, and its concepts are those cells.
TEST(PanelConsistency, ReportedRowsCarryTheWideFormsValues) {
  std::vector<std::string> paths;
  for (const char* folder : {"filing", "schedules", "panel"})
    for (const auto& entry : std::filesystem::directory_iterator(DataDir() / folder))
      if (entry.path().extension() == ".txt") paths.push_back(entry.path().string());
  std::ranges::sort(paths);
  const auto wideRows = Records(TableOf(paths, TableForm::kWide));
  for (const PanelVintage vintage : {PanelVintage::kFirst, PanelVintage::kLatest}) {
    std::size_t nReported = 0;
    for (const PanelRow& row : PanelOf(paths, vintage)) {
      if (row.at("derived") != "0") continue;
      ++nReported;
      const auto it = std::ranges::find_if(wideRows, [&](const PanelRow& wide) {
        return wide.at("path") == row.at("path") && wide.at("schedule") == row.at("schedule");
      });
      ASSERT_NE(it, wideRows.end()) << row.at("path");
      const PanelRow& wide = *it;
      EXPECT_EQ(row.at("accession_number"), wide.at("accession_number"));
      EXPECT_EQ(row.at("multiplier"), wide.at("multiplier"));
      for (const auto& [column, value] : row) {
        const bool bTag = column.find_first_of("abcdefghijklmnopqrstuvwxyz") == std::string::npos;
        if (bTag) {
          EXPECT_EQ(value, wide.count(column) ? wide.at(column) : "") << row.at("path") << " " << column;
        }
      }
      const bool bArticleFive = row.at("article") == "5";
      EXPECT_EQ(row.at("net_income"),
                wide.count("NET-INCOME") && row.at("article") != "6" ? wide.at("NET-INCOME") : "");
      EXPECT_EQ(row.at("total_assets"), wide.at("TOTAL-ASSETS"));
      if (bArticleFive) {
        EXPECT_EQ(row.at("revenue"), wide.at("TOTAL-REVENUES"));
      }
      const std::string basic = wide.count("EPS-BASIC") ? wide.at("EPS-BASIC") : "";
      if (row.at("article") != "6") {
        EXPECT_EQ(row.at("eps_basic"), !basic.empty()              ? basic
                                       : wide.count("EPS-PRIMARY") ? wide.at("EPS-PRIMARY")
                                                                   : "");
      }
    }
    EXPECT_GE(nReported, 15u);
  }
}

}  // namespace
