// The newest frame captured from the PiP card: one frame, overwritten in place.
//
// The frame's shape (size, format, row order) and its pixels are published together as one
// store, so a reader that finds the store sees pixels and a shape that belong together even when
// the upstream filter changes the frame size while streaming.
//
// Threads:
//   - SetFrameFormat, AllocateFrame, FreeFrame, StartStreaming, StopStreaming: the renderer,
//     under its filter lock, while a connection is made or broken or the state changes.
//   - StoreSample: the capture graph's streaming thread; holds the receive lock while copying.
//     A sample that announces a new format replaces the store there, waiting (one frame step at
//     most) for frame steps that may still read the old one.
//   - GetFrame, GetFrameView: the host's frame thread, without any lock. The pointer they hand
//     out points into the live store. Inside a FrameReadScope (video/frame_guard.h) taken before
//     the call it stays valid until the scope ends, even if the store is replaced or freed
//     meanwhile: whoever replaces it waits for such scopes before freeing it. Without a scope it
//     is valid until the next FreeFrame, AllocateFrame, format change or destruction.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>

#include "base/hresult.h"
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

// How the samples' bytes lie: as the store keeps them, or in 4:2:0 planes (a Y plane, then the
// chroma at half the width and height) that the copy turns into the store's YUY2.
enum class SampleLayout : int32_t { kPacked, kNv12, kI420, kYv12 };

// What a media type says about the frame it describes.
struct FrameShape {
  int32_t width = 0;
  int32_t height = 0;  // always positive
  int32_t format = kBufferYuy2;
  // An RGB24 frame whose height was negative: its top row comes first. 4:2:2 rows always do.
  bool topDown = false;
  int32_t size = 0;  // bytes in the store
  SampleLayout samples = SampleLayout::kPacked;

  bool operator==(const FrameShape&) const = default;
};

// One frame as a single store held it.
struct PipFrameView {
  uint8_t* pixels;
  int32_t width;
  int32_t height;
  int32_t format;  // BufferFormat
  int32_t topDown;
  // The tick count (ms) of the newest sample stored, or of the store's creation or the start of
  // streaming if none came since: a driver that stalls leaves it behind.
  uint32_t sampleTick;
  // A sample came since streaming last started: the pixels are not a frame from before.
  int32_t fresh;
  // Samples are being refused: their type is one the store cannot hold.
  int32_t refused;
};

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

  // The renderer's streaming flag: samples are stored only while it is set. Starting counts as a
  // sample for the stall test, but the frame kept from before is no fresh one.
  void StartStreaming();
  // Returns once a copy in progress has finished.
  void StopStreaming();
  bool Streaming() const { return streaming_.load(std::memory_order_acquire) != 0; }

  // Sample is IMediaSample or anything with the same GetPointer, GetSize and
  // GetActualDataLength. `announced` is the media type the sample carries, or null: a video type
  // the store can hold becomes the store's format before the bytes are copied; any other is
  // refused (VFW_E_INVALIDMEDIATYPE), and so is every later sample (VFW_E_RUNTIME_ERROR) until
  // a type the store can hold arrives or the pin connects anew: never are its bytes copied into
  // the old geometry.
  template <class Sample>
  HResult StoreSample(Sample* sample, const MediaTypeView* announced = nullptr);

  HResult GetFrame(uint8_t** pixels, int32_t* width, int32_t* height, int32_t* format) const;
  HResult GetFrameView(PipFrameView* view) const;

  // The receive lock: guards the sample copy, format changes that samples announce, the
  // renderer's end-of-stream flags and changes of the streaming flag. Taken by the streaming
  // thread (StoreSample, end of stream) and by the control thread, which may already hold the
  // renderer's filter lock, never the reverse.
  CriticalSection& ReceiveLock() { return receiveLock_; }

  // The format last read from a media type (the connection's, or a sample's).
  int32_t size() const { return shape_.size; }
  int32_t width() const { return shape_.width; }
  int32_t height() const { return shape_.height; }
  int32_t format() const { return shape_.format; }
  bool topDown() const { return shape_.topDown; }
  bool Refusing() const { return formatRefused_.load(std::memory_order_relaxed); }

  // Lets tests see how a failed allocation is handled.
  static void FailAllocationsForTesting(bool fail);

 private:
  // The shape in front of the pixels, in one allocation; the pixels start kFrameAlignment bytes
  // in.
  struct Store {
    FrameShape shape;
    uint8_t* Pixels() { return reinterpret_cast<uint8_t*>(this) + kFrameAlignment; }
  };
  static_assert(sizeof(Store) <= kFrameAlignment);

  // A new store of this shape, blue; null without memory.
  static Store* NewStore(const FrameShape& shape);
  // Publishes `next` (may be null) and frees the old store once no frame step can be reading it.
  void ReplaceStore(Store* next);
  // Under the receive lock: a format a sample announced.
  HResult TakeAnnouncedFormat(const MediaTypeView& mediaType);
  void CopyIntoStore(const uint8_t* data, int64_t length);
  void NoteSample();

  std::atomic<Store*> store_{nullptr};
  std::atomic<uint32_t> sampleTick_{0};
  // Written on the control thread while no copy can run (the streaming flag is clear and the
  // receive lock was taken after clearing it), and on the streaming thread under the receive
  // lock.
  FrameShape shape_;
  // A sample announced a format the store cannot hold; written like shape_, read by views.
  std::atomic<bool> formatRefused_{false};
  std::atomic<int32_t> fresh_{0};

  CriticalSection receiveLock_;
  std::atomic<int32_t> streaming_{0};
};

template <class Sample>
HResult PipFrameBuffer::StoreSample(Sample* sample, const MediaTypeView* announced) {
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
  if (announced != nullptr) {
    const HResult hr = TakeAnnouncedFormat(*announced);
    if (Failed(hr)) {
      return hr;
    }
  } else if (formatRefused_) {
    return kRuntimeError;
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
  NoteSample();
  fresh_.store(1, std::memory_order_relaxed);
  return kOk;
}

}  // namespace kvx
