// create_by_class.exe
// Creates the extension by its class identifier, as the shell does: COM
// finds the module through the registry. Prints the UTF-8 path of the module
// that answered and exits with 0 when the object was created.
#include <windows.h>
#include <shlobj.h>

#include <cstdio>
#include <string>

#include "class_id.h"

int main() {
  if (FAILED(CoInitialize(nullptr)))
    return 2;
  IShellExtInit* init = nullptr;
  HRESULT result = CoCreateInstance(CLSID_Tolvane, nullptr, CLSCTX_INPROC_SERVER, IID_IShellExtInit,
                                    reinterpret_cast<void**>(&init));
  int status = 1;
  if (SUCCEEDED(result) && init) {
    // The module whose code the object's entry points are.
    HMODULE module = nullptr;
    wchar_t path[32768] = L"";
    if (GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS |
                               GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                           *reinterpret_cast<LPCWSTR*>(init), &module) &&
        GetModuleFileNameW(module, path, 32768) > 0) {
      char text[3 * 32768];
      int length = WideCharToMultiByte(CP_UTF8, 0, path, -1, text, sizeof text, nullptr, nullptr);
      if (length > 0) {
        std::fwrite(text, 1, size_t(length - 1), stdout);
        std::fputc('\n', stdout);
        status = 0;
      }
    }
    init->Release();
  } else {
    std::fprintf(stdout, "CoCreateInstance: %08lX\n", static_cast<unsigned long>(result));
  }
  CoUninitialize();
  return status;
}
