#include "class_manager.h"

#include <gtest/gtest.h>

#include <memory>
#include <thread>

#include "exceptions.h"
#include "test_classes.h"

namespace {

using ClassManagerTest = ComServerTest;
using Events = std::vector<std::string>;

std::vector<TComObjectFactory*> ListedFactories() {
  std::vector<TComObjectFactory*> factories;
  for (TComObjectFactory* f = ClassManager().FirstFactory; f; f = f->NextFactory)
    factories.push_back(f);
  return factories;
}

TEST_F(ClassManagerTest, ANewFactoryGoesToTheHeadOfTheList) {
  TComObjectFactory* older = NewFactory();
  TComObjectFactory* newer = NewFactory(&ConstructComObject<TTestObject>, CLSID_OtherObject);
  EXPECT_EQ(ListedFactories(), (std::vector<TComObjectFactory*>{newer, older}));
}

TEST_F(ClassManagerTest, FindFactoryWithAnUnknownClassIdentifierFindsNothing) {
  NewFactory();
  EXPECT_EQ(ClassManager().FindFactory(CLSID_OtherObject), nullptr);
  EXPECT_EQ(ClassManager().FindFactory(GUID_NULL), nullptr);
}

TEST_F(ClassManagerTest, FindFactoryFindsTheNewestFactoryOfAClass) {
  TComObjectFactory* other = NewFactory(&ConstructComObject<TTestObject>, CLSID_OtherObject);
  NewFactory();
  TComObjectFactory* newer = NewFactory();
  EXPECT_EQ(ClassManager().FindFactory(CLSID_TestObject), newer);
  EXPECT_EQ(ClassManager().FindFactory(CLSID_OtherObject), other);
}

TEST_F(ClassManagerTest, FindFactoryComparesAllSixteenBytes) {
  NewFactory();
  CLSID nearly = CLSID_TestObject;
  nearly.Data4[7] ^= 1;
  EXPECT_EQ(ClassManager().FindFactory(nearly), nullptr);
}

TEST_F(ClassManagerTest, RemoveFactoryUnlinksThatFactoryOnly) {
  TComObjectFactory* oldest = NewFactory();
  TComObjectFactory* middle = NewFactory();
  TComObjectFactory* newest = NewFactory();
  ClassManager().RemoveFactory(middle);
  EXPECT_EQ(ListedFactories(), (std::vector<TComObjectFactory*>{newest, oldest}));
  ClassManager().AddFactory(middle); // the server destroys it at teardown
}

TEST_F(ClassManagerTest, RemoveFactoryOfAnAbsentFactoryChangesNothing) {
  TComObjectFactory* first = NewFactory();
  TComObjectFactory* second = NewFactory();
  TComObjectFactory* removed = NewFactory();
  ClassManager().RemoveFactory(removed);
  ClassManager().RemoveFactory(removed);
  EXPECT_EQ(ListedFactories(), (std::vector<TComObjectFactory*>{second, first}));

  TComClassManager otherList;
  otherList.RemoveFactory(second);
  EXPECT_EQ(otherList.FirstFactory, nullptr);
  EXPECT_EQ(ListedFactories(), (std::vector<TComObjectFactory*>{second, first}));
  EXPECT_EQ(second->NextFactory, first);
  ClassManager().AddFactory(removed); // the server destroys it at teardown
}

TEST_F(ClassManagerTest, DestroyingAFactoryRemovesItFromTheList) {
  TComObjectFactory* kept = NewFactory();
  delete NewFactory(&ConstructComObject<TTestObject>, CLSID_OtherObject);
  EXPECT_EQ(ListedFactories(), std::vector<TComObjectFactory*>{kept});
  EXPECT_EQ(ClassManager().FindFactory(CLSID_OtherObject), nullptr);
}

TEST_F(ClassManagerTest, VisitFactoriesThatDestroysEachFactoryVisitsEveryOneOnceAndEmptiesTheList) {
  for (const char* name : {"a", "b", "c", "d"})
    new TRecordingFactory(ServerInstance, name, Log);
  int visits = 0;
  ClassManager().VisitFactories(ServerInstance, [&](TComObjectFactory& factory) {
    ++visits;
    delete &factory;
  });
  EXPECT_EQ(visits, 4);
  EXPECT_EQ(Log, (Events{"destroy d", "destroy c", "destroy b", "destroy a"}));
  EXPECT_EQ(ClassManager().FirstFactory, nullptr);
}

TEST_F(ClassManagerTest, VisitFactoriesVisitsOnlyTheFactoriesOfTheGivenServer) {
  TFakeServer other;
  new TRecordingFactory(ServerInstance, "mine 1", Log);
  auto foreign = std::make_unique<TRecordingFactory>(&other, "foreign", Log);
  new TRecordingFactory(ServerInstance, "mine 2", Log);
  Events visited;
  ClassManager().VisitFactories(ServerInstance, [&](TComObjectFactory& factory) {
    visited.push_back(static_cast<TRecordingFactory&>(factory).Name);
  });
  EXPECT_EQ(visited, (Events{"mine 2", "mine 1"}));
}

TEST_F(ClassManagerTest, AnActionRaisingOnTheSecondFactoryEndsTheWalkAndReleasesTheLock) {
  for (const char* name : {"a", "b", "c"})
    new TRecordingFactory(ServerInstance, name, Log);
  Events visited;
  try {
    ClassManager().VisitFactories(ServerInstance, [&](TComObjectFactory& factory) {
      visited.push_back(static_cast<TRecordingFactory&>(factory).Name);
      if (visited.size() == 2)
        throw EOleError("second");
    });
    ADD_FAILURE() << "the exception did not reach the caller";
  } catch (const EOleError& e) {
    EXPECT_EQ(e.Message(), "second");
  }
  EXPECT_EQ(visited, (Events{"c", "b"}));
  EXPECT_TRUE(CompletesOnAnotherThread([] { TWriteLock lock(ClassManager().ListLock); }));
}

TEST_F(ClassManagerTest, FindFactoryOnAnotherThreadWaitsForAWalkAndProceedsAfterIt) {
  TComObjectFactory* factory = NewFactory();
  TEventLog log;
  TComObjectFactory* found = nullptr;
  std::thread finder;
  ClassManager().VisitFactories(ServerInstance, [&](TComObjectFactory&) {
    finder = std::thread([&] {
      log.Add("find starts");
      found = ClassManager().FindFactory(CLSID_TestObject);
      log.Add("find ends");
    });
    ASSERT_TRUE(log.WaitFor("find starts"));
    Sleep(50);
    log.Add("walk ends");
  });
  finder.join();
  EXPECT_EQ(log.Events(), (Events{"find starts", "walk ends", "find ends"}));
  EXPECT_EQ(found, factory);
}

} // namespace
