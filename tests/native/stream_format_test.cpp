// The format block handed to a driver's SetFormat agrees with itself for the chosen subtype and
// size, and only the fields that the subtype and size decide change. Blocks are allocated to
// their exact size, so AddressSanitizer sees any stray write.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <vector>

#include "capture/stream_format.h"

namespace kvx {
namespace {

template <class T>
T Read(const uint8_t* at) {
  T value;
  std::memcpy(&value, at, sizeof value);
  return value;
}

TEST(StreamFormat, FittedBlocksAgreeWithTheirSubtypeAndSizeAndKeepTheRest) {
  constexpr uint32_t kYuy2 = 0x32595559;
  constexpr uint32_t kUyvy = 0x59565955;
  constexpr uint32_t kNv12 = 0x3231564E;
  constexpr uint32_t kI420 = 0x30323449;
  const Guid other = {0x05589F81, 0xC356, 0x11CE, {0xBF, 0x01, 0, 0xAA, 0, 0x55, 0x59, 0x5A}};
  const struct {
    const Guid& type;
    uint32_t size;
    int32_t code;
    int32_t width0, height0;      // wanted; 0 keeps the block's
    int32_t ownWidth, ownHeight;  // the block's size before
    int64_t interval;             // given; 0 keeps the block's 333667
    bool fits;
    int32_t width, height;
    uint16_t bits;
    uint32_t compression;
    uint32_t image;
  } cases[] = {
      {kFormatVideoInfo, kVideoInfoSize, 1, 384, 288, 320, 240, 400000, true, 384, 288, 16, kYuy2,
       221184},
      // With a palette after the header; the block's negative height means nothing for 4:2:2.
      {kFormatVideoInfo, kVideoInfoSize + 1024, 2, 160, 120, 320, -240, 0, true, 160, 120, 16,
       kUyvy, 38400},
      // RGB24 keeps its row order; the header of a VIDEOINFOHEADER2 lies further in.
      {kFormatVideoInfo2, kVideoInfo2Size, 3, 352, 288, 320, -240, 400000, true, 352, -288, 24, 0,
       304128},
      // The block's own size, with RGB24 rows padded to 4 bytes.
      {kFormatVideoInfo, kVideoInfoSize, 3, 0, 0, 350, -100, 400000, true, 350, -100, 24, 0,
       105200},
      // 4:2:0 planes: 12 bits a pixel, no row padding.
      {kFormatVideoInfo, kVideoInfoSize, kFormatNv12, 640, 480, 1920, 1080, 333333, true, 640, 480,
       12, kNv12, 460800},
      {kFormatVideoInfo2, kVideoInfo2Size, kFormatI420, 0, 0, 722, -576, 0, true, 722, 576, 12,
       kI420, 623808},
      // Nothing changes where the block cannot be made whole.
      {kFormatVideoInfo, kVideoInfoSize, kFormatNv12, 640, 481, 320, 240, 400000, false, 0, 0, 0, 0,
       0},
      {kFormatVideoInfo, kVideoInfoSize, 1, 0, 0, 351, 240, 400000, false, 0, 0, 0, 0, 0},
      {kFormatVideoInfo, kVideoInfoSize, 3, 0, 0, 60000, 60000, 400000, false, 0, 0, 0, 0,
       0},  // 10 GB a frame
      {kFormatVideoInfo, kVideoInfoSize - 1, 1, 352, 288, 320, 240, 400000, false, 0, 0, 0, 0, 0},
      {other, 4096, 1, 352, 288, 320, 240, 400000, false, 0, 0, 0, 0, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << c.size << " bytes, code " << c.code << ", size " << c.width0
                                    << "x" << c.height0);
    std::unique_ptr<uint8_t[]> block(new uint8_t[c.size]);
    std::memset(block.get(), 0xEE, c.size);
    const bool v2 = &c.type == &kFormatVideoInfo2;
    const uint32_t at = v2 ? kVideoInfo2HeaderAt : kVideoInfoHeaderAt;
    if (c.size >= at + 12) {
      std::memcpy(block.get() + at + 4, &c.ownWidth, 4);
      std::memcpy(block.get() + at + 8, &c.ownHeight, 4);
      const int64_t own = 333667;
      std::memcpy(block.get() + kFrameIntervalAt, &own, 8);
    }
    const std::vector<uint8_t> before(block.get(), block.get() + c.size);
    uint32_t image = 7;
    EXPECT_EQ(FitFormatBlock(c.type, block.get(), c.size, c.code, c.width0, c.height0, c.interval,
                             &image),
              c.fits);
    if (!c.fits) {
      EXPECT_EQ(std::vector<uint8_t>(block.get(), block.get() + c.size), before);
      EXPECT_EQ(image, 7u);
      continue;
    }
    const uint8_t* b = block.get();
    const uint8_t* h = b + at;
    EXPECT_EQ(image, c.image);
    EXPECT_EQ(std::vector<uint8_t>(b, b + 32), std::vector<uint8_t>(32, 0));  // whole frame
    const int64_t interval = c.interval != 0 ? c.interval : 333667;
    EXPECT_EQ(Read<int64_t>(b + kFrameIntervalAt), interval);
    EXPECT_EQ(Read<uint32_t>(b + 32), int64_t{c.image} * 8 * 10000000 / interval);
    EXPECT_EQ(Read<uint32_t>(h), 40u);
    EXPECT_EQ(Read<int32_t>(h + 4), c.width);
    EXPECT_EQ(Read<int32_t>(h + 8), c.height);
    EXPECT_EQ(Read<uint16_t>(h + 12), 1);
    EXPECT_EQ(Read<uint16_t>(h + 14), c.bits);
    EXPECT_EQ(Read<uint32_t>(h + 16), c.compression);
    EXPECT_EQ(Read<uint32_t>(h + 20), c.image);
    EXPECT_EQ(Read<uint64_t>(h + 32), 0u);  // no palette entries counted
    // Untouched: the bit error rate, a VIDEOINFOHEADER2's own fields, the pixel densities and
    // whatever follows the header.
    for (uint32_t i = 0; i < c.size; ++i) {
      const bool kept = (i >= 36 && i < 40) || (v2 && i >= 48 && i < at) ||
                        (i >= at + 24 && i < at + 32) || i >= at + 40;
      if (kept) {
        ASSERT_EQ(b[i], 0xEE) << "byte " << i;
      }
    }
  }
  uint32_t image = 0;
  EXPECT_FALSE(FitFormatBlock(kFormatVideoInfo, nullptr, kVideoInfoSize, 1, 0, 0, 1, &image));
}

// A pin's capabilities as drivers list them: discrete sizes (UVC devices), and ranges in steps
// with their own frame rates (analog cards, many USB grabbers).
TEST(StreamFormat, TheSizeAskedForIsTheWantedOneOrTheNearestThePinAllows) {
  const SizeRange range{160, 120, 352, 288, 32, 16, 333667, 400000};
  const SizeRange largest{384, 288, 384, 288, 0, 0, 400000, 400000};
  const SizeRange vga{640, 480, 640, 480, 0, 0, 333333, 333333};
  const SizeRange hd{1280, 720, 1280, 720, 0, 0, 333333, 333333};
  const SizeRange qqvga{160, 120, 160, 120, 0, 0, 0, 0};
  const SizeRange wide{400, 100, 400, 100, 0, 0, 0, 0};  // wider but lower than wanted
  const SizeRange odd{161, 120, 165, 120, 1, 0, 0, 0};
  const struct {
    std::vector<SizeRange> ranges;
    int32_t width, height;
    bool even;
    int32_t chosenWidth, chosenHeight;
    size_t range;
  } cases[] = {
      {{range, largest}, 160, 120, true, 160, 120, 0},  // allowed as it is
      {{range, largest}, 192, 144, true, 192, 152, 0},  // heights in steps of 16 from 120
      {{range, largest}, 352, 288, true, 384, 288, 1},  // 288 is off the range's steps
      {{hd, vga}, 352, 288, true, 640, 480, 1},         // the smallest at least the wanted
      {{hd, vga}, 1920, 1080, true, 1280, 720, 0},      // else the largest below it
      {{qqvga, wide}, 352, 288, true, 160, 120, 0},     // below on both sides beats one side
      {{wide}, 352, 288, true, 400, 100, 0},            // and one side beats nothing
      {{odd}, 160, 120, true, 162, 120, 0},             // 4:2:2 widths stay even
      {{odd}, 160, 120, false, 161, 120, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::to_string(c.width) + "x" + std::to_string(c.height));
    ChosenSize chosen;
    ASSERT_TRUE(ChooseSize(c.ranges, c.width, c.height, c.even, &chosen));
    EXPECT_EQ(chosen.width, c.chosenWidth);
    EXPECT_EQ(chosen.height, c.chosenHeight);
    EXPECT_EQ(chosen.range, c.range);
  }
  ChosenSize none;
  EXPECT_FALSE(ChooseSize({}, 352, 288, true, &none));
  // The current frame interval where the range allows it, else the nearest allowed.
  EXPECT_EQ(FitInterval(range, 333667), 333667);
  EXPECT_EQ(FitInterval(largest, 333667), 400000);
  EXPECT_EQ(FitInterval(vga, 400000), 333333);
  EXPECT_EQ(FitInterval(vga, 0), 333333);
  EXPECT_EQ(FitInterval(qqvga, 400000), 400000);  // a range without intervals keeps it
}

// "Default" and a saved format the pin no longer lists take the packed format that costs the
// least to draw, whatever a camera lists first; the choice is written back to the setting.
TEST(StreamFormat, TheFormatChosenIsTheSavedOneElseThePackedOneThePinOffers) {
  const auto rows = [](std::initializer_list<int32_t> codes) {
    FormatList list;
    for (const int32_t code : codes) {
      list.push_back(FormatRow(code));
    }
    return list;
  };
  const struct {
    FormatList formats;
    int32_t saved;
    int32_t chosen;
  } cases[] = {
      {rows({kFormatRgb24, kFormatYuy2}), kFormatRgb24, kFormatRgb24},
      {rows({kFormatNv12, kFormatRgb24, kFormatUyvy}), kFormatDefault, kFormatUyvy},
      {rows({kFormatNv12, kFormatYuy2, kFormatYuy2}), kFormatDefault, kFormatYuy2},
      {rows({kFormatI420, kFormatNv12}), kFormatYuy2, kFormatI420},
      {rows({kFormatI420, kFormatNv12}), kFormatNv12, kFormatNv12},
      {rows({kFormatDefault}), kFormatRgb24, kFormatDefault},
  };
  for (const auto& c : cases) {
    int32_t setting = c.saved;
    EXPECT_EQ(ChooseFormat(c.formats, &setting).code, c.chosen) << "saved " << c.saved;
    EXPECT_EQ(setting, c.chosen);
  }
  EXPECT_EQ(FormatRow(kFormatYv12).name, "YV12");
  EXPECT_EQ(FormatRow(7).name, "Default");
  EXPECT_EQ(FormatCodeOf(kSubtypeI420, kFormatVideoInfo2), kFormatI420);
  EXPECT_EQ(SubtypeOf(kFormatNv12).Data1, 0x3231564Eu);
}

}  // namespace
}  // namespace kvx
