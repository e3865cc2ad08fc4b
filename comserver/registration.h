// Registry helpers below HKEY_CLASSES_ROOT and the class identifier text.
#pragma once

#include <windows.h>

#include <string>

// "{241173B6-ABDF-4D59-8A15-476F7A327675}": 38 characters, upper-case digits.
// Raises EOleSysError when StringFromCLSID fails.
std::string ClassIdToText(REFCLSID classId);

// Creates or opens the key and sets the value (empty name: the default value)
// to the text as REG_SZ. Raises EOleError "Error creating system registry
// entry" when either step fails.
void CreateClassesKey(const std::string& key, const std::string& valueName,
                      const std::string& value);

// The same with UTF-16 text, for a value the ANSI code page cannot hold.
void CreateClassesKey(const std::string& key, const std::string& valueName,
                      const std::wstring& value);

// Deletes the key; the outcome is ignored.
void DeleteClassesKey(const std::string& key);

// The module path as the server key holds it: exactly one of the two is set.
struct TModulePath {
  std::string Ansi;
  std::wstring Wide;
};

// The ANSI path when it names the module exactly, else the UTF-16 one (a
// character outside the ANSI code page, or an ANSI path cut short); in either
// form the short form when the path holds a blank and a short form can be
// had. A path too long for COM to load (MAX_PATH characters or more) becomes
// its UTF-16 short form, whether or not the ANSI path names the module. Raises
// EOleError when no form names the module: no UTF-16 path, or one too long
// without a short form that fits.
TModulePath RegisteredModulePath(const std::string& ansiPath, const std::wstring& widePath);
