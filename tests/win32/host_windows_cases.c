/* What only Windows does, with expectations written by hand rather than recorded
 * from the native build: the version resource as hosts have always read it,
 * files held open by another program, the spellings of Windows paths, read-only
 * outputs, system calls that misbehave, and the system's code pages. Each case
 * works in a folder of its own under the work folder. */
#include <stdio.h>
#include <string.h>

#include "host_test.h"
#include "import_patch.h"
#include "quorlix.h"

/* ---- Small inputs and what each export makes of them ---- */

static const char kTextIn[] = "one\ntwo\r\n";
static const char kTextOut[] = "one\r\ntwo\r\n";
static const char kPageIn[] = "<HTML><BODY>x</BODY></HTML>";
static const char kPageOut[] = "x";
static const char kFilingIn[] = "A\nB\n";
static const char kFilingText[] = "A\r\nB\r\n";
static const char kCsvIn[] = "a,b\r\nc,d\r\n";
static const char kCsvOut[] = "a\tb\r\nc\td\r\n";
static const char kOld[] = "old contents";

enum { kCrlf, kVersion, kFiling, kDelimited, kHtml, kVerify }; /* positions in g_exports */

typedef struct Folder {
  Dll* pDll;
  char szPath[MAX_PATH]; /* with a trailing backslash */
  const char* pszCase;
} Folder;

static const char* PathIn(const Folder* pFolder, const char* pszName, char* pszOut) {
  snprintf(pszOut, MAX_PATH, "%s%s", pFolder->szPath, pszName);
  return pszOut;
}

static void FailIn(const Folder* pFolder, const char* pszWhat, const char* pszDetail) {
  char szWhat[2 * MAX_PATH];
  snprintf(szWhat, sizeof szWhat, "%s: %s", pFolder->pszCase, pszWhat);
  Fail(szWhat, pszDetail);
}

static void WriteBytes(const Folder* pFolder, const char* pszName, const char* pBytes) {
  char szPath[MAX_PATH];
  SetFileAttributesA(PathIn(pFolder, pszName, szPath), FILE_ATTRIBUTE_NORMAL);
  const HANDLE hFile = CreateFileA(szPath, GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL);
  DWORD dwPut = 0;
  const DWORD dwLen = (DWORD)strlen(pBytes);
  if (hFile == INVALID_HANDLE_VALUE || !WriteFile(hFile, pBytes, dwLen, &dwPut, NULL) || dwPut != dwLen)
    FailIn(pFolder, pszName, "cannot be written");
  if (hFile != INVALID_HANDLE_VALUE) CloseHandle(hFile);
}

static void ExpectBytes(const Folder* pFolder, const char* pszName, const char* pExpected) {
  char szPath[MAX_PATH], buf[256];
  const HANDLE hFile = CreateFileA(PathIn(pFolder, pszName, szPath), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                   NULL, OPEN_EXISTING, 0, NULL);
  DWORD dwGot = 0;
  if (hFile == INVALID_HANDLE_VALUE) {
    FailIn(pFolder, pszName, "missing");
    return;
  }
  const BOOL bRead = ReadFile(hFile, buf, sizeof buf - 1, &dwGot, NULL);
  CloseHandle(hFile);
  buf[bRead ? dwGot : 0] = '\0';
  if (!bRead || dwGot != strlen(pExpected) || memcmp(buf, pExpected, dwGot) != 0) FailIn(pFolder, pszName, buf);
}

static int Call(const Folder* pFolder, int nExport, intptr_t a0, intptr_t a1, intptr_t a2, intptr_t a3, intptr_t a4,
                intptr_t a5) {
  const intptr_t args[CASE_MAX_ARGS] = {a0, a1, a2, a3, a4, a5};
  char szError[CASE_MAX_ERROR];
  int nStatus = -1;
  if (!CallExport(pFolder->pDll, &g_exports[nExport], args, &nStatus, szError))
    FailIn(pFolder, g_exports[nExport].pszName, szError);
  return nStatus;
}

static void ExpectStatus(const Folder* pFolder, const char* pszWhat, int nStatus, int nExpected) {
  char szDetail[64];
  snprintf(szDetail, sizeof szDetail, "status %d, expected %d", nStatus, nExpected);
  if (nStatus != nExpected) FailIn(pFolder, pszWhat, szDetail);
  else printf("ok %s: %s gives %d\n", pFolder->pszCase, pszWhat, nStatus);
}

