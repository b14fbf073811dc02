// The drawing half of Frame: puts the buffered PiP frame into the host's frame.
//
// Threads: ConfigureHostFrame runs on the host's thread that calls Start; SetHostPixels and
// DrawPipFrame on the thread that calls Frame.
#pragma once

#include <cstdint>

#include "settings/pip_settings.h"

namespace kvx {

// A frame handed out by the frame buffer; valid for the length of one frame step.
struct PipFrame {
  const uint8_t* pixels;
  int32_t width;
  int32_t height;
  int32_t format;  // BufferFormat
};

// Size and pixel format of every host frame until the next Start.
void ConfigureHostFrame(int32_t width, int32_t height, int32_t format);
void SetHostPixels(uint8_t* pixels);
void DrawPipFrame(const PipFrame& frame, const PipSettings& settings);

}  // namespace kvx
