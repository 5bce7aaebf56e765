/* Reading, running, recording and comparing the cases of win32_cases.h. Plain C
 * and the C library only, so that the native recorder and the Windows host share
 * every line of it. */
#include "win32_cases.h"

#include <ctype.h>
#include <errno.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#ifdef _WIN32
#include <direct.h>
#define MAKE_FOLDER(psz) _mkdir(psz)
static const char kPathSeparator = '\\'; /* paths as a Windows host spells them */
#else
#include <sys/stat.h>
#define MAKE_FOLDER(psz) mkdir(psz, 0777)
static const char kPathSeparator = '/';
#endif

const ExportInfo g_exports[kExportCount] = {
    {"CvtCRLF", 1, "ssi"},         {"CvtDLLVersion", 2, ""},
    {"CvtDecodeFiling", 3, "sss"}, {"CvtDelimitedFile", 4, "ssssss"},
    {"CvtHTMLtoText", 5, "ssi"},   {"CvtVerifyFile", 6, "s"},
};

int MakeFolder(const char* pszPath) { return MAKE_FOLDER(pszPath) == 0 || errno == EEXIST; }

static void JoinPath(char* pszOut, size_t nOut, const char* pszFolder, const char* pszName) {
  snprintf(pszOut, nOut, "%s%c%s", pszFolder, kPathSeparator, pszName);
}

/* ---- Reading the case list ---- */

static const ExportInfo* FindExport(const char* pszName) {
  for (int i = 0; i < kExportCount; ++i)
    if (strcmp(g_exports[i].pszName, pszName) == 0) return &g_exports[i];
  return NULL;
}

static int HexValue(char ch) {
  if (ch >= '0' && ch <= '9') return ch - '0';
  if (ch >= 'a' && ch <= 'f') return ch - 'a' + 10;
  if (ch >= 'A' && ch <= 'F') return ch - 'A' + 10;
  return -1;
}

/* Copies one token from *ppsz into pszOut, unquoting a "..." token; returns 0 at
 * the end of the line, -1 on a malformed or oversized token, else 1. *pbQuoted
 * tells a quoted token from a bare one. */
static int NextToken(const char** ppsz, char* pszOut, int* pbQuoted) {
  const char* p = *ppsz;
  while (*p == ' ' || *p == '\t') ++p;
  if (*p == '\0' || *p == '\n' || *p == '\r' || *p == '#') return 0;
  size_t n = 0;
  *pbQuoted = *p == '"';
  if (!*pbQuoted) {
    while (*p && !isspace((unsigned char)*p)) {
      if (n + 1 >= CASE_MAX_TEXT) return -1;
      pszOut[n++] = *p++;
    }
  } else {
    for (++p; *p != '"'; ++p) {
      if (*p == '\0' || n + 1 >= CASE_MAX_TEXT) return -1;
      char ch = *p;
      if (ch == '\\') {
        ++p;
        switch (*p) {
          case 't': ch = '\t'; break;
          case 'r': ch = '\r'; break;
          case 'n': ch = '\n'; break;
          case '\\': ch = '\\'; break;
          case '"': ch = '"'; break;
          case 'x': {
            const int nHigh = HexValue(p[1]), nLow = nHigh < 0 ? -1 : HexValue(p[2]);
            if (nHigh < 0 || nLow < 0 || nHigh + nLow == 0) return -1; /* no \x00: strings end there */
            ch = (char)(nHigh * 16 + nLow);
            p += 2;
            break;
          }
          default: return -1;
        }
      }
      pszOut[n++] = ch;
    }
    ++p;
  }
  pszOut[n] = '\0';
  *ppsz = p;
  return 1;
}

static int ParseArg(const char* pszToken, int bQuoted, char chKind, CaseArg* pArg) {
  static const char kStagePrefix[] = "file:";
  memset(pArg, 0, sizeof *pArg);
  if (chKind == 'i') {
    char* pEnd;
    pArg->kind = kArgInt;
    pArg->n = (int)strtol(pszToken, &pEnd, 10);
    return !bQuoted && *pszToken && *pEnd == '\0';
  }
  if (bQuoted) {
    pArg->kind = kArgText;
    strcpy(pArg->sz, pszToken);
    return 1;
  }
  if (strncmp(pszToken, kStagePrefix, sizeof kStagePrefix - 1) == 0) {
    const char* pszSource = pszToken + sizeof kStagePrefix - 1;
    const char* pszBase = strrchr(pszSource, '/');
    pArg->kind = kArgStagedFile;
    strcpy(pArg->szSource, pszSource);
    strcpy(pArg->sz, pszBase ? pszBase + 1 : pszSource);
    return pArg->sz[0] != '\0';
  }
  pArg->kind = kArgFile;
  strcpy(pArg->sz, pszToken);
  return 1;
}

