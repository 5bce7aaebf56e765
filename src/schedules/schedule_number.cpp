#include "schedules/schedule_number.h"

#include <algorithm>
#include <array>
#include <cassert>
#include <cstdint>
#include <cstdio>
#include <vector>

namespace {

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// The digits before the point: plain digits, or groups split by commas where the
// first has one to three digits and every later one exactly three. Appends them to
// digits and returns how many characters of text they took; npos when the commas
// break the rule.
std::size_t ReadIntegerPart(std::string_view text, std::string& digits) {
  std::size_t i = 0;
  while (i < text.size() && IsDigit(text[i])) ++i;
  digits.append(text.substr(0, i));
  if (i == text.size() || text[i] != ',') return i;
  if (i == 0 || i > 3) return std::string_view::npos;
  while (i < text.size() && text[i] == ',') {
    if (text.size() - i < 4 || !IsDigit(text[i + 1]) || !IsDigit(text[i + 2]) || !IsDigit(text[i + 3]))
      return std::string_view::npos;
    digits.append(text.substr(i + 1, 3));
    i += 4;
  }
  // A fourth digit after a group of three is no group.
  return i < text.size() && IsDigit(text[i]) ? std::string_view::npos : i;
}

// Leading zeros go; trailing zeros after the point go; zero is never negative.
void Normalise(ScheduleNumber& number) {
  std::size_t nTrailing = 0;
  while (nTrailing < number.scale && nTrailing < number.digits.size() &&
         number.digits[number.digits.size() - 1 - nTrailing] == '0')
    ++nTrailing;
  number.digits.resize(number.digits.size() - nTrailing);
  number.scale -= nTrailing;
  const std::size_t nLeading = number.digits.find_first_not_of('0');
  number.digits.erase(0, nLeading == std::string::npos ? number.digits.size() : nLeading);
  if (number.digits.empty()) {
    number.negative = false;
    number.scale = 0;
  }
}

// ---- Multiplication in limbs of nine decimal digits ----

constexpr std::uint32_t kLimbBase = 1'000'000'000;
constexpr std::size_t kLimbDigits = 9;

// The least significant limb first.
std::vector<std::uint32_t> ToLimbs(std::string_view digits) {
  std::vector<std::uint32_t> limbs;
  limbs.reserve(digits.size() / kLimbDigits + 1);
  for (std::size_t nEnd = digits.size(); nEnd > 0;) {
    const std::size_t nStart = nEnd > kLimbDigits ? nEnd - kLimbDigits : 0;
    std::uint32_t nLimb = 0;
    for (std::size_t i = nStart; i < nEnd; ++i) nLimb = nLimb * 10 + static_cast<std::uint32_t>(digits[i] - '0');
    limbs.push_back(nLimb);
    nEnd = nStart;
  }
  return limbs;
}

void AppendLimbs(std::string& out, const std::vector<std::uint32_t>& limbs) {
  std::size_t nTop = limbs.size();
  while (nTop > 0 && limbs[nTop - 1] == 0) --nTop;
  if (nTop == 0) return;
  out += std::to_string(limbs[nTop - 1]);
  for (std::size_t i = nTop - 1; i-- > 0;) {
    const std::string strLimb = std::to_string(limbs[i]);
    out.append(kLimbDigits - strLimb.size(), '0');
    out += strLimb;
  }
}

// "1" followed by zeros only: multiplying by it moves the point.
bool IsPowerOfTen(std::string_view digits) {
  return !digits.empty() && digits[0] == '1' && digits.find_first_not_of('0', 1) == std::string_view::npos;
}

constexpr std::array<std::string_view, 12> kMonths = {"JAN", "FEB", "MAR", "APR", "MAY", "JUN",
                                                      "JUL", "AUG", "SEP", "OCT", "NOV", "DEC"};

char ToUpperAscii(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; }

}  // namespace

