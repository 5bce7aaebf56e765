// No input crashes the load step or either line-ending pass, and every output
// holds only kept bytes with each CR directly followed by LF and each LF directly
// preceded by CR; the skip-blank output has no empty line.
#include <cstddef>
#include <cstdint>
#include <string>

#include "document/am_file.h"
#include "document/byte_filter.h"
#include "fuzz_support.h"

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
  if (doc.LoadInput() != 0) return {};
  const int nStatus = bSkipBlank ? doc.ConvertLineEndsSkipBlank() : doc.ConvertLineEnds();
  if (nStatus != 0) std::abort();
  return quorlix_fuzz::ReadWorkFile(strOut);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* pData, std::size_t nSize) {
  if (nSize > kMaxInputBytes) return 0;
  const std::string strIn = quorlix_fuzz::WriteWorkFile("in.txt", pData, nSize);

  const std::string plain = Convert(strIn, false);
  if (!HasOnlyCrLfBreaks(plain)) quorlix_fuzz::FailWithInput("plain output breaks the CR LF rule", pData, nSize);

  const std::string skipBlank = Convert(strIn, true);
  if (!HasOnlyCrLfBreaks(skipBlank)) quorlix_fuzz::FailWithInput("skip-blank output breaks the CR LF rule", pData, nSize);
  if (HasEmptyLine(skipBlank)) quorlix_fuzz::FailWithInput("skip-blank output holds an empty line", pData, nSize);
  return 0;
}
