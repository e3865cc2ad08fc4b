#include "registration.h"

#include <gtest/gtest.h>

#include <memory>

#include "case_name.h"
#include "exceptions.h"
#include "registry_sandbox.h"
#include "temp_files.h"
#include "test_classes.h"

namespace {

const char* const TestClassText = "{0C9A3E52-7F41-4B8D-A6E2-5D13C8F07B64}";

// HKEY_CLASSES_ROOT redirected to a sandbox for the length of each test.
class RegistrySandboxTest : public ComServerTest {
protected:
  TRegistryTree Tree() { return ReadTree(HKEY_CLASSES_ROOT); }

  // A factory of a server whose module lies at the given path.
  std::unique_ptr<TComObjectFactory> MakeFactory(const std::string& className,
                                                 TThreadingModel threading,
                                                 TClassInstancing instancing = ciMultiInstance) {
    return std::make_unique<TComObjectFactory>(&Server, &ConstructComObject<TTestObject>,
                                               CLSID_TestObject, className, "Test object",
                                               instancing, threading);
  }

  TFakeServer Server{"C:\\Modules\\Sample.Ext.dll"};
  TRegistrySandbox Sandbox;
};

// The ASCII text of a UTF-16 one that holds nothing else.
std::string WideAsAnsi(const std::wstring& text) {
  return std::string(text.begin(), text.end());
}

struct TClassIdCase {
  CLSID ClassId;
  const char* Text;
};
void PrintTo(const TClassIdCase& c, std::ostream* os) {
  *os << c.Text;
}

class ClassIdToTextTest : public ::testing::TestWithParam<TClassIdCase> {};

TEST_P(ClassIdToTextTest, GivesThirtyEightCharactersWithUpperCaseDigitsInBraces) {
  EXPECT_EQ(ClassIdToText(GetParam().ClassId), GetParam().Text);
}

INSTANTIATE_TEST_SUITE_P(
    ClassIds, ClassIdToTextTest,
    ::testing::Values(
        TClassIdCase{{0x241173B6, 0xABDF, 0x4D59, {0x8A, 0x15, 0x47, 0x6F, 0x7A, 0x32, 0x76, 0x75}},
                     "{241173B6-ABDF-4D59-8A15-476F7A327675}"},
        TClassIdCase{{0, 0, 0, {0, 0, 0, 0, 0, 0, 0, 0}}, "{00000000-0000-0000-0000-000000000000}"},
        TClassIdCase{{0xFEDCBA98, 0x7654, 0x3210, {0xAB, 0xCD, 0xEF, 0x01, 0x23, 0x45, 0x67, 0x89}},
                     "{FEDCBA98-7654-3210-ABCD-EF0123456789}"}));

TEST_F(RegistrySandboxTest, CreateClassesKeyStoresTheTextWithItsTerminatingZero) {
  CreateClassesKey("Alpha\\Beta", "Name", "Value text");
  CreateClassesKey("Alpha\\Beta", "", "Default text");
  CreateClassesKey("Alpha", "Empty", "");

  // A REG_SZ (1) without its zero would read "(no NUL)".
  EXPECT_EQ(Tree(), Sorted({"Alpha\\Beta|Name|1|Value text", "Alpha\\Beta||1|Default text",
                            "Alpha|Empty|1|"}));
}

TEST_F(RegistrySandboxTest, CreateClassesKeyThatCannotCreateTheKeyRaisesTheRegistryEntryError) {
  const std::string tooLong(300, 'k'); // key names have at most 255 characters
  try {
    CreateClassesKey("Alpha\\" + tooLong, "", "text");
    ADD_FAILURE() << "nothing raised";
  } catch (const EOleSysError&) {
    ADD_FAILURE() << "raised EOleSysError instead of EOleError";
  } catch (const EOleError& e) {
    EXPECT_EQ(e.Message(), "Error creating system registry entry");
  }
  EXPECT_TRUE(Tree().empty());
}

TEST_F(RegistrySandboxTest, DeleteClassesKeyDeletesTheKeyAndNeverRaises) {
  CreateKey(HKEY_CLASSES_ROOT, "Alpha\\Beta");
  CreateKey(HKEY_CLASSES_ROOT, "Gamma\\Delta");
  DeleteClassesKey("Alpha\\Beta");
  EXPECT_NO_THROW(DeleteClassesKey("Alpha\\Beta"));
  EXPECT_NO_THROW(DeleteClassesKey("Nowhere\\At all"));
  EXPECT_NO_THROW(DeleteClassesKey("Gamma")); // has a subkey: stays
  EXPECT_EQ(Tree(), Sorted({"Alpha|", "Gamma|", "Gamma\\Delta|"}));
}

// Which form of the module path the server key gets.
struct TModulePathCase {
  const char* Name;
  std::string Ansi;
  std::wstring Wide;
  TModulePath Registered;
  bool Raises = false;
};

class RegisteredModulePathTest : public ::testing::TestWithParam<TModulePathCase> {};

TEST_P(RegisteredModulePathTest, IsTheAnsiPathOnlyWhereItNamesTheModule) {
  if (GetParam().Raises) {
    EXPECT_THROW(RegisteredModulePath(GetParam().Ansi, GetParam().Wide), EOleError);
    return;
  }
  const TModulePath registered = RegisteredModulePath(GetParam().Ansi, GetParam().Wide);
  EXPECT_EQ(registered.Ansi, GetParam().Registered.Ansi);
  EXPECT_TRUE(registered.Wide == GetParam().Registered.Wide);
}

const std::wstring CyrillicPath = L"C:\\\x0417\x0432\x0443\x043A\\PELLMORE.DLL";
// Where a character takes two bytes in the ANSI code page, a path of 215
// characters may not fit the 261 the ANSI path is read into.
const std::wstring LongPath = L"C:\\" + std::wstring(200, L'd') + L"\\PELLMORE.DLL";
// MAX_PATH - 1 and MAX_PATH characters, no file: COM reads the longer one
// only in a short form, and there is none.
const std::wstring LongestPath = L"C:\\" + std::wstring(MAX_PATH - 17, L'd') + L"\\PELLMORE.DLL";
const std::wstring TooLongPath = L"C:\\" + std::wstring(MAX_PATH - 16, L'd') + L"\\PELLMORE.DLL";

INSTANTIATE_TEST_SUITE_P(
    Registration, RegisteredModulePathTest,
    ::testing::Values(
        TModulePathCase{"Ansi",
                        "C:\\Modules\\PELLMORE.DLL",
                        L"C:\\Modules\\PELLMORE.DLL",
                        {"C:\\Modules\\PELLMORE.DLL", L""}},
        // No file, so no short form: the path as it is.
        TModulePathCase{"AnsiWithABlankWithoutAShortForm",
                        "C:\\No Such\\Sample Module.dll",
                        L"C:\\No Such\\Sample Module.dll",
                        {"C:\\No Such\\Sample Module.dll", L""}},
        TModulePathCase{
            "OutsideTheAnsiCodePage", "C:\\????\\PELLMORE.DLL", CyrillicPath, {"", CyrillicPath}},
        TModulePathCase{
            "AnsiPathCut", WideAsAnsi(LongPath.substr(0, 150)), LongPath, {"", LongPath}},
        TModulePathCase{"AnsiOfTheLongestPathComReads",
                        WideAsAnsi(LongestPath),
                        LongestPath,
                        {WideAsAnsi(LongestPath), L""}},
        TModulePathCase{
            "AnsiTooLongWithoutAShortForm", WideAsAnsi(TooLongPath), TooLongPath, {}, true},
        TModulePathCase{"WideWithABlankWithoutAShortForm",
                        "C:\\????\\Sample Module.dll",
                        L"C:\\\x0417\x0432\\Sample Module.dll",
                        {"", L"C:\\\x0417\x0432\\Sample Module.dll"}}),
    [](const auto& info) { return std::string(info.param.Name); });

TEST(RegisteredModulePath, FailsWhenNoFormNamesTheModule) {
  EXPECT_THROW(RegisteredModulePath("C:\\Modules\\PELLMORE.DLL", L""), EOleError);
  // Too long for COM to load, and no file that has a short form.
  const std::wstring deep = L"C:\\" + std::wstring(300, L'd') + L"\\PELLMORE.DLL";
  EXPECT_THROW(RegisteredModulePath(WideAsAnsi(deep.substr(0, 261)), deep), EOleError);
}

TEST(RegisteredModulePath, APathWithABlankBecomesItsShortFormInEitherForm) {
  TTempFolder folder;
  const std::wstring path = folder.Write(L"Sample Module.dll", {});
  const std::string ansi = RegisteredModulePath(ToAnsi(path), path).Ansi;
  EXPECT_EQ(ansi.find(' '), std::string::npos) << ansi;
  char longPath[MAX_PATH];
  DWORD length = GetLongPathNameA(ansi.c_str(), longPath, MAX_PATH);
  EXPECT_EQ(std::string(longPath, length), ToAnsi(path));
  // The same file named by a path the ANSI one does not match.
  EXPECT_TRUE(RegisteredModulePath("", path).Wide == FromAnsi(ansi));
}

struct TEntriesCase {
  const char* Name;
  const char* ClassName;
  TThreadingModel Threading;
  TRegistryTree Entries;
};

const std::string ClassKey = std::string("CLSID\\") + TestClassText;
const std::string ServerKey = ClassKey + "\\InprocServer32";

// What registering the test class writes: the class and server keys (with
// the threading model where there is one) and, unless progId is empty, the
// program identifier's keys.
TRegistryTree Entries(const char* threadingModel = "Apartment",
                      const std::string& progId = "Sample.Ext.TTestObject",
                      const std::string& description = "Test object",
                      const std::string& modulePath = "C:\\Modules\\Sample.Ext.dll") {
  TRegistryTree tree = {"CLSID|", ClassKey + "||1|" + description,
                        ServerKey + "||1|" + modulePath};
  if (threadingModel)
    tree.push_back(ServerKey + "|ThreadingModel|1|" + threadingModel);
  if (!progId.empty())
    tree.insert(tree.end(), {progId + "||1|" + description,
                             progId + "\\Clsid||1|" + TestClassText,
                             ClassKey + "\\ProgID||1|" + progId});
  return Sorted(tree);
}

class GenericEntriesTest : public RegistrySandboxTest,
                           public ::testing::WithParamInterface<TEntriesCase> {};

TEST_P(GenericEntriesTest, RegisteringWritesExactlyTheEntriesAndUnregisteringRemovesThem) {
  const TEntriesCase& c = GetParam();
  auto factory = MakeFactory(c.ClassName, c.Threading);
  factory->UpdateRegistration(true);
  EXPECT_EQ(Tree(), c.Entries);
  factory->UpdateRegistration(false);
  EXPECT_EQ(Tree(), TRegistryTree{"CLSID|"}); // no step names it
}

INSTANTIATE_TEST_SUITE_P(
    Classes, GenericEntriesTest,
    ::testing::Values(TEntriesCase{"Apartment", "TTestObject", tmApartment, Entries("Apartment")},
                      TEntriesCase{"Free", "TTestObject", tmFree, Entries("Free")},
                      TEntriesCase{"Both", "TTestObject", tmBoth, Entries("Both")},
                      TEntriesCase{"SingleHasNoThreadingModel", "TTestObject", tmSingle,
                                   Entries(nullptr)},
                      TEntriesCase{"EmptyClassNameHasNoProgId", "", tmApartment,
                                   Entries("Apartment", "")}),
    [](const ::testing::TestParamInfo<TEntriesCase>& info) { return info.param.Name; });

TEST_F(RegistrySandboxTest, AnInternalFactoryWritesAndRemovesNothing) {
  auto internal = MakeFactory("TTestObject", tmApartment, ciInternal);
  internal->UpdateRegistration(true);
  EXPECT_TRUE(Tree().empty());

  auto registered = MakeFactory("TTestObject", tmApartment);
  registered->UpdateRegistration(true);
  const TRegistryTree before = Tree();
  internal->UpdateRegistration(false);
  EXPECT_EQ(Tree(), before);
}

TEST_F(RegistrySandboxTest, RegisteringTwiceLeavesTheSameEntriesWithTheNewestValues) {
  auto factory = MakeFactory("TTestObject", tmApartment);
  factory->UpdateRegistration(true);
  factory->ClassDescription = "Renamed";
  factory->UpdateRegistration(true);
  EXPECT_EQ(Tree(), Entries("Apartment", "Sample.Ext.TTestObject", "Renamed"));
}

TEST_F(RegistrySandboxTest, UnregisteringWhatIsNotRegisteredSucceedsAndTouchesNothingElse) {
  CreateKey(HKEY_CLASSES_ROOT, "CLSID\\{E4B27D90-1C5A-4F36-8B0D-92A7E6F3C815}\\InprocServer32");
  CreateKey(HKEY_CLASSES_ROOT, "Sample.Ext.Other");
  auto factory = MakeFactory("TTestObject", tmApartment);
  EXPECT_NO_THROW(factory->UpdateRegistration(false));
  EXPECT_EQ(Tree(), Sorted({"CLSID|", "CLSID\\{E4B27D90-1C5A-4F36-8B0D-92A7E6F3C815}|",
                            "CLSID\\{E4B27D90-1C5A-4F36-8B0D-92A7E6F3C815}\\InprocServer32|",
                            "Sample.Ext.Other|"}));
}

TEST_F(RegistrySandboxTest, UnregisteringDeletesOnlyTheKeysItNames) {
  auto factory = MakeFactory("TTestObject", tmApartment);
  factory->UpdateRegistration(true);
  CreateKey(HKEY_CLASSES_ROOT, ClassKey + "\\Implemented Categories");
  factory->UpdateRegistration(false);
  // The class key keeps a subkey that is not the frame's, so it stays.
  EXPECT_EQ(Tree(), Sorted({"CLSID|", ClassKey + "||1|Test object",
                            ClassKey + "\\Implemented Categories|"}));
}

TEST_F(RegistrySandboxTest, AModulePathWithABlankIsRegisteredInItsShortForm) {
  TTempFolder folder;
  Server.Path = ToAnsi(folder.Write(L"Sample Module.dll", {}));
  auto factory = MakeFactory("TTestObject", tmApartment);
  factory->UpdateRegistration(true);
  const std::string stored = ReadString(HKEY_CLASSES_ROOT, ServerKey).value_or("");
  EXPECT_EQ(stored, RegisteredModulePath(Server.Path, FromAnsi(Server.Path)).Ansi);
  EXPECT_EQ(stored.find(' '), std::string::npos) << stored;
  // The base name of the program identifier comes from the long path.
  EXPECT_EQ(ReadString(HKEY_CLASSES_ROOT, ClassKey + "\\ProgID"), "Sample Module.TTestObject");
}

TEST_F(RegistrySandboxTest, AFailingWriteRaisesAndKeepsWhatWasWrittenBefore) {
  auto factory = MakeFactory(std::string(300, 'n'), tmApartment); // program id too long
  try {
    factory->UpdateRegistration(true);
    ADD_FAILURE() << "nothing raised";
  } catch (const EOleError& e) {
    EXPECT_EQ(e.Message(), "Error creating system registry entry");
  }
  EXPECT_EQ(Tree(), Entries("Apartment", ""));
}

TEST_F(RegistrySandboxTest, TheRegistrationWalkWritesTheEntriesOfTheServersFactories) {
  new TComObjectFactory(ServerInstance, &ConstructComObject<TTestObject>, CLSID_TestObject,
                        "TTestObject", "Test object", ciMultiInstance, tmApartment);
  new TComObjectFactory(ServerInstance, &ConstructComObject<TTestObject>, CLSID_OtherObject,
                        "TOther", "Other", ciInternal, tmApartment);
  ServerInstance->UpdateServerRegistration(true);
  EXPECT_EQ(Tree(), Entries("Apartment", "comserver_tests.TTestObject", "Test object",
                            ServerInstance->ServerFilePath()));
  ServerInstance->UpdateServerRegistration(false);
  EXPECT_EQ(Tree(), TRegistryTree{"CLSID|"});
}

} // namespace
