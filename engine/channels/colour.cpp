// Pixels through the colour tables: matrix and curves in 1.14 fixed point,
// cubes interpolated in tetrahedra with 15-bit nodes (SSE2 where the
// compiler targets it, the same integer arithmetic as the plain loop).
#include "engine/channels/colour.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace engine {
namespace {

inline int32_t Clamp14(int32_t v) { return v < 0 ? 0 : v > 16384 ? 16384 : v; }

// One matrix-and-curves pixel, in place.
inline void MatrixPixel(const ColourTables* t, uint8_t* p) {
  const int32_t r = t->shaper_in[0][p[2]];
  const int32_t g = t->shaper_in[1][p[1]];
  const int32_t b = t->shaper_in[2][p[0]];
  const int32_t(*m)[3] = t->matrix;
  const int32_t l0 = (m[0][0] * r + m[0][1] * g + m[0][2] * b + 0x2000) >> 14;
  const int32_t l1 = (m[1][0] * r + m[1][1] * g + m[1][2] * b + 0x2000) >> 14;
  const int32_t l2 = (m[2][0] * r + m[2][1] * g + m[2][2] * b + 0x2000) >> 14;
  p[2] = t->shaper_out[0][Clamp14(l0)];
  p[1] = t->shaper_out[1][Clamp14(l1)];
  p[0] = t->shaper_out[2][Clamp14(l2)];
}

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

void CubePixels(const ColourTables* t, uint8_t* pixels, uint32_t n,
                uint32_t step) {
  const uint32_t nodes = t->nodes;
  const uint32_t sz = 4, sy = 4 * nodes, sx = 4 * nodes * nodes;
  for (uint32_t i = 0; i < n; ++i) {
    uint8_t* p = pixels + static_cast<uint64_t>(step) * i;
    const uint8_t r = p[2], g = p[1], b = p[0];
    const uint16_t* n0 = t->cubes + sx * t->axis_node[r] +
                         sy * t->axis_node[g] + sz * t->axis_node[b];
    CubePixel(n0, sx, sy, sz, t->axis_fraction[r], t->axis_fraction[g],
              t->axis_fraction[b], p);
  }
}

}  // namespace

void ConvertBgrPixels(const ColourTables* t, uint8_t* pixels, uint32_t n,
                      uint32_t step) {
  switch (t->kind) {
    case kColourGray:
      // Gray pixels hold their level in each of the three bytes.
      for (uint32_t i = 0; i < n; ++i) {
        uint8_t* p = pixels + static_cast<uint64_t>(step) * i;
        const uint8_t* entry = t->gray[p[0]];
        p[0] = entry[0];
        p[1] = entry[1];
        p[2] = entry[2];
      }
      break;
    case kColourRgbMatrix:
      for (uint32_t i = 0; i < n; ++i) {
        MatrixPixel(t, pixels + static_cast<uint64_t>(step) * i);
      }
      break;
    case kColourRgbCube:
      CubePixels(t, pixels, n, step);
      break;
    default:
      break;
  }
}

void ConvertCmykPixels(const ColourTables* t, const uint8_t* c,
                       const uint8_t* m, const uint8_t* y, const uint8_t* k,
                       uint32_t n, uint32_t step, uint8_t* out) {
  const uint32_t nodes = t->nodes;
  const uint32_t sz = 4, sy = 4 * nodes, sx = 4 * nodes * nodes;
  const uint16_t* node = t->axis_node;
  const uint16_t* fraction = t->axis_fraction;
  for (uint32_t i = 0; i < n; ++i) {
    // The cube of the pixel's black value (255 stored is no ink).
    const uint16_t* cube =
        t->cubes + static_cast<uint64_t>(t->cube_elements) * (255 - k[i]);
    const uint16_t* n0 =
        cube + sx * node[c[i]] + sy * node[m[i]] + sz * node[y[i]];
    uint8_t* pixel = out + static_cast<uint64_t>(step) * i;
    CubePixel(n0, sx, sy, sz, fraction[c[i]], fraction[m[i]], fraction[y[i]],
              pixel);
    if (step == 4) pixel[3] = 255;
  }
}

void ConvertPalette(const ColourTables* t, uint8_t* entries) {
  if (t->kind == kColourGray) {
    for (uint32_t i = 0; i < 256; ++i) {
      for (int c = 0; c < 3; ++c) entries[4 * i + c] = t->gray[i][c];
    }
    return;
  }
  ConvertBgrPixels(t, entries, 256, 4);
}

}  // namespace engine
