// A DLL of nothing that imports the system functions the module imports and
// answers DllCanUnloadNow as an idle module does: what any module with those
// imports costs to load and free (bench/load_free.sh).
#include <windows.h>
#include <commctrl.h>
#include <objbase.h>
#include <shellapi.h>
#include <shlobj.h>

namespace {
// Read in DllMain, so that the linker keeps every import (and the padding).
const void* const volatile Imports[] = {
#include "imports.inc"
};
} // namespace

#ifdef TOLVANE_PADDED
extern "C" const char TolvanePadding[];
#endif

BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID) {
  if (reason == DLL_PROCESS_ATTACH && Imports[0] == nullptr)
    return FALSE;
#ifdef TOLVANE_PADDED
  if (reason == DLL_PROCESS_ATTACH && *static_cast<const char volatile*>(TolvanePadding) != 'P')
    return FALSE;
#endif
  return TRUE;
}

extern "C" HRESULT STDAPICALLTYPE DllCanUnloadNow() { return S_OK; }
