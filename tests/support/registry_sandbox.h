// Redirects HKEY_CLASSES_ROOT and HKEY_LOCAL_MACHINE of the whole process
// (this executable and every DLL it loads) to scratch keys below
// HKEY_CURRENT_USER, so registration runs never touch the prefix's classes.
#pragma once

#include <windows.h>

#include <algorithm>
#include <optional>
#include <string>
#include <vector>

#include "registry_key.h"

enum class TClassesAccess { Writable, Unwritable };

class TRegistrySandbox {
public:
  // Unwritable: the classes root is a volatile key, below which the registry
  // refuses every non-volatile key (ERROR_CHILD_MUST_BE_VOLATILE), so each
  // CreateClassesKey that has to create a key fails. Wine grants key creation
  // below a key opened KEY_READ, so a read-only handle would not do.
  explicit TRegistrySandbox(TClassesAccess access = TClassesAccess::Writable);
  ~TRegistrySandbox();
  TRegistrySandbox(const TRegistrySandbox&) = delete;
  TRegistrySandbox& operator=(const TRegistrySandbox&) = delete;

private:
  void Remove();

  std::string FRoot; // below HKEY_CURRENT_USER
  TRegKey FClasses;
  TRegKey FMachine;
};

// One value of a tree, written "key|name|type|data" with REG_SZ data as text
// (marked "(no NUL)" when stored without its terminating zero)
// and other data as hexadecimal bytes; the default value's name is empty.
using TRegistryTree = std::vector<std::string>;

// Every key and value below root\path, sorted; a key without values appears
// as "key|" so that empty keys count too. Paths are relative to root\path.
TRegistryTree ReadTree(HKEY root, const std::string& path = std::string());

// The union of trees, sorted as ReadTree sorts.
template <class... Trees> TRegistryTree Sorted(TRegistryTree tree, const Trees&... more) {
  (tree.insert(tree.end(), more.begin(), more.end()), ...);
  std::sort(tree.begin(), tree.end());
  return tree;
}

// Test data: sets a value, creating the key.
void SetValue(HKEY root, const std::string& key, const std::string& name, DWORD type,
              const std::string& data);
void SetString(HKEY root, const std::string& key, const std::string& name, const std::string& data);
// The default value as UTF-16 text, for names the ANSI code page lacks.
void SetWideString(HKEY root, const std::string& key, const std::wstring& data);
// Creates a key that holds no value.
void CreateKey(HKEY root, const std::string& key);
// A key below which no non-volatile key can be created.
void CreateVolatileKey(HKEY root, const std::string& key);

// The REG_SZ data of a value; nothing when key or value are missing or the
// value is of another type.
std::optional<std::string> ReadString(HKEY root, const std::string& key,
                                      const std::string& name = std::string());
bool KeyExists(HKEY root, const std::string& key);
