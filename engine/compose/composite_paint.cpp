// Painting one item onto a canvas: a layer's pixels read row by row, or a
// finished group canvas, each with its layer mask and opacity, through the
// blend mode.
#include "engine/base/bytes.h"
#include "engine/base/limits.h"
#include "engine/base/memory.h"
#include "engine/base/numbers.h"
#include "engine/channels/layer_rows.h"
#include "engine/compose/composite.h"
#include "engine/compose/fill_layer.h"
#include "engine/compose/vector_mask.h"

namespace engine {
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

void NoInk(uint8_t* pixels, uint32_t n) {
  for (uint32_t i = 0; i < n; ++i) memset(pixels + 4 * i, 255, 3);
}

// A record's masks: its layer mask and its vector mask.
struct RecordMasks {
  MaskRows user;
  VectorMask vector;
};

void CloseMasks(RecordMasks* m) {
  CloseVectorMask(&m->vector);
  CloseMaskRows(&m->user);
}

// The vector mask applies unless the record's pixels are the application's
// rendering of a shape already cut out (flags: pixel data irrelevant to the
// document's appearance).
bool WantsVectorMask(const LayerRecord& layer, bool pixels) {
  return !pixels || !LayerPixelsRendered(layer);
}

// Whether a layer's pixels are painted. A layer whose flags say its pixel
// data is irrelevant to the document's appearance has pixels only as the
// application's rendering of its settings: of a fill layer they are used
// (the fill cut out by the vector mask at full density), unless a vector
// mask of lower density or a feather lets the fill show beyond them, when
// the fill is painted instead; of any other such layer they are not.
bool PixelsPainted(const LayerRecord& layer, const LayerTraits& traits) {
  if (!LayerPixelsRendered(layer)) return true;
  const bool fill = traits.solid_fill.data != nullptr ||
                    traits.gradient_fill.data != nullptr ||
                    traits.stroke_fill.data != nullptr;
  if (!fill) return traits.pattern_fill.data != nullptr;
  if (traits.vector_mask.data == nullptr) return true;
  return traits.mask.vector_density == 255 && traits.mask.vector_feather == 0;
}

// Opens the masks of `record` (whose channels `plan` places), whose own
// pixels are painted when `pixels`.
Status OpenMasks(const Composer* c, uint32_t record, const LayerPlan& plan,
                 bool pixels, RecordMasks* m) {
  memset(m, 0, sizeof(*m));
  const LayerRecord& layer = c->list->records[record];
  const LayerTraits& traits = c->plan.traits[record];
  const bool vector = traits.vector_mask.data != nullptr;
  Status status = OpenMaskRows(c->doc, traits.mask, plan, vector, &m->user);
  if (status == kDone && vector && WantsVectorMask(layer, pixels)) {
    status = OpenVectorMask(traits.vector_mask.data, traits.vector_mask.length,
                            c->canvases[0].width, c->canvases[0].height,
                            traits.mask.vector_density, &m->vector);
  }
  if (status != kDone) CloseMasks(m);
  return status;
}

// The masks of a group's record (a group has no pixels of its own).
Status OpenRecordMasks(const Composer* c, uint32_t record, RecordMasks* m) {
  LayerPlan plan;
  PlanLayer(c->doc, c->list, record, c->palette_output, &plan);
  ReadChannelWords(c->doc, record, &plan, nullptr);
  return OpenMasks(c, record, plan, false, m);
}

PixelRect MasksReach(const RecordMasks* m) {
  return IntersectRects(MaskReach(&m->user), VectorMaskReach(&m->vector));
}

void ApplyMasks(RecordMasks* m, int32_t y, int32_t x0, uint32_t n,
                uint8_t* row) {
  ApplyMaskRow(&m->user, y, x0, n, row);
  ApplyVectorMaskRow(&m->vector, y, x0, n, row);
}

// Where a layer's pixels come from: its channels, or its fill.
struct LayerSource {
  bool pixels;
  LayerRows rows;
  FillSource fill;
  RecordMasks masks;
};

void CloseSource(LayerSource* s) {
  CloseMasks(&s->masks);
  CloseFill(&s->fill);
  if (s->pixels) CloseLayerRows(&s->rows);
}

uint8_t* ClipShapeRow(const Composer* c, uint8_t* shape, int32_t y,
                      int32_t x0) {
  const Canvas& root = c->canvases[0];
  return shape + static_cast<uint64_t>(y - root.top) * root.width + x0;
}

// A clipping group's base keeps its shape before its fill opacity fades it.
void RecordClipShape(const Composer* c, const PaintParams& p, int32_t y,
                     int32_t x0, uint32_t n, const uint8_t* pixels) {
  uint8_t* shape = ClipShapeRow(c, p.clip_shape, y, x0);
  for (uint32_t i = 0; i < n; ++i) shape[i] = pixels[4 * i + 3];
}

// Paints the rows of `rect` from the open source.
void PaintSourceRows(Composer* c, LayerSource* s, const PixelRect& rect,
                     Canvas* canvas, const PaintParams& p) {
  const uint32_t n = static_cast<uint32_t>(rect.right - rect.left);
  const PixelRect held = RowsHeld(canvas, rect);
  for (int32_t y = held.top; y < held.bottom; ++y) {
    if (s->pixels) {
      if (!ReadLayerRow(&s->rows, y, rect.left, rect.right, c->row)) continue;
    } else {
      FillRow(&s->fill, y, rect.left, n, c->row);
      // A fill's colour stands for cyan, magenta, yellow without black.
      if (c->channels == kCanvasBlack) NoInk(c->row, n);
    }
    if (p.masks) ApplyMasks(&s->masks, y, rect.left, n, c->row);
    if (p.records_clip_shape) RecordClipShape(c, p, y, rect.left, n, c->row);
    ScaleAlpha(c->row, n, p.opacity);
    RecordShapes(c, p.level, y, rect.left, n, c->row);
    BlendItemRow(c, p, c->row, CanvasRow(canvas, y) + 4 * rect.left, rect.left,
                 y, n);
  }
  // The whole rectangle counts as painted (rows no channel reached stay
  // transparent), in every band alike.
  MarkPainted(canvas, rect);
}

// Opens what paints layer `index`; `rect` receives where it can paint.
Status OpenSource(const Composer* c, uint32_t index, bool masks, LayerSource* s,
                  PixelRect* rect) {
  memset(s, 0, sizeof(*s));
  const Document* doc = c->doc;
  const LayerRecord& layer = c->list->records[index];
  const LayerTraits& traits = c->plan.traits[index];
  const PixelRect document = DocumentRect(&c->canvases[0]);
  LayerPlan plan;
  PlanLayer(doc, c->list, index, c->palette_output, &plan);
  ReadChannelWords(doc, index, &plan, nullptr);
  s->pixels =
      plan.has_picture && plan.image_size != 0 && PixelsPainted(layer, traits);
  Status status =
      masks ? OpenMasks(c, index, plan, s->pixels, &s->masks) : kDone;
  if (status != kDone) return status;
  *rect = IntersectRects(MasksReach(&s->masks), document);
  if (s->pixels) {
    status = OpenLayerRows(doc, layer, plan, c->cmyk_colour, &s->rows);
    if (status != kDone) s->pixels = false;
    s->rows.cmyk_rows = c->channels == kCanvasCmy     ? kCmykColours
                        : c->channels == kCanvasBlack ? kCmykBlack
                                                      : kCmykConverted;
    *rect = IntersectRects(*rect, s->rows.rect);
    if (rect->bottom > LayerRowsEnd(&s->rows)) {
      rect->bottom = static_cast<int32_t>(LayerRowsEnd(&s->rows));
    }
  } else {
    // Without pixels a fill layer paints the whole document through its
    // masks; a gradient spans the vector mask's bounds.
    const PixelRect box =
        IntersectRects(VectorMaskReach(&s->masks.vector), document);
    status = OpenFill(doc, traits, box, document, &s->fill);
    if (!s->fill.active) *rect = kNoPixels;
  }
  if (status != kDone) CloseSource(s);
  return status;
}

}  // namespace

