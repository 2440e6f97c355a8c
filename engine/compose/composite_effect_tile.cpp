// Filling a layer's effect tile: the rows of its source, of a group's
// canvas or a clipping group's, and the coverage of its path.
#include "engine/base/numbers.h"
#include "engine/compose/composite_effects.h"
#include "engine/compose/layer/vector_mask.h"

namespace engine {

// Reads the source's rows within the tile, masks applied, into the tile.
void ReadTile(const Composer* c, LayerSource* s, const PixelRect& rect,
              bool masks, EffectTile* t) {
  const int32_t top = rect.top > t->rect.top ? rect.top : t->rect.top;
  const int32_t bottom =
      rect.bottom < t->rect.bottom ? rect.bottom : t->rect.bottom;
  const uint32_t n = static_cast<uint32_t>(rect.right - rect.left);
  for (int32_t y = top; y < bottom; ++y) {
    uint8_t* row = TileContent(t, y) + 4 * (rect.left - t->rect.left);
    if (!ReadSourceRow(c, s, y, rect.left, n, row)) {
      memset(row, 0, 4ull * n);
      continue;
    }
    if (masks) ApplyMasks(&s->masks, y, rect.left, n, row);
    uint8_t* alpha = PlaneRow(t->alpha, static_cast<uint32_t>(y - t->rect.top));
    for (uint32_t i = 0; i < n; ++i) {
      alpha[rect.left - t->rect.left + i] = row[4 * i + 3];
    }
  }
}

// A group's shape is its composite's, within its masks (when `p` applies
// them): the masks into `s` (which has no pixels), where the composite lies
// into `rect`.
Status OpenGroupShape(const Composer* c, uint32_t record, const Canvas* content,
                      const PaintParams& p, LayerSource* s, PixelRect* rect) {
  memset(s, 0, sizeof(*s));
  const Status status = p.masks ? OpenRecordMasks(c, record, &s->masks) : kDone;
  *rect = IntersectRects(content->painted, MasksReach(&s->masks));
  return status;
}

// A group's composite, masks applied, into the tile (the rows the canvas
// holds).
void ReadCanvasTile(const Canvas* content, RecordMasks* masks,
                    const PixelRect& rect, EffectTile* t) {
  const PixelRect rows = RowsHeld(content, IntersectRects(rect, t->rect));
  if (RectEmpty(rows)) return;
  const uint32_t n = static_cast<uint32_t>(rows.right - rows.left);
  for (int32_t y = rows.top; content->pixels != nullptr && y < rows.bottom;
       ++y) {
    uint8_t* row = TileContent(t, y) + 4 * (rows.left - t->rect.left);
    memcpy(row, CanvasRow(content, y) + 4 * rows.left, 4ull * n);
    ApplyMasks(masks, y, rows.left, n, row);
    uint8_t* alpha = PlaneRow(t->alpha, static_cast<uint32_t>(y - t->rect.top));
    for (uint32_t i = 0; i < n; ++i) {
      alpha[rows.left - t->rect.left + i] = row[4 * i + 3];
    }
  }
}

namespace {

// The path's coverage over `within` (document rows) into `plane`, which
// covers `rect`.
void DrawPath(const Composer* c, VectorMask* path, const PixelRect& within,
              const PixelRect& rect, Plane* plane) {
  const uint32_t n = static_cast<uint32_t>(within.right - within.left);
  for (int32_t y = within.top; y < within.bottom; ++y) {
    memset(c->row, 255, 4ull * n);
    ApplyVectorMaskRow(path, y, within.left, n, c->row);
    uint8_t* out = PlaneRow(*plane, static_cast<uint32_t>(y - rect.top)) +
                   (within.left - rect.left);
    for (uint32_t i = 0; i < n; ++i) out[i] = c->row[4 * i + 3];
  }
}

}  // namespace

// A shape drawn by a path: the path's coverage over the tile, which its
// stroke follows (its pixels may be transparent in places).
// A shape of one solid colour whose pixels are the application's
// rendering of it has them as its path's coverage.
Status ReadPath(const Composer* c, const LayerTraits& traits, bool pixels,
                EffectTile* t) {
  const InfoBlock& content = traits.stroke_fill;  // key, then its settings
  const bool solid = traits.solid_fill.data != nullptr ||
                     (content.data != nullptr && content.length >= 4 &&
                      memcmp(content.data, "SoCo", 4) == 0);
  VectorMask path;
  const Canvas& root = c->canvases[0];
  const Status status =
      OpenVectorMask(traits.vector_mask.data, traits.vector_mask.length,
                     root.width, root.height, 255, &path);
  if (status != kDone || !path.active) {
    CloseVectorMask(&path);
    return status;
  }
  t->path_outline = true;
  // Beyond the document the layer's pixels stand for the path.
  memcpy(t->path.bytes, t->alpha.bytes,
         static_cast<uint64_t>(t->path.width) * t->path.height);
  if (solid && pixels) {
    t->path_from_pixels = true;
    CloseVectorMask(&path);
    return kDone;
  }
  DrawPath(c, &path, IntersectRects(t->rect, DocumentRect(&root)), t->rect,
           &t->path);
  CloseVectorMask(&path);
  return kDone;
}

// A clipping group's pixels in place of its base's, over the rows held.
void TakeContent(const Canvas* content, const PixelRect& held, EffectTile* t) {
  const uint32_t n = static_cast<uint32_t>(held.right - held.left);
  for (int32_t y = held.top; y < held.bottom; ++y) {
    uint8_t* row = TileContent(t, y) + 4 * (held.left - t->rect.left);
    if (content->pixels == nullptr) {
      memset(row, 0, 4ull * n);
    } else {
      memcpy(row, CanvasRow(content, y) + 4 * held.left, 4ull * n);
    }
  }
}

// A shape's own stroke follows its path: the path's coverage into
// t->extra, over the document; beyond it, the document's edge rows and
// columns carry on (a shape crossing the document's edge gets no stroke
// along it).
Status ReadShapePath(const Composer* c, const LayerTraits& traits,
                     EffectTile* t, bool* drawn) {
  *drawn = false;
  VectorMask path;
  const Canvas& root = c->canvases[0];
  const Status status =
      OpenVectorMask(traits.vector_mask.data, traits.vector_mask.length,
                     root.width, root.height, 255, &path);
  const PixelRect within = IntersectRects(t->rect, DocumentRect(&root));
  if (status != kDone || !path.active || RectEmpty(within)) {
    CloseVectorMask(&path);
    return status;
  }
  *drawn = true;
  DrawPath(c, &path, within, t->rect, &t->extra);
  CloseVectorMask(&path);
  const uint32_t w = t->extra.width;
  for (uint32_t row = 0; row < t->extra.height; ++row) {
    const int32_t y = t->rect.top + static_cast<int32_t>(row);
    const int32_t from = y < within.top       ? within.top
                         : y >= within.bottom ? within.bottom - 1
                                              : y;
    uint8_t* out = PlaneRow(t->extra, row);
    if (from != y) {
      memcpy(out, PlaneRow(t->extra, static_cast<uint32_t>(from - t->rect.top)),
             w);
    }
    const uint32_t first = static_cast<uint32_t>(within.left - t->rect.left);
    const uint32_t last = static_cast<uint32_t>(within.right - t->rect.left);
    for (uint32_t x = 0; x < first; ++x) out[x] = out[first];
    for (uint32_t x = last; x < w; ++x) out[x] = out[last - 1];
  }
  return kDone;
}

void MaskShapeStroke(const Composer* c, uint32_t record, const PixelRect& held,
                     EffectTile* t, Status* status) {
  RecordMasks masks;
  *status = OpenUserMask(c, record, &masks);
  if (*status != kDone) return;
  const PixelRect rows = IntersectRects(
      held, IntersectRects(t->rect, DocumentRect(&c->canvases[0])));
  if (RectEmpty(rows)) {
    CloseMasks(&masks);
    return;
  }
  const uint32_t n = static_cast<uint32_t>(rows.right - rows.left);
  for (int32_t y = rows.top; masks.user.active && y < rows.bottom; ++y) {
    memset(c->row, 255, 4ull * n);
    ApplyMasks(&masks, y, rows.left, n, c->row);
    uint8_t* cover =
        PlaneRow(t->cover, static_cast<uint32_t>(y - t->rect.top)) +
        (rows.left - t->rect.left);
    for (uint32_t i = 0; i < n; ++i) {
      cover[i] = static_cast<uint8_t>(MulDiv255(cover[i], c->row[4 * i + 3]));
    }
  }
  CloseMasks(&masks);
}

}  // namespace engine
