// The registry calls the installers' custom code shares: UTF-16 names, a
// registry view where it matters, results that say only what the caller
// needs.
#pragma once

#include <windows.h>

#include <optional>
#include <string>

#include "unique_handle.h"

using TKey = TUniqueHandle<HKEY, nullptr, TRegCloseKey>;

// An open key, empty where it cannot be opened with the access.
TKey OpenKey(HKEY root, const std::wstring& path, REGSAM access);

// The key is there, readable or not.
bool KeyExists(HKEY root, const std::wstring& path, REGSAM view);

// A value is there under the name, of any type.
bool ValueExists(HKEY key, const std::wstring& name);

// The text of a REG_SZ or REG_EXPAND_SZ value as stored, up to its first
// NUL; nothing where the value is missing or no text.
std::optional<std::wstring> ReadText(HKEY key, const std::wstring& name);

// Copies a value as stored, its type and every byte; where the source has no
// such value, the target's goes. Either key may be empty (then nothing is
// read, or written).
void CopyValue(HKEY from, const std::wstring& fromName, HKEY to, const std::wstring& toName);

// The key has neither values nor subkeys; false where it is missing.
bool IsEmptyKey(HKEY root, const std::wstring& path, REGSAM view);

// The key holds a value but an empty default, or a key below it holds any
// value: what another program left there once ours went.
bool HoldsValues(HKEY root, const std::wstring& path, REGSAM view);