// Clipped to a base of faded fill, an item shows within the base's whole
// shape: it blends as an unclipped item would, and the result's alpha is
// held within the shape (a fill of 0 shows the clipped item alone).
void BlendItemRow(const Composer* c, const PaintParams& p, uint8_t* src,
                  uint8_t* dst, int32_t x0, int32_t y, uint32_t n) {
  if (p.clip_shape == nullptr || p.records_clip_shape) {
    BlendRow(p.mode, src, dst, n, p.keep_alpha, x0, y);
    return;
  }
  const uint8_t* shape = ClipShapeRow(c, p.clip_shape, y, x0);
  for (uint32_t i = 0; i < n; ++i) {
    src[4 * i + 3] = static_cast<uint8_t>(MulDiv255(src[4 * i + 3], shape[i]));
  }
  BlendRow(p.mode, src, dst, n, false, x0, y);
  for (uint32_t i = 0; i < n; ++i) {
    if (dst[4 * i + 3] > shape[i]) dst[4 * i + 3] = shape[i];
  }
}

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
  if (c->cut_short) return kDone;
  LayerSource source;
  PixelRect rect;
  Status status = OpenSource(c, index, p.masks, &source, &rect);
  if (status != kDone) return status;
  if (!RectEmpty(rect)) {
    const uint64_t area = static_cast<uint64_t>(rect.right - rect.left) *
                          static_cast<uint64_t>(rect.bottom - rect.top);
    if (TakeWork(c, area)) {
      status = PrepareCanvas(canvas);
      if (status == kDone) PaintSourceRows(c, &source, rect, canvas, p);
    }
  }
  CloseSource(&source);
  return status;
}

