#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "scan/byte_filter.h"
#include "scan/line_scan.h"

namespace {

bool IsPlainLineByte(int b) { return b >= 0x20 && b <= 0x7E; }

// Whether this processor can run the SSSE3 scanner, whatever the environment asks.
bool CanRunSsse3Scan() {
  const ScopedScanLevel level(ScanLevel::kSsse3);
  return ActiveScanLevel() != ScanLevel::kPortable;
}

// Every byte value at every place of a block, for both scanners: the run ends
// exactly at the first byte outside 0x20-0x7E, and the copy holds the run; a
// watched byte is seen when it lies inside the run, wherever that is.
template <typename Scan>
void ExpectRunsEndAtTheFirstNonLineByte() {
  for (int b = 0; b < 256; ++b) {
    for (std::size_t nAt = 0; nAt < 40; ++nAt) {
      std::string text(48, 'x');
      text[nAt] = static_cast<char>(b);
      const auto* p = reinterpret_cast<const unsigned char*>(text.data());
      const std::size_t nExpected = IsPlainLineByte(b) ? text.size() : nAt;
      std::vector<unsigned char> out(text.size());
      ASSERT_EQ(Scan::CopyRun(p, text.size(), out.data()), nExpected) << b << " at " << nAt;
      EXPECT_EQ(std::string_view(reinterpret_cast<const char*>(out.data()), nExpected), text.substr(0, nExpected));

      std::vector<unsigned char> outWatching(text.size());
      bool bSeen = false;
      ASSERT_EQ(Scan::CopyRunWatching(p, text.size(), outWatching.data(), static_cast<unsigned char>(b), bSeen),
                nExpected);
      EXPECT_EQ(bSeen, IsPlainLineByte(b)) << b << " at " << nAt;
      EXPECT_EQ(std::string_view(reinterpret_cast<const char*>(outWatching.data()), nExpected),
                text.substr(0, nExpected));
    }
  }
  // A '>' before, at and after the end of a run cut by a NUL.
  for (std::size_t nGt = 0; nGt < 40; ++nGt) {
    for (const std::size_t nEnd : {std::size_t{5}, std::size_t{16}, std::size_t{23}, std::size_t{47}}) {
      std::string text(48, 'x');
      text[nGt] = '>';
      text[nEnd] = '\0';
      std::vector<unsigned char> out(text.size());
      bool bSeen = false;
      Scan::CopyRunWatching(reinterpret_cast<const unsigned char*>(text.data()), text.size(), out.data(), '>', bSeen);
      EXPECT_EQ(bSeen, nGt < nEnd) << nGt << " " << nEnd;
    }
  }
}

TEST(LineScan, RunsEndAtTheFirstNonLineByteWithEitherScanner) {
  ExpectRunsEndAtTheFirstNonLineByte<PortableLineScan>();
  if (CanRunSsse3Scan()) ExpectRunsEndAtTheFirstNonLineByte<Ssse3LineScan>();
}

TEST(LineScan, LineBytesAreTheKeptBytesLessCrAndLf) {
  for (int b = 0; b < 256; ++b) {
    const auto ch = static_cast<unsigned char>(b);
    EXPECT_EQ(IsLineByte(ch), IsKeptByte(ch) && ch != '\r' && ch != '\n') << b;
    EXPECT_EQ(IsDroppedByte(ch), !IsKeptByte(ch)) << b;
  }
}

// A run of dropped bytes ends exactly at the first kept byte, whatever its value
// and place within the words and blocks the scanner reads at once, and runs to
// the end when every byte is dropped.
template <typename Scan>
void ExpectDroppedRunsEndAtTheFirstKeptByte() {
  for (const char chDropped : {'\0', '\x01', '\t', '\x7F', '\x80', '\xFF'}) {
    for (int b = 0; b < 256; ++b) {
      for (std::size_t nAt = 0; nAt < 70; ++nAt) {
        std::string text(72, chDropped);
        text[nAt] = static_cast<char>(b);
        const auto* p = reinterpret_cast<const unsigned char*>(text.data());
        const std::size_t nExpected = IsKeptByte(static_cast<unsigned char>(b)) ? nAt : text.size();
        ASSERT_EQ(Scan::CountDropped(p, text.size()), nExpected) << int{chDropped} << ": " << b << " at " << nAt;
        ASSERT_EQ(Scan::CountDropped(p, nAt), nAt);  // a run cut by the end of the bytes given
      }
    }
  }
}

TEST(LineScan, DroppedRunsEndAtTheFirstKeptByteWithEitherScanner) {
  ExpectDroppedRunsEndAtTheFirstKeptByte<PortableLineScan>();
  if (CanRunSsse3Scan()) ExpectDroppedRunsEndAtTheFirstKeptByte<Ssse3LineScan>();
}

#ifdef QUORLIX_HAS_VECTOR_SCAN
TEST(LineScan, BlocksAreClassifiedAndTheirSelectedBytesGathered) {
  if (!CanRunSsse3Scan()) GTEST_SKIP() << "this processor cannot run the vector scanner";
  std::string block(16, '\0');
  for (int nFirst = 0; nFirst < 256; nFirst += 16) {
    for (int k = 0; k < 16; ++k) block[k] = static_cast<char>(nFirst + k);
    const auto* p = reinterpret_cast<const unsigned char*>(block.data());
    const Ssse3LineScan::BlockKinds kinds = Ssse3LineScan::Classify(p);
    std::string expected;
    for (int k = 0; k < 16; ++k) {
      const int b = nFirst + k;
      EXPECT_EQ((kinds.nLine >> k) & 1, IsPlainLineByte(b) ? 1u : 0u) << b;
      EXPECT_EQ((kinds.nCr >> k) & 1, b == '\r' ? 1u : 0u) << b;
      EXPECT_EQ((kinds.nLf >> k) & 1, b == '\n' ? 1u : 0u) << b;
    }
    // Odd places only: the gathering works across both halves of the block.
    for (int k = 1; k < 16; k += 2) expected += block[k];
    unsigned char out[16];
    ASSERT_EQ(Ssse3LineScan::StoreSelected(p, 0xAAAA, out), 8u);
    EXPECT_EQ(std::string_view(reinterpret_cast<const char*>(out), 8), expected);
  }
}

// Plain lines are taken whole blocks at a time while two blocks are left, up to
// the first block that holds a byte other than line bytes and LFs, or a '>'; each
// LF comes out as CR LF, and the last line end stored is where the next line starts.
TEST(LineScan, PlainLinesAreCopiedWithEachLfAsCrLf) {
  if (!CanRunSsse3Scan()) GTEST_SKIP() << "this processor cannot run the vector scanner";
  const auto expectCopy = [](const std::string& text, std::size_t nTaken, const std::string& label) {
    std::vector<unsigned char> out(2 * text.size() + 32, '?');
    unsigned char* pOut = out.data();
    unsigned char* pLineEnd = nullptr;
    ASSERT_EQ(Ssse3LineScan::CopyPlainLines(reinterpret_cast<const unsigned char*>(text.data()), text.size(), pOut, '>',
                                            pLineEnd),
              nTaken)
        << label;
    std::string expected;
    for (const char c : text.substr(0, nTaken)) expected += c == '\n' ? "\r\n" : std::string(1, c);
    const auto* pOutText = reinterpret_cast<const char*>(out.data());
    EXPECT_EQ(std::string_view(pOutText, static_cast<std::size_t>(pOut - out.data())), expected) << label;
    const std::size_t nLastLf = expected.rfind('\n');
    if (nLastLf == std::string::npos) EXPECT_EQ(pLineEnd, nullptr) << label;
    else EXPECT_EQ(pLineEnd, out.data() + nLastLf + 1) << label;
  };
  // LFs alone, in pairs and filling a block, at every place of the first block.
  for (std::size_t nAt = 0; nAt < 16; ++nAt) {
    std::string text(64, 'x');
    text[nAt] = '\n';
    expectCopy(text, 48, "one LF at " + std::to_string(nAt));
    text[(nAt + 5) % 16] = '\n';
    expectCopy(text, 48, "two LFs from " + std::to_string(nAt));
  }
  expectCopy(std::string(16, '\n') + std::string(16, 'x'), 16, "a block of LFs");
  // The block that holds anything else stops the copy before it.
  for (const char stop : {'>', '\r', '\t', '\0', '\x7f', '\x80', '\xff'}) {
    std::string text = "line one\nline two, a longer one\nand three\n" + std::string(40, 'y');
    text[37] = stop;
    expectCopy(text, 32, "a block holding " + std::to_string(static_cast<unsigned char>(stop)));
  }
  expectCopy(std::string(31, 'z'), 0, "fewer than two blocks");
}
#endif

// Meaningful in the suite's run under QUORLIX_PORTABLE=1.
TEST(LineScan, PortableScannerWhenTheEnvironmentAsksForIt) {
  const char* psz = std::getenv("QUORLIX_PORTABLE");
  if (psz && std::string_view(psz) == "1") {
    EXPECT_EQ(ActiveScanLevel(), ScanLevel::kPortable);
  }
}

}  // namespace
