#include "video/frame_buffer.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <new>

#include "video/frame_guard.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <chrono>
#endif

namespace kvx {
namespace {

// Offsets of the BITMAPINFOHEADER in the two video format blocks, and of the fields we read.
constexpr uint32_t kVideoInfoHeaderOffset = 48;
constexpr uint32_t kVideoInfo2HeaderOffset = 72;
constexpr uint32_t kBitmapWidthOffset = 4;
constexpr uint32_t kBitmapHeightOffset = 8;
constexpr uint32_t kBitmapHeaderSize = 40;

std::atomic<bool> g_failAllocations{false};

// The system's tick count in milliseconds, as the frame step reads it.
uint32_t TickNow() {
#ifdef _WIN32
  return GetTickCount();
#else
  return static_cast<uint32_t>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                   std::chrono::steady_clock::now().time_since_epoch())
                                   .count());
#endif
}

uint8_t* AllocateAligned(size_t bytes) {
  if (g_failAllocations.load(std::memory_order_relaxed)) {
    return nullptr;
  }
  return static_cast<uint8_t*>(
      ::operator new[](bytes, std::align_val_t{kFrameAlignment}, std::nothrow));
}

void FreeAligned(uint8_t* pixels) {
  ::operator delete[](pixels, std::align_val_t{kFrameAlignment});
}

int32_t ReadInt32(const uint8_t* p) {
  int32_t value;
  std::memcpy(&value, p, sizeof value);
  return value;
}

void FillPattern(uint8_t* dst, int32_t size, const uint8_t* pattern, int32_t patternSize) {
  for (int32_t i = 0; i + patternSize <= size; i += patternSize) {
    std::memcpy(dst + i, pattern, static_cast<size_t>(patternSize));
  }
}

// What a media type says about the frame. A type the store cannot read stops at the first step
// that fails, with the fields read so far.
struct ParsedFormat {
  enum Step { kBadBlock, kBadSubtype, kRead } step = kBadBlock;
  FrameShape shape;
};

ParsedFormat ParseFormat(const MediaTypeView& mt) {
  ParsedFormat parsed;
  uint32_t headerOffset;
  if (SameGuid(mt.formattype, kFormatVideoInfo)) {
    headerOffset = kVideoInfoHeaderOffset;
  } else if (SameGuid(mt.formattype, kFormatVideoInfo2)) {
    headerOffset = kVideoInfo2HeaderOffset;
  } else {
    return parsed;
  }
  // A block too short for its header would be read past its end.
  if (mt.format == nullptr || mt.formatSize < headerOffset + kBitmapHeaderSize) {
    return parsed;
  }
  const int32_t width = ReadInt32(mt.format + headerOffset + kBitmapWidthOffset);
  const int64_t signedHeight = ReadInt32(mt.format + headerOffset + kBitmapHeightOffset);
  const int64_t height = std::abs(signedHeight);
  if (width <= 0 || width > kMaxFrameSide || height > kMaxFrameSide) {
    return parsed;
  }
  FrameShape& shape = parsed.shape;
  shape.width = width;
  shape.height = static_cast<int32_t>(height);
  parsed.step = ParsedFormat::kBadSubtype;

  int32_t bits;
  if (SameGuid(mt.subtype, kSubtypeYuy2)) {
    shape.format = kBufferYuy2;
    bits = 16;
  } else if (SameGuid(mt.subtype, kSubtypeUyvy)) {
    shape.format = kBufferUyvy;
    bits = 16;
  } else if (SameGuid(mt.subtype, kSubtypeRgb24)) {
    shape.format = kBufferRgb24;
    // By the bitmap rules a negative height is a frame whose top row comes first. 4:2:2 rows
    // come top row first whatever the sign says.
    shape.topDown = signedHeight < 0;
    bits = 24;
  } else if (SameGuid(mt.subtype, kSubtypeNv12) || SameGuid(mt.subtype, kSubtypeI420) ||
             SameGuid(mt.subtype, kSubtypeYv12)) {
    // Stored as YUY2, each chroma row serving the two luma rows it covers: the planes need
    // whole 2x2 blocks.
    shape.format = kBufferYuy2;
    shape.samples = SameGuid(mt.subtype, kSubtypeNv12)   ? SampleLayout::kNv12
                    : SameGuid(mt.subtype, kSubtypeI420) ? SampleLayout::kI420
                                                         : SampleLayout::kYv12;
    if (shape.height % 2 != 0) {
      return parsed;
    }
    bits = 16;
  } else {
    return parsed;
  }
  // 4:2:2 rows must hold whole pixel pairs, or the compositor would read past the last row.
  if (bits == 16 && shape.width % 2 != 0) {
    return parsed;
  }
  // At most 24 * 8192 * 8192 / 8: fits in 32 bits.
  shape.size = static_cast<int32_t>(static_cast<int64_t>(bits) * shape.width * shape.height >> 3);
  parsed.step = ParsedFormat::kRead;
  return parsed;
}

}  // namespace

