/* A Windows host of QUORLIX.dll (32-bit, and 64-bit for the x64 DLL), built with
 * the DLL's own toolchain and run under Wine. It loads the DLL by name, as the
 * hosts that use it do, and proves what they rely on: every export by undecorated
 * name and by ordinal, the standard call convention, the version number and
 * resource, and every conversion case giving the status and the bytes that the
 * native build recorded.
 *   host_test cases   CASES DATA_DIR EXPECTED_DIR WORK_DIR
 *   host_test threads CASES DATA_DIR EXPECTED_DIR WORK_DIR
 * "threads" runs the cases from several threads at once, each in a folder of its
 * own, and checks every result. "cases" also gives every reading export inputs
 * that are not disk files (NUL, CON, a named pipe), which each must refuse.
 * No case differs between the platforms by design: the file layers of both map
 * their errors onto the same causes, and same-file requests are recognised by
 * file identity on both. Should a case ever have to differ, it belongs in a case
 * list of its own with its Windows status written by hand, not in a looser check. */
#include <windows.h>

#include <stdio.h>
#include <string.h>

#include "host_test.h"
#include "quorlix.h"
#include "version.h"

static int g_nFailures = 0;
static int g_bSkipped = 0;

void Skip(const char* pszReason) {
  printf("skipped: %s\n", pszReason);
  g_bSkipped = 1;
}

void Fail(const char* pszWhat, const char* pszDetail) {
  printf("FAIL %s: %s\n", pszWhat, pszDetail);
  InterlockedIncrement((LONG*)&g_nFailures);
}

/* ---- Calling like a host ---- */

#if defined(__i386__)
/* Calls pfn the way a host compiled for the standard call convention does: each
 * argument in a 32-bit slot, pushed last to first, and the callee removes them.
 * Returns the result; *pnStackLeft is what the callee left on the stack (bytes;
 * negative when it removed too much). The stack pointer is restored either way,
 * so a faulty export is reported rather than derailing the host. */
static int CallLikeHost(FARPROC pfn, const intptr_t* pArgs, int nArgs, int* pnStackLeft) {
  int nResult, nStackLeft;
  __asm__ volatile(
      "movl %%esp, %%esi\n\t"
      "jecxz 2f\n"
      "1:\n\t"
      "pushl -4(%%ebx,%%ecx,4)\n\t"
      "loop 1b\n"
      "2:\n\t"
      "call *%%edi\n\t"
      "movl %%esi, %%edx\n\t"
      "subl %%esp, %%edx\n\t"
      "movl %%esi, %%esp\n\t"
      : "=a"(nResult), "=d"(nStackLeft), "+c"(nArgs)
      : "b"(pArgs), "D"(pfn)
      : "esi", "memory", "cc");
  *pnStackLeft = nStackLeft;
  return nResult;
}
#else
/* x64 has one calling convention, where the caller owns the stack; each argument
 * goes in a 64-bit slot as the exports' prototypes put it. */
static int CallLikeHost(FARPROC pfn, const intptr_t* a, int nArgs, int* pnStackLeft) {
  typedef int (*Fn0)(void);
  typedef int (*Fn1)(intptr_t);
  typedef int (*Fn3)(intptr_t, intptr_t, intptr_t);
  typedef int (*Fn6)(intptr_t, intptr_t, intptr_t, intptr_t, intptr_t, intptr_t);
  void (*const pfnAny)(void) = (void (*)(void))pfn;
  *pnStackLeft = 0;
  switch (nArgs) {
    case 0: return ((Fn0)pfnAny)();
    case 1: return ((Fn1)pfnAny)(a[0]);
    case 3: return ((Fn3)pfnAny)(a[0], a[1], a[2]);
    default: return ((Fn6)pfnAny)(a[0], a[1], a[2], a[3], a[4], a[5]);
  }
}
#endif

