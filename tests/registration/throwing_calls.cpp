#include "throwing_calls.h"

#include <string>

#include "class_id.h"
#include "registry_sandbox.h"

void SetWavTypeToANumber() {
  SetValue(HKEY_CLASSES_ROOT, ".wav", "", REG_DWORD, std::string("\x07\0\0\0", 4));
}

BOOL CALLBACK CountPage(HPROPSHEETPAGE, LPARAM lParam) {
  ++*reinterpret_cast<int*>(lParam);
  return TRUE;
}

TExtension::TExtension(TPellmoreModule& module) {
  void* factory = nullptr;
  if (module.DllGetClassObject(CLSID_Tolvane, IID_IClassFactory, &factory) != S_OK)
    return;
  static_cast<IClassFactory*>(factory)->CreateInstance(nullptr, IID_IShellExtInit,
                                                       reinterpret_cast<void**>(&FInit));
  static_cast<IClassFactory*>(factory)->Release();
  if (FInit && FInit->Initialize(nullptr, &FSelection, nullptr) == S_OK)
    FInit->QueryInterface(IID_IShellPropSheetExt, reinterpret_cast<void**>(&Pages));
}

TExtension::~TExtension() {
  if (Pages)
    Pages->Release();
  if (FInit)
    FInit->Release();
}
