#include "compose/frame_step.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <random>
#include <vector>

#include "plugin/host_records.h"
#include "base/mul_div.h"
#include "video/frame_buffer.h"
#include "support/pixels.h"

namespace kvx {
namespace {

class FrameStepTest : public ::testing::Test {
 protected:
  void Host(int32_t format, int32_t width, int32_t height, uint8_t fill) {
    format_ = format;
    width_ = width;
    height_ = height;
    host_.assign(static_cast<size_t>(width) * height * (format == kHostFormatYuy2 ? 2 : 3), fill);
    step_.Configure(width, height, format);
    step_.SetHostPixels(host_.data());
  }
  // A buffered frame of one colour: YUY2 bytes Y U Y V, or RGB24 B G R.
  void Buffered(int32_t format, int32_t width, int32_t height, std::vector<uint8_t> pattern) {
    const int bpp = format == 2 ? 3 : 2;
    frame_.resize(static_cast<size_t>(width) * height * bpp);
    for (size_t i = 0; i < frame_.size(); ++i) {
      frame_[i] = pattern[i % pattern.size()];
    }
    pip_ = PipFrame{frame_.data(), width, height, format, false};
  }
  uint8_t* At(int32_t x, int32_t y) {
    return format_ == kHostFormatYuy2
               ? &host_[2 * (static_cast<size_t>(y) * width_ + x)]
               : &host_[3 * (static_cast<size_t>(height_ - 1 - y) * width_ + x)];
  }
  void Draw() { step_.Draw(pip_, settings_); }

