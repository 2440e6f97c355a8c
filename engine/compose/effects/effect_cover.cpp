// Each effect's coverage from the layer's alpha a (0..1 here):
//   drop shadow    blur(a moved by the offset), spread, contour; hidden under
//                  the layer where it says so
//   outer glow     blur(a), spread, contour
//   overlays       a
//   satin          |blur(a moved one way) - blur(a moved the other)|,
//                  contour, inverted where it says so, within a
//   inner glow     blur(1 - a) from the edge (or its inverse from the
//                  centre), choke, contour, within a
//   inner shadow   blur(1 - a moved by the offset), choke, contour, within a
//   stroke         the band of its size outside, inside or across the edge
//   bevel          the light on the slope of blur(a), highlight and shadow
// Spread and choke take their part of the size to widen the shape by
// distance before the rest of the size blurs it; the blur's deviation is
// 0.4 of what it spans, which is how the application's soft edges fall off.
#include "engine/compose/effects/effect_cover.h"

#include "engine/base/memory.h"
#include "engine/base/numbers.h"
#include "engine/compose/layer/fill_colour.h"

namespace engine {
namespace {

uint64_t PlaneBytes(const Plane& p) {
  return static_cast<uint64_t>(p.width) * p.height;
}

void CopyPlane(const Plane& from, Plane* to) {
  memcpy(to->bytes, from.bytes, PlaneBytes(from));
}

void InvertPlane(Plane* p) {
  const uint64_t n = PlaneBytes(*p);
  for (uint64_t i = 0; i < n; ++i) p->bytes[i] = 255 - p->bytes[i];
}

// Spread, blur and contour: what shadows and glows share.
void Soften(const Effect& e, EffectTile* t) {
  const uint32_t spread = e.spread > 100 ? 100 : e.spread;
  const float widen = static_cast<float>(e.size * spread) / 100.0f;
  const uint64_t n = PlaneBytes(t->cover);
  if (spread > 0) {
    DistancePlane(t->cover, false, t->squared, t->work);
    for (uint64_t i = 0; i < n; ++i) {
      const uint8_t v = BandCoverage(t->squared[i], widen);
      if (v > t->cover.bytes[i]) t->cover.bytes[i] = v;
    }
  }
  BlurPlaneBy(&t->cover, 0.4 * (e.size - widen), t->scratch, t->sums);
  for (uint64_t i = 0; i < n; ++i) {
    uint32_t v = t->cover.bytes[i];
    if (e.range < 100) v = v * 100 / e.range;
    t->cover.bytes[i] = e.contour[v > 255 ? 255 : v];
  }
}

// A coverage of 0..1 as a byte.
uint32_t Cover(float v) {
  return v <= 0 ? 0 : v >= 1 ? 255 : static_cast<uint32_t>(v * 255.0f + 0.5f);
}

// Coverage times `by` (or times its inverse).
void Within(EffectTile* t, const Plane& by, bool inverse) {
  const uint64_t n = PlaneBytes(t->cover);
  for (uint64_t i = 0; i < n; ++i) {
    const uint32_t f = inverse ? 255 - by.bytes[i] : by.bytes[i];
    t->cover.bytes[i] = static_cast<uint8_t>(MulDiv255(t->cover.bytes[i], f));
  }
}

// A stroke follows the edge of the shape (the path's, or the layer's
// pixels'), by the signed distance of every pixel's centre from it. Within
// the shape, the band of the stroke's inner size is painted over the
// layer's pixels (as much as they cover). Outside it, the band of the
// outer size: around a shape drawn by a path, as a ring painted over the
// layer; around a layer's own pixels, under them (part 1), covering the
// shape too, so that the layer's partly transparent pixels show the stroke
// through them, except as far as the layer's fill opacity empties them.
void StrokeCover(const Effect& e, uint32_t part, EffectTile* t) {
  const uint64_t n = PlaneBytes(t->cover);
  const uint8_t* a = t->alpha.bytes;
  // What the stroke follows: the path, or the layer's pixels; a shape's
  // own stroke, its path's coverage in t->extra.
  const bool own = e.kind == kEffectShapeStroke;
  const bool along_path = own || t->path_outline;
  const Plane& shape = own ? t->extra : t->path_outline ? t->path : t->alpha;
  const uint8_t* edge_of = shape.bytes;
  uint8_t* out = t->cover.bytes;
  const float size = e.width;
  const float outer = e.position == kStrokeOutside  ? size
                      : e.position == kStrokeCentre ? size / 2
                                                    : 0;
  const float inner = size - outer;
  memset(out, 0, n);
  if (part == 1 && (outer == 0 || along_path)) return;
  EdgeDistancePlane(shape, t->distance, t->squared, t->work, t->rows);
  const float* s = t->distance;
  for (uint64_t i = 0; i < n; ++i) {
    // Within `outer` of the edge outside it, the shape included.
    const uint32_t around = Cover(outer + 0.5f + s[i]);
    if (part == 1) {
      const uint32_t emptied = MulDiv255(a[i], 255 - t->fill);
      out[i] = static_cast<uint8_t>(MulDiv255(around, 255 - emptied));
      continue;
    }
    // The shape less what lies beyond `inner` of its edge.
    const uint32_t deep = Cover(s[i] - inner + 0.5f);
    uint32_t v = inner > 0 && edge_of[i] > deep ? edge_of[i] - deep : 0;
    if (outer > 0 && along_path && around > edge_of[i]) {
      v += around - edge_of[i];
    }
    out[i] = static_cast<uint8_t>(v > 255 ? 255 : v);
  }
}

// A shadow the layer knocks out is hidden under its shape, where the
// layer's fill opacity lets what is below show; under the layer's partly
// covering edge it lies whole below the layer: it is weighted so that,
// the layer painted over it at fill f, the edge of coverage a shows the
// shadow by (1 - a) and the backdrop under the faded layer by a (1 - f).
void KnockOut(EffectTile* t) {
  const uint64_t n = PlaneBytes(t->cover);
  const uint32_t f = t->fill;
  for (uint64_t i = 0; i < n; ++i) {
    const uint32_t a = t->alpha.bytes[i];
    const uint32_t shown = 255 * 255 - a * f;  // 255^2 (1 - a f)
    const uint32_t v =
        shown == 0
            ? 0
            : static_cast<uint32_t>(static_cast<uint64_t>(t->cover.bytes[i]) *
                                    (255 - a) * 255 / shown);
    t->cover.bytes[i] = static_cast<uint8_t>(v > 255 ? 255 : v);
  }
}

void SatinCover(const Effect& e, EffectTile* t) {
  CopyPlane(t->alpha, &t->cover);
  OffsetPlane(&t->cover, e.dx, e.dy, 0, t->scratch);
  BlurPlane(&t->cover, e.size, t->scratch, t->sums);
  CopyPlane(t->alpha, &t->extra);
  OffsetPlane(&t->extra, -e.dx, -e.dy, 0, t->scratch);
  BlurPlane(&t->extra, e.size, t->scratch, t->sums);
  const uint64_t n = PlaneBytes(t->cover);
  for (uint64_t i = 0; i < n; ++i) {
    const int32_t d = t->cover.bytes[i] - t->extra.bytes[i];
    const uint8_t v = e.contour[d < 0 ? -d : d];
    t->cover.bytes[i] = e.invert ? 255 - v : v;
  }
  Within(t, t->alpha, false);
}

}  // namespace

Status OpenTile(const PixelRect& rect, const LayerEffects& fx, EffectTile* t) {
  memset(t, 0, sizeof(*t));
  t->rect = rect;
  const uint32_t w = static_cast<uint32_t>(rect.right - rect.left);
  const uint32_t h = static_cast<uint32_t>(rect.bottom - rect.top);
  const uint64_t n = static_cast<uint64_t>(w) * h;
  // Strokes, bevels and spreads measure distances.
  bool distances = false;
  for (uint32_t i = 0; i < fx.count; ++i) {
    const Effect& e = fx.effects[i];
    distances |= e.kind == kEffectStroke || e.kind == kEffectShapeStroke ||
                 e.kind == kEffectBevel || e.spread != 0;
  }
  t->content = static_cast<uint8_t*>(AllocateZeroed(4 * n + 4));
  uint8_t* planes = static_cast<uint8_t*>(AllocateZeroed(5 * n + 4));
  t->sums = AllocateArray<uint32_t>(static_cast<uint64_t>(w) + 1);
  const uint64_t side = (w > h ? w : h) + 1;
  t->work = AllocateArray<float>(5 * side + 2);
  if (distances) {
    t->squared = AllocateArray<float>(n + 1);
    t->distance = AllocateArray<float>(n + 1);
    t->rows = AllocateArray<int32_t>(n + 1);
  }
  Plane* each[4] = {&t->alpha, &t->cover, &t->extra, &t->path};
  for (uint32_t k = 0; k < 4; ++k) {
    *each[k] = Plane{planes != nullptr ? planes + k * n : nullptr, w, h};
  }
  t->scratch = planes != nullptr ? planes + 4 * n : nullptr;
  if (t->content == nullptr || planes == nullptr || t->sums == nullptr ||
      t->work == nullptr ||
      (distances && (t->squared == nullptr || t->distance == nullptr ||
                     t->rows == nullptr))) {
    CloseTile(t);
    return kNoMemory;
  }
  return kDone;
}

void CloseTile(EffectTile* t) {
  Release(t->content);
  Release(t->alpha.bytes);
  Release(t->sums);
  Release(t->work);
  Release(t->squared);
  Release(t->rows);
  Release(t->distance);
  memset(t, 0, sizeof(*t));
}

Status MakeCover(const Effect& e, uint32_t part, EffectTile* t) {
  switch (e.kind) {
    case kEffectDropShadow:
      CopyPlane(t->alpha, &t->cover);
      OffsetPlane(&t->cover, e.dx, e.dy, 0, t->scratch);
      Soften(e, t);
      if (e.knocks_out) KnockOut(t);
      break;
    case kEffectOuterGlow:
      CopyPlane(t->alpha, &t->cover);
      Soften(e, t);
      break;
    case kEffectInnerShadow:
    case kEffectInnerGlow:
      CopyPlane(t->alpha, &t->cover);
      InvertPlane(&t->cover);
      OffsetPlane(&t->cover, e.dx, e.dy, 255, t->scratch);
      Soften(e, t);
      if (e.kind == kEffectInnerGlow && e.centre_glow) InvertPlane(&t->cover);
      Within(t, t->alpha, false);
      break;
    case kEffectSatin:
      SatinCover(e, t);
      break;
    case kEffectStroke:
    case kEffectShapeStroke:
      StrokeCover(e, part, t);
      break;
    case kEffectBevel:
      BevelCover(e, part, t);
      break;
    default:  // overlays
      CopyPlane(t->alpha, &t->cover);
      break;
  }
  return kDone;
}

}  // namespace engine
