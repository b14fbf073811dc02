// Test frames for the compositor: seeded random pictures in an exact-size allocation, so that
// AddressSanitizer reports a read or write one byte past either end.
#pragma once

#include <cstdint>
#include <random>
#include <vector>

#include "compose/geometry.h"

namespace kvx::testing {

inline size_t FrameBytes(int32_t layout, int32_t width, int32_t height) {
  return static_cast<size_t>(BytesPerPixel(layout)) * width * height;
}

inline std::vector<uint8_t> RandomFrame(std::mt19937& rng, size_t bytes) {
  std::vector<uint8_t> v(bytes);
  for (auto& b : v) {
    b = static_cast<uint8_t>(rng());
  }
  return v;
}

}  // namespace kvx::testing
