#include "registration.h"

#include "ansi_text.h"
#include "exceptions.h"
#include "module.h"
#include "registry_key.h"
#include "unique_handle.h"

namespace {

struct TCoTaskMemFree {
  void operator()(LPOLESTR text) const { CoTaskMemFree(text); }
};
using TCoTaskString = TUniqueHandle<LPOLESTR, nullptr, TCoTaskMemFree>;

void CheckRegistryResult(LONG result) {
  if (result != ERROR_SUCCESS)
    throw EOleError(LoadModuleString(SCreateRegKeyError));
}

// Creates or opens the key below HKEY_CLASSES_ROOT for one value to be set.
TRegKey CreateKeyForValue(const std::string& key) {
  TRegKey handle;
  CheckRegistryResult(handle.Create(HKEY_CLASSES_ROOT, key, ClassesKeyAccess));
  return handle;
}

} // namespace

std::string ClassIdToText(REFCLSID classId) {
  TCoTaskString text;
  CheckOleResult(StringFromCLSID(classId, text.put()));
  return ToAnsi(text.get());
}

void CreateClassesKey(const std::string& key, const std::string& valueName,
                      const std::string& value) {
  CheckRegistryResult(CreateKeyForValue(key).SetString(valueName, value));
}

void CreateClassesKey(const std::string& key, const std::string& valueName,
                      const std::wstring& value) {
  CheckRegistryResult(CreateKeyForValue(key).SetString(valueName, value));
}

void CreateClassesKey(const TClassesEntry& entry) {
  if (entry.WideData.empty())
    CreateClassesKey(entry.Key, entry.ValueName, entry.Data);
  else
    CreateClassesKey(entry.Key, entry.ValueName, entry.WideData);
}

void DeleteClassesKey(const std::string& key) {
  TRegKey::Delete(HKEY_CLASSES_ROOT, key);
}
