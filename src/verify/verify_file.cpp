// File verification: a path's suffix names a file type, and a test of the file's
// contents says whether the file really is of that type. Picture, sound and video
// types are told by a signature in their first bytes, so only a short fixed prefix
// (never more than 128 bytes) is read; text and HTML have no signature, so those
// files are scanned in blocks to their end (or to what is sought), their memory
// one block whatever their length.
#include <algorithm>
#include <array>
#include <cstdint>
#include <iterator>
#include <new>
#include <span>
#include <string>
#include <string_view>

#include "document/am_file.h"
#include "platform/byte_buffer.h"
#include "quorlix.h"

namespace {

using namespace std::string_view_literals;

// ---- Suffixes ----

// Type codes name the content test; they never leave the library.
enum TypeCode : int {
  kTypeBmp,
  kTypeGif,
  kTypeJpg,
  kTypePcx,
  kTypeTif,
  kTypeWmf,
  kTypePct,
  kTypeIco,
  kTypeMid,
  kTypeWav,
  kTypeRa,
  kTypeAvi,
  kTypeMov,
  kTypeMpg,
  kTypeTxt,
  kTypeHtml,
  kTypeCount
};

struct SuffixRow {
  std::string_view strSuffix;
  TypeCode nTypeCode;
};

// Tested in this order; the first row that matches decides.
constexpr SuffixRow kSuffixes[] = {
    {".bmp", kTypeBmp},  {".gif", kTypeGif},   {".jpg", kTypeJpg}, {".pcx", kTypePcx}, {".tif", kTypeTif},
    {".wmf", kTypeWmf},  {".pct", kTypePct},   {".ico", kTypeIco}, {".mid", kTypeMid}, {".wav", kTypeWav},
    {".ra", kTypeRa},    {".avi", kTypeAvi},   {".mov", kTypeMov}, {".mpg", kTypeMpg}, {".txt", kTypeTxt},
    {".htm", kTypeHtml}, {".html", kTypeHtml},
};
static_assert(std::size(kSuffixes) == 17);

constexpr unsigned char LowerAscii(unsigned char b) {
  return b >= 'A' && b <= 'Z' ? static_cast<unsigned char>(b + 32) : b;
}

bool EqualIgnoringCase(std::string_view a, std::string_view b) {
  return std::ranges::equal(a, b, [](char x, char y) {
    return LowerAscii(static_cast<unsigned char>(x)) == LowerAscii(static_cast<unsigned char>(y));
  });
}

// ---- Content tests ----

enum class Match { kExact, kIgnoreCase, kAnyBytes };

// A run of bytes at a fixed offset. A signature whose bytes lie past the end of
// a short file is not met.
struct Signature {
  std::uint32_t nOffset;
  std::string_view bytes;
  Match match;
};

bool IsMet(const Signature& sig, std::span<const unsigned char> prefix) {
  if (sig.nOffset + sig.bytes.size() > prefix.size()) return false;
  const std::string_view have(reinterpret_cast<const char*>(prefix.data()) + sig.nOffset, sig.bytes.size());
  switch (sig.match) {
    case Match::kExact: return have == sig.bytes;
    case Match::kIgnoreCase: return EqualIgnoringCase(have, sig.bytes);
    case Match::kAnyBytes: break;
  }
  return true;
}

constexpr Signature kBitmap[] = {{0, "BM"sv, Match::kExact}, {0, "IC"sv, Match::kExact}};
constexpr Signature kGif[] = {{0, "GIF"sv, Match::kIgnoreCase}};
// The identifier is a NUL-terminated string: "JFIF" in any case, then a 0 byte.
constexpr Signature kJfif[] = {{6, "JFIF\0"sv, Match::kIgnoreCase}};
constexpr Signature kPcx[] = {{0, "\x0A"sv, Match::kExact}};
constexpr Signature kTiff[] = {{0, "II"sv, Match::kExact}, {0, "MM"sv, Match::kExact}};
// The placeable-metafile key 0x9AC6CDD7, or a header type of 1 (in memory) or
// 2 (on disk), all little-endian.
constexpr Signature kMetafile[] = {
    {0, "\xD7\xCD\xC6\x9A"sv, Match::kExact}, {0, "\x01\x00"sv, Match::kExact}, {0, "\x02\x00"sv, Match::kExact}};
constexpr Signature kFourBytes[] = {{0, "...."sv, Match::kAnyBytes}};
// Either RIFF form passes for either suffix.
constexpr Signature kRiffForm[] = {{8, "AVI"sv, Match::kIgnoreCase}, {8, "WAV"sv, Match::kIgnoreCase}};

enum class Method { kNone, kPrefix, kCrLf, kHtmlTag };

// How a failed test is told: what the test wanted, as what the file lacks, and
// the bytes shown as found (kPrefix with bShowsBytes; else only the length counts).
struct MismatchWords {
  std::string_view wanted;   // "begins with ..."
  std::string_view failure;  // "does not begin with ..."
  std::uint32_t nShowOffset;
  std::uint32_t nShowLength;
  bool bShowsBytes;
};

struct ContentTest {
  Method method;
  std::uint32_t nReadBytes;          // kPrefix: bytes read from offset 0
  std::span<const Signature> anyOf;  // kPrefix: met when one of these is
  MismatchWords words;
};

constexpr std::uint32_t kMaxPrefixBytes = 128;

// The words of each test, as the check wanted and as what the file lacks.
constexpr MismatchWords kBitmapWords{R"(begins with "BM" or "IC")", R"(does not begin with "BM" or "IC")", 0, 2, true};
constexpr MismatchWords kGifWords{R"(begins with "GIF" (in any case))", R"(does not begin with "GIF" (in any case))", 0,
                                  3, true};
constexpr MismatchWords kJfifWords{R"(bytes 6-10 are "JFIF" (in any case) and a NUL)",
                                   R"(bytes 6-10 are not "JFIF" (in any case) and a NUL)", 6, 5, true};
constexpr MismatchWords kPcxWords{"begins with the byte 0x0A", "does not begin with the byte 0x0A", 0, 1, true};
constexpr MismatchWords kTiffWords{R"(begins with "II" or "MM")", R"(does not begin with "II" or "MM")", 0, 2, true};
constexpr MismatchWords kMetafileWords{
    "begins with the placeable-metafile key D7 CD C6 9A, or with 01 00 or 02 00",
    "does not begin with the placeable-metafile key D7 CD C6 9A, nor with 01 00 or 02 00 (a metafile in memory or on "
    "disk)",
    0, 4, true};
constexpr MismatchWords kFourBytesWords{"4 bytes or more", "is shorter than 4 bytes", 0, 4, false};
constexpr MismatchWords kWaveWords{R"(bytes 8-10 are "WAV" or "AVI" (in any case))",
                                   R"(bytes 8-10 are not "WAV" or "AVI" (in any case))", 8, 3, true};
constexpr MismatchWords kAviWords{R"(bytes 8-10 are "AVI" or "WAV" (in any case))",
                                  R"(bytes 8-10 are not "AVI" or "WAV" (in any case))", 8, 3, true};
constexpr MismatchWords kCrLfWords{"a CR LF pair", "", 0, 0, false};
constexpr MismatchWords kHtmlTagWords{R"(a tag beginning "<HTML" (upper case))", "", 0, 0, false};

// Indexed by type code.
constexpr ContentTest kContentTests[] = {
    {Method::kPrefix, 14, kBitmap, kBitmapWords},       // kTypeBmp
    {Method::kPrefix, 14, kGif, kGifWords},             // kTypeGif
    {Method::kPrefix, 20, kJfif, kJfifWords},           // kTypeJpg
    {Method::kPrefix, 128, kPcx, kPcxWords},            // kTypePcx
    {Method::kPrefix, 8, kTiff, kTiffWords},            // kTypeTif
    {Method::kPrefix, 24, kMetafile, kMetafileWords},   // kTypeWmf
    {Method::kNone, 0, {}, {}},                         // kTypePct
    {Method::kPrefix, 4, kFourBytes, kFourBytesWords},  // kTypeIco
    {Method::kPrefix, 4, kFourBytes, kFourBytesWords},  // kTypeMid
    {Method::kPrefix, 16, kRiffForm, kWaveWords},       // kTypeWav
    {Method::kPrefix, 4, kFourBytes, kFourBytesWords},  // kTypeRa
    {Method::kPrefix, 16, kRiffForm, kAviWords},        // kTypeAvi
    {Method::kPrefix, 4, kFourBytes, kFourBytesWords},  // kTypeMov
    {Method::kPrefix, 4, kFourBytes, kFourBytesWords},  // kTypeMpg
    {Method::kCrLf, 0, {}, kCrLfWords},                 // kTypeTxt
    {Method::kHtmlTag, 0, {}, kHtmlTagWords},           // kTypeHtml
};
static_assert(std::size(kContentTests) == kTypeCount);
static_assert(std::ranges::all_of(kContentTests, [](const ContentTest& test) {
  return test.nReadBytes <= kMaxPrefixBytes &&
         std::ranges::all_of(test.anyOf,
                             [&](const Signature& sig) { return sig.nOffset + sig.bytes.size() <= test.nReadBytes; }) &&
         test.words.nShowOffset + test.words.nShowLength <= test.nReadBytes;
}));

// ---- Mismatch words, for the failure record ----

// Bytes in double quotes, printable ASCII as it is and others as \xHH.
std::string QuoteBytes(std::string_view bytes) {
  constexpr char kHexDigits[] = "0123456789ABCDEF";
  std::string quoted = "\"";
  for (const char c : bytes) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte >= 0x20 && byte < 0x7F && c != '"' && c != '\\') {
      quoted += c;
    } else {
      quoted += "\\x";
      quoted += kHexDigits[byte >> 4];
      quoted += kHexDigits[byte & 0xF];
    }
  }
  return quoted + '"';
}

