#include "com_object.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <thread>

#include "case_name.h"
#include "exceptions.h"
#include "import_patch.h"
#include "test_classes.h"

namespace {

// Stands in for ole32's CoDisconnectObject to see what the object passes.
struct TDisconnects {
  static int Calls;
  static IUnknown* LastObject;
  static DWORD LastReserved;
  static HRESULT WINAPI Record(IUnknown* object, DWORD reserved) {
    ++Calls;
    LastObject = object;
    LastReserved = reserved;
    return S_OK;
  }
};
int TDisconnects::Calls = 0;
IUnknown* TDisconnects::LastObject = nullptr;
DWORD TDisconnects::LastReserved = 0xFFFFFFFF;

class ComObjectTest : public ComServerTest {
protected:
  void SetUp() override {
    ComServerTest::SetUp();
    // Without the stand-in, a test expecting no disconnection could not fail.
    ASSERT_NE(FDisconnectPatch.Original(), nullptr);
    TDisconnects::Calls = 0;
    TDisconnects::LastObject = nullptr;
    TDisconnects::LastReserved = 0xFFFFFFFF;
    Factory = NewFactory();
  }

  // A new object, counted in, with a count of 0.
  TTestObject* NewObject(IUnknown* outer = nullptr) {
    return static_cast<TTestObject*>(Factory->CreateObject(outer));
  }

