// Artboards: a group whose record holds artboard data ("artb", "artd" or
// "abdd": a 4-byte version, then a descriptor) shows its members only
// within its rectangle ("artboardRect": "Top ", "Left", "Btom", "Rght"),
// over its background ("artboardBackgroundType": 1 white, 2 black,
// 3 transparent, 4 the colour "Clr "; white when the descriptor has none).
#pragma once

#include "engine/base/rect.h"
#include "engine/psd/document.h"
#include "engine/psd/layer_extra.h"

namespace engine {

struct Artboard {
  PixelRect rect;
  uint8_t background[4];  // blue, green, red, alpha (0: transparent)
};

// The record's artboard, or false when it has none (or its descriptor does
// not read, or gives no rectangle).
bool ReadArtboard(const Document* doc, const LayerTraits& traits,
                  Artboard* artboard);

}  // namespace engine
