// TComObjectFactory::UpdateRegistration against a registry sandbox: the keys
// and values of a class, what unregistering leaves, and the failure paths.
#include "class_factory.h"

#include <gtest/gtest.h>

#include "case_name.h"
#include "exceptions.h"
#include "temp_files.h"
#include "test_classes.h"

namespace {

struct TEntriesCase {
  const char* Name;
  const char* ClassName;
  TThreadingModel Threading;
  TRegistryTree Entries;
};

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
    ::testing::Values(TEntriesCase{"Apartment", "TTestObject", tmApartment,
                                   TestObjectEntries("Apartment")},
                      TEntriesCase{"Free", "TTestObject", tmFree, TestObjectEntries("Free")},
                      TEntriesCase{"Both", "TTestObject", tmBoth, TestObjectEntries("Both")},
                      TEntriesCase{"SingleHasNoThreadingModel", "TTestObject", tmSingle,
                                   TestObjectEntries(nullptr)},
                      TEntriesCase{"EmptyClassNameHasNoProgId", "", tmApartment,
                                   TestObjectEntries("Apartment", "")}),
    TCaseName());

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
  EXPECT_EQ(Tree(), TestObjectEntries("Apartment", "Sample.Ext.TTestObject", "Renamed"));
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
  CreateKey(HKEY_CLASSES_ROOT, TestClassKey + "\\Implemented Categories");
  factory->UpdateRegistration(false);
  // The class key keeps a subkey that is not the frame's, so it stays.
  EXPECT_EQ(Tree(), Sorted({"CLSID|", TestClassKey + "||1|Test object",
                            TestClassKey + "\\Implemented Categories|"}));
}

TEST_F(RegistrySandboxTest, AModulePathWithABlankIsRegisteredInItsShortForm) {
  TTempFolder folder;
  Server.Path = ToAnsi(folder.Write(L"Sample Module.dll", {}));
  auto factory = MakeFactory("TTestObject", tmApartment);
  factory->UpdateRegistration(true);
  const std::string stored = ReadString(HKEY_CLASSES_ROOT, TestServerKey).value_or("");
  EXPECT_EQ(stored, RegisteredModulePath(Server.Path, FromAnsi(Server.Path)).Ansi);
  EXPECT_EQ(stored.find(' '), std::string::npos) << stored;
  // The base name of the program identifier comes from the long path.
  EXPECT_EQ(ReadString(HKEY_CLASSES_ROOT, TestClassKey + "\\ProgID"), "Sample Module.TTestObject");
}

TEST_F(RegistrySandboxTest, AFailingWriteRaisesAndKeepsWhatWasWrittenBefore) {
  auto factory = MakeFactory(std::string(300, 'n'), tmApartment); // program id too long
  try {
    factory->UpdateRegistration(true);
    ADD_FAILURE() << "nothing raised";
  } catch (const EOleError& e) {
    EXPECT_EQ(e.Message(), "Error creating system registry entry");
  }
  EXPECT_EQ(Tree(), TestObjectEntries("Apartment", ""));
}

} // namespace
