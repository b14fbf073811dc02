// AVX2 kernels: eight 4:2:2 pairs or eight pixels per step, with byte shuffles for the 3-byte
// RGB24 pixels.
#include "compose/kernels.h"

#include <algorithm>

#if defined(__x86_64__) || defined(__i386__)

#include "compose/kernels_x86.h"

namespace kvx {
namespace {

KVX_AVX2 inline __m256i Lerp16x16(__m256i p0, __m256i p1, __m256i w) {
  return _mm256_add_epi16(p0,
                          _mm256_mulhi_epi16(_mm256_slli_epi16(_mm256_sub_epi16(p1, p0), 4), w));
}

KVX_AVX2 inline __m256i LerpBytes32(__m256i a, __m256i b, __m256i w) {
  const __m256i zero = _mm256_setzero_si256();
  const __m256i lo = Lerp16x16(_mm256_unpacklo_epi8(a, zero), _mm256_unpacklo_epi8(b, zero), w);
  const __m256i hi = Lerp16x16(_mm256_unpackhi_epi8(a, zero), _mm256_unpackhi_epi8(b, zero), w);
  return _mm256_packus_epi16(lo, hi);
}

// The unpacks work within 128-bit halves, giving pixels 0-3 | 8-11 in lo and 4-7 | 12-15 in hi;
// this stores them in pixel order, the high halves straight from the registers.
KVX_AVX2 inline void StoreInOrder(uint8_t* line, __m256i lo, __m256i hi) {
  _mm_storeu_si128(reinterpret_cast<__m128i*>(line), _mm256_castsi256_si128(lo));
  _mm_storeu_si128(reinterpret_cast<__m128i*>(line + 16), _mm256_castsi256_si128(hi));
  _mm_storeu_si128(reinterpret_cast<__m128i*>(line + 32), _mm256_extracti128_si256(lo, 1));
  _mm_storeu_si128(reinterpret_cast<__m128i*>(line + 48), _mm256_extracti128_si256(hi, 1));
}

// U or V of each pair (at byte `at` of its two lanes) moved into the high byte of both of its
// pixels' lanes.
KVX_AVX2 inline __m256i SpreadChroma(__m256i uv, char at) {
  const char z = -1;
  return _mm256_shuffle_epi8(
      uv, _mm256_setr_epi8(z, at, z, at, z, at + 4, z, at + 4, z, at + 8, z, at + 8, z, at + 12, z,
                           at + 12, z, at, z, at, z, at + 4, z, at + 4, z, at + 8, z, at + 8, z,
                           at + 12, z, at + 12));
}

// Sixteen pixels from their Y (a 16-bit lane each) and their pairs' U and V (two lanes a pair),
// as Y U Y V elements.
KVX_AVX2 void PutYuvForYuy2(__m256i y, __m256i uv, uint8_t* line) {
  const __m256i yu = _mm256_or_si256(y, SpreadChroma(uv, 0));
  const __m256i yv = _mm256_or_si256(y, SpreadChroma(uv, 2));
  StoreInOrder(line, _mm256_unpacklo_epi16(yu, yv), _mm256_unpackhi_epi16(yu, yv));
}

// Sixteen pixels from their Y (a 16-bit lane each) and their pairs' U and V (two lanes a pair),
// as B G R Y elements.
KVX_AVX2 void PutYuvForRgb(__m256i y, __m256i uv, uint8_t* line) {
  // U and V of each pair with their top bit flipped and moved into the high byte of both of its
  // pixels' lanes: (c - 128) * 256 as a signed lane. The factors below are the rules' over 16,
  // so pmulhw gives the same floor((c - 128) * factor / 4096).
  const __m256i centred = _mm256_xor_si256(uv, _mm256_set1_epi16(0x80));
  const __m256i u = SpreadChroma(centred, 0);
  const __m256i v = SpreadChroma(centred, 2);
  const __m256i b = _mm256_add_epi16(y, _mm256_mulhi_epi16(u, _mm256_set1_epi16(7264 / 16)));
  const __m256i g =
      _mm256_add_epi16(_mm256_add_epi16(y, _mm256_mulhi_epi16(u, _mm256_set1_epi16(-1376 / 16))),
                       _mm256_mulhi_epi16(v, _mm256_set1_epi16(-2928 / 16)));
  const __m256i r = _mm256_add_epi16(y, _mm256_mulhi_epi16(v, _mm256_set1_epi16(5744 / 16)));
  // Per half: [b0-7 g0-7] and [r0-7 y0-7]; then b r / g y interleaved, then b g r y.
  const __m256i bg = _mm256_packus_epi16(b, g);
  const __m256i ry = _mm256_packus_epi16(r, y);
  const __m256i br = _mm256_unpacklo_epi8(bg, ry);
  const __m256i gy = _mm256_unpackhi_epi8(bg, ry);
  StoreInOrder(line, _mm256_unpacklo_epi8(br, gy), _mm256_unpackhi_epi8(br, gy));
}

// Eight pairs a step. The even and the odd bytes are taken apart into 16-bit lanes by a mask and
// a shift, Y per pixel and U V per pair, and interpolated there: no shuffles until the output.
template <bool kUyvy, bool kRgbOut>
KVX_AVX2 void Row422(const uint8_t* row0, const uint8_t* row1, uint32_t weight, int32_t pairs,
                     uint8_t* line) {
  const __m256i low = _mm256_set1_epi16(0xFF);
  const auto split = [&](const uint8_t* p, __m256i& y, __m256i& uv) KVX_AVX2 {
    const __m256i v = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p));
    const __m256i even = _mm256_and_si256(v, low);
    const __m256i odd = _mm256_srli_epi16(v, 8);
    y = kUyvy ? odd : even;
    uv = kUyvy ? even : odd;
  };
  const __m256i w = _mm256_set1_epi16(static_cast<int16_t>(weight));
  int32_t i = 0;
  for (; i + 8 <= pairs; i += 8) {
    __m256i y;
    __m256i uv;
    split(row0 + 4 * i, y, uv);
    if (weight != 0) {
      __m256i y1;
      __m256i uv1;
      split(row1 + 4 * i, y1, uv1);
      y = Lerp16x16(y, y1, w);
      uv = Lerp16x16(uv, uv1, w);
    }
    if (kRgbOut) {
      PutYuvForRgb(y, uv, line + 8 * i);
    } else {
      PutYuvForYuy2(y, uv, line + 8 * i);
    }
  }
  if (i < pairs) {
    const KernelSet& narrower = Sse2Kernels();
    const RowKernel tail = kRgbOut ? (kUyvy ? narrower.uyvyToRgb : narrower.yuy2ToRgb)
                                   : (kUyvy ? narrower.uyvyToYuy2 : narrower.yuy2ToYuy2);
    tail(row0 + 4 * i, row1 + 4 * i, weight, pairs - i, line + 8 * i);
  }
}

