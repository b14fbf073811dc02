// The reference kernels: one byte at a time, exactly as the rules state the arithmetic.
#include <algorithm>

#include "compose/kernels.h"

namespace kvx {
namespace {

// floor(x / 2^s) of a signed value.
constexpr int32_t FloorShift(int32_t x, int s) {
  return x >> s;
}  // arithmetic shift

uint8_t Clamp(int32_t v) {
  return static_cast<uint8_t>(std::clamp(v, 0, 255));
}

// p0 + floor((p1 - p0) * w / 4096).
uint8_t Lerp(uint8_t p0, uint8_t p1, uint32_t w) {
  return Clamp(p0 + FloorShift((p1 - p0) * static_cast<int32_t>(w), 12));
}

// d + floor((s - d) * alpha / 256).
uint8_t Blend(uint8_t d, uint8_t s, uint32_t alpha) {
  return Clamp(d + FloorShift((s - d) * static_cast<int32_t>(alpha), 8));
}

void LerpBytes(const uint8_t* row0, const uint8_t* row1, uint32_t w, int n, uint8_t* out) {
  for (int i = 0; i < n; ++i) {
    out[i] = Lerp(row0[i], row1[i], w);
  }
}

void PutElement(uint8_t* line, uint8_t a, uint8_t b, uint8_t c, uint8_t d) {
  line[0] = a;
  line[1] = b;
  line[2] = c;
  line[3] = d;
}

// A pair given as Y0 U Y1 V, written as Y0 U Y0 V and Y1 U Y1 V.
void PutYuvPairForYuy2(const uint8_t* p, uint8_t* line) {
  PutElement(line, p[0], p[1], p[0], p[3]);
  PutElement(line + 4, p[2], p[1], p[2], p[3]);
}

// A pair given as Y0 U Y1 V, written as B0 G0 R0 Y0 and B1 G1 R1 Y1.
void PutYuvPairForRgb(const uint8_t* p, uint8_t* line) {
  const int32_t u = p[1] - 128;
  const int32_t v = p[3] - 128;
  const int32_t bU = FloorShift(u * 7264, 12);
  const int32_t gU = FloorShift(u * -1376, 12);
  const int32_t gV = FloorShift(v * -2928, 12);
  const int32_t rV = FloorShift(v * 5744, 12);
  for (int i = 0; i < 2; ++i) {
    const int32_t y = p[2 * i];
    PutElement(line + 4 * i, Clamp(y + bU), Clamp(y + gU + gV), Clamp(y + rV), p[2 * i]);
  }
}

void Yuy2ToYuy2(const uint8_t* row0, const uint8_t* row1, uint32_t w, int32_t pairs,
                uint8_t* line) {
  for (int32_t i = 0; i < pairs; ++i, row0 += 4, row1 += 4, line += 8) {
    uint8_t p[4];
    LerpBytes(row0, row1, w, 4, p);
    PutYuvPairForYuy2(p, line);
  }
}

void UyvyToYuy2(const uint8_t* row0, const uint8_t* row1, uint32_t w, int32_t pairs,
                uint8_t* line) {
  for (int32_t i = 0; i < pairs; ++i, row0 += 4, row1 += 4, line += 8) {
    uint8_t q[4];
    LerpBytes(row0, row1, w, 4, q);
    const uint8_t p[4] = {q[1], q[0], q[3], q[2]};
    PutYuvPairForYuy2(p, line);
  }
}

void Yuy2ToRgb(const uint8_t* row0, const uint8_t* row1, uint32_t w, int32_t pairs, uint8_t* line) {
  for (int32_t i = 0; i < pairs; ++i, row0 += 4, row1 += 4, line += 8) {
    uint8_t p[4];
    LerpBytes(row0, row1, w, 4, p);
    PutYuvPairForRgb(p, line);
  }
}

void UyvyToRgb(const uint8_t* row0, const uint8_t* row1, uint32_t w, int32_t pairs, uint8_t* line) {
  for (int32_t i = 0; i < pairs; ++i, row0 += 4, row1 += 4, line += 8) {
    uint8_t q[4];
    LerpBytes(row0, row1, w, 4, q);
    const uint8_t p[4] = {q[1], q[0], q[3], q[2]};
    PutYuvPairForRgb(p, line);
  }
}

void RgbToYuy2(const uint8_t* row0, const uint8_t* row1, uint32_t w, int32_t pixels,
               uint8_t* line) {
  for (int32_t i = 0; i < pixels; ++i, row0 += 3, row1 += 3, line += 4) {
    uint8_t p[3];
    LerpBytes(row0, row1, w, 3, p);
    const int32_t b = p[0], g = p[1], r = p[2];
    const uint8_t y = Clamp(FloorShift(29 * b + 150 * g + 77 * r, 8));
    const uint8_t u = Clamp(FloorShift(128 * b - 85 * g - 43 * r, 8) + 128);
    const uint8_t v = Clamp(FloorShift(-21 * b - 107 * g + 128 * r, 8) + 128);
    PutElement(line, y, u, y, v);
  }
}

void RgbToRgb(const uint8_t* row0, const uint8_t* row1, uint32_t w, int32_t pixels, uint8_t* line) {
  for (int32_t i = 0; i < pixels; ++i, row0 += 3, row1 += 3, line += 4) {
    uint8_t p[3];
    LerpBytes(row0, row1, w, 3, p);
    PutElement(line, p[0], p[1], p[2], 0);
  }
}

// Walks the column table: moves by advance, interpolates the element there with the one `next`
// bytes further, and stays on the second.
class ColumnWalk {
 public:
  ColumnWalk(const uint8_t* line, const ScaleStep* steps) : pos_(line), step_(steps) {}
  void Next(uint8_t out[4]) {
    pos_ += step_->advance;
    LerpBytes(pos_, pos_ + step_->next, step_->weight[0], 4, out);
    pos_ += step_->next;
    ++step_;
  }

