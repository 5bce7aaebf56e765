// No input crashes, hangs or reads outside the HTML conversion in either mode; a
// success writes only printable ASCII, CR and LF, never more bytes than the body
// holds, and a failure writes nothing. The search for the body tags gives the
// same answer with either scanner as a byte-by-byte twin does.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <filesystem>
#include <string>
#include <string_view>

#include "document/am_file.h"
#include "document/line_scan.h"
#include "html/html_scan.h"
#include "fuzz_support.h"
#include "quorlix.h"

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

void Check(const std::string& strIn, std::string_view page, int nTablesOnly, const std::uint8_t* pData,
           std::size_t nSize) {
  const std::string strOut = quorlix_fuzz::WorkDir() + "/page.txt";
  std::filesystem::remove(strOut);
  CAMFile doc(strIn, strOut, nTablesOnly);
  if (doc.LoadHtmlInput() != QUORLIX_OK) quorlix_fuzz::FailWithInput("the page did not load", pData, nSize);
  const int nStatus = doc.ConvertHtml();
  const bool bWritten = std::filesystem::exists(strOut);
  switch (nStatus) {
    case QUORLIX_OK: {
      if (!bWritten) quorlix_fuzz::FailWithInput("success without an output file", pData, nSize);
      const std::string out = quorlix_fuzz::ReadWorkFile(strOut);
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
    default:
      quorlix_fuzz::FailWithInput("a status the conversion never gives", pData, nSize);
  }
}

// The tag search taken literally: a '<' opens a tag, the next '>' closes it.
bool FindBodyTagsByteByByte(std::string_view page, std::string_view startPattern, std::string_view endPattern,
                            HtmlBodyTags& tags) {
  bool bInTag = false;
  std::size_t nLt = 0;
  for (std::size_t k = 0; k < page.size(); ++k) {
    if (!bInTag && page[k] == '<') {
      nLt = k;
      bInTag = true;
    } else if (bInTag && page[k] == '>') {
      const std::string_view tag = page.substr(nLt, k - nLt);
      if (tag.starts_with(startPattern)) tags.nStart = static_cast<std::uint32_t>(k);
      if (tag.starts_with(endPattern)) tags.nEnd = static_cast<std::uint32_t>(k);
      bInTag = false;
    }
  }
  return !bInTag;
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
    SetVectorScanEnabled(true);
    const bool bVector = FindHtmlBodyTags(pPage.get(), nLen, patterns[0], patterns[1], vector);
    SetVectorScanEnabled(false);
    const bool bPortable = FindHtmlBodyTags(pPage.get(), nLen, patterns[0], patterns[1], portable);
    ResetVectorScanEnabled();
    const auto same = [&](bool b, const HtmlBodyTags& tags) {
      return b == bTwin && tags.nStart == twin.nStart && tags.nEnd == twin.nEnd;
    };
    if (!same(bVector, vector) || !same(bPortable, portable))
      quorlix_fuzz::FailWithInput("the body tag search differs from its twin", pData, nSize);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* pData, std::size_t nSize) {
  if (nSize > kMaxInputBytes) return 0;
  const std::string strIn = quorlix_fuzz::WriteWorkFile("page.htm", pData, nSize);
  const std::string_view page(reinterpret_cast<const char*>(pData), nSize);
  CheckBodyTags(page, pData, nSize);
  Check(strIn, page, 0, pData, nSize);
  Check(strIn, page, 1, pData, nSize);
  return 0;
}
