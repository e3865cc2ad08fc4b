// TTolvaneFactory::UpdateRegistration inside this executable, against a
// registry sandbox: the generic and the shell entries, the file type rules,
// the failure paths and the message box.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "ansi_text.h"
#include "case_name.h"
#include "class_id.h"
#include "class_manager.h"
#include "exceptions.h"
#include "expected_entries.h"
#include "identity.h"
#include "message_box_capture.h"
#include "registry_sandbox.h"
#include "server.h"
#include "shell_registration.h"
#include "tolvane.h"
#include "tolvane_factory.h"

namespace {

const TCapturedBoxes FailureBox = {{nullptr,
                                    "Registration of Tolvane shell extension failed.\r\n"
                                    "You may not have administrator privilegies.",
                                    "Registration Failure", MB_ICONERROR}};

// A file type name that no ANSI code page holds whole: Cyrillic and Greek.
const std::wstring OutsideAnsi = L"\u0417\u0432\u0443\u043a-\u0389\u03c7\u03bf\u03c2.WAV";

// The module path as this executable registers it.
std::string ThisModulePath() {
  char path[MAX_PATH];
  DWORD length = GetModuleFileNameA(nullptr, path, MAX_PATH);
  std::string text(path, length);
  if (text.find(' ') != std::string::npos) {
    char shortPath[MAX_PATH];
    DWORD shortLength = GetShortPathNameA(path, shortPath, MAX_PATH);
    if (shortLength > 0 && shortLength < MAX_PATH)
      text.assign(shortPath, shortLength);
  }
  return text;
}

TRegistryTree Generic() {
  return GenericEntries(ThisModulePath(), "registration_tests.TTolvane");
}

// The message of the Exception that action raises, or "(no failure)".
std::string FailureOf(const std::function<void()>& action) {
  try {
    action();
  } catch (const Exception& e) {
    return e.Message();
  }
  return "(no failure)";
}

class TolvaneFactoryRegistration : public ::testing::Test {
protected:
  void SetUp() override {
    FPreviousPlatform = PlatformId;
    PlatformId = VER_PLATFORM_WIN32_NT;
    Server = std::make_unique<TComServer>();
    FPreviousServer = std::exchange(ServerInstance, Server.get());
    Factory = new TTolvaneFactory(Server.get()); // destroyed by the server
  }
  void TearDown() override {
    Server.reset();
    ServerInstance = FPreviousServer;
    PlatformId = FPreviousPlatform;
  }

  void Register() { Factory->UpdateRegistration(true); }
  void Unregister() { Factory->UpdateRegistration(false); }
  TRegistryTree Classes() { return ReadTree(HKEY_CLASSES_ROOT); }
  TRegistryTree Machine() { return ReadTree(HKEY_LOCAL_MACHINE); }

