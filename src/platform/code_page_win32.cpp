// Code-page conversion by the system: the host's own ANSI and OEM code pages.
// The text goes through UTF-16 as the system's own ANSI-to-OEM conversion does,
// and each step reports its length: where either code page has multi-byte
// characters, the OEM form may be longer or shorter than the ANSI one.
#include <windows.h>
#undef AnsiToOem  // an old alias of CharToOemA in the system headers

#include "platform/code_page.h"

CString AnsiToOem(std::string_view strAnsi) {
  if (strAnsi.empty()) return CString();
  const int nAnsiBytes = static_cast<int>(strAnsi.size());
  const int nWide = ::MultiByteToWideChar(CP_ACP, 0, strAnsi.data(), nAnsiBytes, nullptr, 0);
  if (nWide <= 0) return CString();
  std::wstring strWide(static_cast<std::size_t>(nWide), L'\0');
  ::MultiByteToWideChar(CP_ACP, 0, strAnsi.data(), nAnsiBytes, strWide.data(), nWide);
  const int nOemBytes = ::WideCharToMultiByte(CP_OEMCP, 0, strWide.data(), nWide, nullptr, 0, nullptr, nullptr);
  if (nOemBytes <= 0) return CString();
  CString strOem(static_cast<std::size_t>(nOemBytes), '\0');
  const int nWritten =
      ::WideCharToMultiByte(CP_OEMCP, 0, strWide.data(), nWide, strOem.data(), nOemBytes, nullptr, nullptr);
  strOem.resize(static_cast<std::size_t>(nWritten > 0 ? nWritten : 0));
  return strOem;
}
