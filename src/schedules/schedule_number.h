// Numbers and dates as Financial Data Schedules write them, read exactly. A
// number is kept as its decimal digits and the place of its point, never as a
// binary floating-point value, so scaling it and writing it back lose nothing.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

struct ScheduleNumber {
  bool negative = false;  // never set for zero
  std::string digits;     // the digits without the point and without leading zeros; empty for zero
  std::size_t scale = 0;  // how many of them follow the point; the last of those is never a zero
};

// A longer text is no number: no amount has so many digits, and each copy that
// reading, scaling and writing one makes would be as long as its line.
inline constexpr std::size_t kLongestNumberBytes = 1024;

// Reads text as a number: `-`? `$`? magnitude, or `(` `$`? magnitude `)` for a
// negative, with no blank anywhere, at most kLongestNumberBytes long. A magnitude is digits with an optional
// decimal part (".07" counts, "7." does not); commas, where there are any,
// separate groups of exactly three digits before the point ("1,234,567").
// Returns false, leaving number unspecified, when text is not a number.
bool ParseScheduleNumber(std::string_view text, ScheduleNumber& number);

// Appends the shortest plain form: no exponent, no separators, '-' for a
// negative, a '0' before a leading point, no trailing zeros, zero as "0".
void AppendPlainNumber(std::string& out, const ScheduleNumber& number);

// The characters AppendPlainNumber writes for the number.
std::size_t PlainNumberLength(const ScheduleNumber& number);

// product = a × b, exactly. product may not be a or b.
void MultiplyScheduleNumbers(const ScheduleNumber& a, const ScheduleNumber& b, ScheduleNumber& product);

// Reads text as a date MON-D-YYYY or MON-DD-YYYY (month name in any case, day 1
// to 31, no calendar check) and appends it as YYYY-MM-DD; returns false, having
// appended nothing, when text is not such a date.
bool AppendIsoDate(std::string& out, std::string_view text);

// result = a + b, exactly. result may not be a or b.
void AddScheduleNumbers(const ScheduleNumber& a, const ScheduleNumber& b, ScheduleNumber& result);

// ---- Calendar dates as day numbers ----

// The day number (days since 1970-01-01) of a date YYYY-MM-DD that the calendar
// has (FEB-29 in leap years only); false for any other text.
bool ReadIsoDay(std::string_view iso, std::int32_t& day);
// Appends the day as YYYY-MM-DD.
void AppendIsoDay(std::string& out, std::int32_t day);
// The same month and day years later (or earlier); FEB-29 becomes FEB-28 in other years.
std::int32_t AddYears(std::int32_t day, int years);
