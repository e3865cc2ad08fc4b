#include "rw_lock.h"

// Readers are admitted whenever no other thread writes; a thread that already
// reads may therefore read again while a writer waits, without deadlock.

void TMultiReadExclusiveWriteSynchronizer::BeginRead() {
  const DWORD self = GetCurrentThreadId();
  std::unique_lock<std::mutex> guard(FMutex);
  if (FWriter == self) {
    ++FWriterReads;
    return;
  }
  FChanged.wait(guard, [this] { return FWriter == 0; });
  // The map may fail to grow: count nothing until it has.
  ++FReadsByThread[self];
  ++FReaders;
}

void TMultiReadExclusiveWriteSynchronizer::EndRead() {
  const DWORD self = GetCurrentThreadId();
  std::unique_lock<std::mutex> guard(FMutex);
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
  guard.unlock();
  FChanged.notify_all();
}

void TMultiReadExclusiveWriteSynchronizer::BeginWrite() {
  const DWORD self = GetCurrentThreadId();
  std::unique_lock<std::mutex> guard(FMutex);
  if (FWriter == self) {
    ++FWriteDepth;
    return;
  }
  // The writer waits for every reader but itself: a thread that reads may
  // go on to write.
  FChanged.wait(guard, [this, self] {
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
  std::unique_lock<std::mutex> guard(FMutex);
  if (FWriter != self)
    return; // not the writer: nothing to give back
  if (--FWriteDepth > 0)
    return;
  FWriter = 0;
  FWriterReads = 0;
  guard.unlock();
  FChanged.notify_all();
}