  std::optional<TRegistrySandbox> Sandbox{std::in_place};
  TMessageBoxCapture Boxes;
  std::unique_ptr<TComServer> Server;
  TTolvaneFactory* Factory = nullptr;

private:
  DWORD FPreviousPlatform = 0;
  TComServer* FPreviousServer = nullptr;
};

TEST_F(TolvaneFactoryRegistration, TheFactoryMakesExtensionObjects) {
  IShellPropSheetExt* pages = nullptr;
  ASSERT_EQ(
      Factory->CreateInstance(nullptr, IID_IShellPropSheetExt, reinterpret_cast<void**>(&pages)),
      S_OK);
  EXPECT_NE(dynamic_cast<TTolvane*>(pages), nullptr);
  EXPECT_EQ(Server->LiveObjects, 1);
  pages->Release();
  EXPECT_EQ(Server->LiveObjects, 0);
}

// No ".wav" key, or a default value of ".wav" that names no file type.
struct TNoFileType {
  const char* Name;
  std::function<void()> Prepare;
};

class WavWithoutFileType : public TolvaneFactoryRegistration,
                           public ::testing::WithParamInterface<TNoFileType> {};

TEST_P(WavWithoutFileType, RegistersEveryEntryUnderWavFileAndSetsItAsTheDefault) {
  GetParam().Prepare();
  Register();
  EXPECT_EQ(Classes(), Sorted(Generic(), ShellEntries("WAV.File")));
  EXPECT_EQ(Machine(), ApprovalEntries());
  EXPECT_TRUE(Boxes.Boxes().empty());
}

INSTANTIATE_TEST_SUITE_P(
    DefaultValue, WavWithoutFileType,
    ::testing::Values(TNoFileType{"NoKey", [] {}},
                      TNoFileType{"Missing", [] { CreateKey(HKEY_CLASSES_ROOT, ".wav"); }},
                      TNoFileType{"Empty", [] { SetString(HKEY_CLASSES_ROOT, ".wav", "", ""); }},
                      TNoFileType{"Blanks",
                                  [] { SetString(HKEY_CLASSES_ROOT, ".wav", "", " \t \r\n "); }},
                      // Zero bytes of any type read as the empty text.
                      TNoFileType{"EmptyBinary",
                                  [] { SetValue(HKEY_CLASSES_ROOT, ".wav", "", REG_BINARY, ""); }}),
    TCaseName());

// A default value of ".wav" that names a file type, and the type hooked.
struct TNamedFileType {
  const char* Name;
  DWORD Type;
  std::string Data;
  std::string FileType;
};

class WavWithFileType : public TolvaneFactoryRegistration,
                        public ::testing::WithParamInterface<TNamedFileType> {};

TEST_P(WavWithFileType, HooksTheNamedTypeAndKeepsWhatItHoldsAndWavAsItIs) {
  SetValue(HKEY_CLASSES_ROOT, ".wav", "", GetParam().Type, GetParam().Data);
  SetString(HKEY_CLASSES_ROOT, GetParam().FileType, "", "Wave Sound");
  SetString(HKEY_CLASSES_ROOT, GetParam().FileType + "\\shellex\\PropertySheetHandlers\\Other", "",
            "{00000000-0000-0000-0000-000000000001}");
  TRegistryTree wav;
  for (const std::string& line : Classes())
    if (line.rfind(".wav|", 0) == 0)
      wav.push_back(line);
  Register();
  const std::string type = GetParam().FileType;
  EXPECT_EQ(
      Classes(),
      Sorted(Generic(), wav, LastingHookEntries(), TRegistryTree{
                            type + "||1|Wave Sound",
                            type + "\\shellex||1|",
                            type + "\\shellex\\PropertySheetHandlers||1|",
                            type + "\\shellex\\PropertySheetHandlers\\Other||1|"
                                   "{00000000-0000-0000-0000-000000000001}",
                            type + "\\shellex\\PropertySheetHandlers\\Tolvane||1|" + ClassIdText,
                        }));
  EXPECT_TRUE(Boxes.Boxes().empty());
}

INSTANTIATE_TEST_SUITE_P(
    DefaultValue, WavWithFileType,
    ::testing::Values(
        TNamedFileType{"Plain", REG_SZ, std::string("SoundRec\0", 9), "SoundRec"},
        // The name is used exactly as read, surrounding blanks included.
        TNamedFileType{"Blanks", REG_SZ, std::string(" Sound Rec \0", 12), " Sound Rec "},
        // Taken as stored, not expanded; its type stays.
        TNamedFileType{"Expandable", REG_EXPAND_SZ, std::string("%Wave%\0", 7), "%Wave%"},
        // The text ends at its first NUL.
        TNamedFileType{"EmbeddedNul", REG_SZ, std::string("SoundRec\0junk\0", 14), "SoundRec"},
        TNamedFileType{"Unterminated", REG_SZ, "SoundRec", "SoundRec"}),
    TCaseName());

// A default value of ".wav" that is no string: the registration stops after
// the generic entries.
struct TWrongType {
  const char* Name;
  DWORD Type;
  std::string Data;
  std::string Hex;
};

class WavOfWrongType : public TolvaneFactoryRegistration,
                       public ::testing::WithParamInterface<TWrongType> {};

TEST_P(WavOfWrongType, FailsAfterTheGenericEntriesWithoutAMessageBox) {
  SetValue(HKEY_CLASSES_ROOT, ".wav", "", GetParam().Type, GetParam().Data);
  EXPECT_EQ(FailureOf([&] { Register(); }), "Invalid data type for ''");
  EXPECT_EQ(Classes(), Sorted(Generic(), TRegistryTree{".wav||" + std::to_string(GetParam().Type) +
                                                       "|" + GetParam().Hex}));
  EXPECT_TRUE(Machine().empty());
  EXPECT_TRUE(Boxes.Boxes().empty());
}

TEST_P(WavOfWrongType, FailsTheUnregistrationAfterRemovingTheGenericEntries) {
  Register();
  SetValue(HKEY_CLASSES_ROOT, ".wav", "", GetParam().Type, GetParam().Data);
  EXPECT_EQ(FailureOf([&] { Unregister(); }), "Invalid data type for ''");
  // The lasting hooks go; the type's, which .wav no longer names, stays.
  TRegistryTree hook = TypeEntries("WAV.File");
  hook.erase(hook.begin()); // ".wav" now holds the wrong type
  EXPECT_EQ(Classes(), Sorted(TRegistryTree{"CLSID|", ".wav||" + std::to_string(GetParam().Type) +
                                                          "|" + GetParam().Hex},
                              hook, Anchors()));
}

INSTANTIATE_TEST_SUITE_P(
    DefaultValue, WavOfWrongType,
    ::testing::Values(TWrongType{"Binary", REG_BINARY, std::string("\x01\x02\x03", 3), "010203"},
                      TWrongType{"Dword", REG_DWORD, std::string("\x05\0\0\0", 4), "05000000"}),
    TCaseName());

// A shell entry that cannot be written: the box, once; the registration
// fails when the hook is missing, not when only the approval is.
struct TShellEntryFailure {
  const char* Name;
  std::function<void()> Prepare;
  std::string Failure;
  std::function<TRegistryTree()> Classes;
};

class ShellEntryFailure : public TolvaneFactoryRegistration,
                          public ::testing::WithParamInterface<TShellEntryFailure> {};

TEST_P(ShellEntryFailure, ShowsTheBoxOnceAndStopsTheRemainingSteps) {
  GetParam().Prepare();
  EXPECT_EQ(FailureOf([&] { Register(); }), GetParam().Failure);
  EXPECT_EQ(Boxes.Boxes(), FailureBox);
  EXPECT_EQ(Classes(), GetParam().Classes());
  EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, ApprovedKey));
}

