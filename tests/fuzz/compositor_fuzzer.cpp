// Arbitrary geometry through the compositor and the frame step. Frames sit in exact-size
// allocations, so any access outside them is a sanitizer report; the vector kernels must give
// the reference kernels' bytes.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "compose/compositor.h"
#include "compose/frame_step.h"

namespace {

class Input {
 public:
  Input(const uint8_t* data, size_t size) : data_(data), size_(size) {}
  template <class T>
  T Take() {
    T v{};
    const size_t n = size_ < sizeof v ? size_ : sizeof v;
    std::memcpy(&v, data_, n);
    data_ += n;
    size_ -= n;
    return v;
  }
  // Small values most of the time, anything now and then.
  int32_t Coordinate(int32_t range) {
    const auto raw = Take<int32_t>();
    return (raw & 0x70000000) == 0x70000000 ? raw : raw % range;
  }
  int32_t Size(int32_t most) { return Take<uint16_t>() % (most + 1); }

 private:
  const uint8_t* data_;
  size_t size_;
};

int32_t Layout(uint8_t pick, bool destination) {
  constexpr int32_t kSources[] = {kvx::kLayoutYuy2, kvx::kLayoutUyvy, kvx::kLayoutRgb24,
                                  kvx::kLayoutRgb24TopDown};
  return destination ? (pick & 1 ? kvx::kLayoutRgb24 : kvx::kLayoutYuy2) : kSources[pick % 4];
}

size_t Bytes(int32_t layout, int32_t width, int32_t height) {
  return width <= 0 || height <= 0
             ? 0
             : static_cast<size_t>(kvx::BytesPerPixel(layout)) * width * height;
}

void FuzzCompose(Input& in) {
  const auto picks = in.Take<uint8_t>();
  const int32_t srcLayout = Layout(picks, false);
  const int32_t dstLayout = Layout(picks >> 2, true);
  const int32_t srcWidth = in.Size(300), srcHeight = in.Size(200);
  const int32_t dstWidth = in.Size(400), dstHeight = in.Size(300);
  const kvx::Rect crop{in.Coordinate(400), in.Coordinate(300), in.Coordinate(400),
                       in.Coordinate(300)};
  const kvx::Rect rect{in.Coordinate(800), in.Coordinate(600), in.Coordinate(800),
                       in.Coordinate(600)};
  const auto opacity = in.Take<int32_t>();
  std::vector<uint8_t> src(Bytes(srcLayout, srcWidth, srcHeight), 0x5A);
  for (size_t i = 0; i < src.size(); ++i) {
    src[i] = static_cast<uint8_t>(i * 37 + (i >> 7));
  }
  std::vector<uint8_t> reference(Bytes(dstLayout, dstWidth, dstHeight), 0xA5);
  const std::vector<uint8_t> before = reference;
  kvx::Compositor scalar;
  scalar.SetIsa(kvx::Isa::kScalar);
  scalar.SetShortcutsForTesting(false);  // every row through the row and column passes
  scalar.Compose(src.data(), srcWidth, srcHeight, crop, srcLayout, reference.data(), dstWidth,
                 dstHeight, rect, dstLayout, opacity);
#if defined(__x86_64__) || defined(__i386__)
  // Every vector level this CPU has.
  for (const kvx::Isa isa : {kvx::Isa::kSse2, kvx::Isa::kSsse3, kvx::Isa::kAvx2}) {
    if (isa > kvx::DetectIsa()) {
      break;
    }
    std::vector<uint8_t> vector = before;
    kvx::Compositor fast;
    fast.SetIsa(isa);
    fast.Compose(src.data(), srcWidth, srcHeight, crop, srcLayout, vector.data(), dstWidth,
                 dstHeight, rect, dstLayout, opacity);
    if (reference != vector) {
      std::abort();
    }
  }
#endif
}

void FuzzFrameStep(Input& in) {
  kvx::PipSettings s = kvx::PipSettings::Defaults();
  s.PiPWndPosX = in.Coordinate(2000);
  s.PiPWndPosY = in.Coordinate(2000);
  s.PiPWndSize = in.Coordinate(300);
  s.PiPImgSize = in.Coordinate(400);
  s.Opacity = in.Take<uint32_t>() % 256;
  s.BorderEnable = in.Take<uint8_t>() & 1;
  s.BorderColor = in.Take<uint32_t>();
  const auto picks = in.Take<uint8_t>();
  const int32_t hostFormat = picks & 1;
  const int32_t hostWidth = in.Size(400), hostHeight = in.Size(300);
  const int32_t bufferFormat = (picks >> 1) % 3;
  const int32_t frameWidth = in.Size(200) & ~1, frameHeight = in.Size(200);
  std::vector<uint8_t> host(
      Bytes(hostFormat == 0 ? kvx::kLayoutYuy2 : kvx::kLayoutRgb24, hostWidth, hostHeight), 0x33);
  std::vector<uint8_t> frame(
      Bytes(bufferFormat == 2 ? kvx::kLayoutRgb24 : kvx::kLayoutYuy2, frameWidth, frameHeight),
      0x77);
  kvx::FrameStep step;
  step.Configure(hostWidth, hostHeight, hostFormat);
  step.SetHostPixels(host.data());
  step.Draw(kvx::PipFrame{frame.data(), frameWidth, frameHeight, bufferFormat, (picks & 0x80) != 0},
            s);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) {
    return 0;
  }
  Input in(data + 1, size - 1);
  if (data[0] & 1) {
    FuzzCompose(in);
  } else {
    FuzzFrameStep(in);
  }
  return 0;
}
