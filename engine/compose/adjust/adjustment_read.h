// What the readers of adjustment records share: a bounded big-endian
// reader of one block, and the table builders.
#pragma once

#include "engine/base/bytes.h"
#include "engine/compose/adjust/adjustment.h"

namespace engine {

// Reads fields of a block in order; past its end every read gives 0 and
// `ok` turns false, so a malformed block is never read outside.
struct Reader {
  const uint8_t* p;
  const uint8_t* end;
  bool ok;

  const uint8_t* Take(uint32_t n) {
    if (!ok || BytesLeft(p, end) < n) {
      ok = false;
      return nullptr;
    }
    const uint8_t* at = p;
    p += n;
    return at;
  }
  uint32_t U8() {
    const uint8_t* b = Take(1);
    return b != nullptr ? b[0] : 0;
  }
  uint32_t U16() {
    const uint8_t* b = Take(2);
    return b != nullptr ? ReadU16(b) : 0;
  }
  int32_t S16() { return static_cast<int16_t>(U16()); }
  uint32_t U32() {
    const uint8_t* b = Take(4);
    return b != nullptr ? ReadU32(b) : 0;
  }
  float F32() {
    const uint32_t bits = U32();
    float f;
    memcpy(&f, &bits, 4);
    return f;
  }
};

inline bool KeyMatches(const char* key, const char* text) {
  return memcmp(key, text, 4) == 0;
}

// The sRGB curve and its inverse on 0..1.
double SrgbToLinear(double v);
double LinearToSrgb(double v);

// Levels, curves, invert, posterize and exposure: tables for `channels`
// document channels (all four for those alike in every channel).
bool ReadTableAdjustment(const Document* doc, const char* key, Reader* r,
                         uint32_t channels, Adjustment* a);

// Brightness and contrast (-150..150 and -50..100; the legacy form
// -100..100 each) as a table.
void BrightnessContrastTable(int32_t brightness, int32_t contrast, bool legacy,
                             uint8_t* table);

// The colour kinds (colour balance, black & white, photo filter, channel
// mixer, gradient map, selective colour, vibrance): reading, and their
// formulas on `n` pixels (blue, green, red, alpha).
bool ReadColourAdjustment(const Document* doc, const char* key,
                          const InfoBlock& block, Reader* r, Adjustment* a);
void ColourPixels(const Adjustment& a, uint8_t* pixels, uint32_t n);

// Hue/saturation (adjustment_hue.cpp): reading, and its formula on `n`
// pixels.
bool ReadHueSaturation(Reader* r, HueSaturation* h);
void HuePixels(const HueSaturation& h, uint8_t* pixels, uint32_t n);

// Hue/saturation and threshold.
bool ReadPixelAdjustment(const char* key, Reader* r, Adjustment* a);

}  // namespace engine
