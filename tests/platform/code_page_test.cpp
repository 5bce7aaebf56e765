#include <gtest/gtest.h>

#include <set>
#include <string>

#include "platform/code_page.h"

namespace {

unsigned char OemOf(unsigned char cAnsi) {
  const CString strOem = AnsiToOem(std::string(1, static_cast<char>(cAnsi)));
  EXPECT_EQ(strOem.size(), 1u);
  return static_cast<unsigned char>(strOem[0]);
}

TEST(AnsiToOem, AsciiIsUnchanged) {
  for (int c = 0; c < 0x80; ++c) EXPECT_EQ(OemOf(static_cast<unsigned char>(c)), c) << c;
}

TEST(AnsiToOem, KnownPairsOfTheTwoCodePages) {
  struct Pair {
    unsigned char cAnsi;
    unsigned char cOem;
  };
  const Pair pairs[] = {
      {0xE9, 0x82},  // e acute
      {0xFC, 0x81},  // u diaeresis
      {0xC7, 0x80},  // C cedilla: the first upper byte of the OEM set
      {0xDF, 0xE1},  // sharp s
      {0xA0, 0xFF},  // no-break space: the last
      {0x83, 0x9F},  // f hook, the one letter from the ANSI set's 0x80 row
      {0xB0, 0xF8},  // degree
      {0xBD, 0xAB},  // one half
      {0xF7, 0xF6},  // division sign
      {0x80, '?'},   // euro: missing from the OEM set
      {0x81, '?'},   // undefined in the ANSI set
      {0xC0, '?'},   // A grave: the OEM set has only the small letter
      {0xFE, '?'},   // thorn
  };
  for (const auto& pair : pairs) EXPECT_EQ(OemOf(pair.cAnsi), pair.cOem) << int{pair.cAnsi};
}

// A slip in the table shows as two ANSI characters sharing one OEM byte.
TEST(AnsiToOem, UpperHalfMapsOneToOneOrToQuestionMark) {
  std::set<unsigned char> seen;
  int nMapped = 0;
  for (int c = 0x80; c < 0x100; ++c) {
    const unsigned char cOem = OemOf(static_cast<unsigned char>(c));
    if (cOem == '?') continue;
    EXPECT_GE(cOem, 0x80) << c;
    EXPECT_TRUE(seen.insert(cOem).second) << c;
    ++nMapped;
  }
  EXPECT_EQ(nMapped, 54);
}

TEST(AnsiToOem, ConvertsEveryByteOfAString) {
  EXPECT_EQ(AnsiToOem("caf\xE9;\x80|"), "caf\x82;?|");
  EXPECT_EQ(AnsiToOem(""), "");
}

}  // namespace
