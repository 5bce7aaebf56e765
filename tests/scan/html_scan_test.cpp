#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <string>
#include <string_view>
#include <vector>

#include "scan/byte_filter.h"
#include "scan/html_scan.h"
#include "scan/line_scan.h"

namespace {

// Whether this processor can run the SSSE3 scanner, whatever the environment asks.
bool CanRunSsse3Scan() {
  const ScopedScanLevel level(ScanLevel::kSsse3);
  return ActiveScanLevel() != ScanLevel::kPortable;
}

const unsigned char* Bytes(const std::string& text) { return reinterpret_cast<const unsigned char*>(text.data()); }

TEST(HtmlTextBytes, ClassesFollowTheByteFilterAndTheTextRules) {
  static_assert(sizeof kRowTextBytes == 256);
  for (int b = 0; b < 256; ++b) {
    const auto ch = static_cast<unsigned char>(b);
    const bool bLineBreak = ch == '\r' || ch == '\n';
    const bool bTagEdge = ch == '<' || ch == '>';
    const TextByte otherwise = !IsKeptByte(ch) ? TextByte::kDropped : TextByte::kKept;
    EXPECT_EQ(kBodyTextBytes[b], bTagEdge ? TextByte::kTagEdge : ch == '&' ? TextByte::kAmpersand : otherwise) << b;
    const TextByte table = bTagEdge     ? TextByte::kTagEdge
                           : ch == '&'  ? TextByte::kAmpersand
                           : bLineBreak ? TextByte::kDropped
                                        : otherwise;
    EXPECT_EQ(kTableTextBytes[b], table) << b;
    EXPECT_EQ(kRowTextBytes[b], ch == ',' ? TextByte::kComma : table) << b;
  }
}

// Every byte value at every place of a text of kept bytes: the run ends exactly
// where the class table says, and a tag ends at the first '>'.
template <typename Scan, bool bKeepLineBreaks, bool bCommaStops>
void ExpectRunsEndWhereTheClassesSay() {
  constexpr auto kClasses = MakeTextBytes(bKeepLineBreaks, bCommaStops);
  for (int b = 0; b < 256; ++b) {
    for (std::size_t nAt = 0; nAt < 40; ++nAt) {
      std::string text(48, 'x');
      text[nAt] = static_cast<char>(b);
      const std::size_t nRun = kClasses[b] == TextByte::kKept ? text.size() : nAt;
      ASSERT_EQ((Scan::template KeptRun<bKeepLineBreaks, bCommaStops>(Bytes(text), text.size())), nRun)
          << b << " at " << nAt;
      ASSERT_EQ(Scan::FindTagEnd(Bytes(text), text.size()), b == '>' ? nAt : text.size()) << b << " at " << nAt;
    }
  }
}

template <typename Scan>
void ExpectRunsOfEveryKindEndWhereTheClassesSay() {
  ExpectRunsEndWhereTheClassesSay<Scan, true, false>();
  ExpectRunsEndWhereTheClassesSay<Scan, false, false>();
  ExpectRunsEndWhereTheClassesSay<Scan, false, true>();
}

TEST(HtmlScan, RunsAndTagEndsAreFoundWithEitherScanner) {
  ExpectRunsOfEveryKindEndWhereTheClassesSay<PortableHtmlScan>();
  if (CanRunSsse3Scan()) ExpectRunsOfEveryKindEndWhereTheClassesSay<Ssse3HtmlScan>();
}

// The last place of a pattern, against a plain search from the end, on texts
// dense with its first bytes, so that near misses stand in every word and block.
template <typename Scan>
void ExpectTheLastMatchFound() {
  std::minstd_rand rng(17);
  const std::string_view patterns[] = {"<", "<B", "<BO", "<BODY", "</BODY", "<<<<<"};
  for (int nText = 0; nText < 400; ++nText) {
    std::string text(rng() % 70, ' ');
    for (char& c : text) c = "<</BODYx"[rng() % 8];
    for (const std::string_view pattern : patterns) {
      const std::size_t nFound = std::string_view(text).rfind(pattern);
      const std::size_t nExpected = nFound == std::string_view::npos ? text.size() : nFound;
      ASSERT_EQ(Scan::FindLastMatch(Bytes(text), text.size(), pattern), nExpected) << text << " / " << pattern;
    }
  }
}

TEST(HtmlScan, TheLastMatchOfAPatternIsFoundWithEitherScanner) {
  ExpectTheLastMatchFound<PortableHtmlScan>();
  if (CanRunSsse3Scan()) ExpectTheLastMatchFound<Ssse3HtmlScan>();
}

// Random texts of text rows, asked from random places forward and back (as a
// cell read again goes back): both cursors give the places a plain search gives,
// also in the last 64 bytes, where the SSSE3 cursor makes no window.
template <typename Cursor>
void ExpectCursorPlacesOfAPlainSearch() {
  std::minstd_rand rng(29);
  for (int nText = 0; nText < 200; ++nText) {
    std::string text(1 + rng() % 300, 'a');
    for (char& c : text) c = "ab ,&<>\r\t\xE9"[rng() % 10];
    text.back() = '>';  // the body end's '>' ends every search
    const auto nLast = static_cast<std::uint32_t>(text.size() - 1);
    Cursor cursor(Bytes(text), nLast);
    for (int nAsk = 0; nAsk < 50; ++nAsk) {
      const auto i = static_cast<std::uint32_t>(rng() % text.size());
      std::uint32_t nStop = i;
      while (kRowTextBytes[static_cast<unsigned char>(text[nStop])] == TextByte::kKept) ++nStop;
      ASSERT_EQ(cursor.NextStop(i), nStop) << i;
      ASSERT_EQ(cursor.NextTagEnd(i), text.find('>', i)) << i;
    }
  }
}

TEST(HtmlScan, CursorsFindThePlacesOfAPlainSearch) {
  ExpectCursorPlacesOfAPlainSearch<PortableCursor<false, true>>();
  if (CanRunSsse3Scan()) ExpectCursorPlacesOfAPlainSearch<Ssse3Cursor<false, true>>();
}

TEST(HtmlScan, ARunIsCopiedWholeWithOrWithoutRoomPastIt) {
  const std::string from = "0123456789abcdefghijklmnopqrstuvwxyz";
  for (std::size_t nCount = 0; nCount <= from.size(); ++nCount) {
    for (const std::size_t nRoom : {nCount, nCount + 15, nCount + 16}) {
      std::vector<unsigned char> to(nRoom + 1, '!');
      CopyTextRun(to.data(), nRoom, Bytes(from), from.size(), nCount);
      ASSERT_EQ(std::string(to.begin(), to.begin() + nCount), from.substr(0, nCount)) << nCount;
      ASSERT_EQ(to[nRoom], '!') << "written past its room: " << nCount;
    }
  }
}

}  // namespace
