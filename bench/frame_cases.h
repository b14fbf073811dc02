// The frame steps the benchmarks time, shared by the benchmark and the Windows timer: the cases a
// user meets (the default PiP, an RGB24 host, an RGB24 source, a swapped full-size picture and an
// HD host) and the paths through our compositor.
#pragma once

#include <cstdint>
#include <random>
#include <vector>

#include "compose/frame_step.h"
#include "plugin/host_records.h"

namespace kvx {

struct Case {
  const char* name;
  int32_t sourceFormat;  // BufferFormat
  int32_t sourceWidth, sourceHeight;
  int32_t hostFormat;
  int32_t hostWidth, hostHeight;
  int32_t size, zoom, opacity, posX, posY, border;
};

inline constexpr Case kCases[] = {
    {"default", 0, 352, 288, kHostFormatYuy2, 720, 576, 30, 105, 60, 650, 650, 1},
    {"rgb24_host", 0, 352, 288, kHostFormatRgb24, 720, 576, 30, 105, 60, 650, 650, 1},
    {"rgb24_source", 2, 352, 288, kHostFormatYuy2, 720, 576, 30, 105, 60, 650, 650, 1},
    {"full_picture", 0, 720, 576, kHostFormatYuy2, 720, 576, 100, 100, 100, 0, 0, 0},
    {"hd_host", 0, 720, 576, kHostFormatYuy2, 1920, 1080, 30, 105, 60, 650, 650, 1},
};

// Every timed path runs as the plug-in runs it, shortcuts on: "scalar" is the level a CPU without
// SSE2 runs. The reference, the scalar kernels with every shortcut off, is not timed: every path
// is checked against it byte for byte before it is.
struct Path {
  const char* name;
  Isa isa;
  bool shortcuts;
};

inline constexpr Path kReference{"reference", Isa::kScalar, false};

inline std::vector<Path> PathsOnThisCpu() {
  std::vector<Path> paths{{"scalar", Isa::kScalar, true}};
#if defined(__x86_64__) || defined(__i386__)
  paths.push_back({"sse2", Isa::kSse2, true});
  if (DetectIsa() >= Isa::kSsse3) {
    paths.push_back({"ssse3", Isa::kSsse3, true});
  }
  if (DetectIsa() >= Isa::kAvx2) {
    paths.push_back({"avx2", Isa::kAvx2, true});
  }
#endif
  return paths;
}

struct Scene {
  std::vector<uint8_t> source;
  std::vector<uint8_t> host;
  PipSettings settings = PipSettings::Defaults();

  explicit Scene(const Case& c) {
    std::mt19937 rng(42);
    source.resize(static_cast<size_t>(c.sourceWidth) * c.sourceHeight *
                  (c.sourceFormat == 2 ? 3 : 2));
    host.resize(static_cast<size_t>(c.hostWidth) * c.hostHeight *
                (c.hostFormat == kHostFormatRgb24 ? 3 : 2));
    for (auto& b : source) {
      b = static_cast<uint8_t>(rng());
    }
    for (auto& b : host) {
      b = static_cast<uint8_t>(rng());
    }
    settings.PiPWndSize = c.size;
    settings.PiPImgSize = c.zoom;
    settings.Opacity = static_cast<uint32_t>(c.opacity);
    settings.PiPWndPosX = c.posX;
    settings.PiPWndPosY = c.posY;
    settings.BorderEnable = static_cast<uint32_t>(c.border);
  }
  PipFrame Frame(const Case& c) const {
    return PipFrame{source.data(), c.sourceWidth, c.sourceHeight, c.sourceFormat, false};
  }
};

// One case's frame step on one path, over the same host frame again and again.
class Stepper {
 public:
  Stepper(const Case& c, const Path& path) : case_(c), scene_(c) {
    step_.compositor().SetIsa(path.isa);
    step_.compositor().SetShortcutsForTesting(path.shortcuts);
    step_.Configure(c.hostWidth, c.hostHeight, c.hostFormat);
  }
  void Step() {
    step_.SetHostPixels(scene_.host.data());
    step_.Draw(scene_.Frame(case_), scene_.settings);
  }
  const std::vector<uint8_t>& host() const { return scene_.host; }

 private:
  const Case& case_;
  Scene scene_;
  FrameStep step_;
};

// A timing means nothing unless the path draws what the reference draws.
inline bool DrawsLikeTheReference(const Case& c, const Path& path) {
  Stepper timed(c, path);
  Stepper reference(c, kReference);
  timed.Step();
  reference.Step();
  return timed.host() == reference.host();
}

}  // namespace kvx
