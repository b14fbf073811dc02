// SSE2 kernels: four 4:2:2 pairs or four destination pixels per step. The rows' ends go through
// copies into small buffers, but for the blended runs', which go to the reference kernel.
#include "compose/kernels.h"

#if defined(__x86_64__) || defined(__i386__)

#include "compose/kernels_x86.h"

namespace kvx {
namespace {

using namespace x86;

// Y0 U Y1 V pairs (as dwords) to the elements Y0 U Y0 V and Y1 U Y1 V, in pixel order.
KVX_SSE2 void PutYuvPairsForYuy2(__m128i pairs, uint8_t* line) {
  const __m128i y0 = _mm_and_si128(pairs, _mm_set1_epi32(0xFF));
  const __m128i first =
      _mm_or_si128(_mm_and_si128(pairs, _mm_set1_epi32(0xFF00FFFF)), _mm_slli_epi32(y0, 16));
  const __m128i y1 = _mm_and_si128(_mm_srli_epi32(pairs, 16), _mm_set1_epi32(0xFF));
  const __m128i second =
      _mm_or_si128(_mm_and_si128(pairs, _mm_set1_epi32(static_cast<int>(0xFFFFFF00))), y1);
  _mm_storeu_si128(reinterpret_cast<__m128i*>(line), _mm_unpacklo_epi32(first, second));
  _mm_storeu_si128(reinterpret_cast<__m128i*>(line + 16), _mm_unpackhi_epi32(first, second));
}

// Four Y0 U Y1 V pairs to eight elements B G R Y.
KVX_SSE2 void PutYuvPairsForRgb(__m128i pairs, uint8_t* line) {
  const __m128i y = _mm_and_si128(pairs, _mm_set1_epi16(0xFF));
  // U and V with their top bit flipped in the high byte of their lanes: (c - 128) * 256 as a
  // signed lane. The factors are the rules' over 16, so pmulhw gives the same
  // floor((c - 128) * factor / 4096).
  const __m128i uv =
      _mm_xor_si128(_mm_andnot_si128(y, pairs), _mm_set1_epi16(static_cast<int16_t>(0x8000)));
  const __m128i u = _mm_shufflehi_epi16(_mm_shufflelo_epi16(uv, _MM_SHUFFLE(2, 2, 0, 0)),
                                        _MM_SHUFFLE(2, 2, 0, 0));
  const __m128i v = _mm_shufflehi_epi16(_mm_shufflelo_epi16(uv, _MM_SHUFFLE(3, 3, 1, 1)),
                                        _MM_SHUFFLE(3, 3, 1, 1));
  const __m128i b = _mm_add_epi16(y, _mm_mulhi_epi16(u, _mm_set1_epi16(7264 / 16)));
  const __m128i g = _mm_add_epi16(_mm_add_epi16(y, _mm_mulhi_epi16(u, _mm_set1_epi16(-1376 / 16))),
                                  _mm_mulhi_epi16(v, _mm_set1_epi16(-2928 / 16)));
  const __m128i r = _mm_add_epi16(y, _mm_mulhi_epi16(v, _mm_set1_epi16(5744 / 16)));
  const __m128i bg = _mm_unpacklo_epi8(_mm_packus_epi16(b, b), _mm_packus_epi16(g, g));
  const __m128i ry = _mm_unpacklo_epi8(_mm_packus_epi16(r, r), _mm_packus_epi16(y, y));
  _mm_storeu_si128(reinterpret_cast<__m128i*>(line), _mm_unpacklo_epi16(bg, ry));
  _mm_storeu_si128(reinterpret_cast<__m128i*>(line + 16), _mm_unpackhi_epi16(bg, ry));
}

template <bool kUyvy, bool kRgbOut>
KVX_SSE2 inline void Row422Group(const uint8_t* row0, const uint8_t* row1, uint32_t weight,
                                 uint8_t* line) {
  __m128i p = _mm_loadu_si128(reinterpret_cast<const __m128i*>(row0));
  if (weight != 0) {
    p = LerpBytes16(p, _mm_loadu_si128(reinterpret_cast<const __m128i*>(row1)),
                    _mm_set1_epi16(static_cast<int16_t>(weight)));
  }
  if (kUyvy) {
    p = SwapBytes16(p);
  }
  if (kRgbOut) {
    PutYuvPairsForRgb(p, line);
  } else {
    PutYuvPairsForYuy2(p, line);
  }
}

template <bool kUyvy, bool kRgbOut>
KVX_SSE2 void Row422(const uint8_t* row0, const uint8_t* row1, uint32_t weight, int32_t pairs,
                     uint8_t* line) {
  int32_t i = 0;
  for (; i + 4 <= pairs; i += 4) {
    Row422Group<kUyvy, kRgbOut>(row0 + 4 * i, row1 + 4 * i, weight, line + 8 * i);
  }
  if (i < pairs) {
    // The last pairs through copies, so nothing past either row is read.
    alignas(16) uint8_t a[16] = {}, b[16] = {}, out[32];
    const size_t bytes = 4 * static_cast<size_t>(pairs - i);
    CopyShort<16>(a, row0 + 4 * i, bytes);
    CopyShort<16>(b, row1 + 4 * i, bytes);
    Row422Group<kUyvy, kRgbOut>(a, b, weight, out);
    CopyShort<32>(line + 8 * i, out, 2 * bytes);
  }
}

// Four packed B G R pixels (the first 12 of 16 bytes) as dwords B G R x.
KVX_SSE2 inline __m128i FourPixels(__m128i v) {
  const __m128i first = _mm_unpacklo_epi32(v, _mm_srli_si128(v, 3));
  const __m128i second = _mm_unpacklo_epi32(_mm_srli_si128(v, 6), _mm_srli_si128(v, 9));
  return _mm_unpacklo_epi64(first, second);
}

// Eight packed pixels (24 bytes, read as 16 at p and 16 at p + 12) as eight elements: B G R 0,
// or Y U Y V.
template <bool kRgbOut>
KVX_SSE2 inline void SpreadEight(const uint8_t* p, uint8_t* out) {
  const __m128i low = FourPixels(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p)));
  const __m128i high = FourPixels(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 12)));
  if (kRgbOut) {
    const __m128i bgr = _mm_set1_epi32(0x00FFFFFF);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out), _mm_and_si128(low, bgr));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 16), _mm_and_si128(high, bgr));
    return;
  }
  const __m128i byte = _mm_set1_epi32(0xFF);
  const auto channel = [&](int shift) KVX_SSE2 {
    return _mm_packs_epi32(_mm_and_si128(_mm_srli_epi32(low, shift), byte),
                           _mm_and_si128(_mm_srli_epi32(high, shift), byte));
  };
  PutYuyv(channel(0), channel(8), channel(16), out);
}

