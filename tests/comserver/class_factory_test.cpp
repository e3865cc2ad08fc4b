#include "class_factory.h"

#include <gtest/gtest.h>

#include <memory>
#include <new>
#include <thread>

#include "case_name.h"
#include "class_manager.h"
#include "import_patch.h"
#include "test_classes.h"

namespace {

class ClassFactoryTest : public ComServerTest {
protected:
  void SetUp() override {
    ComServerTest::SetUp();
    Factory = NewFactory();
  }
  // Stores something through an out pointer that the call must overwrite.
  static void* Garbage() { return reinterpret_cast<void*>(0x1234); }

  TComObjectFactory* Factory = nullptr;
};

TEST_F(ClassFactoryTest, IUnknownAndIClassFactoryAreOnePointerAndEachQueryTakesAReference) {
  void* unknown = nullptr;
  void* classFactory = nullptr;
  EXPECT_EQ(Factory->QueryInterface(IID_IUnknown, &unknown), S_OK);
  EXPECT_EQ(ServerInstance->FactoryRefs, 1);
  EXPECT_EQ(Factory->QueryInterface(IID_IClassFactory, &classFactory), S_OK);
  EXPECT_EQ(ServerInstance->FactoryRefs, 2);
  EXPECT_EQ(unknown, classFactory);
  EXPECT_EQ(classFactory, static_cast<IClassFactory*>(Factory));
  Factory->Release();
  Factory->Release();
}

TEST_F(ClassFactoryTest, QueryInterfaceForAnythingElseGivesNoInterfaceAndTakesNoReference) {
  for (const IID* iid : {&IID_IDispatch, &IID_ISupportErrorInfo, &IID_ITestPing}) {
    void* itf = Garbage();
    EXPECT_EQ(Factory->QueryInterface(*iid, &itf), E_NOINTERFACE);
    EXPECT_EQ(itf, nullptr);
  }
  EXPECT_EQ(ServerInstance->FactoryRefs, 0);
}

TEST_F(ClassFactoryTest, AddRefAndReleaseReturnTheServerFactoryCountAndNeverDestroyTheFactory) {
  IClassFactory* classFactory = nullptr;
  ASSERT_EQ(Factory->QueryInterface(IID_IClassFactory, reinterpret_cast<void**>(&classFactory)),
            S_OK);
  EXPECT_EQ(classFactory->AddRef(), 2u);
  EXPECT_EQ(classFactory->Release(), 1u);
  EXPECT_EQ(classFactory->Release(), 0u);
  EXPECT_EQ(ClassManager().FindFactory(CLSID_TestObject), Factory);
  EXPECT_EQ(Factory->QueryInterface(IID_IClassFactory, reinterpret_cast<void**>(&classFactory)),
            S_OK);
  EXPECT_EQ(classFactory->Release(), 0u);
}

TEST_F(ClassFactoryTest, FactoryReferencesOfSeveralFactoriesAddUpInTheServer) {
  TComObjectFactory* other = NewFactory(&ConstructComObject<TTestObject>, CLSID_OtherObject);
  EXPECT_EQ(Factory->AddRef(), 1u);
  EXPECT_EQ(other->AddRef(), 2u);
  EXPECT_EQ(Factory->Release(), 1u);
  EXPECT_EQ(other->Release(), 0u);
}

struct TCreateCase {
  const char* Name;
  bool Aggregated;
  const IID* Iid;
  HRESULT Result;
  int Constructed;
  int Destroyed;
};

class CreateInstanceTest : public ClassFactoryTest,
                           public ::testing::WithParamInterface<TCreateCase> {};

TEST_P(CreateInstanceTest, ReturnsTheResultAndLeavesTheCountsBalanced) {
  const TCreateCase& c = GetParam();
  TTestOuter outer;
  void* itf = Garbage();
  EXPECT_EQ(Factory->CreateInstance(c.Aggregated ? &outer : nullptr, *c.Iid, &itf), c.Result);
  EXPECT_EQ(TTestObject::Constructed, c.Constructed);
  EXPECT_EQ(TTestObject::Destroyed, c.Destroyed);
  if (SUCCEEDED(c.Result)) {
    ASSERT_NE(itf, nullptr);
    EXPECT_EQ(ServerInstance->LiveObjects, 1);
    // The one reference is the caller's: releasing it destroys the object.
    EXPECT_EQ(static_cast<IUnknown*>(itf)->Release(), 0u);
    EXPECT_EQ(TTestObject::Destroyed, 1);
  } else {
    EXPECT_EQ(itf, nullptr);
  }
  EXPECT_EQ(ServerInstance->LiveObjects, 0);
  EXPECT_EQ(ServerInstance->FactoryRefs, 0);
  EXPECT_TRUE(Boxes.Boxes().empty());
  EXPECT_EQ(outer.AddRefs, 0);
}

INSTANTIATE_TEST_SUITE_P(
    Paths, CreateInstanceTest,
    ::testing::Values(TCreateCase{"OwnInterface", false, &IID_ITestPing, S_OK, 1, 0},
                      TCreateCase{"BaseInterface", false, &IID_ISupportErrorInfo, S_OK, 1, 0},
                      TCreateCase{"Unknown", false, &IID_IUnknown, S_OK, 1, 0},
                      TCreateCase{"UnlistedInterface", false, &IID_IDispatch, E_NOINTERFACE, 1, 1},
                      TCreateCase{"AggregatedForOwnInterface", true, &IID_ITestPing,
                                  CLASS_E_NOAGGREGATION, 0, 0},
                      TCreateCase{"AggregatedForUnlistedInterface", true, &IID_IDispatch,
                                  CLASS_E_NOAGGREGATION, 0, 0},
                      TCreateCase{"AggregatedForUnknown", true, &IID_IUnknown, S_OK, 1, 0}),
    TCaseName());

TEST_F(ClassFactoryTest, CreateInstanceHandsOutTheRequestedInterfaceOfAnObjectWithOneReference) {
  ITestPing* ping = nullptr;
  ASSERT_EQ(Factory->CreateInstance(nullptr, IID_ITestPing, reinterpret_cast<void**>(&ping)), S_OK);
  auto* object = static_cast<TTestObject*>(ping);
  EXPECT_EQ(object->ReferenceCount, 1);
  EXPECT_EQ(object->OwnerFactory, Factory);
  EXPECT_EQ(object->OuterUnknown, nullptr);
  EXPECT_EQ(ServerInstance->LiveObjects, 1);
  ping->Release();
}

TEST_F(ClassFactoryTest, AnAggregatedCreationHandsOutTheInnerUnknown) {
  TTestOuter outer;
  IUnknown* inner = nullptr;
  ASSERT_EQ(Factory->CreateInstance(&outer, IID_IUnknown, reinterpret_cast<void**>(&inner)), S_OK);
  // Only the inner unknown's AddRef counts on the object; no other one would.
  ITestPing* ping = nullptr;
  ASSERT_EQ(inner->QueryInterface(IID_ITestPing, reinterpret_cast<void**>(&ping)), S_OK);
  auto* object = static_cast<TTestObject*>(ping);
  EXPECT_EQ(object->InnerUnknown(), inner);
  EXPECT_EQ(object->OuterUnknown, &outer);
  EXPECT_EQ(object->ReferenceCount, 1);
  EXPECT_EQ(outer.AddRefs, 1);
  EXPECT_EQ(inner->Release(), 0u);
}

TEST_F(ClassFactoryTest, CreateInstanceWithoutAnOutPointerReturnsEPointerAndCreatesNothing) {
  EXPECT_EQ(Factory->CreateInstance(nullptr, IID_IUnknown, nullptr), E_POINTER);
  TTestOuter outer;
  EXPECT_EQ(Factory->CreateInstance(&outer, IID_ITestPing, nullptr), E_POINTER);
  EXPECT_EQ(TTestObject::Constructed, 0);
  EXPECT_EQ(ServerInstance->LiveObjects, 0);
}

struct TFailureCase {
  const char* Name;
  TFailingObject::TFailure Failure;
  const char* Message;
  const char* Shown; // nullptr: no message box
};

class CreationFailureTest : public ClassFactoryTest,
                            public ::testing::WithParamInterface<TFailureCase> {};

TEST_P(CreationFailureTest, ShowsTheMessageClosedByAFullStopAndReturnsEUnexpected) {
  const TFailureCase& c = GetParam();
  TComObjectFactory* failing = NewFactory(&ConstructComObject<TFailingObject>, CLSID_OtherObject);
  TFailingObject::Failure = c.Failure;
  TFailingObject::Message = c.Message;

  void* itf = Garbage();
  EXPECT_EQ(failing->CreateInstance(nullptr, IID_IUnknown, &itf), E_UNEXPECTED);
  EXPECT_EQ(itf, nullptr);
  EXPECT_EQ(TTestObject::Constructed, 1);
  EXPECT_EQ(TTestObject::Destroyed, 1);
  EXPECT_EQ(ServerInstance->LiveObjects, 0);
  TCapturedBoxes shown;
  if (c.Shown)
    shown.push_back({nullptr, c.Shown, "Brasket Error", MB_OK | MB_ICONSTOP | MB_SETFOREGROUND});
  EXPECT_EQ(Boxes.Boxes(), shown);
}

INSTANTIATE_TEST_SUITE_P(
    Messages, CreationFailureTest,
    ::testing::Values(
        TFailureCase{"OutOfMemoryGainsAFullStop", TFailingObject::fException, "Out of memory",
                     "Out of memory."},
        TFailureCase{"BadAllocReadsOutOfMemory", TFailingObject::fBadAlloc, "", "Out of memory."},
        TFailureCase{"ExclamationMarkStays", TFailingObject::fException, "Stop!", "Stop!"},
        TFailureCase{"FullStopStays", TFailingObject::fException, "Done.", "Done."},
        TFailureCase{"HyphenStays", TFailingObject::fException, "half-", "half-"},
        TFailureCase{"CommaStays", TFailingObject::fException, "list,", "list,"},
        TFailureCase{"BlankStays", TFailingObject::fException, "blank ", "blank "},
        TFailureCase{"LineBreakStays", TFailingObject::fException, "line\n", "line\n"},
        TFailureCase{"SlashGainsAFullStop", TFailingObject::fException, "a/", "a/."},
        TFailureCase{"DigitGainsAFullStop", TFailingObject::fException, "code 0", "code 0."},
        TFailureCase{"UpperHalfByteGainsAFullStop", TFailingObject::fException, "caf\xE9",
                     "caf\xE9."},
        TFailureCase{"EmptyMessageIsShownEmpty", TFailingObject::fException, "", ""},
        TFailureCase{"ForeignExceptionShowsNothing", TFailingObject::fForeign, "foreign", nullptr}),
    TCaseName());

TComObject* RunOutOfMemory(TComObjectFactory&, IUnknown*) {
  throw std::bad_alloc();
}

TEST_F(ClassFactoryTest, AFailureBeforeAnyObjectExistsIsShownAndReturnsEUnexpected) {
  TComObjectFactory* failing = NewFactory(&RunOutOfMemory, CLSID_OtherObject);
  void* itf = Garbage();
  EXPECT_EQ(failing->CreateInstance(nullptr, IID_IUnknown, &itf), E_UNEXPECTED);
  EXPECT_EQ(itf, nullptr);
  ASSERT_EQ(Boxes.Boxes().size(), 1u);
  EXPECT_EQ(Boxes.Boxes()[0].Text, "Out of memory.");
  EXPECT_EQ(ServerInstance->LiveObjects, 0);
}

TEST_F(ClassFactoryTest, ObjectsCreatedOnManyThreadsAtOnceAreAllCountedInAndOut) {
  std::vector<std::thread> threads;
  for (int i = 0; i < 4; ++i)
    threads.emplace_back([this] {
      for (int n = 0; n < 500; ++n) {
        IUnknown* unknown = nullptr;
        if (Factory->CreateInstance(nullptr, IID_IUnknown, reinterpret_cast<void**>(&unknown)) ==
            S_OK)
          unknown->Release();
      }
    });
  for (std::thread& thread : threads)
    thread.join();
  EXPECT_EQ(TTestObject::Constructed, 2000);
  EXPECT_EQ(TTestObject::Destroyed, 2000);
  EXPECT_EQ(ServerInstance->LiveObjects, 0);
}

// Stands in for ole32's CoLockObjectExternal to see what LockServer passes
// and to choose what it answers.
struct TExternalLocks {
  static HRESULT Answer;
  static std::vector<std::pair<IUnknown*, BOOL>> Calls;
  static BOOL LastUnlockReleases;
  static HRESULT WINAPI Record(IUnknown* object, BOOL lock, BOOL lastUnlockReleases) {
    Calls.emplace_back(object, lock);
    LastUnlockReleases = lastUnlockReleases;
    return Answer;
  }
};
HRESULT TExternalLocks::Answer = S_OK;
std::vector<std::pair<IUnknown*, BOOL>> TExternalLocks::Calls;
BOOL TExternalLocks::LastUnlockReleases = FALSE;

TEST_F(ClassFactoryTest, LockServerPassesOnTheExternalLockResultAndCountsRegardless) {
  TImportPatch patch(GetModuleHandleA(nullptr), "ole32.dll", "CoLockObjectExternal",
                     reinterpret_cast<void*>(&TExternalLocks::Record));
  ASSERT_NE(patch.Original(), nullptr);
  TExternalLocks::Calls.clear();

  TExternalLocks::Answer = E_OUTOFMEMORY;
  EXPECT_EQ(Factory->LockServer(TRUE), E_OUTOFMEMORY);
  EXPECT_EQ(ServerInstance->LiveObjects, 1);
  TExternalLocks::Answer = S_OK;
  EXPECT_EQ(Factory->LockServer(2), S_OK); // any nonzero value locks
  EXPECT_EQ(ServerInstance->LiveObjects, 2);
  TExternalLocks::Answer = CO_E_NOTINITIALIZED;
  EXPECT_EQ(Factory->LockServer(FALSE), CO_E_NOTINITIALIZED);
  EXPECT_EQ(ServerInstance->LiveObjects, 1);
  TExternalLocks::Answer = S_OK;
  EXPECT_EQ(Factory->LockServer(FALSE), S_OK);
  EXPECT_EQ(ServerInstance->LiveObjects, 0);

  IUnknown* self = static_cast<IClassFactory*>(Factory);
  EXPECT_EQ(TExternalLocks::Calls, (std::vector<std::pair<IUnknown*, BOOL>>{
                                       {self, TRUE}, {self, 2}, {self, FALSE}, {self, FALSE}}));
  EXPECT_EQ(TExternalLocks::LastUnlockReleases, TRUE);
}

TEST_F(ClassFactoryTest, LockServerUnderComKeepsTheServerAliveUntilUnlocked) {
  ASSERT_EQ(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED), S_OK);
  EXPECT_EQ(Factory->LockServer(TRUE), S_OK);
  EXPECT_EQ(Factory->LockServer(TRUE), S_OK);
  EXPECT_EQ(ServerInstance->LiveObjects, 2);
  EXPECT_EQ(Factory->LockServer(FALSE), S_OK);
  EXPECT_EQ(Factory->LockServer(FALSE), S_OK);
  EXPECT_EQ(ServerInstance->LiveObjects, 0);
  EXPECT_EQ(ServerInstance->FactoryRefs, 0); // COM gave back what it took
  CoUninitialize();
}

TEST_F(ClassFactoryTest, BuildProgIdIsTheServerBaseNameAPointAndTheClassName) {
  TFakeServer server("C:\\Program Files\\Sample.Ext.dll");
  TComObjectFactory named(&server, &ConstructComObject<TTestObject>, CLSID_OtherObject, "TTolvane",
                          "", ciMultiInstance, tmApartment);
  TComObjectFactory unnamed(&server, &ConstructComObject<TTestObject>, CLSID_OtherObject, "", "",
                            ciMultiInstance, tmApartment);
  EXPECT_EQ(named.BuildProgId(), "Sample.Ext.TTolvane");
  EXPECT_EQ(unnamed.BuildProgId(), "");
  EXPECT_EQ(Factory->BuildProgId(), "comserver_tests.TTestObject");
}

} // namespace