// Four samples' 8 bytes as [a b | c d], by broadcast loads and dword blends rather than inserts:
// those keep the shuffle ports free for the rest of a group.
KVX_AVX2 inline __m256i FourSamples(const uint8_t* line, const int32_t* offset, int a, int b, int c,
                                    int d) {
  const auto at = [&](int i) KVX_AVX2 {
    return _mm256_broadcastq_epi64(
        _mm_loadl_epi64(reinterpret_cast<const __m128i*>(line + offset[i])));
  };
  return _mm256_blend_epi32(_mm256_blend_epi32(at(a), at(b), 0xCC),
                            _mm256_blend_epi32(at(c), at(d), 0xCC), 0xF0);
}

// Eight pixels' owned bytes into 16 destination bytes, blended or not. xs holds, per half, two
// pixels' owned bytes of their first samples, then of their second ones (pixels 0-1 | 4-5); ys
// the same for pixels 2-3 | 6-7.
template <bool kBlend>
KVX_AVX2 inline void PutYuy2Group(__m256i xs, __m256i ys, const uint16_t* pairWeights, uint8_t* out,
                                  __m256i alpha, __m256i inverse) {
  __m256i bytes = Lerp16x16(_mm256_unpacklo_epi64(xs, ys), _mm256_unpackhi_epi64(xs, ys),
                            _mm256_loadu_si256(reinterpret_cast<const __m256i*>(pairWeights)));
  if (kBlend) {
    const __m256i d = _mm256_cvtepu8_epi16(_mm_loadu_si128(reinterpret_cast<__m128i*>(out)));
    bytes = _mm256_srli_epi16(
        _mm256_add_epi16(_mm256_mullo_epi16(d, inverse), _mm256_mullo_epi16(bytes, alpha)), 8);
  }
  _mm_storeu_si128(reinterpret_cast<__m128i*>(out),
                   _mm256_castsi256_si128(_mm256_permute4x64_epi64(
                       _mm256_packus_epi16(bytes, bytes), _MM_SHUFFLE(3, 1, 2, 0))));
}

