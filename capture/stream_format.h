// The capture pin's pixel format and frame size: the FormatList the device page shows, the
// frame sizes StreamSize indexes, and the rules that turn the pin's offer and the settings into
// the format the pin is asked for. Portable; ConfigureStream (capture/stream_config.h) applies
// them to the pin.
//
// Threads: the FormatList is refilled by the graph build (Init, the device page's apply
// command) and read by the device page, all on the host's user-interface thread.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "video/media_guids.h"

namespace kvx {

struct FormatEntry {
  std::string name;
  int32_t code;  // the value StreamFormat takes when the row is chosen

  bool operator==(const FormatEntry&) const = default;
};
using FormatList = std::vector<FormatEntry>;

inline constexpr int32_t kFormatDefault = 0;
inline constexpr int32_t kFormatYuy2 = 1;
inline constexpr int32_t kFormatUyvy = 2;
inline constexpr int32_t kFormatRgb24 = 3;
// 4:2:0 formats of USB grabbers and cameras; the renderer keeps them as 4:2:2.
inline constexpr int32_t kFormatNv12 = 4;
inline constexpr int32_t kFormatI420 = 5;
inline constexpr int32_t kFormatYv12 = 6;

// The rows the format combo box can show: "Default", "YUY2", "UYVY", "RGB24", "NV12", "I420",
// "YV12" by code.
const FormatEntry& FormatRow(int32_t code);

// The module-wide list: empty at load, reset by every build, kept after a tear-down.
FormatList& Formats();

struct FrameSize {
  int32_t width;
  int32_t height;
  const char* text;  // the size combo box's entry
};
inline constexpr FrameSize kFrameSizes[] = {
    {160, 120, "160x120"}, {192, 144, "192x144"}, {320, 240, "320x240"},
    {352, 240, "352x240"}, {352, 288, "352x288"}, {384, 288, "384x288"},
};
inline constexpr int32_t kFrameSizeCount = 6;

// The row a capability of this subtype and format type adds (1 to 6), or 0 when it adds none:
// only VIDEOINFOHEADER and VIDEOINFOHEADER2 types of the subtypes the renderer draws count.
int32_t FormatCodeOf(const Guid& subtype, const Guid& formatType);
// The subtype set on the pin for a row's code; "Default" asks for YUY2.
const Guid& SubtypeOf(int32_t code);
// The row whose code equals streamFormat, else ("Default", or a format the pin no longer offers)
// the first YUY2, UYVY or RGB24 row in that order of preference, else row 0; the chosen row's
// code then replaces streamFormat. formats must not be empty.
const FormatEntry& ChooseFormat(const FormatList& formats, int32_t* streamFormat);

// Makes a VIDEOINFOHEADER or VIDEOINFOHEADER2 block agree with itself for the row's code and a
// frame size (width and height 0: the block's own), as strict drivers demand: the subtype's bit
// count and compression, one plane, the image size (RGB24 rows padded to 4 bytes; 4:2:0 frames
// 12 bits a pixel, both sides even), empty source
// and target rectangles (the whole frame), the frame interval given (the block's own when 0)
// and the bit rate they make. An RGB24 block keeps the sign of its height (negative: a top-down
// frame); a 4:2:2 block's height is positive. *imageSize gets the bytes of one frame, the media
// type's sample size. False, with the block untouched, for any other format type, a null block
// or one shorter than its header, or a frame size without pixels, an odd 4:2:2 width, an odd
// 4:2:0 side or an image of 2 GiB or more.
bool FitFormatBlock(const Guid& formatType, uint8_t* block, uint32_t blockSize, int32_t code,
                    int32_t width, int32_t height, int64_t interval, uint32_t* imageSize);

// What one of the pin's capabilities allows: output sizes from min to max in steps of the
// granularity (a capability with min = max offers that size alone), and frame intervals from
// minInterval to maxInterval (100 ns units).
struct SizeRange {
  int32_t minWidth;
  int32_t minHeight;
  int32_t maxWidth;
  int32_t maxHeight;
  int32_t stepX;  // 0 or less: every width in the range
  int32_t stepY;
  int64_t minInterval;
  int64_t maxInterval;
};

struct ChosenSize {
  int32_t width = 0;
  int32_t height = 0;
  size_t range = 0;  // the index of the range that allows it
};

// The size asked of a pin that offers these ranges for the chosen subtype: the wanted size
// where a range allows it, else the smallest allowed size at least as wide and as high, else the
// largest allowed size below it; false for no ranges. 4:2:2 widths stay even (`evenWidth`).
bool ChooseSize(const std::vector<SizeRange>& ranges, int32_t width, int32_t height, bool evenWidth,
                ChosenSize* chosen);
// The frame interval asked for: the current one where the range allows it, else the nearest
// it allows. A range that gives no interval (0, or min above max) keeps the current one.
int64_t FitInterval(const SizeRange& range, int64_t current);

// The frame size a VIDEOINFOHEADER or VIDEOINFOHEADER2 block describes, height positive; false
// for any other block.
bool BlockFrameSize(const Guid& formatType, const uint8_t* block, uint32_t blockSize,
                    int32_t* width, int32_t* height);

// Where the bitmap header lies in each block, and the headers' sizes.
inline constexpr uint32_t kVideoInfoSize = 88;
inline constexpr uint32_t kVideoInfoWidthAt = 52;
inline constexpr uint32_t kVideoInfo2Size = 112;
inline constexpr uint32_t kVideoInfo2WidthAt = 76;
inline constexpr uint32_t kVideoInfoHeaderAt = 48;
inline constexpr uint32_t kVideoInfo2HeaderAt = 72;
inline constexpr uint32_t kBitmapHeaderSize = 40;
// Where the two blocks keep the frame interval (REFERENCE_TIME, 100 ns units).
inline constexpr uint32_t kFrameIntervalAt = 40;

}  // namespace kvx
