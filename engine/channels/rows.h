// Row conversions shared by the merged picture and the layers: reduction
// of 1-, 2- and 4-byte samples to one byte, and the colour conversions.
#pragma once

#include <stdint.h>

namespace engine {

// One byte per sample from `count` samples of `sample_size` bytes: 8-bit
// samples as they are, the most significant byte of 16-bit samples, and
// 32-bit floating-point samples (linear light) through the sRGB curve.
void ReduceSamples(const uint8_t* in, uint32_t count, uint32_t sample_size,
                   uint8_t* out);

// The sRGB-encoded byte of a linear-light value, clamped to 0..1.
uint8_t LinearToSrgbByte(float value);

// CMYK (as stored: 255 is no ink) to blue, green, red.
inline void CmykToBgr(uint32_t c, uint32_t m, uint32_t y, uint32_t k,
                      uint8_t* bgr) {
  const uint32_t k1 = k + 1;
  bgr[0] = static_cast<uint8_t>(k - ((255 - y) * k1) / 256);
  bgr[1] = static_cast<uint8_t>(k - ((255 - m) * k1) / 256);
  bgr[2] = static_cast<uint8_t>(k - ((255 - c) * k1) / 256);
}

// CIE L*a*b* (D50; 8-bit planes: L scaled to 0..255, a and b offset by
// 128) to sRGB blue, green, red.
void LabToBgr(uint8_t l, uint8_t a, uint8_t b, uint8_t* bgr);

}  // namespace engine
