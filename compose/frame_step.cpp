#include "compose/frame_step.h"

#include <limits>

#include "plugin/host_records.h"
#include "base/mul_div.h"

namespace kvx {
namespace {

constexpr int32_t kBorderWidth = 3;

bool Fits(int64_t v) {
  return v >= std::numeric_limits<int32_t>::min() && v <= std::numeric_limits<int32_t>::max();
}

bool MakeRect(int64_t left, int64_t top, int64_t right, int64_t bottom, Rect* out) {
  if (!Fits(left) || !Fits(top) || !Fits(right) || !Fits(bottom)) {
    return false;
  }
  *out = Rect{static_cast<int32_t>(left), static_cast<int32_t>(top), static_cast<int32_t>(right),
              static_cast<int32_t>(bottom)};
  return true;
}

int32_t SourceLayout(int32_t bufferFormat, bool topDown) {
  switch (bufferFormat) {
    case 0:
      return kLayoutYuy2;
    case 1:
      return kLayoutUyvy;
    case 2:
      return topDown ? kLayoutRgb24TopDown : kLayoutRgb24;
    default:
      return -1;
  }
}

}  // namespace

bool PlacePip(const PipSettings& s, int32_t frameWidth, int32_t frameHeight, int32_t hostWidth,
              int32_t hostHeight, PipPlacement* placement) {
  // The centred crop that zooms the picture by PiPImgSize percent.
  const int64_t cw = MulDiv(frameWidth, 100, s.PiPImgSize);
  const int64_t ch = MulDiv(frameHeight, 100, s.PiPImgSize);
  const int64_t cropLeft = (frameWidth - cw) / 2;
  const int64_t cropTop = (frameHeight - ch) / 2;
  // The PiP rectangle: position in thousandths, size in percent of the host frame.
  const int64_t left = MulDiv(s.PiPWndPosX, hostWidth, 1000);
  const int64_t top = MulDiv(s.PiPWndPosY, hostHeight, 1000);
  const int64_t right = left + MulDiv(s.PiPWndSize, hostWidth, 100);
  const int64_t bottom = top + MulDiv(s.PiPWndSize, hostHeight, 100);
  const int64_t inset = s.BorderEnable != 0 ? kBorderWidth : 0;
  return MakeRect(cropLeft, cropTop, cropLeft + cw, cropTop + ch, &placement->crop) &&
         MakeRect(left, top, right, bottom, &placement->window) &&
         MakeRect(left + inset, top + inset, right - inset, bottom - inset, &placement->picture);
}

void FrameStep::Draw(const PipFrame& frame, const PipSettings& settings) {
  const int32_t srcLayout = SourceLayout(frame.format, frame.topDown);
  if (!surface_.Usable() || srcLayout < 0) {
    return;
  }
  PipPlacement at;
  if (!PlacePip(settings, frame.width, frame.height, surface_.width(), surface_.height(), &at)) {
    return;
  }
  const uint32_t opacity = settings.Opacity;
  const int32_t dstLayout = surface_.format() == kHostFormatYuy2 ? kLayoutYuy2 : kLayoutRgb24;
  compositor_.Compose(frame.pixels, frame.width, frame.height, at.crop, srcLayout,
                      surface_.pixels(), surface_.width(), surface_.height(), at.picture, dstLayout,
                      static_cast<int32_t>(opacity));
  if (settings.BorderEnable != 0) {
    // Also when the picture lay wholly outside the frame.
    surface_.DrawFrame(at.picture, -kBorderWidth, settings.BorderColor, opacity);
  }
}

void FrameStep::DrawBlue(int32_t format, const PipSettings& settings) {
  // A frame of one colour scales to the same colour whatever its size: two by two pixels give
  // the bytes a whole blue store would.
  static constexpr uint8_t kBlue[3][12] = {
      {0x1B, 0xE8, 0x1B, 0x65, 0x1B, 0xE8, 0x1B, 0x65},
      {0xE8, 0x1B, 0x65, 0x1B, 0xE8, 0x1B, 0x65, 0x1B},
      {0xE0, 0x00, 0x00, 0xE0, 0x00, 0x00, 0xE0, 0x00, 0x00, 0xE0, 0x00, 0x00},
  };
  if (format < 0 || format > 2) {
    return;
  }
  Draw(PipFrame{kBlue[format], 2, 2, format, false}, settings);
}

FrameStep& TheFrameStep() {
  static FrameStep step;
  return step;
}

}  // namespace kvx