// Eight pixels into 16 destination bytes. A pixel owns two bytes of its samples (bytes 0-1 at an
// even pixel, 2-3 at an odd one; see the SSE2 kernel), so only those are interpolated: each
// sample's 8 bytes are loaded, and a shuffle takes the owned bytes of the first and second
// element, widened to 16 bits.
template <bool kBlend, bool kOddStart>
KVX_AVX2 inline void Yuy2Group(const uint8_t* line, const uint16_t* pairWeights,
                               const int32_t* offset, uint8_t* out, __m256i alpha,
                               __m256i inverse) {
  const __m256i x = FourSamples(line, offset, 0, 1, 4, 5);
  const __m256i y = FourSamples(line, offset, 2, 3, 6, 7);
  const __m256i owned =
      kOddStart ? _mm256_setr_epi8(2, -1, 3, -1, 8, -1, 9, -1, 6, -1, 7, -1, 12, -1, 13, -1, 2, -1,
                                   3, -1, 8, -1, 9, -1, 6, -1, 7, -1, 12, -1, 13, -1)
                : _mm256_setr_epi8(0, -1, 1, -1, 10, -1, 11, -1, 4, -1, 5, -1, 14, -1, 15, -1, 0,
                                   -1, 1, -1, 10, -1, 11, -1, 4, -1, 5, -1, 14, -1, 15, -1);
  PutYuy2Group<kBlend>(_mm256_shuffle_epi8(x, owned), _mm256_shuffle_epi8(y, owned), pairWeights,
                       out, alpha, inverse);
}

// 16 bytes at a in the low half and 16 at b in the high half, by a broadcast load and a dword
// blend: an insert would take one more slot on the shuffle ports, which the kernels fill.
KVX_AVX2 inline __m256i TwoHalves(const uint8_t* a, const uint8_t* b) {
  return _mm256_blend_epi32(
      _mm256_castsi128_si256(_mm_loadu_si128(reinterpret_cast<const __m128i*>(a))),
      _mm256_broadcastsi128_si256(_mm_loadu_si128(reinterpret_cast<const __m128i*>(b))), 0xF0);
}

// Two 16-byte windows, each holding two pairs' samples: at offsets a and b in its halves.
KVX_AVX2 inline __m256i Windows(const uint8_t* line, const int32_t* offset, int a, int b) {
  return TwoHalves(line + offset[a], line + offset[b]);
}

KVX_AVX2 inline __m256i Mask(const uint8_t* masks, int i) {
  return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(masks + 32 * i));
}

// The same from two loads of 16 bytes a pair, the owned bytes taken out by the table's masks for
// the row's parity: four loads where the other reads eight, and no blends.
template <bool kBlend>
KVX_AVX2 inline void Yuy2GroupInWindows(const uint8_t* line, const uint16_t* pairWeights,
                                        const int32_t* offset, const uint8_t* masks, uint8_t* out,
                                        __m256i alpha, __m256i inverse) {
  PutYuy2Group<kBlend>(_mm256_shuffle_epi8(Windows(line, offset, 0, 4), Mask(masks, 0)),
                       _mm256_shuffle_epi8(Windows(line, offset, 2, 6), Mask(masks, 1)),
                       pairWeights, out, alpha, inverse);
}

// The groups of a row, group(k, out) writing group k's 16 bytes at out. At most 7 pixels remain
// after the whole groups, inside the table's padding; they go through a copy.
template <class Group>
KVX_AVX2 inline void Yuy2Groups(const Group& group, int32_t count, uint8_t* dst) {
  int32_t k = 0;
  for (; k + 8 <= count; k += 8) {
    group(k, dst + 2 * k);
  }
  if (k < count) {
    uint8_t tail[16] = {};
    const size_t bytes = 2 * static_cast<size_t>(count - k);
    x86::CopyShort<16>(tail, dst + 2 * k, bytes);
    group(k, tail);
    x86::CopyShort<16>(dst + 2 * k, tail, bytes);
  }
}

