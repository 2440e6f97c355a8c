// Helpers of the merged picture tests: documents whose samples follow a
// known pattern of runs and noise at every depth.
#pragma once

#include <stdint.h>

#include "engine_test_support.h"

namespace mergedtest {

using psdw::PsdSpec;

// Deterministic samples with runs and noise, one byte each.
inline uint8_t Value(uint32_t x, uint32_t y, uint32_t c) {
  if (y % 2 == 1 && x < 4) return static_cast<uint8_t>(30 * c + y);
  return static_cast<uint8_t>((x * 29 + y * 71 + c * 101 + x * y) & 0xff);
}

inline PsdSpec Doc(uint16_t mode, uint16_t depth, uint32_t channels, uint32_t w,
                   uint32_t h, uint16_t compression = psdw::kRaw) {
  return psdw::MakeDocument(
      mode, depth, channels, w, h, compression,
      [depth](uint32_t c, uint32_t x, uint32_t y) -> uint32_t {
        const uint32_t b = Value(x, y, c);
        if (depth == 16) return b << 8 | ((x * 13 + 5) & 0xff);
        if (depth == 32) return psdw::FloatBits(static_cast<float>(b) / 255.0f);
        return b;
      });
}

}  // namespace mergedtest