std::string CountOf(std::uint64_t count, std::string_view one, std::string_view many) {
  return std::to_string(count) + ' ' + std::string(count == 1 ? one : many);
}

// Records a mismatch: what the test wanted, what the file holds, and both in a sentence.
void RecordMismatch(std::string_view wanted, std::string_view found, std::string_view detail) noexcept {
  RecordFailure(FailureCause::kSignatureMismatch, FailedFile::kInput);
  SetFailureSignature(wanted, found);
  SetFailureDetail(detail);
}

// A prefix test that failed on the nRead bytes read (fewer than asked only at the file's end).
void RecordPrefixMismatch(const MismatchWords& words, std::span<const unsigned char> prefix) noexcept try {
  const std::string_view have(reinterpret_cast<const char*>(prefix.data()), prefix.size());
  std::string found;
  std::string joint = "; ";
  if (have.empty()) {
    found = "the file is empty";
  } else if (!words.bShowsBytes || have.size() < words.nShowOffset + words.nShowLength) {
    found = "the file has " + CountOf(have.size(), "byte", "bytes");
  } else {
    found = QuoteBytes(have.substr(words.nShowOffset, words.nShowLength));
    joint = " but ";
  }
  RecordMismatch(words.wanted, found, std::string(words.failure) + joint + found);
} catch (...) {
  RecordFailure(FailureCause::kSignatureMismatch, FailedFile::kInput);  // no memory for the words
}

