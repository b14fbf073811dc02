#include "compose/kernels.h"

namespace kvx {

Isa DetectIsa() {
#if defined(__x86_64__) || defined(__i386__)
  static const Isa isa = [] {
    __builtin_cpu_init();
    if (__builtin_cpu_supports("avx2")) {
      return Isa::kAvx2;
    }
    if (__builtin_cpu_supports("ssse3")) {
      return Isa::kSsse3;
    }
    if (__builtin_cpu_supports("sse2")) {
      return Isa::kSse2;
    }
    return Isa::kScalar;
  }();
  return isa;
#else
  return Isa::kScalar;
#endif
}

const KernelSet& KernelsFor(Isa isa) {
#if defined(__x86_64__) || defined(__i386__)
  switch (isa) {
    case Isa::kAvx2:
      return Avx2Kernels();
    case Isa::kSsse3:
      return Ssse3Kernels();
    case Isa::kSse2:
      return Sse2Kernels();
    case Isa::kScalar:
      break;
  }
#else
  (void)isa;
#endif
  return ScalarKernels();
}

}  // namespace kvx
