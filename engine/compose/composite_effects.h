// Painting a layer with its effects (composite_effects.cpp).
#pragma once

#include "engine/compose/composite.h"
#include "engine/compose/effects/effects.h"

namespace engine {

// Paints layer `index` and its effects onto `canvas`. With `content`, the
// layer's pixels are what that canvas holds (a clipping group whose base
// the layer is); the effects still follow the layer's own shape.
Status PaintLayerEffects(Composer* c, uint32_t index, const LayerEffects& fx,
                         const Canvas* content, Canvas* canvas,
                         const PaintParams& p);

}  // namespace engine
