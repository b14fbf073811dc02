// Bilinear scale tables: one step per visible destination pixel (or row).
#pragma once

#include <cstdint>

namespace kvx {

struct ScaleStep {
  int32_t advance;     // bytes to move the read position before the first sample
  int32_t next;        // bytes from the first sample to the second; 0 when weight is 0
  uint16_t weight[4];  // weight of the second sample in 1/4096, the same in all four lanes
};
static_assert(sizeof(ScaleStep) == 16);

// a = source length, b = destination length, c = first destination index within b,
// n = entries to write, d = bytes per source step. a, b and n are positive and c + n <= b.
// Reduction aligns pixel centres; enlargement makes the first and last pixels coincide.
// Neither reads beyond source index a - 1.
void BuildScaleTable(ScaleStep* table, int32_t a, int32_t b, int32_t c, int32_t n, int32_t d);

}  // namespace kvx
