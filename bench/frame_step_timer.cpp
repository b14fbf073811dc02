// The frame step timed without the benchmark library, so that a Windows build (the shipped 32-bit
// code generation, 8 vector registers) can be timed under Wine. Prints one line per case and path,
// "<case>/<path> <microseconds>", the fastest of 20 repetitions of about a tenth of a second each:
// under Wine the timings spread more than natively, and more, shorter tries find the floor.
#include <algorithm>
#include <chrono>
#include <cstdio>

#include "bench/frame_cases.h"

namespace kvx {
namespace {

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

int Run() {
  int failures = 0;
  for (const Case& c : kCases) {
    for (const Path& path : PathsOnThisCpu()) {
      if (!DrawsLikeTheReference(c, path)) {
        std::printf("%s/%s bytes differ from the reference kernels\n", c.name, path.name);
        ++failures;
        continue;
      }
      Stepper stepper(c, path);
      double fastest = 1e30;
      for (int repetition = 0; repetition < 20; ++repetition) {
        fastest = std::min(fastest, MicrosecondsPerStep(stepper));
      }
      std::printf("%s/%s %.1f\n", c.name, path.name, fastest);
      std::fflush(stdout);
    }
  }
  return failures == 0 ? 0 : 1;
}

}  // namespace
}  // namespace kvx

int main() {
  return kvx::Run();
}