PipFrameBuffer::~PipFrameBuffer() {
  ReplaceStore(nullptr);
}

bool PipFrameBuffer::CanHold(const MediaTypeView& mt) {
  const ParsedFormat parsed = ParseFormat(mt);
  return parsed.step == ParsedFormat::kRead && parsed.shape.size > 0;
}

HResult PipFrameBuffer::SetFrameFormat(const MediaTypeView& mt) {
  const ParsedFormat parsed = ParseFormat(mt);
  formatRefused_ = false;
  shape_.size = 0;
  shape_.width = parsed.shape.width;
  shape_.height = parsed.shape.height;
  if (parsed.step != ParsedFormat::kRead) {
    return kFail;
  }
  shape_ = parsed.shape;
  return kOk;
}

PipFrameBuffer::Store* PipFrameBuffer::NewStore(const FrameShape& shape) {
  uint8_t* memory = AllocateAligned(kFrameAlignment + static_cast<size_t>(shape.size));
  if (memory == nullptr) {
    return nullptr;
  }
  Store* store = new (memory) Store{shape};
  // Blue until the first sample arrives.
  static constexpr uint8_t kBlueYuy2[] = {0x1B, 0xE8, 0x1B, 0x65};
  static constexpr uint8_t kBlueUyvy[] = {0xE8, 0x1B, 0x65, 0x1B};
  static constexpr uint8_t kBlueRgb24[] = {0xE0, 0x00, 0x00};
  switch (shape.format) {
    case kBufferYuy2:
      FillPattern(store->Pixels(), shape.size, kBlueYuy2, 4);
      break;
    case kBufferUyvy:
      FillPattern(store->Pixels(), shape.size, kBlueUyvy, 4);
      break;
    default:
      FillPattern(store->Pixels(), shape.size, kBlueRgb24, 3);
      break;
  }
  return store;
}

void PipFrameBuffer::ReplaceStore(Store* next) {
  // Frame steps that begin after the exchange find the new store (or none); the wait covers
  // those that may have found the old one.
  Store* old = store_.exchange(next, std::memory_order_seq_cst);
  if (old != nullptr) {
    WaitForFrameReaders();
    old->~Store();
    FreeAligned(reinterpret_cast<uint8_t*>(old));
  }
}

HResult PipFrameBuffer::AllocateFrame() {
  if (shape_.size == 0) {
    return kFail;
  }
  formatRefused_ = false;
  ReplaceStore(nullptr);
  Store* store = NewStore(shape_);
  if (store == nullptr) {
    return kOutOfMemory;
  }
  NoteSample();
  ReplaceStore(store);
  return kOk;
}

HResult PipFrameBuffer::FreeFrame() {
  ReplaceStore(nullptr);
  shape_.size = 0;
  shape_.width = 0;
  shape_.height = 0;
  return kOk;
}

HResult PipFrameBuffer::TakeAnnouncedFormat(const MediaTypeView& mt) {
  const ParsedFormat parsed = ParseFormat(mt);
  if (!SameGuid(mt.majortype, kMediaTypeVideo) || parsed.step != ParsedFormat::kRead ||
      parsed.shape.size == 0) {
    formatRefused_ = true;
    return kInvalidMediaType;
  }
  formatRefused_ = false;
  const Store* current = store_.load(std::memory_order_acquire);
  if (current != nullptr && current->shape == parsed.shape) {
    return kOk;  // the format the store already has, announced again
  }
  Store* store = NewStore(parsed.shape);
  if (store == nullptr) {
    formatRefused_ = true;
    return kOutOfMemory;
  }
  shape_ = parsed.shape;
  ReplaceStore(store);
  return kOk;
}