template <bool kBlend, bool kOddStart>
KVX_AVX2 void Yuy2Row(const uint8_t* line, const ColumnTable& table, int32_t count, uint8_t* dst,
                      uint32_t alpha) {
  const __m256i a = _mm256_set1_epi16(static_cast<int16_t>(alpha));
  const __m256i inverse = _mm256_set1_epi16(static_cast<int16_t>(256 - alpha));
  // Held apart from the table: the stores to dst could otherwise alias it.
  const uint16_t* const weights = table.pairWeights;
  const int32_t* const offsets = table.offsets;
  if (table.yuy2Shuffles != nullptr) {
    const uint8_t* const masks = table.yuy2Shuffles + (kOddStart ? 64 : 0);
    Yuy2Groups(
        [&](int32_t k, uint8_t* out) KVX_AVX2 {
          Yuy2GroupInWindows<kBlend>(line, weights + 2 * k, offsets + k, masks + 16 * k, out, a,
                                     inverse);
        },
        count, dst);
  } else {
    Yuy2Groups(
        [&](int32_t k, uint8_t* out) KVX_AVX2 {
          Yuy2Group<kBlend, kOddStart>(line, weights + 2 * k, offsets + k, out, a, inverse);
        },
        count, dst);
  }
}

template <bool kBlend>
KVX_AVX2 void ColumnYuy2(const uint8_t* line, const ColumnTable& table, int32_t count, uint8_t* dst,
                         bool odd, uint32_t alpha) {
  if (odd) {
    Yuy2Row<kBlend, true>(line, table, count, dst, alpha);
  } else {
    Yuy2Row<kBlend, false>(line, table, count, dst, alpha);
  }
}

// Spreads four packed B G R pixels (12 bytes of each half) to B G R 0.
KVX_AVX2 inline __m256i SpreadRgb(__m256i packed) {
  const __m256i spread = _mm256_setr_epi8(0, 1, 2, -1, 3, 4, 5, -1, 6, 7, 8, -1, 9, 10, 11, -1, 0,
                                          1, 2, -1, 3, 4, 5, -1, 6, 7, 8, -1, 9, 10, 11, -1);
  return _mm256_shuffle_epi8(packed, spread);
}

// A multiply the compiler is kept from turning into shifts and adds, which take more
// instructions than the one multiply.
KVX_AVX2 inline __m256i Times(__m256i v, int16_t factor) {
  __m256i f = _mm256_set1_epi16(factor);
  __asm__("" : "+x"(f));
  return _mm256_mullo_epi16(v, f);
}

// Sixteen packed B G R pixels widened to 16-bit lanes, a channel a register, in the order 0-3,
// 8-11 | 4-7, 12-15. a holds pixels 0-3 and 4-7 in its halves (12 bytes each), b pixels 8-11 and
// 12-15.
struct Channels {
  __m256i b;
  __m256i g;
  __m256i r;
};

KVX_AVX2 inline Channels RgbChannels(__m256i a, __m256i b) {
  const __m256i blueGreen =
      _mm256_setr_epi8(0, -1, 3, -1, 6, -1, 9, -1, 1, -1, 4, -1, 7, -1, 10, -1, 0, -1, 3, -1, 6, -1,
                       9, -1, 1, -1, 4, -1, 7, -1, 10, -1);
  const __m256i redBytes =
      _mm256_setr_epi8(2, -1, 5, -1, 8, -1, 11, -1, -1, -1, -1, -1, -1, -1, -1, -1, 2, -1, 5, -1, 8,
                       -1, 11, -1, -1, -1, -1, -1, -1, -1, -1, -1);
  const __m256i bgA = _mm256_shuffle_epi8(a, blueGreen);
  const __m256i bgB = _mm256_shuffle_epi8(b, blueGreen);
  return {
      _mm256_unpacklo_epi64(bgA, bgB), _mm256_unpackhi_epi64(bgA, bgB),
      _mm256_unpacklo_epi64(_mm256_shuffle_epi8(a, redBytes), _mm256_shuffle_epi8(b, redBytes))};
}

