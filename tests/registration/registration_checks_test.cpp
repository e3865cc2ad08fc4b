// PlanRegistration (installer/checks) against a registry sandbox: the file
// type it finds, the exact sentences of its refusals and the views the
// approval can be written in, in states that the setup program's tests do
// not make.
#include <gtest/gtest.h>

#include <windows.h>
#include <sddl.h>

#include <functional>
#include <string>
#include <vector>

#include "case_name.h"
#include "class_id.h"
#include "identity.h"
#include "registration_checks.h"
#include "registry_sandbox.h"
#include "setup_record.h"
#include "shell_registration.h"

namespace {

const std::string CurrentVersionKey = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion";
const std::string ExtensionsKey = CurrentVersionKey + "\\Shell Extensions";
const std::string PolicyKey = "Software\\Microsoft\\Windows\\CurrentVersion\\Policies\\Explorer";
const std::wstring WavKey = L"The .wav files' type in the registry (HKEY_CLASSES_ROOT\\.wav)";

// The first registry view the checks look at: the 64-bit one wherever there
// are two.
std::wstring FirstView() {
  BOOL wow64 = FALSE;
  IsWow64Process(GetCurrentProcess(), &wow64);
  return sizeof(void*) == 8 || wow64 ? L"64" : L"32";
}

void SetAccess(HKEY key, const wchar_t* sddl) {
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  ASSERT_TRUE(ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl, SDDL_REVISION_1,
                                                                   &descriptor, nullptr));
  EXPECT_EQ(RegSetKeySecurity(key, DACL_SECURITY_INFORMATION, descriptor), ERROR_SUCCESS);
  LocalFree(descriptor);
}

// Every registry view there is, and none.
std::vector<std::wstring> AllViews() {
  if (FirstView() == L"64")
    return {L"64", L"32"};
  return {L"32"};
}
std::vector<std::wstring> NoView() {
  return {};
}

class RegistrationChecks;

struct TChecksCase {
  const char* Name;
  std::function<void(RegistrationChecks&)> Prepare;
  std::wstring FileType;
  bool SetsWavDefault;
  std::function<std::wstring()> Refusal;
  // Where the approval can be written (empty where a refusal of the type
  // came first).
  std::function<std::vector<std::wstring>()> ApprovalViews = AllViews;
};

// Wine applies the sandbox to HKEY_CLASSES_ROOT only in calls without a
// registry view flag, which the checks pass where there are two views: the
// rows deny keys of HKEY_LOCAL_MACHINE, which it applies to in every view.
class RegistrationChecks : public ::testing::TestWithParam<TChecksCase> {
public:
  // The key, made where missing, allows nothing but reading until the test
  // ends; the handle kept gives all access back, for the sandbox to go.
  void ReadOnly(HKEY root, const std::string& path) {
    CreateKey(root, path);
    ASSERT_EQ(RegOpenKeyExA(root, path.c_str(), 0, KEY_ALL_ACCESS, Locked.put()), ERROR_SUCCESS);
    SetAccess(Locked.get(), L"D:P(A;;KR;;;WD)");
  }

protected:
  void TearDown() override {
    if (Locked)
      SetAccess(Locked.get(), L"D:P(A;;KA;;;WD)");
  }

  TRegistrySandbox Sandbox;
  TRegKey Locked;
};

TEST_P(RegistrationChecks, FindsTheTypeAndRefusesInItsWords) {
  GetParam().Prepare(*this);
  const TRegistrationPlan plan = PlanRegistration();
  EXPECT_EQ(plan.FileType, GetParam().FileType);
  EXPECT_EQ(plan.SetsWavDefault, GetParam().SetsWavDefault);
  EXPECT_EQ(plan.Refusal, GetParam().Refusal());
  EXPECT_EQ(plan.ApprovalViews, GetParam().ApprovalViews());
}

std::wstring Passes() {
  return std::wstring();
}

const std::wstring Longest(222, L'L');