// Reads at most test.nReadBytes from the start of the file and checks the
// signatures: QUORLIX_OK, QUORLIX_VERIFY_MISMATCH, or the status of a file error.
int TestPrefix(const CString& strPath, const ContentTest& test) {
  try {
    std::array<unsigned char, kMaxPrefixBytes> buf;
    CFile file(strPath, CFile::modeRead);
    const std::size_t nRead = file.Read(buf.data(), test.nReadBytes);
    file.Close();
    const std::span<const unsigned char> prefix(buf.data(), nRead);
    const bool bMet = std::ranges::any_of(test.anyOf, [&](const Signature& sig) { return IsMet(sig, prefix); });
    if (bMet) return QUORLIX_OK;
    RecordPrefixMismatch(test.words, prefix);
    return QUORLIX_VERIFY_MISMATCH;
  } catch (const CFileException& e) {
    RecordFileFailure(e, FailedFile::kInput);
    return StatusFromFileException(e, kInputFileStatuses);
  }
}

constexpr std::size_t kHtmlPatternBytes = 5;  // "<HTML" of "<HTML>": attributes may follow
constexpr std::size_t kScanBlockBytes = 64 * 1024;

// Hands the file to scan block by block until scan returns true (it found what
// it seeks): QUORLIX_OK then, QUORLIX_VERIFY_MISMATCH when the file ends first,
// or the status of a file error.
template <class Scan>
int ScanInBlocks(const CString& strPath, Scan&& scan) {
  try {
    CFile file(strPath, CFile::modeRead);
    const ByteBuffer pBlock = AllocateByteBuffer(kScanBlockBytes);
    bool bFound = false;
    while (!bFound) {
      const std::size_t nRead = file.Read(pBlock.get(), kScanBlockBytes);
      if (nRead == 0) break;
      bFound = scan(std::string_view(reinterpret_cast<const char*>(pBlock.get()), nRead));
    }
    file.Close();
    return bFound ? QUORLIX_OK : QUORLIX_VERIFY_MISMATCH;
  } catch (const CFileException& e) {
    RecordFileFailure(e, FailedFile::kInput);
    return StatusFromFileException(e, kInputFileStatuses);
  } catch (const std::bad_alloc&) {
    RecordFailure(FailureCause::kNoMemory, FailedFile::kInput);
    return kStatusInputError;
  }
}

}  // namespace

