// The drawing half of Frame: puts the buffered PiP frame into the host's frame at the rectangle
// the settings give, with its zoom crop, opacity and 3-pixel border.
//
// Threads: ConfigureHostFrame runs on the host's thread that calls Start; SetHostPixels and
// DrawPipFrame on the thread that calls Frame. The settings are read without a lock.
#pragma once

#include <cstdint>

#include "compose/compositor.h"
#include "compose/host_surface.h"
#include "settings/pip_settings.h"

namespace kvx {

// A frame handed out by the frame buffer; valid for the length of one frame step.
struct PipFrame {
  const uint8_t* pixels;
  int32_t width;
  int32_t height;
  int32_t format;  // BufferFormat: 0 YUY2, 1 UYVY, 2 RGB24
  bool topDown;    // an RGB24 frame's top row comes first; 4:2:2 rows always do
};

// Where a frame step draws, from the settings and the two frames' sizes.
struct PipPlacement {
  Rect crop;     // of the buffered frame
  Rect window;   // the PiP rectangle in the host frame
  Rect picture;  // the window less the border
};

// False when the rectangle's edges do not fit in 32 bits; nothing is drawn then.
bool PlacePip(const PipSettings& settings, int32_t frameWidth, int32_t frameHeight,
              int32_t hostWidth, int32_t hostHeight, PipPlacement* placement);

class FrameStep {
 public:
  void Configure(int32_t width, int32_t height, int32_t format) {
    surface_.Configure(format, width, height);
  }
  void SetHostPixels(uint8_t* pixels) { surface_.SetPixels(pixels); }
  void Draw(const PipFrame& frame, const PipSettings& settings);
  // The blue picture a new frame store of this BufferFormat holds before its first sample, where
  // a frame of the store would be drawn: the PiP card is away or its stream has stalled.
  void DrawBlue(int32_t format, const PipSettings& settings);

  Compositor& compositor() { return compositor_; }

 private:
  HostSurface surface_;
  Compositor compositor_;
};

// The plug-in's one frame step.
FrameStep& TheFrameStep();
inline void ConfigureHostFrame(int32_t width, int32_t height, int32_t format) {
  TheFrameStep().Configure(width, height, format);
}
inline void SetHostPixels(uint8_t* pixels) {
  TheFrameStep().SetHostPixels(pixels);
}
inline void DrawPipFrame(const PipFrame& frame, const PipSettings& settings) {
  TheFrameStep().Draw(frame, settings);
}
inline void DrawBluePip(int32_t format, const PipSettings& settings) {
  TheFrameStep().DrawBlue(format, settings);
}

}  // namespace kvx
