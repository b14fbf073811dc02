// Windows MulDiv for the portable code: every geometry computation rounds exactly this way.
#pragma once

#include <cstdint>

namespace kvx {

// a * b / c with a 64-bit product, rounded to the nearest integer with halves away from zero.
// -1 when c is 0 or the result does not fit in 32 bits (as the system's MulDiv answers, which
// also gives -1 for a result of -2^31).
int32_t MulDiv(int32_t a, int32_t b, int32_t c);

// The same rounding in 64 bits, for hand-edited extremes that must not overflow: a and b may be
// any values whose product fits in 63 bits. 0 when c is 0.
int64_t MulDiv64(int64_t a, int64_t b, int64_t c);
// A value computed in 64 bits, brought back into 32 by clamping to the int32 range.
int32_t SaturateToInt32(int64_t value);

}  // namespace kvx