bool ParseScheduleNumber(std::string_view text, ScheduleNumber& number) {
  number.negative = false;
  number.digits.clear();
  number.scale = 0;
  if (text.size() > kLongestNumberBytes) return false;
  if (text.size() >= 2 && text.front() == '(' && text.back() == ')') {
    number.negative = true;
    text = text.substr(1, text.size() - 2);
  } else if (!text.empty() && text.front() == '-') {
    number.negative = true;
    text.remove_prefix(1);
  }
  if (!text.empty() && text.front() == '$') text.remove_prefix(1);
  const std::size_t nInteger = ReadIntegerPart(text, number.digits);
  if (nInteger == std::string_view::npos) return false;
  text.remove_prefix(nInteger);
  if (!text.empty() && text.front() == '.') {
    const std::size_t nFraction = text.find_first_not_of("0123456789", 1);
    const std::size_t nEnd = nFraction == std::string_view::npos ? text.size() : nFraction;
    if (nEnd == 1) return false;  // a point with no digits after it
    number.digits.append(text.substr(1, nEnd - 1));
    number.scale = nEnd - 1;
    text.remove_prefix(nEnd);
  } else if (nInteger == 0) {
    return false;  // no digits at all
  }
  if (!text.empty()) return false;
  Normalise(number);
  return true;
}

std::size_t PlainNumberLength(const ScheduleNumber& number) {
  if (number.digits.empty()) return 1;
  const std::size_t nSign = number.negative ? 1 : 0;
  if (number.scale == 0) return nSign + number.digits.size();
  if (number.digits.size() > number.scale) return nSign + number.digits.size() + 1;
  return nSign + 2 + number.scale;  // "0." and the fraction, zeros first
}

void AppendPlainNumber(std::string& out, const ScheduleNumber& number) {
  if (number.digits.empty()) {
    out += '0';
    return;
  }
  if (number.negative) out += '-';
  const std::string_view digits = number.digits;
  if (number.scale == 0) {
    out += digits;
  } else if (digits.size() > number.scale) {
    out += digits.substr(0, digits.size() - number.scale);
    out += '.';
    out += digits.substr(digits.size() - number.scale);
  } else {
    out += "0.";
    out.append(number.scale - digits.size(), '0');
    out += digits;
  }
}

void MultiplyScheduleNumbers(const ScheduleNumber& a, const ScheduleNumber& b, ScheduleNumber& product) {
  assert(&product != &a && &product != &b);
  product.negative = a.negative != b.negative;
  product.scale = a.scale + b.scale;
  product.digits.clear();
  if (a.digits.empty() || b.digits.empty()) {
    Normalise(product);
    return;
  }
  if (IsPowerOfTen(b.digits) || IsPowerOfTen(a.digits)) {
    const bool bScaleA = IsPowerOfTen(b.digits);
    const std::string& digits = bScaleA ? a.digits : b.digits;
    const std::size_t nZeros = (bScaleA ? b.digits : a.digits).size() - 1;
    product.digits.reserve(digits.size() + nZeros);
    product.digits = digits;
    product.digits.append(nZeros, '0');
  } else {
    const std::vector<std::uint32_t> left = ToLimbs(a.digits);
    const std::vector<std::uint32_t> right = ToLimbs(b.digits);
    std::vector<std::uint32_t> limbs(left.size() + right.size(), 0);
    for (std::size_t i = 0; i < left.size(); ++i) {
      std::uint64_t nCarry = 0;
      for (std::size_t j = 0; j < right.size(); ++j) {
        const std::uint64_t nSum = limbs[i + j] + std::uint64_t{left[i]} * right[j] + nCarry;
        limbs[i + j] = static_cast<std::uint32_t>(nSum % kLimbBase);
        nCarry = nSum / kLimbBase;
      }
      for (std::size_t k = i + right.size(); nCarry != 0; ++k) {
        const std::uint64_t nSum = limbs[k] + nCarry;
        limbs[k] = static_cast<std::uint32_t>(nSum % kLimbBase);
        nCarry = nSum / kLimbBase;
      }
    }
    AppendLimbs(product.digits, limbs);
  }
  Normalise(product);
}