INSTANTIATE_TEST_SUITE_P(
    Registration, ShellEntryFailure,
    ::testing::Values(
        // Below a volatile key the registry refuses to create the non-volatile
        // "Approved", so the approval value cannot be written.
        TShellEntryFailure{
            "ApprovalOnly",
            [] {
              CreateVolatileKey(HKEY_LOCAL_MACHINE, "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\"
                                                    "Shell Extensions");
            },
            "(no failure)", [] { return Sorted(Generic(), ShellEntries("WAV.File")); }},
        // The file type's key is volatile: its "shellex" cannot be created.
        TShellEntryFailure{
            "Hook",
            [] {
              SetString(HKEY_CLASSES_ROOT, ".wav", "", "Volatile.Type");
              CreateVolatileKey(HKEY_CLASSES_ROOT, "Volatile.Type");
            },
            "Error creating system registry entry",
            [] {
              return Sorted(Generic(), TRegistryTree{".wav||1|Volatile.Type", "Volatile.Type|"});
            }},
        // Through the ANSI calls the name would become "????.WAV": no key of
        // any type is written.
        TShellEntryFailure{
            "TypeOutsideTheAnsiCodePage", [] { SetWideString(HKEY_CLASSES_ROOT, ".wav", OutsideAnsi); },
            "The file type of '.wav' is not in the ANSI code page",
            [] { return Sorted(Generic(), TRegistryTree{".wav||1|" + ToAnsi(OutsideAnsi)}); }}),
    TCaseName());

TEST_F(TolvaneFactoryRegistration, UnwritableClassesFailInTheGenericPartWithoutABox) {
  Sandbox.reset();
  Sandbox.emplace(TClassesAccess::Unwritable);
  EXPECT_EQ(FailureOf([&] { Register(); }), "Error creating system registry entry");
  EXPECT_TRUE(ReadTree(HKEY_CLASSES_ROOT).empty());
  EXPECT_TRUE(ReadTree(HKEY_LOCAL_MACHINE).empty());
  EXPECT_TRUE(Boxes.Boxes().empty());
}

class OtherPlatform : public TolvaneFactoryRegistration,
                      public ::testing::WithParamInterface<DWORD> {};

TEST_P(OtherPlatform, WritesNothingBelowTheMachineKey) {
  PlatformId = GetParam();
  Register();
  EXPECT_EQ(Classes(), Sorted(Generic(), ShellEntries("WAV.File")));
  EXPECT_TRUE(Machine().empty());
  EXPECT_TRUE(Boxes.Boxes().empty());
}

