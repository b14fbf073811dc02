#include "compose/compositor.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <new>

namespace kvx {
namespace {

void Prefetch(const uint8_t* p, size_t bytes) {
  for (size_t at = 0; at < bytes; at += 64) {
    __builtin_prefetch(p + at);
  }
}

constexpr std::align_val_t kWorkAlignment{16};
std::atomic<bool> g_failAllocations{false};

// For each group of eight steps, the byte-shuffle masks with which the AVX2 column kernels take
// the samples out of 16 bytes read at the first offset of each pair (the pairs 0-1 | 4-5 and
// 2-3 | 6-7). The RGB24 masks widen both steps' B G R of their first, then their second samples
// to 16-bit lanes; the YUY2 masks, one set for each parity of the row's first pixel, the two bytes
// each pixel owns of its first and second samples. False when some pair's samples end beyond
// those 16 bytes.
bool BuildWindowMasks(const ScaleStep* steps, const int32_t* offsets, int32_t entries, uint8_t* rgb,
                      uint8_t* yuy2) {
  std::memset(rgb, 0x80, 16 * static_cast<size_t>(entries));
  std::memset(yuy2, 0x80, 16 * static_cast<size_t>(entries));
  constexpr int kPairs[4] = {0, 4, 2, 6};  // the pairs in the kernels' order of halves
  for (int32_t group = 0; group + 8 <= entries; group += 8) {
    for (int half = 0; half < 4; ++half) {
      const int32_t a = group + kPairs[half];
      const size_t place = 16 * static_cast<size_t>(group) + 16 * (half % 2);
      uint8_t* rgbFirst = rgb + place + 64 * (half / 2);
      for (int i = 0; i < 2; ++i) {
        const int32_t at = offsets[a + i] - offsets[a];
        const int32_t next = steps[a + i].next;
        if (at < 0 || next < 0 || at + next + 4 > 16) {
          return false;
        }
        for (int c = 0; c < 3; ++c) {
          rgbFirst[6 * i + 2 * c] = static_cast<uint8_t>(at + c);
          rgbFirst[32 + 6 * i + 2 * c] = static_cast<uint8_t>(at + next + c);
        }
        for (int parity = 0; parity < 2; ++parity) {
          uint8_t* lanes = yuy2 + place + 64 * parity + 32 * (half / 2);
          const int owned = 2 * ((kPairs[half] + i + parity) & 1);
          for (int c = 0; c < 2; ++c) {
            lanes[4 * i + 2 * c] = static_cast<uint8_t>(at + owned + c);
            lanes[8 + 4 * i + 2 * c] = static_cast<uint8_t>(at + next + owned + c);
          }
        }
      }
    }
  }
  return true;
}

}  // namespace

template <class T>
bool AlignedArray<T>::Resize(int32_t count) {
  if (count == count_ && data_ != nullptr) {
    return true;
  }
  Free();
  if (count <= 0 || g_failAllocations.load(std::memory_order_relaxed)) {
    return false;
  }
  const size_t bytes = sizeof(T) * static_cast<size_t>(count);
  void* memory = ::operator new[](bytes, kWorkAlignment, std::nothrow);
  if (memory == nullptr) {
    return false;
  }
  // Vector loads may touch an element whose weight is zero; keep it defined.
  std::memset(memory, 0, bytes);
  data_ = static_cast<T*>(memory);
  count_ = count;
  return true;
}

template <class T>
void AlignedArray<T>::Free() {
  if (data_ != nullptr) {
    ::operator delete[](data_, kWorkAlignment);
  }
  data_ = nullptr;
  count_ = 0;
}

template class AlignedArray<uint8_t>;
template class AlignedArray<uint16_t>;
template class AlignedArray<int32_t>;
template class AlignedArray<ScaleStep>;

void Compositor::FailAllocationsForTesting(bool fail) {
  g_failAllocations.store(fail, std::memory_order_relaxed);
}

bool Compositor::Refresh(AlignedArray<ScaleStep>& table, TableParams& params,
                         const TableParams& wanted, ColumnForms* forms) {
  const int32_t entries = wanted.count + kTablePadding;
  if (!table.Resize(entries) ||
      (forms != nullptr &&
       (!forms->offsets.Resize(entries) || !forms->weights.Resize(4 * entries) ||
        !forms->pairWeights.Resize(2 * entries) || !forms->rgbWeights.Resize(4 * entries) ||
        !forms->rgbShuffles.Resize(16 * entries) || !forms->yuy2Shuffles.Resize(16 * entries)))) {
    params = TableParams{};
    return false;
  }
  if (params == wanted) {
    return true;
  }
  params = wanted;
  BuildScaleTable(table.data(), wanted.source, wanted.destination, wanted.first, wanted.count,
                  wanted.step);
  if (forms != nullptr) {
    // The padding steps stay zero: no advance, no weight.
    int32_t pos = 0;
    for (int32_t k = 0; k < entries; ++k) {
      const ScaleStep& step = table.data()[k];
      pos += step.advance;
      forms->offsets.data()[k] = pos;
      pos += step.next;
      std::memcpy(forms->weights.data() + 4 * k, step.weight, 4 * sizeof(uint16_t));
      std::memcpy(forms->pairWeights.data() + 2 * k, step.weight, 2 * sizeof(uint16_t));
    }
    // Groups of eight steps, whole groups only (the padding covers the last one's rest).
    constexpr int kPairAt[8] = {0, 0, 16, 16, 8, 8, 24, 24};  // where a step's pair starts
    uint16_t* rgb = forms->rgbWeights.data();
    std::memset(rgb, 0, sizeof(uint16_t) * 4 * static_cast<size_t>(entries));
    for (int32_t k = 0; k + 8 <= entries; ++k) {
      uint16_t* lanes = rgb + 32 * (k / 8) + kPairAt[k % 8] + 3 * (k % 2);
      lanes[0] = lanes[1] = lanes[2] = table.data()[k].weight[0];
    }
    forms->windows = BuildWindowMasks(table.data(), forms->offsets.data(), entries,
                                      forms->rgbShuffles.data(), forms->yuy2Shuffles.data());
  }
  return true;
}

void Compositor::Compose(const uint8_t* srcPixels, int32_t srcWidth, int32_t srcHeight,
                         Rect srcRect, int32_t srcLayout, uint8_t* dstPixels, int32_t dstWidth,
                         int32_t dstHeight, Rect dstRect, int32_t dstLayout, int32_t opacity) {
  if (srcPixels == nullptr || dstPixels == nullptr || !IsKnownLayout(srcLayout) ||
      (dstLayout != kLayoutYuy2 && dstLayout != kLayoutRgb24)) {
    return;
  }
  // A 4:2:2 row holds whole pixel pairs only; a lone last pixel has no chroma of its own.
  const int32_t pairedWidth = IsPacked422(srcLayout) ? (srcWidth & ~1) : srcWidth;
  Rect crop;
  Rect clip;
  if (!IntersectRect(&crop, srcRect, Rect{0, 0, pairedWidth, srcHeight}) ||
      !IntersectRect(&clip, dstRect, Rect{0, 0, dstWidth, dstHeight})) {
    return;
  }
  // A rectangle too large to measure in 32 bits has no scale to draw at.
  if (dstRect.Width() > INT32_MAX || dstRect.Height() > INT32_MAX) {
    return;
  }
  const uint32_t percent = std::min(static_cast<uint32_t>(opacity), 100u);
  if (percent == 0) {
    return;  // blending with weight 0 leaves every byte as it is
  }
  const auto cropWidth = static_cast<int32_t>(crop.Width());
  const auto cropHeight = static_cast<int32_t>(crop.Height());
  const auto clipWidth = static_cast<int32_t>(clip.Width());
  const auto clipHeight = static_cast<int32_t>(clip.Height());
  const ptrdiff_t srcStride = RowStride(srcLayout, srcWidth);
  const ptrdiff_t dstStride = RowStride(dstLayout, dstWidth);

  const TableParams columnsBefore = columnParams_;
  // Two spare elements for the row kernels, and 16 bytes for the column kernels' windows.
  if (!lineBuffer_.Resize((cropWidth + 2) * 4 + 16) ||
      !Refresh(rowTable_, rowParams_,
               {cropHeight, static_cast<int32_t>(dstRect.Height()), clip.top - dstRect.top,
                clipHeight, static_cast<int32_t>(srcStride)},
               nullptr) ||
      !Refresh(columnTable_, columnParams_,
               {cropWidth, static_cast<int32_t>(dstRect.Width()), clip.left - dstRect.left,
                clipWidth, 4},
               &columnForms_)) {
    return;  // nothing is drawn without work buffers
  }
  if (!(columnsBefore == columnParams_)) {
    columnIdentity_ = true;
    for (int32_t k = 0; k < clipWidth && columnIdentity_; ++k) {
      columnIdentity_ = columnTable_.data()[k].weight[0] == 0 &&
                        columnForms_.offsets.data()[k] == columnForms_.offsets.data()[0] + 4 * k;
    }
  }

  const KernelSet& k = *kernels_;
  const bool rgbOut = dstLayout == kLayoutRgb24;
  RowKernel row;
  switch (srcLayout) {
    case kLayoutYuy2:
      row = rgbOut ? k.yuy2ToRgb : k.yuy2ToYuy2;
      break;
    case kLayoutUyvy:
      row = rgbOut ? k.uyvyToRgb : k.uyvyToYuy2;
      break;
    default:
      row = rgbOut ? k.rgbToRgb : k.rgbToYuy2;
      break;
  }
  const bool copy = percent == 100;
  const ColumnKernel column =
      rgbOut ? (copy ? k.copyRgb : k.blendRgb) : (copy ? k.copyYuy2 : k.blendYuy2);
  const uint32_t alpha = percent * 256 / 100;

  // 4:2:2 sources are read in whole pairs; element 0 of the column pass is the crop's left pixel.
  int32_t spanStart = crop.left;
  int32_t spanCount = cropWidth;
  int32_t columnStart = 0;
  if (IsPacked422(srcLayout)) {
    spanStart = crop.left & ~1;
    spanCount = (((crop.right + 1) & ~1) - spanStart) / 2;
    columnStart = crop.left & 1;
  }

  const uint8_t* src = RowZero(const_cast<uint8_t*>(srcPixels), srcLayout, srcWidth, srcHeight) +
                       crop.top * srcStride + ptrdiff_t{spanStart} * BytesPerPixel(srcLayout);
  uint8_t* dst = RowZero(dstPixels, dstLayout, dstWidth, dstHeight) + clip.top * dstStride +
                 ptrdiff_t{clip.left} * BytesPerPixel(dstLayout);
  uint8_t* line = lineBuffer_.data();
  const ScaleStep* rows = rowTable_.data();
  const ColumnTable columns{columnTable_.data(),
                            columnForms_.offsets.data(),
                            columnForms_.weights.data(),
                            columnForms_.pairWeights.data(),
                            columnForms_.rgbWeights.data(),
                            columnForms_.windows ? columnForms_.rgbShuffles.data() : nullptr,
                            columnForms_.windows ? columnForms_.yuy2Shuffles.data() : nullptr};
  const bool oddStart = (clip.left & 1) != 0;
  // A row read without weight into a column table that maps one to one, in the host's own
  // layout, is the source's bytes themselves: copied or blended straight, when a 4:2:2 row's
  // pixels keep their parity (each owns the same chroma byte in both).
  const int32_t firstPixel = spanStart + columnStart + columns.offsets[0] / 4;
  const bool sameBytes = srcLayout == dstLayout || (IsRgb24(srcLayout) && IsRgb24(dstLayout));
  const bool direct = shortcuts_ && columnIdentity_ && sameBytes &&
                      (IsRgb24(dstLayout) || ((firstPixel ^ clip.left) & 1) == 0);
  const ptrdiff_t directFrom = ptrdiff_t{firstPixel - spanStart} * BytesPerPixel(srcLayout);
  const int32_t directBytes = clipWidth * BytesPerPixel(dstLayout);
  const size_t spanBytes = static_cast<size_t>(spanCount) * (IsPacked422(srcLayout) ? 4 : 3);
  for (int32_t r = 0; r < clipHeight; ++r) {
    const ScaleStep& e = rows[r];
    src += e.advance;
    if (r + 1 < clipHeight) {
      // The host's frame and the card's arrive from other cores or from memory: the next row's
      // bytes are asked for while this one is worked on.
      const uint8_t* next = src + e.next + rows[r + 1].advance;
      Prefetch(next, spanBytes);
      Prefetch(next + rows[r + 1].next, spanBytes);
      Prefetch(dst + dstStride, static_cast<size_t>(directBytes));
    }
    if (direct && e.weight[0] == 0) {
      if (copy) {
        std::memcpy(dst, src + directFrom, static_cast<size_t>(directBytes));
      } else {
        k.blendRun(src + directFrom, dst, directBytes, alpha);
      }
    } else {
      row(src, src + e.next, e.weight[0], spanCount, line);
      column(line + columnStart * 4, columns, clipWidth, dst, oddStart, alpha);
    }
    src += e.next;
    dst += dstStride;
  }
}

}  // namespace kvx
