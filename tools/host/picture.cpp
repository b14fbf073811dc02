#include "tools/host/picture.h"

#include <algorithm>
#include <cwchar>
#include <iterator>

#include "plugin/host_records.h"
#include "tools/host/channels.h"

namespace zhost {
namespace {

// Muted backgrounds, so the plug-in's inset and the bars stand out.
constexpr COLORREF kBackgrounds[] = {
    RGB(40, 60, 120), RGB(120, 50, 40), RGB(40, 100, 90),  RGB(110, 90, 30), RGB(80, 40, 110),
    RGB(30, 80, 50),  RGB(100, 40, 80), RGB(60, 60, 60),   RGB(30, 90, 120), RGB(120, 70, 60),
    RGB(70, 100, 40), RGB(50, 50, 100), RGB(110, 60, 100),
};
constexpr COLORREF kBars[] = {RGB(191, 191, 191), RGB(191, 191, 0), RGB(0, 191, 191),
                              RGB(0, 191, 0),     RGB(191, 0, 191), RGB(191, 0, 0),
                              RGB(0, 0, 191),     RGB(16, 16, 16)};

void fill(HDC dc, int left, int top, int right, int bottom, COLORREF colour) {
  RECT rect{left, top, right, bottom};
  SetDCBrushColor(dc, colour);
  FillRect(dc, &rect, static_cast<HBRUSH>(GetStockObject(DC_BRUSH)));
}

void shadowText(HDC dc, int x, int y, const wchar_t* text) {
  int length = static_cast<int>(wcslen(text));
  SetTextColor(dc, RGB(0, 0, 0));
  TextOutW(dc, x + 2, y + 2, text, length);
  SetTextColor(dc, RGB(255, 255, 255));
  TextOutW(dc, x, y, text, length);
}

// Folds a running count into 0..span and back, for the bouncing ball.
int bounce(uint32_t count, int span) {
  if (span <= 0)
    return 0;
  int phase = static_cast<int>(count % static_cast<uint32_t>(2 * span));
  return phase <= span ? phase : 2 * span - phase;
}

uint8_t clamp8(int value) {
  return static_cast<uint8_t>(std::clamp(value, 0, 255));
}

int lumaOf(int r, int g, int b) {
  return 16 + ((66 * r + 129 * g + 25 * b + 128) >> 8);
}
int blueDiffOf(int r, int g, int b) {
  return 128 + ((-38 * r - 74 * g + 112 * b + 128) >> 8);
}
int redDiffOf(int r, int g, int b) {
  return 128 + ((112 * r - 94 * g - 18 * b + 128) >> 8);
}

uint32_t rgbFromYuv(int y, int u, int v) {
  int c = 298 * (y - 16) + 128;
  int d = u - 128;
  int e = v - 128;
  return static_cast<uint32_t>(clamp8((c + 409 * e) >> 8)) << 16 |
         static_cast<uint32_t>(clamp8((c - 100 * d - 208 * e) >> 8)) << 8 |
         clamp8((c + 516 * d) >> 8);
}

}  // namespace

HBITMAP createTopDownDib(HDC dc, int width, int height, void** bits) {
  BITMAPINFO info{};
  info.bmiHeader.biSize = sizeof(info.bmiHeader);
  info.bmiHeader.biWidth = width;
  info.bmiHeader.biHeight = -height;
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 32;
  info.bmiHeader.biCompression = BI_RGB;
  return CreateDIBSection(dc, &info, DIB_RGB_COLORS, bits, nullptr, 0);
}

Picture::Picture(int width, int height) : width_(width), height_(height) {
  void* bits = nullptr;
  dc_ = CreateCompatibleDC(nullptr);
  bitmap_ = createTopDownDib(dc_, width, height, &bits);
  bits_ = static_cast<uint32_t*>(bits);
  oldBitmap_ = SelectObject(dc_, bitmap_);
  bigFont_ =
      CreateFontW(-height / 9, 0, 0, 0, FW_BOLD, 0, 0, 0, DEFAULT_CHARSET, OUT_DEFAULT_PRECIS,
                  CLIP_DEFAULT_PRECIS, ANTIALIASED_QUALITY, DEFAULT_PITCH, L"Tahoma");
  smallFont_ =
      CreateFontW(-height / 16, 0, 0, 0, FW_NORMAL, 0, 0, 0, DEFAULT_CHARSET, OUT_DEFAULT_PRECIS,
                  CLIP_DEFAULT_PRECIS, ANTIALIASED_QUALITY, DEFAULT_PITCH, L"Tahoma");
  SetBkMode(dc_, TRANSPARENT);
}

Picture::~Picture() {
  SelectObject(dc_, oldBitmap_);
  DeleteObject(bitmap_);
  DeleteObject(bigFont_);
  DeleteObject(smallFont_);
  DeleteDC(dc_);
}

void Picture::draw(int position, uint32_t number) {
  const ChannelInfo& channel = channelInfo(position);
  fill(dc_, 0, 0, width_, height_,
       kBackgrounds[static_cast<size_t>(position) % std::size(kBackgrounds)]);

  // Colour bars across the lower third, sliding one bar width every two seconds.
  int barCount = static_cast<int>(std::size(kBars));
  int barWidth = std::max(1, width_ / barCount);
  uint32_t travelled = number * static_cast<uint32_t>(barWidth) / 50;
  int offset = static_cast<int>(travelled % static_cast<uint32_t>(barWidth));
  int first = static_cast<int>(travelled / static_cast<uint32_t>(barWidth) %
                               static_cast<uint32_t>(barCount));
  for (int i = -1; i < barCount + 1; ++i) {
    int left = i * barWidth + offset;
    size_t colour = static_cast<size_t>((i - first + 2 * barCount) % barCount);
    fill(dc_, left, height_ * 2 / 3, left + barWidth, height_, kBars[colour]);
  }

  int ball = height_ / 8;
  int x = bounce(number * 7, width_ - ball);
  int y = bounce(number * 5, height_ * 2 / 3 - ball);
  SelectObject(dc_, GetStockObject(NULL_PEN));
  SelectObject(dc_, GetStockObject(DC_BRUSH));
  SetDCBrushColor(dc_, RGB(250, 220, 60));
  Ellipse(dc_, x, y, x + ball, y + ball);

  wchar_t text[128];
  int margin = width_ / 20;
  SelectObject(dc_, bigFont_);
  shadowText(dc_, margin, height_ / 6, channel.name);
  SelectObject(dc_, smallFont_);
  swprintf(text, 128, L"%d  %ls  %u.%02u MHz  %ls", position + 1, channel.label,
           channel.frequency / 1000000, channel.frequency / 10000 % 100,
           standardName(channel.standard));
  shadowText(dc_, margin, height_ / 6 + height_ / 7, text);
  swprintf(text, 128, L"frame %u", number);
  shadowText(dc_, margin, height_ / 6 + height_ / 7 + height_ / 12, text);
  GdiFlush();
}

size_t hostFrameBytes(int32_t format, int width, int height) {
  size_t perPixel = format == kvx::kHostFormatRgb24 ? 3 : 2;
  return perPixel * static_cast<size_t>(width) * static_cast<size_t>(height);
}

void toHostFormat(const uint32_t* picture, int width, int height, int32_t format, uint8_t* frame) {
  for (int row = 0; row < height; ++row) {
    const uint32_t* src = picture + static_cast<size_t>(row) * static_cast<size_t>(width);
    if (format == kvx::kHostFormatRgb24) {
      uint8_t* dst = frame + static_cast<size_t>(height - 1 - row) * static_cast<size_t>(width) * 3;
      for (int x = 0; x < width; ++x) {
        dst[3 * x] = static_cast<uint8_t>(src[x]);
        dst[3 * x + 1] = static_cast<uint8_t>(src[x] >> 8);
        dst[3 * x + 2] = static_cast<uint8_t>(src[x] >> 16);
      }
      continue;
    }
    uint8_t* dst = frame + static_cast<size_t>(row) * static_cast<size_t>(width) * 2;
    for (int x = 0; x + 1 < width; x += 2) {
      int r0 = src[x] >> 16 & 0xFF, g0 = src[x] >> 8 & 0xFF, b0 = src[x] & 0xFF;
      int r1 = src[x + 1] >> 16 & 0xFF, g1 = src[x + 1] >> 8 & 0xFF, b1 = src[x + 1] & 0xFF;
      int r = (r0 + r1 + 1) / 2, g = (g0 + g1 + 1) / 2, b = (b0 + b1 + 1) / 2;
      dst[2 * x] = static_cast<uint8_t>(lumaOf(r0, g0, b0));
      dst[2 * x + 1] = static_cast<uint8_t>(blueDiffOf(r, g, b));
      dst[2 * x + 2] = static_cast<uint8_t>(lumaOf(r1, g1, b1));
      dst[2 * x + 3] = static_cast<uint8_t>(redDiffOf(r, g, b));
    }
  }
}

void fromHostFormat(const uint8_t* frame, int width, int height, int32_t format,
                    uint32_t* picture) {
  for (int row = 0; row < height; ++row) {
    uint32_t* dst = picture + static_cast<size_t>(row) * static_cast<size_t>(width);
    if (format == kvx::kHostFormatRgb24) {
      const uint8_t* src =
          frame + static_cast<size_t>(height - 1 - row) * static_cast<size_t>(width) * 3;
      for (int x = 0; x < width; ++x)
        dst[x] = static_cast<uint32_t>(src[3 * x + 2]) << 16 |
                 static_cast<uint32_t>(src[3 * x + 1]) << 8 | src[3 * x];
      continue;
    }
    const uint8_t* src = frame + static_cast<size_t>(row) * static_cast<size_t>(width) * 2;
    for (int x = 0; x + 1 < width; x += 2) {
      dst[x] = rgbFromYuv(src[2 * x], src[2 * x + 1], src[2 * x + 3]);
      dst[x + 1] = rgbFromYuv(src[2 * x + 2], src[2 * x + 1], src[2 * x + 3]);
    }
  }
}

}  // namespace zhost
