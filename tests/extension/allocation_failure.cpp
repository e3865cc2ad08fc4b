#include "allocation_failure.h"

#include <cstdlib>
#include <new>

namespace {
thread_local bool GArmed = false;
thread_local bool GFired = false;
} // namespace

TAllocationFailure::TAllocationFailure() {
  GFired = false;
  GArmed = true;
}

TAllocationFailure::~TAllocationFailure() {
  GArmed = false;
}

bool TAllocationFailure::Fired() const {
  return GFired;
}

void* operator new(std::size_t size) {
  if (GArmed) {
    GArmed = false;
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
