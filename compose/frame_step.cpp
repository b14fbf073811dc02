#include "compose/frame_step.h"

namespace kvx {
namespace {

struct HostFrameView {
  int32_t width = 0;
  int32_t height = 0;
  int32_t format = -1;
  uint8_t* pixels = nullptr;
};

HostFrameView g_host;

}  // namespace

void ConfigureHostFrame(int32_t width, int32_t height, int32_t format) {
  g_host.width = width;
  g_host.height = height;
  g_host.format = format;
}

void SetHostPixels(uint8_t* pixels) {
  g_host.pixels = pixels;
}

void DrawPipFrame(const PipFrame&, const PipSettings&) {
  // The compositor is not written yet: the host frame is left as it is.
}

}  // namespace kvx