bool AppendIsoDate(std::string& out, std::string_view text) {
  // MON-D-YYYY is 10 characters, MON-DD-YYYY 11.
  if ((text.size() != 10 && text.size() != 11) || text[3] != '-' || text[text.size() - 5] != '-') return false;
  const char month[3] = {ToUpperAscii(text[0]), ToUpperAscii(text[1]), ToUpperAscii(text[2])};
  const auto it = std::ranges::find(kMonths, std::string_view(month, 3));
  if (it == kMonths.end()) return false;
  const std::string_view day = text.substr(4, text.size() - 9);
  const std::string_view year = text.substr(text.size() - 4);
  if (!std::ranges::all_of(day, IsDigit) || !std::ranges::all_of(year, IsDigit)) return false;
  const int nDay = day.size() == 1 ? day[0] - '0' : (day[0] - '0') * 10 + (day[1] - '0');
  if (nDay < 1 || nDay > 31) return false;
  const int nMonth = static_cast<int>(it - kMonths.begin()) + 1;
  out += year;
  out += '-';
  out += static_cast<char>('0' + nMonth / 10);
  out += static_cast<char>('0' + nMonth % 10);
  out += '-';
  out += static_cast<char>('0' + nDay / 10);
  out += static_cast<char>('0' + nDay % 10);
  return true;
}

// ---- Sums ----

namespace {

// The digits of number with its point moved to scale places (scale >= number.scale).
std::string DigitsAtScale(const ScheduleNumber& number, std::size_t scale) {
  std::string digits = number.digits;
  digits.append(scale - number.scale, '0');
  return digits;
}

int CompareMagnitudes(std::string_view a, std::string_view b) {
  a.remove_prefix(std::min(a.find_first_not_of('0'), a.size()));
  b.remove_prefix(std::min(b.find_first_not_of('0'), b.size()));
  if (a.size() != b.size()) return a.size() < b.size() ? -1 : 1;
  return a.compare(b) < 0 ? -1 : (a == b ? 0 : 1);
}

// Digit strings of equal scale, least significant digit last.
std::string AddMagnitudes(std::string_view a, std::string_view b) {
  std::string sum;
  sum.reserve(std::max(a.size(), b.size()) + 1);
  int nCarry = 0;
  for (std::size_t i = 0; i < std::max(a.size(), b.size()) || nCarry; ++i) {
    const int nA = i < a.size() ? a[a.size() - 1 - i] - '0' : 0;
    const int nB = i < b.size() ? b[b.size() - 1 - i] - '0' : 0;
    const int nDigit = nA + nB + nCarry;
    sum += static_cast<char>('0' + nDigit % 10);
    nCarry = nDigit / 10;
  }
  std::ranges::reverse(sum);
  return sum;
}

// a - b for magnitudes with a >= b.
std::string SubtractMagnitudes(std::string_view a, std::string_view b) {
  std::string difference;
  difference.reserve(a.size());
  int nBorrow = 0;
  for (std::size_t i = 0; i < a.size(); ++i) {
    int nDigit = (a[a.size() - 1 - i] - '0') - (i < b.size() ? b[b.size() - 1 - i] - '0' : 0) - nBorrow;
    nBorrow = nDigit < 0 ? 1 : 0;
    difference += static_cast<char>('0' + nDigit + 10 * nBorrow);
  }
  assert(nBorrow == 0);
  std::ranges::reverse(difference);
  return difference;
}

}  // namespace

