// Every value of every schedule of the real sample filings, and of the
// hand-written bank and fund filings, as the long form writes it. The expected
// rows were written by hand from the filings' text: the raw value as it stands,
// its plain number or ISO date, and that number times the schedule's multiplier.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "quorlix.h"
#include "schedules/schedule_input.h"
#include "schedules/schedule_table.h"
#include "schedules/tag_dictionary.h"
#include "test_support.h"

namespace {

using quorlix_test::DataDir;
using quorlix_test::ReadFile;

struct Row {
  std::string tag;
  std::string raw;
  std::string value;
  std::string scaled;
};

// A long form's rows split into fields (quotes undone).
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
  rows.pop_back();  // after the last line end
  return rows;
}

class ChunksInto final : public ChunkSink {
 public:
  explicit ChunksInto(std::string& text) : m_text(text) {}
  void TakeChunk(std::string& chunk) override { m_text += chunk; }

 private:
  std::string& m_text;
};

// The long form's rows of one filing, read from disk as the run reads it.
std::vector<std::vector<std::string>> LongRowsOf(const std::string& path) {
  std::string text;
  ChunksInto chunks(text);
  LongTable table;
  table.StartInput(path, chunks);
  ScheduleReader reader(table);
  ByteBuffer pBlock = AllocateByteBuffer(kScheduleBlockBytes);
  InputReading reading;
  ReadScheduleInput(path, reader, pBlock, reading);
  EXPECT_EQ(reading.status, QUORLIX_OK);
  text += table.Rest();
  return ParseCsv(text);
}

// Checks every row of a filing's one schedule: the columns from accession_number
// to multiplier (comma-separated, as fixed), restated and multiplier_source,
// then tag, raw, value and scaled; path is the filing's, member empty.
void ExpectSchedule(const std::string& path, const std::string& fixed, const std::vector<Row>& expected,
                    std::size_t nFirstRow = 0, const std::string& restatedAndSource = "0,written") {
  const auto rows = LongRowsOf(path);
  ASSERT_GE(rows.size(), nFirstRow + expected.size()) << path;
  for (std::size_t i = 0; i < expected.size(); ++i) {
    const std::vector<std::string>& row = rows[nFirstRow + i];
    ASSERT_EQ(row.size(), 25u) << path << " row " << i;
    std::string fixedColumns;
    for (std::size_t k = 2; k < 19; ++k) fixedColumns += (k > 2 ? "," : "") + row[k];
    EXPECT_EQ(row[0], path);
    EXPECT_EQ(row[1], "");  // no member: a plain file
    EXPECT_EQ(fixedColumns, fixed) << path << " row " << i;
    EXPECT_EQ(row[19] + "," + row[20], restatedAndSource) << path << " row " << i;
    EXPECT_EQ(row[21], expected[i].tag) << path << " row " << i;
    EXPECT_EQ(row[22], expected[i].raw) << expected[i].tag;
    EXPECT_EQ(row[23], expected[i].value) << expected[i].tag;
    EXPECT_EQ(row[24], expected[i].scaled) << expected[i].tag;
  }
}

std::string Filing(const char* name) { return (DataDir() / "filing" / name).string(); }
std::string ScheduleData(const char* name) { return (DataDir() / "schedules" / name).string(); }

TEST(ScheduleRealFilings, TenK1994FramedByImsInThousands) {
  const std::string path = Filing("apple_10k_1994_ims_ex27.txt");
  EXPECT_EQ(LongRowsOf(path).size(), 37u);
  ExpectSchedule(path,
                 "0000320193-94-000016,320193,APPLE COMPUTER INC,10-K,1994-12-13,1994-09-30,3571,0930,EX-27,"
                 "ART. 5 FDS FOR FY94 FORM 10-K,1,5,,,0,1,1000",
                 {{"ARTICLE", "5", "5", ""},
                  {"MULTIPLIER", "1,000", "1000", ""},
                  {"PERIOD-TYPE", "YEAR", "", ""},
                  {"FISCAL-YEAR-END", "SEP-30-1994", "1994-09-30", ""},
                  {"PERIOD-END", "SEP-30-1994", "1994-09-30", ""},
                  {"CASH", "1,203,488", "1203488", "1203488000"},
                  {"SECURITIES", "54,368", "54368", "54368000"},
                  {"RECEIVABLES", "1,672,339", "1672339", "1672339000"},
                  {"ALLOWANCES", "90,992", "90992", "90992000"},
                  {"INVENTORY", "1,088,434", "1088434", "1088434000"},
                  {"CURRENT-ASSETS", "4,476,452", "4476452", "4476452000"},
                  {"PP&E", "1,452,188", "1452188", "1452188000"},
                  {"DEPRECIATION", "785,088", "785088", "785088000"},
                  {"TOTAL-ASSETS", "5,302,746", "5302746", "5302746000"},
                  {"CURRENT-LIABILITIES", "1,944,305", "1944305", "1944305000"},
                  {"BONDS", "304,472", "304472", "304472000"},
                  {"COMMON", "297,929", "297929", "297929000"},
                  {"PREFERRED-MANDATORY", "0", "0", "0"},
                  {"PREFERRED", "0", "0", "0"},
                  {"OTHER-SE", "2,085,372", "2085372", "2085372000"},
                  {"TOTAL-LIABILITY-AND-EQUITY", "5,302,746", "5302746", "5302746000"},
                  {"SALES", "9,188,748", "9188748", "9188748000"},
                  {"TOTAL-REVENUES", "9,188,748", "9188748", "9188748000"},
                  {"CGS", "6,844,915", "6844915", "6844915000"},
                  {"TOTAL-COSTS", "6,844,915", "6844915", "6844915000"},
                  {"OTHER-EXPENSES", "1,821,559", "1821559", "1821559000"},
                  {"LOSS-PROVISION", "0", "0", "0"},
                  {"INTEREST-EXPENSE", "39,653", "39653", "39653000"},
                  {"INCOME-PRETAX", "500,286", "500286", "500286000"},
                  {"INCOME-TAX", "190,108", "190108", "190108000"},
                  {"INCOME-CONTINUING", "310,178", "310178", "310178000"},
                  {"DISCONTINUED", "0", "0", "0"},
                  {"EXTRAORDINARY", "0", "0", "0"},
                  {"CHANGES", "0", "0", "0"},
                  {"NET-INCOME", "310,178", "310178", "310178000"},
                  {"EPS-PRIMARY", "2.61", "2.61", "2.61"},
                  {"EPS-DILUTED", "2.61", "2.61", "2.61"}});
}

