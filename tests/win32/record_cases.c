/* Records what the native library does with every case of the list: the status
 * of each call and, in a folder per case, the files as the call left them. The
 * Windows host then replays the cases and expects the same.
 *   record_cases CASES DATA_DIR EXPECTED_DIR */
#include <dlfcn.h>
#include <stdio.h>
#include <string.h>

#include "win32_cases.h"

typedef struct NativeLibrary {
  void* apfn[kExportCount]; /* by position in g_exports */
} NativeLibrary;

/* One call shape per argument list of the exports. */
static int CallNative(void* pContext, const ExportInfo* pExport, const intptr_t* a, int* pnStatus, char* pszError) {
  typedef int (*Fn0)(void);
  typedef int (*FnS)(const char*);
  typedef int (*FnSSI)(const char*, const char*, int);
  typedef int (*FnSSS)(const char*, const char*, const char*);
  typedef int (*FnS6)(const char*, const char*, const char*, const char*, const char*, const char*);
  const char* pszKinds = pExport->pszArgKinds;
  void* pfn = ((NativeLibrary*)pContext)->apfn[pExport - g_exports];
#define S(i) ((const char*)a[i])
  if (strcmp(pszKinds, "") == 0) *pnStatus = ((Fn0)pfn)();
  else if (strcmp(pszKinds, "s") == 0) *pnStatus = ((FnS)pfn)(S(0));
  else if (strcmp(pszKinds, "ssi") == 0) *pnStatus = ((FnSSI)pfn)(S(0), S(1), (int)a[2]);
  else if (strcmp(pszKinds, "sss") == 0) *pnStatus = ((FnSSS)pfn)(S(0), S(1), S(2));
  else if (strcmp(pszKinds, "ssssss") == 0) *pnStatus = ((FnS6)pfn)(S(0), S(1), S(2), S(3), S(4), S(5));
  else {
    snprintf(pszError, CASE_MAX_ERROR, "no call shape for arguments \"%s\"", pszKinds);
    return 0;
  }
#undef S
  return 1;
}

int main(int argc, char** argv) {
  if (argc != 4) {
    printf("usage: record_cases CASES DATA_DIR EXPECTED_DIR\n");
    return 2;
  }
  void* hLib = dlopen(QUORLIX_SHARED_LIBRARY, RTLD_NOW | RTLD_LOCAL);
  if (!hLib) {
    printf("cannot load %s: %s\n", QUORLIX_SHARED_LIBRARY, dlerror());
    return 1;
  }
  NativeLibrary library;
  int nFailures = 0;
  for (int i = 0; i < kExportCount; ++i) {
    library.apfn[i] = dlsym(hLib, g_exports[i].pszName);
    if (!library.apfn[i]) {
      printf("FAIL %s is missing from the native library\n", g_exports[i].pszName);
      ++nFailures;
    }
  }
  if (nFailures != 0) return 1;

  static Case cases[CASE_MAX_CASES];
  const int nCases = ReadCases(argv[1], cases);
  if (nCases < 0 || !MakeFolder(argv[3])) return 1;
  for (int i = 0; i < nCases; ++i) {
    const Case* pCase = &cases[i];
    char szError[CASE_MAX_ERROR];
    int nStatus;
    if (!RunCase(pCase, argv[2], argv[3], CallNative, &library, &nStatus, szError)) {
      printf("FAIL %s: %s\n", pCase->szName, szError);
      ++nFailures;
    } else if (!WriteRecordedStatus(pCase, argv[3], nStatus)) {
      printf("FAIL %s: cannot write its status file\n", pCase->szName);
      ++nFailures;
    } else {
      printf("recorded %s: status %d\n", pCase->szName, nStatus);
    }
  }
  dlclose(hLib);
  return nFailures == 0 ? 0 : 1;
}