// Sixteen pixels' channels as Y U Y V elements, the sums taken as in the SSE2 kernel on the
// differences b - g and r - g.
KVX_AVX2 inline void RgbToYuyv(Channels c, __m256i& first, __m256i& second) {
  const __m256i blue = _mm256_sub_epi16(c.b, c.g);
  const __m256i red = _mm256_sub_epi16(c.r, c.g);
  const __m256i half = _mm256_set1_epi16(static_cast<int16_t>(32768));
  const __m256i top = _mm256_set1_epi16(static_cast<int16_t>(0xFF00));
  const __m256i y = _mm256_add_epi16(
      c.g, _mm256_srai_epi16(_mm256_add_epi16(Times(blue, 29), Times(red, 77)), 8));
  const __m256i u = _mm256_and_si256(
      _mm256_add_epi16(_mm256_sub_epi16(_mm256_slli_epi16(blue, 7), Times(red, 43)), half), top);
  const __m256i v = _mm256_and_si256(
      _mm256_add_epi16(_mm256_sub_epi16(_mm256_slli_epi16(red, 7), Times(blue, 21)), half), top);
  const __m256i yu = _mm256_or_si256(y, u);
  const __m256i yv = _mm256_or_si256(y, v);
  // The unpacks put the lanes back in pixel order: 0-3 | 4-7, then 8-11 | 12-15.
  first = _mm256_unpacklo_epi16(yu, yv);
  second = _mm256_unpackhi_epi16(yu, yv);
}

// 16 bytes at p and 16 at p + 12 as the halves of one register: four packed pixels in each.
KVX_AVX2 inline __m256i FourAndFour(const uint8_t* p) {
  return _mm256_inserti128_si256(
      _mm256_castsi128_si256(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p))),
      _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 12)), 1);
}

// Sixteen pixels of both rows (48 bytes from each, reading 52) interpolated in their 16-bit
// lanes, which gives the bytes interpolating the packed bytes gives, and converted.
template <bool kLerp>
KVX_AVX2 inline void RgbToYuyvSixteen(const uint8_t* p0, const uint8_t* p1, __m256i w,
                                      uint8_t* out) {
  Channels c = RgbChannels(FourAndFour(p0), FourAndFour(p0 + 24));
  if (kLerp) {
    const Channels d = RgbChannels(FourAndFour(p1), FourAndFour(p1 + 24));
    c = {Lerp16x16(c.b, d.b, w), Lerp16x16(c.g, d.g, w), Lerp16x16(c.r, d.r, w)};
  }
  __m256i first;
  __m256i second;
  RgbToYuyv(c, first, second);
  _mm256_storeu_si256(reinterpret_cast<__m256i*>(out), first);
  _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + 32), second);
}

template <bool kLerp>
KVX_AVX2 void RgbRowToYuy2(const uint8_t* row0, const uint8_t* row1, __m256i w, int32_t pixels,
                           uint8_t* line) {
  int32_t k = 0;
  for (; k + 16 <= pixels && 3 * k + 52 <= 3 * pixels; k += 16) {
    RgbToYuyvSixteen<kLerp>(row0 + 3 * k, row1 + 3 * k, w, line + 4 * k);
  }
  for (; k < pixels; k += 16) {
    // The rest through copies, sixteen pixels at most at a time, so nothing past either row is
    // read.
    alignas(32) uint8_t a[52] = {}, b[52] = {}, out[64];
    const int32_t left = std::min(pixels - k, 16);
    x86::CopyShort<52>(a, row0 + 3 * k, static_cast<size_t>(3 * left));
    x86::CopyShort<52>(b, row1 + 3 * k, static_cast<size_t>(3 * left));
    RgbToYuyvSixteen<kLerp>(a, b, w, out);
    x86::CopyShort<64>(line + 4 * k, out, static_cast<size_t>(4 * left));
  }
}

KVX_AVX2 void RgbToYuy2(const uint8_t* row0, const uint8_t* row1, uint32_t weight, int32_t pixels,
                        uint8_t* line) {
  const __m256i w = _mm256_set1_epi16(static_cast<int16_t>(weight));
  if (weight != 0) {
    RgbRowToYuy2<true>(row0, row1, w, pixels, line);
  } else {
    RgbRowToYuy2<false>(row0, row1, w, pixels, line);
  }
}

