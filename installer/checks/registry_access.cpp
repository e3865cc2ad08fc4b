#include "registry_access.h"

#include <vector>

TKey OpenKey(HKEY root, const std::wstring& path, REGSAM access) {
  TKey key;
  if (RegOpenKeyExW(root, path.c_str(), 0, access, key.put()) != ERROR_SUCCESS)
    key.release(); // a failed call opened nothing to close
  return key;
}

bool KeyExists(HKEY root, const std::wstring& path, REGSAM view) {
  TKey key;
  const LONG result = RegOpenKeyExW(root, path.c_str(), 0, KEY_READ | view, key.put());
  if (result != ERROR_SUCCESS)
    key.release();
  return result != ERROR_FILE_NOT_FOUND;
}

bool ValueExists(HKEY key, const std::wstring& name) {
  return key && RegQueryValueExW(key, name.c_str(), nullptr, nullptr, nullptr, nullptr) !=
                    ERROR_FILE_NOT_FOUND;
}

std::optional<std::wstring> ReadText(HKEY key, const std::wstring& name) {
  DWORD type = 0;
  DWORD size = 0;
  if (!key ||
      RegQueryValueExW(key, name.c_str(), nullptr, &type, nullptr, &size) != ERROR_SUCCESS ||
      (type != REG_SZ && type != REG_EXPAND_SZ))
    return std::nullopt;
  std::vector<wchar_t> text(size / sizeof(wchar_t) + 1);
  if (RegQueryValueExW(key, name.c_str(), nullptr, &type, reinterpret_cast<BYTE*>(text.data()),
                       &size) != ERROR_SUCCESS)
    return std::nullopt;
  return std::wstring(text.data());
}

void CopyValue(HKEY from, const std::wstring& fromName, HKEY to, const std::wstring& toName) {
  if (!to)
    return;
  DWORD type = 0;
  DWORD size = 0;
  if (!from ||
      RegQueryValueExW(from, fromName.c_str(), nullptr, &type, nullptr, &size) != ERROR_SUCCESS) {
    RegDeleteValueW(to, toName.c_str());
    return;
  }
  std::vector<BYTE> data(size + 1);
  if (RegQueryValueExW(from, fromName.c_str(), nullptr, &type, data.data(), &size) == ERROR_SUCCESS)
    RegSetValueExW(to, toName.c_str(), 0, type, data.data(), size);
}

namespace {

bool Counts(HKEY key, DWORD& subkeys, DWORD& values) {
  return RegQueryInfoKeyW(key, nullptr, nullptr, nullptr, &subkeys, nullptr, nullptr, &values,
                          nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS;
}

bool HoldsValuesBelow(HKEY key, bool emptyDefaultCounts = true) {
  DWORD subkeys = 0;
  DWORD values = 0;
  if (!Counts(key, subkeys, values))
    return true;
  if (values > 1 || (values == 1 && (emptyDefaultCounts || ReadText(key, L"") != L"")))
    return true;
  for (DWORD index = 0; index < subkeys; ++index) {
    wchar_t name[256];
    DWORD length = 256;
    if (RegEnumKeyExW(key, index, name, &length, nullptr, nullptr, nullptr, nullptr) !=
        ERROR_SUCCESS)
      return true;
    TKey child;
    if (RegOpenKeyExW(key, name, 0, KEY_READ, child.put()) != ERROR_SUCCESS) {
      child.release();
      return true;
    }
    if (HoldsValuesBelow(child.get()))
      return true;
  }
  return false;
}

} // namespace

bool IsEmptyKey(HKEY root, const std::wstring& path, REGSAM view) {
  const TKey key = OpenKey(root, path, KEY_READ | view);
  DWORD subkeys = 0;
  DWORD values = 0;
  return key && Counts(key.get(), subkeys, values) && subkeys == 0 && values == 0;
}

bool HoldsValues(HKEY root, const std::wstring& path, REGSAM view) {
  const TKey key = OpenKey(root, path, KEY_READ | view);
  return key && HoldsValuesBelow(key.get(), false);
}
