// The compositor's inner loops. Every instruction-set level provides the same kernels with the
// same signatures and gives the same bytes; the scalar ones are written straight from the rules
// and serve as the reference.
//
// Threads: called only by Compose, on the frame step's thread.
#pragma once

#include <cstdint>

#include "compose/scale_table.h"

namespace kvx {

// The row pass: interpolates `count` pairs (4:2:2 sources) or pixels (RGB24 sources) between
// row0 and row1 with weight/4096 and writes 4-byte intermediate pixels into line from element 0.
// For a YUY2 destination an intermediate pixel is Y U Y V; for RGB24 it is B G R X.
using RowKernel = void (*)(const uint8_t* row0, const uint8_t* row1, uint32_t weight, int32_t count,
                           uint8_t* line);

// Column tables end with this many zero steps (no advance, no weight), so vector kernels may run
// a whole group past the last pixel and keep only what belongs to the row.
inline constexpr int32_t kTablePadding = 8;

// The column table in the forms the kernels read: the steps, which the reference kernels walk;
// each step's first-sample offset in bytes from the line's start, which lets vector kernels load
// every sample independently; and each step's weight lanes back to back, four (for all of a
// sample's bytes) or two (for the two a YUY2 pixel owns), so a vector kernel loads the weights of
// several steps at once. All end with kTablePadding padding entries.
struct ColumnTable {
  const ScaleStep* steps;
  const int32_t* offsets;
  const uint16_t* weights;      // 4 per step
  const uint16_t* pairWeights;  // 2 per step
  // 3 a step for RGB24 pixels (B G R), eight steps a group in the order steps 0-1, 4-5, 2-3,
  // 6-7, each pair padded to 8 lanes.
  const uint16_t* rgbWeights;
  // Byte-shuffle masks that take a group's samples, pair by pair, from 16 bytes read at each
  // pair's first offset (see Compositor): 128 bytes a group, for RGB24 pixels and for YUY2 ones
  // (64 for each parity of the first pixel). Null when some pair's samples lie further apart
  // than 16 bytes, as in strong reductions.
  const uint8_t* rgbShuffles;
  const uint8_t* yuy2Shuffles;
};

// The column pass: produces `count` destination pixels from the intermediate pixels at line
// along the column table. YUY2 destinations start at a pixel whose parity is `odd`; the blending
// kernels weigh the new value by alpha/256 against the destination.
using ColumnKernel = void (*)(const uint8_t* line, const ColumnTable& table, int32_t count,
                              uint8_t* dst, bool odd, uint32_t alpha);

// Blends `bytes` source bytes over the destination's, weighing the new value by alpha/256: the
// rows that need neither scaling nor conversion skip the row and column passes.
using RunKernel = void (*)(const uint8_t* src, uint8_t* dst, int32_t bytes, uint32_t alpha);

// Row kernels by source layout and destination, column kernels by destination and mode.
struct KernelSet {
  RowKernel yuy2ToYuy2;
  RowKernel uyvyToYuy2;
  RowKernel rgbToYuy2;
  RowKernel yuy2ToRgb;
  RowKernel uyvyToRgb;
  RowKernel rgbToRgb;
  ColumnKernel copyYuy2;
  ColumnKernel blendYuy2;
  ColumnKernel copyRgb;
  ColumnKernel blendRgb;
  RunKernel blendRun;
};

// In order: a CPU with one level has every level before it.
enum class Isa { kScalar, kSse2, kSsse3, kAvx2 };

const KernelSet& ScalarKernels();
const KernelSet& Sse2Kernels();   // x86 only
const KernelSet& Ssse3Kernels();  // x86 only
const KernelSet& Avx2Kernels();   // x86 only

// The best level this CPU supports, detected once.
Isa DetectIsa();
const KernelSet& KernelsFor(Isa isa);

}  // namespace kvx
