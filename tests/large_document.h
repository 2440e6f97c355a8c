// Large layered documents written straight to a file, a part at a time, so
// that documents of hundreds of megabytes (or, as holes of a sparse file,
// of gigabytes) never sit in memory: RGB, 8 bits, full-canvas raw layers
// and a raw or PackBits merged picture of a known pattern.
#pragma once

#include <stdint.h>

#include <string>

namespace psdw {

struct LargeDocument {
  uint16_t version = 1;  // 2: the large-document format
  uint32_t width = 0;
  uint32_t height = 0;
  uint32_t layers = 0;       // each the whole canvas, red, green and blue
  bool layer_holes = false;  // the layers' data left as holes (sparse file)
  bool packbits = false;     // the merged picture PackBits (else raw)
};

bool WriteLargeDocument(const std::string& path, const LargeDocument& d);

// Channel c (0 red, 1 green, 2 blue) at (x, y) of the merged picture:
// squares of 64 pixels, so that PackBits rows are short.
inline uint8_t LargeMergedSample(uint32_t c, uint32_t x, uint32_t y) {
  return static_cast<uint8_t>((x / 64) * 7 + (y / 64) * 13 + c * 80);
}

}  // namespace psdw
