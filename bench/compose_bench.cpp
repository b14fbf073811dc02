// One frame step per iteration, on one core, for each case and path of frame_cases.h and for the
// same job done with libyuv held to each level.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <string>
#include <vector>

#include "bench/frame_cases.h"
#include "bench/libyuv_pipeline.h"

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

void Libyuv(benchmark::State& state, const Case& c, const LibyuvLevel& level) {
  LibyuvStepper stepper(c, level);
  for (auto _ : state) {
    stepper.Step();
    benchmark::ClobberMemory();
  }
}

// With repetitions, the fastest run is the one least disturbed by the rest of the machine.
double Fastest(const std::vector<double>& v) {
  return *std::min_element(v.begin(), v.end());
}

void Register() {
  static const std::vector<LibyuvLevel> levels = LibyuvLevelsOnThisCpu();
  for (const Case& c : kCases) {
    const std::string name = c.name;
    std::vector<benchmark::internal::Benchmark*> all;
    for (const Path& path : PathsOnThisCpu()) {
      all.push_back(benchmark::RegisterBenchmark((name + "/" + path.name).c_str(), Ours, c, path));
    }
    for (const LibyuvLevel& level : levels) {
      all.push_back(
          benchmark::RegisterBenchmark((name + "/libyuv_" + level.name).c_str(), Libyuv, c, level));
    }
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
