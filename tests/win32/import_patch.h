/* import_patch.h: replaces a function that a loaded module imports, in that
 * module's import address table only, so that a test can make a system call
 * misbehave for the code under test and for nothing else. */
#ifndef QUORLIX_IMPORT_PATCH_H
#define QUORLIX_IMPORT_PATCH_H

#include <windows.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Points hModule's import of pszDll!pszName (by name; the DLL name in any case)
 * at pfnNew and returns the entry it held, or NULL when hModule does not import
 * the function by that name. Patching back with the returned entry undoes it. */
void* PatchImport(HMODULE hModule, const char* pszDll, const char* pszName, void* pfnNew);

#ifdef __cplusplus
}
#endif

#endif /* QUORLIX_IMPORT_PATCH_H */
