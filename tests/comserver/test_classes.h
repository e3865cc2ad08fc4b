// Small COM classes, a server stand-in, a fixture that gives every test a
// fresh server and factory list, and one that adds a registry sandbox.
#pragma once

#include <windows.h>

#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "ansi_text.h"
#include "class_factory.h"
#include "com_object.h"
#include "event_log.h"
#include "message_box_capture.h"
#include "registry_sandbox.h"
#include "server.h"

// An interface of the tests: one method beyond IUnknown.
struct ITestPing : public IUnknown {
  virtual HRESULT STDMETHODCALLTYPE Ping(int* value) = 0;
};
// {6A1C4F1E-2B7D-4E0A-9C35-0F8E41D2B7A9}
extern const IID IID_ITestPing;
// {0C9A3E52-7F41-4B8D-A6E2-5D13C8F07B64}
extern const CLSID CLSID_TestObject;
// {E4B27D90-1C5A-4F36-8B0D-92A7E6F3C815}
extern const CLSID CLSID_OtherObject;

// A TComObject descendant with one interface of its own. Counts its
// constructions and the runs of its own (most derived) destructor.
class TTestObject : public TComImplements<TComObject, ITestPing> {
public:
  TTestObject(TComObjectFactory& factory, IUnknown* outer);
  ~TTestObject() override;

  static const TComClassInfo<TComObject> ClassInfo;
  const TComClassInfo<TComObject>& ComClass() const override { return ClassInfo; }

  STDMETHODIMP Ping(int* value) override;

  static std::atomic<int> Constructed; // objects may be made on many threads at once
  static std::atomic<int> Destroyed;
};

// An object whose InitializeObject raises what the test chose.
class TFailingObject : public TTestObject {
public:
  using TTestObject::TTestObject;
  void InitializeObject() override;

  enum TFailure { fException, fBadAlloc, fForeign };
  static TFailure Failure;
  static std::string Message;
};

// A server object with counters of its own and a module path of the test's
// choosing.
class TFakeServer : public TComServerObject {
public:
  explicit TFakeServer(std::string path = "C:\\Program Files\\Sample.Ext.dll")
      : Path(std::move(path)) {}
  LONG TrackObject(bool created) override { return created ? ++Objects : --Objects; }
  LONG TrackFactory(bool created) override { return created ? ++Factories : --Factories; }
  std::string HelpFile() override { return std::string(); }
  std::string ServerFilePath() override { return Path; }
  std::string ServerKeyName() override { return "InprocServer32"; }
  std::string ServerBaseName() override { return BaseNameOfPath(Path); }
  // The ANSI path widened, unless the test sets another.
  std::wstring ServerFileWidePath() override { return WidePath ? *WidePath : FromAnsi(Path); }

  std::string Path;
  std::optional<std::wstring> WidePath;
  LONG Objects = 0;
  LONG Factories = 0;
};

// A factory of test objects that records, into a shared log, its
// registration calls and its destruction (and whether ComUninitializing was
// set by then).
class TRecordingFactory : public TComObjectFactory {
public:
  TRecordingFactory(TComServerObject* server, std::string name, std::vector<std::string>& log,
                    TClassInstancing instancing = ciMultiInstance);
  ~TRecordingFactory() override;
  void UpdateRegistration(bool registering) override;

  std::string Name;
  std::vector<std::string>& Log;
  bool RaiseOnRegistration = false;
};

// An outer object for aggregation: records the calls that reach it and
// answers with values of its own.
class TTestOuter : public IUnknown {
public:
  STDMETHODIMP QueryInterface(REFIID iid, void** ppv) override;
  STDMETHODIMP_(ULONG) AddRef() override { return 100 + ++AddRefs; }
  STDMETHODIMP_(ULONG) Release() override { return 200 + ++Releases; }

  int AddRefs = 0;
  int Releases = 0;
  std::vector<IID> Queries;
};

// Runs the action on a thread of its own and waits up to ten seconds for it
// to end; false when it did not (it is then left blocked).
bool CompletesOnAnotherThread(std::function<void()> action);

// Every test starts with a fresh ServerInstance, an empty factory list, no
// object counted, and message boxes captured instead of shown; TearDown
// destroys what the test left.
class ComServerTest : public ::testing::Test {
protected:
  void SetUp() override;
  void TearDown() override;

  // A factory of ServerInstance; the server destroys it at teardown.
  TComObjectFactory* NewFactory(TComObjectCreator creator = &ConstructComObject<TTestObject>,
                                REFCLSID classId = CLSID_TestObject);

  TMessageBoxCapture Boxes;
  // Outlives the factories that the server destroys at teardown.
  std::vector<std::string> Log;
};

// CLSID_TestObject as registration writes it, and its keys below
// HKEY_CLASSES_ROOT.
extern const std::string TestClassText;
extern const std::string TestClassKey;
extern const std::string TestServerKey;

// What registering the test class writes: the class and server keys (with
// the threading model where there is one) and, unless progId is empty, the
// program identifier's keys.
TRegistryTree TestObjectEntries(const char* threadingModel = "Apartment",
                                const std::string& progId = "Sample.Ext.TTestObject",
                                const std::string& description = "Test object",
                                const std::string& modulePath = "C:\\Modules\\Sample.Ext.dll");

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
