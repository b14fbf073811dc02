#include "compose/scale_table.h"

namespace kvx {

void BuildScaleTable(ScaleStep* table, int32_t a, int32_t b, int32_t c, int32_t n, int32_t d) {
  // Positions are unsigned 16.16 fixed point.
  int64_t bias = (int64_t{a} * 65536 / b) / 2 - 32768;
  if (a < b) {
    a -= 1;
    b -= 1;
    bias = 0;
  }
  int64_t prev = 0;
  for (int32_t k = 0; k < n; ++k) {
    const uint32_t quotient = static_cast<uint32_t>((int64_t{c} + k) * a * 65536 / b);
    const uint32_t pos = quotient + static_cast<uint32_t>(bias);
    const int64_t i = pos >> 16;
    const uint16_t f = static_cast<uint16_t>((pos & 0xFFFF) >> 4);
    ScaleStep& step = table[k];
    step.advance = static_cast<int32_t>((i - prev) * d);
    step.next = f != 0 ? d : 0;
    step.weight[0] = step.weight[1] = step.weight[2] = step.weight[3] = f;
    prev = f != 0 ? i + 1 : i;
  }
}

}  // namespace kvx
