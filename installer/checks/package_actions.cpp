// The custom actions of the Windows Installer packages (installer/package).
//
// PlanPackage (immediate, before costing, in the UI and the execute
// sequence) decides from data alone what the package's rows hook and
// whether it may install at all, with the module's own rules on the
// machine's classes (HKEY_LOCAL_MACHINE\Software\Classes: a per-machine
// package writes there, and HKEY_CLASSES_ROOT would show the installing
// user's own classes over them). It asks nothing about access: it runs with
// the installing user's token, unelevated under UAC, while the installer
// service writes. Each of its outputs is a private property it sets on every
// path, so that none can be given on the command line.
//
// The approval is written where the module would write it, by a deferred
// action that runs as the installer service (WriteApprovals); it is taken
// back at the uninstall where the package made it (TakeBackMachineEntries),
// together with .wav's default value, which goes back to what it was while it
// still names the type the package set. Each has a rollback action.
#include <windows.h>

#include <msi.h>
#include <msiquery.h>
#include <shlobj.h>

#include <string>
#include <vector>

#include "ansi_text.h"
#include "exceptions.h"
#include "identity.h"
#include "registration_checks.h"
#include "registry_access.h"
#include "setup_lock.h"
#include "setup_record.h"
#include "shell_registration.h"

namespace {

// The package's record of what it hooked, which its uninstall, repair and
// the next upgrade read (in the 64-bit view where there is one; Approval in
// each view).
const wchar_t* const RecordKey = L"Software\\Tolvane\\Package";
const wchar_t* const RecordParent = L"Software\\Tolvane";
const wchar_t* const Created = L"created";
const wchar_t* const Existed = L"existed";
// .wav had no default value before the package set it.
const wchar_t* const NoValue = L"none";

#ifdef _WIN64
const REGSAM MachineView = KEY_WOW64_64KEY;
#else
const REGSAM MachineView = 0;
#endif

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

std::wstring TextOf(HKEY key, const wchar_t* name) {
  return ReadText(key, name).value_or(std::wstring());
}

TKey MachineClasses() {
  return OpenKey(HKEY_LOCAL_MACHINE, L"Software\\Classes", KEY_READ | MachineView);
}

// The registry views the package's modules write their classes in, each with
// its record key: the 64-bit one and the 32-bit one where there are two.
std::vector<TRegistryView> PackageViews() {
#ifdef _WIN64
  return RegistryViews();
#else
  return {{0, L"32"}};
#endif
}

// .wav's default value as stored, as text: "TYPE:HEX" of its registry type
// and bytes, or NoValue.
std::wstring EncodedValue(HKEY key) {
  DWORD type = 0;
  DWORD size = 0;
  if (!key || RegQueryValueExW(key, L"", nullptr, &type, nullptr, &size) != ERROR_SUCCESS)
    return NoValue;
  std::vector<BYTE> data(size + 1);
  if (RegQueryValueExW(key, L"", nullptr, &type, data.data(), &size) != ERROR_SUCCESS)
    return NoValue;
  std::wstring text = std::to_wstring(type) + L":";
  const wchar_t digits[] = L"0123456789ABCDEF";
  for (DWORD i = 0; i < size; ++i) {
    text += digits[data[i] >> 4];
    text += digits[data[i] & 15];
  }
  return text;
}

// Sets .wav's default value to what EncodedValue gave, or deletes it.
void SetEncodedValue(HKEY key, const std::wstring& encoded) {
  const size_t colon = encoded.find(L':');
  if (colon == std::wstring::npos) {
    RegDeleteValueW(key, L"");
    return;
  }
  std::vector<BYTE> data;
  for (size_t i = colon + 1; i + 1 < encoded.size(); i += 2)
    data.push_back(static_cast<BYTE>(std::stoul(encoded.substr(i, 2), nullptr, 16)));
  RegSetValueExW(key, L"", 0, std::stoul(encoded.substr(0, colon)), data.data(),
                 static_cast<DWORD>(data.size()));
}

// The record's WavDefault value, "TYPE|WAVKEY|TYPEKEY": the type the package
// named in .wav, and whether it created .wav's key and the type's key.
struct TWavRecord {
  std::wstring FileType;
  std::wstring WavKey;
  std::wstring TypeKey;
};

// From the right: the type's name may hold "|".
TWavRecord ParseWavRecord(const std::wstring& text) {
  const size_t second = text.rfind(L'|');
  const size_t first = second == std::wstring::npos || second == 0 ? std::wstring::npos
                                                                   : text.rfind(L'|', second - 1);
  if (first == std::wstring::npos)
    return TWavRecord();
  return {text.substr(0, first), text.substr(first + 1, second - first - 1),
          text.substr(second + 1)};
}

std::wstring RecordText(const TWavRecord& record) {
  return record.FileType + L"|" + record.WavKey + L"|" + record.TypeKey;
}

// The views whose record says the package made the approval there, "64 32".
std::wstring RecordedApprovals() {
  std::wstring views;
  for (const TRegistryView& view : PackageViews()) {
    const TKey record = OpenKey(HKEY_LOCAL_MACHINE, RecordKey, KEY_READ | view.Flag);
    if (TextOf(record.get(), L"Approval") == L"1")
      views += (views.empty() ? L"" : L" ") + std::wstring(view.Name);
  }
  return views;
}

bool Lists(const std::wstring& views, const wchar_t* view) {
  return (L" " + views + L" ").find(L" " + std::wstring(view) + L" ") != std::wstring::npos;
}

// The refusal where another installation owns Tolvane, or the package is not
// the one for this machine; empty where none.
std::wstring OwnershipRefusal(MSIHANDLE install) {
  const TKey entry = OpenKey(HKEY_LOCAL_MACHINE, SetupEntryKey, KEY_READ | MachineView);
  if (entry) {
    const std::wstring folder = TextOf(entry.get(), L"InstallLocation");
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

// What PlanPackage decides, each output a private property.
struct TPackagePlan {
  std::wstring Refusal;
  std::wstring FileType;
  // The package writes .wav's default value (its WavDefault component).
  bool WritesWavDefault = false;
  // The record of .wav's value is the package's (its WavDefaultRecord
  // component): set, or to be set, by the package.
  bool RecordsWavDefault = false;
  TWavRecord Wav;
  std::wstring WavBefore;
  // The record as it is, for the uninstall and the rollbacks: "APPROVALS|
  // BEFORE|TYPE|WAVKEY|TYPEKEY".
  std::wstring Record;
  std::wstring ApprovalViews;
  bool ApprovalRequired = false;
};

TPackagePlan Plan(MSIHANDLE install) {
  TPackagePlan plan;
  const TKey classes = MachineClasses();
  const TKey record = OpenKey(HKEY_LOCAL_MACHINE, RecordKey, KEY_READ | MachineView);
  const std::wstring recordedType = TextOf(record.get(), L"FileType");
  const TWavRecord recordedWav = ParseWavRecord(TextOf(record.get(), L"WavDefault"));
  std::wstring recordedBefore = TextOf(record.get(), L"WavDefaultBefore");
  if (recordedBefore.empty())
    recordedBefore = NoValue; // packages before the copy deleted the value
  const std::wstring approvals = RecordedApprovals();
  plan.Record = approvals + L"|" +
                (recordedWav.FileType.empty() ? std::wstring()
                                              : recordedBefore + L"|" + RecordText(recordedWav));
  for (const TRegistryView& view : PackageViews())
    plan.ApprovalViews += (plan.ApprovalViews.empty() ? L"" : L" ") + std::wstring(view.Name);
  plan.ApprovalRequired = ApprovalEnforced();

  const TKey wav = OpenKey(classes.get(), L".wav", KEY_READ);
  const std::wstring wavNow = TextOf(wav.get(), L"");
  if (!classes) {
    plan.Refusal = L"The machine's classes (HKEY_LOCAL_MACHINE\\Software\\Classes) cannot be read.";
    return plan;
  }
  const TRegistrationPlan registration = PlanRegistration({classes.get(), false});
  if (!Property(install, L"Installed").empty() && !recordedType.empty()) {
    // The installed package works on the keys it wrote, whatever .wav names
    // now; it writes .wav again only while .wav is blank or still names what
    // it set (a repair after another program took .wav over leaves it).
    plan.FileType = recordedType;
    plan.RecordsWavDefault = !recordedWav.FileType.empty();
    plan.WritesWavDefault =
        plan.RecordsWavDefault && (registration.SetsWavDefault || wavNow == recordedWav.FileType);
    plan.Wav = recordedWav;
    plan.WavBefore = recordedBefore;
    return plan;
  }
  plan.Refusal = OwnershipRefusal(install);
  if (plan.Refusal.empty())
    plan.Refusal = registration.Refusal;
  plan.FileType = registration.FileType;
  if (registration.SetsWavDefault) {
    plan.WritesWavDefault = plan.RecordsWavDefault = true;
    plan.Wav = {registration.FileType, wav ? Existed : Created,
                KeyExists(classes.get(), registration.FileType, 0) ? Existed : Created};
    plan.WavBefore = EncodedValue(wav.get());
  } else if (!recordedWav.FileType.empty() && recordedWav.FileType == registration.FileType &&
             wavNow == recordedWav.FileType) {
    // An earlier package set .wav's value: this upgrade takes it over, as
    // recorded (the earlier one takes it back at its removal, or keeps it
    // for this one).
    plan.WritesWavDefault = plan.RecordsWavDefault = true;
    plan.Wav = recordedWav;
    plan.WavBefore = recordedBefore;
  }
  return plan;
}

} // namespace

// Sets TolvaneRefusal (why the package must not install; empty where it may),
// TolvaneFileType (the type whose key gets the handler), TolvaneWavDefault
// and TolvaneWavRecord ("1" where the package writes .wav's default value,
// and where its record of it is the package's), TolvaneWavRecordText and
// TolvaneWavBefore (that record and the value .wav had), TolvaneRecord (the
// record as it is, for the uninstall's actions), TolvaneApprovalViews and
// TolvaneApprovalRequired (for WriteApprovals).
extern "C" UINT __stdcall PlanPackage(MSIHANDLE install) noexcept {
  try {
    const TPackagePlan plan = Plan(install);
    const std::wstring approvals = plan.Record.substr(0, plan.Record.find(L'|'));
    SetProperty(install, L"TolvaneRefusal", plan.Refusal);
    SetProperty(install, L"TolvaneFileType", plan.FileType);
    SetProperty(install, L"TolvaneWavDefault", plan.WritesWavDefault ? L"1" : L"");
    SetProperty(install, L"TolvaneWavRecord", plan.RecordsWavDefault ? L"1" : L"");
    SetProperty(install, L"TolvaneWavRecordText",
                plan.RecordsWavDefault ? RecordText(plan.Wav) : std::wstring());
    SetProperty(install, L"TolvaneWavBefore", plan.RecordsWavDefault ? plan.WavBefore : L"");
    SetProperty(install, L"TolvaneRecord", plan.Record);
    SetProperty(install, L"TolvaneApprovalData",
                plan.ApprovalViews + L"|" + (plan.ApprovalRequired ? L"1" : L"") + L"|" +
                    approvals);
    return ERROR_SUCCESS;
  } catch (...) {
    return ERROR_INSTALL_FAILURE;
  }
}

// Immediate, in the execute sequence of an installation (not of a repair or
// an uninstall, which the setup program refuses while the package is
// installed, nor of the removal of an earlier version in an upgrade): the
// mark of a package installation, which the setup program refuses to run
// beside, unless a setup program or uninstaller runs. TolvaneBusy says why
// it could not be made (the RefuseBusy action ends the installation then).
extern "C" UINT __stdcall LockPackage(MSIHANDLE install) noexcept {
  try {
    switch (MarkPackageInstallation()) {
    case TLockResult::Held:
      SetProperty(install, L"TolvaneBusy", L"");
      break;
    case TLockResult::Busy:
      SetProperty(install, L"TolvaneBusy",
                  L"Tolvane's setup program or another installation of Tolvane is running. Try "
                  L"again when it has finished.");
      break;
    default:
      SetProperty(install, L"TolvaneBusy",
                  L"Another program made a lock of Tolvane's installations "
                  L"(Global\\Tolvane.Setup or Global\\Tolvane.Package), which no installation "
                  L"made. End that program, or restart Windows, then try again.");
    }
    return ERROR_SUCCESS;
  } catch (...) {
    return ERROR_INSTALL_FAILURE;
  }
}

// Immediate, after InstallFinalize: Explorer drops the association arrays it
// has read.
extern "C" UINT __stdcall NotifyAssociations(MSIHANDLE) noexcept {
  SHChangeNotify(SHCNE_ASSOCCHANGED, SHCNF_IDLIST, nullptr, nullptr);
  return ERROR_SUCCESS;
}

namespace {

// The fields of a deferred action's CustomActionData, split at "|" up to
// `count` fields (the last one takes the rest).
std::vector<std::wstring> Fields(MSIHANDLE install, size_t count) {
  const std::wstring data = Property(install, L"CustomActionData");
  std::vector<std::wstring> fields;
  size_t start = 0;
  while (fields.size() + 1 < count) {
    const size_t bar = data.find(L'|', start);
    if (bar == std::wstring::npos)
      break;
    fields.push_back(data.substr(start, bar - start));
    start = bar + 1;
  }
  fields.push_back(data.substr(start));
  fields.resize(count);
  return fields;
}

void SetRecordFlag(const TRegistryView& view, bool set) {
  if (set) {
    TKey record;
    if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, RecordKey, 0, nullptr, REG_OPTION_NON_VOLATILE,
                        KEY_SET_VALUE | view.Flag, nullptr, record.put(), nullptr) != ERROR_SUCCESS)
      return;
    const wchar_t one[] = L"1";
    RegSetValueExW(record.get(), L"Approval", 0, REG_SZ, reinterpret_cast<const BYTE*>(one),
                   sizeof one);
    return;
  }
  const TKey record = OpenKey(HKEY_LOCAL_MACHINE, RecordKey, KEY_SET_VALUE | view.Flag);
  if (record)
    RegDeleteValueW(record.get(), L"Approval");
  // What the package's rows left of the record goes with it.
  for (const wchar_t* key : {RecordKey, RecordParent})
    if (IsEmptyKey(HKEY_LOCAL_MACHINE, key, view.Flag))
      RegDeleteKeyExW(HKEY_LOCAL_MACHINE, key, view.Flag, 0);
}

const std::wstring ClassId = L"" TOLVANE_CLASS_ID;

TKey ApprovedKeyOf(const TRegistryView& view, REGSAM access) {
  return OpenKey(HKEY_LOCAL_MACHINE, FromAnsi(ApprovedKeyPath()), access | view.Flag);
}

bool ApprovalThere(const TRegistryView& view) {
  const TKey key = ApprovedKeyOf(view, KEY_READ);
  return key && ValueExists(key.get(), ClassId);
}

// The approval in the view, where it is missing, by the module's own code:
// true where this made it.
bool MakeApproval(const TRegistryView& view) {
  if (ApprovalThere(view))
    return false;
  try {
    ::WriteApproval(TOLVANE_CLASS_ID, view.Flag);
    return true;
  } catch (const Exception&) {
    return false;
  }
}

void DeleteApproval(const TRegistryView& view) {
  const TKey key = ApprovedKeyOf(view, KEY_READ | KEY_SET_VALUE);
  if (key && ReadText(key.get(), ClassId) == FromAnsi(ApprovedName))
    RegDeleteValueW(key.get(), ClassId.c_str());
}

} // namespace

