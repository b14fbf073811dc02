// Keeps a frame store alive while a frame step reads it without a lock.
//
// The frame step (the host's frame thread) holds a FrameReadScope from before it asks for the
// frame until it has drawn it. A control thread that takes a store away first unpublishes it
// (frame steps that start later no longer find it), then calls WaitForFrameReaders, which
// returns once every frame step that might have found it has finished; only then is the memory
// freed. Frame steps that start while the control thread waits do not delay it.
//
// Threads:
//   - FrameReadScope: any thread, usually the host's frame thread. Never waits. A thread must
//     not call WaitForFrameReaders while it holds a scope (it would wait for itself).
//   - WaitForFrameReaders: the control thread that unpublished a store, under the renderer's
//     filter lock. Waits only for frame steps, which take no lock, so it cannot deadlock with
//     the streaming thread or the host's threads.
#pragma once

#include <cstdint>

namespace kvx {

class FrameReadScope {
 public:
  FrameReadScope();
  ~FrameReadScope();
  FrameReadScope(const FrameReadScope&) = delete;
  FrameReadScope& operator=(const FrameReadScope&) = delete;

 private:
  uint32_t slot_;
};

// Call after the store's pointer has been replaced (a sequentially consistent store or
// exchange) and before the old memory is freed.
void WaitForFrameReaders();

// Frame steps counted now; for tests.
int32_t FrameReadersForTesting();

}  // namespace kvx
