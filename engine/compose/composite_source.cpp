// Where an item's pixels come from: its channels or its fill, and the
// masks of its record.
#include "engine/compose/composite_source.h"

#include "engine/base/bytes.h"
#include "engine/base/numbers.h"

namespace engine {

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

void CloseMasks(RecordMasks* m) {
  ReleaseFeathered(&m->user_feathered);
  ReleaseFeathered(&m->vector_feathered);
  CloseVectorMask(&m->vector);
  CloseMaskRows(&m->user);
}

namespace {

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

// Blurs the masks that have a feather, over the canvas's rows.
Status FeatherMasks(const Composer* c, const LayerMaskInfo& info,
                    RecordMasks* m) {
  const Canvas& root = c->canvases[0];
  const int32_t end = root.top + static_cast<int32_t>(root.rows);
  Status status = kDone;
  if (m->user.active && info.user_feather > 0) {
    status = FeatherMask(&m->user, nullptr, info.user_feather, root.width,
                         root.height, root.top, end, &m->user_feathered);
  }
  if (status == kDone && m->vector.active && info.vector_feather > 0) {
    status = FeatherMask(nullptr, &m->vector, info.vector_feather, root.width,
                         root.height, root.top, end, &m->vector_feathered);
  }
  return status;
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
  if (status == kDone) status = FeatherMasks(c, traits.mask, m);
  if (status != kDone) CloseMasks(m);
  return status;
}

}  // namespace

// The masks of a group's record (a group has no pixels of its own).
Status OpenRecordMasks(const Composer* c, uint32_t record, RecordMasks* m) {
  LayerPlan plan;
  PlanLayer(c->doc, c->list, record, c->palette_output, &plan);
  ReadChannelWords(c->doc, record, &plan, nullptr);
  return OpenMasks(c, record, plan, false, m);
}

Status OpenUserMask(const Composer* c, uint32_t record, RecordMasks* m) {
  memset(m, 0, sizeof(*m));
  LayerPlan plan;
  PlanLayer(c->doc, c->list, record, c->palette_output, &plan);
  ReadChannelWords(c->doc, record, &plan, nullptr);
  const LayerTraits& traits = c->plan.traits[record];
  Status status = OpenMaskRows(c->doc, traits.mask, plan,
                               traits.vector_mask.data != nullptr, &m->user);
  if (status == kDone) status = FeatherMasks(c, traits.mask, m);
  if (status != kDone) CloseMasks(m);
  return status;
}

PixelRect MasksReach(const RecordMasks* m) {
  const PixelRect user = m->user_feathered.plane != nullptr
                             ? m->user_feathered.reach
                             : MaskReach(&m->user);
  const PixelRect vector = m->vector_feathered.plane != nullptr
                               ? m->vector_feathered.reach
                               : VectorMaskReach(&m->vector);
  return IntersectRects(user, vector);
}

void ApplyMasks(RecordMasks* m, int32_t y, int32_t x0, uint32_t n,
                uint8_t* row) {
  if (m->user_feathered.plane != nullptr) {
    ApplyFeatheredRow(&m->user_feathered, y, x0, n, row);
  } else {
    ApplyMaskRow(&m->user, y, x0, n, row);
  }
  if (m->vector_feathered.plane != nullptr) {
    ApplyFeatheredRow(&m->vector_feathered, y, x0, n, row);
  } else {
    ApplyVectorMaskRow(&m->vector, y, x0, n, row);
  }
}

void CloseSource(LayerSource* s) {
  CloseMasks(&s->masks);
  CloseFill(&s->fill);
  if (s->pixels) CloseLayerRows(&s->rows);
}

bool SourceHasPixels(const Document* doc, const LayerList* list, uint32_t index,
                     const LayerTraits& traits) {
  LayerPlan plan;
  PlanLayer(doc, list, index, false, &plan);
  ReadChannelWords(doc, index, &plan, nullptr);
  return plan.has_picture && plan.image_size != 0 &&
         PixelsPainted(list->records[index], traits);
}

Status OpenSource(const Composer* c, uint32_t index, bool masks,
                  uint32_t margin, LayerSource* s, PixelRect* rect) {
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
    const int32_t m = static_cast<int32_t>(margin);
    const PixelRect around = {-m, -m, document.right + m, document.bottom + m};
    *rect = IntersectRects(MasksReach(&s->masks), around);
    status =
        OpenLayerRows(doc, layer, plan, nullptr, doc->deep_composite, &s->rows);
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
    // masks; a gradient spans the masks' bounds (the layer's own).
    const PixelRect box = IntersectRects(MasksReach(&s->masks), document);
    status = OpenFill(doc, traits, box, document, &s->fill);
    if (!s->fill.active) *rect = kNoPixels;
  }
  if (status != kDone) CloseSource(s);
  return status;
}

bool ReadSourceRow(const Composer* c, LayerSource* s, int32_t y, int32_t x0,
                   uint32_t n, uint8_t* row) {
  if (s->pixels) return ReadLayerRow(&s->rows, y, x0, x0 + n, row);
  FillRow(&s->fill, y, x0, n, row);
  // A fill's colour stands for cyan, magenta, yellow without black.
  if (c->channels == kCanvasBlack) NoInk(row, n);
  return true;
}

}  // namespace engine
