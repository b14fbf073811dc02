// Draws a crop of one packed-pixel frame into a rectangle of another: bilinear scaling in 12-bit
// fixed point, YUV 4:2:2 <-> RGB24 conversion, and blending with an opacity.
//
// Threads: one Compositor belongs to the frame step and is used only on the thread that calls
// Frame. The source may be overwritten by the capture thread meanwhile; the picture then mixes
// two frames, with no other effect.
#pragma once

#include <cstddef>
#include <cstdint>

#include "compose/geometry.h"
#include "compose/kernels.h"
#include "compose/scale_table.h"

namespace kvx {

// A 16-byte aligned array, reallocated only when the count it must hold changes.
template <class T>
class AlignedArray {
 public:
  AlignedArray() = default;
  ~AlignedArray() { Free(); }
  AlignedArray(const AlignedArray&) = delete;
  AlignedArray& operator=(const AlignedArray&) = delete;

  // False when the memory cannot be had; the array is then empty.
  bool Resize(int32_t count);
  T* data() const { return data_; }
  int32_t count() const { return count_; }

 private:
  void Free();
  T* data_ = nullptr;
  int32_t count_ = 0;
};

class Compositor {
 public:
  // srcRect and dstRect are {left, top, right, bottom} with right and bottom exclusive; the
  // unclipped dstRect is the scaling reference. Only dst inside dstRect (clipped) changes.
  // Opacity is in percent; values above 100 (as unsigned) count as 100.
  void Compose(const uint8_t* srcPixels, int32_t srcWidth, int32_t srcHeight, Rect srcRect,
               int32_t srcLayout, uint8_t* dstPixels, int32_t dstWidth, int32_t dstHeight,
               Rect dstRect, int32_t dstLayout, int32_t opacity);

  // The instruction-set level of the inner loops; the best one the CPU has, unless set.
  void SetIsa(Isa isa) { kernels_ = &KernelsFor(isa); }
  // Tests compare the rows copied straight from the source with the same rows drawn through the
  // row and column passes.
  void SetShortcutsForTesting(bool use) { shortcuts_ = use; }

  // For tests: the tables as last built.
  const ScaleStep* columnTable() const { return columnTable_.data(); }
  const ScaleStep* rowTable() const { return rowTable_.data(); }
  const uint8_t* lineBuffer() const { return lineBuffer_.data(); }
  // Tests make the next allocations fail.
  static void FailAllocationsForTesting(bool fail);

 private:
  struct TableParams {
    int32_t source = 0;
    int32_t destination = 0;
    int32_t first = 0;
    int32_t count = 0;
    int32_t step = 0;
    bool operator==(const TableParams&) const = default;
  };
  // The column table's forms beyond the steps (see ColumnTable).
  struct ColumnForms {
    AlignedArray<int32_t> offsets;
    AlignedArray<uint16_t> weights;
    AlignedArray<uint16_t> pairWeights;
    AlignedArray<uint16_t> rgbWeights;
    AlignedArray<uint8_t> rgbShuffles;
    AlignedArray<uint8_t> yuy2Shuffles;
    bool windows = false;  // the shuffles fit every pair
  };
  // Sizes the table for `wanted` and rebuilds it when the parameters changed, with the column
  // forms when given. False without memory.
  static bool Refresh(AlignedArray<ScaleStep>& table, TableParams& params,
                      const TableParams& wanted, ColumnForms* forms);

  const KernelSet* kernels_ = &KernelsFor(DetectIsa());
  bool shortcuts_ = true;
  AlignedArray<ScaleStep> columnTable_;
  ColumnForms columnForms_;
  TableParams columnParams_;
  // The column table maps the crop's columns one to one: no weights, one element a step.
  bool columnIdentity_ = false;
  AlignedArray<ScaleStep> rowTable_;
  TableParams rowParams_;
  AlignedArray<uint8_t> lineBuffer_;
};

}  // namespace kvx
