// Knockout groups. An item of such a group is composited with what was
// below the group (the backdrop, or nothing for a group of its own) and
// takes the place of what the group's earlier items painted wherever it
// covers: with the item's alpha t, the item X blended onto the backdrop and
// the canvas C before it, premultiplied,
//   C' = (1 - t) C + t X.
#include "engine/base/numbers.h"
#include "engine/compose/composite.h"

namespace engine {
namespace {

void KnockRow(BlendMode mode, const uint8_t* item, const uint8_t* backdrop,
              uint8_t* scratch, uint8_t* dst, uint32_t n, int32_t x,
              int32_t y) {
  if (backdrop != nullptr) {
    memcpy(scratch, backdrop, 4ull * n);
  } else {
    memset(scratch, 0, 4ull * n);
  }
  BlendRow(mode, item, scratch, n, false, x, y);
  for (uint32_t i = 0; i < n; ++i) {
    const uint32_t t = item[4 * i + 3];
    if (t == 0) continue;
    uint8_t* c = dst + 4 * i;
    const uint8_t* k = scratch + 4 * i;
    const uint32_t wc = c[3] * (255 - t), wk = k[3] * t;
    const uint32_t total = wc + wk;
    for (int j = 0; j < 3; ++j) {
      c[j] = total == 0 ? 0
                        : static_cast<uint8_t>(
                              (wc * c[j] + wk * k[j] + total / 2) / total);
    }
    c[3] = static_cast<uint8_t>(Div255(total));
  }
}

// A layer that knocks out shows what was below its group (nothing, for a
// group of its own) in place of the group's layers under it: its level
// must hold that backdrop.
bool KnocksOut(const Composer* c, uint32_t index, const Level* level) {
  if (c->plan.traits[index].knockout == 0) return false;
  return level->kind == kLevelGroup || level->kind == kLevelRoot ||
         (level->kind == kLevelPass && level->backdrop != nullptr);
}

}  // namespace

bool PaintKnockout(Composer* c, uint32_t index, Level* level,
                   const PaintParams& p, Status* status) {
  if (!KnocksOut(c, index, level) ||
      c->canvases_in_use > kLimits.max_canvas_levels) {
    return false;
  }
  Canvas* item = &c->canvases[c->canvases_in_use++];
  PaintParams alone = p;
  alone.mode = kBlendNormal;
  alone.keep_alpha = false;
  alone.clip_shape = nullptr;
  alone.records_clip_shape = false;
  *status = PaintLayer(c, index, item, alone);
  const PixelRect rect = item->painted;
  if (*status == kDone && !RectEmpty(rect)) {
    *status = PrepareCanvas(level->canvas);
  }
  if (*status == kDone && !RectEmpty(rect)) {
    const Canvas* backdrop = level->backdrop;
    const uint32_t n = static_cast<uint32_t>(rect.right - rect.left);
    const PixelRect held = RowsHeld(item, rect);
    for (int32_t y = held.top; y < held.bottom; ++y) {
      const uint8_t* below = backdrop != nullptr && backdrop->pixels != nullptr
                                 ? CanvasRow(backdrop, y) + 4 * rect.left
                                 : nullptr;
      KnockRow(p.mode, CanvasRow(item, y) + 4 * rect.left, below, c->row,
               CanvasRow(level->canvas, y) + 4 * rect.left, n, rect.left, y);
    }
    MarkPainted(level->canvas, rect);
  }
  ClearCanvas(item);
  --c->canvases_in_use;
  return true;
}

}  // namespace engine
