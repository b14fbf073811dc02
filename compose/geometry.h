// Rectangles and packed-pixel layouts shared by the compositor and the frame step.
#pragma once

#include <cstddef>
#include <cstdint>

namespace kvx {

// Right and bottom are exclusive. Empty when right <= left or bottom <= top.
struct Rect {
  int32_t left;
  int32_t top;
  int32_t right;
  int32_t bottom;

  bool Empty() const { return right <= left || bottom <= top; }
  int64_t Width() const { return int64_t{right} - left; }
  int64_t Height() const { return int64_t{bottom} - top; }
  bool operator==(const Rect&) const = default;
};

// The intersection of a and b; false (and out empty) when they do not overlap.
bool IntersectRect(Rect* out, const Rect& a, const Rect& b);

// The compositor's layout codes; no other value is ever passed to it.
enum PixelLayout : int32_t {
  kLayoutYuy2 = 0,   // Y0 U Y1 V per pixel pair, top row first
  kLayoutUyvy = 1,   // U Y0 V Y1 per pixel pair, top row first
  kLayoutRgb24 = 4,  // B G R per pixel, bottom row first
  // B G R per pixel, top row first: an RGB24 frame whose height the driver gave as negative.
  // Sources only; the host's RGB24 frames are always bottom-up.
  kLayoutRgb24TopDown = 5,
};

inline bool IsKnownLayout(int32_t layout) {
  return layout == kLayoutYuy2 || layout == kLayoutUyvy || layout == kLayoutRgb24 ||
         layout == kLayoutRgb24TopDown;
}
inline bool IsRgb24(int32_t layout) {
  return layout == kLayoutRgb24 || layout == kLayoutRgb24TopDown;
}
inline bool IsPacked422(int32_t layout) {
  return !IsRgb24(layout);
}
inline int32_t BytesPerPixel(int32_t layout) {
  return IsRgb24(layout) ? 3 : 2;
}

// Bytes from one picture row to the next: negative for the bottom-up RGB24 layout.
inline ptrdiff_t RowStride(int32_t layout, int32_t width) {
  return layout == kLayoutRgb24 ? -3 * ptrdiff_t{width} : BytesPerPixel(layout) * ptrdiff_t{width};
}

// Address of picture row 0 (the last row in memory for bottom-up RGB24).
inline uint8_t* RowZero(uint8_t* pixels, int32_t layout, int32_t width, int32_t height) {
  return layout == kLayoutRgb24 ? pixels + ptrdiff_t{height - 1} * 3 * width : pixels;
}

}  // namespace kvx
