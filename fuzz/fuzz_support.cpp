#include "fuzz_support.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>

namespace quorlix_fuzz {

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
  std::ifstream in(strPath, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void FailWithInput(const char* pszWhat, const std::uint8_t* pData, std::size_t nSize) {
  std::fprintf(stderr, "%s\ninput (%zu bytes): \"", pszWhat, nSize);
  for (std::size_t i = 0; i < nSize; ++i) std::fprintf(stderr, "\\x%02X", pData[i]);
  std::fprintf(stderr, "\"\n");
  std::abort();
}

}  // namespace quorlix_fuzz
