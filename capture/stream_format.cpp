#include "capture/stream_format.h"

#include <algorithm>
#include <cstring>

namespace kvx {
namespace {

const FormatEntry kRows[] = {
    {"Default", kFormatDefault}, {"YUY2", kFormatYuy2}, {"UYVY", kFormatUyvy},
    {"RGB24", kFormatRgb24},     {"NV12", kFormatNv12}, {"I420", kFormatI420},
    {"YV12", kFormatYv12},
};

struct SubtypeRow {
  const Guid* subtype;
  int32_t code;
};
const SubtypeRow kSubtypes[] = {
    {&kSubtypeYuy2, kFormatYuy2}, {&kSubtypeUyvy, kFormatUyvy}, {&kSubtypeRgb24, kFormatRgb24},
    {&kSubtypeNv12, kFormatNv12}, {&kSubtypeI420, kFormatI420}, {&kSubtypeYv12, kFormatYv12},
};

bool Planar(int32_t code) {
  return code >= kFormatNv12 && code <= kFormatYv12;
}

template <class T>
T Read(const uint8_t* at) {
  T value;
  std::memcpy(&value, at, sizeof value);
  return value;
}

template <class T>
void Write(uint8_t* at, T value) {
  std::memcpy(at, &value, sizeof value);
}

// Fields of the two blocks ahead of the bitmap header, and of the header itself.
constexpr uint32_t kSourceRectAt = 0;
constexpr uint32_t kRectsBytes = 32;  // rcSource, rcTarget
constexpr uint32_t kBitRateAt = 32;
constexpr uint32_t kBiSize = 0;
constexpr uint32_t kBiWidth = 4;
constexpr uint32_t kBiHeight = 8;
constexpr uint32_t kBiPlanes = 12;
constexpr uint32_t kBiBitCount = 14;
constexpr uint32_t kBiCompression = 16;
constexpr uint32_t kBiSizeImage = 20;
constexpr uint32_t kBiClrUsed = 32;
constexpr uint32_t kBiClrImportant = 36;
constexpr uint32_t kBiRgb = 0;

uint32_t HeaderOffset(const Guid& formatType, const uint8_t* block, uint32_t blockSize) {
  if (block == nullptr) {
    return 0;
  }
  if (SameGuid(formatType, kFormatVideoInfo) && blockSize >= kVideoInfoSize) {
    return kVideoInfoHeaderAt;
  }
  if (SameGuid(formatType, kFormatVideoInfo2) && blockSize >= kVideoInfo2Size) {
    return kVideoInfo2HeaderAt;
  }
  return 0;
}

}  // namespace

const FormatEntry& FormatRow(int32_t code) {
  return code >= kFormatYuy2 && code <= kFormatYv12 ? kRows[code] : kRows[kFormatDefault];
}

FormatList& Formats() {
  static FormatList formats;
  return formats;
}

int32_t FormatCodeOf(const Guid& subtype, const Guid& formatType) {
  if (!SameGuid(formatType, kFormatVideoInfo) && !SameGuid(formatType, kFormatVideoInfo2)) {
    return kFormatDefault;
  }
  for (const SubtypeRow& row : kSubtypes) {
    if (SameGuid(subtype, *row.subtype)) {
      return row.code;
    }
  }
  return kFormatDefault;
}

const Guid& SubtypeOf(int32_t code) {
  for (const SubtypeRow& row : kSubtypes) {
    if (row.code == code) {
      return *row.subtype;
    }
  }
  return kSubtypeYuy2;
}

const FormatEntry& ChooseFormat(const FormatList& formats, int32_t* streamFormat) {
  const FormatEntry* chosen = nullptr;
  for (const FormatEntry& row : formats) {
    if (row.code == *streamFormat) {
      return row;
    }
  }
  // Cameras list compressed and 4:2:0 formats first; the packed ones cost the least to draw.
  for (const int32_t preferred : {kFormatYuy2, kFormatUyvy, kFormatRgb24}) {
    for (const FormatEntry& row : formats) {
      if (chosen == nullptr && row.code == preferred) {
        chosen = &row;
      }
    }
  }
  if (chosen == nullptr) {
    chosen = &formats.front();
  }
  *streamFormat = chosen->code;
  return *chosen;
}

namespace {

struct Axis {
  int64_t low;
  int64_t high;
  int64_t step;
  int64_t even;  // 2 where the value must be even, else 1

