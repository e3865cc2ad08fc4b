// PELLMORE.DLL as a host loads it: LoadLibraryA and the four exports found
// with GetProcAddress. The build copies the DLL next to this executable.
#pragma once

#include <windows.h>

#include <string>

using TDllGetClassObject = HRESULT(STDAPICALLTYPE*)(REFCLSID, REFIID, LPVOID*);
using TDllFunction = HRESULT(STDAPICALLTYPE*)();

// The copy of PELLMORE.DLL beside this executable.
std::string BuiltModulePath();

class TPellmoreModule {
public:
  // Loads the DLL (start-up runs in its DllMain); unloads it at the end
  // (teardown runs).
  explicit TPellmoreModule(const std::string& path = BuiltModulePath());
  ~TPellmoreModule();
  TPellmoreModule(const TPellmoreModule&) = delete;
  TPellmoreModule& operator=(const TPellmoreModule&) = delete;

  HMODULE Handle() const { return FHandle; }
  FARPROC Export(const char* nameOrOrdinal) const;

  TDllGetClassObject DllGetClassObject;
  TDllFunction DllCanUnloadNow;
  TDllFunction DllRegisterServer;
  TDllFunction DllUnregisterServer;

private:
  HMODULE FHandle;
};
