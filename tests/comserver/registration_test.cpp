#include "registration.h"

#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <set>

#include "case_name.h"
#include "exceptions.h"
#include "registry_key.h"
#include "test_classes.h"

namespace {

const char* const TestClassText = "{0C9A3E52-7F41-4B8D-A6E2-5D13C8F07B64}";

// What lies below a key: every subkey path, and every value as
// "path|name" -> data ("<type N>" for anything but a zero-terminated REG_SZ).
struct TRegistryTree {
  std::set<std::string> Keys;
  std::map<std::string, std::string> Values;
};

void ReadTree(HKEY key, const std::string& path, TRegistryTree& tree) {
  char name[512];
  BYTE data[2048];
  for (DWORD i = 0;; ++i) {
    DWORD nameLength = sizeof name, type = 0, size = sizeof data;
    if (RegEnumValueA(key, i, name, &nameLength, nullptr, &type, data, &size) != ERROR_SUCCESS)
      break;
    std::string text(reinterpret_cast<char*>(data), size);
    if (type != REG_SZ || size == 0 || text.back() != '\0')
      text = "<type " + std::to_string(type) + ">";
    else
      text.pop_back();
    tree.Values[path + "|" + name] = text;
  }
  for (DWORD i = 0;; ++i) {
    DWORD nameLength = sizeof name;
    if (RegEnumKeyExA(key, i, name, &nameLength, nullptr, nullptr, nullptr, nullptr) !=
        ERROR_SUCCESS)
      break;
    std::string subPath = path.empty() ? name : path + "\\" + name;
    tree.Keys.insert(subPath);
    TRegKey subKey;
    if (RegOpenKeyExA(key, name, 0, KEY_READ, subKey.put()) == ERROR_SUCCESS)
      ReadTree(subKey.get(), subPath, tree);
  }
}

// HKEY_CLASSES_ROOT redirected to a scratch key below HKEY_CURRENT_USER for
// the length of each test.
class RegistrySandboxTest : public ComServerTest {
protected:
  void SetUp() override {
    ComServerTest::SetUp();
    FScratchPath = "Software\\Tolvane tests\\comserver " + std::to_string(GetCurrentProcessId());
    RegDeleteTreeA(HKEY_CURRENT_USER, FScratchPath.c_str());
    ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, FScratchPath.c_str(), 0, nullptr, 0,
                              KEY_ALL_ACCESS, nullptr, FScratch.put(), nullptr),
              ERROR_SUCCESS);
    ASSERT_EQ(RegOverridePredefKey(HKEY_CLASSES_ROOT, FScratch.get()), ERROR_SUCCESS);
  }
  void TearDown() override {
    RegOverridePredefKey(HKEY_CLASSES_ROOT, nullptr);
    FScratch.reset();
    RegDeleteTreeA(HKEY_CURRENT_USER, FScratchPath.c_str());
    RegDeleteKeyA(HKEY_CURRENT_USER, "Software\\Tolvane tests"); // only when nothing else is in it
    ComServerTest::TearDown();
  }

  TRegistryTree Tree() {
    TRegistryTree tree;
    ReadTree(FScratch.get(), "", tree);
    return tree;
  }

  void MakeKey(const std::string& path) {
    TRegKey key;
    ASSERT_EQ(RegCreateKeyExA(FScratch.get(), path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                              key.put(), nullptr),
              ERROR_SUCCESS);
  }

  // A factory of a server whose module lies at the given path.
  std::unique_ptr<TComObjectFactory> MakeFactory(const std::string& className,
                                                 TThreadingModel threading,
                                                 TClassInstancing instancing = ciMultiInstance) {
    return std::make_unique<TComObjectFactory>(&Server, &ConstructComObject<TTestObject>,
                                               CLSID_TestObject, className, "Test object",
                                               instancing, threading);
  }

  TFakeServer Server{"C:\\Modules\\Sample.Ext.dll"};

private:
  std::string FScratchPath;
  TRegKey FScratch;
};

