// The generic registry entries of a COM class, as tables: registration writes
// them, the installers' checks walk them, and the Windows Installer packages'
// rows are made from them (installer/package). Portable: no Windows header,
// so that a build tool on any system can read the same tables.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// One value that registration writes below HKEY_CLASSES_ROOT: the key
// (created or opened), the value's name (empty: the default value) and its
// text.
struct TClassesEntry {
  std::string Key;
  std::string ValueName;
  std::string Data;
  std::wstring WideData = {}; // written instead of Data when set
};

// The key below a class key that names an in-process server's module.
inline constexpr char InprocServerKeyName[] = "InprocServer32";

enum TThreadingModel : uint8_t { tmSingle = 0, tmApartment = 1, tmFree = 2, tmBoth = 3 };

// What the generic entries of a registrable class are made of.
struct TClassNames {
  std::string ClassId; // the class identifier's text, in braces
  std::string ProgId;  // empty: no ProgID entries
  std::string Description;
  std::string ServerKeyName; // "InprocServer32"
  TThreadingModel ThreadingModel;
};

// The module path as the server key holds it: exactly one of the two is set.
struct TModulePath {
  std::string Ansi;
  std::wstring Wide;
};

// The generic entries of a class in the order registration writes them: the
// class key, its server key naming the module (and the threading model), and
// where there is a ProgID, its key, its Clsid and the class's ProgID key.
std::vector<TClassesEntry> ClassRegistrationEntries(const TClassNames& names,
                                                    const TModulePath& module);

// The keys of the entries, each once, deepest first: the order in which they
// can be deleted (a key with subkeys cannot be).
std::vector<std::string> DeletionOrder(const std::vector<TClassesEntry>& entries);

// The class keys (below "CLSID\") exist once per registry view; every other
// key of a class's entries both views share.
bool IsClassKey(const std::string& key);
