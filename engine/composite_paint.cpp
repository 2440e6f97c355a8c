// Painting one item onto a canvas: a layer's pixels read row by row, or a
// finished group canvas, each with its layer mask and opacity, through the
// blend mode.
#include "engine/bytes.h"
#include "engine/composite.h"
#include "engine/layer_rows.h"
#include "engine/numbers.h"

namespace {

PixelRect DocumentRect(const Canvas* canvas) {
  return PixelRect{0, 0, static_cast<int32_t>(canvas->width),
                   static_cast<int32_t>(canvas->height)};
}

void ScaleAlpha(uint8_t* pixels, uint32_t n, uint32_t factor) {
  if (factor == 255) return;
  for (uint32_t i = 0; i < n; ++i) {
    uint8_t* a = pixels + 4 * i + 3;
    *a = static_cast<uint8_t>(MulDiv255(*a, factor));
  }
}

// Paints the rows of `rect` from the open layer rows.
void PaintLayerRows(Composer* c, LayerRows* rows, MaskRows* mask,
                    const PixelRect& rect, Canvas* canvas,
                    const PaintParams& p) {
  const uint32_t n = static_cast<uint32_t>(rect.right - rect.left);
  PixelRect painted = rect;
  painted.bottom = rect.top;
  for (int32_t y = rect.top; y < rect.bottom; ++y) {
    if (!ReadLayerRow(rows, y, rect.left, rect.right, c->row)) continue;
    ApplyMaskRow(mask, y, rect.left, n, c->row);
    ScaleAlpha(c->row, n, p.opacity);
    BlendRow(p.mode, c->row, CanvasRow(canvas, y) + 4 * rect.left, n,
             p.keep_alpha, rect.left, y);
    painted.bottom = y + 1;
  }
  MarkPainted(canvas, painted);
}

Status OpenMaskOf(const Composer* c, uint32_t record, bool wanted,
                  MaskRows* mask) {
  memset(mask, 0, sizeof(*mask));
  if (!wanted) return kDone;
  const LayerRecord& layer = c->list->records[record];
  LayerMaskInfo info;
  ReadLayerMask(layer, &info);
  ChannelPlace places[kRoles];
  FindLayerChannels(c->state, layer, c->plan.offsets[record], places);
  return OpenMaskRows(c->state, info, places, mask);
}

}  // namespace

bool TakeWork(Composer* c, uint64_t pixels) {
  if (c->cut_short || c->work + pixels > c->work_limit) {
    c->cut_short = true;
    return false;
  }
  c->work += pixels;
  return true;
}

Status PaintLayer(Composer* c, uint32_t index, Canvas* canvas,
                  const PaintParams& p) {
  const LayerRecord& layer = c->list->records[index];
  LayerPlan plan;
  PlanLayer(c->state, c->list, index, c->plan.offsets[index], &plan);
  if (!plan.has_picture || plan.image_size == 0) return kDone;
  ChannelPlace places[kRoles];
  FindLayerChannels(c->state, layer, c->plan.offsets[index], places);
  LayerRows rows;
  Status status = OpenLayerRows(c->state, layer, plan, places, &rows);
  if (status != kDone) return status;
  MaskRows mask;
  status = OpenMaskOf(c, index, p.masks, &mask);
  if (status == kDone) {
    PixelRect rect = IntersectRects(rows.rect, DocumentRect(canvas));
    rect = IntersectRects(rect, MaskReach(&mask));
    if (rect.bottom > rows.end_y) rect.bottom = rows.end_y;
    if (!RectEmpty(rect)) {
      const uint64_t area = static_cast<uint64_t>(rect.right - rect.left) *
                            static_cast<uint64_t>(rect.bottom - rect.top);
      if (TakeWork(c, area)) {
        status = PrepareCanvas(canvas);
        if (status == kDone) PaintLayerRows(c, &rows, &mask, rect, canvas, p);
      }
    }
  }
  CloseMaskRows(&mask);
  CloseLayerRows(&rows);
  return status;
}

Status PaintCanvas(Composer* c, Canvas* from, Canvas* onto, uint32_t record,
                   const PaintParams& p) {
  PixelRect rect = from->painted;
  if (RectEmpty(rect)) return kDone;
  MaskRows mask;
  Status status = OpenMaskOf(c, record, p.masks, &mask);
  rect = IntersectRects(rect, MaskReach(&mask));
  if (status == kDone && !RectEmpty(rect)) {
    const uint64_t area = static_cast<uint64_t>(rect.right - rect.left) *
                          static_cast<uint64_t>(rect.bottom - rect.top);
    // Closing what is open always finishes, within the limit or not.
    c->work += area;
    status = PrepareCanvas(onto);
    const uint32_t n = static_cast<uint32_t>(rect.right - rect.left);
    for (int32_t y = rect.top; status == kDone && y < rect.bottom; ++y) {
      uint8_t* src = CanvasRow(from, y) + 4 * rect.left;
      ApplyMaskRow(&mask, y, rect.left, n, src);
      ScaleAlpha(src, n, p.opacity);
      BlendRow(p.mode, src, CanvasRow(onto, y) + 4 * rect.left, n, p.keep_alpha,
               rect.left, y);
    }
    if (status == kDone) MarkPainted(onto, rect);
  }
  CloseMaskRows(&mask);
  ClearCanvas(from);
  return status;
}
