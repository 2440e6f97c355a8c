// Anti-aliased coverage of a vector mask, one document row at a time. For
// each shape, every edge crossing the row adds its signed area to cells:
// a piece of an edge crossing a cell with vertical extent d and horizontal
// positions fa, fb within it leaves d (1 - (fa + fb) / 2) in that cell and
// d (fa + fb) / 2 in the next, signed by its direction. The running sum of
// the cells along the row is then the winding number of each pixel,
// fractional at the edges; the shape is filled even-odd. Cells are in
// units of 1 / (256 x 512) of a pixel.
#include "engine/bytes.h"
#include "engine/numbers.h"
#include "engine/vector_mask.h"

namespace {

const int64_t kFull = 256 * 512;

// Adds the piece from (xa, ya) to (xb, yb) of an edge, 0 <= ya, yb <= 256
// within the row, x in 1/256 pixels already limited to the document.
void AddPiece(int64_t* cells, int32_t xa, int32_t ya, int32_t xb, int32_t yb,
              int32_t winding) {
  if (xa > xb) {
    const int32_t tx = xa, ty = ya;
    xa = xb;
    ya = yb;
    xb = tx;
    yb = ty;
  }
  int32_t x = xa, y = ya;
  for (;;) {
    const int32_t cell = x >> 8;
    const int32_t boundary = (cell + 1) * 256;
    int32_t nx = xb, ny = yb;
    if (boundary < xb) {
      nx = boundary;
      ny = ya + static_cast<int32_t>(static_cast<int64_t>(yb - ya) *
                                     (boundary - xa) / (xb - xa));
    }
    const int64_t d = static_cast<int64_t>(ny > y ? ny - y : y - ny) * winding;
    const int64_t fa = x - cell * 256, fb = nx - cell * 256;
    cells[cell] += d * (512 - fa - fb);
    cells[cell + 1] += d * (fa + fb);
    if (nx == xb) return;
    x = nx;
    y = ny;
  }
}

int32_t Clamp(int64_t v, int32_t hi) {
  return v < 0 ? 0 : v > hi ? hi : static_cast<int32_t>(v);
}

// Makes the shape's active edges those crossing row y.
void AdvanceShape(VectorMask* m, PathShape* s, int32_t y) {
  const int64_t top = static_cast<int64_t>(y) * 256, bottom = top + 256;
  uint32_t* active = m->active_edges + s->first_edge;
  uint32_t kept = 0;
  for (uint32_t k = 0; k < s->active; ++k) {
    if (m->edges[active[k]].y_bottom > top) active[kept++] = active[k];
  }
  while (s->next_edge < s->end_edge && m->edges[s->next_edge].y_top < bottom) {
    if (m->edges[s->next_edge].y_bottom > top) active[kept++] = s->next_edge;
    ++s->next_edge;
  }
  s->active = kept;
}

// The shape's coverage of row y over its bounds' columns into m->coverage.
void ShapeRow(VectorMask* m, const PathShape* s, int32_t y) {
  const int64_t top = static_cast<int64_t>(y) * 256;
  const int32_t limit = static_cast<int32_t>(m->width) * 256;
  const uint32_t* active = m->active_edges + s->first_edge;
  for (uint32_t k = 0; k < s->active; ++k) {
    const PathEdge& e = m->edges[active[k]];
    const int64_t ys = e.y_top > top ? e.y_top : top;
    const int64_t ye = e.y_bottom < top + 256 ? e.y_bottom : top + 256;
    if (ye <= ys) continue;
    const int64_t dx = static_cast<int64_t>(e.x_bottom) - e.x_top;
    const int64_t dy = static_cast<int64_t>(e.y_bottom) - e.y_top;
    const int64_t xs = e.x_top + dx * (ys - e.y_top) / dy;
    const int64_t xe = e.x_top + dx * (ye - e.y_top) / dy;
    AddPiece(m->cells, Clamp(xs, limit), static_cast<int32_t>(ys - top),
             Clamp(xe, limit), static_cast<int32_t>(ye - top), e.winding);
  }
  int64_t sum = 0;
  for (int32_t x = s->bounds.left; x < s->bounds.right; ++x) {
    sum += m->cells[x];
    m->cells[x] = 0;
    int64_t v = sum < 0 ? -sum : sum;
    if (v > kFull) {  // overlapping parts: even-odd
      v %= 2 * kFull;
      if (v > kFull) v = 2 * kFull - v;
    }
    m->coverage[x] = static_cast<uint8_t>((v * 255 + kFull / 2) >> 17);
  }
  m->cells[s->bounds.right] = 0;
  m->cells[s->bounds.right + 1] = 0;
}

uint32_t Combine(PathOperation op, uint32_t r, uint32_t g) {
  switch (op) {
    case kPathExclude:
      return r + g - Div255(2 * r * g);
    case kPathSubtract:
      return MulDiv255(r, 255 - g);
    case kPathIntersect:
      return MulDiv255(r, g);
    default:
      return r + g - MulDiv255(r, g);
  }
}

}  // namespace

void ApplyVectorMaskRow(VectorMask* m, int32_t y, int32_t x0, uint32_t n,
                        uint8_t* pixels) {
  if (!m->active || n == 0) return;
  uint8_t* out = m->coverage + m->width + 2;  // the mask's row over the span
  memset(out, m->start, n);
  const int32_t x1 = x0 + static_cast<int32_t>(n);
  for (uint32_t k = 0; k < m->shape_count; ++k) {
    PathShape* s = &m->shapes[k];
    AdvanceShape(m, s, y);
    int32_t lo = x0, hi = x0;  // the span's columns the shape covers
    if (y >= s->bounds.top && y < s->bounds.bottom && s->active > 0) {
      ShapeRow(m, s, y);
      lo = s->bounds.left > x0 ? s->bounds.left : x0;
      hi = s->bounds.right < x1 ? s->bounds.right : x1;
      if (hi < lo) hi = lo;
    }
    if (s->operation == kPathIntersect) {  // nothing outside the shape
      memset(out, 0, static_cast<uint32_t>(lo - x0));
      memset(out + (hi - x0), 0, static_cast<uint32_t>(x1 - hi));
    }
    for (int32_t x = lo; x < hi; ++x) {
      out[x - x0] = static_cast<uint8_t>(
          Combine(s->operation, out[x - x0], m->coverage[x]));
    }
  }
  for (uint32_t i = 0; i < n; ++i) {
    uint32_t v = m->invert ? 255 - out[i] : out[i];
    if (m->density != 255) v = 255 - MulDiv255(255 - v, m->density);
    uint8_t* a = pixels + 4 * i + 3;
    *a = static_cast<uint8_t>(MulDiv255(*a, v));
  }
}