// A file in a directory whose name holds a blank, removed afterwards.
// The ASCII text of a UTF-16 one that holds nothing else.
std::string WideAsAnsi(const std::wstring& text) {
  return std::string(text.begin(), text.end());
}

class TBlankPathFile {
public:
  TBlankPathFile() {
    char temp[MAX_PATH];
    GetTempPathA(MAX_PATH, temp);
    FDirectory = std::string(temp) + "tolvane comserver " + std::to_string(GetCurrentProcessId());
    CreateDirectoryA(FDirectory.c_str(), nullptr);
    Path = FDirectory + "\\Sample Module.dll";
    HANDLE file = CreateFileA(Path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    if (file != INVALID_HANDLE_VALUE)
      CloseHandle(file);
  }
  ~TBlankPathFile() {
    DeleteFileA(Path.c_str());
    RemoveDirectoryA(FDirectory.c_str());
  }
  std::string Path;

private:
  std::string FDirectory;
};

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

  TRegKey key;
  ASSERT_EQ(RegOpenKeyExA(HKEY_CLASSES_ROOT, "Alpha\\Beta", 0, KEY_READ, key.put()), ERROR_SUCCESS);
  DWORD type = 0, size = 0;
  ASSERT_EQ(RegQueryValueExA(key.get(), "Name", nullptr, &type, nullptr, &size), ERROR_SUCCESS);
  EXPECT_EQ(type, DWORD(REG_SZ));
  EXPECT_EQ(size, sizeof "Value text");

  TRegistryTree tree = Tree();
  EXPECT_EQ(tree.Keys, (std::set<std::string>{"Alpha", "Alpha\\Beta"}));
  EXPECT_EQ(tree.Values, (std::map<std::string, std::string>{{"Alpha\\Beta|Name", "Value text"},
                                                             {"Alpha\\Beta|", "Default text"},
                                                             {"Alpha|Empty", ""}}));
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
  EXPECT_EQ(Tree().Values.size(), 0u);
}

TEST_F(RegistrySandboxTest, DeleteClassesKeyDeletesTheKeyAndNeverRaises) {
  MakeKey("Alpha\\Beta");
  MakeKey("Gamma\\Delta");
  DeleteClassesKey("Alpha\\Beta");
  EXPECT_NO_THROW(DeleteClassesKey("Alpha\\Beta"));
  EXPECT_NO_THROW(DeleteClassesKey("Nowhere\\At all"));
  EXPECT_NO_THROW(DeleteClassesKey("Gamma")); // has a subkey: stays
  EXPECT_EQ(Tree().Keys, (std::set<std::string>{"Alpha", "Gamma", "Gamma\\Delta"}));
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
  TBlankPathFile file;
  const std::string ansi = RegisteredModulePath(file.Path, FromAnsi(file.Path)).Ansi;
  EXPECT_EQ(ansi.find(' '), std::string::npos) << ansi;
  char longPath[MAX_PATH];
  DWORD length = GetLongPathNameA(ansi.c_str(), longPath, MAX_PATH);
  EXPECT_EQ(std::string(longPath, length), file.Path);
  // The same file named by a path the ANSI one does not match.
  const std::wstring wide = RegisteredModulePath("", FromAnsi(file.Path)).Wide;
  EXPECT_TRUE(wide == FromAnsi(ansi));
}

struct TEntriesCase {
  const char* Name;
  const char* ClassName;
  TThreadingModel Threading;
  std::set<std::string> Keys;
  std::map<std::string, std::string> Values;
};

const std::string ClassKey = std::string("CLSID\\") + TestClassText;
const std::string ServerKey = ClassKey + "\\InprocServer32";

std::map<std::string, std::string> ClassValues(const char* threadingModel) {
  std::map<std::string, std::string> values = {{ClassKey + "|", "Test object"},
                                               {ServerKey + "|", "C:\\Modules\\Sample.Ext.dll"}};
  if (threadingModel)
    values[ServerKey + "|ThreadingModel"] = threadingModel;
  return values;
}