int CallExport(void* pContext, const ExportInfo* pExport, const intptr_t* pArgs, int* pnStatus, char* pszError) {
  int nStackLeft;
  const FARPROC pfn = ((const Dll*)pContext)->apfn[pExport - g_exports];
  *pnStatus = CallLikeHost(pfn, pArgs, (int)strlen(pExport->pszArgKinds), &nStackLeft);
  if (nStackLeft == 0) return 1;
  snprintf(pszError, CASE_MAX_ERROR, "%s left %d bytes on the stack", pExport->pszName, nStackLeft);
  return 0;
}

/* ---- The export table ---- */

/* Resolves every export by name and by ordinal (one address for both) and makes
 * sure no decorated name is exported. */
void ResolveExports(Dll* pDll) {
  for (int i = 0; i < kExportCount; ++i) {
    const ExportInfo* pExport = &g_exports[i];
    const FARPROC pfnByName = GetProcAddress(pDll->hModule, pExport->pszName);
    const FARPROC pfnByOrdinal = GetProcAddress(pDll->hModule, MAKEINTRESOURCEA(pExport->nOrdinal));
    char szDecorated[64], szDetail[128];
    snprintf(szDecorated, sizeof szDecorated, "%s@%u", pExport->pszName, 4 * (unsigned)strlen(pExport->pszArgKinds));
    if (GetProcAddress(pDll->hModule, szDecorated)) Fail(szDecorated, "a decorated name is exported");
    pDll->apfn[i] = pfnByName;
    if (!pfnByName || pfnByName != pfnByOrdinal) {
      snprintf(szDetail, sizeof szDetail, "by name %p, by ordinal %d %p", (void*)pfnByName, pExport->nOrdinal,
               (void*)pfnByOrdinal);
      Fail(pExport->pszName, szDetail);
    }
  }
}

static void CheckVersionNumber(Dll* pDll) {
  int nStatus;
  char szError[CASE_MAX_ERROR];
  if (!CallExport(pDll, &g_exports[1], NULL, &nStatus, szError)) Fail("CvtDLLVersion", szError);
  else if (nStatus != QUORLIX_DLL_VERSION) Fail("CvtDLLVersion", "not 103");
}

/* ---- The version resource ---- */

static void CheckVersionString(const void* pInfo, const char* pszKey, const char* pszExpected) {
  char szQuery[128];
  char* pszValue = NULL;
  UINT nLen = 0;
  snprintf(szQuery, sizeof szQuery, "\\StringFileInfo\\%s\\%s", QUORLIX_VERSION_BLOCK, pszKey);
  if (!VerQueryValueA(pInfo, szQuery, (void**)&pszValue, &nLen)) Fail(pszKey, "missing from the version resource");
  else if (strcmp(nLen ? pszValue : "", pszExpected) != 0) Fail(pszKey, pszValue);
}

static void CheckVersionResource(HMODULE hModule) {
  char szPath[MAX_PATH];
  DWORD dwHandle;
  if (!GetModuleFileNameA(hModule, szPath, sizeof szPath)) {
    Fail("version resource", "no module path");
    return;
  }
  const DWORD dwSize = GetFileVersionInfoSizeA(szPath, &dwHandle);
  static char info[8192];
  if (dwSize == 0 || dwSize > sizeof info || !GetFileVersionInfoA(szPath, 0, dwSize, info)) {
    Fail("version resource", "cannot be read");
    return;
  }

  VS_FIXEDFILEINFO* pFixed = NULL;
  UINT nLen = 0;
  const DWORD dwMs = MAKELONG(QUORLIX_VERSION_MINOR, QUORLIX_VERSION_MAJOR);
  const DWORD dwLs = MAKELONG(QUORLIX_VERSION_REVISION, QUORLIX_VERSION_BUILD);
  if (!VerQueryValueA(info, "\\", (void**)&pFixed, &nLen) || nLen < sizeof *pFixed) Fail("fixed version", "missing");
  else if (pFixed->dwFileVersionMS != dwMs || pFixed->dwFileVersionLS != dwLs || pFixed->dwProductVersionMS != dwMs ||
           pFixed->dwProductVersionLS != dwLs)
    Fail("fixed version", "not 1.0.0.1");

  WORD* pTranslation = NULL;
  if (!VerQueryValueA(info, "\\VarFileInfo\\Translation", (void**)&pTranslation, &nLen) || nLen < 4 ||
      pTranslation[0] != QUORLIX_VERSION_LANGUAGE || pTranslation[1] != QUORLIX_VERSION_CODE_PAGE)
    Fail("translation", "not 0409 04B0");

  CheckVersionString(info, "CompanyName", QUORLIX_COMPANY_NAME);
  CheckVersionString(info, "FileDescription", QUORLIX_FILE_DESCRIPTION);
  CheckVersionString(info, "FileVersion", QUORLIX_FILE_VERSION_TEXT);
  CheckVersionString(info, "InternalName", QUORLIX_INTERNAL_NAME);
  CheckVersionString(info, "OriginalFilename", QUORLIX_ORIGINAL_FILENAME);
  CheckVersionString(info, "ProductName", QUORLIX_PRODUCT_NAME);
  CheckVersionString(info, "ProductVersion", QUORLIX_PRODUCT_VERSION_TEXT);
}