// RGB24 rows onto an RGB24 host, as in the SSE2 kernel: interpolated into the end of the line
// buffer, then spread into elements from the front, sixteen pixels at a time.
KVX_AVX2 void RgbToRgb(const uint8_t* row0, const uint8_t* row1, uint32_t weight, int32_t pixels,
                       uint8_t* line) {
  const int32_t bytes = 3 * pixels;
  uint8_t* packed = line + 4 * pixels - bytes + 8;
  const __m256i w = _mm256_set1_epi16(static_cast<int16_t>(weight));
  int32_t i = 0;
  for (; i + 32 <= bytes; i += 32) {
    const __m256i a = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(row0 + i));
    const __m256i b = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(row1 + i));
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(packed + i),
                        weight != 0 ? LerpBytes32(a, b, w) : a);
  }
  if (i < bytes) {
    alignas(32) uint8_t a[32] = {}, b[32] = {};
    x86::CopyShort<32>(a, row0 + i, static_cast<size_t>(bytes - i));
    x86::CopyShort<32>(b, row1 + i, static_cast<size_t>(bytes - i));
    const __m256i v = LerpBytes32(_mm256_load_si256(reinterpret_cast<const __m256i*>(a)),
                                  _mm256_load_si256(reinterpret_cast<const __m256i*>(b)), w);
    _mm256_store_si256(reinterpret_cast<__m256i*>(a), v);
    x86::CopyShort<32>(packed + i, a, static_cast<size_t>(bytes - i));
  }
  // Each step reads 52 bytes before writing 64; the writes stay behind the unread bytes, and
  // the reads inside the packed pixels.
  const auto sixteen = [](const uint8_t* p, uint8_t* out) KVX_AVX2 {
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(out), SpreadRgb(FourAndFour(p)));
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + 32), SpreadRgb(FourAndFour(p + 24)));
  };
  int32_t k = 0;
  for (; k + 16 <= pixels && 3 * k + 52 <= bytes; k += 16) {
    sixteen(packed + 3 * k, line + 4 * k);
  }
  for (; k < pixels; k += 16) {
    // The rest through copies of its packed bytes, sixteen pixels at most at a time.
    alignas(32) uint8_t rest[52] = {}, out[64];
    const int32_t left = std::min(pixels - k, 16);
    x86::CopyShort<52>(rest, packed + 3 * k, static_cast<size_t>(3 * left));
    sixteen(rest, out);
    x86::CopyShort<64>(line + 4 * k, out, static_cast<size_t>(4 * left));
  }
}

// Eight pixels' interpolated B G R: x for pixels 0-1 | 4-5, y for 2-3 | 6-7, as 16-bit lanes
// B G R B G R 0 0 per half.
struct RgbLanes {
  __m256i x;
  __m256i y;
};

// A group's 24 destination bytes as [0-15 | 8-23], for the blend.
KVX_AVX2 inline __m256i LoadRgbGroup(const uint8_t* out) {
  return TwoHalves(out, out + 8);
}