void AddScheduleNumbers(const ScheduleNumber& a, const ScheduleNumber& b, ScheduleNumber& result) {
  assert(&result != &a && &result != &b);
  const std::size_t nScale = std::max(a.scale, b.scale);
  const std::string left = DigitsAtScale(a, nScale);
  const std::string right = DigitsAtScale(b, nScale);
  result.scale = nScale;
  if (a.negative == b.negative) {
    result.negative = a.negative;
    result.digits = AddMagnitudes(left, right);
  } else if (CompareMagnitudes(left, right) >= 0) {
    result.negative = a.negative;
    result.digits = SubtractMagnitudes(left, right);
  } else {
    result.negative = b.negative;
    result.digits = SubtractMagnitudes(right, left);
  }
  Normalise(result);
}

// ---- Calendar dates ----

namespace {

constexpr bool IsLeapYear(std::int64_t year) { return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0; }

constexpr int DaysInMonth(std::int64_t year, int month) {
  constexpr int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return month == 2 && IsLeapYear(year) ? 29 : kDays[month - 1];
}

// Days since 1970-01-01 of a proleptic Gregorian date (the era arithmetic of
// H. Hinnant's days_from_civil).
constexpr std::int32_t DayOfCivil(std::int64_t year, int month, int day) {
  year -= month <= 2 ? 1 : 0;
  const std::int64_t era = (year >= 0 ? year : year - 399) / 400;
  const std::int64_t yearOfEra = year - era * 400;
  const std::int64_t dayOfYear = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
  const std::int64_t dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
  return static_cast<std::int32_t>(era * 146097 + dayOfEra - 719468);
}

constexpr void CivilOfDay(std::int32_t nDay, std::int64_t& year, int& month, int& day) {
  const std::int64_t z = std::int64_t{nDay} + 719468;
  const std::int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const std::int64_t dayOfEra = z - era * 146097;
  const std::int64_t yearOfEra = (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
  const std::int64_t dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
  const std::int64_t monthIndex = (5 * dayOfYear + 2) / 153;
  day = static_cast<int>(dayOfYear - (153 * monthIndex + 2) / 5 + 1);
  month = static_cast<int>(monthIndex < 10 ? monthIndex + 3 : monthIndex - 9);
  year = yearOfEra + era * 400 + (month <= 2 ? 1 : 0);
}

static_assert(DayOfCivil(1970, 1, 1) == 0 && DayOfCivil(2000, 3, 1) == 11017);

}  // namespace

bool ReadIsoDay(std::string_view iso, std::int32_t& day) {
  if (iso.size() != 10 || iso[4] != '-' || iso[7] != '-') return false;
  const std::string_view year = iso.substr(0, 4);
  const std::string_view month = iso.substr(5, 2);
  const std::string_view dayOfMonth = iso.substr(8, 2);
  if (!std::ranges::all_of(year, IsDigit) || !std::ranges::all_of(month, IsDigit) ||
      !std::ranges::all_of(dayOfMonth, IsDigit))
    return false;
  const int nYear = (year[0] - '0') * 1000 + (year[1] - '0') * 100 + (year[2] - '0') * 10 + (year[3] - '0');
  const int nMonth = (month[0] - '0') * 10 + (month[1] - '0');
  const int nDay = (dayOfMonth[0] - '0') * 10 + (dayOfMonth[1] - '0');
  if (nMonth < 1 || nMonth > 12 || nDay < 1 || nDay > DaysInMonth(nYear, nMonth)) return false;
  day = DayOfCivil(nYear, nMonth, nDay);
  return true;
}

void AppendIsoDay(std::string& out, std::int32_t nDay) {
  std::int64_t year = 0;
  int month = 0;
  int day = 0;
  CivilOfDay(nDay, year, month, day);
  char text[32];
  std::snprintf(text, sizeof text, "%04lld-%02d-%02d", static_cast<long long>(year), month, day);
  out += text;
}

std::int32_t AddYears(std::int32_t nDay, int years) {
  std::int64_t year = 0;
  int month = 0;
  int day = 0;
  CivilOfDay(nDay, year, month, day);
  year += years;
  return DayOfCivil(year, month, std::min(day, DaysInMonth(year, month)));
}
