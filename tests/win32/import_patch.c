/* The import descriptors of a module name each DLL it imports from; beside the
 * names (OriginalFirstThunk) runs the table of addresses the loader filled in
 * (FirstThunk), which every call to an import goes through. */
#include "import_patch.h"

#include <string.h>

void* PatchImport(HMODULE hModule, const char* pszDll, const char* pszName, void* pfnNew) {
  BYTE* pBase = (BYTE*)hModule;
  const IMAGE_NT_HEADERS* pNt = (const IMAGE_NT_HEADERS*)(pBase + ((const IMAGE_DOS_HEADER*)pBase)->e_lfanew);
  const IMAGE_DATA_DIRECTORY* pDir = &pNt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
  if (pDir->VirtualAddress == 0) return NULL;
  for (const IMAGE_IMPORT_DESCRIPTOR* pImport = (const IMAGE_IMPORT_DESCRIPTOR*)(pBase + pDir->VirtualAddress);
       pImport->Name; ++pImport) {
    if (_stricmp((const char*)(pBase + pImport->Name), pszDll) != 0 || pImport->OriginalFirstThunk == 0) continue;
    const IMAGE_THUNK_DATA* pNames = (const IMAGE_THUNK_DATA*)(pBase + pImport->OriginalFirstThunk);
    IMAGE_THUNK_DATA* pSlots = (IMAGE_THUNK_DATA*)(pBase + pImport->FirstThunk);
    for (; pNames->u1.AddressOfData; ++pNames, ++pSlots) {
      if (IMAGE_SNAP_BY_ORDINAL(pNames->u1.Ordinal)) continue;
      const IMAGE_IMPORT_BY_NAME* pByName = (const IMAGE_IMPORT_BY_NAME*)(pBase + pNames->u1.AddressOfData);
      if (strcmp((const char*)pByName->Name, pszName) != 0) continue;
      DWORD dwOld;
      void* pfnOld = (void*)pSlots->u1.Function;
      if (!VirtualProtect(&pSlots->u1.Function, sizeof pSlots->u1.Function, PAGE_READWRITE, &dwOld)) return NULL;
      pSlots->u1.Function = (ULONG_PTR)pfnNew;
      VirtualProtect(&pSlots->u1.Function, sizeof pSlots->u1.Function, dwOld, &dwOld);
      return pfnOld;
    }
  }
  return NULL;
}
