/* A host that links QUORLIX.dll through an import library, as a new user's
 * program does: it includes quorlix.h, calls the exports by their names and never
 * looks them up itself. Built twice per DLL: by MinGW against QUORLIX.dll.a, and
 * by clang and lld-link against QUORLIX.lib with no C runtime at all (so only
 * KERNEL32 is used, declared here). Run in a folder it may write to; exit status
 * 0 when the DLL answers 103 and converts a file as expected. */
#include "quorlix.h"

typedef void* Handle;
#if defined(_WIN64)
#define HOST_API(type) __declspec(dllimport) type
#else
#define HOST_API(type) __declspec(dllimport) type __stdcall
#endif
HOST_API(Handle) GetStdHandle(unsigned long nStdHandle);
HOST_API(int) WriteFile(Handle hFile, const void* pBuf, unsigned long nCount, unsigned long* pnDone, void* pOverlapped);
HOST_API(int) ReadFile(Handle hFile, void* pBuf, unsigned long nCount, unsigned long* pnDone, void* pOverlapped);
HOST_API(Handle)
CreateFileA(const char* pszPath, unsigned long dwAccess, unsigned long dwShare, void* pSecurity,
            unsigned long dwDisposition, unsigned long dwFlags, Handle hTemplate);
HOST_API(int) CloseHandle(Handle hFile);
HOST_API(void) ExitProcess(unsigned int nExitCode);

#define kStdOutput ((unsigned long)-11)
#define kGenericRead 0x80000000ul
#define kGenericWrite 0x40000000ul
#define kCreateAlways 2ul
#define kOpenExisting 3ul
#define kInvalidHandle ((Handle)(__INTPTR_TYPE__)-1)

static unsigned long Length(const char* psz) {
  unsigned long n = 0;
  while (psz[n]) ++n;
  return n;
}

static void Say(const char* psz) {
  unsigned long nDone;
  WriteFile(GetStdHandle(kStdOutput), psz, Length(psz), &nDone, 0);
}

static int WriteWhole(const char* pszPath, const char* pszBytes) {
  const Handle hFile = CreateFileA(pszPath, kGenericWrite, 0, 0, kCreateAlways, 0, 0);
  unsigned long nDone = 0;
  if (hFile == kInvalidHandle) return 0;
  const int bWritten = WriteFile(hFile, pszBytes, Length(pszBytes), &nDone, 0) && nDone == Length(pszBytes);
  return CloseHandle(hFile) && bWritten;
}

static int HoldsExactly(const char* pszPath, const char* pszBytes) {
  static char buf[64];
  const Handle hFile = CreateFileA(pszPath, kGenericRead, 0, 0, kOpenExisting, 0, 0);
  unsigned long nDone = 0, i;
  if (hFile == kInvalidHandle) return 0;
  const int bRead = ReadFile(hFile, buf, sizeof buf, &nDone, 0);
  CloseHandle(hFile);
  if (!bRead || nDone != Length(pszBytes)) return 0;
  for (i = 0; i < nDone; ++i)
    if (buf[i] != pszBytes[i]) return 0;
  return 1;
}

static int RunHost(void) {
  int nFailures = 0;
  if (CvtDLLVersion() == QUORLIX_DLL_VERSION) Say("ok CvtDLLVersion: 103\r\n");
  else Say("FAIL CvtDLLVersion: not 103\r\n"), ++nFailures;

  if (!WriteWhole("linked_in.txt", "one\ntwo\r\n")) Say("FAIL cannot write linked_in.txt\r\n"), ++nFailures;
  else if (CvtCRLF("linked_in.txt", "linked_out.txt", 0) != QUORLIX_OK) Say("FAIL CvtCRLF: not 0\r\n"), ++nFailures;
  else if (!HoldsExactly("linked_out.txt", "one\r\ntwo\r\n")) Say("FAIL CvtCRLF: wrong bytes\r\n"), ++nFailures;
  else Say("ok CvtCRLF: 0 and the converted file\r\n");

  if (CvtVerifyFile("linked_out.txt") == QUORLIX_OK) Say("ok CvtVerifyFile: 0\r\n");
  else Say("FAIL CvtVerifyFile: not 0\r\n"), ++nFailures;
  Say(nFailures == 0 ? "all passed\r\n" : "FAILED\r\n");
  return nFailures == 0 ? 0 : 1;
}

#ifdef QUORLIX_HOST_WITHOUT_RUNTIME
/* The entry point itself: no C runtime starts the program or ends it. */
void HostEntry(void) { ExitProcess((unsigned int)RunHost()); }
#else
int main(void) { return RunHost(); }
#endif
