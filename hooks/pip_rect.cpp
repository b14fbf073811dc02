#include "hooks/pip_rect.h"

#include <limits>

namespace kvx {
namespace {

int32_t Clamped(int32_t pos, int32_t size) {
  int64_t p = pos < 0 ? 0 : pos;
  const int64_t limit = 1000 - 10 * int64_t{size};
  if (p > limit) {
    p = limit;
  }
  return SaturateToInt32(p);
}

}  // namespace

int32_t SaturateToInt32(int64_t value) {
  constexpr int64_t kMin = std::numeric_limits<int32_t>::min();
  constexpr int64_t kMax = std::numeric_limits<int32_t>::max();
  return static_cast<int32_t>(value < kMin ? kMin : value > kMax ? kMax : value);
}

int64_t MulDiv64(int64_t a, int64_t b, int64_t c) {
  if (c == 0) {
    return 0;
  }
  // The operands here are 32-bit values, so the product fits in 64 bits.
  const int64_t product = a * b;
  const bool negative = (product < 0) != (c < 0);
  const uint64_t n = product < 0 ? 0 - static_cast<uint64_t>(product) : product;
  const uint64_t d = c < 0 ? 0 - static_cast<uint64_t>(c) : c;
  const uint64_t q = (n + d / 2) / d;
  return negative ? -static_cast<int64_t>(q) : static_cast<int64_t>(q);
}

void ClampPipRect(PipSettings& s) {
  s.PiPWndPosX = Clamped(s.PiPWndPosX, s.PiPWndSize);
  s.PiPWndPosY = Clamped(s.PiPWndPosY, s.PiPWndSize);
}

void ResizePipRect(PipSettings& s, int32_t newSize) {
  const int64_t shift = 5 * (int64_t{s.PiPWndSize} - newSize);
  s.PiPWndPosX = SaturateToInt32(s.PiPWndPosX + shift);
  s.PiPWndPosY = SaturateToInt32(s.PiPWndPosY + shift);
  s.PiPWndSize = newSize;
  ClampPipRect(s);
}

}  // namespace kvx
