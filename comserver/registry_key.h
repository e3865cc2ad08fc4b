// An owned registry key and the registry operations of the frame and the
// extension. Names and ANSI text go through the ANSI calls; values are read
// as stored.
#pragma once

#include <windows.h>

#include <string>

#include "unique_handle.h"

class TRegKey : public TUniqueHandle<HKEY, nullptr, TRegCloseKey> {
public:
  using TUniqueHandle::TUniqueHandle;

  // Create opens parent\name or creates it (non-volatile), Open only opens it,
  // with the access asked for. They give the registry's result; on failure
  // the key is empty.
  LONG Create(HKEY parent, const std::string& name, REGSAM access);
  LONG Open(HKEY parent, const std::string& name, REGSAM access);

  // Sets a value (empty name: the default value) to the text as REG_SZ, its
  // terminating zero included; the registry's result.
  LONG SetString(const std::string& name, const std::string& value) const;
  // The same through the UTF-16 call, for text the ANSI code page cannot hold.
  LONG SetString(const std::string& name, const std::wstring& value) const;

  // The text of a value as stored (UTF-16, through the UTF-16 call), up to its
  // first NUL; empty when the value is absent or empty. REG_EXPAND_SZ is taken
  // as stored. Raises Exception "Failed to get data for '<name>'" when the
  // data cannot be read and "Invalid data type for '<name>'" when it is not a
  // string.
  std::wstring ReadString(const std::string& name) const;

  // Deletes parent\name, which must have no subkeys; the registry's result.
  static LONG Delete(HKEY parent, const std::string& name);

  // parent\name exists and holds neither values nor subkeys.
  static bool IsEmpty(HKEY parent, const std::string& name);
};
