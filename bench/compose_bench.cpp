// One frame step per iteration, on one core, for each case and path of frame_cases.h and for the
// same job done with libyuv.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include "bench/frame_cases.h"
#include "libyuv.h"

namespace kvx {
namespace {

void Ours(benchmark::State& state, const Case& c, const Path& path) {
  if (!DrawsLikeTheReference(c, path)) {
    state.SkipWithError("bytes differ from the reference kernels");
    return;
  }
  Stepper stepper(c, path);
  for (auto _ : state) {
    stepper.Step();
    benchmark::ClobberMemory();
  }
}

// The job as a developer would write it with libyuv: the crop to ARGB, a bilinear scale to the
// picture rectangle, the host's rectangle to ARGB, a fixed-weight blend, and back into the host.
// The border is drawn the same way as ours, so both sides do the whole frame step.
void Libyuv(benchmark::State& state, const Case& c, bool withoutAvx) {
  // libyuv as a CPU without AVX runs it (Pentium 4 to Core 2 and Phenom): the level our SSE2
  // kernels serve.
  if (withoutAvx) {
    libyuv::MaskCpuFlags(libyuv::kCpuHasX86 | libyuv::kCpuHasSSE2 | libyuv::kCpuHasSSSE3 |
                         libyuv::kCpuHasSSE41 | libyuv::kCpuHasSSE42);
  }
  Scene scene(c);
  PipPlacement at;
  PlacePip(scene.settings, c.sourceWidth, c.sourceHeight, c.hostWidth, c.hostHeight, &at);
  Rect crop;
  IntersectRect(&crop, at.crop, Rect{0, 0, c.sourceWidth, c.sourceHeight});
  crop.left &= ~1;
  Rect pic;
  IntersectRect(&pic, at.picture, Rect{0, 0, c.hostWidth, c.hostHeight});
  pic.left &= ~1;
  pic.right &= ~1;
  const int cw = static_cast<int>(crop.Width()), ch = static_cast<int>(crop.Height());
  const int pw = static_cast<int>(pic.Width()), ph = static_cast<int>(pic.Height());
  std::vector<uint8_t> cropArgb(static_cast<size_t>(cw) * ch * 4);
  std::vector<uint8_t> scaled(static_cast<size_t>(pw) * ph * 4);
  std::vector<uint8_t> under(scaled.size());
  const bool rgbSource = c.sourceFormat == 2;
  const bool rgbHost = c.hostFormat == kHostFormatRgb24;
  const int sbpp = rgbSource ? 3 : 2, hbpp = rgbHost ? 3 : 2;
  const int sstride = c.sourceWidth * sbpp, hstride = c.hostWidth * hbpp;
  const int interpolation = c.opacity * 256 / 100;
  HostSurface border;
  border.Configure(c.hostFormat, c.hostWidth, c.hostHeight);
  for (auto _ : state) {
    const uint8_t* s = scene.source.data();
    if (rgbSource) {
      // Bottom-up rows: a negative height flips.
      libyuv::RGB24ToARGB(
          s + static_cast<size_t>(c.sourceHeight - crop.bottom) * sstride + crop.left * 3, sstride,
          cropArgb.data(), cw * 4, cw, -ch);
    } else {
      libyuv::YUY2ToARGB(s + static_cast<size_t>(crop.top) * sstride + crop.left * 2, sstride,
                         cropArgb.data(), cw * 4, cw, ch);
    }
    libyuv::ARGBScale(cropArgb.data(), cw * 4, cw, ch, scaled.data(), pw * 4, pw, ph,
                      libyuv::kFilterBilinear);
    uint8_t* h = scene.host.data();
    uint8_t* region =
        rgbHost ? h + static_cast<size_t>(c.hostHeight - pic.bottom) * hstride + pic.left * 3
                : h + static_cast<size_t>(pic.top) * hstride + pic.left * 2;
    const int flip = rgbHost ? -ph : ph;
    const uint8_t* result = scaled.data();
    if (c.opacity < 100) {
      if (rgbHost) {
        libyuv::RGB24ToARGB(region, hstride, under.data(), pw * 4, pw, flip);
      } else {
        libyuv::YUY2ToARGB(region, hstride, under.data(), pw * 4, pw, ph);
      }
      libyuv::ARGBInterpolate(under.data(), pw * 4, scaled.data(), pw * 4, under.data(), pw * 4, pw,
                              ph, interpolation);
      result = under.data();
    }
    if (rgbHost) {
      libyuv::ARGBToRGB24(result, pw * 4, region, hstride, pw, flip);
    } else {
      libyuv::ARGBToYUY2(result, pw * 4, region, hstride, pw, ph);
    }
    if (c.border) {
      border.SetPixels(h);
      border.DrawFrame(at.picture, -3, scene.settings.BorderColor, scene.settings.Opacity);
    }
    benchmark::ClobberMemory();
  }
  libyuv::MaskCpuFlags(-1);
}

// With repetitions, the fastest run is the one least disturbed by the rest of the machine.
double Fastest(const std::vector<double>& v) {
  return *std::min_element(v.begin(), v.end());
}

void Register() {
  for (const Case& c : kCases) {
    const std::string name = c.name;
    std::vector<benchmark::internal::Benchmark*> all;
    for (const Path& path : PathsOnThisCpu()) {
      all.push_back(benchmark::RegisterBenchmark((name + "/" + path.name).c_str(), Ours, c, path));
    }
    all.push_back(benchmark::RegisterBenchmark((name + "/libyuv").c_str(), Libyuv, c, false));
    all.push_back(benchmark::RegisterBenchmark((name + "/libyuv_sse").c_str(), Libyuv, c, true));
    for (auto* b : all) {
      b->Unit(benchmark::kMicrosecond)->ComputeStatistics("min", Fastest);
    }
  }
}

}  // namespace
}  // namespace kvx

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  kvx::Register();
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
