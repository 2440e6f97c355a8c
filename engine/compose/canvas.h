// The compositor's canvases: straight-alpha pictures of the document's size,
// 4 bytes a pixel (blue, green, red, alpha), and the flattening of the
// finished one onto white into the merged picture's output format.
#pragma once

#include "engine/base/rect.h"
#include "engine/base/status.h"

namespace engine {

struct Canvas {
  uint8_t* pixels;  // null until first painted
  uint32_t width;
  uint32_t height;
  PixelRect painted;  // what has been painted since the last clearing
  PixelRect stale;    // cleared, but made transparent only when next used
};

// An unallocated, transparent canvas of `width` x `height` pixels.
void InitCanvas(Canvas* canvas, uint32_t width, uint32_t height);

// Bytes of the pixel block (0 when it does not fit in memory's address
// range).
uint64_t CanvasBytes(uint32_t width, uint32_t height);

// Allocates the transparent pixel block when there is none yet, or makes
// what was cleared transparent.
Status PrepareCanvas(Canvas* canvas);

inline uint8_t* CanvasRow(const Canvas* canvas, int32_t y) {
  return canvas->pixels + static_cast<uint64_t>(y) * canvas->width * 4;
}

// Widens the painted rectangle to include `r`.
void MarkPainted(Canvas* canvas, const PixelRect& r);

// Makes the painted rectangle transparent again (when the canvas is next
// prepared), keeping the block.
void ClearCanvas(Canvas* canvas);
void ReleaseCanvas(Canvas* canvas);

// The layout of the rows a canvas is flattened into: `sample_step` bytes a
// pixel (1 gray, 3 blue, green, red, 4 the same and 255), `row_bytes` of
// pixels in a row of `stride` bytes.
struct FlatRows {
  uint32_t sample_step;
  uint32_t row_bytes;
  uint32_t stride;
};

// Writes the canvas flattened onto white as bottom-up rows, padding zeroed.
void FlattenCanvas(const Canvas* canvas, const FlatRows& rows, uint8_t* pixels);

}  // namespace engine