  TComObjectFactory* Factory = nullptr;
  TImportPatch FDisconnectPatch{GetModuleHandleA(nullptr), "ole32.dll", "CoDisconnectObject",
                                reinterpret_cast<void*>(&TDisconnects::Record)};
};

TEST_F(ComObjectTest, ANewObjectReachesItsCreatorCountedInWithACountOfZero) {
  TTestObject* object = NewObject();
  EXPECT_EQ(object->ReferenceCount, 0);
  EXPECT_EQ(ServerInstance->LiveObjects, 1);
  EXPECT_EQ(object->OwnerFactory, Factory);
  EXPECT_EQ(object->OuterUnknown, nullptr);
  EXPECT_EQ(object->ExceptionHandler, nullptr);

  void* unknown = nullptr;
  EXPECT_EQ(object->InnerQueryInterface(IID_IUnknown, &unknown), S_OK);
  EXPECT_EQ(unknown, object->InnerUnknown());
  EXPECT_EQ(object->ReferenceCount, 1);
  EXPECT_EQ(object->InnerUnknown()->Release(), 0u);
  EXPECT_EQ(ServerInstance->LiveObjects, 0);
}

struct TInterfaceCase {
  const char* Name;
  const IID* Iid;
};

class ComObjectInterfaceTest : public ComObjectTest,
                               public ::testing::WithParamInterface<TInterfaceCase> {};

TEST_P(ComObjectInterfaceTest, AddRefAndReleaseReturnTheCountAndTheLastReleaseDestroys) {
  TTestObject* object = NewObject();
  IUnknown* itf = nullptr;
  ASSERT_EQ(object->InnerQueryInterface(*GetParam().Iid, reinterpret_cast<void**>(&itf)), S_OK);
  EXPECT_EQ(itf->AddRef(), 2u);
  EXPECT_EQ(object->ReferenceCount, 2);
  EXPECT_EQ(itf->Release(), 1u);
  EXPECT_EQ(TTestObject::Destroyed, 0);
  EXPECT_EQ(itf->Release(), 0u);
  // The most derived destructor ran, and the base counted the object out.
  EXPECT_EQ(TTestObject::Destroyed, 1);
  EXPECT_EQ(ServerInstance->LiveObjects, 0);
  EXPECT_EQ(TDisconnects::Calls, 0);
}

INSTANTIATE_TEST_SUITE_P(EveryInterface, ComObjectInterfaceTest,
                         ::testing::Values(TInterfaceCase{"ITestPing", &IID_ITestPing},
                                           TInterfaceCase{"ISupportErrorInfo",
                                                          &IID_ISupportErrorInfo},
                                           TInterfaceCase{"IUnknown", &IID_IUnknown}));

TEST_F(ComObjectTest, QueryInterfaceHandsOutThePointersOfTheWholeClassLine) {
  TTestObject* object = NewObject();
  void* ping = nullptr;
  ASSERT_EQ(object->InnerQueryInterface(IID_ITestPing, &ping), S_OK);
  EXPECT_EQ(ping, static_cast<ITestPing*>(object));

  auto* viaPing = static_cast<ITestPing*>(ping);
  void* errorInfo = nullptr;
  void* unknown = nullptr;
  EXPECT_EQ(viaPing->QueryInterface(IID_ISupportErrorInfo, &errorInfo), S_OK);
  EXPECT_EQ(errorInfo, static_cast<ISupportErrorInfo*>(object));
  EXPECT_EQ(viaPing->QueryInterface(IID_IUnknown, &unknown), S_OK);
  EXPECT_EQ(unknown, object->InnerUnknown());
  EXPECT_EQ(object->ReferenceCount, 3);

  int value = 0;
  EXPECT_EQ(viaPing->Ping(&value), S_OK);
  EXPECT_EQ(value, 42);
  static_cast<IUnknown*>(errorInfo)->Release();
  static_cast<IUnknown*>(unknown)->Release();
  EXPECT_EQ(viaPing->Release(), 0u);
}

TEST_F(ComObjectTest, QueryInterfaceForAnUnlistedInterfaceGivesNoInterfaceAndNoReference) {
  TTestObject* object = NewObject();
  object->InnerAddRef();
  void* dispatch = reinterpret_cast<void*>(1);
  EXPECT_EQ(object->QueryInterface(IID_IDispatch, &dispatch), E_NOINTERFACE);
  EXPECT_EQ(dispatch, nullptr);
  dispatch = reinterpret_cast<void*>(1);
  EXPECT_EQ(object->InnerUnknown()->QueryInterface(IID_IClassFactory, &dispatch), E_NOINTERFACE);
  EXPECT_EQ(dispatch, nullptr);
  EXPECT_EQ(object->ReferenceCount, 1);
  object->InnerRelease();
}

struct TErrorInfoCase {
  const char* Name;
  const IID* Iid;
  HRESULT Expected;
};

class InterfaceSupportsErrorInfoTest : public ComObjectTest,
                                       public ::testing::WithParamInterface<TErrorInfoCase> {};

TEST_P(InterfaceSupportsErrorInfoTest, AnswersForTheInterfacesOfTheClassLineWithoutAReference) {
  TTestObject* object = NewObject();
  object->InnerAddRef();
  EXPECT_EQ(object->InterfaceSupportsErrorInfo(*GetParam().Iid), GetParam().Expected);
  EXPECT_EQ(object->ReferenceCount, 1);
  object->InnerRelease();
}

INSTANTIATE_TEST_SUITE_P(
    Interfaces, InterfaceSupportsErrorInfoTest,
    ::testing::Values(TErrorInfoCase{"ITestPing", &IID_ITestPing, S_OK},
                      TErrorInfoCase{"ISupportErrorInfo", &IID_ISupportErrorInfo, S_OK},
                      TErrorInfoCase{"IUnknown", &IID_IUnknown, S_OK},
                      TErrorInfoCase{"IDispatch", &IID_IDispatch, S_FALSE},
                      TErrorInfoCase{"IClassFactory", &IID_IClassFactory, S_FALSE}));

// Two classes of one line that both list IUnknown.
IUnknown* ParentAnswer(TComObject*) {
  return reinterpret_cast<IUnknown*>(1);
}
IUnknown* ChildAnswer(TComObject*) {
  return reinterpret_cast<IUnknown*>(2);
}
const TInterfaceEntry<TComObject> ParentEntries[] = {{&IID_IDispatch, ParentAnswer},
                                                     {&IID_IUnknown, ParentAnswer}};
const TInterfaceEntry<TComObject> ChildEntries[] = {{&IID_IUnknown, ChildAnswer}};
const TComClassInfo<TComObject> ParentClass = {nullptr, ParentEntries, 2};
const TComClassInfo<TComObject> ChildClass = {&ParentClass, ChildEntries, 1};
const TComClassInfo<TComObject> EmptyChildClass = {&ChildClass, nullptr, 0};

TEST(FindInterfaceEntryTest, SearchesTheDescendantBeforeItsAncestors) {
  EXPECT_EQ(FindInterfaceEntry(ChildClass, IID_IUnknown), &ChildEntries[0]);
  EXPECT_EQ(FindInterfaceEntry(ChildClass, IID_IDispatch), &ParentEntries[0]);
  EXPECT_EQ(FindInterfaceEntry(EmptyChildClass, IID_IUnknown), &ChildEntries[0]);
  EXPECT_EQ(FindInterfaceEntry(ParentClass, IID_IUnknown), &ParentEntries[1]);
  EXPECT_EQ(FindInterfaceEntry(ChildClass, IID_IClassFactory), nullptr);
}

TEST_F(ComObjectTest, AnAggregatedObjectDelegatesEveryInterfaceButItsInnerUnknown) {
  TTestOuter outer;
  TTestObject* object = NewObject(&outer);
  EXPECT_EQ(object->OuterUnknown, &outer);
  void* inner = nullptr;
  ASSERT_EQ(object->InnerQueryInterface(IID_IUnknown, &inner), S_OK);
  EXPECT_EQ(inner, object->InnerUnknown());
  EXPECT_EQ(object->ReferenceCount, 1);
  EXPECT_EQ(outer.AddRefs, 0); // the object holds no reference on its outer object

  // The reference that comes with a delegated interface is the outer object's.
  ITestPing* ping = nullptr;
  ASSERT_EQ(object->InnerUnknown()->QueryInterface(IID_ITestPing, reinterpret_cast<void**>(&ping)),
            S_OK);
  EXPECT_EQ(object->ReferenceCount, 1);
  EXPECT_EQ(outer.AddRefs, 1);

  EXPECT_EQ(ping->AddRef(), 102u);
  EXPECT_EQ(ping->Release(), 201u);
  void* result = nullptr;
  EXPECT_EQ(ping->QueryInterface(IID_ISupportErrorInfo, &result), E_NOTIMPL);
  ISupportErrorInfo* errorInfo = object;
  EXPECT_EQ(errorInfo->AddRef(), 103u);
  EXPECT_EQ(errorInfo->Release(), 202u);
  EXPECT_EQ(errorInfo->QueryInterface(IID_IUnknown, &result), E_NOTIMPL);
  ASSERT_EQ(outer.Queries.size(), 2u);
  EXPECT_TRUE(IsEqualGUID(outer.Queries[0], IID_ISupportErrorInfo));
  EXPECT_TRUE(IsEqualGUID(outer.Queries[1], IID_IUnknown));
  EXPECT_EQ(object->ReferenceCount, 1);

  // The inner unknown counts on the object itself.
  void* innerAgain = nullptr;
  EXPECT_EQ(object->InnerUnknown()->QueryInterface(IID_IUnknown, &innerAgain), S_OK);
  EXPECT_EQ(innerAgain, inner);
  EXPECT_EQ(object->ReferenceCount, 2);
  EXPECT_EQ(object->InnerUnknown()->Release(), 1u);
  EXPECT_EQ(object->InnerUnknown()->Release(), 0u);
  EXPECT_EQ(TTestObject::Destroyed, 1);
  EXPECT_EQ(ServerInstance->LiveObjects, 0);
  EXPECT_EQ(outer.Releases, 2);
}

TEST_F(ComObjectTest, AnObjectFreedWithReferencesLeftIsDisconnectedAndCountedOutOnce) {
  TTestObject* object = NewObject();
  object->InnerAddRef();
  object->InnerAddRef();
  IUnknown* inner = object->InnerUnknown();
  delete static_cast<TComObject*>(object);
  EXPECT_EQ(TTestObject::Destroyed, 1);
  EXPECT_EQ(ServerInstance->LiveObjects, 0);
  EXPECT_EQ(TDisconnects::Calls, 1);
  EXPECT_EQ(TDisconnects::LastObject, inner);
  EXPECT_EQ(TDisconnects::LastReserved, 0u);
}

TEST_F(ComObjectTest, AfterShutDownBeganADyingObjectIsNeitherCountedOutNorDisconnected) {
  TTestObject* object = NewObject();
  object->InnerAddRef();
  object->InnerAddRef();
  ComUninitializing = true;
  delete static_cast<TComObject*>(object);
  EXPECT_EQ(TTestObject::Destroyed, 1);
  EXPECT_EQ(ServerInstance->LiveObjects, 1);
  EXPECT_EQ(TDisconnects::Calls, 0);
}

TEST_F(ComObjectTest, AnObjectWhoseInitializationRaisesIsDestroyedAndTheFailurePassesOn) {
  TFailingObject::Failure = TFailingObject::fException;
  TFailingObject::Message = "cannot initialize";
  try {
    ConstructComObject<TFailingObject>(*Factory, nullptr);
    ADD_FAILURE() << "construction did not raise";
  } catch (const EOleError& e) {
    EXPECT_EQ(e.Message(), "cannot initialize");
  }
  EXPECT_EQ(TTestObject::Constructed, 1);
  EXPECT_EQ(TTestObject::Destroyed, 1);
  EXPECT_EQ(ServerInstance->LiveObjects, 0);
  EXPECT_EQ(TDisconnects::Calls, 1); // its count was still 1
}

struct TTestHandler : public IServerExceptionHandler {
  STDMETHODIMP QueryInterface(REFIID, void** ppv) override {
    *ppv = nullptr;
    return E_NOINTERFACE;
  }
  STDMETHODIMP_(ULONG) AddRef() override { return ++Count; }
  STDMETHODIMP_(ULONG) Release() override { return --Count; }
  void STDMETHODCALLTYPE OnException(const char*, const char*, const char*, HRESULT,
                                     BOOL*) override {}
  ULONG Count = 0;
};

TEST_F(ComObjectTest, TheExceptionHandlerReferenceIsReleasedWithTheObject) {
  TTestHandler handler;
  TTestObject* object = NewObject();
  handler.AddRef();
  object->ExceptionHandler = &handler;
  object->InnerAddRef();
  object->InnerRelease();
  EXPECT_EQ(handler.Count, 0u);
}

TEST_F(ComObjectTest, ReferencesTakenOnManyThreadsAtOnceAllCount) {
  TTestObject* object = NewObject();
  object->InnerAddRef();
  std::vector<std::thread> threads;
  for (int i = 0; i < 4; ++i)
    threads.emplace_back([object] {
      for (int n = 0; n < 10000; ++n) {
        object->AddRef();
        object->AddRef();
        object->Release();
      }
    });
  for (std::thread& thread : threads)
    thread.join();
  EXPECT_EQ(object->ReferenceCount, 1 + 4 * 10000);
  delete static_cast<TComObject*>(object);
}

} // namespace
