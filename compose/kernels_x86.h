// Helpers shared by the x86 kernel files. Every function carries its instruction set as a target
// attribute, so the files build without global -m flags and run only where the CPU has it.
#pragma once

#include <immintrin.h>

#include <cstdint>
#include <cstring>

#define KVX_SSE2 __attribute__((target("sse2")))
#define KVX_AVX2 __attribute__((target("avx2")))

namespace kvx::x86 {

KVX_SSE2 inline __m128i Load4(const uint8_t* p) {
  int32_t v;
  std::memcpy(&v, p, 4);
  return _mm_cvtsi32_si128(v);
}

KVX_SSE2 inline void Store4(uint8_t* p, __m128i v) {
  const int32_t x = _mm_cvtsi128_si32(v);
  std::memcpy(p, &x, 4);
}

// Copies the n <= kMax bytes of a row's end to or from a kernel's scratch buffer of kMax bytes:
// whole 16, 8 or 4-byte moves, the last one overlapping, so no library call is made for a
// handful of bytes.
template <size_t kMax>
inline void CopyShort(uint8_t* to, const uint8_t* from, size_t n) {
  n = n < kMax ? n : kMax;
  if constexpr (kMax >= 16) {
    if (n >= 16) {
      for (size_t i = 0; i + 16 < n; i += 16) {
        std::memcpy(to + i, from + i, 16);
      }
      std::memcpy(to + n - 16, from + n - 16, 16);
      return;
    }
  }
  if constexpr (kMax >= 8) {
    if (n >= 8) {
      std::memcpy(to, from, 8);
      std::memcpy(to + n - 8, from + n - 8, 8);
      return;
    }
  }
  if (n >= 4) {
    std::memcpy(to, from, 4);
    std::memcpy(to + n - 4, from + n - 4, 4);
    return;
  }
  for (size_t i = 0; i < n; ++i) {
    to[i] = from[i];
  }
}

// p0 + floor((p1 - p0) * w / 4096) on 16-bit lanes holding bytes: pmulhw of (p1 - p0) * 16 by w
// is exactly that floor.
KVX_SSE2 inline __m128i Lerp16(__m128i p0, __m128i p1, __m128i w) {
  return _mm_add_epi16(p0, _mm_mulhi_epi16(_mm_slli_epi16(_mm_sub_epi16(p1, p0), 4), w));
}

// 16 bytes interpolated between two rows.
KVX_SSE2 inline __m128i LerpBytes16(__m128i a, __m128i b, __m128i w) {
  const __m128i zero = _mm_setzero_si128();
  const __m128i lo = Lerp16(_mm_unpacklo_epi8(a, zero), _mm_unpacklo_epi8(b, zero), w);
  const __m128i hi = Lerp16(_mm_unpackhi_epi8(a, zero), _mm_unpackhi_epi8(b, zero), w);
  return _mm_packus_epi16(lo, hi);
}

// d + floor((s - d) * alpha / 256) as (d * (256 - alpha) + s * alpha) >> 8: both products are
// non-negative and their sum stays below 65536, so 16-bit lanes hold it exactly.
KVX_SSE2 inline __m128i Blend16(__m128i d, __m128i s, __m128i alpha, __m128i inverse) {
  return _mm_srli_epi16(_mm_add_epi16(_mm_mullo_epi16(d, inverse), _mm_mullo_epi16(s, alpha)), 8);
}

// Swaps the bytes of every 16-bit lane: U Y0 V Y1 -> Y0 U Y1 V.
KVX_SSE2 inline __m128i SwapBytes16(__m128i v) {
  return _mm_or_si128(_mm_slli_epi16(v, 8), _mm_srli_epi16(v, 8));
}

// A multiply the compiler is kept from turning into shifts and adds, which take more
// instructions than the one multiply.
KVX_SSE2 inline __m128i Times(__m128i v, int16_t factor) {
  __m128i f = _mm_set1_epi16(factor);
  __asm__("" : "+x"(f));
  return _mm_mullo_epi16(v, f);
}

// Eight pixels' B G R channels (16-bit lanes) as Y U Y V elements at out. The sums are taken on
// the differences b - g and r - g: Y = g + floor((29(b - g) + 77(r - g)) / 256), whose sum stays
// within +-27030; U and V, shifted up by 8, are the high bytes of 128(b - g) - 43(r - g) + 32768
// and 128(r - g) - 21(b - g) + 32768, whose true values lie between 128 and 65408, so the
// partial sums may wrap.
KVX_SSE2 inline void PutYuyv(__m128i b, __m128i g, __m128i r, uint8_t* out) {
  const __m128i blue = _mm_sub_epi16(b, g);
  const __m128i red = _mm_sub_epi16(r, g);
  const __m128i half = _mm_set1_epi16(static_cast<int16_t>(32768));
  const __m128i top = _mm_set1_epi16(static_cast<int16_t>(0xFF00));
  const __m128i y =
      _mm_add_epi16(g, _mm_srai_epi16(_mm_add_epi16(Times(blue, 29), Times(red, 77)), 8));
  const __m128i u = _mm_and_si128(
      _mm_add_epi16(_mm_sub_epi16(_mm_slli_epi16(blue, 7), Times(red, 43)), half), top);
  const __m128i v = _mm_and_si128(
      _mm_add_epi16(_mm_sub_epi16(_mm_slli_epi16(red, 7), Times(blue, 21)), half), top);
  const __m128i yu = _mm_or_si128(y, u);
  const __m128i yv = _mm_or_si128(y, v);
  _mm_storeu_si128(reinterpret_cast<__m128i*>(out), _mm_unpacklo_epi16(yu, yv));
  _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 16), _mm_unpackhi_epi16(yu, yv));
}

}  // namespace kvx::x86
