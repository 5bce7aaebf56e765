// Start-up and shut-down of QUORLIX.dll. The C++ runtime has constructed the
// library's static objects, the document class registration among them, before
// DllMain runs, and destroys them after process detach.
#include <windows.h>

#include "document/am_file.h"

extern "C" BOOL WINAPI DllMain(HINSTANCE, DWORD dwReason, LPVOID) {
  // A load without the document class registered fails, so no export can run
  // on a half-started library.
  if (dwReason == DLL_PROCESS_ATTACH) return CRuntimeClass::FromName("CAMFile") == &CAMFile::classCAMFile;
  // Thread attach and detach are left to the runtime, which keeps per-thread
  // state of its own; that is why thread notifications stay switched on.
  return TRUE;
}
