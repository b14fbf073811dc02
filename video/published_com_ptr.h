// One reference to a COM object that another thread reads without a lock and without a
// reference of its own: the capture graph's IPiPBuffer, read by the frame step.
//
// Threads: publish and reset run on the control thread that owns the object. get may be called
// on any thread; the reader must hold a FrameReadScope (video/frame_guard.h) from before get
// until it is done with the object, and must never AddRef, Release or query it. The object's
// last release happens after reset has unpublished it, and the object's destruction waits for
// such scopes, so the pointer a reader found stays valid for the length of its scope.
#pragma once

#include <atomic>

#include "video/com_ptr.h"

namespace kvx {

template <class T>
class PublishedComPtr {
 public:
  PublishedComPtr() = default;
  PublishedComPtr(const PublishedComPtr&) = delete;
  PublishedComPtr& operator=(const PublishedComPtr&) = delete;
  ~PublishedComPtr() { reset(); }

  // Takes over the reference that `object` holds and makes it visible to readers.
  void publish(ComPtr<T> object) {
    reset();
    ptr_.store(object.detach());
  }
  // Unpublishes first, then releases the reference.
  void reset() {
    if (T* p = ptr_.exchange(nullptr)) {
      p->Release();
    }
  }
  // Sequentially consistent, as the frame guard requires of readers and of the unpublishing
  // exchange.
  T* get() const { return ptr_.load(); }
  explicit operator bool() const { return get() != nullptr; }

 private:
  std::atomic<T*> ptr_{nullptr};
};

}  // namespace kvx
