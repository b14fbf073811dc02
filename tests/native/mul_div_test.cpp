#include "base/mul_div.h"

#include <gtest/gtest.h>

#include <cstdint>

namespace kvx {
namespace {

TEST(MulDiv, RoundsToNearestWithHalvesAwayFromZero) {
  EXPECT_EQ(MulDiv(5, 3, 2), 8);    // 7.5
  EXPECT_EQ(MulDiv(-5, 3, 2), -8);  // -7.5
  EXPECT_EQ(MulDiv(5, -3, 2), -8);
  EXPECT_EQ(MulDiv(5, 3, -2), -8);
  EXPECT_EQ(MulDiv(-5, -3, -2), -8);
  EXPECT_EQ(MulDiv(-5, 3, -2), 8);
  EXPECT_EQ(MulDiv(7, 1, 3), 2);  // 2.33
  EXPECT_EQ(MulDiv(8, 1, 3), 3);  // 2.67
  EXPECT_EQ(MulDiv(-8, 1, 3), -3);
  EXPECT_EQ(MulDiv(1, 1, 2), 1);  // 0.5
  EXPECT_EQ(MulDiv(-1, 1, 2), -1);
  EXPECT_EQ(MulDiv(1, 1, 3), 0);
  EXPECT_EQ(MulDiv(0, -7, 3), 0);
}

TEST(MulDiv, GeometryValuesOfTheDefaultPipRectangle) {
  EXPECT_EQ(MulDiv(650, 720, 1000), 468);
  EXPECT_EQ(MulDiv(650, 576, 1000), 374);
  EXPECT_EQ(MulDiv(30, 720, 100), 216);
  EXPECT_EQ(MulDiv(30, 576, 100), 173);   // 172.8
  EXPECT_EQ(MulDiv(720, 100, 105), 686);  // 685.7
  EXPECT_EQ(MulDiv(576, 100, 105), 549);  // 548.6
}

TEST(MulDiv, UsesAFullSixtyFourBitProduct) {
  EXPECT_EQ(MulDiv(INT32_MAX, INT32_MAX, INT32_MAX), INT32_MAX);
  EXPECT_EQ(MulDiv(INT32_MIN, INT32_MAX, INT32_MAX), -1);  // -2^31 is answered as overflow
  EXPECT_EQ(MulDiv(INT32_MIN + 1, INT32_MAX, INT32_MAX), INT32_MIN + 1);
  EXPECT_EQ(MulDiv(100000, 100000, 1000), 10000000);
  EXPECT_EQ(MulDiv(INT32_MIN, INT32_MIN, INT32_MIN), -1);
  EXPECT_EQ(MulDiv(INT32_MIN, -1, -1), -1);
  EXPECT_EQ(MulDiv(INT32_MAX, -1, INT32_MIN), 1);  // 0.99999...
  EXPECT_EQ(MulDiv(INT32_MIN, 1, -2), 1 << 30);
  EXPECT_EQ(MulDiv(INT32_MIN, 1, INT32_MIN), 1);
}

TEST(MulDiv, ZeroDivisorAndOverflowGiveMinusOne) {
  EXPECT_EQ(MulDiv(1, 1, 0), -1);
  EXPECT_EQ(MulDiv(0, 0, 0), -1);
  EXPECT_EQ(MulDiv(INT32_MAX, 2, 1), -1);
  EXPECT_EQ(MulDiv(INT32_MAX, -2, 1), -1);
  EXPECT_EQ(MulDiv(65536, 65536, 1), -1);
  EXPECT_EQ(MulDiv(65536, 32768, 1), -1);  // exactly 2^31
  EXPECT_EQ(MulDiv(65536, 32768, 2), 1 << 30);
}

}  // namespace
}  // namespace kvx
