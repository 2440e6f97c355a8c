// Blending ranges: after the record's 4-byte length, 8 bytes for the
// composite gray, then 8 for each channel; each 8 are the source's range
// and the underlying's range, each range 4 bytes: black low, black high,
// white low, white high. A value below black low or above white high
// hides the pixel, between the low and high of a split it fades in.
#include "engine/compose/blend/blend_if.h"

#include "engine/base/numbers.h"

namespace engine {
namespace {

bool RangeIsWhole(const uint8_t* r) {
  return r[0] == 0 && r[1] == 0 && r[2] == 255 && r[3] == 255;
}

// How much a value lets through (0..255).
uint32_t RangeFactor(const uint8_t* r, uint32_t v) {
  const uint32_t b0 = r[0], b1 = r[1] > r[0] ? r[1] : r[0];
  const uint32_t w1 = r[3], w0 = r[2] < r[3] ? r[2] : r[3];
  if (v < b0 || v > w1) return 0;
  if (v < b1) return (v - b0) * 255 / (b1 - b0);
  if (v > w0) return (w1 - v) * 255 / (w1 - w0);
  return 255;
}

uint32_t Gray(const uint8_t* px) {
  return (px[2] * 77u + px[1] * 150u + px[0] * 29u + 128) >> 8;
}

}  // namespace

bool BlendRangesActive(const uint8_t* ranges, uint32_t length) {
  if (ranges == nullptr) return false;
  for (uint32_t at = 0; at + 4 <= length; at += 4) {
    if (!RangeIsWhole(ranges + at)) return true;
  }
  return false;
}

void ApplyBlendRanges(const uint8_t* ranges, uint32_t length,
                      CanvasChannels channels, uint8_t* src, const uint8_t* dst,
                      uint32_t n) {
  // The canvas's colour channels by the document's channel order: red,
  // green, blue at bytes 2, 1, 0 (gray: the composite alone).
  const uint32_t channel_count = channels == kCanvasRgb ? 3 : 0;
  for (uint32_t i = 0; i < n; ++i) {
    uint8_t* s = src + 4 * i;
    const uint8_t* d = dst + 4 * i;
    uint32_t factor = 255;
    if (length >= 8) {
      factor = MulDiv255(factor, RangeFactor(ranges, Gray(s)));
      // The underlying pixel counts only where there is one.
      if (d[3] != 0)
        factor = MulDiv255(factor, RangeFactor(ranges + 4, Gray(d)));
    }
    for (uint32_t k = 0; k < channel_count && 16 + 8 * k <= length; ++k) {
      const uint8_t* r = ranges + 8 + 8 * k;
      factor = MulDiv255(factor, RangeFactor(r, s[2 - k]));
      if (d[3] != 0) factor = MulDiv255(factor, RangeFactor(r + 4, d[2 - k]));
    }
    s[3] = static_cast<uint8_t>(MulDiv255(s[3], factor));
  }
}

uint8_t KeptColourBytes(uint8_t channels_left_out, CanvasChannels channels) {
  if (channels != kCanvasRgb) return 0;
  uint8_t kept = 0;
  for (uint32_t k = 0; k < 3; ++k) {
    if (channels_left_out & (1u << k))
      kept |= static_cast<uint8_t>(1u << (2 - k));
  }
  return kept;
}

}  // namespace engine
