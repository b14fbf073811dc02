#include "video/frame_guard.h"

#include <atomic>

#ifdef _WIN32
#include <windows.h>
#else
#include <chrono>
#include <thread>
#endif

#include "video/critical_section.h"

namespace kvx {
namespace {

// Frame steps count themselves in the slot of the epoch they began in. A waiter moves the epoch
// on, so frame steps that begin afterwards count in the other slot, and waits only for the old
// slot to empty. The counts and the epoch are sequentially consistent (a frame step's end only
// releases), as is the unpublishing store: a frame step either finds the store already
// unpublished, or is counted before the waiter looks at its slot.
std::atomic<uint32_t> g_epoch{0};
std::atomic<int32_t> g_readers[2] = {0, 0};

// Guards the epoch's moves: one waiter at a time. Taken by control threads only, never by a
// frame step.
CriticalSection g_waiterLock;

// The platform's own calls on Windows: the standard library's need the runtime's thread library.
void YieldProcessorTime() {
#ifdef _WIN32
  SwitchToThread();
#else
  std::this_thread::yield();
#endif
}

void SleepOneMillisecond() {
#ifdef _WIN32
  Sleep(1);
#else
  std::this_thread::sleep_for(std::chrono::milliseconds(1));
#endif
}

#if defined(__SANITIZE_THREAD__)
std::atomic<uint32_t> g_fence{0};
#endif

// Orders the plain and relaxed accesses around it (the lifecycle flags) with the counts.
void FullFence() {
#if defined(__SANITIZE_THREAD__)
  // ThreadSanitizer does not model fences; a read-modify-write of one shared value gives it an
  // ordering at least as strong to follow.
  g_fence.fetch_add(0);
#else
  std::atomic_thread_fence(std::memory_order_seq_cst);
#endif
}

}  // namespace

FrameReadScope::FrameReadScope() {
  for (;;) {
    const uint32_t epoch = g_epoch.load();
    slot_ = epoch & 1;
    g_readers[slot_].fetch_add(1);
    // A waiter that moved the epoch on in between may already have found this slot empty.
    if (g_epoch.load() == epoch) {
      break;
    }
    g_readers[slot_].fetch_sub(1);
  }
  // The frame step tests the lifecycle flags again after this.
  FullFence();
}

FrameReadScope::~FrameReadScope() {
  g_readers[slot_].fetch_sub(1, std::memory_order_release);
}

void WaitForFrameReaders() {
  FullFence();
  ScopedLock lock(g_waiterLock);
  const uint32_t epoch = g_epoch.load();
  g_epoch.store(epoch + 1);
  const uint32_t slot = epoch & 1;
  // A frame step lasts one compose: yield first, then sleep so a long one costs no CPU.
  for (int round = 0; g_readers[slot].load() != 0; ++round) {
    if (round < 64) {
      YieldProcessorTime();
    } else {
      SleepOneMillisecond();
    }
  }
}

int32_t FrameReadersForTesting() {
  return g_readers[0].load() + g_readers[1].load();
}

}  // namespace kvx
