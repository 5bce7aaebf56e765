// Code-page conversion by the system: the host's own ANSI and OEM code pages.
#include <windows.h>
#undef AnsiToOem  // an old alias of CharToOemA in the system headers


#include "platform/code_page.h"

CString AnsiToOem(std::string_view strAnsi) {
  CString strOem(strAnsi);
  // One byte in, one byte out, so the conversion can run in place; the buffer form
  // takes a length and so needs no terminating NUL.
  if (!strOem.empty()) ::CharToOemBuffA(strOem.data(), strOem.data(), static_cast<DWORD>(strOem.size()));
  return strOem;
}
