#include "registry_sandbox.h"

#include <algorithm>
#include <cstdio>
#include <stdexcept>

namespace {

const char* const SandboxParent = "Software\\Tolvane tests";

void Check(LONG result, const char* what) {
  if (result != ERROR_SUCCESS)
    throw std::runtime_error(std::string(what) + " failed: " + std::to_string(result));
}

TRegKey CreateScratchKey(const std::string& path, DWORD options) {
  TRegKey key;
  Check(RegCreateKeyExA(HKEY_CURRENT_USER, path.c_str(), 0, nullptr, options, KEY_ALL_ACCESS,
                        nullptr, key.put(), nullptr),
        "RegCreateKeyExA");
  return key;
}

std::string Join(const std::string& path, const std::string& name) {
  return path.empty() ? name : path + "\\" + name;
}

std::string Hex(const std::vector<BYTE>& data) {
  std::string text;
  char digits[3];
  for (BYTE b : data) {
    std::snprintf(digits, sizeof digits, "%02x", b);
    text += digits;
  }
  return text;
}

void ReadKey(HKEY key, const std::string& path, TRegistryTree& tree) {
  DWORD valueCount = 0;
  Check(RegQueryInfoKeyA(key, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &valueCount,
                         nullptr, nullptr, nullptr, nullptr),
        "RegQueryInfoKeyA");
  if (valueCount == 0 && !path.empty())
    tree.push_back(path + "|");
  for (DWORD i = 0;; ++i) {
    char name[16384];
    DWORD nameSize = sizeof name;
    DWORD type = 0;
    std::vector<BYTE> data(65536);
    DWORD dataSize = static_cast<DWORD>(data.size());
    LONG result = RegEnumValueA(key, i, name, &nameSize, nullptr, &type, data.data(), &dataSize);
    if (result == ERROR_NO_MORE_ITEMS)
      break;
    Check(result, "RegEnumValueA");
    data.resize(dataSize);
    std::string text = type == REG_SZ ? std::string(data.begin(), data.end()) : Hex(data);
    // A string stored without its terminating zero shows as such.
    if (type == REG_SZ && (text.empty() || text.back() != '\0'))
      text += "(no NUL)";
    else if (type == REG_SZ)
      text.pop_back();
    tree.push_back(path + "|" + std::string(name, nameSize) + "|" + std::to_string(type) + "|" +
                   text);
  }
  for (DWORD i = 0;; ++i) {
    char name[256];
    DWORD nameSize = sizeof name;
    LONG result = RegEnumKeyExA(key, i, name, &nameSize, nullptr, nullptr, nullptr, nullptr);
    if (result == ERROR_NO_MORE_ITEMS)
      break;
    Check(result, "RegEnumKeyExA");
    TRegKey subkey;
    Check(RegOpenKeyExA(key, name, 0, KEY_READ, subkey.put()), "RegOpenKeyExA");
    ReadKey(subkey.get(), Join(path, name), tree);
  }
}

} // namespace

TRegistrySandbox::TRegistrySandbox(TClassesAccess access) {
  static LONG counter = 0;
  FRoot = std::string(SandboxParent) + "\\" + std::to_string(GetCurrentProcessId()) + "-" +
          std::to_string(InterlockedIncrement(&counter));
  // A test killed at its time-out leaves its sandbox, and process IDs come
  // round again: what a name holds already is no one's any more.
  RegDeleteTreeA(HKEY_CURRENT_USER, FRoot.c_str());
  // The root first: a volatile key would make the missing keys above it
  // volatile too, and then nothing non-volatile could be created beside it.
  CreateScratchKey(FRoot, REG_OPTION_NON_VOLATILE);
  try {
    FClasses = CreateScratchKey(FRoot + "\\Classes", access == TClassesAccess::Unwritable
                                                         ? REG_OPTION_VOLATILE
                                                         : REG_OPTION_NON_VOLATILE);
    FMachine = CreateScratchKey(FRoot + "\\Machine", REG_OPTION_NON_VOLATILE);
    Check(RegOverridePredefKey(HKEY_CLASSES_ROOT, FClasses.get()), "RegOverridePredefKey");
    Check(RegOverridePredefKey(HKEY_LOCAL_MACHINE, FMachine.get()), "RegOverridePredefKey");
  } catch (...) {
    Remove();
    throw;
  }
}

