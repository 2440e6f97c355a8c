// Tetrahedral interpolation in the colour tables' cubes (colour.cpp and
// colour_wide.cpp): 15-bit node values, fractions in 1/4096, SSE2 where the
// compiler targets it, the same integer arithmetic as the plain loop.
#pragma once

#include "engine/channels/colour.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace engine {
namespace cube {

#if !defined(__SSE2__)
// A node value (0..32767) to its byte.
inline uint8_t ByteOfNode(int32_t v) {
  return static_cast<uint8_t>((255 * v + 16384) >> 15);
}
#endif

// The axes in the order of their fractions, largest first, by which of
// x >= y (bit 0), y >= z (bit 1) and x >= z (bit 2) hold; the two
// impossible combinations take any order. A table instead of branches: in
// noisy pictures the order changes from pixel to pixel.
const uint8_t kAxisOrder[8][3] = {{2, 1, 0}, {2, 0, 1}, {1, 2, 0}, {0, 1, 2},
                                  {0, 1, 2}, {0, 2, 1}, {1, 0, 2}, {0, 1, 2}};

// Tetrahedral interpolation in the cell whose first node is `n0`: the path
// to the far corner steps along the axes in the order of their fractions.
// Strides are in 16-bit values.
inline void CubePixel(const uint16_t* n0, uint32_t sx, uint32_t sy, uint32_t sz,
                      int32_t fx, int32_t fy, int32_t fz, uint8_t* bgr) {
  const uint32_t which = static_cast<uint32_t>(fx >= fy) |
                         static_cast<uint32_t>(fy >= fz) << 1 |
                         static_cast<uint32_t>(fx >= fz) << 2;
  const uint8_t* order = kAxisOrder[which];
  const uint32_t strides[3] = {sx, sy, sz};
  const int32_t fractions[3] = {fx, fy, fz};
  const uint32_t s1 = strides[order[0]], s2 = strides[order[1]],
                 s3 = strides[order[2]];
  const int32_t f1 = fractions[order[0]], f2 = fractions[order[1]],
                f3 = fractions[order[2]];
#if defined(__SSE2__)
  // The three colours at once: node differences (15 bits and a sign) times
  // the fractions, paired for the multiply-add.
  const __m128i v0 = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(n0));
  const uint16_t* n1 = n0 + s1;
  const uint16_t* n2 = n1 + s2;
  const uint16_t* n3 = n2 + s3;
  const __m128i v1 = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(n1));
  const __m128i v2 = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(n2));
  const __m128i v3 = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(n3));
  const __m128i zero = _mm_setzero_si128();
  const __m128i d12 =
      _mm_unpacklo_epi16(_mm_sub_epi16(v1, v0), _mm_sub_epi16(v2, v1));
  const __m128i d3 = _mm_unpacklo_epi16(_mm_sub_epi16(v3, v2), zero);
  const __m128i sum =
      _mm_add_epi32(_mm_madd_epi16(d12, _mm_set1_epi32(f1 | f2 << 16)),
                    _mm_madd_epi16(d3, _mm_set1_epi32(f3)));
  const __m128i value = _mm_add_epi32(
      _mm_unpacklo_epi16(v0, zero),
      _mm_srai_epi32(_mm_add_epi32(sum, _mm_set1_epi32(kFractionOne / 2)), 12));
  // Each value v (0..32767) to its byte, (255 v + 16384) >> 15, as one
  // multiply-add of (v, 1) and (255, 16384).
  const __m128i pairs =
      _mm_unpacklo_epi16(_mm_packs_epi32(value, zero), _mm_set1_epi16(1));
  const __m128i bytes = _mm_srli_epi32(
      _mm_madd_epi16(pairs, _mm_set1_epi32(255 | 16384 << 16)), 15);
  const uint32_t rgb = static_cast<uint32_t>(
      _mm_cvtsi128_si32(_mm_packus_epi16(_mm_packs_epi32(bytes, zero), zero)));
  bgr[2] = static_cast<uint8_t>(rgb);
  bgr[1] = static_cast<uint8_t>(rgb >> 8);
  bgr[0] = static_cast<uint8_t>(rgb >> 16);
#else
  const uint16_t* n1 = n0 + s1;
  const uint16_t* n2 = n1 + s2;
  const uint16_t* n3 = n2 + s3;
  for (int c = 0; c < 3; ++c) {
    const int32_t v0 = n0[c];
    const int32_t sum = (n1[c] - v0) * f1 + (n2[c] - n1[c]) * f2 +
                        (n3[c] - n2[c]) * f3 + kFractionOne / 2;
    bgr[2 - c] = ByteOfNode(v0 + (sum >> 12));
  }
#endif
}

}  // namespace cube
}  // namespace engine
