// The compositor's canvases: straight-alpha pictures of the document's size,
// 4 bytes a pixel (blue, green, red, alpha), and the flattening of the
// finished one onto white into the merged picture's output format.
#pragma once

#include "engine/psd/document.h"

// A rectangle of document pixels: [left, right) x [top, bottom).
struct PixelRect {
  int32_t left;
  int32_t top;
  int32_t right;
  int32_t bottom;
};

// A rectangle beyond every document: what is not limited at all.
inline constexpr PixelRect kWholePlane = {-0x3FFFFFFF, -0x3FFFFFFF, 0x3FFFFFFF,
                                          0x3FFFFFFF};

inline bool RectEmpty(const PixelRect& r) {
  return r.right <= r.left || r.bottom <= r.top;
}
PixelRect IntersectRects(const PixelRect& a, const PixelRect& b);
// The smallest rectangle holding both (an empty one adds nothing).
PixelRect UniteRects(const PixelRect& a, const PixelRect& b);

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

// Writes the canvas flattened onto white into the output format of the
// merged picture (8-bit gray, 24-bit or 32-bit colour), bottom-up rows of
// `state->stride` bytes, padding zeroed.
void FlattenCanvas(const Canvas* canvas, const DecodeState* state,
                   uint8_t* pixels);
