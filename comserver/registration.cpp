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

std::wstring FromAnsi(const std::string& text) {
  int size = MultiByteToWideChar(CP_ACP, 0, text.data(), int(text.size()), nullptr, 0);
  std::wstring result(size_t(size > 0 ? size : 0), L'\0');
  if (size > 0)
    MultiByteToWideChar(CP_ACP, 0, text.data(), int(text.size()), result.data(), size);
  return result;
}

void CheckRegistryResult(LONG result) {
  if (result != ERROR_SUCCESS)
    throw EOleError(LoadModuleString(SCreateRegKeyError));
}

// Creates or opens the key below HKEY_CLASSES_ROOT for one value to be set.
TRegKey CreateKeyForValue(const std::string& key) {
  TRegKey handle;
  DWORD disposition = 0;
  char emptyClass[] = "";
  CheckRegistryResult(RegCreateKeyExA(HKEY_CLASSES_ROOT, key.c_str(), 0, emptyClass,
                                      REG_OPTION_NON_VOLATILE, KEY_READ | KEY_WRITE, nullptr,
                                      handle.put(), &disposition));
  return handle;
}

// The short form of a path that holds a blank, when there is one within the
// classic path length; else the path itself.
template <class Char, class ShortPath>
std::basic_string<Char> WithoutBlanks(const std::basic_string<Char>& path, ShortPath shortPathOf) {
  if (path.find(Char(' ')) == std::basic_string<Char>::npos)
    return path;
  Char shortPath[MAX_PATH + 1];
  DWORD length = shortPathOf(path.c_str(), shortPath, MAX_PATH + 1);
  if (length == 0 || length > MAX_PATH)
    return path;
  return std::basic_string<Char>(shortPath, length);
}

} // namespace

std::string ClassIdToText(REFCLSID classId) {
  TCoTaskString text;
  CheckOleResult(StringFromCLSID(classId, text.put()));
  return ToAnsi(text.get());
}

void CreateClassesKey(const std::string& key, const std::string& valueName,
                      const std::string& value) {
  TRegKey handle = CreateKeyForValue(key);
  CheckRegistryResult(RegSetValueExA(handle.get(), valueName.c_str(), 0, REG_SZ,
                                     reinterpret_cast<const BYTE*>(value.c_str()),
                                     static_cast<DWORD>(value.size() + 1)));
}

void CreateClassesKey(const std::string& key, const std::string& valueName,
                      const std::wstring& value) {
  TRegKey handle = CreateKeyForValue(key);
  CheckRegistryResult(RegSetValueExW(handle.get(), FromAnsi(valueName).c_str(), 0, REG_SZ,
                                     reinterpret_cast<const BYTE*>(value.c_str()),
                                     static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t))));
}

void DeleteClassesKey(const std::string& key) {
  RegDeleteKeyA(HKEY_CLASSES_ROOT, key.c_str());
}

TModulePath RegisteredModulePath(const std::string& ansiPath, const std::wstring& widePath) {
  if (widePath.empty())
    throw EOleError(LoadModuleString(SCreateRegKeyError));
  if (FromAnsi(ansiPath) == widePath)
    return {WithoutBlanks(ansiPath, GetShortPathNameA), std::wstring()};
  if (widePath.size() < MAX_PATH)
    return {std::string(), WithoutBlanks(widePath, GetShortPathNameW)};
  // COM reads a server path into MAX_PATH characters: only a short form that
  // fits can be loaded.
  wchar_t shortPath[MAX_PATH];
  DWORD length = GetShortPathNameW(widePath.c_str(), shortPath, MAX_PATH);
  if (length == 0 || length >= MAX_PATH)
    throw EOleError(LoadModuleString(SCreateRegKeyError));
  return {std::string(), std::wstring(shortPath, length)};
}
