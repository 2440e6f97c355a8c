// Painting one item onto a canvas: a layer's pixels read row by row, or a
// finished group canvas, each with its layer mask and opacity, through the
// blend mode.
#include "engine/base/limits.h"
#include "engine/base/memory.h"
#include "engine/base/numbers.h"
#include "engine/compose/blend/blend_if.h"
#include "engine/compose/composite_effects.h"
#include "engine/compose/composite_source.h"
#include "engine/compose/layer/artboard.h"

namespace engine {
namespace {

uint8_t* ClipShapeRow(const Composer* c, uint8_t* shape, int32_t y,
                      int32_t x0) {
  const Canvas& root = c->canvases[0];
  return shape + static_cast<uint64_t>(y - root.top) * root.width + x0;
}

// Where the root canvas now shows a 16-bit layer's pixels as they are
// (opaque, their first bytes), their samples (`samples`, red, green, blue
// of each of the n pixels from column x0) are what it shows.
void KeepShownSamples(const Composer* c, int32_t y, int32_t x0, uint32_t n,
                      const uint16_t* samples) {
  const uint8_t* shown = CanvasRow(&c->canvases[0], y) + 4 * x0;
  uint16_t* deep = DeepRow(c, y) + 3 * x0;
  for (uint32_t i = 0; i < n; ++i) {
    const uint8_t* p = shown + 4 * i;
    const uint16_t* v = samples + 3 * i;
    if (p[3] == 255 && p[2] == v[0] >> 8 && p[1] == v[1] >> 8 &&
        p[0] == v[2] >> 8) {
      deep[3 * i] = v[0];
      deep[3 * i + 1] = v[1];
      deep[3 * i + 2] = v[2];
    }
  }
}

// Paints the rows of `rect` from the open source.
void PaintSourceRows(Composer* c, LayerSource* s, const PixelRect& rect,
                     Canvas* canvas, const PaintParams& p) {
  const uint32_t n = static_cast<uint32_t>(rect.right - rect.left);
  const PixelRect held = RowsHeld(canvas, rect);
  for (int32_t y = held.top; y < held.bottom; ++y) {
    if (!ReadSourceRow(c, s, y, rect.left, n, c->row)) continue;
    if (p.masks) ApplyMasks(&s->masks, y, rect.left, n, c->row);
    if (p.records_clip_shape) RecordClipShape(c, p, y, rect.left, n, c->row);
    ScaleAlpha(c->row, n, p.opacity);
    RecordShapes(c, p.level, y, rect.left, n, c->row);
    BlendItemRow(c, p, c->row, CanvasRow(canvas, y) + 4 * rect.left, rect.left,
                 y, n);
    if (c->deep != nullptr && canvas == &c->canvases[0] && s->pixels &&
        s->rows.deep) {
      KeepShownSamples(c, y, rect.left, n, s->rows.deep_row);
    }
  }
  // The whole rectangle counts as painted (rows no channel reached stay
  // transparent), in every band alike.
  MarkPainted(canvas, rect);
}

}  // namespace

void RecordClipShape(const Composer* c, const PaintParams& p, int32_t y,
                     int32_t x0, uint32_t n, const uint8_t* pixels) {
  uint8_t* shape = ClipShapeRow(c, p.clip_shape, y, x0);
  for (uint32_t i = 0; i < n; ++i) shape[i] = pixels[4 * i + 3];
}

namespace {

// Clipped to a base of faded fill, an item shows within the base's whole
// shape: it blends as an unclipped item would, and the result's alpha is
// held within the shape (a fill of 0 shows the clipped item alone).
void BlendItemSpan(const Composer* c, const PaintParams& p, uint8_t* src,
                   uint8_t* dst, int32_t x0, int32_t y, uint32_t n) {
  if (p.coverage != nullptr) {
    const uint8_t* cover =
        ClipShapeRow(c, const_cast<uint8_t*>(p.coverage), y, x0);
    for (uint32_t i = 0; i < n; ++i) {
      src[4 * i + 3] =
          static_cast<uint8_t>(MulDiv255(src[4 * i + 3], cover[i]));
    }
  }
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

// Channels left out keep what the canvas held where it held anything.
void BlendKeepingChannels(const Composer* c, const PaintParams& p, uint8_t* src,
                          uint8_t* dst, int32_t x0, int32_t y, uint32_t n) {
  const uint32_t kSpan = 64;
  uint8_t before[4 * kSpan];
  for (uint32_t at = 0; at < n; at += kSpan) {
    const uint32_t m = n - at < kSpan ? n - at : kSpan;
    uint8_t* d = dst + 4 * at;
    memcpy(before, d, 4ull * m);
    BlendItemSpan(c, p, src + 4 * at, d, x0 + static_cast<int32_t>(at), y, m);
    for (uint32_t i = 0; i < m; ++i) {
      if (before[4 * i + 3] == 0) continue;
      for (uint32_t k = 0; k < 3; ++k) {
        if (p.kept_bytes & (1u << k)) d[4 * i + k] = before[4 * i + k];
      }
    }
  }
}

}  // namespace

void BlendItemRow(const Composer* c, const PaintParams& p, uint8_t* src,
                  uint8_t* dst, int32_t x0, int32_t y, uint32_t n) {
  if (p.blend_ranges != nullptr) {
    ApplyBlendRanges(p.blend_ranges, p.blend_ranges_length, c->channels, src,
                     dst, n);
  }
  if (p.kept_bytes != 0) {
    BlendKeepingChannels(c, p, src, dst, x0, y, n);
  } else {
    BlendItemSpan(c, p, src, dst, x0, y, n);
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

void SetAdvancedBlending(const LayerTraits& traits, CanvasChannels channels,
                         PaintParams* p) {
  const InfoBlock& ranges = traits.blend_ranges;
  const bool active = BlendRangesActive(ranges.data, ranges.length);
  p->blend_ranges = active ? ranges.data : nullptr;
  p->blend_ranges_length = active ? ranges.length : 0;
  p->kept_bytes = KeptColourBytes(traits.channels_left_out, channels);
}

Status PaintLayer(Composer* c, uint32_t index, Canvas* canvas,
                  const PaintParams& p) {
  if (c->cut_short) return kDone;
  const LayerEffects* fx = c->plan.effects[index];
  if (fx != nullptr && p.effects) {
    return PaintLayerEffects(c, index, *fx, nullptr, canvas, p);
  }
  LayerSource source;
  PixelRect rect;
  Status status = OpenSource(c, index, p.masks, 0, &source, &rect);
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
    // Adjusted colours are 8-bit colours (a threshold or posterize may
    // keep a value whose 16-bit sample it would change).
    if (c->deep != nullptr && canvas == &c->canvases[0]) {
      uint16_t* deep = DeepRow(c, y) + 3 * rect.left;
      for (uint32_t i = 0; i < n; ++i) {
        for (uint32_t k = 0; k < 3; ++k) {
          deep[3 * i + k] = static_cast<uint16_t>(dst[4 * i + 2 - k] * 257u);
        }
      }
    }
  }
  MarkPainted(canvas, rect);
  CloseMasks(&masks);
  return kDone;
}

uint8_t* AdjustmentCoverage(Composer* c, uint32_t index, uint8_t opacity) {
  uint8_t* shape = TakeShape(c);
  RecordMasks masks;
  if (shape == nullptr || OpenRecordMasks(c, index, &masks) != kDone) {
    ReleaseShape(c, shape);
    return nullptr;
  }
  const Canvas* root = &c->canvases[0];
  const PixelRect rect = IntersectRects(DocumentRect(root), MasksReach(&masks));
  const PixelRect held = RectEmpty(rect) ? kNoPixels : RowsHeld(root, rect);
  const uint32_t n = static_cast<uint32_t>(held.right - held.left);
  for (int32_t y = held.top; y < held.bottom; ++y) {
    for (uint32_t i = 0; i < n; ++i) c->row[4 * i + 3] = opacity;
    ApplyMasks(&masks, y, rect.left, n, c->row);
    uint8_t* cover = ClipShapeRow(c, shape, y, rect.left);
    for (uint32_t i = 0; i < n; ++i) cover[i] = c->row[4 * i + 3];
  }
  CloseMasks(&masks);
  return shape;
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
  const LayerEffects* fx = c->plan.effects[record];
  if (fx != nullptr && p.effects) {
    // A group's effects, or those of a clipping group's base: they apply
    // to the group's composite.
    const Status status = PaintLayerEffects(c, record, *fx, from, onto, p);
    ClearCanvas(from);
    return status;
  }
  PixelRect rect = from->painted;
  Artboard artboard;
  if (ReadArtboard(c->doc, c->plan.traits[record], &artboard)) {
    rect = IntersectRects(rect, artboard.rect);
  }
  if (RectEmpty(rect)) {
    ClearCanvas(from);
    return kDone;
  }
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

Status PaintArtboardBackground(Composer* c, uint32_t record, Canvas* canvas) {
  Artboard artboard;
  if (!ReadArtboard(c->doc, c->plan.traits[record], &artboard) ||
      artboard.background[3] == 0) {
    return kDone;
  }
  const PixelRect rect =
      IntersectRects(artboard.rect, DocumentRect(&c->canvases[0]));
  const PixelRect held = RowsHeld(canvas, rect);
  if (RectEmpty(held)) return kDone;
  const Status status = PrepareCanvas(canvas);
  if (status != kDone) return status;
  const uint32_t n = static_cast<uint32_t>(held.right - held.left);
  for (uint32_t i = 0; i < n; ++i)
    memcpy(c->row + 4 * i, artboard.background, 4);
  // The colour stands for cyan, magenta, yellow without black.
  if (c->channels == kCanvasBlack) NoInk(c->row, n);
  for (int32_t y = held.top; y < held.bottom; ++y) {
    memcpy(CanvasRow(canvas, y) + 4 * held.left, c->row, 4ull * n);
  }
  MarkPainted(canvas, rect);
  return kDone;
}

}  // namespace engine