/* The outputs of one run of every export in the folder. */
typedef struct Statuses {
  int nCrlf, nHtml, nFiling, nVerify, nDelimited;
} Statuses;

/* Stages the five inputs, then calls every export on them with the outputs
 * crlf.txt, html.txt, filing_text.txt + filing_schedule.txt and delimited.txt.
 * pszPrefix goes before every name (a folder spelt differently, or ""). */
static Statuses CallEveryExport(const Folder* pFolder, const char* pszPrefix) {
  char sz[10][MAX_PATH];
  const char* apszNames[10] = {
      "text.txt",   "crlf.txt", "page.htm",     "html.txt", "filing.txt", "filing_text.txt", "filing_schedule.txt",
      "verify.txt", "in.csv",   "delimited.txt"};
  for (int i = 0; i < 10; ++i) snprintf(sz[i], MAX_PATH, "%s%s", pszPrefix, apszNames[i]);
  Statuses s;
  s.nCrlf = Call(pFolder, kCrlf, (intptr_t)sz[0], (intptr_t)sz[1], 0, 0, 0, 0);
  s.nHtml = Call(pFolder, kHtml, (intptr_t)sz[2], (intptr_t)sz[3], 0, 0, 0, 0);
  s.nFiling = Call(pFolder, kFiling, (intptr_t)sz[4], (intptr_t)sz[5], (intptr_t)sz[6], 0, 0, 0);
  s.nVerify = Call(pFolder, kVerify, (intptr_t)sz[7], 0, 0, 0, 0, 0);
  s.nDelimited = Call(pFolder, kDelimited, (intptr_t)sz[8], (intptr_t) "\r\n", (intptr_t) ",", (intptr_t)sz[9],
                      (intptr_t) "\t", (intptr_t) "\r\n");
  return s;
}

static void StageInputs(const Folder* pFolder) {
  WriteBytes(pFolder, "text.txt", kTextIn);
  WriteBytes(pFolder, "page.htm", kPageIn);
  WriteBytes(pFolder, "filing.txt", kFilingIn);
  WriteBytes(pFolder, "verify.txt", kTextOut);
  WriteBytes(pFolder, "in.csv", kCsvIn);
}

/* Every export succeeds on the staged inputs and writes the bytes written above. */
static void ExpectEveryExportConverts(const Folder* pFolder, const char* pszPrefix) {
  StageInputs(pFolder);
  const Statuses s = CallEveryExport(pFolder, pszPrefix);
  ExpectStatus(pFolder, "CvtCRLF", s.nCrlf, QUORLIX_OK);
  ExpectStatus(pFolder, "CvtHTMLtoText", s.nHtml, QUORLIX_OK);
  ExpectStatus(pFolder, "CvtDecodeFiling", s.nFiling, QUORLIX_OK);
  ExpectStatus(pFolder, "CvtVerifyFile", s.nVerify, QUORLIX_OK);
  ExpectStatus(pFolder, "CvtDelimitedFile", s.nDelimited, QUORLIX_OK);
  ExpectBytes(pFolder, "crlf.txt", kTextOut);
  ExpectBytes(pFolder, "html.txt", kPageOut);
  ExpectBytes(pFolder, "filing_text.txt", kFilingText);
  ExpectBytes(pFolder, "filing_schedule.txt", "");
  ExpectBytes(pFolder, "delimited.txt", kCsvOut);
}

/* ---- The version resource, from the original interface's table ---- */

static void ExpectVersionString(const Folder* pFolder, const void* pInfo, const char* pszKey, const char* pszExpected) {
  char szQuery[128];
  char* pszValue = NULL;
  UINT nLen = 0;
  snprintf(szQuery, sizeof szQuery, "\\StringFileInfo\\040904B0\\%s", pszKey);
  if (!VerQueryValueA(pInfo, szQuery, (void**)&pszValue, &nLen)) FailIn(pFolder, pszKey, "missing");
  else if (strcmp(nLen ? pszValue : "", pszExpected) != 0) FailIn(pFolder, pszKey, pszValue);
  else printf("ok %s: %s \"%s\"\n", pFolder->pszCase, pszKey, pszExpected);
}