TEST(ScheduleRealFilings, TenK1997NegativesInParenthesesInMillions) {
  const std::string path = Filing("apple_10k_1997_ex27.txt");
  EXPECT_EQ(LongRowsOf(path).size(), 37u);
  ExpectSchedule(path,
                 "0001047469-97-006960,320193,APPLE COMPUTER INC,10-K,1997-12-05,1997-09-26,3571,0930,EX-27,"
                 "EXHIBIT 27,1,5,,,0,1,1000000",
                 {{"ARTICLE", "5", "5", ""},
                  {"MULTIPLIER", "1,000,000", "1000000", ""},
                  {"PERIOD-TYPE", "YEAR", "", ""},
                  {"FISCAL-YEAR-END", "SEP-26-1997", "1997-09-26", ""},
                  {"PERIOD-END", "SEP-26-1997", "1997-09-26", ""},
                  {"CASH", "1,230", "1230", "1230000000"},
                  {"SECURITIES", "229", "229", "229000000"},
                  {"RECEIVABLES", "1,134", "1134", "1134000000"},
                  {"ALLOWANCES", "99", "99", "99000000"},
                  {"INVENTORY", "437", "437", "437000000"},
                  {"CURRENT-ASSETS", "3,424", "3424", "3424000000"},
                  {"PP&E", "1,195", "1195", "1195000000"},
                  {"DEPRECIATION", "709", "709", "709000000"},
                  {"TOTAL-ASSETS", "4,233", "4233", "4233000000"},
                  {"CURRENT-LIABILITIES", "1,818", "1818", "1818000000"},
                  {"BONDS", "951", "951", "951000000"},
                  {"PREFERRED-MANDATORY", "0", "0", "0"},
                  {"PREFERRED", "150", "150", "150000000"},
                  {"COMMON", "498", "498", "498000000"},
                  {"OTHER-SE", "552", "552", "552000000"},
                  {"TOTAL-LIABILITY-AND-EQUITY", "4,233", "4233", "4233000000"},
                  {"SALES", "7,081", "7081", "7081000000"},
                  {"TOTAL-REVENUES", "7,081", "7081", "7081000000"},
                  {"CGS", "5,713", "5713", "5713000000"},
                  {"TOTAL-COSTS", "5,713", "5713", "5713000000"},
                  {"OTHER-EXPENSES", "2,438", "2438", "2438000000"},
                  {"LOSS-PROVISION", "0", "0", "0"},
                  {"INTEREST-EXPENSE", "(72)", "-72", "-72000000"},
                  {"INCOME-PRETAX", "(1,045)", "-1045", "-1045000000"},
                  {"INCOME-TAX", "0", "0", "0"},
                  {"INCOME-CONTINUING", "(1,045)", "-1045", "-1045000000"},
                  {"DISCONTINUED", "0", "0", "0"},
                  {"EXTRAORDINARY", "0", "0", "0"},
                  {"CHANGES", "0", "0", "0"},
                  {"NET-INCOME", "(1,045)", "-1045", "-1045000000"},
                  {"EPS-PRIMARY", "(8.29)", "-8.29", "-8.29"},
                  {"EPS-DILUTED", "(8.29)", "-8.29", "-8.29"}});
}

