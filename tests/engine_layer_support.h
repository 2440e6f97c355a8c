// Helpers of the layer picture tests: layers whose samples follow a known
// pattern at every depth, layer masks, a small document to hold them, and
// the expected picture of an 8-bit layer.
#pragma once

#include <stdint.h>

#include <vector>

#include "engine_test_support.h"

namespace layertest {

using enginetest::Dib;
using psdw::Bytes;
using psdw::Layer;
using psdw::PsdSpec;
using psdw::Samples;

// Sample of channel `id` at (x, y) of a layer: transparency has clear,
// half and opaque pixels; colour channels vary.
inline uint8_t Sample8(int16_t id, uint32_t x, uint32_t y) {
  if (id == -1) {
    uint32_t k = (x + 2 * y) % 3;
    return k == 0 ? 0 : k == 1 ? 128 : 255;
  }
  if (id <= -2) return (x + y) % 2 ? 255 : 0;
  return static_cast<uint8_t>(x * 23 + y * 41 + id * 67 + 9);
}

inline Layer MakeLayer(int32_t top, int32_t left, int32_t bottom, int32_t right,
                       const std::vector<int16_t>& ids, uint16_t compression,
                       uint16_t depth = 8) {
  return psdw::MakeLayer(
      top, left, bottom, right, ids, compression,
      [depth](int16_t id, uint32_t x, uint32_t y) -> uint32_t {
        const uint32_t b = Sample8(id, x, y);
        if (depth == 16) return b << 8 | (x & 0xff);
        // 32 bits: transparency only fully clear or opaque; colour linear.
        if (depth == 32) {
          return psdw::FloatBits(id == -1 ? (b == 0 ? 0.0f : 1.0f)
                                          : b / 255.0f);
        }
        return b;
      });
}

inline void AddMask(Layer& l, int32_t top, int32_t left, int32_t bottom,
                    int32_t right, size_t position, uint16_t compression) {
  const uint32_t w = static_cast<uint32_t>(right - left);
  psdw::AddMask(
      l, top, left, bottom, right, position, compression,
      [w](uint32_t x, uint32_t y) { return (y * w + x) % 3 ? 0u : 255u; });
}

inline PsdSpec Document(uint16_t mode = 3, uint16_t depth = 8) {
  PsdSpec s;
  s.mode = mode;
  s.depth = depth;
  s.width = 16;
  s.height = 12;
  uint32_t planes = mode == 3 ? 3 : mode == 4 ? 4 : 1;
  for (uint32_t c = 0; c < planes; ++c) {
    Samples p;
    for (uint32_t i = 0; i < 16 * 12; ++i) {
      uint32_t b = (i * 5 + c * 77) & 0xff;
      p.push_back(depth == 16   ? b << 8
                  : depth == 32 ? psdw::FloatBits(b / 255.0f)
                                : b);
    }
    s.planes.push_back(p);
  }
  s.resources = {psdw::ResolutionResource(72, 72)};
  return s;
}

// The expected 4-byte picture of an 8-bit RGBA (or gray+alpha) layer.
inline Bytes RgbaPicture(uint32_t w, uint32_t h, bool gray) {
  return Dib(w, h, 4, [&](uint32_t x, uint32_t y, uint32_t i) {
    uint8_t a = Sample8(-1, x, y);
    if (i == 3) return a;
    if (a == 0) return uint8_t{255};
    return Sample8(gray ? 0 : static_cast<int16_t>(2 - i), x, y);
  });
}

}  // namespace layertest