// ---- Document routines ----

int CAMFile::VerifyByExtension(const CString& strPath) {
  const std::string_view strName = strPath;
  // The suffix is compared with as many characters from the end of the path as it has.
  for (const auto& row : kSuffixes)
    if (strName.size() >= row.strSuffix.size() &&
        EqualIgnoringCase(strName.substr(strName.size() - row.strSuffix.size()), row.strSuffix))
      return VerifyContents(row.nTypeCode);
  return QUORLIX_VERIFY_UNKNOWN_SUFFIX;
}

int CAMFile::VerifyContents(int nTypeCode) {
  if (nTypeCode < 0 || nTypeCode >= kTypeCount) return m_nStatus = QUORLIX_VERIFY_UNKNOWN_SUFFIX;
  const ContentTest& test = kContentTests[nTypeCode];
  switch (test.method) {
    case Method::kNone: return m_nStatus = QUORLIX_OK;
    case Method::kPrefix: return m_nStatus = TestPrefix(m_strInPath, test);
    case Method::kCrLf: return m_nStatus = FindCRLF();
    case Method::kHtmlTag: return m_nStatus = FindHtmlTag();
  }
  return m_nStatus = QUORLIX_VERIFY_UNKNOWN_SUFFIX;
}

// A pair may straddle two blocks: the CR that ended the last one counts. The
// line ends are counted on the way, for the words of a mismatch.
int CAMFile::FindCRLF() {
  bool bEndsInCr = false;
  std::uint64_t nBytes = 0, nLfs = 0, nCrs = 0, nFirstLf = 0, nFirstCr = 0;
  const int nStatus = ScanInBlocks(m_strInPath, [&](std::string_view block) {
    if (bEndsInCr && block.front() == '\n') return true;
    bEndsInCr = block.back() == '\r';
    if (block.find("\r\n") != std::string_view::npos) return true;
    const auto count = [&](char end, std::uint64_t& nCount, std::uint64_t& nFirst) {
      if (nCount == 0)
        if (const std::size_t nAt = block.find(end); nAt != std::string_view::npos) nFirst = nBytes + nAt;
      nCount += static_cast<std::uint64_t>(std::ranges::count(block, end));
    };
    count('\n', nLfs, nFirstLf);
    count('\r', nCrs, nFirstCr);
    nBytes += block.size();
    return false;
  });
  if (nStatus != QUORLIX_VERIFY_MISMATCH) return nStatus;
  try {
    std::string found;
    // With no pair, every LF and every CR ends a line alone.
    if (nBytes == 0) found = "the file is empty";
    else if (nLfs)
      found = CountOf(nLfs, "line ends", "lines end") + " in LF alone, the first at byte " + std::to_string(nFirstLf);
    else if (nCrs)
      found = CountOf(nCrs, "line ends", "lines end") + " in CR alone, the first at byte " + std::to_string(nFirstCr);
    else found = "it has no line ends";
    const std::string detail =
        nBytes == 0 ? "no CR LF pair; " + found : "no CR LF pair in " + CountOf(nBytes, "byte", "bytes") + "; " + found;
    RecordMismatch(kCrLfWords.wanted, found, detail);
  } catch (...) {
    RecordFailure(FailureCause::kSignatureMismatch, FailedFile::kInput);  // no memory for the words
  }
  return nStatus;
}