TEST(ScheduleRealFilings, TenQ1998FlawedWithTabs) {
  const std::string path = Filing("apple_10q_1998q3_ex27_flawed_tabs.txt");
  EXPECT_EQ(LongRowsOf(path).size(), 37u);
  ExpectSchedule(path,
                 "0000320193-98-000008,320193,APPLE COMPUTER INC,10-Q,1998-08-10,1998-06-26,3571,0930,EX-27,"
                 "ART. 5 FDS FOR FY98 FORM 10-K,1,5,,,1,1,1000000",
                 {{"ARTICLE", "5", "5", ""},
                  {"MULTIPLIER", "1,000,000", "1000000", ""},
                  {"PERIOD-TYPE", "9-MOS", "", ""},
                  {"FISCAL-YEAR-END", "SEP-25-1998", "1998-09-25", ""},
                  {"PERIOD-END", "JUN-26-1998", "1998-06-26", ""},
                  {"CASH", "1,203", "1203", "1203000000"},
                  {"SECURITIES", "790", "790", "790000000"},
                  {"RECEIVABLES", "1,005", "1005", "1005000000"},
                  {"ALLOWANCES", "90", "90", "90000000"},
                  {"INVENTORY", "129", "129", "129000000"},
                  {"CURRENT-ASSETS", "3,375", "3375", "3375000000"},
                  {"PP&E", "958", "958", "958000000"},
                  {"DEPRECIATION", "593", "593", "593000000"},
                  {"TOTAL-ASSETS", "4,041", "4041", "4041000000"},
                  {"CURRENT-LIABILITIES", "1,602", "1602", "1602000000"},
                  {"BONDS", "953", "953", "953000000"},
                  {"COMMON", "592", "592", "592000000"},
                  {"PREFERRED-MANDATORY", "0", "0", "0"},
                  {"PREFERRED", "150", "150", "150000000"},
                  {"OTHER-SE", "744", "744", "744000000"},
                  {"TOTAL-LIABILITY-AND-EQUITY", "4,041", "4041", "4041000000"},
                  {"SALES", "4,385", "4385", "4385000000"},
                  {"TOTAL-REVENUES", "4,385", "4385", "4385000000"},
                  {"CGS", "3,323", "3323", "3323000000"},
                  {"TOTAL-COSTS", "3,323", "3323", "3323000000"},
                  {"OTHER-EXPENSES", "910", "910", "910000000"},
                  {"LOSS-PROVISION", "0", "0", "0"},
                  {"INTEREST-EXPENSE", "46", "46", "46000000"},
                  {"INCOME-PRETAX", "215", "215", "215000000"},
                  {"INCOME-TAX", "12", "12", "12000000"},
                  {"INCOME-CONTINUING", "203", "203", "203000000"},
                  {"DISCONTINUED", "0", "0", "0"},
                  {"EXTRAORDINARY", "0", "0", "0"},
                  {"CHANGES", "0", "0", "0"},
                  {"NET-INCOME", "203", "203", "203000000"},
                  {"EPS-PRIMARY", "1.55", "1.55", "1.55"},
                  {"EPS-DILUTED", "1.40", "1.4", "1.4"}});
}

TEST(ScheduleRealFilings, TenQ2000WithEpsBasic) {
  const std::string path = Filing("apple_10q_2000q1_ex27.txt");
  EXPECT_EQ(LongRowsOf(path).size(), 37u);
  ExpectSchedule(path,
                 "0000912057-00-003201,320193,APPLE COMPUTER INC,10-Q,2000-02-01,2000-01-01,3571,0930,EX-27,"
                 "EX-27,1,5,,,0,1,1000000",
                 {{"ARTICLE", "5", "5", ""},
                  {"MULTIPLIER", "1,000,000", "1000000", ""},
                  {"PERIOD-TYPE", "3-MOS", "", ""},
                  {"FISCAL-YEAR-END", "SEP-30-2000", "2000-09-30", ""},
                  {"PERIOD-END", "JAN-01-2000", "2000-01-01", ""},
                  {"CASH", "1,586", "1586", "1586000000"},
                  {"SECURITIES", "2,074", "2074", "2074000000"},
                  {"RECEIVABLES", "958", "958", "958000000"},
                  {"ALLOWANCES", "66", "66", "66000000"},
                  {"INVENTORY", "15", "15", "15000000"},
                  {"CURRENT-ASSETS", "4,909", "4909", "4909000000"},
                  {"PP&E", "725", "725", "725000000"},
                  {"DEPRECIATION", "407", "407", "407000000"},
                  {"TOTAL-ASSETS", "7,586", "7586", "7586000000"},
                  {"CURRENT-LIABILITIES", "1,965", "1965", "1965000000"},
                  {"BONDS", "300", "300", "300000000"},
                  {"PREFERRED-MANDATORY", "0", "0", "0"},
                  {"PREFERRED", "150", "150", "150000000"},
                  {"COMMON", "1,345", "1345", "1345000000"},
                  {"OTHER-SE", "1,237", "1237", "1237000000"},
                  {"TOTAL-LIABILITY-AND-EQUITY", "7,586", "7586", "7586000000"},
                  {"SALES", "2,343", "2343", "2343000000"},
                  {"TOTAL-REVENUES", "2,343", "2343", "2343000000"},
                  {"CGS", "1,736", "1736", "1736000000"},
                  {"TOTAL-COSTS", "1,736", "1736", "1736000000"},
                  {"OTHER-EXPENSES", "507", "507", "507000000"},
                  {"LOSS-PROVISION", "0", "0", "0"},
                  {"INTEREST-EXPENSE", "5", "5", "5000000"},
                  {"INCOME-PRETAX", "274", "274", "274000000"},
                  {"INCOME-TAX", "91", "91", "91000000"},
                  {"INCOME-CONTINUING", "183", "183", "183000000"},
                  {"DISCONTINUED", "0", "0", "0"},
                  {"EXTRAORDINARY", "0", "0", "0"},
                  {"CHANGES", "0", "0", "0"},
                  {"NET-INCOME", "183", "183", "183000000"},
                  {"EPS-BASIC", "1.14", "1.14", "1.14"},
                  {"EPS-DILUTED", "1.03", "1.03", "1.03"}});
}

