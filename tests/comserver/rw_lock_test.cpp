#include "rw_lock.h"

#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <thread>

#include "import_patch.h"
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

// Set when a thread waits inside the watched lock, which waits in
// SleepConditionVariableSRW, on a condition variable of its own, called
// through this executable's import table.
std::atomic<const TMultiReadExclusiveWriteSynchronizer*> GWatchedLock{nullptr};
HANDLE GLockWaited = nullptr;
// The platform's function, taken from the import slot (see import_patch.h).
void* GSleep = nullptr;

BOOL WINAPI NoteWait(PCONDITION_VARIABLE condition, PSRWLOCK guard, DWORD ms, ULONG flags) {
  const auto* lock = GWatchedLock.load();
  if (lock && static_cast<void*>(condition) >= lock && static_cast<void*>(condition) < lock + 1)
    SetEvent(GLockWaited);
  return reinterpret_cast<decltype(&SleepConditionVariableSRW)>(GSleep)(condition, guard, ms,
                                                                        flags);
}

TEST(RwLockTest, AThreadThatReadsMayReadAgainWhileAWriterWaits) {
  struct TShared {
    TMultiReadExclusiveWriteSynchronizer Lock;
    TEventLog Log;
  };
  // Threads that a regression leaves blocked keep what they use.
  auto shared = std::make_shared<TShared>();
  GLockWaited = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  GWatchedLock = &shared->Lock;
  TImportPatch watch(GetModuleHandleA(nullptr), "KERNEL32.dll", "SleepConditionVariableSRW",
                     reinterpret_cast<void*>(NoteWait), &GSleep);
  ASSERT_NE(watch.Original(), nullptr);
  std::thread([shared] {
    TReadLock read(shared->Lock);
    shared->Log.Add("reader in");
    std::thread([shared] {
      TWriteLock write(shared->Lock);
      shared->Log.Add("writer in");
    }).detach();
    if (WaitForSingleObject(GLockWaited, 10000) != WAIT_OBJECT_0)
      return;
    shared->Log.Add("writer waits");
    TReadLock again(shared->Lock);
    shared->Log.Add("read again");
  }).detach();
  ASSERT_TRUE(shared->Log.WaitFor("writer in")) << ::testing::PrintToString(shared->Log.Events());
  EXPECT_EQ(shared->Log.Events(), (Events{"reader in", "writer waits", "read again", "writer in"}));
  CloseHandle(GLockWaited);
}

} // namespace