 private:
  const uint8_t* pos_;
  const ScaleStep* step_;
};

// An even pixel owns Y0 and U of its pair, an odd one Y1 and V: the sample's bytes 0-1 or 2-3.
template <bool kBlend>
void ColumnYuy2(const uint8_t* line, const ColumnTable& table, int32_t count, uint8_t* dst,
                bool odd, uint32_t alpha) {
  ColumnWalk walk(line, table.steps);
  for (int32_t k = 0; k < count; ++k, dst += 2) {
    uint8_t s[4];
    walk.Next(s);
    const int first = ((k & 1) != 0) != odd ? 2 : 0;
    for (int j = 0; j < 2; ++j) {
      dst[j] = kBlend ? Blend(dst[j], s[first + j], alpha) : s[first + j];
    }
  }
}

template <bool kBlend>
void ColumnRgb(const uint8_t* line, const ColumnTable& table, int32_t count, uint8_t* dst, bool,
               uint32_t alpha) {
  ColumnWalk walk(line, table.steps);
  for (int32_t k = 0; k < count; ++k, dst += 3) {
    uint8_t s[4];
    walk.Next(s);
    for (int j = 0; j < 3; ++j) {
      dst[j] = kBlend ? Blend(dst[j], s[j], alpha) : s[j];
    }
  }
}

void BlendRun(const uint8_t* src, uint8_t* dst, int32_t bytes, uint32_t alpha) {
  for (int32_t i = 0; i < bytes; ++i) {
    dst[i] = Blend(dst[i], src[i], alpha);
  }
}

}  // namespace

const KernelSet& ScalarKernels() {
  static constexpr KernelSet kernels = {
      Yuy2ToYuy2,        UyvyToYuy2,       RgbToYuy2,        Yuy2ToRgb,       UyvyToRgb, RgbToRgb,
      ColumnYuy2<false>, ColumnYuy2<true>, ColumnRgb<false>, ColumnRgb<true>, BlendRun,
  };
  return kernels;
}

}  // namespace kvx