// 0: GetVersionExA failed; 1: Windows 9x; 3: Windows CE.
INSTANTIATE_TEST_SUITE_P(PlatformId, OtherPlatform, ::testing::Values(0u, 1u, 3u));

TEST_F(TolvaneFactoryRegistration, RegisteringOverwritesChangedValues) {
  Register();
  SetString(HKEY_CLASSES_ROOT, "CLSID\\" + ClassIdText, "", "changed");
  SetString(HKEY_CLASSES_ROOT, "WAV.File\\shellex\\PropertySheetHandlers\\Tolvane", "", "changed");
  SetString(HKEY_LOCAL_MACHINE, ApprovedKey, ClassIdText, "changed");
  Register();
  EXPECT_EQ(Classes(), Sorted(Generic(), ShellEntries("WAV.File")));
  EXPECT_EQ(Machine(), ApprovalEntries());
  EXPECT_TRUE(Boxes.Boxes().empty());
}

TEST_F(TolvaneFactoryRegistration, UnregisteringRemovesTheClassTheProgIdAndTheHookOnly) {
  Register();
  Unregister();
  EXPECT_EQ(Classes(), Sorted(TRegistryTree{"CLSID|"}, KeptShellEntries("WAV.File")));
  EXPECT_EQ(Machine(), ApprovalEntries());
  EXPECT_EQ(FailureOf([&] { Unregister(); }), "(no failure)");
  EXPECT_EQ(Classes(), Sorted(TRegistryTree{"CLSID|"}, KeptShellEntries("WAV.File")));
  EXPECT_TRUE(Boxes.Boxes().empty());
}

TEST_F(TolvaneFactoryRegistration, UnregisteringRemovesTheHookOfTheTypeWavNamesNow) {
  Register();
  SetString(HKEY_CLASSES_ROOT, ".wav", "", "SoundRec");
  SetString(HKEY_CLASSES_ROOT, "SoundRec\\shellex\\PropertySheetHandlers\\Tolvane", "",
            ClassIdText);
  Unregister();
  EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, "SoundRec\\shellex\\PropertySheetHandlers\\Tolvane"));
  EXPECT_TRUE(KeyExists(HKEY_CLASSES_ROOT, "SoundRec\\shellex\\PropertySheetHandlers"));
  EXPECT_EQ(ReadString(HKEY_CLASSES_ROOT, "WAV.File\\shellex\\PropertySheetHandlers\\Tolvane"),
            ClassIdText);
}

TEST_F(TolvaneFactoryRegistration, UnregisteringLeavesOtherProgramsHandlersBelowTheLastingHooks) {
  const std::string others[] = {"*\\shellex\\PropertySheetHandlers\\Other",
                                "SystemFileAssociations\\.wav\\shellex\\Other"};
  for (const std::string& key : others)
    SetString(HKEY_CLASSES_ROOT, key, "", "{00000000-0000-0000-0000-000000000001}");
  const TRegistryTree before = Classes();
  Register();
  EXPECT_EQ(ReadString(HKEY_CLASSES_ROOT, "*\\shellex\\PropertySheetHandlers\\Tolvane"),
            ClassIdText);
  Unregister();
  // Besides what was there: what unregistration keeps, the class folder and
  // the type's keys.
  TRegistryTree expected = before;
  for (const std::string& line : Sorted(TRegistryTree{"CLSID|"}, KeptShellEntries("WAV.File")))
    if (std::find(before.begin(), before.end(), line) == before.end())
      expected.push_back(line);
  EXPECT_EQ(Classes(), Sorted(expected));
}

// The installers write the class identifier's text (identity.h) the module
// registers by its binary form.
TEST_F(TolvaneFactoryRegistration, TheClassIdentifierIsTheTextTheInstallersWrite) {
  EXPECT_EQ(ClassIdToText(CLSID_Tolvane), TOLVANE_CLASS_ID);
}

TEST_F(TolvaneFactoryRegistration, UnregisteringKeepsAHandlerKeyThatHasSubkeys) {
  // RegDeleteKeyA removes only leaf keys; someone else's data below stays.
  Register();
  CreateKey(HKEY_CLASSES_ROOT, "WAV.File\\shellex\\PropertySheetHandlers\\Tolvane\\Foreign");
  Unregister();
  EXPECT_TRUE(KeyExists(HKEY_CLASSES_ROOT, "WAV.File\\shellex\\PropertySheetHandlers\\Tolvane"));
  EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, "CLSID\\" + ClassIdText));
}

} // namespace
