// Feathered masks: a layer mask or vector mask blurred by its feather
// radius. The mask is rendered over the canvas's rows and as far around
// them as the blur reaches, blurred, and kept for the rows held.
#pragma once

#include "engine/base/rect.h"
#include "engine/base/status.h"
#include "engine/channels/layer_rows.h"
#include "engine/compose/layer/vector_mask.h"

namespace engine {

struct FeatheredMask {
  uint8_t* plane;   // null: no feather
  PixelRect rect;   // what the plane covers (beyond the document too)
  PixelRect reach;  // where the blurred mask is above 0
};

// Renders the open mask (`user`, or `vector` when `user` is null) over rows
// [first, end) of a `width` x `height` document and as far around as a
// blur of `feather` pixels reaches, and blurs it. Beyond the document a
// vector mask repeats its edge. The mask's own reader is used up.
Status FeatherMask(MaskRows* user, VectorMask* vector, uint32_t feather,
                   uint32_t width, uint32_t height, int32_t first, int32_t end,
                   FeatheredMask* out);
void ReleaseFeathered(FeatheredMask* f);

// Multiplies the alpha of `n` pixels at column x0 of row y by the mask.
void ApplyFeatheredRow(const FeatheredMask* f, int32_t y, int32_t x0,
                       uint32_t n, uint8_t* pixels);

}  // namespace engine
