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

struct ContentTest {
  Method method;
  std::uint32_t nReadBytes;          // kPrefix: bytes read from offset 0
  std::span<const Signature> anyOf;  // kPrefix: met when one of these is
};

constexpr std::uint32_t kMaxPrefixBytes = 128;

// Indexed by type code.
constexpr ContentTest kContentTests[] = {
    {Method::kPrefix, 14, kBitmap},    // kTypeBmp
    {Method::kPrefix, 14, kGif},       // kTypeGif
    {Method::kPrefix, 20, kJfif},      // kTypeJpg
    {Method::kPrefix, 128, kPcx},      // kTypePcx
    {Method::kPrefix, 8, kTiff},       // kTypeTif
    {Method::kPrefix, 24, kMetafile},  // kTypeWmf
    {Method::kNone, 0, {}},            // kTypePct
    {Method::kPrefix, 4, kFourBytes},  // kTypeIco
    {Method::kPrefix, 4, kFourBytes},  // kTypeMid
    {Method::kPrefix, 16, kRiffForm},  // kTypeWav
    {Method::kPrefix, 4, kFourBytes},  // kTypeRa
    {Method::kPrefix, 16, kRiffForm},  // kTypeAvi
    {Method::kPrefix, 4, kFourBytes},  // kTypeMov
    {Method::kPrefix, 4, kFourBytes},  // kTypeMpg
    {Method::kCrLf, 0, {}},            // kTypeTxt
    {Method::kHtmlTag, 0, {}},         // kTypeHtml
};
static_assert(std::size(kContentTests) == kTypeCount);
static_assert(std::ranges::all_of(kContentTests, [](const ContentTest& test) {
  return test.nReadBytes <= kMaxPrefixBytes && std::ranges::all_of(test.anyOf, [&](const Signature& sig) {
           return sig.nOffset + sig.bytes.size() <= test.nReadBytes;
         });
}));

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
    return bMet ? QUORLIX_OK : QUORLIX_VERIFY_MISMATCH;
  } catch (const CFileException& e) {
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
    return StatusFromFileException(e, kInputFileStatuses);
  } catch (const std::bad_alloc&) {
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

// A pair may straddle two blocks: the CR that ended the last one counts.
int CAMFile::FindCRLF() {
  bool bEndsInCr = false;
  return ScanInBlocks(m_strInPath, [&](std::string_view block) {
    if (bEndsInCr && block.front() == '\n') return true;
    bEndsInCr = block.back() == '\r';
    return block.find("\r\n") != std::string_view::npos;
  });
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
  return ScanInBlocks(m_strInPath, [&](std::string_view block) {
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
      if (std::string_view(tagStart.data(), nTagStart) == strPattern) return true;
      bInTag = false;
      nPos = nClose + 1;
    }
    return false;
  });
}
