#include "allocation_failure.h"

#include <windows.h>

#include <atomic>
#include <cstdlib>
#include <new>

namespace {
// The armed thread's identifier (0: none) and whether its failure fired. Not
// thread_local: the tests allocate right after system calls that, under ARM64
// Wine, return with x18 (the register through which thread_local data is
// reached) changed or zero. One thread is armed at a time.
std::atomic<DWORD> GArmedThread{0};
std::atomic<bool> GFired{false};
} // namespace

TAllocationFailure::TAllocationFailure() {
  GFired = false;
  GArmedThread = GetCurrentThreadId();
}

TAllocationFailure::~TAllocationFailure() {
  GArmedThread = 0;
}

bool TAllocationFailure::Fired() const {
  return GFired;
}

void* operator new(std::size_t size) {
  DWORD armed = GArmedThread.load(std::memory_order_relaxed);
  if (armed != 0 && armed == GetCurrentThreadId() &&
      GArmedThread.compare_exchange_strong(armed, 0)) {
    GFired = true;
    throw std::bad_alloc();
  }
  if (void* block = std::malloc(size ? size : 1))
    return block;
  throw std::bad_alloc();
}

void operator delete(void* block) noexcept {
  std::free(block);
}
void operator delete(void* block, std::size_t) noexcept {
  std::free(block);
}
