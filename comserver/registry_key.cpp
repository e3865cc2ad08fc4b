#include "registry_key.h"

#include "ansi_text.h"
#include "exceptions.h"

LONG TRegKey::Create(HKEY parent, const std::string& name, REGSAM access) {
  LONG result = RegCreateKeyExA(parent, name.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE, access,
                                nullptr, put(), nullptr);
  if (result != ERROR_SUCCESS)
    release(); // a failed call opened nothing to close
  return result;
}

LONG TRegKey::Open(HKEY parent, const std::string& name, REGSAM access) {
  LONG result = RegOpenKeyExA(parent, name.c_str(), 0, access, put());
  if (result != ERROR_SUCCESS)
    release();
  return result;
}

LONG TRegKey::SetString(const std::string& name, const std::string& value) const {
  return RegSetValueExA(get(), name.c_str(), 0, REG_SZ,
                        reinterpret_cast<const BYTE*>(value.c_str()),
                        static_cast<DWORD>(value.size() + 1));
}

LONG TRegKey::SetString(const std::string& name, const std::wstring& value) const {
  return RegSetValueExW(get(), FromAnsi(name).c_str(), 0, REG_SZ,
                        reinterpret_cast<const BYTE*>(value.c_str()),
                        static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
}

std::wstring TRegKey::ReadString(const std::string& name) const {
  const std::wstring wideName = FromAnsi(name);
  DWORD size = 0;
  if (RegQueryValueExW(get(), wideName.c_str(), nullptr, nullptr, nullptr, &size) !=
          ERROR_SUCCESS ||
      size == 0)
    return std::wstring();
  // An odd size leaves a last byte that is no whole character.
  std::wstring data(size / sizeof(wchar_t) + 1, L'\0');
  DWORD type = 0;
  if (RegQueryValueExW(get(), wideName.c_str(), nullptr, &type,
                       reinterpret_cast<BYTE*>(&data[0]), &size) != ERROR_SUCCESS)
    throw Exception("Failed to get data for '" + name + "'");
  if (type != REG_SZ && type != REG_EXPAND_SZ)
    throw Exception("Invalid data type for '" + name + "'");
  data.resize(size / sizeof(wchar_t));
  return data.substr(0, data.find(L'\0'));
}

LONG TRegKey::Delete(HKEY parent, const std::string& name) {
  return RegDeleteKeyA(parent, name.c_str());
}

bool TRegKey::IsEmpty(HKEY parent, const std::string& name) {
  TRegKey key;
  DWORD subkeys = 0;
  DWORD values = 0;
  return key.Open(parent, name, KEY_READ) == ERROR_SUCCESS &&
         RegQueryInfoKeyA(key.get(), nullptr, nullptr, nullptr, &subkeys, nullptr, nullptr, &values,
                          nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS &&
         subkeys == 0 && values == 0;
}
