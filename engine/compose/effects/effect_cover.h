// The coverage of each layer effect, made from the layer's alpha in a tile
// that reaches as far beyond the painted rows as the effects do.
#pragma once

#include "engine/base/rect.h"
#include "engine/base/status.h"
#include "engine/compose/effects/effects.h"
#include "engine/compose/layer/planes.h"

namespace engine {

struct EffectTile {
  PixelRect rect;             // in the document
  uint8_t* content;           // the layer's pixels, 4 bytes a pixel
  Plane alpha;                // their alpha
  Plane cover;                // the effect's coverage
  Plane extra;                // a second plane (satin, strokes)
  Plane path;                 // the path's coverage, when path_outline
  uint8_t* scratch;           // a plane's bytes
  uint32_t* sums;             // a word a column
  float* squared;             // distances (strokes, bevels, spreads):
  float* distance;            // a float a pixel each
  float* work;                // 5 x (longest side + 1) words
  int32_t* rows;              // distances: a word a pixel
  const LayerTraits* traits;  // the layer's
  uint32_t record;            // and its record
  uint8_t fill;               // the layer's fill opacity
  bool blends_normal;         // the layer's own blend mode is normal
  bool group;                 // the pixels are a clipping group's
  bool own_pixels;            // the layer's own (a shape's hold its stroke)
  bool path_outline;          // the layer's shape is drawn by a path
  bool path_from_pixels;      // the path's coverage is the layer's alpha
};

// Allocates a transparent tile over `rect` for the effects of `fx`.
Status OpenTile(const PixelRect& rect, const LayerEffects& fx, EffectTile* t);
void CloseTile(EffectTile* t);

inline uint8_t* TileContent(EffectTile* t, int32_t y) {
  const uint32_t width = static_cast<uint32_t>(t->rect.right - t->rect.left);
  return t->content + static_cast<uint64_t>(y - t->rect.top) * width * 4;
}

// A bevel's highlight (part 0) or shadow (part 1) into t->cover
// (effect_bevel.cpp).
void BevelCover(const Effect& e, uint32_t part, EffectTile* t);

// The coverage of effect `e` into t->cover; part 1: a bevel's shadow, or
// the part of a stroke painted under the layer.
Status MakeCover(const Effect& e, uint32_t part, EffectTile* t);

}  // namespace engine
