#include "video/frame_buffer.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <new>

#include "video/frame_guard.h"

namespace kvx {
namespace {

// Offsets of the BITMAPINFOHEADER in the two video format blocks, and of the fields we read.
constexpr uint32_t kVideoInfoHeaderOffset = 48;
constexpr uint32_t kVideoInfo2HeaderOffset = 72;
constexpr uint32_t kBitmapWidthOffset = 4;
constexpr uint32_t kBitmapHeightOffset = 8;
constexpr uint32_t kBitmapHeaderSize = 40;

std::atomic<bool> g_failAllocations{false};

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
  int32_t width = 0;
  int32_t height = 0;
  int32_t format = kBufferYuy2;
  int32_t size = 0;
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
  const int64_t height =
      std::abs(static_cast<int64_t>(ReadInt32(mt.format + headerOffset + kBitmapHeightOffset)));
  if (width <= 0 || width > kMaxFrameSide || height > kMaxFrameSide) {
    return parsed;
  }
  parsed.width = width;
  parsed.height = static_cast<int32_t>(height);
  parsed.step = ParsedFormat::kBadSubtype;

  int32_t bits;
  if (SameGuid(mt.subtype, kSubtypeYuy2)) {
    parsed.format = kBufferYuy2;
    bits = 16;
  } else if (SameGuid(mt.subtype, kSubtypeUyvy)) {
    parsed.format = kBufferUyvy;
    bits = 16;
  } else if (SameGuid(mt.subtype, kSubtypeRgb24)) {
    parsed.format = kBufferRgb24;
    bits = 24;
  } else {
    return parsed;
  }
  // 4:2:2 rows must hold whole pixel pairs, or the compositor would read past the last row.
  if (bits == 16 && parsed.width % 2 != 0) {
    return parsed;
  }
  // At most 24 * 8192 * 8192 / 8: fits in 32 bits.
  parsed.size =
      static_cast<int32_t>(static_cast<int64_t>(bits) * parsed.width * parsed.height >> 3);
  parsed.step = ParsedFormat::kRead;
  return parsed;
}

}  // namespace

PipFrameBuffer::~PipFrameBuffer() {
  RetireStore();
}

bool PipFrameBuffer::CanHold(const MediaTypeView& mt) {
  const ParsedFormat parsed = ParseFormat(mt);
  return parsed.step == ParsedFormat::kRead && parsed.size > 0;
}

HResult PipFrameBuffer::SetFrameFormat(const MediaTypeView& mt) {
  const ParsedFormat parsed = ParseFormat(mt);
  size_ = 0;
  width_ = parsed.width;
  height_ = parsed.height;
  if (parsed.step == ParsedFormat::kBadBlock) {
    return kFail;
  }
  if (parsed.step == ParsedFormat::kBadSubtype) {
    return kFail;
  }
  format_ = parsed.format;
  size_ = parsed.size;
  return kOk;
}

void PipFrameBuffer::RetireStore() {
  // Frame steps that begin after the exchange find no store; the wait covers those that may
  // have found the old one.
  uint8_t* old = pixels_.exchange(nullptr, std::memory_order_seq_cst);
  if (old != nullptr) {
    WaitForFrameReaders();
    FreeAligned(old);
  }
}

HResult PipFrameBuffer::AllocateFrame() {
  if (size_ == 0) {
    return kFail;
  }
  RetireStore();
  uint8_t* pixels = AllocateAligned(static_cast<size_t>(size_));
  if (pixels == nullptr) {
    return kOutOfMemory;
  }
  // Blue until the first sample arrives.
  static constexpr uint8_t kBlueYuy2[] = {0x1B, 0xE8, 0x1B, 0x65};
  static constexpr uint8_t kBlueUyvy[] = {0xE8, 0x1B, 0x65, 0x1B};
  static constexpr uint8_t kBlueRgb24[] = {0xE0, 0x00, 0x00};
  switch (format_) {
    case kBufferYuy2:
      FillPattern(pixels, size_, kBlueYuy2, 4);
      break;
    case kBufferUyvy:
      FillPattern(pixels, size_, kBlueUyvy, 4);
      break;
    default:
      FillPattern(pixels, size_, kBlueRgb24, 3);
      break;
  }
  pixels_.store(pixels, std::memory_order_release);
  return kOk;
}

HResult PipFrameBuffer::FreeFrame() {
  RetireStore();
  size_ = 0;
  width_ = 0;
  height_ = 0;
  return kOk;
}

void PipFrameBuffer::StartStreaming() {
  ScopedLock lock(receiveLock_);
  streaming_.store(1, std::memory_order_release);
}

void PipFrameBuffer::StopStreaming() {
  streaming_.store(0, std::memory_order_release);
  // Taking the lock once waits for a copy that began before the flag changed.
  ScopedLock lock(receiveLock_);
}

void PipFrameBuffer::CopyIntoStore(const uint8_t* data, int64_t length) {
  uint8_t* pixels = pixels_.load(std::memory_order_acquire);
  if (pixels == nullptr || data == nullptr || length <= 0) {
    return;
  }
  // A longer sample is cut to the store; a shorter one leaves the rest of the previous frame.
  std::memcpy(pixels, data, static_cast<size_t>(std::min<int64_t>(length, size_)));
}

HResult PipFrameBuffer::GetFrame(uint8_t** pixels, int32_t* width, int32_t* height,
                                 int32_t* format) const {
  if (pixels == nullptr) {
    return kPointer;
  }
  uint8_t* store = pixels_.load(std::memory_order_acquire);
  if (store == nullptr) {
    return kFail;
  }
  *pixels = store;
  if (width != nullptr) {
    *width = width_;
  }
  if (height != nullptr) {
    *height = height_;
  }
  if (format != nullptr) {
    *format = format_;
  }
  return kOk;
}

void PipFrameBuffer::FailAllocationsForTesting(bool fail) {
  g_failAllocations.store(fail, std::memory_order_relaxed);
}

}  // namespace kvx
