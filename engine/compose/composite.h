// The compositor: the merged picture of a document saved without one,
// made from its layers. One canvas of the document's size, plus one for
// every open group that blends as a whole and every open clipping group;
// each layer is read row by row while it is painted.
#pragma once

#include "engine/base/limits.h"
#include "engine/base/threads.h"
#include "engine/channels/colour.h"
#include "engine/compose/adjust/adjustment.h"
#include "engine/compose/blend/blend.h"
#include "engine/compose/blend/canvas.h"
#include "engine/compose/effects/effects.h"
#include "engine/psd/document.h"
#include "engine/psd/layer_extra.h"

namespace engine {

const uint32_t kNoMatch = 0xFFFFFFFFu;

// The structure of the layer list, worked out before painting: the traits
// of every record (its section type among them), parsed once, and the
// divider and group record of every group (matched like brackets,
// bottom-most record first).
struct CompositePlan {
  LayerTraits* traits;  // per record
  uint32_t* match;      // divider <-> group record, or kNoMatch
  uint32_t depth;       // deepest nesting of groups
  uint32_t count;       // records
  // Per record: its adjustment, read once, or null (none, or left out).
  Adjustment** adjustments;
  // Per record: its layer effects, read once, or null.
  LayerEffects** effects;
  // Rows beyond its own that a band composites: what groups' effects
  // reach.
  uint32_t band_margin;
};

Status BuildCompositePlan(const Document* doc, const LayerList* list,
                          CompositePlan* plan);
void ReleaseCompositePlan(CompositePlan* plan);

// How one item (a layer, or a finished group or clipping group) is painted
// onto a canvas.
struct PaintParams {
  BlendMode mode;
  uint8_t opacity;          // opacity times fill opacity
  uint8_t effects_opacity;  // opacity alone: the layer's effects
  bool keep_alpha;          // a clipped item: the canvas keeps its alpha
  bool masks;               // apply the record's layer mask
  uint32_t level;           // the level the item is painted at
  // A clipping group whose base's fill opacity is below full: the base's
  // shape at full fill (band rows, a byte a pixel). The base records it;
  // clipped items are clipped to it rather than to the canvas's alpha.
  uint8_t* clip_shape;
  bool records_clip_shape;
  // Clipped to an adjustment layer: its coverage (its masks and opacity;
  // band rows, a byte a pixel), which the item's alpha is scaled by.
  const uint8_t* coverage;
  // The record's layer effects are painted with it (a clipping group's
  // base: with the whole group, when it closes).
  bool effects;
  // Advanced blending: the record's blending ranges (or null), and the
  // colour bytes the canvas keeps (the channels the record leaves out).
  const uint8_t* blend_ranges;
  uint32_t blend_ranges_length;
  uint8_t kept_bytes;
};

// A level of the walk: the root, a group or a clipping group.
enum LevelKind : uint8_t {
  kLevelRoot,
  kLevelGroup,  // an isolated group: its own canvas
  kLevelPass,   // a pass-through group: paints into its parent's canvas
  kLevelClip,   // a clipping group: the base and its clipped items
};

struct Level {
  LevelKind kind;
  Canvas* canvas;   // where this level's items are painted
  uint32_t record;  // the group record, or the clipping group's base
  bool keep_alpha;  // items painted here keep the canvas's alpha
  uint8_t fill;     // a pass-through group's fill opacity, for its items
  // A pass-through group with clipped items after it: the alpha its members
  // paint (document-sized, one byte a pixel) and its parent's canvas as it
  // was before them.
  uint8_t* shape;
  Canvas* backdrop;
  uint8_t* clip_shape;   // clipping group: see PaintParams
  uint8_t* coverage;     // the adjustment layer items are clipped to
  bool base_painted;     // clipping group: its base is on the canvas
  uint32_t skip_run_at;  // clipped items starting here are left out
};

struct Composer {
  const Document* doc;
  const LayerList* list;
  bool palette_output;      // the picture has a 256-entry palette (gray)
  CanvasChannels channels;  // what the canvas's colours hold
  CompositePlan plan;       // shared by every band, read only
  Level* levels;
  uint32_t depth;  // levels open, the root included
  Canvas canvases[kLimits.max_canvas_levels + 1];  // [0] the root canvas
  uint32_t canvases_in_use;
  uint32_t shapes_in_use;
  uint8_t* row;    // a row of the document's width, 4 bytes a pixel
  uint8_t* alpha;  // a row of the document's width, 1 byte a pixel
  // CMYK thresholds: per record, the luminosity the first pass kept (its
  // band's rows, a byte a pixel), and in the black pass the first pass's
  // composer.
  uint8_t** kept;
  uint32_t kept_count;
  const Composer* colours;
  // The root canvas's rows of the band asked for (it holds the plan's
  // band margin around them).
  Canvas band;
  // A 16-bit document composited for its profile (its deep_composite): for
  // each pixel of the root canvas's rows, red, green and blue 16-bit
  // samples of the layer pixel it was last seen to show as it is (opaque,
  // the canvas holding their first bytes), or of its 8-bit colour after an
  // adjustment; where the canvas no longer holds their first bytes, the
  // canvas's colour stands (DeepRow). Else null.
  uint16_t* deep;
  uint64_t work;  // pixels painted so far
  uint64_t work_limit;
  bool cut_short;   // the work limit was reached
  uint32_t cut_at;  // the first layer left out
};

// The walk over the records (composite_walk.cpp) ------------------------------

// Opens the root level on the root canvas.
void OpenRoot(Composer* c);
// Paints every item; whatever is open at the end is closed.
Status WalkLayers(Composer* c);
// Frees what open levels hold (after a failure).
void ReleaseLevels(Composer* c);

// Pass-through groups with clipped items (composite_backdrop.cpp) -------------

// A zeroed shape, or null past the limit or without memory.
uint8_t* TakeShape(Composer* c);
void ReleaseShape(Composer* c, uint8_t* shape);
// Copies what `canvas` holds into `backdrop`.
Status SaveBackdrop(const Canvas* canvas, Canvas* backdrop);
// The group's content as a layer of its own: `backdrop` becomes the colours
// that, painted with alpha `shape` over the backdrop, give what `canvas`
// holds now, and `canvas` gets its backdrop back. The clipped items are
// then painted onto `backdrop` as onto a clipping group's base.
void SeparateGroup(Canvas* canvas, Canvas* backdrop, const uint8_t* shape);
// Widens the shapes of the pass-through groups open at `level` by the alpha
// of `n` pixels painted at row y from column x0.
void RecordShapes(Composer* c, uint32_t level, int32_t y, int32_t x0,
                  uint32_t n, const uint8_t* pixels);
// A clipping group's base keeps its shape before its fill opacity fades it.
void RecordClipShape(const Composer* c, const PaintParams& p, int32_t y,
                     int32_t x0, uint32_t n, const uint8_t* pixels);
// The coverage of adjustment layer `index` at `opacity` (see PaintParams),
// or null past the limit of shapes.
uint8_t* AdjustmentCoverage(Composer* c, uint32_t index, uint8_t opacity);
// Blends `n` pixels at column x0 of row y onto `dst` as `p` says: clipped
// to the canvas's alpha, or to p.clip_shape.
void BlendItemRow(const Composer* c, const PaintParams& p, uint8_t* src,
                  uint8_t* dst, int32_t x0, int32_t y, uint32_t n);

// Painting (composite_paint.cpp) --------------------------------------------

// Paints layer `index`'s pixels onto `canvas`.
Status PaintLayer(Composer* c, uint32_t index, Canvas* canvas,
                  const PaintParams& p);

// Fades what the pass-through group of record `record` painted into
// `canvas` back towards `backdrop` (the canvas before it) by the group's
// opacity and masks; `shape` (or null) fades with it.
Status FadeGroup(Composer* c, uint32_t record, Canvas* canvas,
                 const Canvas* backdrop, uint8_t* shape);

// Paints the finished canvas `from` onto `onto` with the layer mask of
// record `record` (when p.masks), then makes `from` transparent again.
Status PaintCanvas(Composer* c, Canvas* from, Canvas* onto, uint32_t record,
                   const PaintParams& p);

// Paints the background of the artboard whose group record is `record`
// onto the group's own canvas (nothing for a group that is no artboard).
// The group's canvas is painted onto its parent within the artboard's
// rectangle only (PaintCanvas).
Status PaintArtboardBackground(Composer* c, uint32_t record, Canvas* canvas);

// Paints layer `index`, which knocks out, into its level's canvas
// (composite_knockout.cpp): blended with what was below its group (the
// level's backdrop, or nothing), in place of what the group's layers
// painted under it, as far as it covers. False when it does not knock out
// at its level, or no canvas was left to paint it in (it is then painted
// as any item).
bool PaintKnockout(Composer* c, uint32_t index, Level* level,
                   const PaintParams& p, Status* status);

// Applies the adjustment of record `index` to what `canvas` holds.
Status PaintAdjustment(Composer* c, uint32_t index, Canvas* canvas,
                       const PaintParams& p);

// The record's blending ranges (when they do anything) and channels left
// out, into `p`.
void SetAdvancedBlending(const LayerTraits& traits, CanvasChannels channels,
                         PaintParams* p);

// True when `pixels` more pixels of work are still within the limit; counts
// them.
bool TakeWork(Composer* c, uint64_t pixels);

// The layers of a complete list composited onto a canvas of the document's
// size, of which rows [band.first, band.end) are held and painted, with the
// plan's band margin around them (`*composer` holds it, ComposedCanvas the
// band's rows; release it with ReleaseComposer). `plan` is built
// once for every band. Every band walks the layers alike and leaves out the
// same layers past the work limit (`cut_at`). `palette_output`: the
// document's pictures are gray with a palette. `colours`: in the black pass of
// a CMYK document, the first pass's composer of the same band (or null).
Status ComposeBand(const Document* doc, const LayerList* list,
                   const CompositePlan& plan, bool palette_output,
                   CanvasChannels channels, RowBand band,
                   const Composer* colours, Composer** composer);
inline const Canvas* ComposedCanvas(const Composer* c) { return &c->band; }
// The 16-bit samples kept for row y of the root canvas (which holds the
// band's rows and the margin around them).
inline uint16_t* DeepRow(const Composer* c, int32_t y) {
  const Canvas& root = c->canvases[0];
  return c->deep + 3ull * root.width * static_cast<uint32_t>(y - root.top);
}
void ReleaseComposer(Composer* c);

}  // namespace engine