  PipSettings settings_ = PipSettings::Defaults();
  FrameStep step_;
  std::vector<uint8_t> host_;
  std::vector<uint8_t> frame_;
  PipFrame pip_{};
  int32_t format_ = 0, width_ = 0, height_ = 0;
};

TEST_F(FrameStepTest, DefaultPlacementOnAPalFrame) {
  PipPlacement at;
  ASSERT_TRUE(PlacePip(settings_, 720, 576, 720, 576, &at));
  EXPECT_EQ(at.window, (Rect{468, 374, 684, 547}));
  EXPECT_EQ(at.picture, (Rect{471, 377, 681, 544}));
  EXPECT_EQ(at.crop, (Rect{17, 13, 703, 562}));
  settings_.PiPImgSize = 100;
  settings_.BorderEnable = 0;
  ASSERT_TRUE(PlacePip(settings_, 352, 288, 720, 576, &at));
  EXPECT_EQ(at.crop, (Rect{0, 0, 352, 288}));
  EXPECT_EQ(at.picture, at.window);
  settings_.PiPImgSize = 50;  // a crop larger than the frame; the compositor clips it
  ASSERT_TRUE(PlacePip(settings_, 352, 288, 720, 576, &at));
  EXPECT_EQ(at.crop, (Rect{-176, -144, 528, 432}));
}

TEST_F(FrameStepTest, OpaqueBorderTakesTheBorderColourExactly) {
  Host(kHostFormatYuy2, 720, 576, 16);
  Buffered(0, 352, 288, {80, 90, 80, 100});
  settings_.Opacity = 100;
  Draw();
  // 0xE6E6E6 is grey 230: Y 230, U = V = 128. The band lies in 468..683 x 374..546.
  for (int32_t y : {374, 375, 376, 460, 544, 546}) {
    EXPECT_EQ(*At(468, y), 230) << y;
    EXPECT_EQ(*At(683, y), 230) << y;
  }
  EXPECT_EQ(At(468, 374)[1], 128);
  EXPECT_EQ(At(468, 374)[3], 128);
  EXPECT_EQ(*At(471, 377), 80);  // the picture
  EXPECT_EQ(*At(467, 374), 16);  // outside
  EXPECT_EQ(*At(684, 500), 16);
  EXPECT_EQ(*At(500, 547), 16);
}

TEST_F(FrameStepTest, OpacityZeroChangesNothing) {
  Host(kHostFormatRgb24, 320, 240, 33);
  Buffered(1, 64, 48, {128, 200, 128, 200});
  settings_.Opacity = 0;
  Draw();
  EXPECT_EQ(host_, std::vector<uint8_t>(host_.size(), 33));
}

TEST_F(FrameStepTest, EveryRingPixelIsBlendedOnce) {
  Host(kHostFormatRgb24, 200, 100, 0);
  Buffered(2, 20, 10, {0, 0, 0});
  settings_.BorderColor = 0x0000C8;  // red 200
  settings_.Opacity = 50;            // keep = 128: 200 + floor((0 - 200) * 128 / 256) = 100
  Draw();
  PipPlacement at;
  ASSERT_TRUE(PlacePip(settings_, 20, 10, 200, 100, &at));
  for (int32_t y = at.window.top; y < at.window.bottom; ++y) {
    for (int32_t x = at.window.left; x < at.window.right; ++x) {
      const bool band = x < at.picture.left || x >= at.picture.right || y < at.picture.top ||
                        y >= at.picture.bottom;
      ASSERT_EQ(At(x, y)[2], band ? 100 : 0) << x << "," << y;
      ASSERT_EQ(At(x, y)[0], 0);
    }
  }
  // Bottom-up: picture row 0 is the last row in memory.
  EXPECT_EQ(At(at.window.left, at.window.top), &host_[3 * ((99 - 65) * 200 + 130)]);
}

TEST_F(FrameStepTest, OddBorderColumnsChangeOnlyLuma) {
  Host(kHostFormatYuy2, 100, 50, 50);
  Buffered(0, 40, 40, {50, 50, 50, 50});
  settings_.PiPWndPosX = 410;  // left edge 41: the border's columns 41..43
  settings_.PiPWndPosY = 100;
  settings_.Opacity = 100;
  settings_.BorderColor = 0xFF0000;  // blue: Y 29, U 255, V 107
  Draw();
  const int32_t y = 10;         // inside the picture's rows (5..19)
  EXPECT_EQ(At(41, y)[0], 29);  // odd x: Y1 only
  EXPECT_EQ(At(41, y)[1], 50);  // V of the pair 40-41 stays
  EXPECT_EQ(At(40, y)[0], 50);
  EXPECT_EQ(At(40, y)[1], 50);  // U stays
  EXPECT_EQ(At(42, y)[0], 29);  // even x: Y0, U and V
  EXPECT_EQ(At(42, y)[1], 255);
  EXPECT_EQ(At(42, y)[3], 107);
}

TEST_F(FrameStepTest, RectangleRunningOffTheRightEdge) {
  Host(kHostFormatYuy2, 720, 576, 16);
  Buffered(0, 352, 288, {200, 128, 200, 128});
  settings_.PiPWndPosX = 900;  // 648 + 216 > 720
  settings_.Opacity = 100;
  Draw();
  EXPECT_EQ(*At(651, 400), 200);  // picture
  EXPECT_EQ(*At(719, 400), 200);  // the picture runs to the edge: no right border column
  EXPECT_EQ(*At(648, 400), 230);  // the left border
}

TEST_F(FrameStepTest, UnknownFormatsDrawNothing) {
  Host(kHostFormatYuy2, 64, 48, 7);
  Buffered(3, 16, 16, {1});
  Draw();
  EXPECT_EQ(host_, std::vector<uint8_t>(host_.size(), 7));
  host_.assign(64 * 48 * 3, 7);
  step_.Configure(64, 48, 2);
  step_.SetHostPixels(host_.data());
  Buffered(0, 16, 16, {1});
  Draw();
  EXPECT_EQ(host_, std::vector<uint8_t>(host_.size(), 7));
}

TEST_F(FrameStepTest, HandEditedSettingsStayInsideTheHostFrame) {
  // Each of these reaches the compositor and the border with geometry far from the usual; the
  // exact-size host frame makes any write outside it fault under AddressSanitizer.
  struct Edit {
    int32_t posX, posY, size, zoom;
    uint32_t opacity;
  };
  const Edit edits[] = {
      {650, 650, 30, 0, 60},
      {650, 650, 30, -40, 60},
      {0, 0, 100000000, 105, 60},
      {0, 0, -30, 105, 60},
      {-2000000000, 0, 30, 105, 60},
      {2000000000, 900, 30, 105, 60},
      {-500, -500, 300, 105, 100},
      {990, 990, 50, 105, 150},
      {1000, 1000, 30, 1, 60},
      {0, 0, 2147483647, 2147483647, 60},
      {-1000, -1000, 2000, 100, 4294967295u},
  };
  std::mt19937 rng(1);
  for (int32_t format : {kHostFormatYuy2, kHostFormatRgb24}) {
    for (const Edit& e : edits) {
      Host(format, 97, 61, 0);
      Buffered(0, 352, 288, {200, 128, 200, 128});
      settings_.PiPWndPosX = e.posX;
      settings_.PiPWndPosY = e.posY;
      settings_.PiPWndSize = e.size;
      settings_.PiPImgSize = e.zoom;
      settings_.Opacity = e.opacity;
      Draw();
    }
  }
  // An opacity above 100 is used as 100.
  settings_ = PipSettings::Defaults();
  Host(kHostFormatYuy2, 200, 100, 0);
  Buffered(0, 64, 64, {90, 100, 90, 110});
  settings_.Opacity = 100;
  Draw();
  const std::vector<uint8_t> opaque = host_;
  Host(kHostFormatYuy2, 200, 100, 0);
  settings_.Opacity = 1000;
  Draw();
  EXPECT_EQ(host_, opaque);
}

// While the card is away or stalls, the PiP shows what a new store shows before its first
// sample: the same bytes, whatever the store's format and the placement.
TEST_F(FrameStepTest, TheBluePictureIsANewStoresPicture) {
  settings_.Opacity = 60;
  for (const int32_t hostFormat : {kHostFormatYuy2, kHostFormatRgb24}) {
    for (const Guid& subtype : {kSubtypeYuy2, kSubtypeUyvy, kSubtypeRgb24}) {
      std::vector<uint8_t> block(88, 0);
      const int32_t size[2] = {352, 288};
      std::memcpy(&block[52], size, sizeof size);
      PipFrameBuffer store;
      ASSERT_EQ(
          store.SetFrameFormat({kMediaTypeVideo, subtype, kFormatVideoInfo, 88, block.data()}),
          kOk);
      ASSERT_EQ(store.AllocateFrame(), kOk);
      PipFrameView view{};
      ASSERT_EQ(store.GetFrameView(&view), kOk);
      Host(hostFormat, 200, 160, 0x40);
      step_.Draw(PipFrame{view.pixels, view.width, view.height, view.format, false}, settings_);
      const std::vector<uint8_t> expected = host_;
      Host(hostFormat, 200, 160, 0x40);
      step_.DrawBlue(view.format, settings_);
      EXPECT_EQ(host_, expected) << "host " << hostFormat << ", store " << view.format;
      EXPECT_NE(host_, std::vector<uint8_t>(host_.size(), 0x40));
    }
  }
}

TEST(HostSurface, ColoursInBothLayouts) {
  HostSurface yuy2;
  yuy2.Configure(kHostFormatYuy2, 8, 8);
  EXPECT_EQ(yuy2.ToSurfaceColor(0xE6E6E6), 0x80E680E6u);  // Y 230, U 128, Y 230, V 128
  EXPECT_EQ(yuy2.ToSurfaceColor(0xFFFFFF), 0x80FF80FFu);
  EXPECT_EQ(yuy2.ToSurfaceColor(0x0000FF), 0xFF4C544Cu);  // red: Y 76, U 84, V 255
  HostSurface rgb;
  rgb.Configure(kHostFormatRgb24, 8, 8);
  EXPECT_EQ(rgb.ToSurfaceColor(0x123456), 0x563412u);  // bytes B G R = 0x12 0x34 0x56
}

// Border runs against the rule itself, byte by byte: each byte a pixel owns becomes
// c + floor((p - c) * k / 256), k the weight of what was there.
TEST(HostSurface, RowsAndColumnsBlendEveryOwnedByteByTheRule) {
  std::mt19937 rng(7);
  for (int round = 0; round < 4000; ++round) {
    const int32_t format = round % 2 == 0 ? kHostFormatYuy2 : kHostFormatRgb24;
    const bool column = round % 4 >= 2;
    const int32_t width = 1 + static_cast<int32_t>(rng() % 40);
    const int32_t height = 1 + static_cast<int32_t>(rng() % 40);
    const int32_t bytesPerPixel = format == kHostFormatYuy2 ? 2 : 3;
    std::vector<uint8_t> frame(static_cast<size_t>(width) * height * bytesPerPixel);
    for (auto& b : frame) {
      b = static_cast<uint8_t>(rng());
    }
    std::vector<uint8_t> expected = frame;
    const auto at = static_cast<int32_t>(rng() % 50) - 5;
    const auto a1 = static_cast<int32_t>(rng() % 50) - 5;
    const auto a2 = static_cast<int32_t>(rng() % 50) - 5;
    const uint32_t color = rng() & 0xFFFFFF;
    const uint32_t opacity = rng() % 120;
    HostSurface run;
    run.Configure(format, width, height);
    run.SetPixels(frame.data());
    if (column) {
      run.BlendVLine(at, a1, a2, 1, color, opacity);
    } else {
      run.BlendHLine(a1, a2, at, 1, color, opacity);
    }
    const uint32_t c = run.ToSurfaceColor(color);
    const int32_t keep = MulDiv(100 - static_cast<int32_t>(std::min(opacity, 100u)), 256, 100);
    const auto mix = [&](size_t i, int part) {
      const int32_t old = expected[i];
      const int32_t wanted = (c >> (8 * part)) & 0xFF;
      const int32_t scaled = (old - wanted) * keep;
      const int32_t floored = scaled >= 0 ? scaled / 256 : -((-scaled + 255) / 256);
      expected[i] = static_cast<uint8_t>(std::clamp(wanted + floored, 0, 255));
    };
    for (int32_t a = std::min(a1, a2); a <= std::max(a1, a2); ++a) {
      const int32_t x = column ? at : a;
      const int32_t y = column ? a : at;
      if (x < 0 || x >= width || y < 0 || y >= height) {
        continue;
      }
      if (format == kHostFormatRgb24) {
        const size_t p = (static_cast<size_t>(height - 1 - y) * width + x) * 3;
        mix(p, 0);
        mix(p + 1, 1);
        mix(p + 2, 2);
      } else {
        const size_t pair = (static_cast<size_t>(y) * width + (x & ~1)) * 2;
        if ((x & 1) != 0) {
          mix(pair + 2, 2);
        } else {
          mix(pair, 0);
          mix(pair + 1, 1);
          if (x + 1 < width) {
            mix(pair + 3, 3);
          }
        }
      }
    }
    ASSERT_EQ(frame, expected) << round << (column ? " column " : " row ") << at << ": " << a1
                               << ".." << a2 << " of " << width << "x" << height;
  }
}

}  // namespace
}  // namespace kvx