static void CheckVersionTable(const Folder* pFolder) {
  static char info[8192];
  char szPath[MAX_PATH];
  DWORD dwHandle;
  GetModuleFileNameA(pFolder->pDll->hModule, szPath, sizeof szPath);
  const DWORD dwSize = GetFileVersionInfoSizeA(szPath, &dwHandle);
  if (dwSize == 0 || dwSize > sizeof info || !GetFileVersionInfoA(szPath, 0, dwSize, info)) {
    FailIn(pFolder, "version resource", "cannot be read");
    return;
  }
  VS_FIXEDFILEINFO* pFixed = NULL;
  UINT nLen = 0;
  if (!VerQueryValueA(info, "\\", (void**)&pFixed, &nLen) || nLen < sizeof *pFixed ||
      pFixed->dwFileVersionMS != 0x00010000 || pFixed->dwFileVersionLS != 0x00000001 ||
      pFixed->dwProductVersionMS != 0x00010000 || pFixed->dwProductVersionLS != 0x00000001)
    FailIn(pFolder, "fixed file and product version", "not 1.0.0.1");
  else printf("ok %s: fixed file and product version 1.0.0.1\n", pFolder->pszCase);
  WORD* pTranslation = NULL;
  if (!VerQueryValueA(info, "\\VarFileInfo\\Translation", (void**)&pTranslation, &nLen) || nLen != 4 ||
      pTranslation[0] != 0x0409 || pTranslation[1] != 1200)
    FailIn(pFolder, "translation", "not US English, code page 1200");
  else printf("ok %s: US English, code page 1200\n", pFolder->pszCase);
  ExpectVersionString(pFolder, info, "CompanyName", "");
  ExpectVersionString(pFolder, info, "FileDescription", "QUORLIX DLL");
  ExpectVersionString(pFolder, info, "FileVersion", "1, 0, 0, 3");
  ExpectVersionString(pFolder, info, "InternalName", "QUORLIX");
  ExpectVersionString(pFolder, info, "OriginalFilename", "QUORLIX.DLL");
  ExpectVersionString(pFolder, info, "ProductName", "QUORLIX Dynamic Link Library");
  ExpectVersionString(pFolder, info, "ProductVersion", "1, 0, 0, 1");
  ExpectStatus(pFolder, "CvtDLLVersion", Call(pFolder, kVersion, 0, 0, 0, 0, 0, 0), 103);
}

/* ---- Files that another program holds ---- */

static HANDLE Hold(const Folder* pFolder, const char* pszName, DWORD dwAccess, DWORD dwShare) {
  char szPath[MAX_PATH];
  const HANDLE hFile = CreateFileA(PathIn(pFolder, pszName, szPath), dwAccess, dwShare, NULL, OPEN_ALWAYS, 0, NULL);
  if (hFile == INVALID_HANDLE_VALUE) FailIn(pFolder, pszName, "cannot be held open");
  return hFile;
}

/* The inputs held open without sharing: none can be read. */
static void CheckInputsHeld(const Folder* pFolder) {
  StageInputs(pFolder);
  const char* apszInputs[] = {"text.txt", "page.htm", "filing.txt", "verify.txt", "in.csv"};
  HANDLE ahHeld[5];
  for (int i = 0; i < 5; ++i) ahHeld[i] = Hold(pFolder, apszInputs[i], GENERIC_READ, 0);
  const Statuses s = CallEveryExport(pFolder, pFolder->szPath);
  for (int i = 0; i < 5; ++i) CloseHandle(ahHeld[i]);
  ExpectStatus(pFolder, "CvtCRLF", s.nCrlf, QUORLIX_CRLF_INPUT_ERROR);
  ExpectStatus(pFolder, "CvtHTMLtoText", s.nHtml, QUORLIX_HTML_INPUT_ERROR);
  ExpectStatus(pFolder, "CvtDecodeFiling", s.nFiling, QUORLIX_FILING_FILE_ERROR);
  ExpectStatus(pFolder, "CvtVerifyFile", s.nVerify, QUORLIX_VERIFY_FILE_ERROR);
  ExpectStatus(pFolder, "CvtDelimitedFile", s.nDelimited, QUORLIX_DELIMITED_INPUT_ERROR);
}

