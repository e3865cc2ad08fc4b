#include "pellmore_module.h"

#include <stdexcept>

std::string BuiltModulePath() {
  char path[MAX_PATH];
  DWORD length = GetModuleFileNameA(nullptr, path, MAX_PATH);
  std::string text(path, length);
  return text.substr(0, text.find_last_of('\\') + 1) + "PELLMORE.DLL";
}

namespace {

// Through void (*)(), which converts to every function type without a
// -Wcast-function-type warning.
template <class Function> Function ExportAs(FARPROC proc, const char* name) {
  if (!proc)
    throw std::runtime_error(std::string("PELLMORE.DLL does not export ") + name);
  return reinterpret_cast<Function>(reinterpret_cast<void (*)()>(proc));
}

} // namespace

TPellmoreModule::TPellmoreModule(const std::string& path) : FHandle(LoadLibraryA(path.c_str())) {
  if (!FHandle)
    throw std::runtime_error("cannot load " + path + ": " + std::to_string(GetLastError()));
  try {
    DllGetClassObject =
        ExportAs<TDllGetClassObject>(Export("DllGetClassObject"), "DllGetClassObject");
    DllCanUnloadNow = ExportAs<TDllFunction>(Export("DllCanUnloadNow"), "DllCanUnloadNow");
    DllRegisterServer = ExportAs<TDllFunction>(Export("DllRegisterServer"), "DllRegisterServer");
    DllUnregisterServer =
        ExportAs<TDllFunction>(Export("DllUnregisterServer"), "DllUnregisterServer");
  } catch (...) {
    FreeLibrary(FHandle);
    throw;
  }
}

TPellmoreModule::~TPellmoreModule() {
  FreeLibrary(FHandle);
}

FARPROC TPellmoreModule::Export(const char* nameOrOrdinal) const {
  return GetProcAddress(FHandle, nameOrOrdinal);
}
