// Pass-through groups with clipped items. Such a group's members blend
// straight into what is below the group; the items clipped to it must then
// blend with the group's content alone. The shape (the alpha the members
// painted) and a copy of the canvas from before the group let the content
// be taken apart again: with backdrop (Cb, ab), the canvas after the group
// (Ca, aa) and shape s, the content is the colour Cc of alpha s that,
// painted over the backdrop, gives the canvas after:
//   aa Ca = s Cc + (1 - s) ab Cb.
#include "engine/base/limits.h"
#include "engine/base/memory.h"
#include "engine/base/numbers.h"
#include "engine/compose/composite.h"

namespace engine {

uint8_t* TakeShape(Composer* c) {
  // The limit is the whole document's, whatever rows the band holds.
  const Canvas& root = c->canvases[0];
  const uint64_t bytes = static_cast<uint64_t>(root.width) * root.height;
  if (c->shapes_in_use >= kLimits.max_canvas_levels ||
      bytes > kLimits.max_scratch_bytes) {
    return nullptr;
  }
  const uint64_t held = static_cast<uint64_t>(root.width) * root.rows;
  uint8_t* shape = static_cast<uint8_t*>(AllocateZeroed(held + 1));
  if (shape != nullptr) ++c->shapes_in_use;
  return shape;
}

void ReleaseShape(Composer* c, uint8_t* shape) {
  if (shape == nullptr) return;
  Release(shape);
  --c->shapes_in_use;
}

Status SaveBackdrop(const Canvas* canvas, Canvas* backdrop) {
  const PixelRect& r = canvas->painted;
  if (RectEmpty(r)) {
    // Nothing to copy, but nothing left from an earlier use either.
    return backdrop->pixels != nullptr ? PrepareCanvas(backdrop) : kDone;
  }
  const Status prepared = PrepareCanvas(backdrop);
  if (prepared != kDone) return prepared;
  const uint32_t bytes = static_cast<uint32_t>(r.right - r.left) * 4;
  const PixelRect held = RowsHeld(canvas, r);
  for (int32_t y = held.top; y < held.bottom; ++y) {
    memcpy(CanvasRow(backdrop, y) + 4 * r.left,
           CanvasRow(canvas, y) + 4 * r.left, bytes);
  }
  MarkPainted(backdrop, r);
  return kDone;
}

void SeparateGroup(Canvas* canvas, Canvas* backdrop, const uint8_t* shape) {
  const PixelRect r = canvas->painted;
  if (RectEmpty(r) || PrepareCanvas(backdrop) != kDone) return;
  const PixelRect held = RowsHeld(canvas, r);
  for (int32_t y = held.top; y < held.bottom; ++y) {
    uint8_t* after = CanvasRow(canvas, y) + 4 * r.left;
    uint8_t* below = CanvasRow(backdrop, y) + 4 * r.left;
    const uint8_t* s =
        shape + static_cast<uint64_t>(y - canvas->top) * canvas->width + r.left;
    for (int32_t x = r.left; x < r.right; ++x, after += 4, below += 4, ++s) {
      const int32_t alpha = *s, ab = below[3], aa = after[3];
      uint8_t content[4] = {0, 0, 0, static_cast<uint8_t>(alpha)};
      for (int k = 0; alpha != 0 && k < 3; ++k) {
        // Cc = (aa Ca 255 - (255 - s) ab Cb) / (255 s), in bytes.
        const int32_t num = aa * after[k] * 255 - (255 - alpha) * ab * below[k];
        const int32_t cc = (num + 255 * alpha / 2) / (255 * alpha);
        content[k] = static_cast<uint8_t>(cc < 0 ? 0 : cc > 255 ? 255 : cc);
      }
      memcpy(after, below, 4);
      memcpy(below, content, 4);
    }
  }
  backdrop->painted = r;
}

void RecordShapes(Composer* c, uint32_t level, int32_t y, int32_t x0,
                  uint32_t n, const uint8_t* pixels) {
  const Canvas& root = c->canvases[0];
  const uint64_t row = static_cast<uint64_t>(y - root.top) * root.width + x0;
  for (uint32_t d = level + 1; d-- > 0;) {
    const Level& l = c->levels[d];
    if (l.kind != kLevelPass) return;
    if (l.shape == nullptr) continue;
    uint8_t* shape = l.shape + row;
    for (uint32_t i = 0; i < n; ++i) {
      const uint32_t a = pixels[4 * i + 3];
      shape[i] = static_cast<uint8_t>(shape[i] + a - MulDiv255(shape[i], a));
    }
  }
}

}  // namespace engine