/* ---- Inputs that are not disk files ---- */

static const ExportInfo* FindExport(const char* pszName) {
  for (int i = 0; i < kExportCount; ++i)
    if (strcmp(g_exports[i].pszName, pszName) == 0) return &g_exports[i];
  return NULL;
}

static int FileExists(const char* pszPath) { return GetFileAttributesA(pszPath) != INVALID_FILE_ATTRIBUTES; }

/* Every reading export refuses pszInput with its input error and without waiting
 * for it; only the delimited conversion, whose set-up opens both files whatever
 * failed, leaves an output. Names that a name check wants (".htm") are given only
 * when bNamed. A pipe gets a server instance of its own for each call, so every
 * opening finds one free. */
static void CheckRefusedInput(Dll* pDll, const char* pszInput, int bNamed, int bPipe, const char* pszDir) {
  char szOut[MAX_PATH], szSchedule[MAX_PATH];
  snprintf(szOut, sizeof szOut, "%s\\out.txt", pszDir);
  snprintf(szSchedule, sizeof szSchedule, "%s\\schedule.txt", pszDir);
  const intptr_t in = (intptr_t)pszInput, out = (intptr_t)szOut, schedule = (intptr_t)szSchedule;
  const struct {
    const char* pszExport;
    intptr_t args[CASE_MAX_ARGS];
    int nExpected;
    int bNeedsName;
    int bLeavesOutput;
  } calls[] = {
      {"CvtCRLF", {in, out, 0}, QUORLIX_CRLF_INPUT_ERROR, 0, 0},
      {"CvtDecodeFiling", {in, out, schedule}, QUORLIX_FILING_FILE_ERROR, 0, 0},
      {"CvtDelimitedFile",
       {in, (intptr_t) "\r\n", (intptr_t) ",", out, (intptr_t) "\t", (intptr_t) "\n"},
       QUORLIX_DELIMITED_INPUT_ERROR,
       0,
       1},
      {"CvtHTMLtoText", {in, out, 0}, QUORLIX_HTML_INPUT_ERROR, 1, 0},
      {"CvtVerifyFile", {in}, QUORLIX_VERIFY_FILE_ERROR, 1, 0},
  };
  for (size_t i = 0; i < sizeof calls / sizeof calls[0]; ++i) {
    if (calls[i].bNeedsName && !bNamed) continue;
    const ExportInfo* pExport = FindExport(calls[i].pszExport);
    char szWhat[MAX_PATH + 64], szError[CASE_MAX_ERROR];
    int nStatus;
    snprintf(szWhat, sizeof szWhat, "%s on %s", calls[i].pszExport, pszInput);
    if (!pExport || !pDll->apfn[pExport - g_exports]) continue; /* reported as missing */
    DeleteFileA(szOut);
    DeleteFileA(szSchedule);
    const HANDLE hPipe = bPipe ? CreateNamedPipeA(pszInput, PIPE_ACCESS_OUTBOUND, PIPE_TYPE_BYTE | PIPE_WAIT,
                                                  PIPE_UNLIMITED_INSTANCES, 4096, 4096, 0, NULL)
                               : NULL;
    if (hPipe == INVALID_HANDLE_VALUE) {
      Fail(szWhat, "CreateNamedPipeA failed");
      continue;
    }
    if (!CallExport(pDll, pExport, calls[i].args, &nStatus, szError)) {
      Fail(szWhat, szError);
    } else if (nStatus != calls[i].nExpected) {
      snprintf(szError, sizeof szError, "status %d, expected %d", nStatus, calls[i].nExpected);
      Fail(szWhat, szError);
    } else if (FileExists(szOut) != calls[i].bLeavesOutput || FileExists(szSchedule)) {
      Fail(szWhat, calls[i].bLeavesOutput ? "no output was created" : "an output was created");
    } else {
      printf("ok %s: status %d\n", szWhat, nStatus);
    }
    if (hPipe) CloseHandle(hPipe);
  }
}

