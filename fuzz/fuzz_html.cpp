// No input crashes, hangs or reads outside the HTML conversion in either mode; a
// success writes only printable ASCII, CR and LF, never more bytes than the body
// holds, and a failure writes nothing. At every scan level, the search for the
// body tags gives the same answer as a byte-by-byte twin does, and the conversion
// (at each level) the same status and text as a twin that reads the
// rendering rules one byte at a time. Each input is checked as it stands and in
// its large form (fuzz_support.h), of up to 1 MiB.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <memory>
#include <span>
#include <string>
#include <string_view>

#include "document/am_file.h"
#include "fuzz_support.h"
#include "html/html_read.h"
#include "quorlix.h"
#include "reference/html_reference.h"
#include "scan/scan_level.h"

namespace {

constexpr std::size_t kMaxInputBytes = 1 << 16;

bool HasOnlyTextBytes(const std::string& out) {
  for (const char c : out) {
    const auto b = static_cast<unsigned char>(c);
    if (b != '\r' && b != '\n' && (b < 0x20 || b > 0x7E)) return false;
  }
  return true;
}

// The body's bytes between the '>' of the last "<BODY" tag and that of the last
// "</BODY" tag, found by a plain scan of its own.
std::size_t BodyBytes(std::string_view page) {
  std::size_t nStart = 0, nEnd = 0;
  for (std::size_t nLt = page.find('<'); nLt != std::string_view::npos; nLt = page.find('<', nLt + 1)) {
    const std::size_t nGt = page.find('>', nLt);
    if (nGt == std::string_view::npos) break;
    const std::string_view tag = page.substr(nLt, nGt - nLt);
    if (tag.starts_with("<BODY")) nStart = nGt;
    if (tag.starts_with("</BODY")) nEnd = nGt;
    nLt = nGt;
  }
  return nEnd > nStart ? nEnd - nStart : 0;
}

using quorlix_reference::ConvertHtmlByteByByte;
using quorlix_reference::FindBodyTagsByteByByte;

// The levels the conversion can run at.
constexpr ScanLevel kScanLevels[] = {ScanLevel::kAvx2, ScanLevel::kSsse3, ScanLevel::kPortable};

void Check(const std::string& strIn, std::string_view page, int nTablesOnly, ScanLevel scanLevel,
           const std::uint8_t* pData, std::size_t nSize) {
  const std::string strOut = quorlix_fuzz::WorkDir() + "/page.txt";
  std::filesystem::remove(strOut);
  const ScopedScanLevel level(scanLevel);
  CAMFile doc(strIn, strOut, nTablesOnly);
  if (doc.LoadHtmlInput() != QUORLIX_OK) quorlix_fuzz::FailWithInput("the page did not load", pData, nSize);
  const int nStatus = doc.ConvertHtml();
  const bool bWritten = std::filesystem::exists(strOut);
  std::string strTwin;
  if (nStatus != ConvertHtmlByteByByte(page, nTablesOnly == 1, strTwin))
    quorlix_fuzz::FailWithInput("the status differs from the byte-by-byte twin's", pData, nSize);
  switch (nStatus) {
    case QUORLIX_OK: {
      if (!bWritten) quorlix_fuzz::FailWithInput("success without an output file", pData, nSize);
      const std::string out = quorlix_fuzz::ReadWorkFile(strOut);
      if (out != strTwin) quorlix_fuzz::FailWithInput("the text differs from the byte-by-byte twin's", pData, nSize);
      if (!HasOnlyTextBytes(out)) quorlix_fuzz::FailWithInput("output holds a byte outside text", pData, nSize);
      if (out.size() > BodyBytes(page)) quorlix_fuzz::FailWithInput("output longer than the body", pData, nSize);
      break;
    }
    case QUORLIX_HTML_NO_BODY:
    case QUORLIX_HTML_BODY_FAILED:
    case QUORLIX_HTML_TABLE_FAILED:
    case QUORLIX_HTML_ROW_FAILED:
      if (bWritten) quorlix_fuzz::FailWithInput("a failure wrote the output", pData, nSize);
      break;
    default: quorlix_fuzz::FailWithInput("a status the conversion never gives", pData, nSize);
  }
}

// The body's own patterns, and others that reach the short patterns, the ones
// that stand in every tag, and those that the search from the end leaves to the walk.
constexpr std::string_view kPatternPairs[][2] = {
    {"<BODY", "</BODY"}, {"<B", "</"}, {"<", "<<"}, {"<<BO", "<</BODY<"}, {"<A>", ""}, {"BODY", "<BODY"},
};

void CheckBodyTags(std::string_view page, const std::uint8_t* pData, std::size_t nSize) {
  // Copied into a buffer of its exact size, so that a read past it is caught.
  const auto pPage = std::make_unique<unsigned char[]>(page.size());
  if (!page.empty()) std::memcpy(pPage.get(), page.data(), page.size());
  const auto nLen = static_cast<std::uint32_t>(page.size());
  for (const auto& patterns : kPatternPairs) {
    HtmlBodyTags twin, vector, portable;
    const bool bTwin = FindBodyTagsByteByByte(page, patterns[0], patterns[1], twin);
    const auto FindAt = [&](ScanLevel scanLevel, HtmlBodyTags& tags) {
      const ScopedScanLevel level(scanLevel);
      return FindHtmlBodyTags(pPage.get(), nLen, patterns[0], patterns[1], tags);
    };
    const bool bVector = FindAt(ScanLevel::kSsse3, vector);
    const bool bPortable = FindAt(ScanLevel::kPortable, portable);
    const auto same = [&](bool b, const HtmlBodyTags& tags) {
      return b == bTwin && tags.nStart == twin.nStart && tags.nEnd == twin.nEnd;
    };
    if (!same(bVector, vector) || !same(bPortable, portable))
      quorlix_fuzz::FailWithInput("the body tag search differs from its twin", pData, nSize);
  }
}

void CheckPage(const std::uint8_t* pData, std::size_t nSize, std::span<const ScanLevel> scanLevels) {
  const std::string strIn = quorlix_fuzz::WriteWorkFile("page.htm", pData, nSize);
  const std::string_view page(reinterpret_cast<const char*>(pData), nSize);
  CheckBodyTags(page, pData, nSize);
  for (const ScanLevel scanLevel : scanLevels) {
    Check(strIn, page, 0, scanLevel, pData, nSize);
    Check(strIn, page, 1, scanLevel, pData, nSize);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* pData, std::size_t nSize) {
  if (nSize > kMaxInputBytes) return 0;
  CheckPage(pData, nSize, kScanLevels);
  // A large form at one level, picked by its first byte, to stay quick.
  quorlix_fuzz::CheckLargeForm(
      pData, nSize,
      [](const std::uint8_t* p, std::size_t n) {
        CheckPage(p, n, {&kScanLevels[p[0] % 3], 1});
      },
      std::size_t{1} << 20);
  return 0;
}
