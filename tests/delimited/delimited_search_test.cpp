#include <gtest/gtest.h>

#include <string>
#include <string_view>

#include "delimited/delimited_convert.h"
#include "delimited/delimited_search.h"
#include "scan/line_scan.h"
#include "test_support.h"

namespace {

using namespace std::string_literals;

// Offsets of the non-overlapping whole occurrences, each search going on after
// the previous delimiter, as the conversion cuts records.
template <typename FindFn>
std::string Occurrences(std::string_view text, FindFn find) {
  const auto* const pBegin = reinterpret_cast<const unsigned char*>(text.data());
  const auto* const pEnd = pBegin + text.size();
  std::string offsets;
  for (const unsigned char* p = pBegin; const unsigned char* pHit = find(p, pEnd);) {
    offsets += std::to_string(pHit - pBegin) + " ";
    p = pHit + 1;
  }
  return offsets;
}

std::string Expected(std::string_view text, std::string_view delim) {
  std::string offsets;
  for (std::size_t n = text.find(delim); n != std::string_view::npos; n = text.find(delim, n + 1))
    offsets += std::to_string(n) + " ";
  return offsets;
}

// Every way of finding a delimiter gives the first whole occurrence: the C
// library's, the memchr-led one, at the SSSE3 level or the portable one.
void ExpectEveryWayFinds(std::string_view text, std::string_view delim) {
  const DelimiterSearch search(delim);
  const std::string expected = Expected(text, delim);
  for (const bool bVector : {true, false}) {
    const ScopedScanLevel level(bVector ? ScanLevel::kSsse3 : ScanLevel::kPortable);
    EXPECT_EQ(Occurrences(text, [&](auto p, auto pEnd) { return search.Find(p, pEnd); }), expected)
        << testing::PrintToString(std::string(delim)) << " vector " << bVector;
  }
  EXPECT_EQ(Occurrences(text, [&](auto p, auto pEnd) { return search.FindPortable(p, pEnd); }), expected);
}

TEST(DelimiterSearch, FindsWholeOccurrencesAfterPartialMatches) {
  ExpectEveryWayFinds("a\rb\r\n\r\r\n", "\r\n");
  ExpectEveryWayFinds("aaab aab ab", "aab");         // a match that fails one byte late
  ExpectEveryWayFinds("abababab abacabab", "abab");  // a delimiter that overlaps itself
  ExpectEveryWayFinds("x\0y\0\0z"s, "\0\0"s);
  ExpectEveryWayFinds("\xE9\xE9\x80\xE9\x80", "\xE9\x80");
  ExpectEveryWayFinds("ends with the delimiter;;", ";;");
  ExpectEveryWayFinds("ab", "abc");  // longer than the text
}

TEST(DelimiterSearch, LongDelimitersOfRepeatedBytes) {
  const std::string a1000(1000, 'a');
  const std::string text = std::string(5000, 'a') + "b" + a1000 + "b" + std::string(3000, 'a');
  ExpectEveryWayFinds(text, a1000 + "b");
  ExpectEveryWayFinds(text, "b" + a1000);
  ExpectEveryWayFinds(text, std::string(20, 'a') + "c");  // never there
  ExpectEveryWayFinds(text + "aab" + text, std::string(DelimiterSearch::kShortDelimiterBytes, 'a') + "b");
}

// The end of the last occurrence, against the search from the left resumed after
// each delimiter: records short and long, the last one near the end, far from it,
// or across the place where the search from the end begins.
TEST(DelimiterSearch, EndOfLastOccurrenceIsWhereTheSearchFromTheLeftEnds) {
  for (const std::string& delim : {"\r\n"s, ";"s, "ab"s, "b" + std::string(300, 'a')}) {
    const DelimiterSearch search(delim);
    ASSERT_FALSE(search.CanOverlapItself());
    for (const std::size_t nRecord : {0u, 1u, 50u, 1000u, 1023u, 1024u, 3000u}) {
      for (const std::size_t nAfterLast : {0u, 1u, 500u, 1023u, 1024u, 1025u, 5000u}) {
        std::string text;
        for (int i = 0; i < 5; ++i) text += std::string(nRecord, 'x') + delim;
        text += std::string(nAfterLast, 'x');
        const auto* const pBegin = reinterpret_cast<const unsigned char*>(text.data());
        const auto* const pEnd = pBegin + text.size();
        const unsigned char* pExpected = nullptr;
        for (const unsigned char* p = pBegin; const unsigned char* pHit = search.Find(p, pEnd);)
          p = pExpected = pHit + delim.size();
        EXPECT_EQ(search.FindEndOfLast(pBegin, pEnd), pExpected) << nRecord << " " << nAfterLast;
        EXPECT_EQ(search.FindEndOfLast(pBegin + 5 * (nRecord + delim.size()), pEnd), nullptr);
      }
    }
  }
}

// Delimiters that overlap themselves end where the search from the block's start ends.
TEST(DelimiterSearch, EndOfLastOverlappingOccurrenceDependsOnWhereTheSearchStarts) {
  EXPECT_TRUE(DelimiterSearch("abab").CanOverlapItself());
  EXPECT_TRUE(DelimiterSearch("aa").CanOverlapItself());
  std::string text(3000, 'a');
  text.append("bababab").append(7, 'a');
  const auto* const pBegin = reinterpret_cast<const unsigned char*>(text.data());
  EXPECT_EQ(DelimiterSearch("aa").FindEndOfLast(pBegin, pBegin + text.size()) - pBegin, 3013);
  EXPECT_EQ(DelimiterSearch("abab").FindEndOfLast(pBegin, pBegin + text.size()) - pBegin, 3007);
  EXPECT_EQ(DelimiterSearch("abab").FindEndOfLast(pBegin + 3000, pBegin + text.size()) - pBegin, 3005);
}

class LongDelimiterTest : public quorlix_test::TempDirTest {};

// Delimiters long enough for the C library's search, cut by the end of a read
// anywhere: the output of a single read, with either scanner.
TEST_F(LongDelimiterTest, ReadSizeDoesNotChangeTheOutput) {
  constexpr std::size_t kLong = DelimiterSearch::kShortDelimiterBytes;
  const std::string strRecord = std::string(kLong, 'a') + "b";
  const std::string strField = "b" + std::string(kLong, 'a');
  const std::string input =
      "x" + strRecord + std::string(19, 'a') + strRecord + "y" + strField + "z" + strRecord + std::string(25, 'a');
  const std::string strIn = WriteFile("in.txt", input);
  const std::string strOut = PathOf("out.txt");
  const std::string expected = "x|" + std::string(19, 'a') + "|y+z|" + std::string(25, 'a') + "|";
  for (const bool bVector : {true, false}) {
    const ScopedScanLevel level(bVector ? ScanLevel::kSsse3 : ScanLevel::kPortable);
    for (std::size_t n = 1; n <= input.size() + 1; n += 7) {
      EXPECT_EQ(ConvertDelimitedFile(strIn, strRecord, strField, strOut, "+", "|", n), 0);
      EXPECT_EQ(quorlix_test::ReadFile(strOut), expected) << n << " vector " << bVector;
    }
  }
}

}  // namespace