static void CheckSpecialInputs(Dll* pDll, const char* pszWorkDir) {
  char szDir[MAX_PATH], szPipe[64];
  snprintf(szDir, sizeof szDir, "%s\\special_inputs", pszWorkDir);
  if (!MakeFolder(szDir)) {
    Fail(szDir, "cannot create the folder");
    return;
  }
  CheckRefusedInput(pDll, "NUL", 0, 0, szDir);
  CheckRefusedInput(pDll, "CON", 0, 0, szDir);
  snprintf(szPipe, sizeof szPipe, "\\\\.\\pipe\\quorlix-host-%lu.htm", (unsigned long)GetCurrentProcessId());
  CheckRefusedInput(pDll, szPipe, 1, 1, szDir);
}

/* ---- The cases ---- */

typedef struct CaseRun {
  Dll* pDll;
  const Case* pCases;
  int nCases;
  const char* pszDataDir;
  const char* pszExpectedDir;
  char szWorkDir[MAX_PATH];
  int nRounds;
  int bQuiet; /* threads report failures only */
} CaseRun;

static DWORD WINAPI RunCases(void* pParam) {
  const CaseRun* pRun = pParam;
  if (!MakeFolder(pRun->szWorkDir)) Fail(pRun->szWorkDir, "cannot create the work folder");
  for (int nRound = 0; nRound < pRun->nRounds; ++nRound) {
    for (int i = 0; i < pRun->nCases; ++i) {
      const Case* pCase = &pRun->pCases[i];
      char szError[CASE_MAX_ERROR], szWhat[2 * MAX_PATH];
      int nStatus, nExpected;
      snprintf(szWhat, sizeof szWhat, "%s in %s", pCase->szName, pRun->szWorkDir);
      if (!pRun->pDll->apfn[pCase->pExport - g_exports]) continue; /* reported as missing */
      if (!ReadRecordedStatus(pCase, pRun->pszExpectedDir, &nExpected)) {
        Fail(szWhat, "no recorded status");
      } else if (!RunCase(pCase, pRun->pszDataDir, pRun->szWorkDir, CallExport, pRun->pDll, &nStatus, szError) ||
                 !CompareCaseFiles(pCase, pRun->pszExpectedDir, pRun->szWorkDir, szError)) {
        Fail(szWhat, szError);
      } else if (nStatus != nExpected) {
        snprintf(szError, sizeof szError, "status %d, recorded %d", nStatus, nExpected);
        Fail(szWhat, szError);
      } else if (!pRun->bQuiet) {
        printf("ok %s: status %d\n", pCase->szName, nStatus);
      }
    }
  }
  return 0;
}

enum { kThreadCount = 4, kThreadRounds = 3 };