void PipFrameBuffer::StartStreaming() {
  ScopedLock lock(receiveLock_);
  NoteSample();
  fresh_.store(0, std::memory_order_relaxed);
  streaming_.store(1, std::memory_order_release);
}

void PipFrameBuffer::NoteSample() {
  sampleTick_.store(TickNow(), std::memory_order_relaxed);
}

void PipFrameBuffer::StopStreaming() {
  streaming_.store(0, std::memory_order_release);
  // Taking the lock once waits for a copy that began before the flag changed.
  ScopedLock lock(receiveLock_);
}

void PipFrameBuffer::CopyIntoStore(const uint8_t* data, int64_t length) {
  Store* store = store_.load(std::memory_order_acquire);
  if (store == nullptr || data == nullptr || length <= 0) {
    return;
  }
  const FrameShape& shape = store->shape;
  if (shape.samples == SampleLayout::kPacked) {
    // A longer sample is cut to the store; a shorter one leaves the rest of the previous frame.
    std::memcpy(store->Pixels(), data, static_cast<size_t>(std::min<int64_t>(length, shape.size)));
    return;
  }
  // Planes: Y (width x height), then U and V at half the width and height, NV12's interleaved
  // in one plane. A row pair whose bytes the sample lacks keeps the previous frame's.
  const int64_t w = shape.width;
  const int64_t h = shape.height;
  const int64_t luma = w * h;
  const int64_t quarter = luma / 4;
  for (int64_t pair = 0; pair < h / 2; ++pair) {
    const int64_t chromaRow = pair * (w / 2);
    const uint8_t* u;
    const uint8_t* v;
    int64_t chromaEnd;
    int step = 1;
    if (shape.samples == SampleLayout::kNv12) {
      u = data + luma + pair * w;
      v = u + 1;
      step = 2;
      chromaEnd = luma + (pair + 1) * w;
    } else {
      const int64_t uPlane = shape.samples == SampleLayout::kI420 ? luma : luma + quarter;
      const int64_t vPlane = shape.samples == SampleLayout::kI420 ? luma + quarter : luma;
      u = data + uPlane + chromaRow;
      v = data + vPlane + chromaRow;
      chromaEnd = std::max(uPlane, vPlane) + chromaRow + w / 2;
    }
    if (chromaEnd > length || (2 * pair + 2) * w > length) {
      return;
    }
    for (int64_t row = 2 * pair; row < 2 * pair + 2; ++row) {
      const uint8_t* y = data + row * w;
      uint8_t* out = store->Pixels() + row * w * 2;
      for (int64_t i = 0; i < w / 2; ++i) {
        out[4 * i] = y[2 * i];
        out[4 * i + 1] = u[i * step];
        out[4 * i + 2] = y[2 * i + 1];
        out[4 * i + 3] = v[i * step];
      }
    }
  }
}

HResult PipFrameBuffer::GetFrame(uint8_t** pixels, int32_t* width, int32_t* height,
                                 int32_t* format) const {
  if (pixels == nullptr) {
    return kPointer;
  }
  PipFrameView view;
  const HResult hr = GetFrameView(&view);
  if (Failed(hr)) {
    return hr;
  }
  *pixels = view.pixels;
  if (width != nullptr) {
    *width = view.width;
  }
  if (height != nullptr) {
    *height = view.height;
  }
  if (format != nullptr) {
    *format = view.format;
  }
  return kOk;
}

HResult PipFrameBuffer::GetFrameView(PipFrameView* view) const {
  if (view == nullptr) {
    return kPointer;
  }
  // Loaded once: the shape and the pixels come from the same store.
  Store* store = store_.load(std::memory_order_acquire);
  if (store == nullptr) {
    return kFail;
  }
  *view = PipFrameView{store->Pixels(),
                       store->shape.width,
                       store->shape.height,
                       store->shape.format,
                       store->shape.topDown ? 1 : 0,
                       sampleTick_.load(std::memory_order_relaxed),
                       fresh_.load(std::memory_order_relaxed),
                       formatRefused_.load(std::memory_order_relaxed) ? 1 : 0};
  return kOk;
}

void PipFrameBuffer::FailAllocationsForTesting(bool fail) {
  g_failAllocations.store(fail, std::memory_order_relaxed);
}

}  // namespace kvx
