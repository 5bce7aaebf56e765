/* win32_cases.h: export calls written down as data, so that the native build can
 * record what each call does (its status and the files it leaves) and the Windows
 * host can replay the same calls against QUORLIX.dll and expect the same.
 *
 * A case list has one call per line: the case name, the export and its arguments.
 *   crlf_plain  CvtCRLF  file:win32/mixed_breaks.txt  out.txt  0
 * String arguments are file names in the case's own folder, passed as full paths:
 *   file:REL   copies REL (relative to the data folder) into the case folder
 *              under its base name before the call;
 *   NAME       any other file, existing or not (an output, a missing input);
 *   "TEXT"     a plain string, not a file ("" is empty; \t \r \n \\ \" \xHH).
 * Int arguments are decimal. After the call every named file is compared, so a
 * case proves what was written, what was replaced and what was left absent. */
#ifndef QUORLIX_WIN32_CASES_H
#define QUORLIX_WIN32_CASES_H

#include <stddef.h>
#include <stdint.h>

#define CASE_MAX_ARGS 6
#define CASE_MAX_TEXT 260
#define CASE_MAX_CASES 256
#define CASE_MAX_ERROR 2048

typedef struct ExportInfo {
  const char* pszName;
  int nOrdinal;
  const char* pszArgKinds; /* one letter per argument: 's' string, 'i' int */
} ExportInfo;

/* The six exports, in ordinal order. */
enum { kExportCount = 6 };
extern const ExportInfo g_exports[kExportCount];

typedef enum ArgKind { kArgInt, kArgText, kArgFile, kArgStagedFile } ArgKind;

typedef struct CaseArg {
  ArgKind kind;
  int n;                        /* kArgInt */
  char sz[CASE_MAX_TEXT];       /* kArgText: the string; files: the name in the case folder */
  char szSource[CASE_MAX_TEXT]; /* kArgStagedFile: the path under the data folder */
} CaseArg;

typedef struct Case {
  char szName[64];
  const ExportInfo* pExport;
  int nArgs;
  CaseArg args[CASE_MAX_ARGS];
} Case;

/* Calls pExport with one pointer-sized slot per argument (strings as pointers,
 * ints as ints) and returns its status; returns 0 after writing pszError when the
 * call itself went wrong (on Windows: the callee did not remove its arguments). */
typedef int (*CallExportFn)(void* pContext, const ExportInfo* pExport, const intptr_t* pArgs, int* pnStatus,
                            char* pszError);

/* Reads up to CASE_MAX_CASES cases; returns their number, or -1 after printing the
 * faulty line. */
int ReadCases(const char* pszPath, Case* pCases);

/* Stages the case's files in the folder <pszWorkDir>/<case> (created if needed,
 * named files of an earlier run removed), then makes the call. Returns 1 with
 * *pnStatus set, or 0 with pszError set. pszWorkDir must exist. */
int RunCase(const Case* pCase, const char* pszDataDir, const char* pszWorkDir, CallExportFn pfnCall, void* pContext,
            int* pnStatus, char* pszError);

/* The status file of a recorded case: <pszExpectedDir>/<case>.status. */
int WriteRecordedStatus(const Case* pCase, const char* pszExpectedDir, int nStatus);
int ReadRecordedStatus(const Case* pCase, const char* pszExpectedDir, int* pnStatus);

/* Compares every file that the case names, in <pszWorkDir>/<case> against the
 * recording in <pszExpectedDir>/<case>: both absent, or both present with the same
 * bytes. Returns 1, or 0 with the first difference in pszError. */
int CompareCaseFiles(const Case* pCase, const char* pszExpectedDir, const char* pszWorkDir, char* pszError);

/* Creates a folder; one that exists already is fine. Returns 1 on success. */
int MakeFolder(const char* pszPath);

#endif /* QUORLIX_WIN32_CASES_H */
