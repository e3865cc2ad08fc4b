// Makes the next operator new on the calling thread throw std::bad_alloc, to
// drive the module's memory-exhaustion paths. The test executable replaces
// the global operator new for this.
#pragma once

class TAllocationFailure {
public:
  // Arms the failure for the calling thread; one thread is armed at a time.
  TAllocationFailure();
  // Disarms it, if it has not fired.
  ~TAllocationFailure();
  TAllocationFailure(const TAllocationFailure&) = delete;
  TAllocationFailure& operator=(const TAllocationFailure&) = delete;

  // The armed allocation did fail.
  bool Fired() const;
};

// Runs `call` with the next allocation failing; true when it did fail.
template <class TCall> bool FailingOneAllocation(TCall&& call) {
  TAllocationFailure failure;
  call();
  return failure.Fired();
}
