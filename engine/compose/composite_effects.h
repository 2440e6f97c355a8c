// Painting a layer or group with its effects (composite_effects.cpp), and
// filling its effect tile (composite_effect_tile.cpp): its pixels, a
// group's composite or a clipping group's, and the paths its strokes
// follow.
#pragma once

#include "engine/compose/composite.h"
#include "engine/compose/composite_source.h"
#include "engine/compose/effects/effect_cover.h"
#include "engine/compose/effects/effects.h"

namespace engine {

// Paints layer `index` and its effects onto `canvas`. With `content`, the
// layer's pixels are what that canvas holds (a clipping group whose base
// the layer is); the effects still follow the layer's own shape.
Status PaintLayerEffects(Composer* c, uint32_t index, const LayerEffects& fx,
                         const Canvas* content, Canvas* canvas,
                         const PaintParams& p);

// The effect tile ------------------------------------------------------------

// Reads the source's rows within the tile, masks applied, into the tile.
void ReadTile(const Composer* c, LayerSource* s, const PixelRect& rect,
              bool masks, EffectTile* t);

// A group's shape is its composite's, within its masks (when `p` applies
// them): the masks into `s` (which has no pixels), where the composite lies
// into `rect`.
Status OpenGroupShape(const Composer* c, uint32_t record, const Canvas* content,
                      const PaintParams& p, LayerSource* s, PixelRect* rect);

// A group's composite, masks applied, into the tile (the rows the canvas
// holds).
void ReadCanvasTile(const Canvas* content, RecordMasks* masks,
                    const PixelRect& rect, EffectTile* t);

// A shape drawn by a path: the path's coverage into t->path, which its
// stroke effects follow (its pixels may be transparent in places). A
// shape of one solid colour whose pixels (`pixels`) are the application's
// rendering of it has them as its path's coverage.
Status ReadPath(const Composer* c, const LayerTraits& traits, bool pixels,
                EffectTile* t);

// A clipping group's pixels in place of its base's, over the rows held.
void TakeContent(const Canvas* content, const PixelRect& held, EffectTile* t);

// The path's coverage into t->extra for the shape's own stroke: over the
// document, carried on beyond its edges. `drawn` is false without a path.
Status ReadShapePath(const Composer* c, const LayerTraits& traits,
                     EffectTile* t, bool* drawn);

// The shape's own stroke's coverage in t->cover, over the rows `held`,
// times the layer's mask (which hides the stroke as it does the fill).
void MaskShapeStroke(const Composer* c, uint32_t record, const PixelRect& held,
                     EffectTile* t, Status* status);

}  // namespace engine
