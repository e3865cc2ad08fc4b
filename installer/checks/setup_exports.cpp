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

// text = the file type the module hooks ("" where it cannot be had); 1 when
// registration sets .wav's default value to it, else 0.
extern "C" int WINAPI ModuleFileType(LPWSTR text, int size) noexcept {
  try {
    const TRegistrationPlan plan = PlanRegistration();
    CopyOut(plan.FileType, text, size);
    return plan.SetsWavDefault ? 1 : 0;
  } catch (...) {
    CopyOut(L"", 0, text, size);
    return 0;
  }
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
