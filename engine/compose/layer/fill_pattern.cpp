// Pattern fills: the document's pattern, repeated across the plane from
// its origin, at its scale (sampled between its pixels when scaled).
#include "engine/base/numbers.h"
#include "engine/compose/layer/fill_colour.h"
#include "engine/compose/layer/fill_layer.h"

namespace engine {
namespace {

const uint32_t kIdRoom = 64;

// v modulo n, in 0..n-1.
int64_t Wrap(int64_t v, int64_t n) {
  const int64_t r = v % n;
  return r < 0 ? r + n : r;
}

}  // namespace

Status OpenPatternFill(const Document* doc, const Descriptor& d,
                       const LayerTraits& traits, const PixelRect& layer_box,
                       FillSource* fill) {
  memset(fill, 0, sizeof(*fill));
  Descriptor which;
  char id[kIdRoom];
  uint32_t length = 0;
  if (ItemDescriptor(d, "Ptrn", &which)) {
    length = ItemText(which, "Idnt", id, kIdRoom);
  }
  if (length == 0) return kDone;
  const Status status = LoadPattern(doc, id, length, &fill->pattern);
  if (status != kDone || fill->pattern.pixels == nullptr) return status;
  int64_t scale = 100 << 16;
  ItemFixed(d, "Scl ", &scale);
  fill->scale = static_cast<double>(scale) / 6553600.0;
  if (!(fill->scale >= 0.01)) fill->scale = 0.01;
  if (fill->scale > 100) fill->scale = 100;
  bool linked = false;
  ItemBool(d, "Algn", &linked);
  // Linked with the layer: from its reference point, or its box's corner.
  fill->origin_x = !linked                ? 0
                   : traits.has_reference ? traits.reference_x
                                          : layer_box.left;
  fill->origin_y = !linked                ? 0
                   : traits.has_reference ? traits.reference_y
                                          : layer_box.top;
  Descriptor phase;
  if (ItemDescriptor(d, "phase", &phase)) {
    int64_t x = 0, y = 0;
    ItemFixed(phase, "Hrzn", &x);
    ItemFixed(phase, "Vrtc", &y);
    fill->origin_x += static_cast<double>(x) / 65536.0;
    fill->origin_y += static_cast<double>(y) / 65536.0;
  }
  fill->active = true;
  return kDone;
}

void PatternRow(const FillSource* fill, int32_t y, int32_t x0, uint32_t n,
                uint8_t* out) {
  const PatternImage& p = fill->pattern;
  const int64_t w = p.width, h = p.height;
  // Positions in the pattern in 1/256 pixels.
  const double step = 256.0 / fill->scale;
  const double v = (y - fill->origin_y) * step;
  const int64_t fv = static_cast<int64_t>(v >= 0 ? v : v - 1);
  const int64_t row0 = Wrap(fv >> 8, h), row1 = Wrap((fv >> 8) + 1, h);
  const uint32_t wy = static_cast<uint32_t>(fv & 255);
  const uint8_t* r0 = p.pixels + 4 * row0 * w;
  const uint8_t* r1 = p.pixels + 4 * row1 * w;
  for (uint32_t i = 0; i < n; ++i) {
    const double u = (x0 + i - fill->origin_x) * step;
    const int64_t fu = static_cast<int64_t>(u >= 0 ? u : u - 1);
    const int64_t c0 = Wrap(fu >> 8, w), c1 = Wrap((fu >> 8) + 1, w);
    const uint32_t wx = static_cast<uint32_t>(fu & 255);
    for (int k = 0; k < 4; ++k) {
      const uint32_t top = r0[4 * c0 + k] * (256 - wx) + r0[4 * c1 + k] * wx;
      const uint32_t bottom = r1[4 * c0 + k] * (256 - wx) + r1[4 * c1 + k] * wx;
      out[4 * i + k] =
          static_cast<uint8_t>((top * (256 - wy) + bottom * wy + 32768) >> 16);
    }
  }
}

}  // namespace engine
