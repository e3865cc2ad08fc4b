// The module's two calls that throw inside it and catch at their boundary,
// as the registration tests provoke them: a registration while ".wav"'s
// default value is a number, and an AddPages whose first allocation fails.
#pragma once

#include <windows.h>
#include <shlobj.h>

#include <atomic>
#include <cstdlib>

#include "drop_files_data_object.h"
#include "import_patch.h"
#include "pellmore_module.h"

// ".wav"'s default value a REG_DWORD (in a registry sandbox): the module's
// DllRegisterServer throws on it and returns E_FAIL without a box.
void SetWavTypeToANumber();

// The module's first allocation after Arm() fails, through its import of
// malloc; the others reach the platform.
class TFailingModuleAllocation {
public:
  explicit TFailingModuleAllocation(HMODULE module)
      : FPatch(module, "msvcrt.dll", "malloc", reinterpret_cast<void*>(Allocate), &GPlatform) {}
  ~TFailingModuleAllocation() { GArmed = false; }
  bool Active() const { return FPatch.Original() != nullptr; }
  void Arm() { GArmed = true; }
  bool Fired() const { return !GArmed; }

private:
  static void* Allocate(size_t size) {
    if (GArmed.exchange(false))
      return nullptr;
    return reinterpret_cast<decltype(&std::malloc)>(GPlatform)(size);
  }
  static inline std::atomic<bool> GArmed{false};
  static inline void* GPlatform = nullptr;
  TImportPatch FPatch;
};

// An add-page function that counts the pages; lParam is an int.
BOOL CALLBACK CountPage(HPROPSHEETPAGE, LPARAM lParam);

// The module's extension object for one .wav file, as the shell holds it
// when it asks for pages; Pages is null when creating or initialising it
// failed.
class TExtension {
public:
  explicit TExtension(TPellmoreModule& module);
  ~TExtension();
  TExtension(const TExtension&) = delete;
  TExtension& operator=(const TExtension&) = delete;

  IShellPropSheetExt* Pages = nullptr;

private:
  TDropDataObject FSelection{{L"C:\\Sounds\\song.wav"}};
  IShellExtInit* FInit = nullptr;
};
