#include "schedules/schedule_number.h"

#include <gtest/gtest.h>

#include <string>

namespace {

// The plain form of text read as a number, or "none".
std::string Plain(std::string_view text) {
  ScheduleNumber number;
  if (!ParseScheduleNumber(text, number)) return "none";
  std::string out;
  AppendPlainNumber(out, number);
  EXPECT_EQ(out.size(), PlainNumberLength(number)) << text;
  return out;
}

std::string Product(std::string_view a, std::string_view b) {
  ScheduleNumber x, y, product;
  EXPECT_TRUE(ParseScheduleNumber(a, x) && ParseScheduleNumber(b, y)) << a << " " << b;
  MultiplyScheduleNumbers(x, y, product);
  std::string out;
  AppendPlainNumber(out, product);
  return out;
}

std::string Date(std::string_view text) {
  std::string out = "before:";
  if (!AppendIsoDate(out, text)) return out == "before:" ? "none" : "appended to a failure";
  return out.substr(7);
}

TEST(ScheduleNumber, FormsFilingsWriteAreReadToTheirShortestPlainForm) {
  EXPECT_EQ(Plain("1,773"), "1773");
  EXPECT_EQ(Plain("1,234,567"), "1234567");
  EXPECT_EQ(Plain("(1,045)"), "-1045");  // a negative in parentheses
  EXPECT_EQ(Plain("-1,045"), "-1045");
  EXPECT_EQ(Plain("(8.29)"), "-8.29");
  EXPECT_EQ(Plain("$5"), "5");
  EXPECT_EQ(Plain("-$5"), "-5");
  EXPECT_EQ(Plain("($1,000.50)"), "-1000.5");
  EXPECT_EQ(Plain(".07"), "0.07");  // no digit before the point
  EXPECT_EQ(Plain("(.14)"), "-0.14");
  EXPECT_EQ(Plain("-0.40"), "-0.4");  // trailing zeros go
  EXPECT_EQ(Plain("1.40"), "1.4");
  EXPECT_EQ(Plain("123.4500"), "123.45");
  EXPECT_EQ(Plain("007"), "7");
  EXPECT_EQ(Plain("0000320193"), "320193");
  EXPECT_EQ(Plain("12345678901234567890123456789.000000000000000000001"),
            "12345678901234567890123456789.000000000000000000001");  // exact, however long
}

TEST(ScheduleNumber, ZeroIsWrittenAsZeroWhateverItsSign) {
  EXPECT_EQ(Plain("0"), "0");
  EXPECT_EQ(Plain("-0"), "0");
  EXPECT_EQ(Plain("(0)"), "0");
  EXPECT_EQ(Plain(".00"), "0");
  EXPECT_EQ(Plain("-0.000"), "0");
  EXPECT_EQ(Plain("0,000"), "0");
}

TEST(ScheduleNumber, AnythingElseIsNoNumber) {
  for (const char* text :
       {"",        "-",         "$",           "()",    "(",      "(5",       "5)",   "(-5)",   "-(5)",
        "$-5",     "5-",        "+5",          "--5",   "1 234",  " 5",       "5 ",   "1e5",    "1.",
        "1.2.3",   ".",         "-.",          "1,23",  "1,2345", "1234,567", ",123", "1,,234", "1,234,56",
        "1.234,5", "1,234.5,6", "SEP-30-1994", "3-MOS", "YEAR",   "5%",       "$$5",  "($)",    "1,234<F1>"})
    EXPECT_EQ(Plain(text), "none") << '"' << text << '"';
}

// No amount is that long, and every copy of one would be as long as its line.
TEST(ScheduleNumber, TextPastTheLongestNumberIsNoNumber) {
  const std::string longest = "-" + std::string(kLongestNumberBytes - 1, '7');
  EXPECT_EQ(Plain(longest), longest);
  EXPECT_EQ(Plain(longest + "7"), "none");
  EXPECT_EQ(Plain("(" + std::string(kLongestNumberBytes - 1, '1') + ")"), "none");
}

TEST(ScheduleNumber, ProductsAreExact) {
  EXPECT_EQ(Product("1,773", "1,000,000"), "1773000000");
  EXPECT_EQ(Product("(1,045)", "1000000"), "-1045000000");
  EXPECT_EQ(Product("2.61", "1,000"), "2610");
  EXPECT_EQ(Product(".07", "1000"), "70");
  EXPECT_EQ(Product(".0007", "10"), "0.007");
  EXPECT_EQ(Product("0", "1000"), "0");
  EXPECT_EQ(Product("(5)", "0"), "0");  // no negative zero
  EXPECT_EQ(Product("-3", "-2"), "6");
  EXPECT_EQ(Product("0.5", "0.002"), "0.001");
  EXPECT_EQ(Product("1.5", "2"), "3");
  EXPECT_EQ(Product("1000", "2.5"), "2500");  // a power of ten either side
  // Beyond 64 bits, and across limbs of nine digits: 123456789123456789 × 987654321.
  EXPECT_EQ(Product("123,456,789,123,456,789", "987654321"), "121932631234567900112635269");
  EXPECT_EQ(Product("999999999999999999", "999999999"), "999999998999999999000000001");
  EXPECT_EQ(Product("-12.5", "0.08"), "-1");
}

TEST(ScheduleDate, MonthDayYearIsWrittenIso) {
  EXPECT_EQ(Date("SEP-30-1994"), "1994-09-30");
  EXPECT_EQ(Date("JAN-01-2000"), "2000-01-01");
  EXPECT_EQ(Date("jan-1-2000"), "2000-01-01");  // any case, one-digit day
  EXPECT_EQ(Date("Dec-31-1999"), "1999-12-31");
  EXPECT_EQ(Date("FEB-31-2000"), "2000-02-31");  // no calendar check
}

TEST(ScheduleDate, OtherTextIsNoDate) {
  for (const char* text :
       {"SEP-32-1994", "SEP-00-1994", "SEP-0-1994", "SEPT-30-1994", "SEP-30-94", "SEP-301994", "FOO-01-2000",
        "SEP-3O-1994", "SEP-30-19940", " SEP-30-1994", "SEP 30 1994", "", "YEAR", "SEP-30-199X", "-SEP-30-1994"})
    EXPECT_EQ(Date(text), "none") << '"' << text << '"';
}

}  // namespace
