// exit_while_busy.exe PELLMORE.DLL
// Loads the module, lets two threads fetch and release its class factory in
// a loop, and ends the process while they do, as a host that exits with
// shell work in flight. The process must end; it exits with 0.
#include <windows.h>

#include "class_id.h"

namespace {

using TDllGetClassObject = HRESULT(STDAPICALLTYPE*)(REFCLSID, REFIID, LPVOID*);
TDllGetClassObject GetClassObject = nullptr;

DWORD WINAPI Hammer(void*) {
  for (;;) {
    void* factory = nullptr;
    if (GetClassObject(CLSID_Tolvane, IID_IClassFactory, &factory) == S_OK)
      static_cast<IUnknown*>(factory)->Release();
  }
}

} // namespace

int main(int argc, char** argv) {
  if (argc != 2)
    return 2;
  HMODULE module = LoadLibraryA(argv[1]);
  if (!module)
    return 3;
  // Through void (*)(), which converts to every function type without a
  // -Wcast-function-type warning.
  GetClassObject = reinterpret_cast<TDllGetClassObject>(
      reinterpret_cast<void (*)()>(GetProcAddress(module, "DllGetClassObject")));
  if (!GetClassObject)
    return 4;
  for (int i = 0; i < 2; ++i)
    CloseHandle(CreateThread(nullptr, 0, Hammer, nullptr, 0, nullptr));
  Sleep(20);
  ExitProcess(0);
}