/* The outputs held open without sharing: none can be written, and each stays as it was. */
static void CheckOutputsHeld(const Folder* pFolder) {
  StageInputs(pFolder);
  const char* apszOutputs[] = {"crlf.txt", "html.txt", "filing_text.txt", "delimited.txt"};
  HANDLE ahHeld[4];
  for (int i = 0; i < 4; ++i) {
    WriteBytes(pFolder, apszOutputs[i], kOld);
    ahHeld[i] = Hold(pFolder, apszOutputs[i], GENERIC_READ, 0);
  }
  const Statuses s = CallEveryExport(pFolder, pFolder->szPath);
  for (int i = 0; i < 4; ++i) CloseHandle(ahHeld[i]);
  ExpectStatus(pFolder, "CvtCRLF", s.nCrlf, QUORLIX_CRLF_OUTPUT_ERROR);
  ExpectStatus(pFolder, "CvtHTMLtoText", s.nHtml, QUORLIX_HTML_OUTPUT_ERROR);
  ExpectStatus(pFolder, "CvtDecodeFiling", s.nFiling, QUORLIX_FILING_FILE_ERROR);
  ExpectStatus(pFolder, "CvtDelimitedFile", s.nDelimited, QUORLIX_DELIMITED_OUTPUT_ERROR);
  for (int i = 0; i < 4; ++i) ExpectBytes(pFolder, apszOutputs[i], kOld);
}

/* Another program reads the delimited output and lets others write it, as the C
 * runtime's streams allow: the conversion opens it for writing only and succeeds. */
static void CheckDelimitedOutputSharedForWriting(const Folder* pFolder) {
  char szIn[MAX_PATH], szOut[MAX_PATH];
  WriteBytes(pFolder, "in.csv", kCsvIn);
  const HANDLE hHeld = Hold(pFolder, "out.txt", GENERIC_READ, FILE_SHARE_WRITE);
  const int nStatus =
      Call(pFolder, kDelimited, (intptr_t)PathIn(pFolder, "in.csv", szIn), (intptr_t) "\r\n", (intptr_t) ",",
           (intptr_t)PathIn(pFolder, "out.txt", szOut), (intptr_t) "\t", (intptr_t) "\r\n");
  CloseHandle(hHeld);
  ExpectStatus(pFolder, "CvtDelimitedFile", nStatus, QUORLIX_OK);
  if (nStatus == QUORLIX_OK) ExpectBytes(pFolder, "out.txt", kCsvOut);
}

/* Read-only outputs are refused and keep their bytes. */
static void CheckReadOnlyOutputs(const Folder* pFolder) {
  StageInputs(pFolder);
  const char* apszOutputs[] = {"crlf.txt", "html.txt", "filing_text.txt", "delimited.txt"};
  char szPath[MAX_PATH];
  for (int i = 0; i < 4; ++i) {
    WriteBytes(pFolder, apszOutputs[i], kOld);
    SetFileAttributesA(PathIn(pFolder, apszOutputs[i], szPath), FILE_ATTRIBUTE_READONLY);
  }
  /* Wine keeps the attribute in the Unix permissions, which bind no one running as root. */
  const HANDLE hProbe = CreateFileA(szPath, GENERIC_WRITE, 0, NULL, OPEN_EXISTING, 0, NULL);
  if (hProbe != INVALID_HANDLE_VALUE) {
    CloseHandle(hProbe);
    for (int i = 0; i < 4; ++i) SetFileAttributesA(PathIn(pFolder, apszOutputs[i], szPath), FILE_ATTRIBUTE_NORMAL);
    Skip("a read-only file can be written here (root with its override of file permissions)");
    return;
  }
  const Statuses s = CallEveryExport(pFolder, pFolder->szPath);
  ExpectStatus(pFolder, "CvtCRLF", s.nCrlf, QUORLIX_CRLF_OUTPUT_ERROR);
  ExpectStatus(pFolder, "CvtHTMLtoText", s.nHtml, QUORLIX_HTML_OUTPUT_ERROR);
  ExpectStatus(pFolder, "CvtDecodeFiling", s.nFiling, QUORLIX_FILING_FILE_ERROR);
  ExpectStatus(pFolder, "CvtDelimitedFile", s.nDelimited, QUORLIX_DELIMITED_OUTPUT_ERROR);
  for (int i = 0; i < 4; ++i) {
    ExpectBytes(pFolder, apszOutputs[i], kOld);
    SetFileAttributesA(PathIn(pFolder, apszOutputs[i], szPath), FILE_ATTRIBUTE_NORMAL);
  }
}

/* ---- Path spellings ---- */

