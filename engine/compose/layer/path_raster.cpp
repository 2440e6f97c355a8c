// Anti-aliased coverage of a vector mask, one document row at a time. For
// each shape, every edge crossing the row adds its signed area to cells:
// a piece of an edge crossing a cell with vertical extent d and horizontal
// positions fa, fb within it leaves d (1 - (fa + fb) / 2) in that cell and
// d (fa + fb) / 2 in the next, signed by its direction. The running sum of
// the cells along the row is then the winding number of each pixel,
// fractional at the edges; the shape is filled even-odd. Cells are in
// units of 1 / (256 x 512) of a pixel. Between the cells the edges touched
// the sum does not change: the row is combined a run at a time.
#include "engine/base/bytes.h"
#include "engine/base/numbers.h"
#include "engine/compose/layer/vector_mask.h"

namespace engine {
namespace {

const int64_t kFull = 256 * 512;

void Touch(VectorMask* m, uint32_t cell) {
  if (m->touched_count < m->touched_room) m->touched[m->touched_count] = cell;
  ++m->touched_count;
}

// Adds the piece from (xa, ya) to (xb, yb) of an edge, 0 <= ya, yb <= 256
// within the row, x in 1/256 pixels already limited to the document.
void AddPiece(VectorMask* m, int32_t xa, int32_t ya, int32_t xb, int32_t yb,
              int32_t winding) {
  int64_t* cells = m->cells;
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
    Touch(m, static_cast<uint32_t>(cell));
    Touch(m, static_cast<uint32_t>(cell) + 1);
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

// Adds the pieces of the shape's active edges within row y to the cells.
void AccumulateRow(VectorMask* m, const PathShape* s, int32_t y) {
  const int64_t top = static_cast<int64_t>(y) * 256;
  const int32_t limit = static_cast<int32_t>(m->width) * 256;
  const uint32_t* active = m->active_edges + s->first_edge;
  m->touched_count = 0;
  for (uint32_t k = 0; k < s->active; ++k) {
    const PathEdge& e = m->edges[active[k]];
    const int64_t ys = e.y_top > top ? e.y_top : top;
    const int64_t ye = e.y_bottom < top + 256 ? e.y_bottom : top + 256;
    if (ye <= ys) continue;
    const int64_t dx = static_cast<int64_t>(e.x_bottom) - e.x_top;
    const int64_t dy = static_cast<int64_t>(e.y_bottom) - e.y_top;
    const int64_t xs = e.x_top + dx * (ys - e.y_top) / dy;
    const int64_t xe = e.x_top + dx * (ye - e.y_top) / dy;
    AddPiece(m, Clamp(xs, limit), static_cast<int32_t>(ys - top),
             Clamp(xe, limit), static_cast<int32_t>(ye - top), e.winding);
  }
}

// The coverage (0..255) of a running sum of cells, filled even-odd.
uint32_t Coverage(int64_t sum) {
  int64_t v = sum < 0 ? -sum : sum;
  if (v > kFull) {  // overlapping parts
    v %= 2 * kFull;
    if (v > kFull) v = 2 * kFull - v;
  }
  return static_cast<uint32_t>((v * 255 + kFull / 2) >> 17);
}

void SortCells(uint32_t* c, uint32_t n) {
  if (n <= 64) {
    for (uint32_t i = 1; i < n; ++i) {
      const uint32_t v = c[i];
      uint32_t j = i;
      for (; j > 0 && c[j - 1] > v; --j) c[j] = c[j - 1];
      c[j] = v;
    }
    return;
  }
  auto sift = [c](uint32_t root, uint32_t end) {
    for (;;) {
      uint32_t child = 2 * root + 1;
      if (child >= end) return;
      if (child + 1 < end && c[child + 1] > c[child]) ++child;
      if (c[root] >= c[child]) return;
      const uint32_t t = c[root];
      c[root] = c[child];
      c[child] = t;
      root = child;
    }
  };
  for (uint32_t i = n / 2; i-- > 0;) sift(i, n);
  for (uint32_t end = n; end-- > 1;) {
    const uint32_t t = c[0];
    c[0] = c[end];
    c[end] = t;
    sift(0, end);
  }
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

// Combines coverage g into out[0, n) by the shape's operation.
void CombineRun(PathOperation op, uint32_t g, uint8_t* out, uint32_t n) {
  const bool nothing = op == kPathIntersect ? g == 255 : g == 0;
  if (nothing || n == 0) return;
  if (g == 255 && op != kPathExclude) {
    memset(out, op == kPathUnion ? 255 : 0, n);  // union; subtract
    return;
  }
  if (g == 0) {  // intersect with nothing
    memset(out, 0, n);
    return;
  }
  for (uint32_t i = 0; i < n; ++i) {
    out[i] = static_cast<uint8_t>(Combine(op, out[i], g));
  }
}

// Combines the shape's coverage of columns [lo, hi) into the mask's row
// `out`, which starts at column x0; the cells are cleared for the next row.
void CombineShapeRow(VectorMask* m, const PathShape* s, int32_t lo, int32_t hi,
                     int32_t x0, uint8_t* out) {
  int64_t* cells = m->cells;
  const int32_t left = s->bounds.left, right = s->bounds.right;
  if (m->touched_count > m->touched_room) {
    // Too many cells to list: the whole row, pixel by pixel.
    int64_t sum = 0;
    for (int32_t x = left; x < right; ++x) {
      sum += cells[x];
      cells[x] = 0;
      if (x >= lo && x < hi)
        CombineRun(s->operation, Coverage(sum), out + (x - x0), 1);
    }
    cells[right] = cells[right + 1] = 0;
    return;
  }
  SortCells(m->touched, m->touched_count);
  int64_t sum = 0;
  int32_t from = left;
  for (uint32_t k = 0; k <= m->touched_count; ++k) {
    const int32_t cell =
        k < m->touched_count ? static_cast<int32_t>(m->touched[k]) : right;
    // Columns [from, cell) all have the running sum's coverage.
    const int32_t a = from > lo ? from : lo, b = cell < hi ? cell : hi;
    if (a < b) {
      CombineRun(s->operation, Coverage(sum), out + (a - x0),
                 static_cast<uint32_t>(b - a));
    }
    if (cell > from) from = cell;
    if (k < m->touched_count) {
      sum += cells[cell];
      cells[cell] = 0;
    }
  }
}

// The mask's row with its invert flag and density applied: coverage v
// becomes 255 - density x (255 - v).
void ApplyInvertAndDensity(const VectorMask* m, uint8_t* out, uint32_t n) {
  for (uint32_t i = 0; i < n; ++i) {
    const uint32_t v = m->invert ? 255 - out[i] : out[i];
    out[i] = static_cast<uint8_t>(255 - MulDiv255(255 - v, m->density));
  }
}

// Multiplies the alpha of pixels[0, n) by coverage[0, n). A shape's row is
// long runs of full and of no coverage: those go eight pixels at a time.
void MultiplyAlpha(const uint8_t* coverage, uint32_t n, uint8_t* pixels) {
  uint32_t i = 0;
  while (i < n) {
    if (n - i >= 8) {
      uint64_t eight;
      memcpy(&eight, coverage + i, 8);
      if (eight == ~uint64_t{0}) {
        i += 8;
        continue;
      }
      if (eight == 0) {
        for (uint32_t k = 0; k < 8; ++k) pixels[4 * (i + k) + 3] = 0;
        i += 8;
        continue;
      }
    }
    uint8_t* a = pixels + 4 * i + 3;
    *a = static_cast<uint8_t>(MulDiv255(*a, coverage[i]));
    ++i;
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
      lo = s->bounds.left > x0 ? s->bounds.left : x0;
      hi = s->bounds.right < x1 ? s->bounds.right : x1;
      if (hi < lo) hi = lo;
      AccumulateRow(m, s, y);
      CombineShapeRow(m, s, lo, hi, x0, out);
    }
    if (s->operation == kPathIntersect) {  // nothing outside the shape
      memset(out, 0, static_cast<uint32_t>(lo - x0));
      memset(out + (hi - x0), 0, static_cast<uint32_t>(x1 - hi));
    }
  }
  if (m->invert || m->density != 255) ApplyInvertAndDensity(m, out, n);
  MultiplyAlpha(out, n, pixels);
}

}  // namespace engine
