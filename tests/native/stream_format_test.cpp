// The frame size goes into a driver's format block only where the block's own header has room
// for it. Blocks are allocated to their exact size, so AddressSanitizer sees any stray write.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>

#include "capture/stream_format.h"

namespace kvx {
namespace {

TEST(StreamFormat, FrameSizeIsWrittenOnlyIntoAHeaderThatHoldsIt) {
  const Guid other = {0x05589F81, 0xC356, 0x11CE, {0xBF, 0x01, 0, 0xAA, 0, 0x55, 0x59, 0x5A}};
  const struct {
    const Guid& type;
    uint32_t size;
    int32_t streamSize;
    uint32_t widthAt;  // 0: nothing may change
  } cases[] = {
      {kFormatVideoInfo, kVideoInfoSize, 5, kVideoInfoWidthAt},
      {kFormatVideoInfo, kVideoInfoSize + 1024, 0, kVideoInfoWidthAt},  // with a palette
      {kFormatVideoInfo2, kVideoInfo2Size, 4, kVideoInfo2WidthAt},
      {kFormatVideoInfo, kVideoInfoSize - 1, 4, 0},
      {kFormatVideoInfo, 1, 4, 0},
      {kFormatVideoInfo2, kVideoInfoSize, 4, 0},  // a VIDEOINFOHEADER's size is not enough
      {other, 4096, 4, 0},
      {kFormatVideoInfo, kVideoInfoSize, 6, 0},
      {kFormatVideoInfo, kVideoInfoSize, -1, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << c.size << " bytes, size " << c.streamSize);
    std::unique_ptr<uint8_t[]> block(new uint8_t[c.size]);
    std::memset(block.get(), 0xEE, c.size);
    EXPECT_EQ(SetFrameSize(c.type, block.get(), c.size, c.streamSize), c.widthAt != 0);
    for (uint32_t i = 0; i < c.size; ++i) {
      if (c.widthAt == 0 || i < c.widthAt || i >= c.widthAt + 8) {
        ASSERT_EQ(block[i], 0xEE) << "byte " << i;
      }
    }
    if (c.widthAt != 0) {
      int32_t size[2];
      std::memcpy(size, block.get() + c.widthAt, sizeof size);
      EXPECT_EQ(size[0], kFrameSizes[c.streamSize].width);
      EXPECT_EQ(size[1], kFrameSizes[c.streamSize].height);
    }
  }
  EXPECT_FALSE(SetFrameSize(kFormatVideoInfo, nullptr, kVideoInfoSize, 1));
}

}  // namespace
}  // namespace kvx
