// Pixels through the colour tables: matrix and curves in 1.14 fixed point,
// cubes interpolated in tetrahedra with 15-bit nodes (SSE2 where the
// compiler targets it, the same integer arithmetic as the plain loop).
#include "engine/channels/colour.h"

#include "engine/channels/colour_cube.h"

namespace engine {
namespace {

using cube::CubePixel;

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
