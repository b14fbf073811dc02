// The frame step as a developer would write it with libyuv, shared by the benchmark and the native
// timer: the crop to ARGB, a bilinear scale to the picture rectangle, the host's rectangle to
// ARGB, a fixed-weight blend, and back into the host, with the border drawn the same way as ours.
// Where there is nothing to scale, convert or blend (full_picture), it copies, as ours does.
#pragma once

#include <cstdint>
#include <vector>

#include "bench/frame_cases.h"
#include "compose/host_surface.h"
#include "libyuv.h"

namespace kvx {

// libyuv held to one level: its CPU flags masked to what a CPU of that level has.
struct LibyuvLevel {
  const char* name;  // our level it is compared with
  const char* what;  // what the mask leaves, for the tables' titles
  int flags;
};

inline constexpr int kLibyuvSse2 =
    libyuv::kCpuInitialized | libyuv::kCpuHasX86 | libyuv::kCpuHasSSE2;
inline constexpr int kLibyuvSsse3 = kLibyuvSse2 | libyuv::kCpuHasSSSE3;
inline constexpr int kLibyuvAvx2 = kLibyuvSsse3 | libyuv::kCpuHasSSE41 | libyuv::kCpuHasSSE42 |
                                   libyuv::kCpuHasAVX | libyuv::kCpuHasAVX2 | libyuv::kCpuHasERMS |
                                   libyuv::kCpuHasFMA3 | libyuv::kCpuHasF16C;

inline constexpr LibyuvLevel kLibyuvLevels[] = {
    {"avx2", "SSE2 to SSE4.2, AVX, AVX2, FMA3, F16C and ERMS, no AVX-512", kLibyuvAvx2},
    {"ssse3", "SSE2 and SSSE3 alone, a Core 2", kLibyuvSsse3},
    {"sse2", "SSE2 alone, a Pentium 4, Athlon 64 or Phenom", kLibyuvSse2},
};

// The libyuv levels this CPU can run.
inline std::vector<LibyuvLevel> LibyuvLevelsOnThisCpu() {
  std::vector<LibyuvLevel> levels;
  for (const LibyuvLevel& level : kLibyuvLevels) {
    if ((libyuv::InitCpuFlags() & level.flags) == level.flags) {
      levels.push_back(level);
    }
  }
  return levels;
}

// Nothing to scale, convert or blend: the picture is the whole crop, drawn opaque into a host of
// the source's format.
inline bool OnlyCopies(const Case& c) {
  return c.sourceFormat == (c.hostFormat == kHostFormatRgb24 ? 2 : 0) && c.zoom == 100 &&
         c.size == 100 && c.opacity >= 100 && c.sourceWidth == c.hostWidth &&
         c.sourceHeight == c.hostHeight && !c.border;
}

class LibyuvStepper {
 public:
  LibyuvStepper(const Case& c, const LibyuvLevel& level)
      : case_(c), scene_(c), flags_(level.flags) {
    PlacePip(scene_.settings, c.sourceWidth, c.sourceHeight, c.hostWidth, c.hostHeight, &at_);
    IntersectRect(&crop_, at_.crop, Rect{0, 0, c.sourceWidth, c.sourceHeight});
    crop_.left &= ~1;
    IntersectRect(&pic_, at_.picture, Rect{0, 0, c.hostWidth, c.hostHeight});
    pic_.left &= ~1;
    pic_.right &= ~1;
    cw_ = static_cast<int>(crop_.Width());
    ch_ = static_cast<int>(crop_.Height());
    pw_ = static_cast<int>(pic_.Width());
    ph_ = static_cast<int>(pic_.Height());
    cropArgb_.resize(static_cast<size_t>(cw_) * ch_ * 4);
    scaled_.resize(static_cast<size_t>(pw_) * ph_ * 4);
    under_.resize(scaled_.size());
    border_.Configure(c.hostFormat, c.hostWidth, c.hostHeight);
  }

  void Step() {
    libyuv::SetCpuFlags(flags_);
    const Case& c = case_;
    const bool rgbSource = c.sourceFormat == 2;
    const bool rgbHost = c.hostFormat == kHostFormatRgb24;
    const int sbpp = rgbSource ? 3 : 2, hbpp = rgbHost ? 3 : 2;
    const int sstride = c.sourceWidth * sbpp, hstride = c.hostWidth * hbpp;
    const uint8_t* s = scene_.source.data();
    uint8_t* h = scene_.host.data();
    if (OnlyCopies(c)) {
      libyuv::CopyPlane(s, sstride, h, hstride, c.hostWidth * hbpp, c.hostHeight);
      return;
    }
    if (rgbSource) {
      // Bottom-up rows: a negative height flips.
      libyuv::RGB24ToARGB(
          s + static_cast<size_t>(c.sourceHeight - crop_.bottom) * sstride + crop_.left * 3,
          sstride, cropArgb_.data(), cw_ * 4, cw_, -ch_);
    } else {
      libyuv::YUY2ToARGB(s + static_cast<size_t>(crop_.top) * sstride + crop_.left * 2, sstride,
                         cropArgb_.data(), cw_ * 4, cw_, ch_);
    }
    libyuv::ARGBScale(cropArgb_.data(), cw_ * 4, cw_, ch_, scaled_.data(), pw_ * 4, pw_, ph_,
                      libyuv::kFilterBilinear);
    uint8_t* region =
        rgbHost ? h + static_cast<size_t>(c.hostHeight - pic_.bottom) * hstride + pic_.left * 3
                : h + static_cast<size_t>(pic_.top) * hstride + pic_.left * 2;
    const int flip = rgbHost ? -ph_ : ph_;
    const uint8_t* result = scaled_.data();
    if (c.opacity < 100) {
      if (rgbHost) {
        libyuv::RGB24ToARGB(region, hstride, under_.data(), pw_ * 4, pw_, flip);
      } else {
        libyuv::YUY2ToARGB(region, hstride, under_.data(), pw_ * 4, pw_, ph_);
      }
      libyuv::ARGBInterpolate(under_.data(), pw_ * 4, scaled_.data(), pw_ * 4, under_.data(),
                              pw_ * 4, pw_, ph_, c.opacity * 256 / 100);
      result = under_.data();
    }
    if (rgbHost) {
      libyuv::ARGBToRGB24(result, pw_ * 4, region, hstride, pw_, flip);
    } else {
      libyuv::ARGBToYUY2(result, pw_ * 4, region, hstride, pw_, ph_);
    }
    if (c.border) {
      border_.SetPixels(h);
      border_.DrawFrame(at_.picture, -3, scene_.settings.BorderColor, scene_.settings.Opacity);
    }
  }
  // Back to libyuv's own detection, for whatever runs next.
  ~LibyuvStepper() { libyuv::MaskCpuFlags(0); }
  LibyuvStepper(const LibyuvStepper&) = delete;
  LibyuvStepper& operator=(const LibyuvStepper&) = delete;

 private:
  const Case& case_;
  Scene scene_;
  int flags_;
  PipPlacement at_;
  Rect crop_, pic_;
  int cw_ = 0, ch_ = 0, pw_ = 0, ph_ = 0;
  std::vector<uint8_t> cropArgb_, scaled_, under_;
  HostSurface border_;
};

}  // namespace kvx
