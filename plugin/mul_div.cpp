#include "plugin/mul_div.h"

namespace kvx {

int32_t MulDiv(int32_t a, int32_t b, int32_t c) {
  if (c == 0) {
    return -1;
  }
  int64_t product = static_cast<int64_t>(a) * b;
  int64_t divisor = c;
  if (divisor < 0) {
    // A positive divisor keeps the rounding below simple; 64 bits hold -(-2^31) and the
    // negated product (at most 2^62).
    divisor = -divisor;
    product = -product;
  }
  // Truncating division of (|p| + c/2) rounds |p| / c to nearest with halves up; the sign is put
  // back afterwards, which makes halves round away from zero.
  const int64_t half = divisor / 2;
  const int64_t q = product >= 0 ? (product + half) / divisor : -((-product + half) / divisor);
  if (q > INT32_MAX || q < -INT32_MAX) {
    return -1;
  }
  return static_cast<int32_t>(q);
}

}  // namespace kvx
