#include "compose/host_surface.h"

#include <algorithm>

#include "plugin/host_records.h"
#include "base/mul_div.h"

namespace kvx {
namespace {

uint8_t Clamp(int32_t v) {
  return static_cast<uint8_t>(std::clamp(v, 0, 255));
}

// c + floor((p - c) * keep / 256), keep being the weight of the existing byte.
uint8_t Mix(uint8_t p, uint8_t c, int32_t keep) {
  return Clamp(c + ((p - c) * keep >> 8));
}

uint8_t ByteOf(uint32_t packed, int i) {
  return static_cast<uint8_t>(packed >> (8 * i));
}

// Mix as runs do it: c + floor((p - c) * keep / 256) is (p * keep + c * (256 - keep)) / 256,
// both terms non-negative, so no clamp; Part is c * (256 - keep) for byte i of the colour.
uint32_t Part(uint32_t packed, int i, int32_t keep) {
  return static_cast<uint32_t>(ByteOf(packed, i)) * static_cast<uint32_t>(256 - keep);
}

void MixInto(uint8_t& byte, int32_t keep, uint32_t colorPart) {
  byte = static_cast<uint8_t>((byte * static_cast<uint32_t>(keep) + colorPart) >> 8);
}

// An RGB24 pixel's B G R bytes with the colour's parts.
struct BgrParts {
  uint32_t b, g, r;
};

BgrParts PartsOf(uint32_t packed, int32_t keep) {
  return {Part(packed, 0, keep), Part(packed, 1, keep), Part(packed, 2, keep)};
}

void MixBgr(uint8_t* p, int32_t keep, const BgrParts& parts) {
  MixInto(p[0], keep, parts.b);
  MixInto(p[1], keep, parts.g);
  MixInto(p[2], keep, parts.r);
}

}  // namespace

void HostSurface::Configure(int32_t format, int32_t width, int32_t height) {
  format_ = format;
  width_ = width;
  height_ = height;
  const bool known = format == kHostFormatYuy2 || format == kHostFormatRgb24;
  bytesPerPixel_ = known && width > 0 && height > 0 ? (format == kHostFormatYuy2 ? 2 : 3) : 0;
  stride_ = format == kHostFormatYuy2 ? 2 * int64_t{width} : -3 * int64_t{width};
}

uint8_t* HostSurface::PixelAddress(int32_t x, int32_t y) const {
  if (format_ == kHostFormatYuy2) {
    return pixels_ + 2 * int64_t{x} + y * 2 * int64_t{width_};
  }
  return pixels_ + 3 * int64_t{x} + (int64_t{height_} - 1 - y) * 3 * width_;
}

uint32_t HostSurface::ToSurfaceColor(uint32_t color) const {
  const int32_t r = color & 0xFF;
  const int32_t g = (color >> 8) & 0xFF;
  const int32_t b = (color >> 16) & 0xFF;
  if (format_ != kHostFormatYuy2) {
    return static_cast<uint32_t>(b | g << 8 | r << 16);
  }
  const uint32_t y = Clamp((9798 * r + 19235 * g + 3735 * b) >> 15);
  const uint32_t u = Clamp(((-5529 * r - 10855 * g + 16384 * b) >> 15) + 128);
  const uint32_t v = Clamp(((16384 * r - 13720 * g - 2664 * b) >> 15) + 128);
  return y | u << 8 | y << 16 | v << 24;
}

// A YUY2 pixel at an even x owns Y0, U and V of its pair; at an odd x only Y1. p is the pixel's
// address (2 bytes into the pair for odd x). The last pixel of an odd-width row has no pair
// partner and no V byte of its own.
void HostSurface::BlendPixel(uint8_t* p, int64_t x, uint32_t c, int32_t keep) const {
  if (format_ == kHostFormatRgb24) {
    for (int i = 0; i < 3; ++i) {
      p[i] = Mix(p[i], ByteOf(c, i), keep);
    }
  } else if ((x & 1) == 0) {
    p[0] = Mix(p[0], ByteOf(c, 0), keep);
    p[1] = Mix(p[1], ByteOf(c, 1), keep);
    if (x + 1 < width_) {
      p[3] = Mix(p[3], ByteOf(c, 3), keep);
    }
  } else {
    p[0] = Mix(p[0], ByteOf(c, 2), keep);
  }
}

void HostSurface::BlendRow(uint8_t* p, int64_t x0, int64_t x1, uint32_t c, int32_t keep) const {
  if (format_ == kHostFormatRgb24) {
    const BgrParts parts = PartsOf(c, keep);
    for (int64_t n = x1 - x0 + 1; n > 0; --n, p += 3) {
      MixBgr(p, keep, parts);
    }
    return;
  }
  int64_t x = x0;
  if ((x & 1) != 0) {
    BlendPixel(p, x, c, keep);
    p += 2;
    ++x;
  }
  const uint32_t y0 = Part(c, 0, keep), u = Part(c, 1, keep), y1 = Part(c, 2, keep),
                 v = Part(c, 3, keep);
  for (; x + 1 <= x1; x += 2, p += 4) {
    MixInto(p[0], keep, y0);
    MixInto(p[1], keep, u);
    MixInto(p[2], keep, y1);
    MixInto(p[3], keep, v);
  }
  if (x == x1) {
    BlendPixel(p, x, c, keep);
  }
}

void HostSurface::BlendRun(bool horizontal, int64_t a1, int64_t a2, int64_t at, bool closed,
                           uint32_t color, uint32_t opacity) {
  if (!Usable()) {
    return;
  }
  int64_t start = a1;
  int64_t end = a2;
  if (a2 < a1) {
    start = closed ? a2 : a2 + 1;
    end = a1;
  } else if (!closed) {
    end = a2 - 1;
  }
  const int64_t length = horizontal ? width_ : height_;
  const int64_t across = horizontal ? height_ : width_;
  if (start > end || end < 0 || start >= length || at < 0 || at >= across) {
    return;
  }
  start = std::max<int64_t>(start, 0);
  end = std::min<int64_t>(end, length - 1);
  const uint32_t c = ToSurfaceColor(color);
  const int32_t keep = MulDiv(100 - static_cast<int32_t>(std::min(opacity, 100u)), 256, 100);
  const int64_t x0 = horizontal ? start : at;
  const int64_t y0 = horizontal ? at : start;
  uint8_t* p = PixelAddress(static_cast<int32_t>(x0), static_cast<int32_t>(y0));
  if (horizontal) {
    BlendRow(p, start, end, c, keep);
    return;
  }
  // Down a column every pixel has the same parity: the same bytes blend in every row.
  const int64_t rows = end - start + 1;
  if (format_ == kHostFormatRgb24) {
    const BgrParts parts = PartsOf(c, keep);
    for (int64_t i = 0; i < rows; ++i, p += stride_) {
      MixBgr(p, keep, parts);
    }
  } else if ((at & 1) == 0) {
    const uint32_t luma = Part(c, 0, keep), u = Part(c, 1, keep), v = Part(c, 3, keep);
    const bool ownsV = at + 1 < width_;
    for (int64_t i = 0; i < rows; ++i, p += stride_) {
      MixInto(p[0], keep, luma);
      MixInto(p[1], keep, u);
      if (ownsV) {
        MixInto(p[3], keep, v);
      }
    }
  } else {
    const uint32_t luma = Part(c, 2, keep);
    for (int64_t i = 0; i < rows; ++i, p += stride_) {
      MixInto(p[0], keep, luma);
    }
  }
}

void HostSurface::BlendHLine(int32_t x1, int32_t x2, int32_t y, int32_t closed, uint32_t color,
                             uint32_t opacity) {
  BlendRun(true, x1, x2, y, closed != 0, color, opacity);
}

void HostSurface::BlendVLine(int32_t x, int32_t y1, int32_t y2, int32_t closed, uint32_t color,
                             uint32_t opacity) {
  BlendRun(false, y1, y2, x, closed != 0, color, opacity);
}

void HostSurface::DrawFrame(const Rect& rect, int32_t band, uint32_t color, uint32_t opacity) {
  if (band == 0) {
    return;
  }
  int64_t l = rect.left;
  int64_t t = rect.top;
  int64_t r = int64_t{rect.right} - 1;
  int64_t b = int64_t{rect.bottom} - 1;
  int64_t n = band;
  if (band < 0) {
    l += band;
    t += band;
    r -= band;
    b -= band;
    n = -int64_t{band};
  }
  // Every ring's four runs leave out their end points, so each pixel is blended once.
  for (int64_t i = 0; i < n; ++i, ++l, ++t, --r, --b) {
    BlendRun(true, l, r, t, false, color, opacity);
    BlendRun(false, t, b, r, false, color, opacity);
    BlendRun(true, r, l, b, false, color, opacity);
    BlendRun(false, b, t, l, false, color, opacity);
  }
}

}  // namespace kvx
