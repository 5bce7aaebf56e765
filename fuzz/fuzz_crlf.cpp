// No input crashes the load step or either line-ending pass, and every output
// holds only kept bytes with each CR directly followed by LF and each LF directly
// preceded by CR; the skip-blank output has no empty line. The pass, with either
// scanner and cut into pieces anywhere, writes exactly what a byte-by-byte twin of
// the rules writes, and its measured length is the length it writes.
// The first input byte seeds the piece lengths; the rest is the text. Each input
// is checked as it stands and in its large form (fuzz_support.h), whose file
// conversion, read whole and read ahead on a second thread, must write what the
// twin writes.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <optional>
#include <random>
#include <string>

#include "crlf/crlf_pass.h"
#include "document/am_file.h"
#include "fuzz_support.h"
#include "scan/byte_filter.h"
#include "scan/line_scan.h"

namespace {

constexpr std::size_t kMaxInputBytes = 1 << 16;

bool HasOnlyCrLfBreaks(const std::string& out) {
  for (std::size_t i = 0; i < out.size(); ++i) {
    const auto b = static_cast<unsigned char>(out[i]);
    if (!IsKeptByte(b)) return false;
    if (b == '\r' && (i + 1 == out.size() || out[i + 1] != '\n')) return false;
    if (b == '\n' && (i == 0 || out[i - 1] != '\r')) return false;
  }
  return true;
}

bool HasEmptyLine(const std::string& out) {
  return out.starts_with("\r\n") || out.find("\r\n\r\n") != std::string::npos;
}

std::string Convert(const std::string& strIn, bool bSkipBlank) {
  const std::string strOut = quorlix_fuzz::WorkDir() + "/out.txt";
  CAMFile doc(strIn, strOut);
  if (doc.LoadLineEndInput() != 0) return {};
  const int nStatus = bSkipBlank ? doc.ConvertLineEndsSkipBlank() : doc.ConvertLineEnds();
  if (nStatus != 0) std::abort();
  const std::string strWhole = quorlix_fuzz::ReadWorkFile(strOut);
  // Into a new output, read a piece at a time: only an empty input is left to the steps above.
  std::remove(strOut.c_str());
  CAMFile docNew(strIn, strOut);
  const std::optional<int> nStreamed = docNew.ConvertLineEndsIntoNewOutput(bSkipBlank);
  if (nStreamed ? *nStreamed != 0 || quorlix_fuzz::ReadWorkFile(strOut) != strWhole : !strWhole.empty()) std::abort();
  return strWhole;
}

// The rules read literally, one byte at a time: a line break is CR LF, a lone CR
// or a lone LF, judged on the raw bytes; in skip-blank mode a break is written
// only after a line holding a visible byte.
std::string ConvertByteByByte(const std::uint8_t* pIn, std::size_t nLen, bool bSkipBlank) {
  std::string out;
  bool bLineEmpty = true;
  for (std::size_t i = 0; i < nLen; ++i) {
    const unsigned char b = pIn[i];
    const bool bAfterCr = i > 0 && pIn[i - 1] == '\r';
    const bool bBeforeLf = i + 1 < nLen && pIn[i + 1] == '\n';
    switch (KindOf(b)) {
      case ByteKind::kVisible:
        bLineEmpty = false;
        out += static_cast<char>(b);
        break;
      case ByteKind::kSpace: out += ' '; break;
      case ByteKind::kLf:
        if (bSkipBlank && bLineEmpty) break;
        out += bAfterCr ? "\n" : "\r\n";
        bLineEmpty = true;
        break;
      case ByteKind::kCr:
        if (bSkipBlank && bLineEmpty) break;
        out += '\r';
        if (bBeforeLf) break;  // the LF completes the pair and ends the line
        out += '\n';
        bLineEmpty = true;
        break;
      case ByteKind::kDropped: break;
    }
  }
  return out;
}

void CheckPassAgainstTwin(const std::uint8_t* pData, std::size_t nSize, const std::uint8_t* pText, std::size_t nText,
                          bool bSkipBlank) {
  const std::string strTwin = ConvertByteByByte(pText, nText, bSkipBlank);
  // An exact copy, so that a read past the text's end is caught by the sanitizer.
  const auto pIn = std::make_unique<unsigned char[]>(nText + 1);
  std::copy(pText, pText + nText, pIn.get());
  std::minstd_rand rng(pData[0] + 1);
  for (const bool bVector : {true, false}) {
    const ScopedScanLevel level(bVector ? ScanLevel::kSsse3 : ScanLevel::kPortable);
    const std::size_t nPiece = 1 + rng() % (nText + 40);
    const auto pScratch = std::make_unique<unsigned char[]>(2 * nPiece);
    std::string strOut;
    const std::uint64_t nWritten = ConvertLineEndPieces(
        pIn.get(), static_cast<std::uint32_t>(nText), bSkipBlank, nPiece, pScratch.get(),
        [&](const unsigned char* pBytes, std::size_t nCount) { strOut.append(pBytes, pBytes + nCount); });
    if (strOut != strTwin)
      quorlix_fuzz::FailWithInput("the line-ending pass differs from its byte-by-byte twin", pData, nSize);
    if (nWritten != strOut.size() || MeasureLineEndOutput(pIn.get(), static_cast<std::uint32_t>(nText), bSkipBlank,
                                                          nPiece, pScratch.get()) != nWritten)
      quorlix_fuzz::FailWithInput("the measured output length differs from the output", pData, nSize);

    // The input read a piece at a time, into buffers of exactly the documented sizes.
    const auto pWindow = std::make_unique<unsigned char[]>(nPiece + 2);
    const auto pStreamScratch = std::make_unique<unsigned char[]>(2 * (nPiece + 1));
    std::size_t nRead = 0;
    std::string strStreamed;
    ConvertLineEndStream(
        nText, bSkipBlank, nPiece, pWindow.get(), pStreamScratch.get(),
        [&](unsigned char* pBuf, std::size_t nCount) {
          std::copy(pText + nRead, pText + nRead + nCount, pBuf);
          nRead += nCount;
        },
        [&](const unsigned char* pBytes, std::size_t nCount) { strStreamed.append(pBytes, pBytes + nCount); });
    if (strStreamed != strTwin || nRead != nText)
      quorlix_fuzz::FailWithInput("the line-ending pass over a read input differs from its twin", pData, nSize);
  }
}

void CheckLineEnds(const std::uint8_t* pData, std::size_t nSize) {
  const std::string strIn = quorlix_fuzz::WriteWorkFile("in.txt", pData, nSize);

  const std::string plain = Convert(strIn, false);
  if (!HasOnlyCrLfBreaks(plain)) quorlix_fuzz::FailWithInput("plain output breaks the CR LF rule", pData, nSize);

  const std::string skipBlank = Convert(strIn, true);
  if (!HasOnlyCrLfBreaks(skipBlank))
    quorlix_fuzz::FailWithInput("skip-blank output breaks the CR LF rule", pData, nSize);
  if (HasEmptyLine(skipBlank)) quorlix_fuzz::FailWithInput("skip-blank output holds an empty line", pData, nSize);

  if (nSize > 0) {
    CheckPassAgainstTwin(pData, nSize, pData + 1, nSize - 1, false);
    CheckPassAgainstTwin(pData, nSize, pData + 1, nSize - 1, true);
  }
}

// A large form checks what only it reaches, the file read whole and read a piece
// at a time (ahead, on a second thread), against the twin, in one mode with one
// scanner, picked by its first byte: the pass on its own runs on small inputs,
// and under the sanitizers every pass over megabytes costs a large share of a second.
void CheckLargeLineEnds(const std::uint8_t* pData, std::size_t nSize) {
  const std::string strIn = quorlix_fuzz::WriteWorkFile("in.txt", pData, nSize);
  const bool bSkipBlank = (pData[0] & 1) != 0;
  const ScopedScanLevel level(((pData[0] & 2) != 0) ? ScanLevel::kSsse3 : ScanLevel::kPortable);
  const std::string out = Convert(strIn, bSkipBlank);
  if (out != ConvertByteByByte(pData, nSize, bSkipBlank))
    quorlix_fuzz::FailWithInput("the conversion of the file differs from its byte-by-byte twin", pData, nSize);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* pData, std::size_t nSize) {
  if (nSize > kMaxInputBytes) return 0;
  CheckLineEnds(pData, nSize);
  quorlix_fuzz::CheckLargeForm(pData, nSize, CheckLargeLineEnds);
  return 0;
}
