#include "engine/compose/blend/canvas.h"

#include <string.h>

#include "engine/base/memory.h"
#include "engine/base/numbers.h"

namespace engine {
namespace {

// A colour over white: 255 - (255 - C) x a / 255.
inline uint8_t OverWhite(uint32_t colour, uint32_t alpha) {
  return static_cast<uint8_t>(255 - MulDiv255(255 - colour, alpha));
}

void FlattenRow(const uint8_t* src, uint32_t width, uint32_t sample_step,
                uint8_t* dst) {
  for (uint32_t x = 0; x < width; ++x, src += 4) {
    const uint32_t a = src[3];
    if (sample_step == 1) {
      dst[x] = OverWhite(src[0], a);
      continue;
    }
    uint8_t* px = dst + sample_step * x;
    px[0] = OverWhite(src[0], a);
    px[1] = OverWhite(src[1], a);
    px[2] = OverWhite(src[2], a);
    if (sample_step == 4) px[3] = 255;
  }
}

}  // namespace

void InitCanvas(Canvas* canvas, uint32_t width, uint32_t height, int32_t top,
                uint32_t rows) {
  *canvas = Canvas{nullptr, width, height, top, rows, kNoPixels, kNoPixels};
}

uint64_t CanvasBytes(uint32_t width, uint32_t height) {
  const uint64_t bytes = static_cast<uint64_t>(width) * height * 4;
  return bytes <= static_cast<uint64_t>(UINTPTR_MAX) ? bytes : 0;
}

Status PrepareCanvas(Canvas* canvas) {
  if (canvas->pixels != nullptr) {
    const PixelRect p = RowsHeld(canvas, canvas->stale);
    if (!RectEmpty(canvas->stale)) {
      const uint32_t bytes = static_cast<uint32_t>(p.right - p.left) * 4;
      for (int32_t y = p.top; y < p.bottom; ++y) {
        memset(CanvasRow(canvas, y) + 4 * p.left, 0, bytes);
      }
      canvas->stale = kNoPixels;
    }
    return kDone;
  }
  const uint64_t bytes = CanvasBytes(canvas->width, canvas->rows);
  if (bytes == 0 || CanvasBytes(canvas->width, canvas->height) == 0) {
    return kTooLarge;
  }
  canvas->pixels = static_cast<uint8_t*>(AllocateZeroed(bytes));
  return canvas->pixels != nullptr ? kDone : kNoMemory;
}

void MarkPainted(Canvas* canvas, const PixelRect& r) {
  canvas->painted = UniteRects(canvas->painted, r);
}

void ClearCanvas(Canvas* canvas) {
  canvas->stale = UniteRects(canvas->stale, canvas->painted);
  canvas->painted = kNoPixels;
}

void ReleaseCanvas(Canvas* canvas) {
  Release(canvas->pixels);
  canvas->pixels = nullptr;
  canvas->painted = kNoPixels;
  canvas->stale = kNoPixels;
}

void FlattenCanvasRow(const Canvas* canvas, int32_t y, uint32_t sample_step,
                      uint8_t* dst) {
  if (canvas->pixels == nullptr) {
    memset(dst, 255, static_cast<uint64_t>(canvas->width) * sample_step);
  } else {
    FlattenRow(CanvasRow(canvas, y), canvas->width, sample_step, dst);
  }
}

void FlattenCanvas(const Canvas* canvas, const FlatRows& rows,
                   uint8_t* pixels) {
  const uint32_t height = canvas->height;
  const int32_t end = canvas->top + static_cast<int32_t>(canvas->rows);
  for (int32_t y = canvas->top; y < end; ++y) {
    uint8_t* dst = pixels + static_cast<uint64_t>(height - 1 - y) * rows.stride;
    FlattenCanvasRow(canvas, y, rows.sample_step, dst);
    memset(dst + rows.row_bytes, 0, rows.stride - rows.row_bytes);
  }
}

}  // namespace engine
