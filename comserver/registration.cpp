#include "registration.h"

#include "exceptions.h"
#include "module.h"
#include "registry_key.h"
#include "unique_handle.h"

namespace {

struct TCoTaskMemFree {
  void operator()(LPOLESTR text) const { CoTaskMemFree(text); }
};
using TCoTaskString = TUniqueHandle<LPOLESTR, nullptr, TCoTaskMemFree>;

std::string ToAnsi(const wchar_t* text) {
  int size = WideCharToMultiByte(CP_ACP, 0, text, -1, nullptr, 0, nullptr, nullptr);
  if (size <= 1)
    return std::string();
  std::string result(static_cast<std::size_t>(size), '\0');
  WideCharToMultiByte(CP_ACP, 0, text, -1, &result[0], size, nullptr, nullptr);
  result.resize(static_cast<std::size_t>(size - 1));
  return result;
}

} // namespace

std::string ClassIdToText(REFCLSID classId) {
  TCoTaskString text;
  CheckOleResult(StringFromCLSID(classId, text.put()));
  return ToAnsi(text.get());
}

void CreateClassesKey(const std::string& key, const std::string& valueName,
                      const std::string& value) {
  TRegKey handle;
  DWORD disposition = 0;
  char emptyClass[] = "";
  LONG result =
      RegCreateKeyExA(HKEY_CLASSES_ROOT, key.c_str(), 0, emptyClass, REG_OPTION_NON_VOLATILE,
                      KEY_READ | KEY_WRITE, nullptr, handle.put(), &disposition);
  if (result == ERROR_SUCCESS)
    result = RegSetValueExA(handle.get(), valueName.c_str(), 0, REG_SZ,
                            reinterpret_cast<const BYTE*>(value.c_str()),
                            static_cast<DWORD>(value.size() + 1));
  if (result != ERROR_SUCCESS)
    throw EOleError(LoadModuleString(SCreateRegKeyError));
}

void DeleteClassesKey(const std::string& key) {
  RegDeleteKeyA(HKEY_CLASSES_ROOT, key.c_str());
}

std::string RegisteredModulePath(const std::string& path) {
  if (path.find(' ') == std::string::npos)
    return path;
  // Room for 260 characters and the terminating zero; a longer short form,
  // or none at all, leaves the path as it is.
  char shortPath[261];
  DWORD length = GetShortPathNameA(path.c_str(), shortPath, sizeof shortPath);
  if (length == 0 || length >= sizeof shortPath)
    return path;
  return std::string(shortPath, length);
}
