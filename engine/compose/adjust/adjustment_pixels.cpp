// Threshold, and the application of every adjustment to a row of the
// canvas. Record layout (big-endian) of thrs: level (2).
#include "engine/base/numbers.h"
#include "engine/compose/adjust/adjustment_read.h"

namespace engine {
namespace {

// Luminosity of a pixel (blue, green, red), 0..255.
uint32_t Luminosity(const uint8_t* bgr) {
  return (30 * bgr[2] + 59 * bgr[1] + 11 * bgr[0] + 50) / 100;
}

void ApplyTables(const Adjustment& a, CanvasChannels channels, uint8_t* px,
                 uint32_t n) {
  static const uint8_t kSlots[4][3] = {
      {2, 1, 0}, {0, 0, 0}, {2, 1, 0}, {3, 3, 3}};
  const uint8_t* slot = kSlots[channels];
  const uint8_t* t0 = a.table[slot[0]];
  const uint8_t* t1 = a.table[slot[1]];
  const uint8_t* t2 = a.table[slot[2]];
  for (uint32_t i = 0; i < n; ++i, px += 4) {
    px[0] = t0[px[0]];
    px[1] = t1[px[1]];
    px[2] = t2[px[2]];
  }
}

}  // namespace

bool ReadPixelAdjustment(const char* key, Reader* r, Adjustment* a) {
  if (KeyMatches(key, "hue2") || KeyMatches(key, "hue ")) {
    a->kind = kAdjustHue;
    return ReadHueSaturation(r, &a->hue);
  }
  if (KeyMatches(key, "thrs")) {
    a->kind = kAdjustThreshold;
    const uint32_t level = r->U16();
    a->threshold = static_cast<uint8_t>(level < 1     ? 1
                                        : level > 255 ? 255
                                                      : level);
    return r->ok;
  }
  return false;
}

// Threshold in CMYK: white and black are both without colour ink; the
// first pass keeps the luminosity of the colours, the black pass decides
// on it darkened by the black.
void ThresholdCmyk(const Adjustment& a, CanvasChannels channels, uint8_t* px,
                   uint32_t n, uint8_t* luminosity) {
  for (uint32_t i = 0; i < n; ++i, px += 4) {
    if (channels == kCanvasCmy) {
      luminosity[i] = static_cast<uint8_t>(Luminosity(px));
      px[0] = px[1] = px[2] = 255;
    } else {
      const uint8_t v =
          MulDiv255(luminosity[i], px[0]) >= a.threshold ? 255 : 0;
      px[0] = px[1] = px[2] = v;
    }
  }
}

void AdjustPixels(const Adjustment& a, CanvasChannels channels, uint8_t* pixels,
                  uint32_t n, uint8_t* luminosity) {
  if (a.kind == kAdjustThreshold && luminosity != nullptr &&
      (channels == kCanvasCmy || channels == kCanvasBlack)) {
    ThresholdCmyk(a, channels, pixels, n, luminosity);
    return;
  }
  // Black in the second pass of a CMYK document is left to the per-sample
  // kinds; a whole-pixel formula works on the three colours.
  const bool whole = channels != kCanvasBlack;
  uint8_t* px = pixels;
  switch (a.kind) {
    case kAdjustHue:
      if (whole) HuePixels(a.hue, pixels, n);
      break;
    case kAdjustThreshold:
      for (uint32_t i = 0; i < n; ++i, px += 4) {
        const uint8_t v = Luminosity(px) >= a.threshold ? 255 : 0;
        px[0] = px[1] = px[2] = v;
      }
      break;
    default:
      if (whole) ColourPixels(a, pixels, n);
      break;
  }
  if (channels == kCanvasGray && a.kind != kAdjustTables) {
    px = pixels;
    for (uint32_t i = 0; i < n; ++i, px += 4) {
      px[0] = px[1] = px[2] = static_cast<uint8_t>(Luminosity(px));
    }
  }
  ApplyTables(a, channels, pixels, n);
}

}  // namespace engine
