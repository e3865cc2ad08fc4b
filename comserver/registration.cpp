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
  CheckRegistryResult(handle.Create(HKEY_CLASSES_ROOT, key, KEY_READ | KEY_WRITE));
  return handle;
}

// The short form of a path, when there is one of at most `longest`
// characters; else nothing.
template <class Char, class ShortPath>
std::basic_string<Char> ShortForm(const std::basic_string<Char>& path, ShortPath shortPathOf,
                                  DWORD longest) {
  Char shortPath[MAX_PATH + 1];
  DWORD length = shortPathOf(path.c_str(), shortPath, longest + 1);
  if (length == 0 || length > longest)
    return {};
  return std::basic_string<Char>(shortPath, length);
}

// The short form of a path that holds a blank, when there is one within the
// classic path length; else the path itself.
template <class Char, class ShortPath>
std::basic_string<Char> WithoutBlanks(const std::basic_string<Char>& path, ShortPath shortPathOf) {
  if (path.find(Char(' ')) == std::basic_string<Char>::npos)
    return path;
  std::basic_string<Char> shortPath = ShortForm(path, shortPathOf, MAX_PATH);
  return shortPath.empty() ? path : shortPath;
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

void DeleteClassesKey(const std::string& key) {
  TRegKey::Delete(HKEY_CLASSES_ROOT, key);
}

TModulePath RegisteredModulePath(const std::string& ansiPath, const std::wstring& widePath) {
  if (widePath.empty())
    throw EOleError(LoadModuleString(SCreateRegKeyError));
  if (widePath.size() >= MAX_PATH) {
    // COM reads a server path into MAX_PATH characters: only a short form that
    // fits can be loaded, whether or not the ANSI path names the module. The
    // UTF-16 call: the ANSI one may refuse a path that long.
    std::wstring shortPath = ShortForm(widePath, GetShortPathNameW, MAX_PATH - 1);
    if (shortPath.empty())
      throw EOleError(LoadModuleString(SCreateRegKeyError));
    return {std::string(), shortPath};
  }
  if (FromAnsi(ansiPath) == widePath)
    return {WithoutBlanks(ansiPath, GetShortPathNameA), std::wstring()};
  return {std::string(), WithoutBlanks(widePath, GetShortPathNameW)};
}
