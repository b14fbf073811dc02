#include "capture/stream_format.h"

#include <cstring>

namespace kvx {
namespace {

const FormatEntry kRows[] = {
    {"Default", kFormatDefault},
    {"YUY2", kFormatYuy2},
    {"UYVY", kFormatUyvy},
    {"RGB24", kFormatRgb24},
};

void Write32(uint8_t* at, int32_t value) {
  std::memcpy(at, &value, sizeof value);
}

}  // namespace

const FormatEntry& FormatRow(int32_t code) {
  return code >= kFormatYuy2 && code <= kFormatRgb24 ? kRows[code] : kRows[kFormatDefault];
}

FormatList& Formats() {
  static FormatList formats;
  return formats;
}

int32_t FormatCodeOf(const Guid& subtype, const Guid& formatType) {
  if (!SameGuid(formatType, kFormatVideoInfo)) {
    return kFormatDefault;
  }
  if (SameGuid(subtype, kSubtypeYuy2)) {
    return kFormatYuy2;
  }
  if (SameGuid(subtype, kSubtypeUyvy)) {
    return kFormatUyvy;
  }
  if (SameGuid(subtype, kSubtypeRgb24)) {
    return kFormatRgb24;
  }
  return kFormatDefault;
}

const Guid& SubtypeOf(int32_t code) {
  switch (code) {
    case kFormatUyvy:
      return kSubtypeUyvy;
    case kFormatRgb24:
      return kSubtypeRgb24;
    default:
      return kSubtypeYuy2;
  }
}

const FormatEntry& ChooseFormat(const FormatList& formats, int32_t* streamFormat) {
  for (const FormatEntry& row : formats) {
    if (row.code == *streamFormat) {
      return row;
    }
  }
  *streamFormat = formats.front().code;
  return formats.front();
}

bool SetFrameSize(const Guid& formatType, uint8_t* block, uint32_t blockSize, int32_t streamSize) {
  uint32_t widthAt = 0;
  if (SameGuid(formatType, kFormatVideoInfo) && blockSize >= kVideoInfoSize) {
    widthAt = kVideoInfoWidthAt;
  } else if (SameGuid(formatType, kFormatVideoInfo2) && blockSize >= kVideoInfo2Size) {
    widthAt = kVideoInfo2WidthAt;
  }
  if (widthAt == 0 || block == nullptr || streamSize < 0 || streamSize >= kFrameSizeCount) {
    return false;
  }
  Write32(block + widthAt, kFrameSizes[streamSize].width);
  Write32(block + widthAt + 4, kFrameSizes[streamSize].height);
  return true;
}

}  // namespace kvx