/* The folder as a drive letter and backslashes ("Z:\work\..."). */
static void CheckDriveLetterPaths(const Folder* pFolder) {
  if (!(pFolder->szPath[1] == ':' && pFolder->szPath[2] == '\\' && !strchr(pFolder->szPath, '/')))
    FailIn(pFolder, "folder", pFolder->szPath);
  ExpectEveryExportConverts(pFolder, pFolder->szPath);
}

/* The same folder through the \\?\ prefix, which passes the path to the file
 * system without any rewriting. */
static void CheckExtendedLengthPaths(const Folder* pFolder) {
  char szPrefix[MAX_PATH + 8];
  snprintf(szPrefix, sizeof szPrefix, "\\\\?\\%s", pFolder->szPath);
  ExpectEveryExportConverts(pFolder, szPrefix);
}

/* ---- System calls that misbehave, through the DLL's import table ---- */

/* A device that takes nothing and says it succeeded. */
static BOOL WINAPI WriteNothing(HANDLE hFile, LPCVOID pBuf, DWORD dwCount, LPDWORD pdwPut, LPOVERLAPPED pOverlapped) {
  (void)hFile, (void)pBuf, (void)dwCount, (void)pOverlapped;
  if (pdwPut) *pdwPut = 0;
  return TRUE;
}

/* A write that reports success with nothing written fails the output at once
 * (a loop that tried again would never end). */
static void CheckWriteOfNothing(const Folder* pFolder) {
  StageInputs(pFolder);
  void* pfnOld = PatchImport(pFolder->pDll->hModule, "kernel32.dll", "WriteFile", (void*)WriteNothing);
  if (!pfnOld) {
    FailIn(pFolder, "WriteFile", "not imported by QUORLIX.dll");
    return;
  }
  const Statuses s = CallEveryExport(pFolder, pFolder->szPath);
  PatchImport(pFolder->pDll->hModule, "kernel32.dll", "WriteFile", pfnOld);
  ExpectStatus(pFolder, "CvtCRLF", s.nCrlf, QUORLIX_CRLF_OUTPUT_ERROR);
  ExpectStatus(pFolder, "CvtHTMLtoText", s.nHtml, QUORLIX_HTML_OUTPUT_ERROR);
  ExpectStatus(pFolder, "CvtDecodeFiling", s.nFiling, QUORLIX_FILING_FILE_ERROR);
  ExpectStatus(pFolder, "CvtDelimitedFile", s.nDelimited, QUORLIX_DELIMITED_OUTPUT_ERROR);
}

typedef void*(__cdecl* MallocFn)(size_t);
static MallocFn g_pfnMalloc;

/* A heap that leaves a last error of its own behind, as debug heaps and
 * verifiers may. */
static void* __cdecl MallocSettingLastError(size_t nBytes) {
  void* p = g_pfnMalloc(nBytes);
  SetLastError(ERROR_ACCESS_DENIED);
  return p;
}

/* A missing input is still "not found" when allocating the error changes the last error. */
static void CheckErrorCauseAfterAllocation(const Folder* pFolder) {
  g_pfnMalloc = (MallocFn)PatchImport(pFolder->pDll->hModule, "msvcrt.dll", "malloc", (void*)MallocSettingLastError);
  if (!g_pfnMalloc) {
    FailIn(pFolder, "malloc", "not imported by QUORLIX.dll");
    return;
  }
  const Statuses s = CallEveryExport(pFolder, pFolder->szPath); /* nothing staged: every input is missing */
  PatchImport(pFolder->pDll->hModule, "msvcrt.dll", "malloc", (void*)g_pfnMalloc);
  ExpectStatus(pFolder, "CvtCRLF", s.nCrlf, QUORLIX_CRLF_INPUT_NOT_FOUND);
  ExpectStatus(pFolder, "CvtHTMLtoText", s.nHtml, QUORLIX_HTML_INPUT_NOT_FOUND);
  ExpectStatus(pFolder, "CvtDecodeFiling", s.nFiling, QUORLIX_FILING_NOT_FOUND);
  ExpectStatus(pFolder, "CvtVerifyFile", s.nVerify, QUORLIX_VERIFY_NOT_FOUND);
  ExpectStatus(pFolder, "CvtDelimitedFile", s.nDelimited, QUORLIX_DELIMITED_INPUT_ERROR);
}

/* ---- Code pages ---- */

/* The delimiters follow the system's ANSI and OEM code pages, as the system
 * converts them: the field delimiter and the field separator are given in ANSI
 * and matched and written in OEM. */
