// Our portable MulDiv must round exactly as the system's does.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdint>

#include "base/mul_div.h"

namespace {

TEST(MulDivSystem, MatchesTheSystemOverSignsHalvesZeroAndOverflow) {
  const int32_t values[] = {0,       1,          -1,         2,          -2,         3,
                            -3,      5,          -5,         7,          100,        -100,
                            105,     1000,       576,        720,        1920,       65535,
                            65536,   -65536,     46341,      INT32_MAX,  -INT32_MAX, INT32_MIN,
                            1 << 30, -(1 << 30), 1234567891, -987654321, 333333333};
  int compared = 0;
  for (int32_t a : values) {
    for (int32_t b : values) {
      for (int32_t c : values) {
        // Wine's MulDiv moves a negative divisor's sign onto a in 32 bits, which wraps for a
        // minimum divisor or a minimum a; ours gives the exact quotient there (checked natively).
        if (c == INT32_MIN || (a == INT32_MIN && c < 0)) {
          continue;
        }
        ASSERT_EQ(kvx::MulDiv(a, b, c), ::MulDiv(a, b, c)) << a << " * " << b << " / " << c;
        ++compared;
      }
    }
  }
  EXPECT_GT(compared, 20000);
}

TEST(MulDivSystem, MatchesTheSystemOnEveryHalfOfSmallDivisors) {
  for (int32_t c = -40; c <= 40; ++c) {
    for (int32_t a = -200; a <= 200; ++a) {
      ASSERT_EQ(kvx::MulDiv(a, 3, c), ::MulDiv(a, 3, c)) << a << " * 3 / " << c;
    }
  }
}

}  // namespace
