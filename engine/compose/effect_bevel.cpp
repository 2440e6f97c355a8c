// Bevel and emboss. The shape gets a height: a ramp of the bevel's size
// from its edge inwards (inner bevel), outwards (outer bevel), half of it
// each way (emboss), or down to the edge from both sides (pillow emboss),
// rounded by a blur for the smooth technique. Lit from the light's
// direction, the slope's brighter side is the highlight and its darker
// side the shadow: each as far as it differs from a flat surface.
#include "engine/base/numbers.h"
#include "engine/compose/effect_cover.h"

namespace engine {
namespace {

// A square root close enough for distances (a first guess from the
// float's bits, then three Newton steps).
float Root(float v) {
  if (!(v > 0)) return 0;
  uint32_t bits;
  memcpy(&bits, &v, 4);
  bits = 0x1fbd1df5u + (bits >> 1);
  float r;
  memcpy(&r, &bits, 4);
  for (int i = 0; i < 3; ++i) r = 0.5f * (r + v / r);
  return r;
}

// Height (0..255) of a pixel `d` pixels from the edge (its centre half a
// pixel in), inside the shape or not.
uint8_t Height(BevelStyle style, bool inside, float d, float size) {
  const float half = size > 2 ? size / 2 : 1;
  d = d > 0.5f ? d - 0.5f : 0;
  float h;
  switch (style) {
    case kBevelOuter:
      h = inside ? 1 : 1 - (d < size ? d / size : 1);
      break;
    case kBevelEmboss:
      h = 0.5f + (inside ? 0.5f : -0.5f) * (d < half ? d / half : 1);
      break;
    case kBevelPillow:
      h = d < half ? d / half : 1;
      break;
    default:  // inner, stroke emboss
      h = inside ? (d < size ? d / size : 1) : 0;
      break;
  }
  return static_cast<uint8_t>(h * 255.0f + 0.5f);
}

// The height of every pixel into t->extra.
void BevelHeight(const Effect& e, EffectTile* t) {
  const uint64_t n = static_cast<uint64_t>(t->alpha.width) * t->alpha.height;
  for (uint64_t i = 0; i < n; ++i) {
    t->scratch[i] = t->alpha.bytes[i] >= 128 ? 255 : 0;
  }
  const Plane shape = {t->scratch, t->alpha.width, t->alpha.height};
  const float size = static_cast<float>(e.size > 0 ? e.size : 1);
  for (int side = 0; side < 2; ++side) {
    const bool inside = side == 0;
    DistancePlane(shape, inside, t->squared, t->work);
    for (uint64_t i = 0; i < n; ++i) {
      if ((t->scratch[i] != 0) != inside) continue;
      const float d = t->squared[i] > 1e9f ? 1e5f : Root(t->squared[i]);
      t->extra.bytes[i] = Height(e.style, inside, d, size);
    }
  }
  if (!e.chisel) BlurPlane(&t->extra, e.size / 2, t->scratch, t->sums);
}

}  // namespace

void BevelCover(const Effect& e, uint32_t part, EffectTile* t) {
  BevelHeight(e, t);
  const uint32_t w = t->cover.width, h = t->cover.height;
  // Height 255 stands for the size times the depth.
  const double scale = (e.depth / 100.0) * (e.size > 0 ? e.size : 1) / 255.0 *
                       (e.down ? -1.0 : 1.0);
  const double flat = e.light_z;
  for (uint32_t y = 0; y < h; ++y) {
    const uint8_t* up = PlaneRow(t->extra, y > 0 ? y - 1 : y);
    const uint8_t* mid = PlaneRow(t->extra, y);
    const uint8_t* down = PlaneRow(t->extra, y + 1 < h ? y + 1 : y);
    uint8_t* out = PlaneRow(t->cover, y);
    for (uint32_t x = 0; x < w; ++x) {
      const double gx =
          (mid[x + 1 < w ? x + 1 : x] - mid[x > 0 ? x - 1 : x]) * 0.5 * scale;
      const double gy = (down[x] - up[x]) * 0.5 * scale;
      if (gx == 0 && gy == 0) {
        out[x] = 0;
        continue;
      }
      // The normal (-gx, -gy, 1), unnormalised, against the light.
      const double lit = -gx * e.light_x - gy * e.light_y + e.light_z;
      const double length = Root(static_cast<float>(gx * gx + gy * gy + 1.0));
      const double shade = lit / length - flat;
      double v =
          part == 0 ? shade / (1.0 - flat + 1e-9) : -shade / (flat + 1e-9);
      v = v < 0 ? 0 : v > 1 ? 1 : v;
      out[x] = static_cast<uint8_t>(v * 255.0 + 0.5);
    }
  }
  if (e.soften > 0) BlurPlane(&t->cover, e.soften, t->scratch, t->sums);
  const uint8_t* a = t->alpha.bytes;
  const uint64_t n = static_cast<uint64_t>(w) * h;
  for (uint64_t i = 0; i < n; ++i) {
    const uint32_t within = e.style == kBevelInner   ? a[i]
                            : e.style == kBevelOuter ? 255 - a[i]
                                                     : 255;
    t->cover.bytes[i] =
        static_cast<uint8_t>(MulDiv255(t->cover.bytes[i], within));
  }
}

}  // namespace engine
