#include "tools/tv_card/picture.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace tvcard {
namespace {

// Vision carriers as runs of equally spaced channels.
struct Band {
  uint32_t first;
  uint32_t step;
  uint32_t count;
};
constexpr Band kBands[] = {
    // OIRT R1 to R12
    {49750000, 1, 1},
    {59250000, 1, 1},
    {77250000, 8000000, 3},
    {175250000, 8000000, 7},
    // CCIR E2 to E12
    {48250000, 7000000, 3},
    {175250000, 7000000, 8},
    // UHF 21 to 69, Europe
    {471250000, 8000000, 49},
    // US VHF 2 to 13 and UHF 14 to 69
    {55250000, 6000000, 3},
    {77250000, 6000000, 2},
    {175250000, 6000000, 7},
    {471250000, 6000000, 56},
};

// 5 x 7 glyphs for "0123456789.", one byte per row, bit 4 leftmost.
constexpr uint8_t kGlyphs[11][7] = {
    {0x0E, 0x11, 0x13, 0x15, 0x19, 0x11, 0x0E}, {0x04, 0x0C, 0x04, 0x04, 0x04, 0x04, 0x0E},
    {0x0E, 0x11, 0x01, 0x02, 0x04, 0x08, 0x1F}, {0x1F, 0x02, 0x04, 0x02, 0x01, 0x11, 0x0E},
    {0x02, 0x06, 0x0A, 0x12, 0x1F, 0x02, 0x02}, {0x1F, 0x10, 0x1E, 0x01, 0x01, 0x11, 0x0E},
    {0x06, 0x08, 0x10, 0x1E, 0x11, 0x11, 0x0E}, {0x1F, 0x01, 0x02, 0x04, 0x08, 0x08, 0x08},
    {0x0E, 0x11, 0x11, 0x0E, 0x11, 0x11, 0x0E}, {0x0E, 0x11, 0x11, 0x0F, 0x01, 0x02, 0x0C},
    {0x00, 0x00, 0x00, 0x00, 0x00, 0x0C, 0x0C},
};

constexpr uint32_t kWhite = 0xFFFFFF;
// 75% bars: white, yellow, cyan, green, magenta, red, blue, black.
constexpr uint32_t kBars[8] = {0xBFBFBF, 0xBFBF00, 0x00BFBF, 0x00BF00,
                               0xBF00BF, 0xBF0000, 0x0000BF, 0x000000};

void FillRect(std::vector<uint32_t>& canvas, int width, int x0, int y0, int w, int h,
              uint32_t colour) {
  for (int y = y0; y < y0 + h; ++y) {
    std::fill_n(canvas.begin() + static_cast<size_t>(y) * width + x0, w, colour);
  }
}

// The frequency in MHz with two decimals, centred, as large as the frame allows.
void DrawFrequency(uint32_t hz, int width, int height, std::vector<uint32_t>& canvas) {
  char text[16];
  const int n = std::snprintf(text, sizeof text, "%u.%02u", hz / 1000000, hz % 1000000 / 10000);
  const int scale = std::max(1, std::min(height / 12, width / (6 * n + 1)));
  int x = (width - (6 * n - 1) * scale) / 2;
  const int y0 = height / 2 - 7 * scale / 2;
  for (int i = 0; i < n; ++i, x += 6 * scale) {
    const uint8_t* glyph = kGlyphs[text[i] == '.' ? 10 : text[i] - '0'];
    for (int row = 0; row < 7; ++row) {
      for (int col = 0; col < 5; ++col) {
        if (glyph[row] & (0x10 >> col)) {
          FillRect(canvas, width, x + col * scale, y0 + row * scale, scale, scale, kWhite);
        }
      }
    }
  }
}

void DrawScene(const Scene& scene, uint32_t number, int width, int height,
               std::vector<uint32_t>& canvas) {
  switch (scene.kind) {
    case SceneKind::kStation:
      std::fill(canvas.begin(), canvas.end(), StationColour(scene.frequency));
      DrawFrequency(scene.frequency, width, height, canvas);
      break;
    case SceneKind::kSnow: {
      uint32_t state = number * 2654435761u + 1;
      for (uint32_t& pixel : canvas) {
        state ^= state << 13;
        state ^= state >> 17;
        state ^= state << 5;
        const uint32_t grey = state & 0xFF;
        pixel = grey * 0x010101;
      }
      return;  // nothing moves in snow but the snow
    }
    case SceneKind::kColourBars:
      for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
          canvas[static_cast<size_t>(y) * width + x] = kBars[x * 8 / width];
        }
      }
      break;
    case SceneKind::kGradient:
      for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
          canvas[static_cast<size_t>(y) * width + x] =
              static_cast<uint32_t>(x * 255 / (width - 1)) * 0x010101;
        }
      }
      break;
    case SceneKind::kBlack:
      std::fill(canvas.begin(), canvas.end(), 0u);
      break;
  }
  const int size = height / 8;
  const int step = std::max(1, width / 50);
  const int x =
      static_cast<int>(number * static_cast<uint32_t>(step) % static_cast<uint32_t>(width - size));
  FillRect(canvas, width, x, height - size - height / 16, size, size, kWhite);
}

