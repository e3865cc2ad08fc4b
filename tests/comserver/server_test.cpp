#include "server.h"

#include <gtest/gtest.h>

#include <memory>
#include <thread>
#include <vector>

#include "class_manager.h"
#include "exceptions.h"
#include "server_lifetime.h"
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

} // namespace
