// Layer effects: what a layer's effects descriptor ("lmfx" or "lfx2", or
// the older "lrFX") asks for, read once per composite, and their painting
// around and over the layer's own pixels.
#pragma once

#include "engine/compose/blend/blend.h"
#include "engine/psd/descriptor.h"
#include "engine/psd/document.h"
#include "engine/psd/layer_extra.h"

namespace engine {

// In the order they are painted, bottom-most first.
enum EffectKind : uint8_t {
  kEffectDropShadow,
  kEffectOuterGlow,
  kEffectPatternOverlay,
  kEffectGradientOverlay,
  kEffectColorOverlay,
  kEffectSatin,
  kEffectInnerGlow,
  kEffectInnerShadow,
  kEffectShapeStroke,  // a shape's own stroke ("vstk"), along its path
  kEffectStroke,
  kEffectBevel,
  kEffectKinds,
};

// Exterior effects lie around the layer and are not faded by its fill
// opacity; the others lie within its shape.
inline bool EffectExterior(EffectKind kind) {
  return kind == kEffectDropShadow || kind == kEffectOuterGlow;
}

enum EffectPaint : uint8_t {
  kEffectPaintColour,
  kEffectPaintGradient,
  kEffectPaintPattern,
};

enum StrokePosition : uint8_t {
  kStrokeOutside,
  kStrokeInside,
  kStrokeCentre,
};

enum BevelStyle : uint8_t {
  kBevelOuter,
  kBevelInner,
  kBevelEmboss,
  kBevelPillow,
  kBevelStrokeEmboss,
};

struct Effect {
  EffectKind kind;
  BlendMode mode;
  uint8_t opacity;
  uint8_t colour[4];  // blue, green, red, 255
  EffectPaint paint;
  // The effect's own descriptor: a gradient's or a pattern's settings.
  Descriptor settings;
  StrokePosition position;
  bool centre_glow;  // inner glow from the centre rather than the edge
  bool invert;       // satin
  bool knocks_out;   // drop shadow: hidden under the layer's pixels
  uint32_t size;     // pixels, the effects' scale applied
  float width;       // strokes: their width in pixels
  uint32_t spread;   // spread or choke, percent
  uint32_t range;    // glows: the part of the falloff the contour spans, %
  int32_t dx;        // offset in pixels (shadows, satin)
  int32_t dy;
  uint8_t contour[256];
  // Bevel and emboss.
  BevelStyle style;
  bool chisel;
  bool down;
  uint32_t depth;   // percent
  uint32_t soften;  // pixels
  double light_x;   // the light's direction: towards it, unit length
  double light_y;
  double light_z;
  BlendMode shadow_mode;
  uint8_t shadow_opacity;
  uint8_t shadow_colour[4];
};

struct LayerEffects {
  uint32_t count;
  uint32_t reach;  // how far beyond the layer's pixels they paint
  // Overlays, satin and inner glow blend with the layer's pixels as a
  // group: its fill opacity fades them too.
  bool interior_as_group;
  Effect effects[1];  // `count` of them, in painting order
};

// The effects of a record, read from its traits; null when it has none that
// show (or no memory: the layer is then painted without them). A
// descriptor that does not read leaves its effects out with a log line
// naming `record`. With `shape_stroke`, a shape's own stroke is among them
// (painted over what covers the layer's fill: see composite_effects.cpp).
LayerEffects* ReadLayerEffects(const Document* doc, const LayerTraits& traits,
                               uint32_t record, bool shape_stroke);

// Whether the record's shape has a stroke of its own that shows.
bool ShapeStrokeShows(const LayerTraits& traits);

}  // namespace engine
