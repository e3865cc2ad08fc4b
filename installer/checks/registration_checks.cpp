#include "registration_checks.h"

#include <windows.h>

#include <algorithm>
#include <optional>
#include <vector>

#include "ansi_text.h"
#include "exceptions.h"
#include "identity.h"
#include "registration.h"
#include "registry_key.h"
#include "shell_registration.h"
#include "tolvane_class.h"

namespace {

const char* const PolicyKey = "Software\\Microsoft\\Windows\\CurrentVersion\\Policies\\Explorer";
const char* const PolicyValue = "EnforceShellExtensionSecurity";
const wchar_t* const WavKeyText = L"The .wav files' type in the registry (HKEY_CLASSES_ROOT\\.wav)";

} // namespace

bool ApprovalEnforced() {
  for (HKEY root : {HKEY_LOCAL_MACHINE, HKEY_CURRENT_USER}) {
    for (const TRegistryView& view : RegistryViews()) {
      TRegKey key;
      if (key.Open(root, PolicyKey, KEY_READ | view.Flag) != ERROR_SUCCESS)
        continue;
      DWORD type = 0;
      DWORD value = 0;
      DWORD size = sizeof value;
      if (RegQueryValueExA(key.get(), PolicyValue, nullptr, &type, reinterpret_cast<BYTE*>(&value),
                           &size) == ERROR_SUCCESS &&
          type == REG_DWORD && size == sizeof value && value != 0)
        return true;
    }
  }
  return false;
}

namespace {

// The key that keeps registration from creating or opening root\path with
// the access in the view: the key itself, or where it does not exist the
// deepest key of its path that does, below which the missing ones are made;
// nothing where none does.
std::optional<std::string> RefusingKey(HKEY root, std::string path, REGSAM access, REGSAM view) {
  for (;;) {
    TRegKey key;
    // Any other answer than "not found": there, though perhaps not readable.
    if (key.Open(root, path, KEY_READ | view) != ERROR_FILE_NOT_FOUND || path.empty())
      break;
    access = KEY_CREATE_SUB_KEY;
    const size_t cut = path.rfind('\\');
    path.resize(cut == std::string::npos ? 0 : cut);
  }
  TRegKey key;
  if (key.Open(root, path, access | view) == ERROR_SUCCESS)
    return std::nullopt;
  return path;
}

struct TCheckedKey {
  HKEY Root;
  const wchar_t* RootName;
  std::string Path;
  REGSAM Access;
};

// What is wrong with the file type's name where its keys go through the ANSI
// calls; empty when nothing is.
std::wstring FileTypeProblem(const std::wstring& wavDefault, const std::wstring& typeText,
                             const TFileType& fileType, const std::vector<TClassesEntry>& entries) {
  // The calls take key paths of MAX_PATH characters: the longest path below
  // the type leaves its name the rest.
  size_t below = 0;
  for (const TClassesEntry& entry : entries)
    if (entry.Key.size() > fileType.Name.size() && entry.Key[fileType.Name.size()] == '\\' &&
        entry.Key.compare(0, fileType.Name.size(), fileType.Name) == 0)
      below = std::max(below, entry.Key.size() - fileType.Name.size());
  const size_t longest = MAX_PATH - below;
  if (typeText.size() > longest)
    return std::wstring(WavKeyText) + L" has " + std::to_wstring(typeText.size()) +
           L" characters; registration takes " + std::to_wstring(longest) + L" at most.";
  if (!fileType.InAnsiCodePage)
    return std::wstring(WavKeyText) + L", \"" + wavDefault +
           L"\", has characters that the system's ANSI code page lacks.";
  for (const TClassesEntry& entry : entries)
    if (entry.Key.empty() || entry.Key.front() == '\\' || entry.Key.back() == '\\' ||
        entry.Key.find("\\\\") != std::string::npos)
      return std::wstring(WavKeyText) + L" is \"" + wavDefault +
             L"\", in which a registry key name would be empty.";
  return std::wstring();
}

} // namespace

std::vector<TRegistryView> RegistryViews() {
  BOOL wow64 = FALSE;
#ifdef _WIN64
  wow64 = TRUE;
#else
  if (!IsWow64Process(GetCurrentProcess(), &wow64))
    wow64 = FALSE;
#endif
  if (wow64)
    return {{KEY_WOW64_64KEY, L"64"}, {KEY_WOW64_32KEY, L"32"}};
  return {{0, L"32"}};
}

TRegistrationPlan PlanRegistration(const TPlanContext& context) {
  TRegistrationPlan plan;
  std::wstring wavDefault;
  try {
    wavDefault = WavDefaultValue(context.Classes);
  } catch (const Exception&) {
    plan.Refusal = std::wstring(WavKeyText) + L" is not text.";
    return plan;
  }
  const TFileType fileType = FileTypeOf(wavDefault);
  plan.SetsWavDefault = fileType.SetsWavDefault;
  plan.FileType = fileType.SetsWavDefault ? FromAnsi(fileType.Name) : wavDefault;

  const std::string classId = TOLVANE_CLASS_ID;
  const TClassNames names = InstalledClassNames();
  const std::vector<TClassesEntry> shellEntries = ShellEntries(fileType, classId);
  plan.Refusal = FileTypeProblem(wavDefault, plan.FileType, fileType, shellEntries);
  if (!plan.Refusal.empty() || !context.CheckAccess)
    return plan;

  // In the order the module writes them: its class, the shell's entries,
  // the approval.
  std::vector<TCheckedKey> keys;
  for (const std::vector<TClassesEntry>& entries :
       {ClassRegistrationEntries(names, TModulePath()), shellEntries})
    for (const TClassesEntry& entry : entries)
      if (keys.empty() || keys.back().Path != entry.Key)
        keys.push_back({HKEY_CLASSES_ROOT, L"HKCR", entry.Key, ClassesKeyAccess});
  const std::vector<TRegistryView> views = RegistryViews();
  std::vector<TCheckedKey> approvalKeys;
  std::string path;
  for (const char* name : ApprovalKeys) {
    path += path.empty() ? name : std::string("\\") + name;
    approvalKeys.push_back({HKEY_LOCAL_MACHINE, L"HKLM", path, ApprovalAccess});
  }
  for (const TRegistryView& view : views)
    if (std::none_of(approvalKeys.begin(), approvalKeys.end(), [&](const TCheckedKey& key) {
          return RefusingKey(key.Root, key.Path, key.Access, view.Flag).has_value();
        }))
      plan.ApprovalViews.push_back(view.Name);
  if (ApprovalEnforced())
    keys.insert(keys.end(), approvalKeys.begin(), approvalKeys.end());
  // Keys that both views share are looked at twice: which ones they are
  // depends on the Windows version.
  for (const TRegistryView& view : views) {
    for (const TCheckedKey& key : keys) {
      if (std::optional<std::string> refusing =
              RefusingKey(key.Root, key.Path, key.Access, view.Flag)) {
        plan.Refusal = std::wstring(L"Setup cannot write the registry key ") + key.RootName +
                       L"\\" + FromAnsi(*refusing) + L" (registry view " + view.Name + L").";
        return plan;
      }
    }
  }
  return plan;
}
