// Rows of 16-bit samples through a 16-bit document's colour tables: the
// matrix's input curves at every 16-bit value, the gray level of every
// 16-bit level, and the cubes at the sample's own place on each axis (CMYK
// between the cubes of the two black values around its black).
#include "engine/channels/colour.h"
#include "engine/channels/colour_cube.h"

namespace engine {
namespace {

// Sample i of a row of big-endian 16-bit samples.
inline uint32_t Sample(const uint8_t* row, uint32_t i) {
  return static_cast<uint32_t>(row[2 * i]) << 8 | row[2 * i + 1];
}

inline int32_t Clamp14(int32_t v) { return v < 0 ? 0 : v > 16384 ? 16384 : v; }

// A 16-bit value's lower node on an axis of `nodes` nodes and its fraction
// (1/4096) of the way to the next; the last node is reached from below.
inline void Place(uint32_t v, uint32_t nodes, uint32_t* node,
                  int32_t* fraction) {
  const uint32_t scaled = v * (nodes - 1);
  *node = scaled / 65535;
  *fraction =
      static_cast<int32_t>(((scaled % 65535) * kFractionOne + 32767) / 65535);
  if (*node == nodes - 1) {
    *node = nodes - 2;
    *fraction = kFractionOne;
  }
}

// Each sample's first byte picks its channel's node, which holds the
// matrix times the curve there; its second byte adds that many units of the
// node's rise (SSE2 where the compiler targets it: the same integer sums).
void MatrixRow(const ColourTables* t, const uint8_t* r, const uint8_t* g,
               const uint8_t* b, uint32_t n, uint32_t step, uint8_t* out) {
  const WideNode* red = t->wide_in;
  const WideNode* green = red + 256;
  const WideNode* blue = green + 256;
  for (uint32_t i = 0; i < n; ++i) {
    const WideNode* nr = &red[r[2 * i]];
    const WideNode* ng = &green[g[2 * i]];
    const WideNode* nb = &blue[b[2 * i]];
    const int32_t lr = r[2 * i + 1], lg = g[2 * i + 1], lb = b[2 * i + 1];
#if defined(__SSE2__)
    const __m128i base = _mm_add_epi32(
        _mm_add_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(nr)),
                      _mm_loadu_si128(reinterpret_cast<const __m128i*>(ng))),
        _mm_loadu_si128(reinterpret_cast<const __m128i*>(nb)));
    const __m128i rg = _mm_unpacklo_epi16(
        _mm_loadl_epi64(reinterpret_cast<const __m128i*>(nr->rise)),
        _mm_loadl_epi64(reinterpret_cast<const __m128i*>(ng->rise)));
    const __m128i bz = _mm_unpacklo_epi16(
        _mm_loadl_epi64(reinterpret_cast<const __m128i*>(nb->rise)),
        _mm_setzero_si128());
    __m128i sum = _mm_add_epi32(
        base, _mm_add_epi32(_mm_madd_epi16(rg, _mm_set1_epi32(lr | lg << 16)),
                            _mm_madd_epi16(bz, _mm_set1_epi32(lb))));
    sum = _mm_srai_epi32(_mm_add_epi32(sum, _mm_set1_epi32(0x2000)), 14);
    const int32_t l0 = _mm_cvtsi128_si32(sum);
    const int32_t l1 = _mm_cvtsi128_si32(_mm_shuffle_epi32(sum, 1));
    const int32_t l2 = _mm_cvtsi128_si32(_mm_shuffle_epi32(sum, 2));
#else
    int32_t l[3];
    for (int k = 0; k < 3; ++k) {
      l[k] = (nr->base[k] + ng->base[k] + nb->base[k] + nr->rise[k] * lr +
              ng->rise[k] * lg + nb->rise[k] * lb + 0x2000) >>
             14;
    }
    const int32_t l0 = l[0], l1 = l[1], l2 = l[2];
#endif
    uint8_t* p = out + static_cast<uint64_t>(step) * i;
    p[2] = t->shaper_out[0][Clamp14(l0)];
    p[1] = t->shaper_out[1][Clamp14(l1)];
    p[0] = t->shaper_out[2][Clamp14(l2)];
  }
}