TEST(ScheduleRealFilings, TenQ2000SecondQuarter) {
  const std::string path = ScheduleData("apple_10q_2000q2_ex27.txt");
  EXPECT_EQ(LongRowsOf(path).size(), 37u);
  ExpectSchedule(path,
                 "0000912057-00-023442,320193,APPLE COMPUTER INC,10-Q,2000-05-11,2000-04-01,3571,0930,EX-27,"
                 "EX 27,1,5,,,0,1,1000000",
                 {{"ARTICLE", "5", "5", ""},
                  {"MULTIPLIER", "1,000,000", "1000000", ""},
                  {"PERIOD-TYPE", "3-MOS", "", ""},
                  {"FISCAL-YEAR-END", "SEP-30-2000", "2000-09-30", ""},
                  {"PERIOD-END", "APR-01-2000", "2000-04-01", ""},
                  {"CASH", "1,662", "1662", "1662000000"},
                  {"SECURITIES", "1,947", "1947", "1947000000"},
                  {"RECEIVABLES", "1,004", "1004", "1004000000"},
                  {"ALLOWANCES", "64", "64", "64000000"},
                  {"INVENTORY", "10", "10", "10000000"},
                  {"CURRENT-ASSETS", "4,912", "4912", "4912000000"},
                  {"PP&E", "723", "723", "723000000"},
                  {"DEPRECIATION", "409", "409", "409000000"},
                  {"TOTAL-ASSETS", "7,007", "7007", "7007000000"},
                  {"CURRENT-LIABILITIES", "1,853", "1853", "1853000000"},
                  {"BONDS", "300", "300", "300000000"},
                  {"PREFERRED-MANDATORY", "1,419", "1419", "1419000000"},
                  {"PREFERRED", "0", "0", "0"},
                  {"COMMON", "150", "150", "150000000"},
                  {"OTHER-SE", "731", "731", "731000000"},
                  {"TOTAL-LIABILITY-AND-EQUITY", "7,007", "7007", "7007000000"},
                  {"SALES", "1,945", "1945", "1945000000"},
                  {"TOTAL-REVENUES", "1,945", "1945", "1945000000"},
                  {"CGS", "1,396", "1396", "1396000000"},
                  {"TOTAL-COSTS", "1,396", "1396", "1396000000"},
                  {"OTHER-EXPENSES", "379", "379", "379000000"},
                  {"LOSS-PROVISION", "0", "0", "0"},
                  {"INTEREST-EXPENSE", "5", "5", "5000000"},
                  {"INCOME-PRETAX", "319", "319", "319000000"},
                  {"INCOME-TAX", "86", "86", "86000000"},
                  {"INCOME-CONTINUING", "233", "233", "233000000"},
                  {"DISCONTINUED", "0", "0", "0"},
                  {"EXTRAORDINARY", "0", "0", "0"},
                  {"CHANGES", "0", "0", "0"},
                  {"NET-INCOME", "233", "233", "233000000"},
                  {"EPS-BASIC", "1.44", "1.44", "1.44"},
                  {"EPS-DILUTED", "1.28", "1.28", "1.28"}});
}

TEST(ScheduleRealFilings, FilingsWithoutAScheduleGiveNoRows) {
  EXPECT_TRUE(LongRowsOf((DataDir() / "verify" / "apple_8k_2000_no_ex27.txt").string()).empty());
  EXPECT_TRUE(LongRowsOf((DataDir() / "win32" / "fund_24f2nt_1995_no_ex27.txt").string()).empty());
}

TEST(ScheduleRealFilings, ACutOffDownloadKeepsWhatItHoldsAsIncomplete) {
  const std::string path = ScheduleData("apple_10q_2000q1_cut_in_schedule.txt");
  const auto rows = LongRowsOf(path);
  ASSERT_EQ(rows.size(), 14u);  // ARTICLE to DEPRECIATION, and the cut TOTAL-ASSETS
  ExpectSchedule(path,
                 "0000912057-00-003201,320193,APPLE COMPUTER INC,10-Q,2000-02-01,2000-01-01,3571,0930,EX-27,"
                 "EX-27,1,5,,,0,0,1000000",
                 {{"DEPRECIATION", "407", "407", "407000000"}, {"TOTAL-ASSETS", "7,5", "", ""}}, 12);
}

// ---- Written by hand from the published tag lists ----

