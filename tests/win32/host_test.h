/* host_test.h: what the parts of the Windows host share: the loaded DLL, calls
 * made as a host makes them, and failure reports. */
#ifndef QUORLIX_HOST_TEST_H
#define QUORLIX_HOST_TEST_H

#include <windows.h>

#include "win32_cases.h"

typedef struct Dll {
  HMODULE hModule;
  FARPROC apfn[kExportCount]; /* by position in g_exports */
} Dll;

/* Reports a failure (one line) and counts it. */
void Fail(const char* pszWhat, const char* pszDetail);

/* Reports that the case cannot run here; the host then exits with kSkipExitCode. */
void Skip(const char* pszReason);
enum { kSkipExitCode = 77 };

/* Resolves every export by name and by ordinal into pDll->apfn. */
void ResolveExports(Dll* pDll);

/* A CallExportFn for a Dll: calls as a host compiled for the exports' calling
 * convention does, and fails when the callee leaves the stack unbalanced. */
int CallExport(void* pContext, const ExportInfo* pExport, const intptr_t* pArgs, int* pnStatus, char* pszError);

/* Runs the hand-written case pszCase in a folder under pszWorkDir; returns 0 when
 * there is no such case. */
int RunWindowsCase(Dll* pDll, const char* pszCase, const char* pszWorkDir);

#endif /* QUORLIX_HOST_TEST_H */