// RGB24 rows: the two rows are interpolated 16 bytes at a time into the end of the line buffer,
// then spread into elements from the front. Element i ends before packed pixel i + 1 starts, so
// the spreading never overwrites a byte it has yet to read.
template <bool kRgbOut>
KVX_SSE2 void RowRgb(const uint8_t* row0, const uint8_t* row1, uint32_t weight, int32_t pixels,
                     uint8_t* line) {
  const int32_t bytes = 3 * pixels;
  uint8_t* packed = line + 4 * pixels - bytes + 8;
  const __m128i w = _mm_set1_epi16(static_cast<int16_t>(weight));
  int32_t i = 0;
  for (; i + 16 <= bytes; i += 16) {
    const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(row0 + i));
    const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(row1 + i));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(packed + i),
                     weight != 0 ? LerpBytes16(a, b, w) : a);
  }
  if (i < bytes) {
    alignas(16) uint8_t a[16] = {}, b[16] = {};
    const auto rest = static_cast<size_t>(bytes - i);
    CopyShort<16>(a, row0 + i, rest);
    CopyShort<16>(b, row1 + i, rest);
    _mm_store_si128(reinterpret_cast<__m128i*>(a),
                    LerpBytes16(_mm_load_si128(reinterpret_cast<const __m128i*>(a)),
                                _mm_load_si128(reinterpret_cast<const __m128i*>(b)), w));
    CopyShort<16>(packed + i, a, rest);
  }
  // Eight pixels a step while both 16-byte loads stay inside the packed row; the rest through
  // copies of its packed bytes.
  int32_t k = 0;
  for (; k + 10 <= pixels; k += 8) {
    SpreadEight<kRgbOut>(packed + 3 * k, line + 4 * k);
  }
  for (; k < pixels; k += 8) {
    alignas(16) uint8_t rest[28] = {}, out[32];
    const int32_t left = pixels - k < 8 ? pixels - k : 8;
    CopyShort<28>(rest, packed + 3 * k, static_cast<size_t>(3 * left));
    SpreadEight<kRgbOut>(rest, out);
    CopyShort<32>(line + 4 * k, out, static_cast<size_t>(4 * left));
  }
}

