// What the mouse hook decides for each mouse message of the host's user-interface thread:
// dragging the PiP rectangle over the host's video window, and the double-click that swaps the
// main picture and the PiP. Portable; hooks/hooks.cpp turns the outcome into calls.
//
// Threads: the host's user-interface thread, the one whose messages the hook watches. The drag
// state is touched there alone; PiPWndPosX and PiPWndPosY are written without a lock.
#pragma once

#include <cstdint>

#include "settings/pip_settings.h"

namespace kvx {

// Host frames keep arriving: fewer than 500 ms since the last one, in wrapping tick arithmetic.
inline bool FramesArriving(uint32_t now, uint32_t lastFrameTick) {
  return now - lastFrameTick < 500;
}

enum class MouseMessage { kLeftDown, kLeftUp, kMove, kOther };

struct MouseEvent {
  MouseMessage message;
  // Frames arriving, the graph running and the message meant for the video window.
  bool gateOpen;
  int32_t x;  // in the video window's client area
  int32_t y;
  int32_t width;  // of that client area
  int32_t height;
  uint32_t tick;
  uint32_t doubleClickTime;
};

struct MouseOutcome {
  bool swallow = false;          // the host's window never sees the message
  bool capture = false;          // capture the mouse for the video window
  bool releaseCapture = false;   // a drag ended
  bool swap = false;             // SwapChannels
  bool positionChanged = false;  // tell an open settings dialog (X, then Y)
};

class MouseDrag {
 public:
  MouseOutcome Handle(const MouseEvent& event, PipSettings& settings);
  // The hook is going away: a drag in progress ends; true when the capture must be released.
  bool Abandon();
  bool dragging() const { return dragging_; }

 private:
  bool dragging_ = false;
  int32_t startPosX_ = 0;
  int32_t startPosY_ = 0;
  int32_t startX_ = 0;
  int32_t startY_ = 0;
  uint32_t lastReleaseTick_ = 0;
};

}  // namespace kvx