TEST(ScheduleHandWrittenFilings, ABanksArticleNineScheduleWhole) {
  const std::string path = ScheduleData("bank_10k_1997_article9.txt");
  EXPECT_EQ(LongRowsOf(path).size(), 53u);  // the tag lines of the 10-K's text and of the legend do not count
  ExpectSchedule(path,
                 "0000950109-98-001234,712345,FIRST EXAMPLE BANCORP INC,10-K,1998-03-26,1997-12-31,6021,1231,EX-27,"
                 "ART. 9 FDS FOR THE BANK\xE2\x80\x99S 1997 10-K,1,9,,,0,1,1000",
                 {{"ARTICLE", "9", "9", ""},
                  {"MULTIPLIER", "1,000", "1000", ""},
                  {"PERIOD-TYPE", "YEAR", "", ""},
                  {"FISCAL-YEAR-END", "DEC-31-1997", "1997-12-31", ""},
                  {"PERIOD-END", "DEC-31-1997", "1997-12-31", ""},
                  {"CASH", "102,345", "102345", "102345000"},
                  {"INT-BEARING-DEPOSITS", "1,250", "1250", "1250000"},
                  {"FED-FUNDS-SOLD", "35,000", "35000", "35000000"},
                  {"TRADING-ASSETS", "0", "0", "0"},
                  {"INVESTMENTS-HELD-FOR-SALE", "412,876", "412876", "412876000"},
                  {"INVESTMENTS-CARRYING", "88,410", "88410", "88410000"},
                  {"INVESTMENTS-MARKET", "90,125", "90125", "90125000"},
                  {"LOANS", "1,876,543", "1876543", "1876543000"},  // its footnote mark gone
                  {"ALLOWANCE", "24,310", "24310", "24310000"},
                  {"TOTAL-ASSETS", "2,698,754", "2698754", "2698754000"},
                  {"DEPOSITS", "2,101,987", "2101987", "2101987000"},
                  {"SHORT-TERM", "187,654", "187654", "187654000"},
                  {"LIABILITIES-OTHER", "23,456", "23456", "23456000"},
                  {"LONG-TERM", "125,000", "125000", "125000000"},
                  {"PREFERRED-MANDATORY", "0", "0", "0"},
                  {"PREFERRED", "0", "0", "0"},
                  {"COMMON", "12,345", "12345", "12345000"},
                  {"OTHER-SE", "248,312", "248312", "248312000"},
                  {"TOTAL-LIABILITIES-AND-EQUITY", "2,698,754", "2698754", "2698754000"},
                  {"INTEREST-LOAN", "158,765", "158765", "158765000"},
                  {"INTEREST-INVEST", "31,234", "31234", "31234000"},
                  {"INTEREST-OTHER", "2,109", "2109", "2109000"},
                  {"INTEREST-TOTAL", "192,108", "192108", "192108000"},
                  {"INTEREST-DEPOSIT", "78,901", "78901", "78901000"},
                  {"INTEREST-EXPENSE", "91,234", "91234", "91234000"},
                  {"INTEREST-INCOME-NET", "100,874", "100874", "100874000"},
                  {"LOAN-LOSSES", "6,500", "6500", "6500000"},
                  {"SECURITIES-GAINS", "(87)", "-87", "-87000"},
                  {"EXPENSE-OTHER", "71,432", "71432", "71432000"},
                  {"INCOME-PRETAX", "45,678", "45678", "45678000"},
                  {"INCOME-PRE-EXTRAORDINARY", "30,987", "30987", "30987000"},
                  {"EXTRAORDINARY", "0", "0", "0"},
                  {"CHANGES", "0", "0", "0"},
                  {"NET-INCOME", "30,987", "30987", "30987000"},
                  {"EPS-PRIMARY", "2.51", "2.51", "2.51"},
                  {"EPS-DILUTED", "2.47", "2.47", "2.47"},
                  {"YIELD-ACTUAL", "4.62", "4.62", "4.62"},  // a rate: unscaled
                  {"LOANS-NON", "8,765", "8765", "8765000"},
                  {"LOANS-PAST", "2,345", "2345", "2345000"},
                  {"LOANS-TROUBLED", "456", "456", "456000"},
                  {"LOANS-PROBLEM", "0", "0", "0"},
                  {"ALLOWANCE-OPEN", "22,876", "22876", "22876000"},
                  {"CHARGE-OFFS", "6,012", "6012", "6012000"},
                  {"RECOVERIES", "946", "946", "946000"},
                  {"ALLOWANCE-CLOSE", "24,310", "24310", "24310000"},
                  {"ALLOWANCE-DOMESTIC", "24,310", "24310", "24310000"},
                  {"ALLOWANCE-FOREIGN", "0", "0", "0"},
                  {"ALLOWANCE-UNALLOCATED", "0", "0", "0"}});
}

