#include "hooks/mouse_drag.h"

#include "hooks/pip_rect.h"

namespace kvx {

MouseOutcome MouseDrag::Handle(const MouseEvent& e, PipSettings& s) {
  MouseOutcome out;
  if (e.message == MouseMessage::kLeftUp && dragging_) {
    // Whatever the gate says: the mouse is never left captured by a window whose frames have
    // stopped. Only with the gate open does a release count towards a double-click.
    dragging_ = false;
    out.releaseCapture = true;
    if (!e.gateOpen) {
      return out;
    }
    if (e.tick - lastReleaseTick_ < e.doubleClickTime) {
      out.swap = true;
      out.swallow = true;
    } else {
      lastReleaseTick_ = e.tick;
    }
    return out;
  }
  if (!e.gateOpen || e.width <= 0 || e.height <= 0) {
    return out;
  }
  if (e.message == MouseMessage::kLeftDown) {
    const int64_t left = MulDiv64(s.PiPWndPosX, e.width, 1000);
    const int64_t top = MulDiv64(s.PiPWndPosY, e.height, 1000);
    const int64_t right = left + MulDiv64(s.PiPWndSize, e.width, 100);
    const int64_t bottom = top + MulDiv64(s.PiPWndSize, e.height, 100);
    if (e.x >= left && e.x < right && e.y >= top && e.y < bottom) {
      dragging_ = true;
      startPosX_ = s.PiPWndPosX;
      startPosY_ = s.PiPWndPosY;
      startX_ = e.x;
      startY_ = e.y;
      out.capture = true;
      out.swallow = true;
    }
  } else if (e.message == MouseMessage::kMove && dragging_) {
    s.PiPWndPosX = SaturateToInt32(startPosX_ + MulDiv64(int64_t{e.x} - startX_, 1000, e.width));
    s.PiPWndPosY = SaturateToInt32(startPosY_ + MulDiv64(int64_t{e.y} - startY_, 1000, e.height));
    ClampPipRect(s);
    out.positionChanged = true;
    out.swallow = true;
  }
  return out;
}

bool MouseDrag::Abandon() {
  const bool was = dragging_;
  dragging_ = false;
  return was;
}

}  // namespace kvx