static int ParseCaseLine(const char* pszLine, Case* pCase) {
  char szToken[CASE_MAX_TEXT];
  int bQuoted;
  const char* p = pszLine;
  if (NextToken(&p, szToken, &bQuoted) != 1 || bQuoted || strlen(szToken) >= sizeof pCase->szName) return 0;
  strcpy(pCase->szName, szToken);
  if (NextToken(&p, szToken, &bQuoted) != 1 || !(pCase->pExport = FindExport(szToken))) return 0;
  const char* pszKinds = pCase->pExport->pszArgKinds;
  for (pCase->nArgs = 0; pszKinds[pCase->nArgs]; ++pCase->nArgs) {
    if (NextToken(&p, szToken, &bQuoted) != 1) return 0;
    if (!ParseArg(szToken, bQuoted, pszKinds[pCase->nArgs], &pCase->args[pCase->nArgs])) return 0;
  }
  return NextToken(&p, szToken, &bQuoted) == 0; /* nothing after the last argument */
}

int ReadCases(const char* pszPath, Case* pCases) {
  FILE* pFile = fopen(pszPath, "r");
  if (!pFile) {
    printf("cannot read the case list %s\n", pszPath);
    return -1;
  }
  char szLine[1024];
  int nCases = 0, nLine = 0, bFailed = 0;
  while (!bFailed && fgets(szLine, sizeof szLine, pFile)) {
    ++nLine;
    char szFirst[CASE_MAX_TEXT];
    int bQuoted;
    const char* p = szLine;
    if (NextToken(&p, szFirst, &bQuoted) == 0) continue; /* blank or comment */
    bFailed = nCases == CASE_MAX_CASES || !ParseCaseLine(szLine, &pCases[nCases]);
    for (int i = 0; !bFailed && i < nCases; ++i) bFailed = strcmp(pCases[i].szName, pCases[nCases].szName) == 0;
    if (bFailed) printf("%s:%d: not a case (or a repeated name): %s", pszPath, nLine, szLine);
    ++nCases;
  }
  fclose(pFile);
  return bFailed ? -1 : nCases;
}

/* ---- Running a case ---- */

static int CopyDataFile(const char* pszFrom, const char* pszTo) {
  FILE* pIn = fopen(pszFrom, "rb");
  FILE* pOut = pIn ? fopen(pszTo, "wb") : NULL;
  int bOk = pOut != NULL;
  char buf[4096];
  size_t n;
  while (bOk && (n = fread(buf, 1, sizeof buf, pIn)) > 0) bOk = fwrite(buf, 1, n, pOut) == n;
  if (pIn) bOk = bOk && !ferror(pIn) && fclose(pIn) == 0;
  if (pOut) bOk = fclose(pOut) == 0 && bOk;
  return bOk;
}

static int IsFileArg(const CaseArg* pArg) { return pArg->kind == kArgFile || pArg->kind == kArgStagedFile; }

int RunCase(const Case* pCase, const char* pszDataDir, const char* pszWorkDir, CallExportFn pfnCall, void* pContext,
            int* pnStatus, char* pszError) {
  char szFolder[CASE_MAX_TEXT];
  char aszPaths[CASE_MAX_ARGS][2 * CASE_MAX_TEXT];
  intptr_t slots[CASE_MAX_ARGS] = {0};
  JoinPath(szFolder, sizeof szFolder, pszWorkDir, pCase->szName);
  if (!MakeFolder(szFolder)) {
    snprintf(pszError, CASE_MAX_ERROR, "cannot create the folder %s", szFolder);
    return 0;
  }
  for (int i = 0; i < pCase->nArgs; ++i) {
    const CaseArg* pArg = &pCase->args[i];
    if (!IsFileArg(pArg)) continue;
    JoinPath(aszPaths[i], sizeof aszPaths[i], szFolder, pArg->sz);
    remove(aszPaths[i]);
  }
  for (int i = 0; i < pCase->nArgs; ++i) {
    const CaseArg* pArg = &pCase->args[i];
    if (pArg->kind == kArgInt) {
      slots[i] = pArg->n;
    } else if (pArg->kind == kArgText) {
      slots[i] = (intptr_t)pArg->sz;
    } else {
      slots[i] = (intptr_t)aszPaths[i];
      char szSource[2 * CASE_MAX_TEXT];
      JoinPath(szSource, sizeof szSource, pszDataDir, pArg->szSource);
      if (pArg->kind == kArgStagedFile && !CopyDataFile(szSource, aszPaths[i])) {
        snprintf(pszError, CASE_MAX_ERROR, "cannot stage %s", szSource);
        return 0;
      }
    }
  }
  return pfnCall(pContext, pCase->pExport, slots, pnStatus, pszError);
}

