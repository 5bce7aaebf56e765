#include "filing/filing_sniff.h"

#include <algorithm>
#include <string>

#include "platform/file.h"

namespace {

constexpr std::string_view kFramingTags[] = {"<SEC-DOCUMENT>", "<IMS-DOCUMENT>", "<SEC-HEADER>", "<IMS-HEADER>",
                                             "<SUBMISSION>"};
constexpr std::string_view kPemBanner = "-----BEGIN PRIVACY-ENHANCED MESSAGE-----";
constexpr std::string_view kUtf8Bom = "\xEF\xBB\xBF";
constexpr std::string_view kWhiteSpace = " \t\r\n\f\v";
constexpr auto npos = std::string_view::npos;

bool BeginsWithFramingTag(std::string_view line) {
  return std::ranges::any_of(kFramingTags, [line](std::string_view tag) { return line.starts_with(tag); });
}

bool HasFramingLine(std::string_view head) {
  for (std::size_t start = 0; start < head.size();) {
    if (BeginsWithFramingTag(head.substr(start))) return true;
    const std::size_t end = head.find_first_of("\r\n", start);
    if (end == npos) return false;
    start = end + 1;
  }
  return false;
}

// The start of the first line at or after from that holds more than white
// space; npos when no such line begins in text.
std::size_t SkipBlankLines(std::string_view text, std::size_t from) {
  const std::size_t firstMark = text.find_first_not_of(kWhiteSpace, from);
  if (firstMark == npos) return npos;
  const std::size_t lineEnd = text.find_last_of("\r\n", firstMark);
  return lineEnd == npos || lineEnd < from ? from : lineEnd + 1;
}

// The start of the line after a PEM preamble that begins at from: past its
// first blank line; npos when that line does not end in text.
std::size_t SkipPemPreamble(std::string_view text, std::size_t from) {
  for (std::size_t start = from;;) {
    const std::size_t end = text.find_first_of("\r\n", start);
    if (end == npos) return npos;
    const std::size_t next = text.substr(end, 2) == "\r\n" ? end + 2 : end + 1;
    if (text.substr(start, end - start).find_first_not_of(kWhiteSpace) == npos) return next;
    start = next;
  }
}

// Where the filing's own lines begin: past a BOM, blank lines and a PEM
// preamble; npos when that lies past text.
std::size_t FindContentStart(std::string_view text) {
  std::size_t start = SkipBlankLines(text, text.starts_with(kUtf8Bom) ? kUtf8Bom.size() : 0);
  if (start == npos || !text.substr(start).starts_with(kPemBanner)) return start;
  start = SkipPemPreamble(text, start);
  return start == npos ? npos : SkipBlankLines(text, start);
}

enum class ByteOrder { kNone, kLittle, kBig };

// UTF-16 by its BOM, or else by its first characters: ASCII text in UTF-16 has a
// zero in every other byte, which 8-bit text does not.
ByteOrder FindUtf16(std::string_view head, std::size_t& nBomBytes) {
  nBomBytes = 2;
  if (head.starts_with("\xFF\xFE")) return ByteOrder::kLittle;
  if (head.starts_with("\xFE\xFF")) return ByteOrder::kBig;
  nBomBytes = 0;
  constexpr std::size_t kProbeBytes = 64;
  const std::string_view probe = head.substr(0, std::min(head.size(), kProbeBytes) & ~std::size_t{1});
  if (probe.size() < 4) return ByteOrder::kNone;
  bool zeroLow = true;   // every even byte zero: big-endian
  bool zeroHigh = true;  // every odd byte zero: little-endian
  for (std::size_t i = 0; i < probe.size(); i += 2) {
    zeroLow = zeroLow && probe[i] == '\0' && probe[i + 1] != '\0';
    zeroHigh = zeroHigh && probe[i] != '\0' && probe[i + 1] == '\0';
  }
  return zeroHigh ? ByteOrder::kLittle : zeroLow ? ByteOrder::kBig : ByteOrder::kNone;
}

// UTF-16 text as 8-bit text: a character above 0xFF becomes '?', which no
// framing tag holds.
std::string NarrowUtf16(std::string_view units, ByteOrder order) {
  std::string text;
  text.reserve(units.size() / 2);
  const std::size_t nLow = order == ByteOrder::kLittle ? 0 : 1;
  for (std::size_t i = 0; i + 1 < units.size(); i += 2) text += units[i + 1 - nLow] == '\0' ? units[i + nLow] : '?';
  return text;
}

}  // namespace

HeadVerdict JudgeSubmissionHead(std::string_view head, bool bWhole) {
  const std::string_view limited = head.substr(0, kSniffLimitBytes);
  const bool bAllThere = bWhole || head.size() >= kSniffLimitBytes;
  const std::size_t nStart = FindContentStart(limited);
  if (nStart == npos) return bAllThere ? HeadVerdict::kOther : HeadVerdict::kReadOn;
  const std::string_view window = limited.substr(nStart, kFramingWindowBytes);
  if (HasFramingLine(window)) return HeadVerdict::kSubmission;
  return bAllThere || window.size() == kFramingWindowBytes ? HeadVerdict::kOther : HeadVerdict::kReadOn;
}

HeadVerdict JudgeFileHead(std::string_view head, bool bWhole) {
  std::size_t nBomBytes = 0;
  const ByteOrder order = FindUtf16(head, nBomBytes);
  if (order == ByteOrder::kNone) return JudgeSubmissionHead(head, bWhole);
  const std::string_view units = head.substr(nBomBytes, kSniffLimitBytes);
  const HeadVerdict verdict = JudgeSubmissionHead(NarrowUtf16(units, order), bWhole);
  return verdict == HeadVerdict::kReadOn && head.size() >= kSniffLimitBytes ? HeadVerdict::kOther : verdict;
}

SubmissionSniff SniffSubmission(const CString& strPath) noexcept {
  try {
    // CFile refuses what is no regular file without waiting on it (a FIFO).
    CFile file(strPath, CFile::modeRead);
    // Most files answer within their first block; blank lines or a preamble
    // make the head grow, four times at each step, up to the limit.
    std::string head;
    for (std::size_t nWanted = kFramingWindowBytes;; nWanted = std::min(nWanted * 4, kSniffLimitBytes)) {
      const std::size_t nHad = head.size();
      head.resize(nWanted);
      head.resize(nHad + file.Read(head.data() + nHad, nWanted - nHad));
      const bool bWhole = head.size() < nWanted;
      const HeadVerdict verdict = JudgeFileHead(head, bWhole);
      if (verdict == HeadVerdict::kSubmission) return SubmissionSniff::kSubmission;
      if (verdict == HeadVerdict::kOther || bWhole || nWanted == kSniffLimitBytes) return SubmissionSniff::kOther;
    }
  } catch (...) {
    return SubmissionSniff::kUnreadable;
  }
}