// Walks the tags from '<' to the next '>' (a '<' inside a tag starts no new one)
// and compares each tag text's first five bytes, exactly, with the first five of
// m_strHtmlTag. A '<' that no '>' closes is no tag, and no later one can be. A
// tag may straddle blocks: its first bytes are kept until its '>' comes.
int CAMFile::FindHtmlTag() {
  const std::string_view strPattern = std::string_view(m_strHtmlTag).substr(0, kHtmlPatternBytes);
  bool bInTag = false;
  std::array<char, kHtmlPatternBytes> tagStart{};  // the open tag's first bytes, '<' first
  std::size_t nTagStart = 0;
  std::string anyCase;  // the first tag that begins with the pattern in another case, as written
  const int nStatus = ScanInBlocks(m_strInPath, [&](std::string_view block) {
    for (std::size_t nPos = 0; nPos < block.size();) {
      if (!bInTag) {
        const std::size_t nOpen = block.find('<', nPos);
        if (nOpen == std::string_view::npos) return false;
        bInTag = true;
        tagStart[0] = '<';
        nTagStart = 1;
        nPos = nOpen + 1;
      }
      const std::size_t nClose = block.find('>', nPos);
      const std::size_t nEnd = std::min(nClose, block.size());
      for (std::size_t i = nPos; i < nEnd && nTagStart < tagStart.size(); ++i) tagStart[nTagStart++] = block[i];
      if (nClose == std::string_view::npos) return false;
      const std::string_view start(tagStart.data(), nTagStart);
      if (start == strPattern) return true;
      if (anyCase.empty() && EqualIgnoringCase(start, strPattern)) anyCase = start;
      bInTag = false;
      nPos = nClose + 1;
    }
    return false;
  });
  if (nStatus != QUORLIX_VERIFY_MISMATCH) return nStatus;
  try {
    const std::string found =
        anyCase.empty() ? R"(none begins "<html" in any case either)" : "it writes " + QuoteBytes(anyCase);
    RecordMismatch(kHtmlTagWords.wanted, found, R"(no tag beginning "<HTML" (upper case); )" + found);
  } catch (...) {
    RecordFailure(FailureCause::kSignatureMismatch, FailedFile::kInput);
  }
  return nStatus;
}
