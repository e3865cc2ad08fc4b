// DllRegisterServer and DllUnregisterServer of the built PELLMORE.DLL against
// a registry sandbox: the entries with the module's own path, the HRESULTs of
// the failure paths, and every key closed again.
#include <gtest/gtest.h>

#include <windows.h>

#include <cstring>
#include <functional>
#include <optional>
#include <set>
#include <vector>
#include <string>

#include "case_name.h"
#include "expected_entries.h"
#include "import_patch.h"
#include "message_box_capture.h"
#include "pellmore_module.h"
#include "registry_sandbox.h"

namespace {

const std::string ProgId = "PELLMORE.TTolvane";

class PellmoreRegistration : public ::testing::Test {
protected:
  TRegistryTree Classes() { return ReadTree(HKEY_CLASSES_ROOT); }
  TRegistryTree Machine() { return ReadTree(HKEY_LOCAL_MACHINE); }

  std::optional<TRegistrySandbox> Sandbox{std::in_place};
  TPellmoreModule Module;
};

TEST_F(PellmoreRegistration, RegisteringWritesEveryEntryOfTheClassAndTheHandlerAndAgainTheSame) {
  const TRegistryTree classes =
      Sorted(GenericEntries(BuiltModulePath(), ProgId), ShellEntries("WAV.File"));
  for (int time = 1; time <= 2; ++time) {
    EXPECT_EQ(Module.DllRegisterServer(), S_OK) << time;
    EXPECT_EQ(Classes(), classes) << time;
    // Wine is the NT platform: the approval is written.
    EXPECT_EQ(Machine(), ApprovalEntries()) << time;
  }
}

TEST_F(PellmoreRegistration, UnregisteringSucceedsWhetherRegisteredOrNot) {
  EXPECT_EQ(Module.DllUnregisterServer(), S_OK);
  EXPECT_TRUE(Classes().empty());
  EXPECT_TRUE(Machine().empty());
  ASSERT_EQ(Module.DllRegisterServer(), S_OK);
  const TRegistryTree kept = Sorted(TRegistryTree{"CLSID|"}, KeptShellEntries("WAV.File"));
  for (int time = 1; time <= 2; ++time) {
    EXPECT_EQ(Module.DllUnregisterServer(), S_OK) << time;
    EXPECT_EQ(Classes(), kept) << time;
    EXPECT_EQ(Machine(), ApprovalEntries()) << time;
  }
}

TEST_F(PellmoreRegistration, UnwritableClassesFailTheRegistration) {
  Sandbox.reset();
  Sandbox.emplace(TClassesAccess::Unwritable);
  EXPECT_EQ(Module.DllRegisterServer(), E_FAIL);
  EXPECT_TRUE(Classes().empty());
  EXPECT_TRUE(Machine().empty());
}

// A shell entry that cannot be written: the box, and a failed registration
// when the hook itself is missing, since the shell then never shows the page.
struct TExportShellEntryFailure {
  const char* Name;
  std::function<void()> Prepare;
  HRESULT Result;
};

class ExportShellEntryFailure : public PellmoreRegistration,
                                public ::testing::WithParamInterface<TExportShellEntryFailure> {
protected:
  TMessageBoxCapture Boxes{Module.Handle()};
};

TEST_P(ExportShellEntryFailure, ShowsTheBoxOnceAndFailsOnlyWithoutTheHook) {
  ASSERT_TRUE(Boxes.Active());
  GetParam().Prepare();
  EXPECT_EQ(Module.DllRegisterServer(), GetParam().Result);
  EXPECT_EQ(Boxes.Boxes().size(), 1u);
}

INSTANTIATE_TEST_SUITE_P(
    DllRegisterServer, ExportShellEntryFailure,
    ::testing::Values(
        // Volatile parents refuse the non-volatile keys below them.
        TExportShellEntryFailure{
            "ApprovalOnly",
            [] {
              CreateVolatileKey(HKEY_LOCAL_MACHINE,
                                "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Shell Extensions");
            },
            S_OK},
        TExportShellEntryFailure{"Hook",
                                 [] {
                                   SetString(HKEY_CLASSES_ROOT, ".wav", "", "Volatile.Type");
                                   CreateVolatileKey(HKEY_CLASSES_ROOT, "Volatile.Type");
                                 },
                                 E_FAIL},
        // Cyrillic and Greek: no ANSI code page holds the name whole.
        TExportShellEntryFailure{"TypeOutsideTheAnsiCodePage",
                                 [] {
                                   SetWideString(HKEY_CLASSES_ROOT, ".wav",
                                                 L"\u0417\u0432\u0443\u043a-\u0389\u03c7.WAV");
                                 },
                                 E_FAIL}),
    TCaseName());

// A window station and desktop of the process's own, which no person sees:
// what a service or a deployment agent in session 0 has. A message box there
// is never answered.
class TUnseenStation {
public:
  TUnseenStation()
      : FVisible(GetProcessWindowStation()),
        FStation(CreateWindowStationW(L"TolvaneUnseen", 0, WINSTA_ALL_ACCESS, nullptr)) {
    if (FStation && SetProcessWindowStation(FStation))
      FDesktop = CreateDesktopW(L"Unseen", nullptr, nullptr, 0, GENERIC_ALL, nullptr);
  }
  ~TUnseenStation() {
    SetProcessWindowStation(FVisible);
    if (FDesktop)
      CloseDesktop(FDesktop);
    if (FStation)
      CloseWindowStation(FStation);
  }
  HDESK Desktop() const { return FDesktop; }

private:
  HWINSTA FVisible;
  HWINSTA FStation;
  HDESK FDesktop = nullptr;
};

struct TUnseenCall {
  HDESK Desktop;
  TPellmoreModule* Module;
  HRESULT Result = E_UNEXPECTED;
};

DWORD WINAPI RegisterOnDesktop(void* parameter) {
  auto* call = static_cast<TUnseenCall*>(parameter);
  if (SetThreadDesktop(call->Desktop))
    call->Result = call->Module->DllRegisterServer();
  return 0;
}

TEST_F(PellmoreRegistration, OnAStationNoOneSeesAFailedHookReturnsWithoutTheBox) {
  SetString(HKEY_CLASSES_ROOT, ".wav", "", "Volatile.Type");
  CreateVolatileKey(HKEY_CLASSES_ROOT, "Volatile.Type");
  TUnseenStation station;
  ASSERT_NE(station.Desktop(), nullptr);
  // The real MessageBoxA: shown there, it would hold the call forever.
  TUnseenCall call{station.Desktop(), &Module};
  HANDLE thread = CreateThread(nullptr, 0, RegisterOnDesktop, &call, 0, nullptr);
  ASSERT_NE(thread, nullptr);
  ASSERT_EQ(WaitForSingleObject(thread, 30000), WAIT_OBJECT_0) << "the registration waits on a box";
  CloseHandle(thread);
  EXPECT_EQ(call.Result, E_FAIL);
}

// Session 0 (services, deployment agents) as the module's import of
// ProcessIdToSessionId reports it.
BOOL WINAPI InSessionZero(DWORD, DWORD* session) {
  *session = 0;
  return TRUE;
}

TEST_F(PellmoreRegistration, InSessionZeroAFailedHookReturnsWithoutTheBox) {
  TMessageBoxCapture boxes{Module.Handle()};
  ASSERT_TRUE(boxes.Active());
  TImportPatch session{Module.Handle(), "KERNEL32.dll", "ProcessIdToSessionId",
                       reinterpret_cast<void*>(InSessionZero)};
  ASSERT_NE(session.Original(), nullptr);
  SetString(HKEY_CLASSES_ROOT, ".wav", "", "Volatile.Type");
  CreateVolatileKey(HKEY_CLASSES_ROOT, "Volatile.Type");
  EXPECT_EQ(Module.DllRegisterServer(), E_FAIL);
  EXPECT_TRUE(boxes.Boxes().empty());
}

// Every key the module opens or creates through ADVAPI32 is counted, and
// crossed off when the module closes it; every string it writes is measured.
namespace KeyWatch {

using TOpen = LONG(WINAPI*)(HKEY, LPCSTR, DWORD, REGSAM, PHKEY);
using TCreate = LONG(WINAPI*)(HKEY, LPCSTR, DWORD, LPSTR, DWORD, REGSAM, LPSECURITY_ATTRIBUTES,
                              PHKEY, LPDWORD);
using TClose = LONG(WINAPI*)(HKEY);
using TSetValue = LONG(WINAPI*)(HKEY, LPCSTR, DWORD, DWORD, const BYTE*, DWORD);
TOpen PlatformOpen;
TCreate PlatformCreate;
TClose PlatformClose;
TSetValue PlatformSetValue;
std::multiset<HKEY> Open;
int Opened = 0;
// REG_SZ writes whose size is not the text's length plus its zero byte.
std::vector<std::string> MiscountedStrings;

LONG WINAPI OpenKey(HKEY parent, LPCSTR name, DWORD options, REGSAM access, PHKEY key) {
  LONG result = PlatformOpen(parent, name, options, access, key);
  if (result == ERROR_SUCCESS) {
    Open.insert(*key);
    ++Opened;
  }
  return result;
}

LONG WINAPI CreateKey(HKEY parent, LPCSTR name, DWORD reserved, LPSTR keyClass, DWORD options,
                      REGSAM access, LPSECURITY_ATTRIBUTES security, PHKEY key,
                      LPDWORD disposition) {
  LONG result =
      PlatformCreate(parent, name, reserved, keyClass, options, access, security, key, disposition);
  if (result == ERROR_SUCCESS) {
    Open.insert(*key);
    ++Opened;
  }
  return result;
}

LONG WINAPI CloseKey(HKEY key) {
  auto found = Open.find(key);
  if (found != Open.end())
    Open.erase(found);
  return PlatformClose(key);
}

LONG WINAPI SetValue(HKEY key, LPCSTR name, DWORD reserved, DWORD type, const BYTE* data,
                     DWORD size) {
  // The registry mends a missing terminating zero itself, so only the size
  // the module passes shows it.
  if (type == REG_SZ) {
    const char* text = reinterpret_cast<const char*>(data);
    if (size != std::strlen(text) + 1)
      MiscountedStrings.push_back(std::string(name) + "=" + text);
  }
  return PlatformSetValue(key, name, reserved, type, data, size);
}

} // namespace KeyWatch

class PellmoreRegistryCalls : public PellmoreRegistration {
protected:
  void SetUp() override {
    ASSERT_NE(FOpen.Original(), nullptr);
    ASSERT_NE(FCreate.Original(), nullptr);
    ASSERT_NE(FClose.Original(), nullptr);
    ASSERT_NE(FSetValue.Original(), nullptr);
    KeyWatch::PlatformOpen = reinterpret_cast<KeyWatch::TOpen>(FOpen.Original());
    KeyWatch::PlatformCreate = reinterpret_cast<KeyWatch::TCreate>(FCreate.Original());
    KeyWatch::PlatformClose = reinterpret_cast<KeyWatch::TClose>(FClose.Original());
    KeyWatch::PlatformSetValue = reinterpret_cast<KeyWatch::TSetValue>(FSetValue.Original());
    KeyWatch::Open.clear();
    KeyWatch::Opened = 0;
    KeyWatch::MiscountedStrings.clear();
  }

private:
  TImportPatch FOpen{Module.Handle(), "ADVAPI32.dll", "RegOpenKeyExA",
                     reinterpret_cast<void*>(KeyWatch::OpenKey)};
  TImportPatch FCreate{Module.Handle(), "ADVAPI32.dll", "RegCreateKeyExA",
                       reinterpret_cast<void*>(KeyWatch::CreateKey)};
  TImportPatch FClose{Module.Handle(), "ADVAPI32.dll", "RegCloseKey",
                      reinterpret_cast<void*>(KeyWatch::CloseKey)};
  TImportPatch FSetValue{Module.Handle(), "ADVAPI32.dll", "RegSetValueExA",
                         reinterpret_cast<void*>(KeyWatch::SetValue)};
};

TEST_F(PellmoreRegistryCalls, RegistrationAndUnregistrationCloseEveryKey) {
  SetString(HKEY_CLASSES_ROOT, ".wav", "", "SoundRec");
  EXPECT_EQ(Module.DllRegisterServer(), S_OK);
  EXPECT_EQ(Module.DllUnregisterServer(), S_OK);
  EXPECT_GT(KeyWatch::Opened, 0);
  EXPECT_TRUE(KeyWatch::Open.empty());
}

TEST_F(PellmoreRegistryCalls, EveryStringIsWrittenWithItsTerminatingZero) {
  EXPECT_EQ(Module.DllRegisterServer(), S_OK);
  EXPECT_EQ(KeyWatch::MiscountedStrings, std::vector<std::string>{});
}

TEST_F(PellmoreRegistryCalls, AWavOfWrongTypeFailsBothWaysAndClosesTheWavKey) {
  SetValue(HKEY_CLASSES_ROOT, ".wav", "", REG_DWORD, std::string("\x07\0\0\0", 4));
  EXPECT_EQ(Module.DllRegisterServer(), E_FAIL);
  EXPECT_EQ(Module.DllUnregisterServer(), E_FAIL);
  EXPECT_GT(KeyWatch::Opened, 0);
  EXPECT_TRUE(KeyWatch::Open.empty());
}

} // namespace
