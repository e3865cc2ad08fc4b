// The extension's class as registration names it, for the module and for
// what installs it (installer/checks, installer/package). Portable.
#pragma once

#include "class_entries.h"
#include "identity.h"

inline constexpr char TolvaneClassName[] = TOLVANE_CLASS_NAME;
inline constexpr char TolvaneDescription[] = TOLVANE_DESCRIPTION;
inline constexpr TThreadingModel TolvaneThreadingModel = tmApartment;

// The names of the class's generic entries as the installed module writes
// them: its ProgID is the module's base name, ".", the class name.
inline TClassNames InstalledClassNames() {
  return {TOLVANE_CLASS_ID, TOLVANE_MODULE_NAME "." TOLVANE_CLASS_NAME, TolvaneDescription,
          InprocServerKeyName, TolvaneThreadingModel};
}