TEST(ScheduleHandWrittenFilings, AFundsTwoSeriesInTwoExhibits) {
  const std::string path = ScheduleData("fund_n30d_1997_article6_two_series.txt");
  const auto rows = LongRowsOf(path);
  ASSERT_EQ(rows.size(), 2u * 62u);  // ARTICLE, CIK, NAME, MULTIPLIER and 58 tags each
  const std::string header = "0000912057-98-000999,876543,EXAMPLE INVESTMENT TRUST,N-30D,1998-02-27,1997-12-31,,1231,";
  // The growth fund: its series block ends at MULTIPLIER, which has no </SERIES> before it.
  ExpectSchedule(path,
                 header + "EX-27.1,FINANCIAL DATA SCHEDULE FOR THE GROWTH FUND,1,6,011,EXAMPLE GROWTH FUND,0,1,1000",
                 {{"ARTICLE", "6", "6", ""},
                  {"CIK", "0000876543", "876543", "876543"},  // an identifier: unscaled
                  {"NAME", "EXAMPLE INVESTMENT TRUST", "", ""},
                  {"MULTIPLIER", "1,000", "1000", ""},
                  {"PERIOD-TYPE", "12-MOS", "", ""},
                  {"FISCAL-YEAR-END", "DEC-31-1997", "1997-12-31", ""},
                  {"PERIOD-START", "JAN-01-1997", "1997-01-01", ""},
                  {"PERIOD-END", "DEC-31-1997", "1997-12-31", ""},
                  {"INVESTMENTS-AT-COST", "412,345", "412345", "412345000"},
                  {"INVESTMENTS-AT-VALUE", "498,765", "498765", "498765000"},
                  {"RECEIVABLES", "3,210", "3210", "3210000"},
                  {"ASSETS-OTHER", "45", "45", "45000"},
                  {"OTHER-ITEMS-ASSETS", "0", "0", "0"},
                  {"TOTAL-ASSETS", "502,020", "502020", "502020000"},
                  {"PAYABLE-FOR-SECURITIES", "1,876", "1876", "1876000"},
                  {"SENIOR-LONG-TERM-DEBT", "0", "0", "0"},
                  {"OTHER-ITEMS-LIABILITIES", "654", "654", "654000"},
                  {"TOTAL-LIABILITIES", "2,530", "2530", "2530000"},
                  {"SENIOR-EQUITY", "0", "0", "0"},
                  {"PAID-IN-CAPITAL-COMMON", "398,765", "398765", "398765000"},
                  {"SHARES-COMMON-STOCK", "23,456", "23456", "23456000"},  // share counts are scaled
                  {"SHARES-COMMON-PRIOR", "21,987", "21987", "21987000"},
                  {"ACCUMULATED-NII-CURRENT", "123", "123", "123000"},
                  {"OVERDISTRIBUTION-NII", "0", "0", "0"},
                  {"ACCUMULATED-NET-GAINS", "14,182", "14182", "14182000"},
                  {"OVERDISTRIBUTION-GAINS", "0", "0", "0"},
                  {"ACCUM-APPREC-OR-DEPREC", "86,420", "86420", "86420000"},
                  {"NET-ASSETS", "499,490", "499490", "499490000"},
                  {"DIVIDEND-INCOME", "6,543", "6543", "6543000"},
                  {"INTEREST-INCOME", "1,234", "1234", "1234000"},
                  {"OTHER-INCOME", "0", "0", "0"},
                  {"EXPENSES-NET", "(4,321)", "-4321", "-4321000"},
                  {"NET-INVESTMENT-INCOME", "3,456", "3456", "3456000"},
                  {"REALIZED-GAINS-CURRENT", "25,678", "25678", "25678000"},
                  {"APPREC-INCREASE-CURRENT", "54,321", "54321", "54321000"},
                  {"NET-CHANGE-FROM-OPS", "83,455", "83455", "83455000"},
                  {"EQUALIZATION", "0", "0", "0"},
                  {"DISTRIBUTIONS-OF-INCOME", "(3,333)", "-3333", "-3333000"},
                  {"DISTRIBUTIONS-OF-GAINS", "(18,765)", "-18765", "-18765000"},
                  {"DISTRIBUTIONS-OTHER", "0", "0", "0"},
                  {"NUMBER-OF-SHARES-SOLD", "5,432", "5432", "5432000"},
                  {"NUMBER-OF-SHARES-REDEEMED", "4,876", "4876", "4876000"},
                  {"SHARES-REINVESTED", "913", "913", "913000"},
                  {"NET-CHANGE-IN-ASSETS", "98,765", "98765", "98765000"},
                  {"ACCUMULATED-NII-PRIOR", "0", "0", "0"},
                  {"ACCUMULATED-GAINS-PRIOR", "7,269", "7269", "7269000"},
                  {"OVERDISTRIB-NII-PRIOR", "0", "0", "0"},
                  {"OVERDIST-NET-GAINS-PRIOR", "0", "0", "0"},
                  {"GROSS-ADVISORY-FEES", "3,012", "3012", "3012000"},
                  {"INTEREST-EXPENSE", "0", "0", "0"},
                  {"GROSS-EXPENSE", "4,400", "4400", "4400000"},
                  {"AVERAGE-NET-ASSETS", "456,789", "456789", "456789000"},
                  {"PER-SHARE-NAV-BEGIN", "18.22", "18.22", "18.22"},
                  {"PER-SHARE-NII", ".15", "0.15", "0.15"},
                  {"PER-SHARE-GAIN-APPREC", "3.55", "3.55", "3.55"},
                  {"PER-SHARE-DIVIDEND", "(.14)", "-0.14", "-0.14"},
                  {"PER-SHARE-DISTRIBUTIONS", "(.48)", "-0.48", "-0.48"},
                  {"RETURNS-OF-CAPITAL", ".00", "0", "0"},
                  {"PER-SHARE-NAV-END", "21.30", "21.3", "21.3"},
                  {"EXPENSE-RATIO", ".96", "0.96", "0.96"},
                  {"AVG-DEBT-OUTSTANDING", "0", "0", "0"},
                  {"AVG-DEBT-PER-SHARE", "0", "0", "0"}});
  // The income fund: its block stands before the ARTICLE, and its MULTIPLIER
  // after the first values, which it scales all the same.
  ExpectSchedule(path,
                 header + "EX-27.2,FINANCIAL DATA SCHEDULE FOR THE INCOME FUND,2,6,012,EXAMPLE INCOME FUND,0,1,1000",
                 {{"ARTICLE", "6", "6", ""},
                  {"CIK", "0000876543", "876543", "876543"},
                  {"NAME", "EXAMPLE INVESTMENT TRUST", "", ""},
                  {"PERIOD-TYPE", "12-MOS", "", ""},
                  {"FISCAL-YEAR-END", "DEC-31-1997", "1997-12-31", ""},
                  {"PERIOD-START", "JAN-01-1997", "1997-01-01", ""},
                  {"PERIOD-END", "DEC-31-1997", "1997-12-31", ""},
                  {"MULTIPLIER", "1,000", "1000", ""},
                  {"INVESTMENTS-AT-COST", "187,654", "187654", "187654000"},
                  {"INVESTMENTS-AT-VALUE", "191,234", "191234", "191234000"},
                  {"RECEIVABLES", "2,876", "2876", "2876000"}},
                 62);
  const std::vector<std::string>& returns = rows[62 + 57];
  EXPECT_EQ(returns[21] + "|" + returns[22] + "|" + returns[23] + "|" + returns[24],
            "RETURNS-OF-CAPITAL|(.02)|-0.02|-0.02");
  const std::vector<std::string>& redeemed = rows[62 + 41];
  EXPECT_EQ(redeemed[21] + "|" + redeemed[24], "NUMBER-OF-SHARES-REDEEMED|2987000");
}