struct Yuv {
  uint8_t y0, y1, u, v;
};

uint8_t Luma(int r, int g, int b) {
  return static_cast<uint8_t>(((66 * r + 129 * g + 25 * b + 128) >> 8) + 16);
}

// BT.601 studio range; the chroma of a pixel pair is that of its average.
Yuv PairToYuv(uint32_t a, uint32_t b) {
  const int ra = a >> 16 & 0xFF, ga = a >> 8 & 0xFF, ba = a & 0xFF;
  const int rb = b >> 16 & 0xFF, gb = b >> 8 & 0xFF, bb = b & 0xFF;
  const int r = (ra + rb + 1) / 2, g = (ga + gb + 1) / 2, bl = (ba + bb + 1) / 2;
  return {Luma(ra, ga, ba), Luma(rb, gb, bb),
          static_cast<uint8_t>(((-38 * r - 74 * g + 112 * bl + 128) >> 8) + 128),
          static_cast<uint8_t>(((112 * r - 94 * g - 18 * bl + 128) >> 8) + 128)};
}

}  // namespace

bool IsStation(uint32_t hz) {
  for (const Band& band : kBands) {
    if (hz >= band.first && (hz - band.first) % band.step == 0 &&
        (hz - band.first) / band.step < band.count) {
      return true;
    }
  }
  return false;
}

uint32_t StationColour(uint32_t hz) {
  uint32_t x = hz / 250000 * 0x9E3779B1u;
  x ^= x >> 16;
  x *= 0x85EBCA6Bu;
  x ^= x >> 13;
  // Mid-range channels, so the white digits and square stand out.
  return (40 + (x & 0x7F)) << 16 | (40 + (x >> 8 & 0x7F)) << 8 | (40 + (x >> 16 & 0x7F));
}

size_t FrameBytes(const FrameLayout& layout) {
  const size_t pixels = static_cast<size_t>(layout.width) * layout.height;
  switch (layout.format) {
    case PixelFormat::kRgb24:
      return pixels * 3;
    case PixelFormat::kNv12:
    case PixelFormat::kI420:
      return pixels * 3 / 2;
    default:
      return pixels * 2;
  }
}

void DrawFrame(const Scene& scene, uint32_t number, const FrameLayout& layout, uint8_t* out,
               std::vector<uint32_t>& canvas) {
  const int width = layout.width;
  const int height = layout.height;
  canvas.resize(static_cast<size_t>(width) * height);
  DrawScene(scene, number, width, height, canvas);
  if (layout.format == PixelFormat::kNv12 || layout.format == PixelFormat::kI420) {
    // Each 2x2 block takes the chroma of its top pixel pair, as a camera's scaler may.
    const size_t pixels = static_cast<size_t>(width) * height;
    uint8_t* chroma = out + pixels;
    for (int y = 0; y < height; ++y) {
      const uint32_t* row = canvas.data() + static_cast<size_t>(y) * width;
      for (int x = 0; x < width; x += 2) {
        const Yuv p = PairToYuv(row[x], row[x + 1]);
        out[static_cast<size_t>(y) * width + x] = p.y0;
        out[static_cast<size_t>(y) * width + x + 1] = p.y1;
        if (y % 2 != 0) {
          continue;
        }
        if (layout.format == PixelFormat::kNv12) {
          chroma[static_cast<size_t>(y / 2) * width + x] = p.u;
          chroma[static_cast<size_t>(y / 2) * width + x + 1] = p.v;
        } else {
          const size_t at = static_cast<size_t>(y / 2) * (width / 2) + x / 2;
          chroma[at] = p.u;
          chroma[pixels / 4 + at] = p.v;
        }
      }
    }
    return;
  }
  if (layout.format == PixelFormat::kMjpg) {
    std::memset(out, 0, FrameBytes(layout));
    return;
  }
  for (int y = 0; y < height; ++y) {
    const uint32_t* row = canvas.data() + static_cast<size_t>(y) * width;
    if (layout.format == PixelFormat::kRgb24) {
      uint8_t* o = out + static_cast<size_t>(layout.topDown ? y : height - 1 - y) * width * 3;
      for (int x = 0; x < width; ++x, o += 3) {
        o[0] = static_cast<uint8_t>(row[x]);
        o[1] = static_cast<uint8_t>(row[x] >> 8);
        o[2] = static_cast<uint8_t>(row[x] >> 16);
      }
      continue;
    }
    uint8_t* o = out + static_cast<size_t>(y) * width * 2;
    for (int x = 0; x < width; x += 2, o += 4) {
      const Yuv p = PairToYuv(row[x], row[x + 1]);
      const uint8_t yuy2[4] = {p.y0, p.u, p.y1, p.v};
      const uint8_t uyvy[4] = {p.u, p.y0, p.v, p.y1};
      std::memcpy(o, layout.format == PixelFormat::kYuy2 ? yuy2 : uyvy, 4);
    }
  }
}

}  // namespace tvcard