void TRegistrySandbox::Remove() {
  RegOverridePredefKey(HKEY_CLASSES_ROOT, nullptr);
  RegOverridePredefKey(HKEY_LOCAL_MACHINE, nullptr);
  FClasses.reset();
  FMachine.reset();
  RegDeleteTreeA(HKEY_CURRENT_USER, FRoot.c_str());
  // The parent goes when no other sandbox is left in it.
  RegDeleteKeyA(HKEY_CURRENT_USER, SandboxParent);
}

TRegistrySandbox::~TRegistrySandbox() {
  Remove();
}

TRegistryTree ReadTree(HKEY root, const std::string& path) {
  TRegKey key;
  TRegistryTree tree;
  if (RegOpenKeyExA(root, path.c_str(), 0, KEY_READ, key.put()) != ERROR_SUCCESS)
    return tree;
  ReadKey(key.get(), std::string(), tree);
  std::sort(tree.begin(), tree.end());
  return tree;
}

void SetValue(HKEY root, const std::string& key, const std::string& name, DWORD type,
              const std::string& data) {
  TRegKey handle;
  Check(RegCreateKeyExA(root, key.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS,
                        nullptr, handle.put(), nullptr),
        "RegCreateKeyExA");
  Check(RegSetValueExA(handle.get(), name.c_str(), 0, type,
                       reinterpret_cast<const BYTE*>(data.data()), static_cast<DWORD>(data.size())),
        "RegSetValueExA");
}

void SetString(HKEY root, const std::string& key, const std::string& name,
               const std::string& data) {
  SetValue(root, key, name, REG_SZ, std::string(data.c_str(), data.size() + 1));
}

void SetWideString(HKEY root, const std::string& key, const std::wstring& data) {
  TRegKey handle;
  Check(RegCreateKeyExA(root, key.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS,
                        nullptr, handle.put(), nullptr),
        "RegCreateKeyExA");
  Check(RegSetValueExW(handle.get(), nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(data.c_str()),
                       static_cast<DWORD>((data.size() + 1) * sizeof(wchar_t))),
        "RegSetValueExW");
}

void CreateKey(HKEY root, const std::string& key) {
  TRegKey handle;
  Check(RegCreateKeyExA(root, key.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS,
                        nullptr, handle.put(), nullptr),
        "RegCreateKeyExA");
}

void CreateVolatileKey(HKEY root, const std::string& key) {
  TRegKey handle;
  Check(RegCreateKeyExA(root, key.c_str(), 0, nullptr, REG_OPTION_VOLATILE, KEY_ALL_ACCESS, nullptr,
                        handle.put(), nullptr),
        "RegCreateKeyExA");
}

std::optional<std::string> ReadString(HKEY root, const std::string& key, const std::string& name) {
  TRegKey handle;
  if (RegOpenKeyExA(root, key.c_str(), 0, KEY_READ, handle.put()) != ERROR_SUCCESS)
    return std::nullopt;
  char data[1024];
  DWORD size = sizeof data;
  DWORD type = 0;
  if (RegQueryValueExA(handle.get(), name.c_str(), nullptr, &type, reinterpret_cast<BYTE*>(data),
                       &size) != ERROR_SUCCESS ||
      type != REG_SZ)
    return std::nullopt;
  std::string text(data, size);
  if (!text.empty() && text.back() == '\0')
    text.pop_back();
  return text;
}

bool KeyExists(HKEY root, const std::string& key) {
  TRegKey handle;
  return RegOpenKeyExA(root, key.c_str(), 0, KEY_READ, handle.put()) == ERROR_SUCCESS;
}
