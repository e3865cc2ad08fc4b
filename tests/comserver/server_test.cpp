#include "server.h"

#include <gtest/gtest.h>

#include <memory>
#include <thread>
#include <vector>

#include "case_name.h"
#include "class_manager.h"
#include "exceptions.h"
#include "server_lifetime.h"
#include "temp_files.h"
#include "test_classes.h"

namespace {

using ServerTest = ComServerTest;

TEST_F(ServerTest, EachTrackCallReturnsTheNewCountOfItsOwnCounter) {
  TComServer server;
  EXPECT_EQ(server.TrackObject(true), 1);
  EXPECT_EQ(server.TrackObject(true), 2);
  EXPECT_EQ(server.TrackFactory(true), 1);
  EXPECT_EQ(server.TrackFactory(true), 2);
  EXPECT_EQ(server.TrackObject(false), 1);
  EXPECT_EQ(server.TrackFactory(false), 1);
  EXPECT_EQ(server.TrackFactory(false), 0);
  EXPECT_EQ(server.LiveObjects, 1);
  EXPECT_EQ(server.FactoryRefs, 0);
}

TEST_F(ServerTest, CountersKeepEveryIncrementMadeOnManyThreadsAtOnce) {
  TComServer server;
  constexpr int Threads = 4, Rounds = 20000;
  std::vector<std::thread> threads;
  for (int i = 0; i < Threads; ++i)
    threads.emplace_back([&server] {
      for (int n = 0; n < Rounds; ++n) {
        server.TrackObject(true);
        server.TrackFactory(true);
        server.TrackFactory(true);
        server.TrackFactory(false);
      }
    });
  for (std::thread& thread : threads)
    thread.join();
  EXPECT_EQ(server.LiveObjects, Threads * Rounds);
  EXPECT_EQ(server.FactoryRefs, Threads * Rounds);
}

struct TBaseNameCase {
  const char* Path;
  const char* BaseName;
};
void PrintTo(const TBaseNameCase& c, std::ostream* os) {
  *os << '"' << c.Path << '"';
}

class BaseNameOfPathTest : public ::testing::TestWithParam<TBaseNameCase> {};

TEST_P(BaseNameOfPathTest, DropsTheDirectoryAndTheLastExtension) {
  EXPECT_EQ(BaseNameOfPath(GetParam().Path), GetParam().BaseName);
}

INSTANTIATE_TEST_SUITE_P(
    Paths, BaseNameOfPathTest,
    ::testing::Values(TBaseNameCase{"C:\\Program Files\\Sample.Ext.dll", "Sample.Ext"},
                      TBaseNameCase{"C:\\Windows\\Sample.dll", "Sample"},
                      TBaseNameCase{"Sample.dll", "Sample"},
                      TBaseNameCase{"C:Sample.dll", "Sample"},
                      TBaseNameCase{"C:\\dir.with.dots\\NoExtension", "NoExtension"},
                      TBaseNameCase{"\\\\server\\share\\PELLMORE.DLL", "PELLMORE"},
                      TBaseNameCase{"C:\\dir\\", ""}, TBaseNameCase{"C:\\dir\\.dll", ""},
                      TBaseNameCase{"", ""}));

// The ASCII text of a UTF-16 one that holds nothing else.
std::string WideAsAnsi(const std::wstring& text) {
  return std::string(text.begin(), text.end());
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
    TCaseName());

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

TEST_F(ServerTest, DestroyingTheServerDestroysItsFactoriesNewestFirst) {
  new TRecordingFactory(ServerInstance, "first", Log);
  new TRecordingFactory(ServerInstance, "second", Log);
  new TRecordingFactory(ServerInstance, "third", Log);

  delete ServerInstance;
  ServerInstance = nullptr;

  EXPECT_EQ(Log, (std::vector<std::string>{"destroy third", "destroy second", "destroy first"}));
  EXPECT_EQ(ClassManager().FirstFactory, nullptr);
}

TEST_F(ServerTest, DestroyingTheServerLeavesFactoriesOfAnotherServer) {
  TFakeServer other;
  new TRecordingFactory(ServerInstance, "mine", Log);
  auto foreign = std::make_unique<TRecordingFactory>(&other, "foreign", Log);

  delete ServerInstance;
  ServerInstance = nullptr;

  EXPECT_EQ(Log, std::vector<std::string>{"destroy mine"});
  EXPECT_EQ(ClassManager().FirstFactory, foreign.get());
  EXPECT_EQ(foreign->NextFactory, nullptr);
}

// A server that records its destruction into the log its factories share.
class TRecordingServer : public TComServer {
public:
  explicit TRecordingServer(std::vector<std::string>& log) : FLog(log) {}
  ~TRecordingServer() override {
    FLog.push_back(std::string("destroy server") + (ComUninitializing ? " (uninitializing)" : ""));
  }

private:
  std::vector<std::string>& FLog;
};

TEST_F(ServerTest, StoppingDestroysTheServerAndItsFactoriesThenUninitializesAndFreesTheList) {
  delete ServerInstance;
  ServerInstance = new TRecordingServer(Log);
  new TRecordingFactory(ServerInstance, "first", Log);
  new TRecordingFactory(ServerInstance, "second", Log);
  // Not the server's: it stays listed until the list itself goes.
  TFakeServer other;
  TRecordingFactory foreign(&other, "foreign", Log);

  StopComServer();

  EXPECT_EQ(Log, (std::vector<std::string>{"destroy server", "destroy second", "destroy first"}));
  EXPECT_EQ(ServerInstance, nullptr);
  EXPECT_TRUE(ComUninitializing);
  EXPECT_EQ(ClassManager().FirstFactory, nullptr) << "the list was not freed";
}

TEST_F(ServerTest, RegistrationWalkSetsTheDirectionAndVisitsRegistrableFactoriesNewestFirst) {
  TFakeServer other;
  new TRecordingFactory(ServerInstance, "single", Log, ciSingleInstance);
  new TRecordingFactory(ServerInstance, "internal", Log, ciInternal);
  auto foreign = std::make_unique<TRecordingFactory>(&other, "foreign", Log);
  new TRecordingFactory(ServerInstance, "multi", Log, ciMultiInstance);

  ServerInstance->UpdateServerRegistration(true);
  EXPECT_TRUE(ServerInstance->Registering);
  ServerInstance->UpdateServerRegistration(false);
  EXPECT_FALSE(ServerInstance->Registering);

  EXPECT_EQ(Log, (std::vector<std::string>{"register multi", "register single", "unregister multi",
                                           "unregister single"}));
}

// Stands for a second registration tool that sets the server's direction
// while this walk still runs.
class TDirectionFlipper : public TRecordingFactory {
public:
  using TRecordingFactory::TRecordingFactory;
  void UpdateRegistration(bool registering) override {
    TRecordingFactory::UpdateRegistration(registering);
    ServerInstance->Registering = !registering;
  }
};

TEST_F(ServerTest, AWalkKeepsItsDirectionWhenTheServerFieldChangesMeanwhile) {
  new TRecordingFactory(ServerInstance, "older", Log);
  new TDirectionFlipper(ServerInstance, "flipper", Log);

  ServerInstance->UpdateServerRegistration(true);

  EXPECT_EQ(Log, (std::vector<std::string>{"register flipper", "register older"}));
}

TEST_F(ServerTest, RegistrationWalkEndsAtTheFirstFailureAndPassesItOn) {
  new TRecordingFactory(ServerInstance, "older", Log);
  auto* failing = new TRecordingFactory(ServerInstance, "failing", Log);
  new TRecordingFactory(ServerInstance, "newest", Log);
  failing->RaiseOnRegistration = true;

  EXPECT_THROW(ServerInstance->UpdateServerRegistration(true), EOleError);
  EXPECT_EQ(Log, (std::vector<std::string>{"register newest", "register failing"}));

  // The walk gave the list lock back: another thread can write.
  EXPECT_TRUE(CompletesOnAnotherThread([] { TWriteLock lock(ClassManager().ListLock); }));
}

TEST_F(RegistrySandboxTest, TheRegistrationWalkWritesTheEntriesOfTheServersFactories) {
  new TComObjectFactory(ServerInstance, &ConstructComObject<TTestObject>, CLSID_TestObject,
                        "TTestObject", "Test object", ciMultiInstance, tmApartment);
  new TComObjectFactory(ServerInstance, &ConstructComObject<TTestObject>, CLSID_OtherObject,
                        "TOther", "Other", ciInternal, tmApartment);
  ServerInstance->UpdateServerRegistration(true);
  EXPECT_EQ(Tree(), TestObjectEntries("Apartment", "comserver_tests.TTestObject", "Test object",
                                      ServerInstance->ServerFilePath()));
  ServerInstance->UpdateServerRegistration(false);
  EXPECT_EQ(Tree(), TRegistryTree{"CLSID|"});
}

} // namespace