// Where a CMYK threshold of record `index` keeps the luminosity of its
// colours for row y (the first pass makes the plane, the black pass reads
// the first pass's), or null.
uint8_t* KeptLuminosity(Composer* c, uint32_t index, int32_t y, int32_t x) {
  const Adjustment* a = c->plan.adjustments[index];
  const Canvas* root = &c->canvases[0];
  const uint64_t at = static_cast<uint64_t>(y - root->top) * root->width + x;
  if (a->kind != kAdjustThreshold) return nullptr;
  if (c->channels == kCanvasBlack) {
    const Composer* first = c->colours;
    if (first == nullptr || first->kept == nullptr) return nullptr;
    return first->kept[index] != nullptr ? first->kept[index] + at : nullptr;
  }
  if (c->channels != kCanvasCmy) return nullptr;
  if (c->kept == nullptr) {
    c->kept = AllocateZeroedArray<uint8_t*>(c->list->count);
    if (c->kept == nullptr) return nullptr;
  }
  if (c->kept[index] == nullptr) {
    if (c->kept_count >= kLimits.max_kept_luminosities) return nullptr;
    c->kept[index] = static_cast<uint8_t*>(
        Allocate(static_cast<uint64_t>(root->rows) * root->width));
    if (c->kept[index] == nullptr) return nullptr;
    ++c->kept_count;
  }
  return c->kept[index] + at;
}

// An adjustment changes the colours below it and keeps their alpha: its
// result is blended with its mode over the canvas taken as opaque (the
// mix of old and new colours by the masks and opacity), then the canvas's
// alpha is put back. It adds nothing to a pass-through group's shape.
Status PaintAdjustment(Composer* c, uint32_t index, Canvas* canvas,
                       const PaintParams& p) {
  const Adjustment* a = c->plan.adjustments[index];
  if (c->cut_short || a == nullptr || RectEmpty(canvas->painted)) return kDone;
  RecordMasks masks;
  Status status = OpenRecordMasks(c, index, &masks);
  if (status != kDone) return status;
  const PixelRect rect = IntersectRects(canvas->painted, MasksReach(&masks));
  const uint64_t area = RectEmpty(rect)
                            ? 0
                            : static_cast<uint64_t>(rect.right - rect.left) *
                                  static_cast<uint64_t>(rect.bottom - rect.top);
  if (area != 0 && TakeWork(c, area)) status = PrepareCanvas(canvas);
  if (area == 0 || c->cut_short || status != kDone) {
    CloseMasks(&masks);
    return status;
  }
  const uint32_t n = static_cast<uint32_t>(rect.right - rect.left);
  const PixelRect held = RowsHeld(canvas, rect);
  for (int32_t y = held.top; y < held.bottom; ++y) {
    uint8_t* dst = CanvasRow(canvas, y) + 4 * rect.left;
    memcpy(c->row, dst, 4ull * n);
    AdjustPixels(*a, c->channels, c->row, n,
                 KeptLuminosity(c, index, y, rect.left));
    for (uint32_t i = 0; i < n; ++i) {
      c->alpha[i] = dst[4 * i + 3];
      c->row[4 * i + 3] = 255;
      dst[4 * i + 3] = 255;
    }
    ApplyMasks(&masks, y, rect.left, n, c->row);
    ScaleAlpha(c->row, n, p.opacity);
    BlendRow(p.mode, c->row, dst, n, true, rect.left, y);
    for (uint32_t i = 0; i < n; ++i) dst[4 * i + 3] = c->alpha[i];
  }
  MarkPainted(canvas, rect);
  CloseMasks(&masks);
  return kDone;
}

