#include "rw_lock.h"

#include <gtest/gtest.h>

#include <thread>

#include "test_classes.h"

namespace {

using Events = std::vector<std::string>;

// Long enough for a thread that is wrongly let in to log its entry first.
void GiveOtherThreadsTime() {
  Sleep(50);
}

TEST(RwLockTest, ReadersHoldTheLockTogether) {
  TMultiReadExclusiveWriteSynchronizer lock;
  TEventLog log;
  bool aSawB = false, bSawA = false;
  std::thread a([&] {
    TReadLock read(lock);
    log.Add("a in");
    aSawB = log.WaitFor("b in");
  });
  std::thread b([&] {
    TReadLock read(lock);
    log.Add("b in");
    bSawA = log.WaitFor("a in");
  });
  a.join();
  b.join();
  EXPECT_TRUE(aSawB);
  EXPECT_TRUE(bSawA);
}

TEST(RwLockTest, AWriterKeepsReadersOutUntilItEnds) {
  TMultiReadExclusiveWriteSynchronizer lock;
  TEventLog log;
  lock.BeginWrite();
  std::thread reader([&] {
    log.Add("reader waits");
    TReadLock read(lock);
    log.Add("reader in");
  });
  ASSERT_TRUE(log.WaitFor("reader waits"));
  GiveOtherThreadsTime();
  log.Add("writer out");
  lock.EndWrite();
  reader.join();
  EXPECT_EQ(log.Events(), (Events{"reader waits", "writer out", "reader in"}));
}

TEST(RwLockTest, AWriterWaitsUntilEveryReaderHasLeft) {
  TMultiReadExclusiveWriteSynchronizer lock;
  TEventLog log;
  std::thread reader([&] {
    TReadLock read(lock);
    log.Add("reader in");
    log.WaitFor("writer waits");
    GiveOtherThreadsTime();
    log.Add("reader out");
  });
  ASSERT_TRUE(log.WaitFor("reader in"));
  log.Add("writer waits");
  lock.BeginWrite();
  log.Add("writer in");
  lock.EndWrite();
  reader.join();
  EXPECT_EQ(log.Events(), (Events{"reader in", "writer waits", "reader out", "writer in"}));
}

TEST(RwLockTest, AWriterKeepsOtherWritersOut) {
  TMultiReadExclusiveWriteSynchronizer lock;
  TEventLog log;
  lock.BeginWrite();
  std::thread writer([&] {
    log.Add("second waits");
    TWriteLock write(lock);
    log.Add("second in");
  });
  ASSERT_TRUE(log.WaitFor("second waits"));
  GiveOtherThreadsTime();
  log.Add("first out");
  lock.EndWrite();
  writer.join();
  EXPECT_EQ(log.Events(), (Events{"second waits", "first out", "second in"}));
}

TEST(RwLockTest, TheWriterMayWriteAgainAndReadAndHoldsTheLockUntilItsOutermostEnd) {
  TMultiReadExclusiveWriteSynchronizer lock;
  TEventLog log;
  lock.BeginWrite();
  lock.BeginWrite();
  lock.BeginRead();
  lock.EndRead();
  lock.EndWrite();
  std::thread reader([&] {
    log.Add("reader waits");
    TReadLock read(lock);
    log.Add("reader in");
  });
  ASSERT_TRUE(log.WaitFor("reader waits"));
  GiveOtherThreadsTime();
  log.Add("outer write ends");
  lock.EndWrite();
  reader.join();
  EXPECT_EQ(log.Events(), (Events{"reader waits", "outer write ends", "reader in"}));
}

TEST(RwLockTest, AReadTakenWhileWritingDoesNotOutliveTheWrite) {
  TMultiReadExclusiveWriteSynchronizer lock;
  lock.BeginWrite();
  lock.BeginRead();
  lock.EndRead();
  lock.EndWrite();
  EXPECT_TRUE(CompletesOnAnotherThread([&] { TWriteLock write(lock); }));
}

TEST(RwLockTest, AReaderMayGoOnToWriteWhenNoOtherThreadReads) {
  TMultiReadExclusiveWriteSynchronizer lock;
  EXPECT_TRUE(CompletesOnAnotherThread([&] {
    TReadLock read(lock);
    TWriteLock write(lock);
  }));
  EXPECT_TRUE(CompletesOnAnotherThread([&] { TWriteLock write(lock); }));
}

} // namespace