  bool Allows(int64_t v) const {
    return v >= low && v <= high && (step <= 0 || (v - low) % step == 0) && v % even == 0;
  }
  // The smallest allowed value at least v, or -1.
  int64_t Up(int64_t v) const {
    for (int64_t at = std::max(v, low), tries = 0; at <= high && tries < 64; ++tries) {
      const int64_t step1 = step > 0 ? step : 1;
      const int64_t on = low + (at - low + step1 - 1) / step1 * step1;
      if (on > high) {
        return -1;
      }
      if (on % even == 0) {
        return on;
      }
      at = on + 1;
    }
    return -1;
  }
  // The largest allowed value at most v, or -1.
  int64_t Down(int64_t v) const {
    for (int64_t at = std::min(v, high), tries = 0; at >= low && tries < 64; ++tries) {
      const int64_t step1 = step > 0 ? step : 1;
      const int64_t on = low + (at - low) / step1 * step1;
      if (on % even == 0) {
        return on;
      }
      at = on - 1;
    }
    return -1;
  }
};

Axis WidthOf(const SizeRange& r, bool evenWidth) {
  return {r.minWidth, r.maxWidth, r.minWidth == r.maxWidth ? 0 : r.stepX, evenWidth ? 2 : 1};
}

Axis HeightOf(const SizeRange& r) {
  return {r.minHeight, r.maxHeight, r.minHeight == r.maxHeight ? 0 : r.stepY, 1};
}

}  // namespace

bool ChooseSize(const std::vector<SizeRange>& ranges, int32_t width, int32_t height, bool evenWidth,
                ChosenSize* chosen) {
  // At least the wanted size on both sides beats below it on both sides, which beats a size
  // that is larger on one side only; among those at least, the smallest wins, else the largest.
  enum Rank { kNone, kMixed, kBelow, kAbove };
  Rank best = kNone;
  int64_t bestArea = 0;
  for (size_t i = 0; i < ranges.size(); ++i) {
    const Axis x = WidthOf(ranges[i], evenWidth);
    const Axis y = HeightOf(ranges[i]);
    if (x.Allows(width) && y.Allows(height)) {
      *chosen = {width, height, i};
      return true;
    }
    const auto offer = [&](int64_t w, int64_t h, Rank rank) {
      if (w <= 0 || h <= 0) {
        return;
      }
      const int64_t area = w * h;
      if (rank > best || (rank == best && (rank == kAbove ? area < bestArea : area > bestArea))) {
        *chosen = {static_cast<int32_t>(w), static_cast<int32_t>(h), i};
        best = rank;
        bestArea = area;
      }
    };
    offer(x.Up(width), y.Up(height), kAbove);
    offer(x.Down(width), y.Down(height), kBelow);
    offer(x.Down(x.high), y.Down(y.high), kMixed);
  }
  return best != kNone;
}

int64_t FitInterval(const SizeRange& range, int64_t current) {
  if (range.minInterval <= 0 || range.maxInterval < range.minInterval) {
    return current;
  }
  return std::clamp(current, range.minInterval, range.maxInterval);
}

bool BlockFrameSize(const Guid& formatType, const uint8_t* block, uint32_t blockSize,
                    int32_t* width, int32_t* height) {
  const uint32_t headerAt = HeaderOffset(formatType, block, blockSize);
  if (headerAt == 0) {
    return false;
  }
  const int64_t h = Read<int32_t>(block + headerAt + kBiHeight);
  *width = Read<int32_t>(block + headerAt + kBiWidth);
  *height = static_cast<int32_t>(h < 0 ? std::max<int64_t>(-h, 0) : h);
  return true;
}

bool FitFormatBlock(const Guid& formatType, uint8_t* block, uint32_t blockSize, int32_t code,
                    int32_t wantedWidth, int32_t wantedHeight, int64_t interval,
                    uint32_t* imageSize) {
  const uint32_t headerAt = HeaderOffset(formatType, block, blockSize);
  if (headerAt == 0) {
    return false;
  }
  uint8_t* header = block + headerAt;
  int64_t width = Read<int32_t>(header + kBiWidth);
  int64_t height = Read<int32_t>(header + kBiHeight);
  const bool topDown = height < 0;
  if (wantedWidth != 0 || wantedHeight != 0) {
    width = wantedWidth;
    height = wantedHeight;
  }
  height = height < 0 ? -height : height;

  const bool rgb = code == kFormatRgb24;
  const bool planar = Planar(code);
  const uint16_t bits = rgb ? 24 : planar ? 12 : 16;
  if (width <= 0 || height <= 0 || (!rgb && width % 2 != 0) || (planar && height % 2 != 0)) {
    return false;
  }
  // DIB rows end on a 4-byte boundary; 4:2:0 planes are packed without padding.
  const int64_t bytes = planar ? width * height * 3 / 2 : (width * bits + 31) / 32 * 4 * height;
  if (bytes >= int64_t{1} << 31) {
    return false;
  }

  std::memset(block + kSourceRectAt, 0, kRectsBytes);
  if (interval <= 0) {
    interval = Read<int64_t>(block + kFrameIntervalAt);
  }
  Write<int64_t>(block + kFrameIntervalAt, interval);
  const int64_t bitRate = interval > 0 ? bytes * 8 * 10000000 / interval : 0;
  Write<uint32_t>(block + kBitRateAt, bitRate <= UINT32_MAX ? static_cast<uint32_t>(bitRate) : 0);

  Write<uint32_t>(header + kBiSize, kBitmapHeaderSize);
  Write<int32_t>(header + kBiWidth, static_cast<int32_t>(width));
  Write<int32_t>(header + kBiHeight, static_cast<int32_t>(rgb && topDown ? -height : height));
  Write<uint16_t>(header + kBiPlanes, 1);
  Write<uint16_t>(header + kBiBitCount, bits);
  // A video subtype's first field is its FOURCC.
  const uint32_t compression =
      rgb ? kBiRgb : SubtypeOf(code == kFormatDefault ? kFormatYuy2 : code).Data1;
  Write<uint32_t>(header + kBiCompression, compression);
  Write<uint32_t>(header + kBiSizeImage, static_cast<uint32_t>(bytes));
  Write<uint32_t>(header + kBiClrUsed, 0);
  Write<uint32_t>(header + kBiClrImportant, 0);
  *imageSize = static_cast<uint32_t>(bytes);
  return true;
}

}  // namespace kvx
