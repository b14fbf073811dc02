#include "hooks/pip_rect.h"

namespace kvx {
namespace {

int32_t Clamped(int32_t pos, int32_t size) {
  int64_t p = pos < 0 ? 0 : pos;
  const int64_t limit = 1000 - 10 * int64_t{size};
  if (p > limit) {
    p = limit;
  }
  return SaturateToInt32(p);
}

}  // namespace

void ClampPipRect(PipSettings& s) {
  s.PiPWndPosX = Clamped(s.PiPWndPosX, s.PiPWndSize);
  s.PiPWndPosY = Clamped(s.PiPWndPosY, s.PiPWndSize);
}

void ResizePipRect(PipSettings& s, int32_t newSize) {
  const int64_t shift = 5 * (int64_t{s.PiPWndSize} - newSize);
  s.PiPWndPosX = SaturateToInt32(s.PiPWndPosX + shift);
  s.PiPWndPosY = SaturateToInt32(s.PiPWndPosY + shift);
  s.PiPWndSize = newSize;
  ClampPipRect(s);
}

}  // namespace kvx
