#include "import_patch.h"

#include <cstring>

void* PatchImport(HMODULE module, const char* dll, const char* function, void* replacement,
                  void** original) {
  auto* base = reinterpret_cast<BYTE*>(module);
  auto* dos = reinterpret_cast<IMAGE_DOS_HEADER*>(base);
  auto* nt = reinterpret_cast<IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
  const IMAGE_DATA_DIRECTORY& dir = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
  if (dir.VirtualAddress == 0)
    return nullptr;
  for (auto* imp = reinterpret_cast<IMAGE_IMPORT_DESCRIPTOR*>(base + dir.VirtualAddress);
       imp->Name != 0; ++imp) {
    if (_stricmp(reinterpret_cast<const char*>(base + imp->Name), dll) != 0)
      continue;
    auto* names = reinterpret_cast<IMAGE_THUNK_DATA*>(base + imp->OriginalFirstThunk);
    auto* slots = reinterpret_cast<IMAGE_THUNK_DATA*>(base + imp->FirstThunk);
    for (; names->u1.AddressOfData != 0; ++names, ++slots) {
      if (IMAGE_SNAP_BY_ORDINAL(names->u1.Ordinal))
        continue;
      auto* byName = reinterpret_cast<IMAGE_IMPORT_BY_NAME*>(base + names->u1.AddressOfData);
      if (std::strcmp(reinterpret_cast<const char*>(byName->Name), function) != 0)
        continue;
      DWORD oldProtect = 0;
      if (!VirtualProtect(&slots->u1.Function, sizeof(slots->u1.Function), PAGE_READWRITE,
                          &oldProtect))
        return nullptr;
      void* previous = reinterpret_cast<void*>(slots->u1.Function);
      if (original)
        *original = previous;
      slots->u1.Function = reinterpret_cast<ULONG_PTR>(replacement);
      VirtualProtect(&slots->u1.Function, sizeof(slots->u1.Function), oldProtect, &oldProtect);
      return previous;
    }
  }
  return nullptr;
}

TImportPatch::TImportPatch(HMODULE module, const char* dll, const char* function, void* replacement,
                           void** original)
    : FModule(module), FDll(dll), FFunction(function),
      FOriginal(PatchImport(module, dll, function, replacement, original)) {}

TImportPatch::~TImportPatch() {
  if (FOriginal)
    PatchImport(FModule, FDll, FFunction, FOriginal);
}
