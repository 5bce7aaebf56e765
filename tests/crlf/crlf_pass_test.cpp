#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "crlf/crlf_pass.h"
#include "scan/line_scan.h"

namespace {

// Runs the pass at the SSSE3 or the portable level, nPieceBytes at a time,
// and checks that the measured length is the length written, and that the input
// read a piece at a time gives the same bytes as the input in memory.
std::string RunPass(const std::string& input, bool bSkipBlank, bool bVector, std::size_t nPieceBytes) {
  const ScopedScanLevel level(bVector ? ScanLevel::kSsse3 : ScanLevel::kPortable);
  std::vector<unsigned char> scratch(2 * nPieceBytes);
  const auto* pIn = reinterpret_cast<const unsigned char*>(input.data());
  const auto nLen = static_cast<std::uint32_t>(input.size());
  std::string out;
  const std::uint64_t nWritten = ConvertLineEndPieces(
      pIn, nLen, bSkipBlank, nPieceBytes, scratch.data(),
      [&](const unsigned char* pBytes, std::size_t nCount) { out.append(pBytes, pBytes + nCount); });
  EXPECT_EQ(nWritten, out.size());
  EXPECT_EQ(MeasureLineEndOutput(pIn, nLen, bSkipBlank, nPieceBytes, scratch.data()), out.size());

  std::vector<unsigned char> window(nPieceBytes + 2), streamScratch(2 * (nPieceBytes + 1));
  std::size_t nRead = 0;
  std::string streamed;
  const std::uint64_t nStreamed = ConvertLineEndStream(
      nLen, bSkipBlank, nPieceBytes, window.data(), streamScratch.data(),
      [&](unsigned char* pBuf, std::size_t nCount) {
        EXPECT_LE(nCount, nPieceBytes);
        std::copy_n(pIn + nRead, nCount, pBuf);
        nRead += nCount;
      },
      [&](const unsigned char* pBytes, std::size_t nCount) { streamed.append(pBytes, pBytes + nCount); });
  EXPECT_EQ(nRead, input.size());
  EXPECT_EQ(nStreamed, streamed.size());
  EXPECT_EQ(streamed, out) << "read " << nPieceBytes << " at a time";
  return out;
}

// Lines of 1 to 40 bytes, so that every break form falls on every place of a
// sixteen-byte block, with dropped bytes inside the lines.
struct BlockEdgeText {
  std::string input;
  std::string expected;
};
BlockEdgeText MakeBlockEdgeText() {
  const char* const breaks[] = {"\r\n", "\n", "\r", "\n\r"};
  const char* const converted[] = {"\r\n", "\r\n", "\r\n", "\r\n\r\n"};
  BlockEdgeText text;
  for (int nLine = 1; nLine <= 40; ++nLine) {
    const std::string line(static_cast<std::size_t>(nLine), static_cast<char>('a' + nLine % 26));
    text.input += line.substr(0, 1) + "\t\xE9" + line.substr(1) + breaks[nLine % 4];
    text.expected += line + converted[nLine % 4];
  }
  return text;
}

TEST(LineEndPass, EveryScannerAndPieceSizeGivesTheSameBytes) {
  const BlockEdgeText text = MakeBlockEdgeText();
  for (const bool bVector : {true, false}) {
    for (const std::size_t nPiece : {std::size_t{1}, std::size_t{2}, std::size_t{15}, std::size_t{16}, std::size_t{17},
                                     std::size_t{1000}, kLineEndPieceBytes}) {
      EXPECT_EQ(RunPass(text.input, false, bVector, nPiece), text.expected) << bVector << " " << nPiece;
    }
  }
}

TEST(LineEndPass, CrLfPairCutBetweenPiecesStaysOnePair) {
  for (const bool bVector : {true, false}) {
    EXPECT_EQ(RunPass("A\r\nB", false, bVector, 2), "A\r\nB");  // the cut falls between CR and LF
    EXPECT_EQ(RunPass("A\r\nB", true, bVector, 2), "A\r\nB");
  }
}

TEST(LineEndPass, SkipBlankCarriesTheLineStateAcrossPieces) {
  const std::string input = std::string(20, ' ') + "\n\r\n" + std::string(20, 'x') + "\r\n\r\n";
  const std::string expected = std::string(20, ' ') + std::string(20, 'x') + "\r\n";
  for (const bool bVector : {true, false})
    for (const std::size_t nPiece : {std::size_t{1}, std::size_t{7}, kLineEndPieceBytes})
      EXPECT_EQ(RunPass(input, true, bVector, nPiece), expected) << bVector << " " << nPiece;
}

TEST(LineEndPass, LongRunsOfEveryLineByteAreCopiedWhole) {
  std::string input;
  for (int n = 0; n < 8; ++n)
    for (int b = 0x20; b <= 0x7E; ++b) input += static_cast<char>(b);
  for (const bool bVector : {true, false}) EXPECT_EQ(RunPass(input, false, bVector, 64), input);
}

}  // namespace