// Each written form of MULTIPLIER in one schedule apiece, CASH 7 and EPS-PRIMARY 1.50 in each.
TEST(ScheduleHandWrittenFilings, EachFormOfTheMultiplier) {
  const std::string path = (DataDir() / "panel" / "example_10k_1998_multiplier_forms.txt").string();
  const auto rows = LongRowsOf(path);
  std::vector<std::string> cash;
  for (const auto& row : rows) {
    if (row[21] == "CASH") cash.push_back(row[18] + "|" + row[20] + "|" + row[24]);
    if (row[21] == "EPS-PRIMARY") {
      EXPECT_EQ(row[24], "1.5") << row[11];
    }
  }
  EXPECT_EQ(cash, (std::vector<std::string>{"1000|written|7000", "1000|words|7000", "1000|words|7000",
                                            "1000|words|7000", "1|absent|7", "|unreadable|", "|unreadable|"}));
}

// ---- Beside the decoder ----

// The decoder's labels of the 40 Article 5 tags, cut to its 20 columns.
struct Label {
  const char* label;
  const char* tag;
};
constexpr Label kDecoderLabels[] = {
    {"Article", "ARTICLE"},
    {"Multiplier", "MULTIPLIER"},
    {"Currency", "CURRENCY"},
    {"Period Type", "PERIOD-TYPE"},
    {"Fiscal Year End", "FISCAL-YEAR-END"},
    {"Period Start", "PERIOD-START"},
    {"Period End", "PERIOD-END"},
    {"Exchange Rate", "EXCHANGE-RATE"},
    {"Cash", "CASH"},
    {"Securities", "SECURITIES"},
    {"Receivables", "RECEIVABLES"},
    {"Allowances", "ALLOWANCES"},
    {"Inventory", "INVENTORY"},
    {"Currents Assets", "CURRENT-ASSETS"},
    {"PP&E", "PP&E"},
    {"Depreciation", "DEPRECIATION"},
    {"Total Assets", "TOTAL-ASSETS"},
    {"Current Liabilities", "CURRENT-LIABILITIES"},
    {"Bonds", "BONDS"},
    {"Preferred Mandatory", "PREFERRED-MANDATORY"},
    {"Preferred", "PREFERRED"},
    {"Common", "COMMON"},
    {"Other SE", "OTHER-SE"},
    {"Total Liability & Eq", "TOTAL-LIABILITY-AND-EQUITY"},
    {"Sales", "SALES"},
    {"Total Revenues", "TOTAL-REVENUES"},
    {"CGS", "CGS"},
    {"Total Costs", "TOTAL-COSTS"},
    {"Other Expenses", "OTHER-EXPENSES"},
    {"Loss Provision", "LOSS-PROVISION"},
    {"Interest Expense", "INTEREST-EXPENSE"},
    {"Income Pretax", "INCOME-PRETAX"},
    {"Income Tax", "INCOME-TAX"},
    {"Income Continuing", "INCOME-CONTINUING"},
    {"Discontinued", "DISCONTINUED"},
    {"Extraordinary", "EXTRAORDINARY"},
    {"Changes", "CHANGES"},
    {"Net Income", "NET-INCOME"},
    {"EPS Primary", "EPS-PRIMARY"},
    {"EPS Diluted", "EPS-DILUTED"},
};
static_assert(std::size(kDecoderLabels) == 40);

