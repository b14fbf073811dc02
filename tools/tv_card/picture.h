// The pictures the virtual card shows: a station's colour with its frequency in large digits,
// colour bars on the composite input, a grey ramp on S-Video, snow where nothing is received,
// black when the decoder has no input. Every picture but snow carries a square that moves with
// the frame number, so motion is visible.
//
// Plain functions on caller-owned memory; any thread.
#pragma once

#include <cstdint>
#include <vector>

namespace tvcard {

enum class SceneKind { kStation, kSnow, kColourBars, kGradient, kBlack };

struct Scene {
  SceneKind kind;
  uint32_t frequency;  // Hz; what a station shows
};

// NV12 and I420: a Y plane, then the chroma of each 2x2 block (interleaved, or U then V). MJPG is
// listed, never drawn.
enum class PixelFormat { kYuy2, kUyvy, kRgb24, kNv12, kI420, kMjpg };

struct FrameLayout {
  PixelFormat format;
  int width;  // even
  int height;
  bool topDown = false;  // RGB24 only: the top row first, as a negative biHeight says
};

// Whether a station transmits on this vision carrier: every channel of the OIRT, CCIR and US
// analog plans does.
bool IsStation(uint32_t hz);
// The station's background, 0x00RRGGBB; a different colour for every carrier.
uint32_t StationColour(uint32_t hz);

// Bytes of one frame: YUY2 and UYVY top row first, RGB24 bottom row first unless topDown, rows
// unpadded; 4:2:0 frames 12 bits a pixel; MJPG the most a frame may take.
size_t FrameBytes(const FrameLayout& layout);

// Draws frame `number` of the scene into out (FrameBytes bytes). canvas is scratch memory the
// caller keeps between frames.
void DrawFrame(const Scene& scene, uint32_t number, const FrameLayout& layout, uint8_t* out,
               std::vector<uint32_t>& canvas);

}  // namespace tvcard
