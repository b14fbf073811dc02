// SSSE3 kernels: pshufb where the SSE2 kernels take 3-byte RGB24 pixels and 4:2:2 chroma apart
// lane by lane, and the column tables' window masks (see Compositor) where a pair of samples lies
// within 16 bytes. The rest are the SSE2 kernels, among them RGB24 rows onto an RGB24 host, which
// mostly go straight to the host.
#include "compose/kernels.h"

#include <algorithm>

#if defined(__x86_64__) || defined(__i386__)

#include "compose/kernels_x86.h"

#define KVX_SSSE3 __attribute__((target("ssse3")))

namespace kvx {
namespace {

using namespace x86;

KVX_SSSE3 inline __m128i Load16(const uint8_t* p) {
  return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
}

KVX_SSSE3 inline void Store16(uint8_t* p, __m128i v) {
  _mm_storeu_si128(reinterpret_cast<__m128i*>(p), v);
}

// U or V of each pair (at byte `at` of its two lanes) moved into the high byte of both of its
// pixels' lanes.
KVX_SSSE3 inline __m128i SpreadChroma(__m128i uv, char at) {
  const char z = -1;
  return _mm_shuffle_epi8(uv, _mm_setr_epi8(z, at, z, at, z, at + 4, z, at + 4, z, at + 8, z,
                                            at + 8, z, at + 12, z, at + 12));
}

// Eight pixels from their Y (a 16-bit lane each) and their pairs' U and V, as Y U Y V elements.
KVX_SSSE3 inline void PutYuvForYuy2(__m128i y, __m128i uv, uint8_t* line) {
  const __m128i yu = _mm_or_si128(y, SpreadChroma(uv, 0));
  const __m128i yv = _mm_or_si128(y, SpreadChroma(uv, 2));
  Store16(line, _mm_unpacklo_epi16(yu, yv));
  Store16(line + 16, _mm_unpackhi_epi16(yu, yv));
}

// Eight pixels from their Y and their pairs' U and V, as B G R Y elements, by the SSE2 kernel's
// arithmetic: (c - 128) * 256 as a signed lane, against the rules' factors over 16.
KVX_SSSE3 inline void PutYuvForRgb(__m128i y, __m128i uv, uint8_t* line) {
  const __m128i centred = _mm_xor_si128(uv, _mm_set1_epi16(0x80));
  const __m128i u = SpreadChroma(centred, 0);
  const __m128i v = SpreadChroma(centred, 2);
  const __m128i b = _mm_add_epi16(y, _mm_mulhi_epi16(u, _mm_set1_epi16(7264 / 16)));
  const __m128i g = _mm_add_epi16(_mm_add_epi16(y, _mm_mulhi_epi16(u, _mm_set1_epi16(-1376 / 16))),
                                  _mm_mulhi_epi16(v, _mm_set1_epi16(-2928 / 16)));
  const __m128i r = _mm_add_epi16(y, _mm_mulhi_epi16(v, _mm_set1_epi16(5744 / 16)));
  const __m128i bg = _mm_packus_epi16(b, g);
  const __m128i ry = _mm_packus_epi16(r, y);
  const __m128i br = _mm_unpacklo_epi8(bg, ry);
  const __m128i gy = _mm_unpackhi_epi8(bg, ry);
  Store16(line, _mm_unpacklo_epi8(br, gy));
  Store16(line + 16, _mm_unpackhi_epi8(br, gy));
}

// Four pairs a step, taken apart into 16-bit lanes by a mask and a shift (Y per pixel, U V per
// pair) and interpolated there, as the AVX2 kernel does.
template <bool kUyvy, bool kRgbOut>
KVX_SSSE3 inline void Row422Group(const uint8_t* row0, const uint8_t* row1, __m128i w, bool lerp,
                                  uint8_t* line) {
  const __m128i low = _mm_set1_epi16(0xFF);
  const auto split = [&](const uint8_t* p, __m128i& y, __m128i& uv) KVX_SSSE3 {
    const __m128i v = Load16(p);
    const __m128i even = _mm_and_si128(v, low);
    const __m128i odd = _mm_srli_epi16(v, 8);
    y = kUyvy ? odd : even;
    uv = kUyvy ? even : odd;
  };
  __m128i y;
  __m128i uv;
  split(row0, y, uv);
  if (lerp) {
    __m128i y1;
    __m128i uv1;
    split(row1, y1, uv1);
    y = Lerp16(y, y1, w);
    uv = Lerp16(uv, uv1, w);
  }
  if (kRgbOut) {
    PutYuvForRgb(y, uv, line);
  } else {
    PutYuvForYuy2(y, uv, line);
  }
}

template <bool kUyvy, bool kRgbOut>
KVX_SSSE3 void Row422(const uint8_t* row0, const uint8_t* row1, uint32_t weight, int32_t pairs,
                      uint8_t* line) {
  const __m128i w = _mm_set1_epi16(static_cast<int16_t>(weight));
  const bool lerp = weight != 0;
  int32_t i = 0;
  for (; i + 4 <= pairs; i += 4) {
    Row422Group<kUyvy, kRgbOut>(row0 + 4 * i, row1 + 4 * i, w, lerp, line + 8 * i);
  }
  if (i < pairs) {
    // The last pairs through copies, so nothing past either row is read.
    alignas(16) uint8_t a[16] = {}, b[16] = {}, out[32];
    const size_t bytes = 4 * static_cast<size_t>(pairs - i);
    CopyShort<16>(a, row0 + 4 * i, bytes);
    CopyShort<16>(b, row1 + 4 * i, bytes);
    Row422Group<kUyvy, kRgbOut>(a, b, w, lerp, out);
    CopyShort<32>(line + 8 * i, out, 2 * bytes);
  }
}

// Eight packed B G R pixels (24 bytes, read as 16 at p and 16 at p + 12) widened to 16-bit
// lanes, a channel a register.
struct Channels {
  __m128i b;
  __m128i g;
  __m128i r;
};

KVX_SSSE3 inline Channels LoadChannels(const uint8_t* p) {
  const __m128i a = Load16(p);
  const __m128i c = Load16(p + 12);
  const __m128i blueGreen = _mm_setr_epi8(0, -1, 3, -1, 6, -1, 9, -1, 1, -1, 4, -1, 7, -1, 10, -1);
  const __m128i redBytes =
      _mm_setr_epi8(2, -1, 5, -1, 8, -1, 11, -1, -1, -1, -1, -1, -1, -1, -1, -1);
  const __m128i bgA = _mm_shuffle_epi8(a, blueGreen);
  const __m128i bgC = _mm_shuffle_epi8(c, blueGreen);
  return {_mm_unpacklo_epi64(bgA, bgC), _mm_unpackhi_epi64(bgA, bgC),
          _mm_unpacklo_epi64(_mm_shuffle_epi8(a, redBytes), _mm_shuffle_epi8(c, redBytes))};
}

// Eight pixels of both rows interpolated in their 16-bit lanes (the same bytes as interpolating
// the packed bytes: the values stay within a byte) and converted.
template <bool kLerp>
KVX_SSSE3 inline void RgbToYuyvEight(const uint8_t* p0, const uint8_t* p1, __m128i w,
                                     uint8_t* out) {
  Channels c = LoadChannels(p0);
  if (kLerp) {
    const Channels d = LoadChannels(p1);
    c = {Lerp16(c.b, d.b, w), Lerp16(c.g, d.g, w), Lerp16(c.r, d.r, w)};
  }
  PutYuyv(c.b, c.g, c.r, out);
}

template <bool kLerp>
KVX_SSSE3 void RgbRowToYuy2(const uint8_t* row0, const uint8_t* row1, __m128i w, int32_t pixels,
                            uint8_t* line) {
  int32_t k = 0;
  for (; k + 10 <= pixels; k += 8) {
    RgbToYuyvEight<kLerp>(row0 + 3 * k, row1 + 3 * k, w, line + 4 * k);
  }
  for (; k < pixels; k += 8) {
    // The rest through copies, so nothing past either row is read.
    alignas(16) uint8_t a[28] = {}, b[28] = {}, out[32];
    const int32_t left = std::min(pixels - k, 8);
    CopyShort<28>(a, row0 + 3 * k, static_cast<size_t>(3 * left));
    CopyShort<28>(b, row1 + 3 * k, static_cast<size_t>(3 * left));
    RgbToYuyvEight<kLerp>(a, b, w, out);
    CopyShort<32>(line + 4 * k, out, static_cast<size_t>(4 * left));
  }
}

KVX_SSSE3 void RgbToYuy2(const uint8_t* row0, const uint8_t* row1, uint32_t weight, int32_t pixels,
                         uint8_t* line) {
  const __m128i w = _mm_set1_epi16(static_cast<int16_t>(weight));
  if (weight != 0) {
    RgbRowToYuy2<true>(row0, row1, w, pixels, line);
  } else {
    RgbRowToYuy2<false>(row0, row1, w, pixels, line);
  }
}

// Two pixels' samples from the 16 bytes at their pair's first offset, taken out by the table's
// masks for the first and second samples and interpolated in 16-bit lanes.
KVX_SSSE3 inline __m128i PairInWindow(const uint8_t* window, const uint8_t* firstMask,
                                      const uint8_t* secondMask, const uint16_t* weights) {
  const __m128i v = Load16(window);
  return Lerp16(_mm_shuffle_epi8(v, Load16(firstMask)), _mm_shuffle_epi8(v, Load16(secondMask)),
                _mm_loadu_si128(reinterpret_cast<const __m128i*>(weights)));
}

// Eight pixels' owned bytes (see the SSE2 kernel) into 16 destination bytes. The masks give, per
// pair, the owned bytes of both pixels' first samples, then of their second ones.
template <bool kBlend>
KVX_SSSE3 inline void Yuy2Group(const uint8_t* line, const uint16_t* pairWeights,
                                const int32_t* offset, const uint8_t* masks, uint8_t* out,
                                __m128i alpha, __m128i inverse) {
  const auto owned = [&](int pair, int mask) KVX_SSSE3 {
    return _mm_shuffle_epi8(Load16(line + offset[pair]), Load16(masks + 16 * mask));
  };
  const __m128i x0 = owned(0, 0);
  const __m128i x2 = owned(2, 2);
  const __m128i x4 = owned(4, 1);
  const __m128i x6 = owned(6, 3);
  __m128i lo = Lerp16(_mm_unpacklo_epi64(x0, x2), _mm_unpackhi_epi64(x0, x2),
                      _mm_loadu_si128(reinterpret_cast<const __m128i*>(pairWeights)));
  __m128i hi = Lerp16(_mm_unpacklo_epi64(x4, x6), _mm_unpackhi_epi64(x4, x6),
                      _mm_loadu_si128(reinterpret_cast<const __m128i*>(pairWeights + 8)));
  if (kBlend) {
    const __m128i zero = _mm_setzero_si128();
    const __m128i d = Load16(out);
    lo = Blend16(_mm_unpacklo_epi8(d, zero), lo, alpha, inverse);
    hi = Blend16(_mm_unpackhi_epi8(d, zero), hi, alpha, inverse);
  }
  Store16(out, _mm_packus_epi16(lo, hi));
}

template <bool kBlend>
KVX_SSSE3 void ColumnYuy2(const uint8_t* line, const ColumnTable& table, int32_t count,
                          uint8_t* dst, bool odd, uint32_t alpha) {
  if (table.yuy2Shuffles == nullptr) {
    const KernelSet& narrower = Sse2Kernels();
    (kBlend ? narrower.blendYuy2 : narrower.copyYuy2)(line, table, count, dst, odd, alpha);
    return;
  }
  const __m128i a = _mm_set1_epi16(static_cast<int16_t>(alpha));
  const __m128i inverse = _mm_set1_epi16(static_cast<int16_t>(256 - alpha));
  // Held apart from the table: the stores to dst could otherwise alias it.
  const uint16_t* const weights = table.pairWeights;
  const int32_t* const offsets = table.offsets;
  const uint8_t* const masks = table.yuy2Shuffles + (odd ? 64 : 0);
  int32_t k = 0;
  for (; k + 8 <= count; k += 8) {
    Yuy2Group<kBlend>(line, weights + 2 * k, offsets + k, masks + 16 * k, dst + 2 * k, a, inverse);
  }
  if (k < count) {
    uint8_t tail[16] = {};
    const size_t bytes = 2 * static_cast<size_t>(count - k);
    CopyShort<16>(tail, dst + 2 * k, bytes);
    Yuy2Group<kBlend>(line, weights + 2 * k, offsets + k, masks + 16 * k, tail, a, inverse);
    CopyShort<16>(dst + 2 * k, tail, bytes);
  }
}

// A group's 24 destination bytes, as bytes 0-15 and 8-23.
struct RgbDestination {
  __m128i low;
  __m128i high;
};

KVX_SSSE3 inline RgbDestination LoadRgbGroup(const uint8_t* out) {
  return {Load16(out), Load16(out + 8)};
}

// Two pixels' destination bytes from byte `at` on, widened to the lanes B G R B G R 0 0.
KVX_SSSE3 inline __m128i WidenSix(__m128i v, char at) {
  const char z = -1;
  return _mm_shuffle_epi8(
      v, _mm_setr_epi8(at, z, at + 1, z, at + 2, z, at + 3, z, at + 4, z, at + 5, z, z, z, z, z));
}

// Eight pixels into 24 RGB24 destination bytes, blended with d or not. Each pair's samples come
// as B G R B G R 0 0 lanes. With kSpill the last 4 of 28 bytes written land on the next group's
// first pixel, which that group writes again; its bytes must have been read before.
template <bool kBlend, bool kSpill>
KVX_SSSE3 inline void PutRgbGroup(__m128i p01, __m128i p23, __m128i p45, __m128i p67,
                                  RgbDestination d, uint8_t* out, __m128i alpha, __m128i inverse) {
  if (kBlend) {
    p01 = Blend16(WidenSix(d.low, 0), p01, alpha, inverse);
    p23 = Blend16(WidenSix(d.low, 6), p23, alpha, inverse);
    p45 = Blend16(WidenSix(d.high, 4), p45, alpha, inverse);
    p67 = Blend16(WidenSix(d.high, 10), p67, alpha, inverse);
  }
  // [p p 0 0 p p 0 0] bytes to 12 packed ones.
  const __m128i pack = _mm_setr_epi8(0, 1, 2, 3, 4, 5, 8, 9, 10, 11, 12, 13, -1, -1, -1, -1);
  const __m128i first = _mm_shuffle_epi8(_mm_packus_epi16(p01, p23), pack);
  const __m128i second = _mm_shuffle_epi8(_mm_packus_epi16(p45, p67), pack);
  // The first store's last 4 bytes are overwritten by the second's 12.
  Store16(out, first);
  if (kSpill) {
    Store16(out + 12, second);
  } else {
    _mm_storel_epi64(reinterpret_cast<__m128i*>(out + 12), second);
    Store4(out + 20, _mm_srli_si128(second, 8));
  }
}

// Group k's samples by the window masks: the pairs 0-1, 4-5, 2-3 and 6-7 lie 128 bytes of masks
// and 32 weight lanes a group apart (see Compositor).
template <bool kBlend, bool kSpill>
KVX_SSSE3 inline void RgbGroup(const uint8_t* line, const uint16_t* weights, const int32_t* offset,
                               const uint8_t* masks, RgbDestination d, uint8_t* out, __m128i alpha,
                               __m128i inverse) {
  PutRgbGroup<kBlend, kSpill>(PairInWindow(line + offset[0], masks, masks + 32, weights),
                              PairInWindow(line + offset[2], masks + 64, masks + 96, weights + 16),
                              PairInWindow(line + offset[4], masks + 16, masks + 48, weights + 8),
                              PairInWindow(line + offset[6], masks + 80, masks + 112, weights + 24),
                              d, out, alpha, inverse);
}

template <bool kBlend>
KVX_SSSE3 void ColumnRgb(const uint8_t* line, const ColumnTable& table, int32_t count, uint8_t* dst,
                         bool odd, uint32_t alpha) {
  if (table.rgbShuffles == nullptr) {
    const KernelSet& narrower = Sse2Kernels();
    (kBlend ? narrower.blendRgb : narrower.copyRgb)(line, table, count, dst, odd, alpha);
    return;
  }
  const __m128i a = _mm_set1_epi16(static_cast<int16_t>(alpha));
  const __m128i inverse = _mm_set1_epi16(static_cast<int16_t>(256 - alpha));
  // Held apart from the table: the stores to dst could otherwise alias it.
  const uint16_t* const weights = table.rgbWeights;
  const int32_t* const offsets = table.offsets;
  const uint8_t* const masks = table.rgbShuffles;
  int32_t k = 0;
  const RgbDestination none{_mm_setzero_si128(), _mm_setzero_si128()};
  if (count >= 8) {
    // Each group's destination bytes are read before the group behind it spills onto them.
    RgbDestination d = kBlend ? LoadRgbGroup(dst) : none;
    for (; k + 16 <= count; k += 8) {
      const RgbDestination next = kBlend ? LoadRgbGroup(dst + 3 * k + 24) : none;
      RgbGroup<kBlend, true>(line, weights + 4 * k, offsets + k, masks + 16 * k, d, dst + 3 * k, a,
                             inverse);
      d = next;
    }
    RgbGroup<kBlend, false>(line, weights + 4 * k, offsets + k, masks + 16 * k, d, dst + 3 * k, a,
                            inverse);
    k += 8;
  }
  if (k < count) {
    uint8_t tail[24] = {};
    const size_t bytes = 3 * static_cast<size_t>(count - k);
    CopyShort<24>(tail, dst + 3 * k, bytes);
    RgbGroup<kBlend, false>(line, weights + 4 * k, offsets + k, masks + 16 * k, LoadRgbGroup(tail),
                            tail, a, inverse);
    CopyShort<24>(dst + 3 * k, tail, bytes);
  }
}

KernelSet MakeSsse3Kernels() {
  KernelSet k = Sse2Kernels();
  k.yuy2ToYuy2 = Row422<false, false>;
  k.uyvyToYuy2 = Row422<true, false>;
  k.yuy2ToRgb = Row422<false, true>;
  k.uyvyToRgb = Row422<true, true>;
  k.rgbToYuy2 = RgbToYuy2;
  k.copyYuy2 = ColumnYuy2<false>;
  k.blendYuy2 = ColumnYuy2<true>;
  k.copyRgb = ColumnRgb<false>;
  k.blendRgb = ColumnRgb<true>;
  return k;
}

}  // namespace

const KernelSet& Ssse3Kernels() {
  static const KernelSet kernels = MakeSsse3Kernels();
  return kernels;
}

}  // namespace kvx

#endif
