#include "base/mul_div.h"

#include <limits>

namespace kvx {

int64_t MulDiv64(int64_t a, int64_t b, int64_t c) {
  if (c == 0) {
    return 0;
  }
  int64_t product = a * b;
  int64_t divisor = c;
  if (divisor < 0) {
    // A positive divisor keeps the rounding below simple; 64 bits hold -(-2^31) and the
    // negated product.
    divisor = -divisor;
    product = -product;
  }
  // Truncating division of (|p| + c/2) rounds |p| / c to nearest with halves up; the sign is put
  // back afterwards, which makes halves round away from zero.
  const int64_t half = divisor / 2;
  return product >= 0 ? (product + half) / divisor : -((-product + half) / divisor);
}

int32_t MulDiv(int32_t a, int32_t b, int32_t c) {
  if (c == 0) {
    return -1;
  }
  const int64_t q = MulDiv64(a, b, c);
  if (q > INT32_MAX || q < -INT32_MAX) {
    return -1;
  }
  return static_cast<int32_t>(q);
}

int32_t SaturateToInt32(int64_t value) {
  constexpr int64_t kMin = std::numeric_limits<int32_t>::min();
  constexpr int64_t kMax = std::numeric_limits<int32_t>::max();
  return static_cast<int32_t>(value < kMin ? kMin : value > kMax ? kMax : value);
}

}  // namespace kvx
