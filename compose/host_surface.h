// A drawable view of the host's frame, used for the PiP border.
//
// Threads: Configure runs on the host's thread that calls Start; everything else on the thread
// that calls Frame.
#pragma once

#include <cstdint>

#include "compose/geometry.h"

namespace kvx {

class HostSurface {
 public:
  // format: 0 = YUY2 rows top-down, 1 = RGB24 rows bottom-up. Any other format, or a size that
  // is not positive, leaves the surface unusable: nothing is drawn on it.
  void Configure(int32_t format, int32_t width, int32_t height);
  void SetPixels(uint8_t* pixels) { pixels_ = pixels; }
  bool Usable() const { return bytesPerPixel_ != 0 && pixels_ != nullptr; }

  int32_t format() const { return format_; }
  int32_t width() const { return width_; }
  int32_t height() const { return height_; }
  uint8_t* pixels() const { return pixels_; }

  // |band| rings around rect: outside it for a negative band, inside for a positive one.
  void DrawFrame(const Rect& rect, int32_t band, uint32_t color, uint32_t opacity);
  // Blended runs from x1 to x2 (y1 to y2); closed = 0 leaves out the end point x2 (y2).
  void BlendHLine(int32_t x1, int32_t x2, int32_t y, int32_t closed, uint32_t color,
                  uint32_t opacity);
  void BlendVLine(int32_t x, int32_t y1, int32_t y2, int32_t closed, uint32_t color,
                  uint32_t opacity);
  // A COLORREF (0x00BBGGRR) as the surface's pixel bytes, first byte in the low bits:
  // B G R for RGB24, Y U Y V for YUY2.
  uint32_t ToSurfaceColor(uint32_t color) const;
  uint8_t* PixelAddress(int32_t x, int32_t y) const;

 private:
  // Runs take 64-bit coordinates so rings around far-off rectangles cannot overflow.
  void BlendRun(bool horizontal, int64_t a1, int64_t a2, int64_t at, bool closed, uint32_t color,
                uint32_t opacity);
  void BlendPixel(uint8_t* p, int64_t x, uint32_t surfaceColor, int32_t keep) const;
  // The pixels x0 to x1 of the row at p (the address of x0), as BlendPixel would blend them.
  void BlendRow(uint8_t* p, int64_t x0, int64_t x1, uint32_t surfaceColor, int32_t keep) const;

  int32_t format_ = -1;
  uint8_t* pixels_ = nullptr;
  int32_t width_ = 0;
  int32_t height_ = 0;
  int32_t bytesPerPixel_ = 0;
  int64_t stride_ = 0;
};

}  // namespace kvx