INSTANTIATE_TEST_SUITE_P(
    States, RegistrationChecks,
    ::testing::Values(
        TChecksCase{"NoWavKey", [](RegistrationChecks&) {}, L"WAV.File", true, Passes},
        TChecksCase{
            "ControlCharactersAndBlanksNameNoType",
            [](RegistrationChecks&) { SetString(HKEY_CLASSES_ROOT, ".wav", "", " \t\x1f "); },
            L"WAV.File", true, Passes},
        TChecksCase{"AnExpandStringNamesItsTypeAsStored",
                    [](RegistrationChecks&) {
                      SetValue(HKEY_CLASSES_ROOT, ".wav", "", REG_EXPAND_SZ,
                               std::string("%Sound%.Recording\0", 18));
                    },
                    L"%Sound%.Recording", false, Passes},
        TChecksCase{"TextAfterTheFirstNulDoesNotCount",
                    [](RegistrationChecks&) {
                      // (ANSI data, which the registry stores as UTF-16.)
                      SetValue(HKEY_CLASSES_ROOT, ".wav", "", REG_SZ, std::string("St\0x\0", 5));
                    },
                    L"St", false, Passes},
        TChecksCase{"ABinaryValueIsNoText",
                    [](RegistrationChecks&) {
                      SetValue(HKEY_CLASSES_ROOT, ".wav", "", REG_BINARY, "\x01\x02");
                    },
                    L"", false, [] { return WavKey + L" is not text."; }, NoView},
        TChecksCase{"TheLongestTypePasses",
                    [](RegistrationChecks&) {
                      SetString(HKEY_CLASSES_ROOT, ".wav", "", std::string(222, 'L'));
                    },
                    Longest, false, Passes},
        TChecksCase{
            "OneCharacterMoreIsRefused",
            [](RegistrationChecks&) {
              SetString(HKEY_CLASSES_ROOT, ".wav", "", std::string(223, 'L'));
            },
            Longest + L"L", false,
            [] { return WavKey + L" has 223 characters; registration takes 222 at most."; },
            NoView},
        TChecksCase{
            "CharactersTheCodePageLacks",
            [](RegistrationChecks&) { SetWideString(HKEY_CLASSES_ROOT, ".wav", L"\x0417.WAV"); },
            L"\x0417.WAV", false,
            [] {
              return WavKey +
                     L", \"\x0417.WAV\", has characters that the system's ANSI code page lacks.";
            },
            NoView},
        TChecksCase{
            "ABackslashAtTheEnd",
            [](RegistrationChecks&) { SetString(HKEY_CLASSES_ROOT, ".wav", "", "Sound\\"); },
            L"Sound\\", false,
            [] {
              return WavKey + L" is \"Sound\\\", in which a registry key name would be empty.";
            },
            NoView},
        TChecksCase{"AMissingKeyIsMadeBelowTheDeepestThatExists",
                    [](RegistrationChecks& test) {
                      SetValue(HKEY_LOCAL_MACHINE, PolicyKey, "EnforceShellExtensionSecurity",
                               REG_DWORD, std::string("\x01\0\0\0", 4));
                      test.ReadOnly(HKEY_LOCAL_MACHINE, CurrentVersionKey);
                    },
                    L"WAV.File", true,
                    [] {
                      return L"Setup cannot write the registry key HKLM\\" +
                             std::wstring(CurrentVersionKey.begin(), CurrentVersionKey.end()) +
                             L" (registry view " + FirstView() + L").";
                    },
                    NoView},
        TChecksCase{"APolicyOfZeroLeavesTheApprovalUnchecked",
                    [](RegistrationChecks& test) {
                      SetValue(HKEY_LOCAL_MACHINE, PolicyKey, "EnforceShellExtensionSecurity",
                               REG_DWORD, std::string(4, '\0'));
                      test.ReadOnly(HKEY_LOCAL_MACHINE, ExtensionsKey);
                    },
                    L"WAV.File", true, Passes, NoView},
        TChecksCase{"APolicyOfAnotherTypeDoesNotCount",
                    [](RegistrationChecks& test) {
                      SetString(HKEY_LOCAL_MACHINE, PolicyKey, "EnforceShellExtensionSecurity",
                                "1");
                      test.ReadOnly(HKEY_LOCAL_MACHINE, ExtensionsKey);
                    },
                    L"WAV.File", true, Passes, NoView},
        TChecksCase{"TheEnforcedApprovalNeedsAllAccess",
                    [](RegistrationChecks& test) {
                      SetValue(HKEY_LOCAL_MACHINE, PolicyKey, "EnforceShellExtensionSecurity",
                               REG_DWORD, std::string("\x01\0\0\0", 4));
                      test.ReadOnly(HKEY_LOCAL_MACHINE, ExtensionsKey);
                    },
                    L"WAV.File", true,
                    [] {
                      return L"Setup cannot write the registry key HKLM\\" +
                             std::wstring(ExtensionsKey.begin(), ExtensionsKey.end()) +
                             L" (registry view " + FirstView() + L").";
                    },
                    NoView}),
    TCaseName());