// Deferred, as the installer service, after the registry rows
// (CustomActionData "VIEWS|REQUIRED|RECORDED"): in each of the package's
// views the approval where it is missing, written as the module writes it,
// and the record of it. A view whose keys refuse goes without one, as the
// module goes on without it, unless the shell enforces the list: then the
// installation fails and is rolled back.
extern "C" UINT __stdcall WriteApprovals(MSIHANDLE install) noexcept {
  try {
    const std::vector<std::wstring> data = Fields(install, 3);
    for (const TRegistryView& view : PackageViews()) {
      if (!Lists(data[0], view.Name))
        continue;
      if (MakeApproval(view))
        SetRecordFlag(view, true);
      else if (!ApprovalThere(view) && data[1] == L"1")
        return ERROR_INSTALL_FAILURE;
    }
  } catch (...) {
    return ERROR_INSTALL_FAILURE;
  }
  return ERROR_SUCCESS;
}

// Rollback of WriteApprovals (same CustomActionData): the approvals this
// installation made go, those recorded before it stay.
extern "C" UINT __stdcall UndoApprovals(MSIHANDLE install) noexcept {
  try {
    const std::vector<std::wstring> data = Fields(install, 3);
    const std::wstring now = RecordedApprovals();
    for (const TRegistryView& view : PackageViews())
      if (Lists(now, view.Name) && !Lists(data[2], view.Name)) {
        DeleteApproval(view);
        SetRecordFlag(view, false);
      }
  } catch (...) {
  }
  return ERROR_SUCCESS;
}

