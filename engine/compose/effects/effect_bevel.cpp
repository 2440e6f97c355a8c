// Bevel and emboss. The shape gets a height by its signed distance from
// the edge: a ramp of the bevel's size inwards (inner bevel), outwards
// (outer bevel), half of it each way (emboss), or down to the edge from
// both sides (pillow emboss); straight for the chisel techniques, easing
// into the flat for the smooth one. Its slope is the ramp's along the
// distance's gradient (float distances: no banding). Lit from the light's
// direction, the slope's brighter side is the highlight and its darker
// side the shadow: each as far as it differs from a flat surface.
#include "engine/base/numbers.h"
#include "engine/compose/effects/effect_cover.h"

namespace engine {
namespace {

// The slope of the height against the signed distance s from the edge
// (positive inside), for a ramp of `size` pixels: straight (chisel) or
// easing into the flat (smooth).
float RampSlope(float s, float size, bool chisel) {
  if (s <= 0 || s >= size) return 0;
  return chisel ? 1.0f : 2.0f * (1.0f - s / size);
}

// dh/ds of the bevel's height at signed distance s.
float Slope(const Effect& e, float s) {
  const float size = static_cast<float>(e.size > 0 ? e.size : 1);
  const float half = size / 2 > 1 ? size / 2 : 1;
  switch (e.style) {
    case kBevelOuter:
      return RampSlope(size + s, size, e.chisel);
    case kBevelEmboss:
      return RampSlope(s + half, size, e.chisel);
    case kBevelPillow:
      return s >= 0 ? RampSlope(s, half, e.chisel)
                    : -RampSlope(-s, half, e.chisel);
    default:  // inner, stroke emboss
      return RampSlope(s, size, e.chisel);
  }
}

}  // namespace

void BevelCover(const Effect& e, uint32_t part, EffectTile* t) {
  EdgeDistancePlane(t->alpha, t->distance, t->squared, t->work, t->rows);
  const uint32_t w = t->cover.width, h = t->cover.height;
  const float depth = static_cast<float>(e.depth) / 100.0f * (e.down ? -1 : 1);
  const double flat = e.light_z;
  for (uint32_t y = 0; y < h; ++y) {
    const float* up =
        t->distance + static_cast<uint64_t>(y > 0 ? y - 1 : y) * w;
    const float* mid = t->distance + static_cast<uint64_t>(y) * w;
    const float* down =
        t->distance + static_cast<uint64_t>(y + 1 < h ? y + 1 : y) * w;
    uint8_t* out = PlaneRow(t->cover, y);
    for (uint32_t x = 0; x < w; ++x) {
      const float slope = Slope(e, mid[x]) * depth;
      if (slope == 0) {
        out[x] = 0;
        continue;
      }
      // The height's gradient: its slope along the distance's gradient.
      const double gx =
          0.5 * (mid[x + 1 < w ? x + 1 : x] - mid[x > 0 ? x - 1 : x]) * slope;
      const double gy = 0.5 * (down[x] - up[x]) * slope;
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
  // The smooth technique rounds what the distance's grid leaves sharp.
  const uint32_t soften = e.soften + (e.chisel ? 0 : e.size / 8);
  if (soften > 0) BlurPlane(&t->cover, soften, t->scratch, t->sums);
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
