// A layer with effects: its pixels are read into a tile reaching as far
// beyond the canvas's rows as its effects do, each effect's coverage is
// made from the tile's alpha, and the effects and the layer are painted in
// order: shadows and glows below the layer, overlays, inner glows and
// shadows, stroke and bevel over it. The layer's fill opacity fades its own
// pixels only; its opacity fades everything.
#include "engine/compose/composite_effects.h"

#include "engine/base/memory.h"
#include "engine/base/numbers.h"

namespace engine {
namespace {

PixelRect Expand(const PixelRect& r, uint32_t by) {
  const int32_t b = static_cast<int32_t>(by);
  return PixelRect{r.left - b, r.top - b, r.right + b, r.bottom + b};
}

uint64_t Area(const PixelRect& r) {
  return RectEmpty(r) ? 0
                      : static_cast<uint64_t>(r.right - r.left) *
                            static_cast<uint64_t>(r.bottom - r.top);
}

// The layer's own pixels over the canvas's rows.
void PaintContent(Composer* c, EffectTile* t, const PixelRect& held,
                  Canvas* canvas, const PaintParams& p) {
  const int32_t x0 = held.left;
  const uint32_t n = static_cast<uint32_t>(held.right - held.left);
  for (int32_t y = held.top; y < held.bottom; ++y) {
    memcpy(c->row, TileContent(t, y) + 4 * (x0 - t->rect.left), 4ull * n);
    if (p.records_clip_shape) RecordClipShape(c, p, y, x0, n, c->row);
    ScaleAlpha(c->row, n, p.opacity);
    RecordShapes(c, p.level, y, x0, n, c->row);
    BlendItemRow(c, p, c->row, CanvasRow(canvas, y) + 4 * x0, x0, y, n);
  }
}

bool EffectGlows(EffectKind kind) {
  return kind == kEffectOuterGlow || kind == kEffectInnerGlow;
}

// A glow's gradient runs along its falloff, from where it is strongest.
void GlowRow(const FillSource& paint, const uint8_t* cover, uint32_t n,
             uint8_t* out) {
  for (uint32_t i = 0; i < n; ++i) {
    const uint32_t t = 255 - cover[i];
    const uint32_t index = t * (kGradientSteps - 1) / 255;
    memcpy(out + 4 * i, paint.table + 4 * index, 4);
  }
}

// One effect's paint, through its coverage, over the canvas's rows (or,
// without a canvas, over the layer's own pixels in the tile).
Status PaintEffect(Composer* c, const Effect& e, EffectTile* t,
                   const PixelRect& layer_box, const PixelRect& held,
                   Canvas* canvas, const PaintParams& p, uint8_t opacity) {
  FillSource paint;
  memset(&paint, 0, sizeof(paint));
  const PixelRect document = DocumentRect(&c->canvases[0]);
  if (e.paint == kEffectPaintPattern) {
    const Status status =
        OpenPatternFill(c->doc, e.settings, *t->traits, layer_box, &paint);
    if (status != kDone || !paint.active) return status;
  }
  if (e.paint == kEffectPaintGradient) {
    // A stroke's gradient spans the layer with its stroke around it.
    const GradientBox box = GradientBoxOf(
        c->doc, *t->traits, layer_box,
        e.kind == kEffectStroke ? static_cast<int32_t>(e.size) : 0);
    const Status status =
        OpenGradientFill(c->doc, e.settings, box, document, &paint);
    if (status != kDone) return status;
  }
  PaintParams pe = p;
  pe.mode = e.mode;
  pe.records_clip_shape = false;
  const int32_t x0 = held.left;
  const uint32_t n = static_cast<uint32_t>(held.right - held.left);
  const uint32_t strength = MulDiv255(e.opacity, opacity);
  for (int32_t y = held.top; y < held.bottom; ++y) {
    const uint8_t* cover =
        PlaneRow(t->cover, static_cast<uint32_t>(y - t->rect.top)) +
        (x0 - t->rect.left);
    if (paint.active && EffectGlows(e.kind)) {
      GlowRow(paint, cover, n, c->row);
    } else if (paint.active) {
      FillRow(&paint, y, x0, n, c->row);
    } else {
      for (uint32_t i = 0; i < n; ++i) memcpy(c->row + 4 * i, e.colour, 4);
    }
    if (c->channels == kCanvasBlack) NoInk(c->row, n);
    for (uint32_t i = 0; i < n; ++i) {
      uint8_t* a = c->row + 4 * i + 3;
      *a = static_cast<uint8_t>(MulDiv255(MulDiv255(*a, cover[i]), strength));
    }
    if (canvas == nullptr) {
      // The layer's pixels keep their alpha: the coverage is of it.
      uint8_t* content = TileContent(t, y) + 4 * (x0 - t->rect.left);
      for (uint32_t i = 0; i < n; ++i) {
        const uint32_t under = content[4 * i + 3];
        uint8_t* a = c->row + 4 * i + 3;
        const uint32_t of = under == 0 ? 0 : (*a * 255u + under / 2) / under;
        *a = static_cast<uint8_t>(of > 255 ? 255 : of);
      }
      BlendRow(e.mode, c->row, content, n, true, x0, y);
      continue;
    }
    RecordShapes(c, p.level, y, x0, n, c->row);
    BlendItemRow(c, pe, c->row, CanvasRow(canvas, y) + 4 * x0, x0, y, n);
  }
  CloseFill(&paint);
  return kDone;
}

// Overlays, satin and inner glow: with the layer's pixels as a group,
// they are painted onto them, and fade with them by the fill opacity; the
// layer's blend mode then applies to the whole. Otherwise the layer is
// blended with its mode first and they are blended over the result.
bool PaintedWithLayer(const Effect& e, const LayerEffects& fx,
                      const EffectTile* t) {
  const bool interior =
      e.kind >= kEffectPatternOverlay && e.kind <= kEffectInnerGlow;
  if (fx.interior_as_group) return interior;
  // At full fill and in normal mode, painting onto the layer's pixels or
  // over them differs only where they are partly transparent, where a
  // stroke within them takes their place. A path's stroke follows the path, not
  // the pixels: it is painted over them (unless they are the path's coverage
  // and the stroke lies within it).
  const bool inner_stroke = e.kind == kEffectStroke &&
                            (!t->path_outline || (t->path_from_pixels &&
                                                  e.position == kStrokeInside));
  return t->fill == 255 && t->blends_normal && (interior || inner_stroke);
}

// Onto a clipping group's pixels, whose base's fill opacity is applied
// already, interior effects blended as a group fade by it too.
uint8_t WithLayerStrength(const LayerEffects& fx, const EffectTile& t) {
  return t.group && fx.interior_as_group ? t.fill : 255;
}

// The stages of painting, in order.
enum Stage : uint8_t {
  kStageWithLayer,  // onto the layer's pixels (interior effects as a group)
  kStageExterior,   // shadows and glows
  kStageUnder,      // strokes' parts under the layer
  kStageOver,       // the rest, over the layer
};

// A shape's own stroke, in its pixels as the application rendered them,
// lies over its interior effects and over the items clipped to it: it is
// painted again over them, or drawn from its path where the pixels are not
// the layer's own (a shape painted from its settings).
bool ShapeStrokePainted(const LayerEffects& fx, const EffectTile* t) {
  bool covered = !t->own_pixels || t->group;
  for (uint32_t i = 0; i < fx.count; ++i) {
    const EffectKind kind = fx.effects[i].kind;
    covered |= kind >= kEffectPatternOverlay && kind <= kEffectInnerShadow;
  }
  return covered;
}

bool InStage(const Effect& e, const LayerEffects& fx, const EffectTile* t,
             Stage stage) {
  if (stage == kStageUnder) return e.kind == kEffectStroke;
  if (e.kind == kEffectShapeStroke) {
    if (!ShapeStrokePainted(fx, t)) return false;
    // Onto pixels that hold it (not onto a fill that ends at the path).
    const bool with_layer =
        (t->own_pixels || t->group) &&
        (fx.interior_as_group || (t->fill == 255 && t->blends_normal));
    return stage == (with_layer ? kStageWithLayer : kStageOver);
  }
  if (PaintedWithLayer(e, fx, t)) return stage == kStageWithLayer;
  if (EffectExterior(e.kind)) return stage == kStageExterior;
  return stage == kStageOver;
}

Status PaintStage(Composer* c, const LayerEffects& fx, EffectTile* t,
                  const PixelRect& layer_box, const PixelRect& held,
                  Canvas* canvas, const PaintParams& p, Stage stage) {
  Status status = kDone;
  const bool with_layer = stage == kStageWithLayer;
  for (uint32_t i = 0; i < fx.count && status == kDone; ++i) {
    const Effect& e = fx.effects[i];
    if (!InStage(e, fx, t, stage)) continue;
    // A bevel paints its highlight and its shadow: two coverages.
    const uint32_t first = stage == kStageUnder ? 1 : 0;
    const uint32_t end = stage == kStageUnder || e.kind == kEffectBevel ? 2 : 1;
    uint8_t strength =
        with_layer ? WithLayerStrength(fx, *t) : p.effects_opacity;
    if (e.kind == kEffectShapeStroke) {
      // It fades with the layer's fill, as its pixels do.
      bool drawn = false;
      status = ReadShapePath(c, *t->traits, t, &drawn);
      if (status != kDone || !drawn) continue;
      if (!with_layer)
        strength = static_cast<uint8_t>(MulDiv255(strength, t->fill));
    }
    for (uint32_t part = first; part < end && status == kDone; ++part) {
      status = MakeCover(e, part, t);
      if (status == kDone && e.kind == kEffectShapeStroke) {
        MaskShapeStroke(c, t->record, held, t, &status);
      }
      if (status != kDone) break;
      Effect shade = e;
      if (part == 1 && e.kind == kEffectBevel) {
        shade.mode = e.shadow_mode;
        shade.opacity = e.shadow_opacity;
        memcpy(shade.colour, e.shadow_colour, 4);
      }
      status = PaintEffect(c, shade, t, layer_box, held,
                           with_layer ? nullptr : canvas, p, strength);
    }
  }
  return status;
}

Status PaintTile(Composer* c, const LayerEffects& fx, EffectTile* t,
                 const PixelRect& layer_box, const PixelRect& held,
                 Canvas* canvas, const PaintParams& p) {
  Status status = kDone;
  for (uint32_t stage = kStageWithLayer; stage < kStageOver; ++stage) {
    if (status == kDone) {
      status = PaintStage(c, fx, t, layer_box, held, canvas, p,
                          static_cast<Stage>(stage));
    }
  }
  PaintContent(c, t, held, canvas, p);
  if (status == kDone) {
    status = PaintStage(c, fx, t, layer_box, held, canvas, p, kStageOver);
  }
  return status;
}

}  // namespace

Status PaintLayerEffects(Composer* c, uint32_t index, const LayerEffects& fx,
                         const Canvas* content, Canvas* canvas,
                         const PaintParams& p) {
  if (c->cut_short) return kDone;
  LayerSource source;
  PixelRect rect;
  const LayerTraits& traits = c->plan.traits[index];
  const bool group = traits.section != kSectionLayer;
  // A clipping group's base has its masks on the group's canvas already;
  // its shape, which its effects follow, has them too.
  Status status = group ? OpenGroupShape(c, index, content, p, &source, &rect)
                        : OpenSource(c, index, true, fx.reach, &source, &rect);
  if (status != kDone) return status;
  const PixelRect document = DocumentRect(&c->canvases[0]);
  const PixelRect area = IntersectRects(Expand(rect, fx.reach), document);
  const PixelRect inside = IntersectRects(rect, document);
  if (RectEmpty(inside) || !TakeWork(c, Area(area) * (fx.count + 1))) {
    CloseSource(&source);
    return kDone;
  }
  const PixelRect held = RowsHeld(canvas, area);
  if (held.bottom > held.top) {
    EffectTile tile;
    // The tile reaches as far beyond the painted rows as the effects do,
    // within the document or not.
    PixelRect reach = Expand(rect, fx.reach);
    reach.top = held.top - static_cast<int32_t>(fx.reach);
    reach.bottom = held.bottom + static_cast<int32_t>(fx.reach);
    // Pixels further from the document than the reach touch nothing in it.
    const PixelRect near = Expand(document, fx.reach);
    status = OpenTile(
        IntersectRects(IntersectRects(reach, Expand(rect, fx.reach)), near), fx,
        &tile);
    tile.traits = &traits;
    tile.record = index;
    // A clipping group's pixels have their base's fill opacity already (a
    // group's own canvas, whose masks are still to apply, has not).
    tile.group = content != nullptr && !p.masks;
    tile.fill =
        tile.group ? traits.fill_opacity
        : p.effects_opacity == 0
            ? 255
            : static_cast<uint8_t>(p.opacity * 255u / p.effects_opacity);
    tile.blends_normal = p.mode == kBlendNormal;
    tile.own_pixels = !group && content == nullptr && source.pixels;
    if (status == kDone && group) {
      ReadCanvasTile(content, &source.masks, rect, &tile);
    } else if (status == kDone) {
      ReadTile(c, &source, rect, true, &tile);
    }
    if (status == kDone && content != nullptr && !group) {
      TakeContent(content, held, &tile);
    }
    if (status == kDone && !group && traits.vector_mask.data != nullptr) {
      status = ReadPath(c, traits, source.pixels, &tile);
    }
    if (status == kDone) status = PrepareCanvas(canvas);
    if (status == kDone) {
      status = PaintTile(c, fx, &tile, rect, held, canvas, p);
    }
    CloseTile(&tile);
  }
  MarkPainted(canvas, area);
  CloseSource(&source);
  return status;
}

}  // namespace engine