std::map<std::string, std::string> WithProgIdValues(std::map<std::string, std::string> values) {
  values["Sample.Ext.TTestObject|"] = "Test object";
  values["Sample.Ext.TTestObject\\Clsid|"] = TestClassText;
  values[ClassKey + "\\ProgID|"] = "Sample.Ext.TTestObject";
  return values;
}

const std::set<std::string> ClassKeys = {"CLSID", ClassKey, ServerKey};
const std::set<std::string> ClassAndProgIdKeys = {"CLSID",
                                                  ClassKey,
                                                  ServerKey,
                                                  ClassKey + "\\ProgID",
                                                  "Sample.Ext.TTestObject",
                                                  "Sample.Ext.TTestObject\\Clsid"};

class GenericEntriesTest : public RegistrySandboxTest,
                           public ::testing::WithParamInterface<TEntriesCase> {};

TEST_P(GenericEntriesTest, RegisteringWritesExactlyTheEntriesAndUnregisteringRemovesThem) {
  const TEntriesCase& c = GetParam();
  auto factory = MakeFactory(c.ClassName, c.Threading);
  factory->UpdateRegistration(true);
  TRegistryTree tree = Tree();
  EXPECT_EQ(tree.Keys, c.Keys);
  EXPECT_EQ(tree.Values, c.Values);

  factory->UpdateRegistration(false);
  tree = Tree();
  EXPECT_EQ(tree.Keys, std::set<std::string>{"CLSID"}); // no step names it
  EXPECT_TRUE(tree.Values.empty());
}

INSTANTIATE_TEST_SUITE_P(
    Classes, GenericEntriesTest,
    ::testing::Values(TEntriesCase{"Apartment", "TTestObject", tmApartment, ClassAndProgIdKeys,
                                   WithProgIdValues(ClassValues("Apartment"))},
                      TEntriesCase{"Free", "TTestObject", tmFree, ClassAndProgIdKeys,
                                   WithProgIdValues(ClassValues("Free"))},
                      TEntriesCase{"Both", "TTestObject", tmBoth, ClassAndProgIdKeys,
                                   WithProgIdValues(ClassValues("Both"))},
                      TEntriesCase{"SingleHasNoThreadingModel", "TTestObject", tmSingle,
                                   ClassAndProgIdKeys, WithProgIdValues(ClassValues(nullptr))},
                      TEntriesCase{"EmptyClassNameHasNoProgId", "", tmApartment, ClassKeys,
                                   ClassValues("Apartment")}),
    [](const ::testing::TestParamInfo<TEntriesCase>& info) { return info.param.Name; });

TEST_F(RegistrySandboxTest, AnInternalFactoryWritesAndRemovesNothing) {
  auto internal = MakeFactory("TTestObject", tmApartment, ciInternal);
  internal->UpdateRegistration(true);
  EXPECT_TRUE(Tree().Keys.empty());

  auto registered = MakeFactory("TTestObject", tmApartment);
  registered->UpdateRegistration(true);
  const TRegistryTree before = Tree();
  internal->UpdateRegistration(false);
  EXPECT_EQ(Tree().Keys, before.Keys);
  EXPECT_EQ(Tree().Values, before.Values);
}

TEST_F(RegistrySandboxTest, RegisteringTwiceLeavesTheSameEntriesWithTheNewestValues) {
  auto factory = MakeFactory("TTestObject", tmApartment);
  factory->UpdateRegistration(true);
  factory->ClassDescription = "Renamed";
  factory->UpdateRegistration(true);
  TRegistryTree tree = Tree();
  EXPECT_EQ(tree.Keys, ClassAndProgIdKeys);
  EXPECT_EQ(tree.Values.at(ClassKey + "|"), "Renamed");
  EXPECT_EQ(tree.Values.at("Sample.Ext.TTestObject|"), "Renamed");
  EXPECT_EQ(tree.Values.size(), 6u);
}

