// Replaces a module's import of a system function by a function of the test,
// so a test can stand in for the platform where Wine does not do what Windows
// does (or watch what the module passes). Windows only.
#pragma once

#include <windows.h>

// Points the import of `function` from `dll` (case-insensitive) in `module`'s
// import table to `replacement`. Returns the previous target, or nullptr when
// the module does not import that function. `original`, when given, receives
// the previous target before the slot changes, so a replacement that calls on
// through it may be called at once.
//
// A replacement calls on through the target taken from the slot, never
// through the function's name, not even through a copy of it made before the
// patch: clang may fold such a copy into the calls, which then read the
// patched slot, and the replacement calls itself.
void* PatchImport(HMODULE module, const char* dll, const char* function, void* replacement,
                  void** original = nullptr);

// Restores an import when it goes out of scope.
class TImportPatch {
public:
  TImportPatch(HMODULE module, const char* dll, const char* function, void* replacement,
               void** original = nullptr);
  ~TImportPatch();
  TImportPatch(const TImportPatch&) = delete;
  TImportPatch& operator=(const TImportPatch&) = delete;
  void* Original() const { return FOriginal; }

private:
  HMODULE FModule;
  const char* FDll;
  const char* FFunction;
  void* FOriginal;
};