// Four pixels into 8 destination bytes. A pixel owns two bytes of its samples: bytes 0-1 of an
// even pixel's elements, 2-3 of an odd one's. Each sample's 8 bytes (its first and second element)
// are loaded, and a mask merges two neighbours' loads into their owned bytes of both elements, in
// destination order: only those bytes are interpolated. Groups start at an even pixel, or at an
// odd one when the row does; then the merged halves come out swapped and are turned round.
template <bool kBlend, bool kOddStart>
KVX_SSE2 inline void Yuy2Group(const uint8_t* line, const uint16_t* pairWeights,
                               const int32_t* offset, uint8_t* out, __m128i a, __m128i inverse) {
  const __m128i low = _mm_set1_epi32(0xFFFF);
  const auto sample = [&](int i) KVX_SSE2 {
    return _mm_loadl_epi64(reinterpret_cast<const __m128i*>(line + offset[i]));
  };
  const auto merge = [&](int even, int odd) KVX_SSE2 {
    return _mm_or_si128(_mm_and_si128(low, sample(even)), _mm_andnot_si128(low, sample(odd)));
  };
  // [first elements of pixels 0-1, of 2-3, second elements of 0-1, of 2-3]
  __m128i owned = kOddStart ? _mm_unpacklo_epi32(merge(1, 0), merge(3, 2))
                            : _mm_unpacklo_epi32(merge(0, 1), merge(2, 3));
  if (kOddStart) {
    owned = _mm_shufflehi_epi16(_mm_shufflelo_epi16(owned, _MM_SHUFFLE(2, 3, 0, 1)),
                                _MM_SHUFFLE(2, 3, 0, 1));
  }
  const __m128i zero = _mm_setzero_si128();
  __m128i bytes = Lerp16(_mm_unpacklo_epi8(owned, zero), _mm_unpackhi_epi8(owned, zero),
                         _mm_loadu_si128(reinterpret_cast<const __m128i*>(pairWeights)));
  if (kBlend) {
    const __m128i d = _mm_unpacklo_epi8(_mm_loadl_epi64(reinterpret_cast<__m128i*>(out)), zero);
    bytes = Blend16(d, bytes, a, inverse);
  }
  _mm_storel_epi64(reinterpret_cast<__m128i*>(out), _mm_packus_epi16(bytes, bytes));
}

