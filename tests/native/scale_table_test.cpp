#include "compose/scale_table.h"

#include <gtest/gtest.h>

#include <vector>

namespace kvx {
namespace {

std::vector<ScaleStep> Build(int32_t a, int32_t b, int32_t c, int32_t n, int32_t d) {
  std::vector<ScaleStep> t(n);
  BuildScaleTable(t.data(), a, b, c, n, d);
  return t;
}

// The source index each entry's first sample reads, following the advances.
std::vector<int> Indices(const std::vector<ScaleStep>& t, int d) {
  std::vector<int> out;
  int pos = 0;
  for (const ScaleStep& s : t) {
    pos += s.advance;
    out.push_back(pos / d);
    pos += s.next;
  }
  return out;
}

TEST(ScaleTable, ReducingAlignsPixelCentres) {
  const auto t = Build(686, 210, 0, 210, 4);
  const int indices[] = {1, 4, 7, 10, 14, 17};
  const int weights[] = {546, 1638, 2730, 3822, 819, 1911};
  const int advances[] = {4, 8, 8, 8, 12, 8};
  for (int k = 0; k < 6; ++k) {
    EXPECT_EQ(Indices(t, 4)[k], indices[k]) << k;
    EXPECT_EQ(t[k].weight[0], weights[k]) << k;
    EXPECT_EQ(t[k].advance, advances[k]) << k;
    EXPECT_EQ(t[k].next, 4) << k;
    for (int lane = 1; lane < 4; ++lane) {
      EXPECT_EQ(t[k].weight[lane], t[k].weight[0]);
    }
  }
  // The last entry's second sample is still inside the source.
  const auto idx = Indices(t, 4);
  EXPECT_LE(idx.back() + (t.back().next != 0 ? 1 : 0), 685);
}

TEST(ScaleTable, EnlargingMakesTheEndsCoincide) {
  const auto t = Build(4, 8, 0, 8, 4);
  const int weights[] = {0, 1755, 3510, 1170, 2925, 585, 2340, 0};
  const int indices[] = {0, 0, 0, 1, 1, 2, 2, 3};  // positions 0, 3/7, 6/7, 9/7, ... 3
  for (int k = 0; k < 8; ++k) {
    EXPECT_EQ(t[k].weight[0], weights[k]) << k;
    EXPECT_EQ(Indices(t, 4)[k], indices[k]) << k;
  }
  EXPECT_EQ(t[0].next, 0);
  EXPECT_EQ(t[7].next, 0);
  EXPECT_EQ(t[2].advance, -4);
  EXPECT_EQ(t[4].advance, -4);
  EXPECT_EQ(t[6].advance, -4);
}

TEST(ScaleTable, EqualSizesCopyAndStartAtTheClipOffset) {
  const auto t = Build(100, 100, 7, 20, -2160);  // a bottom-up RGB24 row step
  EXPECT_EQ(t[0].advance, 7 * -2160);
  for (const ScaleStep& s : t) {
    EXPECT_EQ(s.weight[0], 0);
    EXPECT_EQ(s.next, 0);
  }
  for (size_t k = 1; k < t.size(); ++k) {
    EXPECT_EQ(t[k].advance, -2160);
  }
}

TEST(ScaleTable, PartialTableMatchesTheWholeOne) {
  // A clipped rectangle reads the same source positions as the same columns of the whole one.
  for (auto [a, b] : {std::pair{686, 210}, std::pair{3, 1000}, std::pair{1000, 3}}) {
    const auto whole = Build(a, b, 0, b, 4);
    const auto part = Build(a, b, b / 3, b - b / 3, 4);
    const auto wi = Indices(whole, 4);
    const auto pi = Indices(part, 4);
    for (size_t k = 0; k < part.size(); ++k) {
      ASSERT_EQ(pi[k], wi[k + b / 3]) << a << "->" << b << " at " << k;
      ASSERT_EQ(part[k].weight[0], whole[k + b / 3].weight[0]);
    }
  }
}

TEST(ScaleTable, NeverReadsPastTheLastSourcePixel) {
  for (int a = 1; a <= 40; ++a) {
    for (int b = 1; b <= 40; ++b) {
      const auto t = Build(a, b, 0, b, 1);
      const auto idx = Indices(t, 1);
      for (int k = 0; k < b; ++k) {
        ASSERT_GE(idx[k], 0);
        ASSERT_LE(idx[k] + (t[k].next != 0 ? 1 : 0), a - 1) << a << "->" << b << " at " << k;
      }
    }
  }
}

}  // namespace
}  // namespace kvx
