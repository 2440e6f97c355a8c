// The compositor's canvases: straight-alpha pictures of the document's size,
// 4 bytes a pixel (blue, green, red, alpha), and the flattening of the
// finished one onto white into the merged picture's output format.
#pragma once

#include "engine/base/rect.h"
#include "engine/base/status.h"

namespace engine {

// How the canvas's three colour bytes map to the document's channels in
// one pass of the compositor: RGB documents (blue, green, red in the
// canvas's order), gray (one channel in all three), and CMYK documents,
// composited in two passes, the first with cyan, magenta, yellow where
// red, green, blue would be, the second with black in all three.
enum CanvasChannels : uint8_t {
  kCanvasRgb,
  kCanvasGray,
  kCanvasCmy,
  kCanvasBlack,
};

// A canvas may hold a band of the document's rows only: rows [top, top +
// rows). Its painted and stale rectangles are in document rows whatever
// the band, so every band makes the same decisions; only the rows within
// the band are touched.
struct Canvas {
  uint8_t* pixels;  // null until first painted
  uint32_t width;
  uint32_t height;
  int32_t top;        // the first document row held
  uint32_t rows;      // document rows held
  PixelRect painted;  // what has been painted since the last clearing
  PixelRect stale;    // cleared, but made transparent only when next used
};

// An unallocated, transparent canvas of `width` x `height` pixels holding
// rows [top, top + rows).
void InitCanvas(Canvas* canvas, uint32_t width, uint32_t height, int32_t top,
                uint32_t rows);

// Bytes of the pixel block (0 when it does not fit in memory's address
// range).
uint64_t CanvasBytes(uint32_t width, uint32_t height);

// Allocates the transparent pixel block when there is none yet, or makes
// what was cleared transparent.
Status PrepareCanvas(Canvas* canvas);

inline uint8_t* CanvasRow(const Canvas* canvas, int32_t y) {
  return canvas->pixels +
         static_cast<uint64_t>(y - canvas->top) * canvas->width * 4;
}

// The rows of `r` the canvas holds.
inline PixelRect RowsHeld(const Canvas* canvas, PixelRect r) {
  const int32_t end = canvas->top + static_cast<int32_t>(canvas->rows);
  if (r.top < canvas->top) r.top = canvas->top;
  if (r.bottom > end) r.bottom = end;
  if (r.bottom < r.top) r.bottom = r.top;
  return r;
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

// Row `y` (held) flattened onto white, `sample_step` bytes a pixel.
void FlattenCanvasRow(const Canvas* canvas, int32_t y, uint32_t sample_step,
                      uint8_t* dst);

// Writes the rows the canvas holds flattened onto white into the document's
// bottom-up rows at `pixels`, padding zeroed.
void FlattenCanvas(const Canvas* canvas, const FlatRows& rows, uint8_t* pixels);

}  // namespace engine