template <bool kBlend, bool kOddStart>
KVX_SSE2 void Yuy2Row(const uint8_t* line, const ColumnTable& table, int32_t count, uint8_t* dst,
                      uint32_t alpha) {
  const __m128i a = _mm_set1_epi16(static_cast<int16_t>(alpha));
  const __m128i inverse = _mm_set1_epi16(static_cast<int16_t>(256 - alpha));
  // Held apart from the table: the stores to dst could otherwise alias it.
  const uint16_t* const weights = table.pairWeights;
  const int32_t* const offsets = table.offsets;
  int32_t k = 0;
  for (; k + 4 <= count; k += 4) {
    Yuy2Group<kBlend, kOddStart>(line, weights + 2 * k, offsets + k, dst + 2 * k, a, inverse);
  }
  if (k < count) {
    // The last pixels go through a copy; the padded table keeps the loads inside the line.
    uint8_t tail[8] = {};
    const size_t bytes = 2 * static_cast<size_t>(count - k);
    CopyShort<8>(tail, dst + 2 * k, bytes);
    Yuy2Group<kBlend, kOddStart>(line, weights + 2 * k, offsets + k, tail, a, inverse);
    CopyShort<8>(dst + 2 * k, tail, bytes);
  }
}

template <bool kBlend>
KVX_SSE2 void ColumnYuy2(const uint8_t* line, const ColumnTable& table, int32_t count, uint8_t* dst,
                         bool odd, uint32_t alpha) {
  if (odd) {
    Yuy2Row<kBlend, true>(line, table, count, dst, alpha);
  } else {
    Yuy2Row<kBlend, false>(line, table, count, dst, alpha);
  }
}

// Four pixels' samples interpolated, as B G R x lanes of pixels 0-1 and 2-3. Each step's offset
// says where its first element is; its second is the element after (unused with weight 0).
KVX_SSE2 inline void RgbSamples(const uint8_t* line, const uint16_t* weights, const int32_t* offset,
                                __m128i& v01, __m128i& v23) {
  const auto sample = [&](int i) KVX_SSE2 {
    return _mm_loadl_epi64(reinterpret_cast<const __m128i*>(line + offset[i]));
  };
  const __m128i a = _mm_unpacklo_epi32(sample(0), sample(1));  // first 0, 1, second 0, 1
  const __m128i b = _mm_unpacklo_epi32(sample(2), sample(3));
  const __m128i first = _mm_unpacklo_epi64(a, b);
  const __m128i second = _mm_unpackhi_epi64(a, b);
  const __m128i zero = _mm_setzero_si128();
  v01 = Lerp16(_mm_unpacklo_epi8(first, zero), _mm_unpacklo_epi8(second, zero),
               _mm_loadu_si128(reinterpret_cast<const __m128i*>(weights)));
  v23 = Lerp16(_mm_unpackhi_epi8(first, zero), _mm_unpackhi_epi8(second, zero),
               _mm_loadu_si128(reinterpret_cast<const __m128i*>(weights + 8)));
}

// Four RGB24 destination pixels (13 bytes read) as dwords B G R x.
KVX_SSE2 inline __m128i LoadRgbFour(const uint8_t* out) {
  return _mm_unpacklo_epi64(_mm_unpacklo_epi32(Load4(out), Load4(out + 3)),
                            _mm_unpacklo_epi32(Load4(out + 6), Load4(out + 9)));
}

// Four pixels into 12 RGB24 destination bytes, blended with d (from LoadRgbFour) or not. The
// stores write 14 bytes: the last 2 land on the next group's first pixel, which that group (or
// the row's tail) writes again, and whose bytes it must have read before.
template <bool kBlend>
KVX_SSE2 inline void PutRgbFour(__m128i v01, __m128i v23, __m128i d, uint8_t* out, __m128i a,
                                __m128i inverse) {
  if (kBlend) {
    const __m128i zero = _mm_setzero_si128();
    v01 = Blend16(_mm_unpacklo_epi8(d, zero), v01, a, inverse);
    v23 = Blend16(_mm_unpackhi_epi8(d, zero), v23, a, inverse);
  }
  // Each quadword's [p x p x] to its two pixels' 6 bytes.
  const __m128i p = _mm_packus_epi16(v01, v23);
  const __m128i packed = _mm_or_si128(
      _mm_and_si128(p, _mm_set_epi32(0, 0x00FFFFFF, 0, 0x00FFFFFF)),
      _mm_and_si128(_mm_srli_epi64(p, 8), _mm_set_epi32(0xFFFF, static_cast<int>(0xFF000000),
                                                        0xFFFF, static_cast<int>(0xFF000000))));
  _mm_storel_epi64(reinterpret_cast<__m128i*>(out), packed);
  _mm_storel_epi64(reinterpret_cast<__m128i*>(out + 6), _mm_srli_si128(packed, 8));
}