std::string Trimmed(std::string_view text) {
  const std::size_t nFirst = text.find_first_not_of(' ');
  return nFirst == std::string_view::npos ? std::string()
                                          : std::string(text.substr(nFirst, text.find_last_not_of(' ') - nFirst + 1));
}

class ScheduleBesideDecoder : public quorlix_test::TempDirTest {};

TEST_F(ScheduleBesideDecoder, RawValuesOfTheFortyArticleFiveTagsAreWhatTheDecoderWrites) {
  // The 2000 filings write <EPS-BASIC> in place of <EPS-PRIMARY>, a tag the decoder has no label for.
  const std::pair<std::string, std::size_t> filings[] = {{Filing("apple_10k_1994_ims_ex27.txt"), 37},
                                                         {Filing("apple_10k_1997_ex27.txt"), 37},
                                                         {Filing("apple_10q_1998q3_ex27_flawed_tabs.txt"), 37},
                                                         {Filing("apple_10q_2000q1_ex27.txt"), 36},
                                                         {ScheduleData("apple_10q_2000q2_ex27.txt"), 36}};
  for (const auto& [path, nTags] : filings) {
    ASSERT_EQ(CvtDecodeFiling(path.c_str(), PathOf("text.txt").c_str(), PathOf("schedule.txt").c_str()), QUORLIX_OK);
    std::vector<std::string> decoded;
    const std::string schedule = ReadFile(PathOf("schedule.txt"));
    for (std::size_t nStart = 0, nEnd; nStart < schedule.size(); nStart = nEnd + 2) {
      nEnd = schedule.find("\r\n", nStart);
      if (nEnd == std::string::npos) nEnd = schedule.size();
      const std::string_view line = std::string_view(schedule).substr(nStart, nEnd - nStart);
      const std::string label = Trimmed(line.substr(0, 20));
      const auto* it = std::ranges::find_if(kDecoderLabels, [&](const Label& l) { return label == l.label; });
      const std::string value = Trimmed(line.substr(std::min<std::size_t>(20, line.size())));
      // A value that fills the decoder's column may have lost its first characters.
      if (it != std::end(kDecoderLabels) && value.size() < 18) decoded.push_back(std::string(it->tag) + "|" + value);
    }
    std::vector<std::string> ours;
    for (const auto& row : LongRowsOf(path)) {
      const bool bArticleFive = std::ranges::any_of(kDecoderLabels, [&](const Label& l) { return row[21] == l.tag; });
      if (bArticleFive) ours.push_back(row[21] + "|" + row[22]);
    }
    EXPECT_EQ(decoded.size(), nTags) << path;  // every Article 5 tag the filing holds
    EXPECT_EQ(ours, decoded) << path;
  }
}

// The decoder writes a caption for 40 Article 5 tags; the dictionary's label of
// each is that caption (the decoder cuts it to 20 columns), and the dictionary
// holds every tag the decoder names.
TEST_F(ScheduleBesideDecoder, TheDecodersFortyCaptionsAreTheDictionarysLabels) {
  std::string filing = "<DOCUMENT>\n<TYPE>EX-27\n<TEXT>\n";
  std::vector<const TagEntry*> entries;
  for (const TagEntry& entry : TagEntries()) {
    if (entry.article != "5") continue;
    filing += '<';
    filing += entry.tag;
    filing += "> 1\n";
    entries.push_back(&entry);
  }
  filing += "</TEXT>\n</DOCUMENT>\n";
  WriteFile("filing.txt", filing);
  ASSERT_EQ(CvtDecodeFiling(PathOf("filing.txt").c_str(), PathOf("text.txt").c_str(), PathOf("schedule.txt").c_str()),
            QUORLIX_OK);
  const std::string schedule = ReadFile(PathOf("schedule.txt"));
  std::size_t nCaptions = 0;
  std::size_t nEntry = 0;
  for (std::size_t nStart = 0, nEnd; nStart < schedule.size(); nStart = nEnd + 2, ++nEntry) {
    nEnd = schedule.find("\r\n", nStart);
    ASSERT_NE(nEnd, std::string::npos);
    ASSERT_LT(nEntry, entries.size());
    const std::string_view line = std::string_view(schedule).substr(nStart, nEnd - nStart);
    if (Trimmed(line) == "1") continue;  // a tag the decoder has no caption for: its value alone
    ++nCaptions;
    EXPECT_EQ(Trimmed(line.substr(0, 20)), entries[nEntry]->label.substr(0, 20)) << entries[nEntry]->tag;
    EXPECT_TRUE(std::ranges::any_of(kDecoderLabels, [&](const Label& l) { return entries[nEntry]->tag == l.tag; }));
  }
  EXPECT_EQ(nCaptions, std::size(kDecoderLabels));
}

}  // namespace
