// The newest frame captured from the PiP card: one frame, overwritten in place.
//
// Threads:
//   - SetFrameFormat, AllocateFrame, FreeFrame, StartStreaming, StopStreaming: the renderer,
//     under its filter lock, while a connection is made or broken or the state changes.
//   - StoreSample: the capture graph's streaming thread; holds the receive lock while copying.
//   - GetFrame: the host's frame thread, without any lock. The pointer it hands out points into
//     the live store. Inside a FrameReadScope (video/frame_guard.h) taken before the call it
//     stays valid until the scope ends, even if FreeFrame, AllocateFrame or the destructor runs
//     meanwhile: they wait for such scopes before they free the store. Without a scope it is
//     valid until the next FreeFrame, AllocateFrame or destruction.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>

#include "plugin/hresult.h"
#include "video/critical_section.h"
#include "video/media_guids.h"

namespace kvx {

enum BufferFormat : int32_t {
  kBufferYuy2 = 0,
  kBufferUyvy = 1,
  kBufferRgb24 = 2,
};

// Frames larger than this on either side are refused as corrupt media types.
inline constexpr int32_t kMaxFrameSide = 8192;
// The compositor reads the store with packed-integer loads.
inline constexpr size_t kFrameAlignment = 64;

class PipFrameBuffer {
 public:
  PipFrameBuffer() = default;
  ~PipFrameBuffer();
  PipFrameBuffer(const PipFrameBuffer&) = delete;
  PipFrameBuffer& operator=(const PipFrameBuffer&) = delete;

  // Reads size and format from a media type; E_FAIL refuses the type.
  HResult SetFrameFormat(const MediaTypeView& mediaType);
  // Whether SetFrameFormat would read a non-empty frame from the type; changes nothing.
  static bool CanHold(const MediaTypeView& mediaType);
  // Allocates the store for the last format and fills it with a blue picture.
  HResult AllocateFrame();
  HResult FreeFrame();

  // The renderer's streaming flag: samples are stored only while it is set.
  void StartStreaming();
  // Returns once a copy in progress has finished.
  void StopStreaming();
  bool Streaming() const { return streaming_.load(std::memory_order_acquire) != 0; }

  // Sample is IMediaSample or anything with the same GetPointer, GetSize and
  // GetActualDataLength.
  template <class Sample>
  HResult StoreSample(Sample* sample);

  HResult GetFrame(uint8_t** pixels, int32_t* width, int32_t* height, int32_t* format) const;

  // The receive lock: guards the sample copy, the renderer's end-of-stream flags and changes of
  // the streaming flag. Taken by the streaming thread (StoreSample, end of stream) and by the
  // control thread, which may already hold the renderer's filter lock, never the reverse.
  CriticalSection& ReceiveLock() { return receiveLock_; }

  int32_t size() const { return size_; }
  int32_t width() const { return width_; }
  int32_t height() const { return height_; }
  int32_t format() const { return format_; }

  // Lets tests see how a failed allocation is handled.
  static void FailAllocationsForTesting(bool fail);

 private:
  void CopyIntoStore(const uint8_t* data, int64_t length);
  // Unpublishes the store and frees it once no frame step can be reading it.
  void RetireStore();

  std::atomic<uint8_t*> pixels_{nullptr};
  // Written on the control thread only while no copy can run (the streaming flag is clear and
  // the receive lock was taken after clearing it) and no frame step can find the store.
  int32_t size_ = 0;
  int32_t width_ = 0;
  int32_t height_ = 0;
  int32_t format_ = kBufferYuy2;

  CriticalSection receiveLock_;
  std::atomic<int32_t> streaming_{0};
};

template <class Sample>
HResult PipFrameBuffer::StoreSample(Sample* sample) {
  if (sample == nullptr) {
    return kPointer;
  }
  if (!Streaming()) {
    return kFalse;  // upstream takes this as a request to stop delivering
  }
  ScopedLock lock(receiveLock_);
  // Tested again under the lock: a sample that passed the first test just before Pause or Stop
  // cleared the flag must not be copied after they have returned.
  if (!Streaming()) {
    return kFalse;
  }
  unsigned char* data = nullptr;
  const HResult hr = sample->GetPointer(&data);
  if (Failed(hr)) {
    return hr;
  }
  // A driver that claims more data than its sample holds is not followed past the sample's end.
  const int64_t length = sample->GetActualDataLength();
  const int64_t capacity = sample->GetSize();
  CopyIntoStore(data, length < capacity ? length : capacity);
  return kOk;
}

}  // namespace kvx
