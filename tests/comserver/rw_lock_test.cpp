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

// With the lock held for writing, another thread tries to enter it; then the
// holder ends its (outermost) write. The order of what happened.
template <class Enter>
Events EnteringWhileWriting(TMultiReadExclusiveWriteSynchronizer& lock, Enter enter) {
  TEventLog log;
  std::thread other([&] {
    log.Add("other waits");
    enter();
    log.Add("other in");
  });
  EXPECT_TRUE(log.WaitFor("other waits"));
  GiveOtherThreadsTime();
  log.Add("writer out");
  lock.EndWrite();
  other.join();
  return log.Events();
}

const Events OtherWaitsForTheWriter = {"other waits", "writer out", "other in"};

TEST(RwLockTest, AWriterKeepsReadersOutUntilItEnds) {
  TMultiReadExclusiveWriteSynchronizer lock;
  lock.BeginWrite();
  EXPECT_EQ(EnteringWhileWriting(lock, [&] { TReadLock read(lock); }), OtherWaitsForTheWriter);
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
  lock.BeginWrite();
  EXPECT_EQ(EnteringWhileWriting(lock, [&] { TWriteLock write(lock); }), OtherWaitsForTheWriter);
}

TEST(RwLockTest, TheWriterMayWriteAgainAndReadAndHoldsTheLockUntilItsOutermostEnd) {
  TMultiReadExclusiveWriteSynchronizer lock;
  lock.BeginWrite();
  lock.BeginWrite();
  lock.BeginRead();
  lock.EndRead();
  lock.EndWrite();
  EXPECT_EQ(EnteringWhileWriting(lock, [&] { TReadLock read(lock); }), OtherWaitsForTheWriter);
  // The read taken while writing did not outlive the write.
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