// The setup program's record: what registering created goes at the
// uninstall, once unregistering has run, and nothing else does.
struct TRecordCase {
  const char* Name;
  std::function<void()> Before;
  // What other programs do while the page is installed.
  std::function<void()> Meanwhile = [] {};
  // What the uninstall leaves beside what was there before.
  TRegistryTree Left = {};
  // What an earlier setup left, which this one runs over.
  std::function<void()> Earlier = [] {};
};

class SetupRecord : public ::testing::TestWithParam<TRecordCase> {
protected:
  TRegistrySandbox Sandbox;
};

const std::string Uninstall = CurrentVersionKey + "\\Uninstall";
const std::string Entry = Uninstall + "\\Tolvane";
const std::string Unknown = "{00000000-0000-0000-0000-000000000001}";

TEST_P(SetupRecord, TheUninstallTakesBackWhatSetupCreatedAndNothingElse) {
  CreateKey(HKEY_LOCAL_MACHINE, Uninstall);
  GetParam().Before();
  const TRegistryTree classes = ReadTree(HKEY_CLASSES_ROOT);
  const TRegistryTree machine = ReadTree(HKEY_LOCAL_MACHINE);
  GetParam().Earlier();
  const DWORD platform = std::exchange(PlatformId, DWORD(VER_PLATFORM_WIN32_NT));

  ASSERT_EQ(RecordRegistration(PlanRegistration()), ERROR_SUCCESS);
  UpdateShellRegistration(CLSID_Tolvane, true);
  GetParam().Meanwhile();
  UpdateShellRegistration(CLSID_Tolvane, false);
  RemoveRecorded();
  PlatformId = platform;

  EXPECT_EQ(RegDeleteKeyA(HKEY_LOCAL_MACHINE, Entry.c_str()), ERROR_SUCCESS);
  EXPECT_EQ(ReadTree(HKEY_CLASSES_ROOT), Sorted(classes, GetParam().Left));
  EXPECT_EQ(ReadTree(HKEY_LOCAL_MACHINE), machine);
}

INSTANTIATE_TEST_SUITE_P(
    States, SetupRecord,
    ::testing::Values(
        TRecordCase{"AFreshSystem", [] {}},
        TRecordCase{"AnotherProgramsTypeAndHandlers",
                    [] {
                      SetString(HKEY_CLASSES_ROOT, ".wav", "", "Sound.Recording");
                      for (const char* key :
                           {"Sound.Recording\\shellex\\PropertySheetHandlers\\Other",
                            "*\\shellex\\PropertySheetHandlers\\Other",
                            "SystemFileAssociations\\.wav\\shellex\\PropertySheetHandlers\\Other"})
                        SetString(HKEY_CLASSES_ROOT, key, "", Unknown);
                      SetString(HKEY_LOCAL_MACHINE, ExtensionsKey + "\\Approved", Unknown, "Other");
                    }},
        // Put back as it was: its type and its bytes.
        TRecordCase{"ABlankValueOfAnotherType",
                    [] { SetValue(HKEY_CLASSES_ROOT, ".wav", "", REG_BINARY, ""); }},
        // .wav keeps leading to another program's entries in WAV.File.
        TRecordCase{"AnotherProgramUsesTheTypeMeanwhile", [] {},
                    [] { SetString(HKEY_CLASSES_ROOT, "WAV.File\\shell\\open\\command", "", "o.exe"); },
                    {".wav||1|WAV.File", "WAV.File|", "WAV.File\\shell|",
                     "WAV.File\\shell\\open|", "WAV.File\\shell\\open\\command||1|o.exe"}},
        // What an earlier setup recorded in bits, when this one runs over it.
        TRecordCase{"AnEarlierSetupsRecord", [] {}, [] {}, {}, [] {
                      SetString(HKEY_CLASSES_ROOT, ".wav", "", "WAV.File");
                      SetString(HKEY_CLASSES_ROOT, "WAV.File\\shellex", "", "");
                      SetString(HKEY_CLASSES_ROOT, "WAV.File\\shellex\\PropertySheetHandlers", "", "");
                      SetString(HKEY_LOCAL_MACHINE, ExtensionsKey + "\\Approved", TOLVANE_CLASS_ID, "Tolvane");
                      SetValue(HKEY_LOCAL_MACHINE, Entry, "TolvaneCreated", REG_DWORD,
                               std::string("\xFF\x1F\0\0", 4));
                      SetString(HKEY_LOCAL_MACHINE, Entry, "TolvaneFileType", "WAV.File");
                    }}),
    TCaseName());

} // namespace
