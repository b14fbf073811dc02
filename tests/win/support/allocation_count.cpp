// The test program's global operator new, counting the allocations that throw when they fail
// which one thread makes while it is asked to (see allocation_count.h). The product's code linked
// into the test program allocates through it too; the system's own (COM, DirectShow) does not.
#include "tests/win/support/allocation_count.h"

#include <windows.h>

#include <atomic>
#include <cstdlib>
#include <new>

namespace {

std::atomic<DWORD> g_countingThread{0};
std::atomic<int> g_count{0};

// counted: an allocation that throws when it fails; a nothrow one reports failure as a result.
void* Allocate(std::size_t size, bool counted = true) {
  if (counted && g_countingThread.load(std::memory_order_relaxed) == GetCurrentThreadId()) {
    ++g_count;
  }
  void* p = std::malloc(size != 0 ? size : 1);
  if (p == nullptr) {
    throw std::bad_alloc();
  }
  return p;
}

}  // namespace

void* operator new(std::size_t size) {
  return Allocate(size);
}
void* operator new[](std::size_t size) {
  return Allocate(size);
}
void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
  try {
    return Allocate(size, false);
  } catch (...) {
    return nullptr;
  }
}
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept {
  try {
    return Allocate(size, false);
  } catch (...) {
    return nullptr;
  }
}
void operator delete(void* p) noexcept {
  std::free(p);
}
void operator delete[](void* p) noexcept {
  std::free(p);
}
void operator delete(void* p, std::size_t) noexcept {
  std::free(p);
}
void operator delete[](void* p, std::size_t) noexcept {
  std::free(p);
}

namespace kvx::test {

AllocationCount::AllocationCount() {
  g_count = 0;
  g_countingThread = GetCurrentThreadId();
}

AllocationCount::~AllocationCount() {
  g_countingThread = 0;
}

int AllocationCount::Count() const {
  return g_count;
}

}  // namespace kvx::test