// One pixel `after` back towards `before` by t (0..255), in straight alpha.
void Fade(uint8_t* after, const uint8_t* before, uint32_t t) {
  const uint32_t wb = before[3] * (255 - t), wa = after[3] * t;
  const uint32_t total = wb + wa;
  for (int k = 0; k < 3; ++k) {
    after[k] = total == 0
                   ? 0
                   : static_cast<uint8_t>(
                         (wb * before[k] + wa * after[k] + total / 2) / total);
  }
  after[3] = static_cast<uint8_t>(Div255(total));
}

Status FadeGroup(Composer* c, uint32_t record, Canvas* canvas,
                 const Canvas* backdrop, uint8_t* shape) {
  const PixelRect rect = canvas->painted;
  if (RectEmpty(rect)) return kDone;
  RecordMasks masks;
  Status status = OpenRecordMasks(c, record, &masks);
  if (status != kDone) return status;
  const uint8_t opacity = c->list->records[record].opacity;
  const uint32_t n = static_cast<uint32_t>(rect.right - rect.left);
  c->work += static_cast<uint64_t>(n) * (rect.bottom - rect.top);
  const uint32_t width = canvas->width;
  const PixelRect held = RowsHeld(canvas, rect);
  for (int32_t y = held.top; y < held.bottom; ++y) {
    for (uint32_t i = 0; i < n; ++i) c->row[4 * i + 3] = opacity;
    ApplyMasks(&masks, y, rect.left, n, c->row);
    uint8_t* after = CanvasRow(canvas, y) + 4 * rect.left;
    const uint8_t* before = backdrop->pixels != nullptr
                                ? CanvasRow(backdrop, y) + 4 * rect.left
                                : nullptr;
    const uint8_t zero[4] = {0, 0, 0, 0};
    for (uint32_t i = 0; i < n; ++i) {
      const uint32_t t = c->row[4 * i + 3];
      if (t == 255) continue;
      Fade(after + 4 * i, before != nullptr ? before + 4 * i : zero, t);
      if (shape != nullptr) {
        uint8_t* s = shape + static_cast<uint64_t>(y - canvas->top) * width +
                     rect.left + i;
        *s = static_cast<uint8_t>(MulDiv255(*s, t));
      }
    }
  }
  CloseMasks(&masks);
  return kDone;
}

Status PaintCanvas(Composer* c, Canvas* from, Canvas* onto, uint32_t record,
                   const PaintParams& p) {
  PixelRect rect = from->painted;
  if (RectEmpty(rect)) return kDone;
  RecordMasks masks;
  memset(&masks, 0, sizeof(masks));
  Status status = p.masks ? OpenRecordMasks(c, record, &masks) : kDone;
  rect = IntersectRects(rect, MasksReach(&masks));
  if (status == kDone && !RectEmpty(rect)) {
    const uint64_t area = static_cast<uint64_t>(rect.right - rect.left) *
                          static_cast<uint64_t>(rect.bottom - rect.top);
    // Closing what is open always finishes, within the limit or not.
    c->work += area;
    status = PrepareCanvas(onto);
    const uint32_t n = static_cast<uint32_t>(rect.right - rect.left);
    const PixelRect held = RowsHeld(onto, rect);
    for (int32_t y = held.top; status == kDone && y < held.bottom; ++y) {
      uint8_t* src = CanvasRow(from, y) + 4 * rect.left;
      ApplyMasks(&masks, y, rect.left, n, src);
      ScaleAlpha(src, n, p.opacity);
      RecordShapes(c, p.level, y, rect.left, n, src);
      BlendItemRow(c, p, src, CanvasRow(onto, y) + 4 * rect.left, rect.left, y,
                   n);
    }
    if (status == kDone) MarkPainted(onto, rect);
  }
  CloseMasks(&masks);
  ClearCanvas(from);
  return status;
}

}  // namespace engine
