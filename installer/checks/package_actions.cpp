// The custom actions of the Windows Installer packages (installer/package):
// PlanPackage decides, with the module's own rules, what the package's
// registry rows hook and whether it may install at all; RemoveWavDefault
// takes back .wav's default value at the uninstall, while it is still ours,
// and RestoreWavDefault puts it back when that uninstall is rolled back.
#include <windows.h>

#include <msi.h>
#include <msiquery.h>

#include <string>
#include <vector>

#include "registration_checks.h"
#include "unique_handle.h"

namespace {

using TKey = TUniqueHandle<HKEY, nullptr, TRegCloseKey>;

// What the package records at install (its Record key, 64-bit view where
// there is one) for its uninstall, repair and the next upgrade.
const wchar_t* const RecordKey = L"Software\\Tolvane\\Package";
// The setup program's entry: the two never own one install.
const wchar_t* const SetupEntryKey =
    L"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Tolvane";
const wchar_t* const Created = L"created";
const wchar_t* const Existed = L"existed";

std::wstring Property(MSIHANDLE install, const wchar_t* name) {
  DWORD size = 0;
  wchar_t none[1] = L"";
  if (MsiGetPropertyW(install, name, none, &size) != ERROR_MORE_DATA)
    return std::wstring();
  std::vector<wchar_t> text(size + 1);
  size = static_cast<DWORD>(text.size());
  if (MsiGetPropertyW(install, name, text.data(), &size) != ERROR_SUCCESS)
    return std::wstring();
  return std::wstring(text.data(), size);
}

void SetProperty(MSIHANDLE install, const wchar_t* name, const std::wstring& value) {
  MsiSetPropertyW(install, name, value.c_str());
}

TKey OpenKey(HKEY root, const wchar_t* name, REGSAM access) {
  TKey key;
  if (RegOpenKeyExW(root, name, 0, access, key.put()) != ERROR_SUCCESS)
    key.reset();
  return key;
}

bool KeyExists(HKEY root, const std::wstring& name) {
  return static_cast<bool>(OpenKey(root, name.c_str(), KEY_READ | KEY_WOW64_64KEY));
}

// A text value as stored, empty when it is missing or not text.
std::wstring ReadText(HKEY key, const wchar_t* name) {
  DWORD type = 0;
  DWORD size = 0;
  if (!key || RegQueryValueExW(key, name, nullptr, &type, nullptr, &size) != ERROR_SUCCESS ||
      (type != REG_SZ && type != REG_EXPAND_SZ) || size == 0)
    return std::wstring();
  std::vector<wchar_t> text(size / sizeof(wchar_t) + 1);
  if (RegQueryValueExW(key, name, nullptr, &type, reinterpret_cast<BYTE*>(text.data()), &size) !=
      ERROR_SUCCESS)
    return std::wstring();
  return std::wstring(text.data());
}

// The record's WavDefault value: "TYPE|WAVKEY|TYPEKEY", where WAVKEY and
// TYPEKEY say whether the package created .wav's key and the type's key.
struct TWavRecord {
  std::wstring FileType;
  std::wstring WavKey;
  std::wstring TypeKey;
};

TWavRecord ParseWavRecord(const std::wstring& text) {
  TWavRecord record;
  const size_t first = text.find(L'|');
  const size_t second = first == std::wstring::npos ? first : text.find(L'|', first + 1);
  if (second == std::wstring::npos)
    return record;
  record.FileType = text.substr(0, first);
  record.WavKey = text.substr(first + 1, second - first - 1);
  record.TypeKey = text.substr(second + 1);
  return record;
}

std::wstring WavDefaultNow() {
  return ReadText(OpenKey(HKEY_CLASSES_ROOT, L".wav", KEY_READ).get(), L"");
}

// Whether the key holds a value anywhere in its tree: what another program
// left there after the package's own rows went.
bool HoldsValues(HKEY parent, const std::wstring& name) {
  TKey key = OpenKey(parent, name.c_str(), KEY_READ);
  if (!key)
    return false;
  DWORD subkeys = 0;
  DWORD values = 0;
  if (RegQueryInfoKeyW(key.get(), nullptr, nullptr, nullptr, &subkeys, nullptr, nullptr, &values,
                       nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
    return true;
  if (values != 0)
    return true;
  for (DWORD index = 0; index < subkeys; ++index) {
    wchar_t child[256];
    DWORD length = 256;
    if (RegEnumKeyExW(key.get(), index, child, &length, nullptr, nullptr, nullptr, nullptr) !=
            ERROR_SUCCESS ||
        HoldsValues(key.get(), child))
      return true;
  }
  return false;
}

bool IsEmptyKey(HKEY root, const wchar_t* name) {
  TKey key = OpenKey(root, name, KEY_READ);
  DWORD subkeys = 0;
  DWORD values = 0;
  return key &&
         RegQueryInfoKeyW(key.get(), nullptr, nullptr, nullptr, &subkeys, nullptr, nullptr, &values,
                          nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS &&
         subkeys == 0 && values == 0;
}

// The refusal where another installation owns Tolvane, or the package is not
// the one for this machine; empty where none.
std::wstring OwnershipRefusal(MSIHANDLE install) {
  const TKey entry = OpenKey(HKEY_LOCAL_MACHINE, SetupEntryKey, KEY_READ | KEY_WOW64_64KEY);
  if (entry) {
    std::wstring folder = ReadText(entry.get(), L"InstallLocation");
    return L"Tolvane is installed by its setup program" +
           (folder.empty() ? std::wstring() : L" in " + folder) +
           L". Remove that first (Apps and Features, or uninstall.exe in its folder), then "
           L"install this package again.";
  }
#if defined(__x86_64__)
  // A 64-bit Explorer on Windows on ARM loads ARM64 modules only.
  using TIsWow64Process2 = BOOL(WINAPI*)(HANDLE, USHORT*, USHORT*);
  const auto isWow64Process2 = reinterpret_cast<TIsWow64Process2>(reinterpret_cast<void*>(
      GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "IsWow64Process2")));
  USHORT process = 0;
  USHORT native = 0;
  if (isWow64Process2 && isWow64Process2(GetCurrentProcess(), &process, &native) &&
      native == IMAGE_FILE_MACHINE_ARM64)
    return L"This package is for x64 Windows. On Windows on ARM install tolvane-" +
           Property(install, L"TOLVANE_VERSION") + L"-arm64.msi.";
#else
  (void)install;
#endif
  return std::wstring();
}

} // namespace

// Immediate, before costing: sets TOLVANE_FILETYPE (the type whose key gets
// the handler), TOLVANE_APPROVAL and TOLVANE_APPROVAL32 ("1" where the
// approval of the package's own view, and of the 32-bit view, can be
// written), TOLVANE_WAV_DEFAULT ("1" where the package writes .wav's
// default value) with TOLVANE_WAV_KEY and TOLVANE_TYPE_KEY (what it creates
// there), TOLVANE_RECORDED_WAV_DEFAULT (the record an installed package
// left) and TOLVANE_REFUSAL (why the package must not install; empty where
// it may). An installed package keeps the type it recorded: its uninstall and
// repair work on the keys it wrote, whatever .wav names now.
extern "C" UINT __stdcall PlanPackage(MSIHANDLE install) noexcept {
  try {
    const TKey record = OpenKey(HKEY_LOCAL_MACHINE, RecordKey, KEY_READ | KEY_WOW64_64KEY);
    const std::wstring recordedType = ReadText(record.get(), L"FileType");
    const std::wstring recordedWav = ReadText(record.get(), L"WavDefault");
    SetProperty(install, L"TOLVANE_RECORDED_WAV_DEFAULT", recordedWav);
    if (!Property(install, L"Installed").empty() && !recordedType.empty()) {
      SetProperty(install, L"TOLVANE_FILETYPE", recordedType);
      // The components' condition holds for as long as they are installed,
      // and a repair writes the record again as it was.
      // (The 32-bit approval's component records it in the 32-bit view.)
      SetProperty(install, L"TOLVANE_APPROVAL", ReadText(record.get(), L"Approval"));
      const TKey record32 = OpenKey(HKEY_LOCAL_MACHINE, RecordKey, KEY_READ | KEY_WOW64_32KEY);
      SetProperty(install, L"TOLVANE_APPROVAL32", ReadText(record32.get(), L"Approval"));
      if (!recordedWav.empty()) {
        const TWavRecord recorded = ParseWavRecord(recordedWav);
        SetProperty(install, L"TOLVANE_WAV_DEFAULT", L"1");
        SetProperty(install, L"TOLVANE_WAV_KEY", recorded.WavKey);
        SetProperty(install, L"TOLVANE_TYPE_KEY", recorded.TypeKey);
      }
      return ERROR_SUCCESS;
    }
    const TRegistrationPlan plan = PlanRegistration();
    SetProperty(install, L"TOLVANE_FILETYPE", plan.FileType);
    // The approval of each view, only where the module would write it.
    const auto approves = [&](const wchar_t* view) {
      for (const std::wstring& name : plan.ApprovalViews)
        if (name == view)
          return L"1";
      return L"";
    };
#ifdef _WIN64
    SetProperty(install, L"TOLVANE_APPROVAL", approves(L"64"));
#else
    SetProperty(install, L"TOLVANE_APPROVAL", approves(L"32"));
#endif
    SetProperty(install, L"TOLVANE_APPROVAL32", approves(L"32"));
    const TWavRecord earlier = ParseWavRecord(recordedWav);
    if (plan.SetsWavDefault) {
      SetProperty(install, L"TOLVANE_WAV_DEFAULT", L"1");
      SetProperty(install, L"TOLVANE_WAV_KEY",
                  KeyExists(HKEY_CLASSES_ROOT, L".wav") ? Existed : Created);
      SetProperty(install, L"TOLVANE_TYPE_KEY",
                  KeyExists(HKEY_CLASSES_ROOT, plan.FileType) ? Existed : Created);
    } else if (!earlier.FileType.empty() && earlier.FileType == plan.FileType &&
               WavDefaultNow() == earlier.FileType) {
      // An earlier package set .wav's value, and an upgrade takes it over.
      SetProperty(install, L"TOLVANE_WAV_DEFAULT", L"1");
      SetProperty(install, L"TOLVANE_WAV_KEY", earlier.WavKey);
      SetProperty(install, L"TOLVANE_TYPE_KEY", earlier.TypeKey);
    }
    std::wstring refusal = OwnershipRefusal(install);
    if (refusal.empty())
      refusal = plan.Refusal;
    SetProperty(install, L"TOLVANE_REFUSAL", refusal);
    return ERROR_SUCCESS;
  } catch (...) {
    return ERROR_INSTALL_FAILURE;
  }
}

namespace {

// Runs a deferred action on the record of .wav's value in CustomActionData
// (the record's WavDefault value). Nothing it meets fails the uninstall or
// its rollback.
template <class Action> UINT OnRecordedWavDefault(MSIHANDLE install, Action action) noexcept {
  try {
    const TWavRecord record = ParseWavRecord(Property(install, L"CustomActionData"));
    if (!record.FileType.empty())
      action(record);
  } catch (...) {
  }
  return ERROR_SUCCESS;
}

// .wav's default value goes only while it names the type the package wrote
// and that type holds nothing of another program; the keys the package
// created go when they are left empty.
void TakeBackWavDefault(const TWavRecord& record) {
  if (WavDefaultNow() != record.FileType || HoldsValues(HKEY_CLASSES_ROOT, record.FileType))
    return;
  {
    const TKey wav = OpenKey(HKEY_CLASSES_ROOT, L".wav", KEY_SET_VALUE);
    if (!wav || RegDeleteValueW(wav.get(), nullptr) != ERROR_SUCCESS)
      return;
  }
  if (record.WavKey == Created && IsEmptyKey(HKEY_CLASSES_ROOT, L".wav"))
    RegDeleteKeyW(HKEY_CLASSES_ROOT, L".wav");
  if (record.TypeKey == Created)
    RegDeleteTreeW(HKEY_CLASSES_ROOT, record.FileType.c_str());
}

// .wav names the type the package wrote again, unless something else has
// been named there since.
void PutBackWavDefault(const TWavRecord& record) {
  if (!WavDefaultNow().empty())
    return;
  TKey wav;
  if (RegCreateKeyExW(HKEY_CLASSES_ROOT, L".wav", 0, nullptr, REG_OPTION_NON_VOLATILE,
                      KEY_SET_VALUE, nullptr, wav.put(), nullptr) == ERROR_SUCCESS)
    RegSetValueExW(wav.get(), nullptr, 0, REG_SZ,
                   reinterpret_cast<const BYTE*>(record.FileType.c_str()),
                   static_cast<DWORD>((record.FileType.size() + 1) * sizeof(wchar_t)));
}

} // namespace

// Deferred, after the package's registry rows are gone, at an uninstall that
// is no upgrade.
extern "C" UINT __stdcall RemoveWavDefault(MSIHANDLE install) noexcept {
  return OnRecordedWavDefault(install, TakeBackWavDefault);
}

// Rollback of RemoveWavDefault (same CustomActionData), where the uninstall
// fails after it.
extern "C" UINT __stdcall RestoreWavDefault(MSIHANDLE install) noexcept {
  return OnRecordedWavDefault(install, PutBackWavDefault);
}