/* ---- Recording and comparing ---- */

static void StatusPath(char* pszOut, size_t nOut, const Case* pCase, const char* pszExpectedDir) {
  char szName[CASE_MAX_TEXT];
  snprintf(szName, sizeof szName, "%s.status", pCase->szName);
  JoinPath(pszOut, nOut, pszExpectedDir, szName);
}

int WriteRecordedStatus(const Case* pCase, const char* pszExpectedDir, int nStatus) {
  char szPath[2 * CASE_MAX_TEXT];
  StatusPath(szPath, sizeof szPath, pCase, pszExpectedDir);
  FILE* pFile = fopen(szPath, "w");
  if (!pFile) return 0;
  const int bWritten = fprintf(pFile, "%d\n", nStatus) > 0;
  return fclose(pFile) == 0 && bWritten;
}

int ReadRecordedStatus(const Case* pCase, const char* pszExpectedDir, int* pnStatus) {
  char szPath[2 * CASE_MAX_TEXT];
  StatusPath(szPath, sizeof szPath, pCase, pszExpectedDir);
  FILE* pFile = fopen(szPath, "r");
  if (!pFile) return 0;
  const int bRead = fscanf(pFile, "%d", pnStatus) == 1;
  fclose(pFile);
  return bRead;
}

/* Compares two files byte for byte: NULL when they agree (or both are absent),
 * else a short description of the first difference. */
static const char* DescribeDifference(const char* pszExpected, const char* pszActual, char* pszBuf, size_t nBuf) {
  FILE* pExpected = fopen(pszExpected, "rb");
  FILE* pActual = fopen(pszActual, "rb");
  const char* pszDifference = NULL;
  if (!pExpected || !pActual) {
    if (pExpected) pszDifference = "expected but not there";
    if (pActual) pszDifference = "there but expected absent";
  } else {
    for (long nOffset = 0; !pszDifference; ++nOffset) {
      const int chExpected = getc(pExpected), chActual = getc(pActual);
      if (chExpected == chActual && chExpected != EOF) continue;
      if (chExpected != chActual) {
        snprintf(pszBuf, nBuf, "differs at byte %ld (expected %d, got %d; -1 is the end)", nOffset, chExpected,
                 chActual);
        pszDifference = pszBuf;
      }
      if (chExpected == EOF) break;
    }
  }
  if (pExpected) fclose(pExpected);
  if (pActual) fclose(pActual);
  return pszDifference;
}

int CompareCaseFiles(const Case* pCase, const char* pszExpectedDir, const char* pszWorkDir, char* pszError) {
  char szExpectedFolder[CASE_MAX_TEXT], szActualFolder[CASE_MAX_TEXT];
  JoinPath(szExpectedFolder, sizeof szExpectedFolder, pszExpectedDir, pCase->szName);
  JoinPath(szActualFolder, sizeof szActualFolder, pszWorkDir, pCase->szName);
  for (int i = 0; i < pCase->nArgs; ++i) {
    const CaseArg* pArg = &pCase->args[i];
    if (!IsFileArg(pArg)) continue;
    char szExpected[2 * CASE_MAX_TEXT], szActual[2 * CASE_MAX_TEXT], szBuf[128];
    JoinPath(szExpected, sizeof szExpected, szExpectedFolder, pArg->sz);
    JoinPath(szActual, sizeof szActual, szActualFolder, pArg->sz);
    const char* pszDifference = DescribeDifference(szExpected, szActual, szBuf, sizeof szBuf);
    if (pszDifference) {
      snprintf(pszError, CASE_MAX_ERROR, "%s: %s", pArg->sz, pszDifference);
      return 0;
    }
  }
  return 1;
}
