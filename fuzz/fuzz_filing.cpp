// A filing fed to the decoder in blocks split at arbitrary places, and read from
// a file in the decoder's own blocks (read ahead past four of them), decodes
// exactly as it does in one block, and all agree with a byte-by-byte twin of the
// line assembly; every output byte is printable ASCII, CR or LF. The whole
// filing is decoded at the SSSE3 level, the blocks with the portable one,
// the file with either.
// The first input byte seeds the block lengths; the rest is the filing. Each
// input is checked as it stands and in its large form (fuzz_support.h).
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <random>
#include <string>
#include <string_view>

#include "document/am_file.h"
#include "filing/filing_stream.h"
#include "fuzz_support.h"
#include "scan/line_scan.h"

namespace {

constexpr std::size_t kMaxInputBytes = 1 << 16;

struct Outputs {
  std::string strText;
  std::string strSchedule;
  bool operator==(const Outputs&) const = default;
};

// Runs feed(doc, stream) on a fresh document and stream and returns what reached the files.
template <typename Feed>
Outputs DecodeWith(Feed feed) {
  const std::string strText = quorlix_fuzz::WorkDir() + "/text.txt";
  const std::string strSchedule = quorlix_fuzz::WorkDir() + "/schedule.txt";
  // New files rather than truncated ones: truncating a file with unwritten data
  // makes some file systems write it out first, which slows every run.
  std::remove(strText.c_str());
  std::remove(strSchedule.c_str());
  {
    CAMFile doc;
    CFile fileText(strText, CFile::modeCreate | CFile::modeReadWrite);
    CFile fileSchedule(strSchedule, CFile::modeCreate | CFile::modeReadWrite);
    FilingStream stream(fileText, fileSchedule);
    feed(doc, stream);
    stream.Close();
  }
  return {quorlix_fuzz::ReadWorkFile(strText), quorlix_fuzz::ReadWorkFile(strSchedule)};
}

// Hands one block to DecodeBlock in a buffer of exactly its size, so that a read
// past the block's end is caught by the sanitizer.
void DecodeOneBlock(CAMFile& doc, FilingStream& stream, const std::uint8_t* pData, std::size_t nLen, bool bLast) {
  doc.m_pInBuf = std::make_unique<unsigned char[]>(nLen);
  if (nLen > 0) std::memcpy(doc.m_pInBuf.get(), pData, nLen);
  if (doc.DecodeBlock(stream, static_cast<std::uint32_t>(nLen), bLast) != 0) std::abort();
}

// The decoder's own reading: the filing from a file, in blocks of kFilingBlockBytes.
Outputs DecodeFromFile(const std::uint8_t* pFiling, std::size_t nFiling) {
  const std::string strFiling = quorlix_fuzz::WriteWorkFile("filing.txt", pFiling, nFiling);
  const std::string strText = quorlix_fuzz::WorkDir() + "/file_text.txt";
  const std::string strSchedule = quorlix_fuzz::WorkDir() + "/file_schedule.txt";
  std::remove(strText.c_str());
  std::remove(strSchedule.c_str());
  if (CAMFile(strFiling, strText, strSchedule).DecodeFiling() != 0) std::abort();
  return {quorlix_fuzz::ReadWorkFile(strText), quorlix_fuzz::ReadWorkFile(strSchedule)};
}

// The line assembly taken literally, one byte at a time, with a look-ahead of
// one byte after a CR; the line end is the decoder's own.
void DecodeByteByByte(CAMFile& doc, FilingStream& stream, const std::uint8_t* pData, std::size_t nLen) {
  unsigned char chPrev = ' ';
  for (std::size_t i = 0; i < nLen;) {
    unsigned char ch = pData[i++];
    if (ch == '\r') {
      chPrev = '\r';
      stream.text.Append("\r");
      if (i < nLen) {
        ch = pData[i++];
        if (ch == '\n') stream.text.Append("\n");
      }
      doc.EndFilingLine(stream);
    }
    if (ch == '\n' && chPrev != '\r') {
      stream.text.Append("\r\n");
      doc.EndFilingLine(stream);
    }
    if (ch >= 0x20 && ch <= 0x7E) {
      stream.text.Append(std::string_view(reinterpret_cast<const char*>(&ch), 1));
      chPrev = ch;
    }
  }
  if (stream.CurrentLineSize() != 0) doc.EndFilingLine(stream);
}

bool HasOnlyLineBytes(const std::string& str) {
  for (const char c : str) {
    const auto b = static_cast<unsigned char>(c);
    if (!(b >= 0x20 && b <= 0x7E) && b != '\r' && b != '\n') return false;
  }
  return true;
}

// A large form skips the blocks cut at random, to stay quick: reading the file
// cuts it at the decoder's own edges.
void CheckFiling(const std::uint8_t* pData, std::size_t nSize, bool bLarge) {
  if (nSize == 0) return;
  const unsigned nSeed = pData[0];
  const std::uint8_t* const pFiling = pData + 1;
  const std::size_t nFiling = nSize - 1;

  const Outputs whole =
      DecodeWith([&](CAMFile& doc, FilingStream& stream) { DecodeOneBlock(doc, stream, pFiling, nFiling, true); });
  if (!bLarge) {
    const ScopedScanLevel level(ScanLevel::kPortable);
    const Outputs inBlocks = DecodeWith([&](CAMFile& doc, FilingStream& stream) {
      std::minstd_rand rng(nSeed + 1);
      std::size_t nPos = 0;
      do {  // short blocks, empty ones included, so that boundaries fall everywhere
        const std::size_t nLen = std::min<std::size_t>(rng() % 24, nFiling - nPos);
        DecodeOneBlock(doc, stream, pFiling + nPos, nLen, nPos + nLen == nFiling);
        nPos += nLen;
      } while (nPos < nFiling);
    });
    if (!(inBlocks == whole))
      quorlix_fuzz::FailWithInput("decoding in blocks differs from decoding whole", pData, nSize);
  }
  const ScopedScanLevel level(((nSeed & 1) == 0) ? ScanLevel::kSsse3 : ScanLevel::kPortable);
  const Outputs fromFile = DecodeFromFile(pFiling, nFiling);
  const Outputs twin =
      DecodeWith([&](CAMFile& doc, FilingStream& stream) { DecodeByteByByte(doc, stream, pFiling, nFiling); });

  if (!(fromFile == whole))
    quorlix_fuzz::FailWithInput("decoding from a file differs from decoding whole", pData, nSize);
  if (!(twin == whole)) quorlix_fuzz::FailWithInput("the fast line assembly differs from its twin", pData, nSize);
  if (!HasOnlyLineBytes(whole.strText) || !HasOnlyLineBytes(whole.strSchedule))
    quorlix_fuzz::FailWithInput("an output holds a byte outside printable ASCII, CR and LF", pData, nSize);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* pData, std::size_t nSize) {
  if (nSize > kMaxInputBytes) return 0;
  CheckFiling(pData, nSize, false);
  quorlix_fuzz::CheckLargeForm(pData, nSize, [](const std::uint8_t* p, std::size_t n) { CheckFiling(p, n, true); });
  return 0;
}