void CubeRow(const ColourTables* t, const uint8_t* r, const uint8_t* g,
             const uint8_t* b, uint32_t n, uint32_t step, uint8_t* out) {
  const uint32_t nodes = t->nodes;
  const uint32_t sz = 4, sy = 4 * nodes, sx = 4 * nodes * nodes;
  for (uint32_t i = 0; i < n; ++i) {
    uint32_t nr, ng, nb;
    int32_t fr, fg, fb;
    Place(Sample(r, i), nodes, &nr, &fr);
    Place(Sample(g, i), nodes, &ng, &fg);
    Place(Sample(b, i), nodes, &nb, &fb);
    cube::CubePixel(t->cubes + sx * nr + sy * ng + sz * nb, sx, sy, sz, fr, fg,
                    fb, out + static_cast<uint64_t>(step) * i);
  }
}

// The three 15-bit values of the cell whose first node is `n0`, as
// CubePixel interpolates them, before they become bytes.
void CubeValues(const uint16_t* n0, const uint32_t* strides,
                const int32_t* fractions, int32_t* values) {
  const uint32_t which =
      static_cast<uint32_t>(fractions[0] >= fractions[1]) |
      static_cast<uint32_t>(fractions[1] >= fractions[2]) << 1 |
      static_cast<uint32_t>(fractions[0] >= fractions[2]) << 2;
  const uint8_t* order = cube::kAxisOrder[which];
  const uint16_t* n1 = n0 + strides[order[0]];
  const uint16_t* n2 = n1 + strides[order[1]];
  const uint16_t* n3 = n2 + strides[order[2]];
  for (int c = 0; c < 3; ++c) {
    const int32_t sum = (n1[c] - n0[c]) * fractions[order[0]] +
                        (n2[c] - n1[c]) * fractions[order[1]] +
                        (n3[c] - n2[c]) * fractions[order[2]] +
                        kFractionOne / 2;
    values[c] = n0[c] + (sum >> 12);
  }
}

}  // namespace

void ConvertRgbWide(const ColourTables* t, const uint8_t* r, const uint8_t* g,
                    const uint8_t* b, uint32_t n, uint32_t step, uint8_t* out) {
  if (t->kind == kColourRgbMatrix) {
    MatrixRow(t, r, g, b, n, step, out);
  } else if (t->kind == kColourRgbCube) {
    CubeRow(t, r, g, b, n, step, out);
  }
}

void ConvertGrayWide(const ColourTables* t, const uint8_t* v, uint32_t n,
                     uint32_t step, uint8_t* out) {
  const uint8_t* levels = t->wide_gray;
  if (step == 1) {
    for (uint32_t i = 0; i < n; ++i) out[i] = levels[Sample(v, i)];
    return;
  }
  for (uint32_t i = 0; i < n; ++i) {
    uint8_t* p = out + static_cast<uint64_t>(step) * i;
    p[0] = p[1] = p[2] = levels[Sample(v, i)];
  }
}

void ConvertCmykWide(const ColourTables* t, const uint8_t* c, const uint8_t* m,
                     const uint8_t* y, const uint8_t* k, uint32_t n,
                     uint32_t step, uint8_t* out) {
  const uint32_t nodes = t->nodes;
  const uint32_t strides[3] = {4 * nodes * nodes, 4 * nodes, 4};
  for (uint32_t i = 0; i < n; ++i) {
    // Ink is 65535 minus the stored value, on every axis.
    uint32_t node[3];
    int32_t fractions[3];
    Place(65535 - Sample(c, i), nodes, &node[0], &fractions[0]);
    Place(65535 - Sample(m, i), nodes, &node[1], &fractions[1]);
    Place(65535 - Sample(y, i), nodes, &node[2], &fractions[2]);
    const uint32_t at =
        strides[0] * node[0] + strides[1] * node[1] + strides[2] * node[2];
    // The black cubes below and above the pixel's black, 256 of them.
    const uint32_t black = (65535 - Sample(k, i)) * 255;
    const uint32_t k0 = black / 65535;
    const int32_t kf =
        static_cast<int32_t>(((black % 65535) * kFractionOne + 32767) / 65535);
    const uint16_t* cube0 =
        t->cubes + static_cast<uint64_t>(t->cube_elements) * k0;
    int32_t low[3], high[3];
    CubeValues(cube0 + at, strides, fractions, low);
    if (kf != 0) {
      CubeValues(cube0 + t->cube_elements + at, strides, fractions, high);
    }
    uint8_t* pixel = out + static_cast<uint64_t>(step) * i;
    for (int ch = 0; ch < 3; ++ch) {
      int32_t v = low[ch];
      if (kf != 0) v += ((high[ch] - low[ch]) * kf + kFractionOne / 2) >> 12;
      v = v < 0 ? 0 : v > 32767 ? 32767 : v;
      pixel[2 - ch] = static_cast<uint8_t>((255 * v + 16384) >> 15);
    }
    if (step == 4) pixel[3] = 255;
  }
}

}  // namespace engine