// The row's last group (one to four pixels) goes through a copy taken before any group spills
// onto it; every group's destination bytes are read before the group behind it spills.
template <bool kBlend>
KVX_SSE2 void ColumnRgb(const uint8_t* line, const ColumnTable& table, int32_t count, uint8_t* dst,
                        bool, uint32_t alpha) {
  const __m128i a = _mm_set1_epi16(static_cast<int16_t>(alpha));
  const __m128i inverse = _mm_set1_epi16(static_cast<int16_t>(256 - alpha));
  // Held apart from the table: the stores to dst could otherwise alias it.
  const uint16_t* const weights = table.weights;
  const int32_t* const offsets = table.offsets;
  const int32_t last = (count - 1) & ~3;
  uint8_t tail[16] = {};
  const size_t tailBytes = 3 * static_cast<size_t>(count - last);
  CopyShort<16>(tail, dst + 3 * last, tailBytes);
  const __m128i zero = _mm_setzero_si128();
  __m128i d = kBlend && last > 0 ? LoadRgbFour(dst) : zero;
  __m128i v01;
  __m128i v23;
  for (int32_t k = 0; k < last; k += 4) {
    RgbSamples(line, weights + 4 * k, offsets + k, v01, v23);
    const __m128i next = kBlend && k + 4 < last ? LoadRgbFour(dst + 3 * k + 12) : zero;
    PutRgbFour<kBlend>(v01, v23, d, dst + 3 * k, a, inverse);
    d = next;
  }
  RgbSamples(line, weights + 4 * last, offsets + last, v01, v23);
  PutRgbFour<kBlend>(v01, v23, kBlend ? LoadRgbFour(tail) : zero, tail, a, inverse);
  CopyShort<16>(dst + 3 * last, tail, tailBytes);
}

KVX_SSE2 void BlendRun(const uint8_t* src, uint8_t* dst, int32_t bytes, uint32_t alpha) {
  const __m128i a = _mm_set1_epi16(static_cast<int16_t>(alpha));
  const __m128i inverse = _mm_set1_epi16(static_cast<int16_t>(256 - alpha));
  const __m128i zero = _mm_setzero_si128();
  int32_t i = 0;
  for (; i + 16 <= bytes; i += 16) {
    const __m128i s = _mm_loadu_si128(reinterpret_cast<const __m128i*>(src + i));
    const __m128i d = _mm_loadu_si128(reinterpret_cast<const __m128i*>(dst + i));
    const __m128i lo = Blend16(_mm_unpacklo_epi8(d, zero), _mm_unpacklo_epi8(s, zero), a, inverse);
    const __m128i hi = Blend16(_mm_unpackhi_epi8(d, zero), _mm_unpackhi_epi8(s, zero), a, inverse);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(dst + i), _mm_packus_epi16(lo, hi));
  }
  if (i < bytes) {
    ScalarKernels().blendRun(src + i, dst + i, bytes - i, alpha);
  }
}

}  // namespace

const KernelSet& Sse2Kernels() {
  static constexpr KernelSet kernels = {
      Row422<false, false>, Row422<true, false>, RowRgb<false>,     Row422<false, true>,
      Row422<true, true>,   RowRgb<true>,        ColumnYuy2<false>, ColumnYuy2<true>,
      ColumnRgb<false>,     ColumnRgb<true>,     BlendRun,
  };
  return kernels;
}

}  // namespace kvx

#endif
