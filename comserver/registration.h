// Registry helpers below HKEY_CLASSES_ROOT and the class identifier text.
#pragma once

#include <windows.h>

#include <string>

#include "class_entries.h"

// "{241173B6-ABDF-4D59-8A15-476F7A327675}": 38 characters, upper-case digits.
// Raises EOleSysError when StringFromCLSID fails.
std::string ClassIdToText(REFCLSID classId);

// The access with which registration creates or opens each key.
constexpr REGSAM ClassesKeyAccess = KEY_READ | KEY_WRITE;

// Creates or opens the key and sets the value (empty name: the default value)
// to the text as REG_SZ. Raises EOleError "Error creating system registry
// entry" when either step fails.
void CreateClassesKey(const std::string& key, const std::string& valueName,
                      const std::string& value);

// The same with UTF-16 text, for a value the ANSI code page cannot hold.
void CreateClassesKey(const std::string& key, const std::string& valueName,
                      const std::wstring& value);

// The entry's key and value, through the UTF-16 call where WideData is set.
void CreateClassesKey(const TClassesEntry& entry);

// Deletes the key; the outcome is ignored.
void DeleteClassesKey(const std::string& key);
