// The frame step timed without the benchmark library, so that a Windows build (the shipped 32-bit
// code generation, 8 vector registers) can be timed under Wine. Prints one line per case and path,
// "<case>/<path> <microseconds>", the fastest of 20 tries of about a tenth of a second each, wall
// clock: under Wine the timings spread more than natively, and more, shorter tries find the
// floor. Built natively with libyuv, `frame_step_timer libyuv` times the libyuv pipeline at each
// level the same way, as "<case>/libyuv_<level>", for the Windows builds' tables.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>

#include "bench/frame_cases.h"
#ifdef KVX_BENCH_LIBYUV
#include "bench/libyuv_pipeline.h"
#endif

namespace kvx {
namespace {

template <class Stepper>
double MicrosecondsPerStep(Stepper& stepper) {
  using Clock = std::chrono::steady_clock;
  const auto start = Clock::now();
  long steps = 0;
  std::chrono::duration<double, std::micro> spent{};
  do {
    for (int i = 0; i < 16; ++i) {
      stepper.Step();
    }
    steps += 16;
    spent = Clock::now() - start;
  } while (spent.count() < 100000.0);
  return spent.count() / static_cast<double>(steps);
}

template <class Stepper>
void Time(Stepper& stepper, const char* name, const char* path) {
  double fastest = 1e30;
  for (int repetition = 0; repetition < 20; ++repetition) {
    fastest = std::min(fastest, MicrosecondsPerStep(stepper));
  }
  std::printf("%s/%s %.1f\n", name, path, fastest);
  std::fflush(stdout);
}

int Run(bool libyuv) {
  int failures = 0;
  for (const Case& c : kCases) {
#ifdef KVX_BENCH_LIBYUV
    if (libyuv) {
      for (const LibyuvLevel& level : LibyuvLevelsOnThisCpu()) {
        LibyuvStepper stepper(c, level);
        Time(stepper, c.name, (std::string("libyuv_") + level.name).c_str());
      }
      continue;
    }
#else
    (void)libyuv;
#endif
    for (const Path& path : PathsOnThisCpu()) {
      if (!DrawsLikeTheReference(c, path)) {
        std::printf("%s/%s bytes differ from the reference kernels\n", c.name, path.name);
        ++failures;
        continue;
      }
      Stepper stepper(c, path);
      Time(stepper, c.name, path.name);
    }
  }
  return failures == 0 ? 0 : 1;
}

}  // namespace
}  // namespace kvx

int main(int argc, char** argv) {
  return kvx::Run(argc > 1 && std::strcmp(argv[1], "libyuv") == 0);
}
