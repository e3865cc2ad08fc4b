#include "test_classes.h"

#include <condition_variable>
#include <memory>
#include <mutex>
#include <new>
#include <thread>
#include <stdexcept>

#include "class_manager.h"
#include "exceptions.h"

const IID IID_ITestPing = {
    0x6A1C4F1E, 0x2B7D, 0x4E0A, {0x9C, 0x35, 0x0F, 0x8E, 0x41, 0xD2, 0xB7, 0xA9}};
const CLSID CLSID_TestObject = {
    0x0C9A3E52, 0x7F41, 0x4B8D, {0xA6, 0xE2, 0x5D, 0x13, 0xC8, 0xF0, 0x7B, 0x64}};
const CLSID CLSID_OtherObject = {
    0xE4B27D90, 0x1C5A, 0x4F36, {0x8B, 0x0D, 0x92, 0xA7, 0xE6, 0xF3, 0xC8, 0x15}};
const std::string TestClassText = "{0C9A3E52-7F41-4B8D-A6E2-5D13C8F07B64}";
const std::string TestClassKey = "CLSID\\" + TestClassText;
const std::string TestServerKey = TestClassKey + "\\InprocServer32";

namespace {
const TInterfaceEntry<TComObject> TestObjectInterfaces[] = {
    {&IID_ITestPing, InterfaceOf<TComObject, TTestObject, ITestPing>},
};
} // namespace

const TComClassInfo<TComObject> TTestObject::ClassInfo = {&TComObject::ClassInfo,
                                                          TestObjectInterfaces, 1};
std::atomic<int> TTestObject::Constructed{0};
std::atomic<int> TTestObject::Destroyed{0};

TTestObject::TTestObject(TComObjectFactory& factory, IUnknown* outer)
    : TComImplements(factory, outer) {
  ++Constructed;
}

TTestObject::~TTestObject() {
  ++Destroyed;
}

STDMETHODIMP TTestObject::Ping(int* value) {
  *value = 42;
  return S_OK;
}

TFailingObject::TFailure TFailingObject::Failure = TFailingObject::fException;
std::string TFailingObject::Message;

void TFailingObject::InitializeObject() {
  switch (Failure) {
  case fException:
    throw EOleError(Message);
  case fBadAlloc:
    throw std::bad_alloc();
  case fForeign:
    throw std::runtime_error(Message);
  }
}

TRecordingFactory::TRecordingFactory(TComServerObject* server, std::string name,
                                     std::vector<std::string>& log, TClassInstancing instancing)
    : TComObjectFactory(server, &ConstructComObject<TTestObject>, CLSID_TestObject, "TTestObject",
                        "Test object", instancing, tmApartment),
      Name(std::move(name)), Log(log) {}

TRecordingFactory::~TRecordingFactory() {
  Log.push_back("destroy " + Name + (ComUninitializing ? " (uninitializing)" : ""));
}

void TRecordingFactory::UpdateRegistration(bool registering) {
  Log.push_back((registering ? "register " : "unregister ") + Name);
  if (RaiseOnRegistration)
    throw EOleError("registration of " + Name + " failed");
}

STDMETHODIMP TTestOuter::QueryInterface(REFIID iid, void** ppv) {
  Queries.push_back(iid);
  *ppv = nullptr;
  return E_NOTIMPL; // a value no frame code returns, so its passing on shows
}

void ComServerTest::SetUp() {
  ComUninitializing = false;
  TTestObject::Constructed = 0;
  TTestObject::Destroyed = 0;
  ServerInstance = new TComServer;
}

void ComServerTest::TearDown() {
  delete ServerInstance;
  ServerInstance = nullptr;
  DestroyClassManager();
  ComUninitializing = false;
}

TComObjectFactory* ComServerTest::NewFactory(TComObjectCreator creator, REFCLSID classId) {
  return new TComObjectFactory(ServerInstance, creator, classId, "TTestObject", "Test object",
                               ciMultiInstance, tmApartment);
}

bool CompletesOnAnotherThread(std::function<void()> action) {
  struct TState {
    std::mutex Mutex;
    std::condition_variable Done;
    bool Finished = false;
  };
  auto state = std::make_shared<TState>();
  std::thread thread([state, action = std::move(action)] {
    action();
    std::lock_guard<std::mutex> guard(state->Mutex);
    state->Finished = true;
    state->Done.notify_all();
  });
  std::unique_lock<std::mutex> guard(state->Mutex);
  bool finished =
      state->Done.wait_for(guard, std::chrono::seconds(10), [&] { return state->Finished; });
  guard.unlock();
  if (finished)
    thread.join();
  else
    thread.detach();
  return finished;
}

TRegistryTree TestObjectEntries(const char* threadingModel, const std::string& progId,
                                const std::string& description, const std::string& modulePath) {
  TRegistryTree tree = {"CLSID|", TestClassKey + "||1|" + description,
                        TestServerKey + "||1|" + modulePath};
  if (threadingModel)
    tree.push_back(TestServerKey + "|ThreadingModel|1|" + threadingModel);
  if (!progId.empty())
    tree.insert(tree.end(), {progId + "||1|" + description, progId + "\\Clsid||1|" + TestClassText,
                             TestClassKey + "\\ProgID||1|" + progId});
  return Sorted(tree);
}
