// Any bytes, written as a file of every suffix, get a status of the verification's
// own (0, 2, 3, 7, 17 or 18) that agrees with a plain byte-by-byte reading of the
// content rules, and the prefix types never depend on the bytes past 128. Each
// input is checked as it stands and in its large form (fuzz_support.h), of up to
// 256 KiB: a file is read whole or not at all, so no edge lies further.
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>

#include "fuzz_support.h"
#include "quorlix.h"

namespace {

constexpr std::size_t kMaxInputBytes = 1 << 14;
constexpr std::size_t kMaxPrefixBytes = 128;

constexpr std::string_view kSuffixes[] = {".bmp", ".gif", ".jpg", ".pcx", ".tif", ".wmf", ".pct", ".ico",  ".mid",
                                          ".wav", ".ra",  ".avi", ".mov", ".mpg", ".txt", ".htm", ".html", ".doc"};

bool IsWholeFileType(std::string_view strSuffix) {
  return strSuffix == ".txt" || strSuffix == ".htm" || strSuffix == ".html";
}

bool IsVerifyStatus(int nStatus) {
  switch (nStatus) {
    case QUORLIX_OK:
    case QUORLIX_VERIFY_FILE_ERROR:
    case QUORLIX_VERIFY_NOT_FOUND:
    case QUORLIX_VERIFY_TOO_MANY_FILES:
    case QUORLIX_VERIFY_UNKNOWN_SUFFIX:
    case QUORLIX_VERIFY_MISMATCH: return true;
    default: return false;
  }
}

// ---- The twin: the content rules read one byte at a time ----

struct Bytes {
  std::string_view data;
  // The byte at i, or -1 past the end, which no test accepts.
  int At(std::size_t i) const { return i < data.size() ? static_cast<unsigned char>(data[i]) : -1; }
  int Lower(std::size_t i) const { return At(i) >= 'A' && At(i) <= 'Z' ? At(i) + 32 : At(i); }
  bool Is(std::size_t i, std::string_view exact) const {
    for (std::size_t k = 0; k < exact.size(); ++k)
      if (At(i + k) != static_cast<unsigned char>(exact[k])) return false;
    return true;
  }
  bool IsLower(std::size_t i, std::string_view lower) const {
    for (std::size_t k = 0; k < lower.size(); ++k)
      if (Lower(i + k) != static_cast<unsigned char>(lower[k])) return false;
    return true;
  }
};

bool HasCrLf(const Bytes& b) {
  for (std::size_t i = 0; i < b.data.size(); ++i)
    if (b.At(i) == '\r' && b.At(i + 1) == '\n') return true;
  return false;
}

bool HasHtmlTag(const Bytes& b) {
  const std::size_t n = b.data.size();
  for (std::size_t i = 0; i < n; ++i) {
    if (b.At(i) != '<') continue;
    std::string strTag(1, '<');
    while (i + 1 < n && b.At(i + 1) != '>') strTag += b.data[++i];
    if (i + 1 == n) return false;  // no '>' closes it: not a tag
    ++i;
    if (strTag.substr(0, 5) == "<HTML") return true;
  }
  return false;
}

bool AgreesByTheRules(std::string_view strSuffix, const Bytes& b) {
  if (strSuffix == ".bmp") return b.Is(0, "BM") || b.Is(0, "IC");
  if (strSuffix == ".gif") return b.IsLower(0, "gif");
  if (strSuffix == ".jpg") return b.IsLower(6, "jfif") && b.At(10) == 0;
  if (strSuffix == ".pcx") return b.At(0) == 0x0A;
  if (strSuffix == ".tif") return b.Is(0, "II") || b.Is(0, "MM");
  if (strSuffix == ".wmf")
    return (b.At(0) == 0xD7 && b.At(1) == 0xCD && b.At(2) == 0xC6 && b.At(3) == 0x9A) ||
           ((b.At(0) == 1 || b.At(0) == 2) && b.At(1) == 0);
  if (strSuffix == ".pct") return true;
  if (strSuffix == ".wav" || strSuffix == ".avi") return b.IsLower(8, "avi") || b.IsLower(8, "wav");
  if (strSuffix == ".txt") return HasCrLf(b);
  if (strSuffix == ".htm" || strSuffix == ".html") return HasHtmlTag(b);
  return b.data.size() >= 4;  // .ico .mid .ra .mov .mpg
}

int ExpectedStatus(std::string_view strSuffix, const Bytes& b) {
  if (strSuffix == ".doc") return QUORLIX_VERIFY_UNKNOWN_SUFFIX;
  return AgreesByTheRules(strSuffix, b) ? QUORLIX_OK : QUORLIX_VERIFY_MISMATCH;
}

// Each version of the input is written once, to "<version>.bin", and read through a
// link per suffix, "<version><suffix>", so one input costs three file writes.
std::string LinkFor(std::string_view strVersion, std::string_view strSuffix) {
  const std::string strLink = quorlix_fuzz::WorkDir() + "/" + std::string(strVersion) + std::string(strSuffix);
  std::error_code ec;
  if (!std::filesystem::is_symlink(strLink, ec))
    std::filesystem::create_symlink(std::string(strVersion) + ".bin", strLink, ec);
  return strLink;
}

void WriteVersion(std::string_view strVersion, std::string_view bytes) {
  quorlix_fuzz::WriteWorkFile(std::string(strVersion) + ".bin", bytes.data(), bytes.size());
}

int VerifyAs(std::string_view strVersion, std::string_view strSuffix) {
  return CvtVerifyFile(LinkFor(strVersion, strSuffix).c_str());
}

void CheckVerification(const std::uint8_t* pData, std::size_t nSize) {
  const std::string_view data(reinterpret_cast<const char*>(pData), nSize);

  WriteVersion("whole", data);
  const bool bLong = nSize > kMaxPrefixBytes;
  if (bLong) {
    std::string strOtherTail(data);
    for (std::size_t i = kMaxPrefixBytes; i < strOtherTail.size(); ++i)
      strOtherTail[i] = static_cast<char>(~strOtherTail[i]);
    WriteVersion("prefix", data.substr(0, kMaxPrefixBytes));
    WriteVersion("other_tail", strOtherTail);
  }

  for (const auto strSuffix : kSuffixes) {
    const int nStatus = VerifyAs("whole", strSuffix);
    if (!IsVerifyStatus(nStatus)) quorlix_fuzz::FailWithInput("a status outside the verification's own", pData, nSize);
    if (nStatus != ExpectedStatus(strSuffix, Bytes{data}))
      quorlix_fuzz::FailWithInput(("the status disagrees with the rules for " + std::string(strSuffix)).c_str(), pData,
                                  nSize);

    if (!bLong || IsWholeFileType(strSuffix)) continue;
    if (VerifyAs("prefix", strSuffix) != nStatus || VerifyAs("other_tail", strSuffix) != nStatus)
      quorlix_fuzz::FailWithInput(("bytes past 128 changed the status for " + std::string(strSuffix)).c_str(), pData,
                                  nSize);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* pData, std::size_t nSize) {
  if (nSize > kMaxInputBytes) return 0;
  CheckVerification(pData, nSize);
  quorlix_fuzz::CheckLargeForm(pData, nSize, CheckVerification, std::size_t{256} << 10);
  return 0;
}
