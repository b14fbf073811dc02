// The host's synthetic main picture and the conversions between it and the host's frame formats.
// A Picture is created, drawn and destroyed on one thread (the video thread); the conversions are
// plain functions.
#pragma once

#include <windows.h>

#include <cstddef>
#include <cstdint>

namespace zhost {

class Picture {
 public:
  Picture(int width, int height);
  ~Picture();
  Picture(const Picture&) = delete;
  Picture& operator=(const Picture&) = delete;

  // Frame `number` of channel `position`: a colour per channel, sliding bars, a bouncing ball
  // and the channel's name, frequency and the frame number.
  void draw(int position, uint32_t number);
  // Top row first, 0x00RRGGBB.
  const uint32_t* pixels() const { return bits_; }

 private:
  int width_;
  int height_;
  HDC dc_ = nullptr;
  HBITMAP bitmap_ = nullptr;
  HGDIOBJ oldBitmap_ = nullptr;
  uint32_t* bits_ = nullptr;
  HFONT bigFont_ = nullptr;
  HFONT smallFont_ = nullptr;
};

// A 32-bit top-down DIB section of the given size, compatible with dc; bits receives its pixels.
HBITMAP createTopDownDib(HDC dc, int width, int height, void** bits);

// Bytes of one frame in the host's format: YUY2 (2 per pixel) or RGB24 (3 per pixel), unpadded.
size_t hostFrameBytes(int32_t format, int width, int height);
// 32-bit top-down picture to YUY2 top-down (BT.601, studio range) or RGB24 bottom-up.
void toHostFormat(const uint32_t* picture, int width, int height, int32_t format, uint8_t* frame);
void fromHostFormat(const uint8_t* frame, int width, int height, int32_t format, uint32_t* picture);

}  // namespace zhost