// Eight pixels into 24 RGB24 destination bytes, blended with d (from LoadRgbGroup) or not. With
// kSpill the last 4 of 28 bytes written land on the next group's first pixel, which that group
// writes again; its bytes must have been read before.
template <bool kBlend, bool kSpill>
KVX_AVX2 inline void PutRgbGroup(RgbLanes s, __m256i d, uint8_t* out, __m256i alpha,
                                 __m256i inverse) {
  if (kBlend) {
    const __m256i dx = _mm256_shuffle_epi8(
        d, _mm256_setr_epi8(0, -1, 1, -1, 2, -1, 3, -1, 4, -1, 5, -1, -1, -1, -1, -1, 4, -1, 5, -1,
                            6, -1, 7, -1, 8, -1, 9, -1, -1, -1, -1, -1));
    const __m256i dy = _mm256_shuffle_epi8(
        d, _mm256_setr_epi8(6, -1, 7, -1, 8, -1, 9, -1, 10, -1, 11, -1, -1, -1, -1, -1, 10, -1, 11,
                            -1, 12, -1, 13, -1, 14, -1, 15, -1, -1, -1, -1, -1));
    s.x = _mm256_srli_epi16(
        _mm256_add_epi16(_mm256_mullo_epi16(dx, inverse), _mm256_mullo_epi16(s.x, alpha)), 8);
    s.y = _mm256_srli_epi16(
        _mm256_add_epi16(_mm256_mullo_epi16(dy, inverse), _mm256_mullo_epi16(s.y, alpha)), 8);
  }
  // Per half [p p 0 0 p p 0 0] bytes to 12 packed ones.
  const __m256i packed =
      _mm256_shuffle_epi8(_mm256_packus_epi16(s.x, s.y),
                          _mm256_setr_epi8(0, 1, 2, 3, 4, 5, 8, 9, 10, 11, 12, 13, -1, -1, -1, -1,
                                           0, 1, 2, 3, 4, 5, 8, 9, 10, 11, 12, 13, -1, -1, -1, -1));
  // The first store's last 4 bytes are overwritten by the second half's 12.
  _mm_storeu_si128(reinterpret_cast<__m128i*>(out), _mm256_castsi256_si128(packed));
  if (kSpill) {
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 12), _mm256_extracti128_si256(packed, 1));
  } else {
    const __m128i high = _mm256_extracti128_si256(packed, 1);
    _mm_storel_epi64(reinterpret_cast<__m128i*>(out + 12), high);
    x86::Store4(out + 20, _mm_srli_si128(high, 8));
  }
}

// Eight pixels' samples, each loaded on its own: this serves any reduction. A pixel owns bytes
// 0-2 (B G R) of its samples, so only those are interpolated, as the YUY2 kernel does with its
// two.
KVX_AVX2 inline RgbLanes RgbSamples(const uint8_t* line, const uint16_t* groupWeights,
                                    const int32_t* offset) {
  const __m256i x = FourSamples(line, offset, 0, 1, 4, 5);
  const __m256i y = FourSamples(line, offset, 2, 3, 6, 7);
  // Per half, two pixels' B G R widened: of their first elements, and of their second ones.
  const __m256i first = _mm256_setr_epi8(0, -1, 1, -1, 2, -1, 8, -1, 9, -1, 10, -1, -1, -1, -1, -1,
                                         0, -1, 1, -1, 2, -1, 8, -1, 9, -1, 10, -1, -1, -1, -1, -1);
  const __m256i second =
      _mm256_setr_epi8(4, -1, 5, -1, 6, -1, 12, -1, 13, -1, 14, -1, -1, -1, -1, -1, 4, -1, 5, -1, 6,
                       -1, 12, -1, 13, -1, 14, -1, -1, -1, -1, -1);
  return {Lerp16x16(_mm256_shuffle_epi8(x, first), _mm256_shuffle_epi8(x, second),
                    _mm256_loadu_si256(reinterpret_cast<const __m256i*>(groupWeights))),
          Lerp16x16(_mm256_shuffle_epi8(y, first), _mm256_shuffle_epi8(y, second),
                    _mm256_loadu_si256(reinterpret_cast<const __m256i*>(groupWeights + 16)))};
}

// The same from two loads of 16 bytes a pair, each pair's samples taken out by the table's own
// masks: four loads where the other reads eight, and no blends.
KVX_AVX2 inline RgbLanes RgbSamplesInWindows(const uint8_t* line, const uint16_t* groupWeights,
                                             const int32_t* offset, const uint8_t* masks) {
  const __m256i x = Windows(line, offset, 0, 4);
  const __m256i y = Windows(line, offset, 2, 6);
  return {Lerp16x16(_mm256_shuffle_epi8(x, Mask(masks, 0)), _mm256_shuffle_epi8(x, Mask(masks, 1)),
                    _mm256_loadu_si256(reinterpret_cast<const __m256i*>(groupWeights))),
          Lerp16x16(_mm256_shuffle_epi8(y, Mask(masks, 2)), _mm256_shuffle_epi8(y, Mask(masks, 3)),
                    _mm256_loadu_si256(reinterpret_cast<const __m256i*>(groupWeights + 16)))};
}

