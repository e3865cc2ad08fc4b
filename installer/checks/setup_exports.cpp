// The exports the setup program calls (NSIS's System plug-in): stdcall,
// UTF-16, each writing its text into the caller's buffer of `size`
// characters, cut to fit and always terminated. No exception leaves them, and
// they show nothing: setup says what is wrong in its own words.
#include <windows.h>
#include <msi.h>

#include <algorithm>
#include <cwchar>
#include <iterator>
#include <string>

#include "package_identity.h"
#include "registration_checks.h"
#include "setup_lock.h"
#include "setup_record.h"

namespace {

void CopyOut(const wchar_t* text, size_t length, LPWSTR out, int size) noexcept {
  if (!out || size <= 0)
    return;
  length = std::min(length, size_t(size) - 1);
  std::copy_n(text, length, out);
  out[length] = L'\0';
}

void CopyOut(const std::wstring& text, LPWSTR out, int size) noexcept {
  CopyOut(text.data(), text.size(), out, size);
}

} // namespace

// text = why registration cannot do its work, or ""; 1 when refused, else 0.
extern "C" int WINAPI CheckRegistration(LPWSTR text, int size) noexcept {
  try {
    const TRegistrationPlan plan = PlanRegistration();
    CopyOut(plan.Refusal, text, size);
    return plan.Refusal.empty() ? 0 : 1;
  } catch (...) {
    const wchar_t failure[] = L"Setup could not check the registry: out of memory.";
    CopyOut(failure, std::size(failure) - 1, text, size);
    return 1;
  }
}

// Before the modules are registered: adds to the record in the Programs and
// Features entry's key what their registration is about to create. text =
// "" and 1 when it is recorded, else why not and 0.
extern "C" int WINAPI RecordCreations(LPWSTR text, int size) noexcept {
  try {
    const LONG result = RecordRegistration(PlanRegistration());
    if (result == ERROR_SUCCESS) {
      CopyOut(L"", 0, text, size);
      return 1;
    }
    CopyOut(L"Setup cannot write its record in the registry (error " + std::to_wstring(result) +
                L").",
            text, size);
  } catch (...) {
    const wchar_t failure[] = L"Setup could not write its record: out of memory.";
    CopyOut(failure, std::size(failure) - 1, text, size);
  }
  return 0;
}

// The uninstall and a failed setup's roll-back, once the modules are
// unregistered and while the entry's key is there: removes what the record
// names where nothing else uses it. Always 1; text = "".
extern "C" int WINAPI RemoveCreations(LPWSTR text, int size) noexcept {
  try {
    RemoveRecorded();
  } catch (...) {
    // What could not be removed stays, as when another program uses it.
  }
  CopyOut(L"", 0, text, size);
  return 1;
}

// productCode = the product code of an installed Windows Installer package
// of Tolvane, and 1; else "" and 0.
extern "C" int WINAPI InstalledPackage(LPWSTR productCode, int size) noexcept {
  wchar_t found[39] = {}; // a GUID in braces and its NUL
  if (MsiEnumRelatedProductsW(TOLVANE_UPGRADE_CODE, 0, 0, found) != ERROR_SUCCESS) {
    CopyOut(L"", 0, productCode, size);
    return 0;
  }
  CopyOut(found, wcslen(found), productCode, size);
  return 1;
}

// The lock of one installation of Tolvane at a time (setup_lock.h), held
// until the process ends: 1 when held, 0 when another setup or uninstall
// held it past waitMs, 2 when someone else made it or a package's
// installation runs (text says so).
extern "C" int WINAPI HoldSetupLock(LPWSTR text, int size, int waitMs) noexcept {
  CopyOut(L"", 0, text, size);
  switch (TakeSetupLock(static_cast<DWORD>(waitMs))) {
  case TLockResult::Held:
    return 1;
  case TLockResult::Busy:
    return 0;
  case TLockResult::Package:
    CopyOut(L"An installation of Tolvane's Windows Installer package is running. Nothing was "
            L"changed; try again when it has finished.",
            text, size);
    return 2;
  default:
    CopyOut(L"Another program made a lock of Tolvane's installations (Global\\Tolvane.Setup or "
            L"Global\\Tolvane.Package), which no installation made. Nothing was changed; end that "
            L"program, or restart Windows, then try again.",
            text, size);
    return 2;
  }
}