namespace {

// The uninstall's record (TolvaneRecord: "APPROVALS|BEFORE|TYPE|WAVKEY|
// TYPEKEY").
struct TUninstallRecord {
  std::wstring Approvals;
  std::wstring Before;
  TWavRecord Wav;
};

TUninstallRecord UninstallRecord(MSIHANDLE install) {
  const std::vector<std::wstring> data = Fields(install, 3);
  return {data[0], data[1], ParseWavRecord(data[2])};
}

TKey MachineKey(const wchar_t* path, REGSAM access) {
  return OpenKey(HKEY_LOCAL_MACHINE, std::wstring(L"Software\\Classes\\") + path,
                 access | MachineView);
}

std::wstring ClassesPath(const std::wstring& key) {
  return L"Software\\Classes\\" + key;
}

// .wav's default value as it was before the package set it, while it still
// names the type the package wrote and that type holds nothing of another
// program; the keys the package created go when they are left empty.
void TakeBackWavDefault(const TUninstallRecord& record) {
  const TWavRecord& wav = record.Wav;
  if (wav.FileType.empty())
    return;
  {
    const TKey key = MachineKey(L".wav", KEY_READ | KEY_SET_VALUE);
    if (!key || TextOf(key.get(), L"") != wav.FileType ||
        HoldsValues(HKEY_LOCAL_MACHINE, ClassesPath(wav.FileType), MachineView))
      return;
    SetEncodedValue(key.get(), record.Before);
  }
  if (wav.WavKey == Created && IsEmptyKey(HKEY_LOCAL_MACHINE, ClassesPath(L".wav"), MachineView))
    RegDeleteKeyExW(HKEY_LOCAL_MACHINE, ClassesPath(L".wav").c_str(), MachineView, 0);
  if (wav.TypeKey == Created) {
    const TKey classes = MachineClasses();
    if (classes)
      RegDeleteTreeW(classes.get(), wav.FileType.c_str());
  }
}

// .wav names the type the package wrote again, unless something else than
// what TakeBackWavDefault put back has been named there since.
void PutBackWavDefault(const TUninstallRecord& record) {
  if (record.Wav.FileType.empty())
    return;
  TKey key;
  if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, ClassesPath(L".wav").c_str(), 0, nullptr,
                      REG_OPTION_NON_VOLATILE, KEY_READ | KEY_SET_VALUE | MachineView, nullptr,
                      key.put(), nullptr) != ERROR_SUCCESS) {
    key.release();
    return;
  }
  if (EncodedValue(key.get()) != record.Before)
    return;
  const std::wstring& type = record.Wav.FileType;
  RegSetValueExW(key.get(), L"", 0, REG_SZ, reinterpret_cast<const BYTE*>(type.c_str()),
                 static_cast<DWORD>((type.size() + 1) * sizeof(wchar_t)));
}

} // namespace

