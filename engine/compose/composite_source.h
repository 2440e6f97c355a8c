// Where the pixels of one item come from: a layer's channels read row by
// row, or its fill painted from its settings, and the masks of its record
// (the layer mask and the vector mask).
#pragma once

#include "engine/channels/layer_rows.h"
#include "engine/compose/composite.h"
#include "engine/compose/layer/fill_layer.h"
#include "engine/compose/layer/mask_feather.h"
#include "engine/compose/layer/vector_mask.h"

namespace engine {

PixelRect DocumentRect(const Canvas* canvas);
// Multiplies the alpha of `n` pixels by factor / 255.
void ScaleAlpha(uint8_t* pixels, uint32_t n, uint32_t factor);
// No ink: white, in the black pass of a CMYK document.
void NoInk(uint8_t* pixels, uint32_t n);

// A record's masks: its layer mask and its vector mask.
struct RecordMasks {
  MaskRows user;
  VectorMask vector;
  // Masks with a feather: blurred, in place of their rows.
  FeatheredMask user_feathered;
  FeatheredMask vector_feathered;
};

void CloseMasks(RecordMasks* m);
// The masks of a group's or an adjustment's record (no pixels of its own).
Status OpenRecordMasks(const Composer* c, uint32_t record, RecordMasks* m);
// The layer mask alone of `record` (a shape's own stroke lies beyond its
// vector mask).
Status OpenUserMask(const Composer* c, uint32_t record, RecordMasks* m);
PixelRect MasksReach(const RecordMasks* m);
// Multiplies the alpha of `n` pixels at column x0 of row y by the masks;
// rows are asked for top to bottom.
void ApplyMasks(RecordMasks* m, int32_t y, int32_t x0, uint32_t n,
                uint8_t* row);

// Where a layer's pixels come from: its channels, or its fill.
struct LayerSource {
  bool pixels;
  LayerRows rows;
  FillSource fill;
  RecordMasks masks;
};

// Whether layer `index` is painted from its own pixels (rather than from
// its fill's settings).
bool SourceHasPixels(const Document* doc, const LayerList* list, uint32_t index,
                     const LayerTraits& traits);

// Opens what paints layer `index` (with its masks when `masks`); `rect`
// receives where it can paint: within the document, or for a layer's own
// pixels up to `margin` pixels beyond it (what its effects see).
Status OpenSource(const Composer* c, uint32_t index, bool masks,
                  uint32_t margin, LayerSource* s, PixelRect* rect);
void CloseSource(LayerSource* s);
// Row y of the source, columns [x0, x0 + n), into `row` (4 bytes a pixel),
// masks not applied. False when no channel's data reaches the row.
bool ReadSourceRow(const Composer* c, LayerSource* s, int32_t y, int32_t x0,
                   uint32_t n, uint8_t* row);

}  // namespace engine
