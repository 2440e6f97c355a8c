// Painting a layer with its effects (effects_paint.cpp).
#pragma once

#include "engine/compose/composite.h"
#include "engine/compose/effects.h"

namespace engine {

// Paints layer `index` and its effects onto `canvas`.
Status PaintLayerEffects(Composer* c, uint32_t index, const LayerEffects& fx,
                         Canvas* canvas, const PaintParams& p);

}  // namespace engine