TEST_F(RegistrySandboxTest, UnregisteringWhatIsNotRegisteredSucceedsAndTouchesNothingElse) {
  MakeKey("CLSID\\{E4B27D90-1C5A-4F36-8B0D-92A7E6F3C815}\\InprocServer32");
  MakeKey("Sample.Ext.Other");
  auto factory = MakeFactory("TTestObject", tmApartment);
  EXPECT_NO_THROW(factory->UpdateRegistration(false));
  EXPECT_EQ(Tree().Keys,
            (std::set<std::string>{"CLSID", "CLSID\\{E4B27D90-1C5A-4F36-8B0D-92A7E6F3C815}",
                                   "CLSID\\{E4B27D90-1C5A-4F36-8B0D-92A7E6F3C815}\\InprocServer32",
                                   "Sample.Ext.Other"}));
}

TEST_F(RegistrySandboxTest, UnregisteringDeletesOnlyTheKeysItNames) {
  auto factory = MakeFactory("TTestObject", tmApartment);
  factory->UpdateRegistration(true);
  MakeKey(ClassKey + "\\Implemented Categories");
  factory->UpdateRegistration(false);
  // The class key keeps a subkey that is not the frame's, so it stays.
  EXPECT_EQ(Tree().Keys,
            (std::set<std::string>{"CLSID", ClassKey, ClassKey + "\\Implemented Categories"}));
  EXPECT_EQ(Tree().Values, (std::map<std::string, std::string>{{ClassKey + "|", "Test object"}}));
}

TEST_F(RegistrySandboxTest, AModulePathWithABlankIsRegisteredInItsShortForm) {
  TBlankPathFile file;
  Server.Path = file.Path;
  auto factory = MakeFactory("TTestObject", tmApartment);
  factory->UpdateRegistration(true);
  const std::string stored = Tree().Values.at(ServerKey + "|");
  EXPECT_EQ(stored, RegisteredModulePath(file.Path, FromAnsi(file.Path)).Ansi);
  EXPECT_EQ(stored.find(' '), std::string::npos) << stored;
  // The base name of the program identifier comes from the long path.
  EXPECT_EQ(Tree().Values.at(ClassKey + "\\ProgID|"), "Sample Module.TTestObject");
}

TEST_F(RegistrySandboxTest, AFailingWriteRaisesAndKeepsWhatWasWrittenBefore) {
  auto factory = MakeFactory(std::string(300, 'n'), tmApartment); // program id too long
  try {
    factory->UpdateRegistration(true);
    ADD_FAILURE() << "nothing raised";
  } catch (const EOleError& e) {
    EXPECT_EQ(e.Message(), "Error creating system registry entry");
  }
  EXPECT_EQ(Tree().Values, ClassValues("Apartment"));
}

TEST_F(RegistrySandboxTest, TheRegistrationWalkWritesTheEntriesOfTheServersFactories) {
  new TComObjectFactory(ServerInstance, &ConstructComObject<TTestObject>, CLSID_TestObject,
                        "TTestObject", "Test object", ciMultiInstance, tmApartment);
  new TComObjectFactory(ServerInstance, &ConstructComObject<TTestObject>, CLSID_OtherObject,
                        "TOther", "Other", ciInternal, tmApartment);
  ServerInstance->UpdateServerRegistration(true);
  TRegistryTree tree = Tree();
  EXPECT_EQ(tree.Keys, (std::set<std::string>{"CLSID", ClassKey, ServerKey, ClassKey + "\\ProgID",
                                              "comserver_tests.TTestObject",
                                              "comserver_tests.TTestObject\\Clsid"}));
  EXPECT_EQ(tree.Values.at(ServerKey + "|"), ServerInstance->ServerFilePath());
  ServerInstance->UpdateServerRegistration(false);
  EXPECT_EQ(Tree().Keys, std::set<std::string>{"CLSID"});
}

} // namespace
