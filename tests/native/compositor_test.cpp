#include "compose/compositor.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <random>
#include <vector>

#include "support/pixels.h"

namespace kvx {
namespace {

using testing::FrameBytes;
using testing::RandomFrame;

// Every instruction-set level this machine can run, the reference first.
std::vector<Isa> Levels() {
  std::vector<Isa> levels{Isa::kScalar};
#if defined(__x86_64__) || defined(__i386__)
  for (const Isa isa : {Isa::kSse2, Isa::kSsse3, Isa::kAvx2}) {
    if (isa <= DetectIsa()) {
      levels.push_back(isa);
    }
  }
#endif
  return levels;
}

struct Frame {
  int32_t layout;
  int32_t width;
  int32_t height;
  std::vector<uint8_t> bytes;
  uint8_t* Row(int32_t y) {
    return RowZero(bytes.data(), layout, width, height) + y * RowStride(layout, width);
  }
};

Frame Solid(int32_t layout, int32_t width, int32_t height, std::vector<uint8_t> pattern) {
  Frame f{layout, width, height, std::vector<uint8_t>(FrameBytes(layout, width, height))};
  for (size_t i = 0; i < f.bytes.size(); ++i) {
    f.bytes[i] = pattern[i % pattern.size()];
  }
  return f;
}

void Draw(Compositor& c, const Frame& src, Rect crop, Frame& dst, Rect rect, int32_t opacity) {
  c.Compose(src.bytes.data(), src.width, src.height, crop, src.layout, dst.bytes.data(), dst.width,
            dst.height, rect, dst.layout, opacity);
}

TEST(Compositor, GreyStaysGreyAcrossConversions) {
  for (Isa isa : Levels()) {
    Compositor c;
    c.SetIsa(isa);
    // A grey RGB24 picture into YUY2: U = V = 128 and Y the grey.
    Frame grey = Solid(kLayoutRgb24, 16, 4, {77, 77, 77});
    Frame yuy2 = Solid(kLayoutYuy2, 16, 4, {0, 0, 0, 0});
    Draw(c, grey, {0, 0, 16, 4}, yuy2, {0, 0, 16, 4}, 100);
    for (size_t i = 0; i < yuy2.bytes.size(); i += 2) {
      ASSERT_EQ(yuy2.bytes[i], 77) << i;
      ASSERT_EQ(yuy2.bytes[i + 1], 128) << i;
    }
    // YUV (Y, 128, 128) into RGB24: B = G = R = Y.
    Frame yuv = Solid(kLayoutUyvy, 16, 4, {128, 200, 128, 31});
    Frame rgb = Solid(kLayoutRgb24, 16, 4, {1, 2, 3});
    Draw(c, yuv, {0, 0, 16, 4}, rgb, {0, 0, 16, 4}, 100);
    for (int x = 0; x < 16; ++x) {
      const uint8_t expected = x % 2 == 0 ? 200 : 31;
      for (int ch = 0; ch < 3; ++ch) {
        ASSERT_EQ(rgb.Row(1)[3 * x + ch], expected) << x;
      }
    }
  }
}

TEST(Compositor, HandComputedConversionAndBlend) {
  for (Isa isa : Levels()) {
    Compositor c;
    c.SetIsa(isa);
    // Pure red RGB24 -> YUY2: Y = floor(77*255/256) = 76, U = floor(-43*255/256) + 128 = 85,
    // V = floor(128*255/256) + 128 = 255.
    Frame red = Solid(kLayoutRgb24, 8, 2, {0, 0, 255});
    Frame yuy2 = Solid(kLayoutYuy2, 8, 2, {10, 20, 30, 40});
    Draw(c, red, {0, 0, 8, 2}, yuy2, {0, 0, 8, 2}, 100);
    EXPECT_EQ((std::vector<uint8_t>(yuy2.bytes.begin(), yuy2.bytes.begin() + 4)),
              (std::vector<uint8_t>{76, 85, 76, 255}));
    // Blended at 60 %: alpha 153; d + floor((s - d) * 153 / 256).
    Frame under = Solid(kLayoutYuy2, 8, 2, {10, 200, 30, 40});
    Draw(c, red, {0, 0, 8, 2}, under, {0, 0, 8, 2}, 60);
    EXPECT_EQ((std::vector<uint8_t>(under.bytes.begin(), under.bytes.begin() + 4)),
              (std::vector<uint8_t>{10 + (66 * 153 >> 8), 200 + ((85 - 200) * 153 >> 8),
                                    30 + (46 * 153 >> 8), 40 + (215 * 153 >> 8)}));
    // YUV -> RGB with chroma: Y 100, U 228, V 28: bU = floor(100*7264/4096) = 177,
    // gU = floor(100*-1376/4096) = -34, gV = floor(-100*-2928/4096) = 71, rV =
    // floor(-100*5744/4096) = -141.
    Frame yuv = Solid(kLayoutYuy2, 4, 2, {100, 228, 100, 28});
    Frame rgb = Solid(kLayoutRgb24, 4, 2, {0, 0, 0});
    Draw(c, yuv, {0, 0, 4, 2}, rgb, {0, 0, 4, 2}, 100);
    EXPECT_EQ(rgb.bytes[0], 255);  // 277 clamped
    EXPECT_EQ(rgb.bytes[1], 137);
    EXPECT_EQ(rgb.bytes[2], 0);  // -41 clamped
  }
}

TEST(Compositor, OpacityZeroLeavesTheFrameAndHundredCopies) {
  std::mt19937 rng(7);
  Frame src{kLayoutYuy2, 64, 48, RandomFrame(rng, FrameBytes(kLayoutYuy2, 64, 48))};
  for (Isa isa : Levels()) {
    Compositor c;
    c.SetIsa(isa);
    Frame dst{kLayoutRgb24, 50, 40, RandomFrame(rng, FrameBytes(kLayoutRgb24, 50, 40))};
    const std::vector<uint8_t> before = dst.bytes;
    Draw(c, src, {3, 5, 61, 40}, dst, {7, 3, 41, 37}, 0);
    EXPECT_EQ(dst.bytes, before);

    // Opacity 100 gives what blending with alpha 256 would: the new value itself. Draw the same
    // picture over two different backgrounds: the rectangle must come out the same.
    Frame other{kLayoutRgb24, 50, 40, RandomFrame(rng, FrameBytes(kLayoutRgb24, 50, 40))};
    Draw(c, src, {3, 5, 61, 40}, dst, {7, 3, 41, 37}, 100);
    Draw(c, src, {3, 5, 61, 40}, other, {7, 3, 41, 37}, 100);
    for (int y = 3; y < 37; ++y) {
      ASSERT_EQ(0, std::memcmp(dst.Row(y) + 21, other.Row(y) + 21, 34 * 3)) << y;
    }
    // Above 100 is used as 100.
    Frame over{kLayoutRgb24, 50, 40, before};
    Draw(c, src, {3, 5, 61, 40}, over, {7, 3, 41, 37}, 250);
    EXPECT_EQ(over.bytes, dst.bytes);
    Frame wrapped{kLayoutRgb24, 50, 40, before};
    Draw(c, src, {3, 5, 61, 40}, wrapped, {7, 3, 41, 37}, -1);  // 0xFFFFFFFF as unsigned
    EXPECT_EQ(wrapped.bytes, dst.bytes);
  }
}

TEST(Compositor, EqualSizesCopyAndOddCropStartsAtItsLeftPixel) {
  // Luma = 2 * x + y, distinct chroma per pair.
  Frame src{kLayoutYuy2, 20, 6, {}};
  src.bytes.resize(FrameBytes(kLayoutYuy2, 20, 6));
  for (int y = 0; y < 6; ++y) {
    for (int x = 0; x < 20; ++x) {
      src.Row(y)[2 * x] = static_cast<uint8_t>(2 * x + y);
      src.Row(y)[2 * x + 1] = static_cast<uint8_t>(100 + x);
    }
  }
  for (Isa isa : Levels()) {
    Compositor c;
    c.SetIsa(isa);
    Frame dst = Solid(kLayoutYuy2, 12, 6, {0, 0, 0, 0});
    Draw(c, src, {5, 1, 15, 5}, dst, {2, 1, 12, 5}, 100);
    for (int y = 1; y < 5; ++y) {
      for (int x = 2; x < 12; ++x) {
        ASSERT_EQ(dst.Row(y)[2 * x], 2 * (x + 3) + y) << x << "," << y;
      }
    }
    EXPECT_EQ(dst.Row(0)[4], 0);  // outside the rectangle
  }
}

TEST(Compositor, ClippingNeverChangesTheVisiblePixels) {
  std::mt19937 rng(11);
  Frame src{kLayoutUyvy, 40, 30, RandomFrame(rng, FrameBytes(kLayoutUyvy, 40, 30))};
  for (Isa isa : Levels()) {
    for (int32_t dstLayout : {kLayoutYuy2, kLayoutRgb24}) {
      // The same rectangle drawn into a big canvas and into a small one that cuts it.
      Compositor whole;
      whole.SetIsa(isa);
      Frame big = Solid(dstLayout, 100, 80, {9});
      Draw(whole, src, {1, 2, 37, 29}, big, {30, 20, 80, 65}, 70);
      Compositor cut;
      cut.SetIsa(isa);
      Frame small = Solid(dstLayout, 60, 50, {9});
      Draw(cut, src, {1, 2, 37, 29}, small, {-10, -10, 40, 35}, 70);
      const int bpp = BytesPerPixel(dstLayout);
      for (int y = 0; y < 45; ++y) {
        // small (x, y) is big (x + 40, y + 30).
        ASSERT_EQ(0, std::memcmp(small.Row(y), big.Row(y + 30) + 40 * bpp, 40 * bpp)) << y;
      }
    }
  }
}

TEST(Compositor, KeepsItsBuffersWhileTheSizesStay) {
  std::mt19937 rng(3);
  Frame src{kLayoutYuy2, 352, 288, RandomFrame(rng, FrameBytes(kLayoutYuy2, 352, 288))};
  Frame dst{kLayoutYuy2, 720, 576, RandomFrame(rng, FrameBytes(kLayoutYuy2, 720, 576))};
  Compositor c;
  Draw(c, src, {8, 6, 344, 282}, dst, {471, 377, 681, 544}, 60);
  const void* line = c.lineBuffer();
  const void* rows = c.rowTable();
  const void* columns = c.columnTable();
  // No allocation can succeed now; the same geometry must still draw.
  Compositor::FailAllocationsForTesting(true);
  Frame again = dst;
  Draw(c, src, {8, 6, 344, 282}, again, {471, 377, 681, 544}, 100);
  Compositor::FailAllocationsForTesting(false);
  EXPECT_NE(again.bytes, dst.bytes);
  EXPECT_EQ(c.lineBuffer(), line);
  EXPECT_EQ(c.rowTable(), rows);
  EXPECT_EQ(c.columnTable(), columns);
}

TEST(Compositor, WithoutWorkBuffersNothingIsDrawn) {
  std::mt19937 rng(5);
  Frame src{kLayoutRgb24, 30, 20, RandomFrame(rng, FrameBytes(kLayoutRgb24, 30, 20))};
  Frame dst{kLayoutYuy2, 64, 48, RandomFrame(rng, FrameBytes(kLayoutYuy2, 64, 48))};
  const auto before = dst.bytes;
  Compositor c;
  Compositor::FailAllocationsForTesting(true);
  Draw(c, src, {0, 0, 30, 20}, dst, {5, 5, 50, 40}, 100);
  Compositor::FailAllocationsForTesting(false);
  EXPECT_EQ(dst.bytes, before);
  // A later call with memory draws normally.
  Draw(c, src, {0, 0, 30, 20}, dst, {5, 5, 50, 40}, 100);
  EXPECT_NE(dst.bytes, before);
}

TEST(Compositor, OddWidthsAndEdgesStayInsideBothFrames) {
  std::mt19937 rng(13);
  for (Isa isa : Levels()) {
    Compositor c;
    c.SetIsa(isa);
    // An odd-width 4:2:2 source cannot supply its lone last pixel; an odd-width YUY2 host gets
    // only the two bytes its last pixel owns. The exact-size vectors make any stray access fault.
    Frame src{kLayoutYuy2, 33, 9, RandomFrame(rng, FrameBytes(kLayoutYuy2, 33, 9))};
    Frame dst{kLayoutYuy2, 31, 7, RandomFrame(rng, FrameBytes(kLayoutYuy2, 31, 7))};
    Draw(c, src, {0, 0, 33, 9}, dst, {0, 0, 31, 7}, 100);
    Draw(c, src, {31, 7, 40, 12}, dst, {29, 5, 60, 60}, 45);
    Frame rgb{kLayoutRgb24, 7, 5, RandomFrame(rng, FrameBytes(kLayoutRgb24, 7, 5))};
    Draw(c, src, {1, 1, 32, 8}, rgb, {0, 0, 7, 5}, 100);
    Draw(c, src, {1, 1, 32, 8}, rgb, {6, 4, 7, 5}, 30);
    // A layout the host never uses, and absurd rectangles, draw nothing.
    const auto before = rgb.bytes;
    Draw(c, src, {0, 0, 33, 9}, rgb, {INT32_MIN, 0, INT32_MAX, 5}, 100);
    c.Compose(src.bytes.data(), 33, 9, {0, 0, 33, 9}, 3, rgb.bytes.data(), 7, 5, {0, 0, 7, 5},
              kLayoutRgb24, 100);
    c.Compose(src.bytes.data(), 33, 9, {0, 0, 33, 9}, kLayoutYuy2, rgb.bytes.data(), 7, 5,
              {0, 0, 7, 5}, kLayoutUyvy, 100);
    EXPECT_EQ(rgb.bytes, before);
  }
}

}  // namespace
}  // namespace kvx
