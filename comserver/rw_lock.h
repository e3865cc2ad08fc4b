// Multiple readers, one writer. The writing thread may take the write lock
// again (counted) and the read lock (a no-op while it writes); a reading
// thread may go on to write once no other thread reads.
#pragma once

#include <windows.h>

#include <map>

class TMultiReadExclusiveWriteSynchronizer {
public:
  TMultiReadExclusiveWriteSynchronizer() = default;
  TMultiReadExclusiveWriteSynchronizer(const TMultiReadExclusiveWriteSynchronizer&) = delete;
  TMultiReadExclusiveWriteSynchronizer&
  operator=(const TMultiReadExclusiveWriteSynchronizer&) = delete;

  void BeginRead();
  void EndRead();
  void BeginWrite();
  void EndWrite();

private:
  // Guards the fields below; the waits release it. The Win32 primitives need
  // neither set-up nor clean-up and raise nothing.
  SRWLOCK FGuard = SRWLOCK_INIT;
  CONDITION_VARIABLE FChanged = CONDITION_VARIABLE_INIT;
  int FReaders = 0;                    // read locks held, over all threads
  std::map<DWORD, int> FReadsByThread; // read locks held per thread
  DWORD FWriter = 0;                   // thread id of the writer, 0 when none
  int FWriteDepth = 0;                 // nesting of the writer's BeginWrite
  int FWriterReads = 0;                // BeginRead calls made while writing (no-ops)
};

class TReadLock {
public:
  explicit TReadLock(TMultiReadExclusiveWriteSynchronizer& lock) : FLock(lock) {
    FLock.BeginRead();
  }
  ~TReadLock() { FLock.EndRead(); }
  TReadLock(const TReadLock&) = delete;
  TReadLock& operator=(const TReadLock&) = delete;

private:
  TMultiReadExclusiveWriteSynchronizer& FLock;
};

class TWriteLock {
public:
  explicit TWriteLock(TMultiReadExclusiveWriteSynchronizer& lock) : FLock(lock) {
    FLock.BeginWrite();
  }
  ~TWriteLock() { FLock.EndWrite(); }
  TWriteLock(const TWriteLock&) = delete;
  TWriteLock& operator=(const TWriteLock&) = delete;

private:
  TMultiReadExclusiveWriteSynchronizer& FLock;
};