static void RunCasesInThreads(const CaseRun* pTemplate) {
  CaseRun runs[kThreadCount];
  HANDLE ahThreads[kThreadCount];
  for (int i = 0; i < kThreadCount; ++i) {
    runs[i] = *pTemplate;
    runs[i].nRounds = kThreadRounds;
    runs[i].bQuiet = 1;
    snprintf(runs[i].szWorkDir, sizeof runs[i].szWorkDir, "%s\\thread%d", pTemplate->szWorkDir, i);
    ahThreads[i] = CreateThread(NULL, 0, RunCases, &runs[i], 0, NULL);
    if (!ahThreads[i]) {
      Fail("CreateThread", "failed");
      return;
    }
  }
  if (WaitForMultipleObjects(kThreadCount, ahThreads, TRUE, INFINITE) != WAIT_OBJECT_0) Fail("threads", "wait failed");
  for (int i = 0; i < kThreadCount; ++i) CloseHandle(ahThreads[i]);
  printf("%d threads ran every case %d times\n", kThreadCount, kThreadRounds);
}

/*   host_test windows CASE WORK_DIR
 * runs one of the cases that only Windows has (files held open, drive-letter and
 * \\?\ paths, ...), whose expectations are written by hand in host_windows_cases.c. */
static int RunWindowsCaseMain(const char* pszCase, const char* pszWorkDir) {
  Dll dll = {LoadLibraryA("QUORLIX.dll"), {0}};
  if (!dll.hModule) {
    printf("FAIL LoadLibraryA(\"QUORLIX.dll\"): error %lu\n", GetLastError());
    return 1;
  }
  ResolveExports(&dll);
  if (!MakeFolder(pszWorkDir)) Fail(pszWorkDir, "cannot create the work folder");
  if (!RunWindowsCase(&dll, pszCase, pszWorkDir)) Fail(pszCase, "no such case");
  if (g_nFailures == 0 && g_bSkipped) return kSkipExitCode;
  printf("%s %s\n", pszCase, g_nFailures == 0 ? "passed" : "FAILED");
  return g_nFailures == 0 ? 0 : 1;
}

int main(int argc, char** argv) {
  if (argc == 4 && strcmp(argv[1], "windows") == 0) return RunWindowsCaseMain(argv[2], argv[3]);
  if (argc != 6 || (strcmp(argv[1], "cases") != 0 && strcmp(argv[1], "threads") != 0)) {
    printf(
        "usage: host_test cases|threads CASES DATA_DIR EXPECTED_DIR WORK_DIR\n"
        "       host_test windows CASE WORK_DIR\n");
    return 2;
  }
  const int bThreads = strcmp(argv[1], "threads") == 0;
  static Case cases[CASE_MAX_CASES];
  const int nCases = ReadCases(argv[2], cases);
  if (nCases < 0) return 1;

  Dll dll = {LoadLibraryA("QUORLIX.dll"), {0}};
  if (!dll.hModule) {
    printf("FAIL LoadLibraryA(\"QUORLIX.dll\"): error %lu\n", GetLastError());
    return 1;
  }
  ResolveExports(&dll);
  CheckVersionNumber(&dll);
  if (!bThreads) CheckVersionResource(dll.hModule);

  CaseRun run = {&dll, cases, nCases, argv[3], argv[4], "", 1, 0};
  snprintf(run.szWorkDir, sizeof run.szWorkDir, "%s", argv[5]);
  if (!MakeFolder(run.szWorkDir)) Fail(run.szWorkDir, "cannot create the work folder");
  if (bThreads) {
    RunCasesInThreads(&run);
  } else {
    RunCases(&run);
    CheckSpecialInputs(&dll, run.szWorkDir);
  }

  CheckVersionNumber(&dll); /* still 103 after the conversions */
  if (!FreeLibrary(dll.hModule)) Fail("FreeLibrary", "failed");
  printf("%s\n", g_nFailures == 0 ? "all passed" : "FAILED");
  return g_nFailures == 0 ? 0 : 1;
}