// Deferred, at the uninstall, after the registry rows went (CustomActionData
// TolvaneRecord): .wav's value as it was (TakeBackWavDefault), and the
// approvals the package made. Nothing it meets fails the uninstall.
extern "C" UINT __stdcall TakeBackMachineEntries(MSIHANDLE install) noexcept {
  try {
    const TUninstallRecord record = UninstallRecord(install);
    TakeBackWavDefault(record);
    for (const TRegistryView& view : PackageViews())
      if (Lists(record.Approvals, view.Name)) {
        DeleteApproval(view);
        SetRecordFlag(view, false);
      }
  } catch (...) {
  }
  return ERROR_SUCCESS;
}

// Rollback of TakeBackMachineEntries (same CustomActionData), where the
// uninstall fails after it.
extern "C" UINT __stdcall RestoreMachineEntries(MSIHANDLE install) noexcept {
  try {
    const TUninstallRecord record = UninstallRecord(install);
    PutBackWavDefault(record);
    for (const TRegistryView& view : PackageViews())
      if (Lists(record.Approvals, view.Name) && !ApprovalThere(view) && MakeApproval(view))
        SetRecordFlag(view, true);
  } catch (...) {
  }
  return ERROR_SUCCESS;
}

// Immediate, after costing: refuses other folders than the package's own in
// Program Files, whatever set them (a folder a user can write would load the
// user's DLL into every user's shell).
extern "C" UINT __stdcall CheckFolders(MSIHANDLE install) noexcept {
  try {
    const struct {
      const wchar_t* Folder;
      const wchar_t* Parent;
#ifdef _WIN64
    } folders[] = {{L"TolvaneFolder", L"ProgramFiles64Folder"},
                   {L"TolvaneFolder32", L"ProgramFilesFolder"}};
#else
    } folders[] = {{L"TolvaneFolder", L"ProgramFilesFolder"}};
#endif
    for (const auto& folder : folders) {
      const std::wstring path = Property(install, folder.Folder);
      if (CompareStringOrdinal(path.c_str(), -1,
                               (Property(install, folder.Parent) + L"Tolvane\\").c_str(), -1,
                               TRUE) != CSTR_EQUAL)
        return ERROR_INSTALL_FAILURE;
    }
  } catch (...) {
    return ERROR_INSTALL_FAILURE;
  }
  return ERROR_SUCCESS;
}
