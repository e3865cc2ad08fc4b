// A DLL of nothing, without the C runtime: the tests load copies of it under
// a thousand names to crowd a host with modules, at little cost per load.
#include <windows.h>

BOOL WINAPI DllMainCRTStartup(HINSTANCE instance, DWORD reason, LPVOID reserved) {
  (void)instance;
  (void)reason;
  (void)reserved;
  return TRUE;
}