static void CheckDelimitersInCodePages(const Folder* pFolder, UINT nAnsi, UINT nOem, const char* pszInField,
                                       const char* pszOutField, const char* pszIn, const char* pszOut) {
  char szIn[MAX_PATH], szOut[MAX_PATH], szDetail[64];
  if (GetACP() != nAnsi || GetOEMCP() != nOem) {
    snprintf(szDetail, sizeof szDetail, "ANSI %u and OEM %u, expected %u and %u", GetACP(), GetOEMCP(), nAnsi, nOem);
    FailIn(pFolder, "code pages", szDetail);
    return;
  }
  WriteBytes(pFolder, "in.txt", pszIn);
  const int nStatus =
      Call(pFolder, kDelimited, (intptr_t)PathIn(pFolder, "in.txt", szIn), (intptr_t) "\r\n", (intptr_t)pszInField,
           (intptr_t)PathIn(pFolder, "out.txt", szOut), (intptr_t)pszOutField, (intptr_t) "\r\n");
  ExpectStatus(pFolder, "CvtDelimitedFile", nStatus, QUORLIX_OK);
  ExpectBytes(pFolder, "out.txt", pszOut);
}

/* The pair the test environment pins, 1252/437: e-acute is 0x82 in OEM and
 * u-umlaut 0x81. */
static void CheckWesternCodePages(const Folder* pFolder) {
  CheckDelimitersInCodePages(pFolder, 1252, 437, "\xE9\xE9", "\xFC",
                             "a\x82\x82"
                             "b\r\n",
                             "a\x81"
                             "b\r\n");
}

/* The same argument bytes under the Cyrillic pair 1251/866 are two other letters:
 * 0xE9 is short i, 0xA9 in OEM; 0xFC is the soft sign, 0xEC. */
static void CheckCyrillicCodePages(const Folder* pFolder) {
  CheckDelimitersInCodePages(pFolder, 1251, 866, "\xE9\xE9", "\xFC",
                             "a\xA9\xA9"
                             "b\r\n",
                             "a\xEC"
                             "b\r\n");
}

/* Under Shift JIS (932 for both) a lone lead byte is no character: the system
 * makes it the two-byte middle dot 0x81 0x45, longer than the argument. The
 * separator is written at the length the conversion reports. */
static void CheckJapaneseCodePages(const Folder* pFolder) {
  CheckDelimitersInCodePages(pFolder, 932, 932, ",", "\x82", "a,b\r\n",
                             "a\x81\x45"
                             "b\r\n");
}

/* ---- The case table ---- */

typedef struct WindowsCase {
  const char* pszName;
  void (*pfnRun)(const Folder* pFolder);
} WindowsCase;

static const WindowsCase kWindowsCases[] = {
    {"version_table", CheckVersionTable},
    {"inputs_held", CheckInputsHeld},
    {"outputs_held", CheckOutputsHeld},
    {"delimited_output_shared_for_writing", CheckDelimitedOutputSharedForWriting},
    {"read_only_outputs", CheckReadOnlyOutputs},
    {"drive_letter_paths", CheckDriveLetterPaths},
    {"extended_length_paths", CheckExtendedLengthPaths},
    {"write_of_nothing", CheckWriteOfNothing},
    {"error_cause_after_allocation", CheckErrorCauseAfterAllocation},
    {"western_code_pages", CheckWesternCodePages},
    {"cyrillic_code_pages", CheckCyrillicCodePages},
    {"japanese_code_pages", CheckJapaneseCodePages},
};

int RunWindowsCase(Dll* pDll, const char* pszCase, const char* pszWorkDir) {
  for (size_t i = 0; i < sizeof kWindowsCases / sizeof kWindowsCases[0]; ++i) {
    if (strcmp(kWindowsCases[i].pszName, pszCase) != 0) continue;
    Folder folder = {pDll, "", pszCase};
    char szRelative[MAX_PATH];
    snprintf(szRelative, sizeof szRelative, "%s\\%s", pszWorkDir, pszCase);
    const DWORD dwLen = GetFullPathNameA(szRelative, MAX_PATH - 1, folder.szPath, NULL);
    if (dwLen == 0 || dwLen >= MAX_PATH - 1 || !MakeFolder(folder.szPath)) {
      Fail(szRelative, "cannot create the case folder");
      return 1;
    }
    strcat(folder.szPath, "\\");
    kWindowsCases[i].pfnRun(&folder);
    return 1;
  }
  return 0;
}
