#include "rw_lock.h"

// Readers are admitted whenever no other thread writes; a thread that already
// reads may therefore read again while a writer waits, without deadlock.

namespace {

// Holds the guard for one scope; an exception (the map failing to grow)
// releases it too.
class TGuard {
public:
  explicit TGuard(SRWLOCK& lock) : FLock(lock) { AcquireSRWLockExclusive(&FLock); }
  ~TGuard() { ReleaseSRWLockExclusive(&FLock); }
  TGuard(const TGuard&) = delete;
  TGuard& operator=(const TGuard&) = delete;

  // Releases the guard while it waits for `changed`, until `done()` holds.
  template <class Done> void WaitUntil(CONDITION_VARIABLE& changed, Done done) {
    while (!done())
      SleepConditionVariableSRW(&changed, &FLock, INFINITE, 0);
  }

private:
  SRWLOCK& FLock;
};

} // namespace

void TMultiReadExclusiveWriteSynchronizer::BeginRead() {
  const DWORD self = GetCurrentThreadId();
  TGuard guard(FGuard);
  if (FWriter == self) {
    ++FWriterReads;
    return;
  }
  guard.WaitUntil(FChanged, [this] { return FWriter == 0; });
  // The map may fail to grow: count nothing until it has.
  ++FReadsByThread[self];
  ++FReaders;
}

void TMultiReadExclusiveWriteSynchronizer::EndRead() {
  const DWORD self = GetCurrentThreadId();
  {
    TGuard guard(FGuard);
    if (FWriter == self && FWriterReads > 0) {
      --FWriterReads;
      return;
    }
    auto own = FReadsByThread.find(self);
    if (own == FReadsByThread.end())
      return; // unbalanced EndRead: nothing to give back
    if (--own->second == 0)
      FReadsByThread.erase(own);
    --FReaders;
  }
  WakeAllConditionVariable(&FChanged);
}

void TMultiReadExclusiveWriteSynchronizer::BeginWrite() {
  const DWORD self = GetCurrentThreadId();
  TGuard guard(FGuard);
  if (FWriter == self) {
    ++FWriteDepth;
    return;
  }
  // The writer waits for every reader but itself: a thread that reads may
  // go on to write.
  guard.WaitUntil(FChanged, [this, self] {
    if (FWriter != 0)
      return false;
    auto own = FReadsByThread.find(self);
    int ownReads = own == FReadsByThread.end() ? 0 : own->second;
    return FReaders == ownReads;
  });
  FWriter = self;
  FWriteDepth = 1;
}

void TMultiReadExclusiveWriteSynchronizer::EndWrite() {
  const DWORD self = GetCurrentThreadId();
  {
    TGuard guard(FGuard);
    if (FWriter != self)
      return; // not the writer: nothing to give back
    if (--FWriteDepth > 0)
      return;
    FWriter = 0;
    FWriterReads = 0;
  }
  WakeAllConditionVariable(&FChanged);
}