// The groups of a row, samples(k) giving group k's lanes. Each group's destination bytes are
// read before the group ahead spills onto them; the last whole group and the rest (through a
// copy) write exactly their own bytes.
template <bool kBlend, class Samples>
KVX_AVX2 inline void RgbRow(const Samples& samples, int32_t count, uint8_t* dst, __m256i alpha,
                            __m256i inverse) {
  int32_t k = 0;
  if (count >= 8) {
    __m256i d = kBlend ? LoadRgbGroup(dst) : _mm256_setzero_si256();
    for (; k + 16 <= count; k += 8) {
      const RgbLanes s = samples(k);
      const __m256i next = kBlend ? LoadRgbGroup(dst + 3 * k + 24) : d;
      PutRgbGroup<kBlend, true>(s, d, dst + 3 * k, alpha, inverse);
      d = next;
    }
    PutRgbGroup<kBlend, false>(samples(k), d, dst + 3 * k, alpha, inverse);
    k += 8;
  }
  if (k < count) {
    uint8_t tail[24] = {};
    const size_t bytes = 3 * static_cast<size_t>(count - k);
    x86::CopyShort<24>(tail, dst + 3 * k, bytes);
    PutRgbGroup<kBlend, false>(samples(k), LoadRgbGroup(tail), tail, alpha, inverse);
    x86::CopyShort<24>(dst + 3 * k, tail, bytes);
  }
}

template <bool kBlend>
KVX_AVX2 void ColumnRgb(const uint8_t* line, const ColumnTable& table, int32_t count, uint8_t* dst,
                        bool, uint32_t alpha) {
  const __m256i a = _mm256_set1_epi16(static_cast<int16_t>(alpha));
  const __m256i inverse = _mm256_set1_epi16(static_cast<int16_t>(256 - alpha));
  // Held apart from the table: the stores to dst could otherwise alias it.
  const uint16_t* const weights = table.rgbWeights;
  const int32_t* const offsets = table.offsets;
  const uint8_t* const masks = table.rgbShuffles;
  if (masks != nullptr) {
    RgbRow<kBlend>(
        [&](int32_t k) KVX_AVX2 {
          return RgbSamplesInWindows(line, weights + 4 * k, offsets + k, masks + 16 * k);
        },
        count, dst, a, inverse);
  } else {
    RgbRow<kBlend>([&](int32_t k)
                       KVX_AVX2 { return RgbSamples(line, weights + 4 * k, offsets + k); },
                   count, dst, a, inverse);
  }
}

KVX_AVX2 void BlendRun(const uint8_t* src, uint8_t* dst, int32_t bytes, uint32_t alpha) {
  const __m256i a = _mm256_set1_epi16(static_cast<int16_t>(alpha));
  const __m256i inverse = _mm256_set1_epi16(static_cast<int16_t>(256 - alpha));
  int32_t i = 0;
  for (; i + 16 <= bytes; i += 16) {
    const __m256i s =
        _mm256_cvtepu8_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(src + i)));
    const __m256i d =
        _mm256_cvtepu8_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(dst + i)));
    const __m256i mixed = _mm256_srli_epi16(
        _mm256_add_epi16(_mm256_mullo_epi16(d, inverse), _mm256_mullo_epi16(s, a)), 8);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(dst + i),
                     _mm256_castsi256_si128(_mm256_permute4x64_epi64(
                         _mm256_packus_epi16(mixed, mixed), _MM_SHUFFLE(3, 1, 2, 0))));
  }
  if (i < bytes) {
    ScalarKernels().blendRun(src + i, dst + i, bytes - i, alpha);
  }
}

KernelSet MakeAvx2Kernels() {
  KernelSet k = Sse2Kernels();
  k.yuy2ToYuy2 = Row422<false, false>;
  k.uyvyToYuy2 = Row422<true, false>;
  k.yuy2ToRgb = Row422<false, true>;
  k.uyvyToRgb = Row422<true, true>;
  k.copyYuy2 = ColumnYuy2<false>;
  k.blendYuy2 = ColumnYuy2<true>;
  k.rgbToYuy2 = RgbToYuy2;
  k.rgbToRgb = RgbToRgb;
  k.copyRgb = ColumnRgb<false>;
  k.blendRgb = ColumnRgb<true>;
  k.blendRun = BlendRun;
  return k;
}

}  // namespace

const KernelSet& Avx2Kernels() {
  static const KernelSet kernels = MakeAvx2Kernels();
  return kernels;
}

}  // namespace kvx

#endif
