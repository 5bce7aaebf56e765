#include "fuzz_support.h"

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>

namespace quorlix_fuzz {

namespace {

// The fuzzer's input while its large form is checked, for FailWithInput.
struct LargeFormOrigin {
  const std::uint8_t* pData = nullptr;
  std::size_t nSize = 0;
  std::size_t nLargeSize = 0;
};
LargeFormOrigin g_origin;

enum class Layout { kRepeated, kAtEdges, kAtEnds };

// Bytes that make one long line, blank lines, empty lines of other kinds, a sea
// of dropped bytes, or a run of one character that the conversions look for.
constexpr char kFillers[8] = {'a', ' ', '\n', '\r', '\0', '\xFF', '<', ','};

// An edge the library cuts at, and how many of them the large form spans.
struct LargeLength {
  std::size_t nEdge;
  std::size_t nEdges;
};
// Mostly one edge or a few, which reach every path: the filing decoder's blocks
// and the line-ending pass's pieces (read ahead past four of either), and the
// archives' buffers.
constexpr LargeLength kLengths[] = {
    {65535, 1}, {65535, 1}, {65535, 2}, {65535, 4}, {65536, 1}, {65536, 1}, {65536, 2}, {65536, 4},
    {4096, 1},  {4096, 2},  {4096, 3},  {4096, 15}, {4096, 16}, {4096, 17}, {4096, 31}, {4096, 33},
};
// Rarely, since each costs about a second under the sanitizers: past the sixteen
// blocks the read-ahead ring holds, the delimited conversion's 1 MiB reads, and the largest.
constexpr LargeLength kLongLengths[] = {{65535, 17}, {65536, 17}, {std::size_t{1} << 20, 1}, {std::size_t{1} << 20, 4}};
constexpr unsigned kLongLengthsFrom = 0x100 - std::size(kLongLengths);

}  // namespace

const std::string& WorkDir() {
  static const std::string strDir = [] {
    const char* pszTemp = std::getenv("TMPDIR");
    std::string strTemplate = std::string(pszTemp && *pszTemp ? pszTemp : "/tmp") + "/quorlix-fuzz-XXXXXX";
    if (!::mkdtemp(strTemplate.data())) std::abort();
    return strTemplate;
  }();
  return strDir;
}

std::string WriteWorkFile(std::string_view strName, const void* pData, std::size_t nSize) {
  const std::string strPath = WorkDir() + "/" + std::string(strName);
  std::ofstream out(strPath, std::ios::binary | std::ios::trunc);
  out.write(static_cast<const char*>(pData), static_cast<std::streamsize>(nSize));
  return strPath;
}

std::string ReadWorkFile(const std::string& strPath) {
  std::ifstream in(strPath, std::ios::binary | std::ios::ate);
  if (!in) return {};
  std::string strBytes(static_cast<std::size_t>(in.tellg()), '\0');
  in.seekg(0).read(strBytes.data(), static_cast<std::streamsize>(strBytes.size()));
  return strBytes;
}

void FailWithInput(const char* pszWhat, const std::uint8_t* pData, std::size_t nSize) {
  std::fprintf(stderr, "%s\n", pszWhat);
  if (g_origin.pData) {
    std::fprintf(stderr, "in the large form (%zu bytes) of the\n", g_origin.nLargeSize);
    pData = g_origin.pData;
    nSize = g_origin.nSize;
  }
  std::fprintf(stderr, "input (%zu bytes): \"", nSize);
  for (std::size_t i = 0; i < nSize; ++i) std::fprintf(stderr, "\\x%02X", pData[i]);
  std::fprintf(stderr, "\"\n");
  std::abort();
}

// ---- Large forms ----

std::string MakeLargeForm(const std::uint8_t* pData, std::size_t nSize, std::size_t nMaxBytes) {
  if (nSize <= kRecipeBytes || (pData[0] & 0xC0) != 0xC0) return {};
  const auto layout = static_cast<Layout>((pData[0] & 3) % 3);
  const char chFiller = kFillers[(pData[0] >> 2) & 7];
  const LargeLength length = pData[1] >= kLongLengthsFrom ? kLongLengths[pData[1] - kLongLengthsFrom]
                                                          : kLengths[pData[1] % std::size(kLengths)];
  const auto nOffset = static_cast<std::ptrdiff_t>(static_cast<std::int8_t>(pData[2]));
  const auto nLength = static_cast<std::size_t>(std::clamp<std::ptrdiff_t>(
      static_cast<std::ptrdiff_t>(length.nEdge * length.nEdges) + nOffset, 1, static_cast<std::ptrdiff_t>(nMaxBytes)));
  const std::string_view material(reinterpret_cast<const char*>(pData) + kRecipeBytes, nSize - kRecipeBytes);
  const std::size_t nPivot = pData[3] % material.size();

  std::string strLarge;
  switch (layout) {
    case Layout::kRepeated:  // from the pivot byte on, then whole copies
      strLarge.reserve(nLength + material.size());
      strLarge.append(material.substr(nPivot));
      while (strLarge.size() < nLength) strLarge.append(material);
      strLarge.resize(nLength);
      break;
    case Layout::kAtEdges:  // the pivot byte on the start and on every edge, the rest filler
      strLarge.assign(nLength, chFiller);
      for (std::size_t nEdgeAt = 0; nEdgeAt < nLength; nEdgeAt += length.nEdge) {
        const std::size_t nSkipped = nEdgeAt < nPivot ? nPivot - nEdgeAt : 0;  // before the start
        const std::size_t nAt = nEdgeAt + nSkipped - nPivot;
        const std::string_view part = material.substr(nSkipped, nLength - nAt);
        std::copy(part.begin(), part.end(), strLarge.begin() + static_cast<std::ptrdiff_t>(nAt));
      }
      break;
    case Layout::kAtEnds: {  // the bytes before the pivot at the start, the others at the end
      strLarge.assign(nLength, chFiller);
      const std::string_view head = material.substr(0, std::min(nPivot, nLength));
      const std::string_view tail = material.substr(nPivot, std::min(material.size() - nPivot, nLength));
      std::copy(head.begin(), head.end(), strLarge.begin());
      std::copy(tail.begin(), tail.end(), strLarge.end() - static_cast<std::ptrdiff_t>(tail.size()));
      break;
    }
  }
  return strLarge;
}

LargeFormScope::LargeFormScope(const std::uint8_t* pData, std::size_t nSize, std::size_t nLargeSize) noexcept {
  g_origin = {pData, nSize, nLargeSize};
}

LargeFormScope::~LargeFormScope() { g_origin = {}; }

}  // namespace quorlix_fuzz
