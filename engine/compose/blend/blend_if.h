// Advanced blending of one row: the blending ranges ("blend if": how much
// of the layer shows by the value of its own and the underlying pixels,
// for the composite gray and each colour channel), and the channels a
// layer leaves out (they keep the underlying values).
#pragma once

#include "engine/compose/blend/canvas.h"

namespace engine {

// Whether the record's blending ranges let anything through other than
// the whole layer (the default ranges do nothing).
bool BlendRangesActive(const uint8_t* ranges, uint32_t length);

// Fades the alpha of `n` source pixels by the ranges, against `dst`.
void ApplyBlendRanges(const uint8_t* ranges, uint32_t length,
                      CanvasChannels channels, uint8_t* src, const uint8_t* dst,
                      uint32_t n);

// Colour bytes (blue, green, red at 0, 1, 2) a pixel keeps from before the
// blend: the document's channels left out (bit 0 its first channel).
uint8_t KeptColourBytes(uint8_t channels_left_out, CanvasChannels channels);

}  // namespace engine
