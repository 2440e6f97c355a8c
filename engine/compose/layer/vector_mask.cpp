// Reading a vector mask block: a 4-byte version, 4-byte flags (bit 0
// invert, bit 1 not linked, bit 2 disabled), then 26-byte path records, each
// a 2-byte selector and 24 bytes:
//   0 / 3  closed / open subpath: 2-byte knot count, 2-byte operation with
//          the shapes before it (-1: part of the previous subpath's shape;
//          0 exclude, 1 union, 2 subtract, 3 intersect), the rest unused;
//   1, 2 / 4, 5  a knot of a closed / open subpath: preceding control
//          point, anchor, leaving control point, each vertical then
//          horizontal, signed 8.24 fixed-point fractions of the document's
//          height and width;
//   6 path fill rule, 7 clipboard: nothing for the mask;
//   8 initial fill rule: 2 bytes, 1 when the fill starts with all pixels.
// Each segment between two anchors is a cubic Bezier curve; it is cut into
// straight edges at the document's resolution.
#include "engine/compose/layer/vector_mask.h"

#include "engine/base/bytes.h"
#include "engine/base/limits.h"
#include "engine/base/memory.h"
#include "engine/base/numbers.h"

namespace engine {
namespace {

const uint32_t kRecordBytes = 26;
const uint32_t kMaxCurvePieces = 64;

struct Point {
  int64_t x;
  int64_t y;
};

struct Knot {
  Point preceding;
  Point anchor;
  Point leaving;
};

struct Builder {
  VectorMask* mask;
  uint32_t edge_room;
  uint32_t edge_count;
  bool overflow;
};

// A point of a record: 8.24 fractions (vertical first) in 1/256 pixels.
Point ReadPoint(const uint8_t* p, uint32_t width, uint32_t height) {
  const int64_t v = static_cast<int32_t>(ReadU32(p));
  const int64_t h = static_cast<int32_t>(ReadU32(p + 4));
  return Point{h * width / 65536, v * height / 65536};
}

Knot ReadKnot(const uint8_t* r, uint32_t width, uint32_t height) {
  Knot k;
  k.preceding = ReadPoint(r + 2, width, height);
  k.anchor = ReadPoint(r + 10, width, height);
  k.leaving = ReadPoint(r + 18, width, height);
  return k;
}

// Coordinates far outside any document are held at +-2^30 (1/256 pixels),
// within 32 bits.
int64_t Hold(int64_t v) {
  const int64_t limit = int64_t{1} << 30;
  return v < -limit ? -limit : v > limit ? limit : v;
}

void AddEdge(Builder* b, Point from, Point to) {
  from = Point{Hold(from.x), Hold(from.y)};
  to = Point{Hold(to.x), Hold(to.y)};
  if (from.y == to.y) return;
  if (b->edge_count == b->edge_room) {
    b->overflow = true;
    return;
  }
  PathEdge& e = b->mask->edges[b->edge_count++];
  const bool down = from.y < to.y;
  const Point& top = down ? from : to;
  const Point& bottom = down ? to : from;
  e.x_top = static_cast<int32_t>(top.x);
  e.y_top = static_cast<int32_t>(top.y);
  e.x_bottom = static_cast<int32_t>(bottom.x);
  e.y_bottom = static_cast<int32_t>(bottom.y);
  e.winding = down ? 1 : -1;
}

int64_t Abs(int64_t v) { return v < 0 ? -v : v; }

// Pieces for a curve: the deviation of a cubic from its chord is at most
// 3/4 of its largest second difference; pieces are chosen so that each
// deviates less than a tenth of a pixel.
uint32_t CurvePieces(const Point* p) {
  int64_t dd = 0;
  for (int i = 0; i < 2; ++i) {
    const int64_t dx = p[i].x - 2 * p[i + 1].x + p[i + 2].x;
    const int64_t dy = p[i].y - 2 * p[i + 1].y + p[i + 2].y;
    const int64_t d = Abs(dx) > Abs(dy) ? Abs(dx) : Abs(dy);
    if (d > dd) dd = d;
  }
  // n^2 >= (3/4) dd / tolerance, tolerance 26/256 of a pixel.
  const uint64_t squared = static_cast<uint64_t>(dd) * 3 / 104;
  const uint32_t n = IntegerSqrt(squared) + 1;
  return n < kMaxCurvePieces ? n : kMaxCurvePieces;
}

// The point at t = k / n of a cubic, from the Bernstein form times n^3.
Point CurvePoint(const Point* p, int64_t k, int64_t n) {
  const int64_t j = n - k;
  const int64_t w0 = j * j * j, w1 = 3 * j * j * k, w2 = 3 * j * k * k,
                w3 = k * k * k;
  const int64_t n3 = n * n * n;
  Point r;
  r.x = (w0 * p[0].x + w1 * p[1].x + w2 * p[2].x + w3 * p[3].x) / n3;
  r.y = (w0 * p[0].y + w1 * p[1].y + w2 * p[2].y + w3 * p[3].y) / n3;
  return r;
}

void AddCurve(Builder* b, const Knot& from, const Knot& to) {
  const Point p[4] = {from.anchor, from.leaving, to.preceding, to.anchor};
  const uint32_t n = CurvePieces(p);
  Point last = p[0];
  for (uint32_t k = 1; k <= n; ++k) {
    const Point next = k == n ? p[3] : CurvePoint(p, k, n);
    AddEdge(b, last, next);
    last = next;
  }
}

// Starts a shape at the current edge (or continues the last one).
void BeginSubpath(Builder* b, int16_t operation) {
  VectorMask* m = b->mask;
  if (operation == -1 && m->shape_count > 0) return;
  PathShape& s = m->shapes[m->shape_count++];
  s.first_edge = b->edge_count;
  s.operation = operation >= 0 && operation <= 3
                    ? static_cast<PathOperation>(operation)
                    : kPathUnion;
}

// Flattens one subpath of `count` knot records from r, which end before
// `end`. Returns the record after the last knot read.
const uint8_t* ReadSubpath(Builder* b, const uint8_t* r, const uint8_t* end,
                           uint32_t count, bool closed) {
  const VectorMask* m = b->mask;
  Knot first = {}, last = {};
  uint32_t knots = 0;
  while (knots < count && BytesLeft(r, end) >= kRecordBytes) {
    const uint16_t selector = ReadU16(r);
    if (selector != 1 && selector != 2 && selector != 4 && selector != 5) break;
    const Knot k = ReadKnot(r, m->width, m->height);
    if (knots == 0) first = k;
    if (knots > 0) AddCurve(b, last, k);
    last = k;
    ++knots;
    r += kRecordBytes;
  }
  if (knots >= 2) {
    // An open subpath is filled as if closed by a straight line.
    if (closed) {
      AddCurve(b, last, first);
    } else {
      AddEdge(b, last.anchor, first.anchor);
    }
  }
  return r;
}

// Upper bounds of the edges and shapes the records can make.
void CountRecords(const uint8_t* r, const uint8_t* end, uint64_t* edges,
                  uint32_t* shapes) {
  *edges = 0;
  *shapes = 0;
  for (; BytesLeft(r, end) >= kRecordBytes; r += kRecordBytes) {
    const uint16_t selector = ReadU16(r);
    if (selector == 0 || selector == 3) ++*shapes;
    if (selector == 1 || selector == 2 || selector == 4 || selector == 5) {
      *edges += kMaxCurvePieces + 1;
    }
  }
}

void ShapeBounds(VectorMask* m, PathShape* s) {
  int64_t left = 0x7FFFFFFF, top = 0x7FFFFFFF, right = -0x7FFFFFFF,
          bottom = -0x7FFFFFFF;
  for (uint32_t i = s->first_edge; i < s->end_edge; ++i) {
    const PathEdge& e = m->edges[i];
    const int32_t lo = e.x_top < e.x_bottom ? e.x_top : e.x_bottom;
    const int32_t hi = e.x_top < e.x_bottom ? e.x_bottom : e.x_top;
    if (lo < left) left = lo;
    if (hi > right) right = hi;
    if (e.y_top < top) top = e.y_top;
    if (e.y_bottom > bottom) bottom = e.y_bottom;
  }
  const PixelRect document = {0, 0, static_cast<int32_t>(m->width),
                              static_cast<int32_t>(m->height)};
  PixelRect r = {0, 0, 0, 0};
  if (s->end_edge > s->first_edge) {
    // Floor and ceiling in pixels; an edge's area spills one cell right.
    r = PixelRect{static_cast<int32_t>(left >> 8),
                  static_cast<int32_t>(top >> 8),
                  static_cast<int32_t>((right + 255) >> 8) + 1,
                  static_cast<int32_t>((bottom + 255) >> 8)};
  }
  s->bounds = IntersectRects(r, document);
  // An empty rectangle still names the cells its edges write to.
  if (s->bounds.right < s->bounds.left) s->bounds.right = s->bounds.left;
  if (s->bounds.bottom < s->bounds.top) s->bounds.bottom = s->bounds.top;
}

// Heap sort of edges by their top, in place and without recursion.
void SiftDown(PathEdge* e, uint32_t root, uint32_t n) {
  for (;;) {
    uint32_t child = 2 * root + 1;
    if (child >= n) return;
    if (child + 1 < n && e[child + 1].y_top > e[child].y_top) ++child;
    if (e[root].y_top >= e[child].y_top) return;
    const PathEdge t = e[root];
    e[root] = e[child];
    e[child] = t;
    root = child;
  }
}

void SortByTop(PathEdge* e, uint32_t n) {
  for (uint32_t i = n / 2; i-- > 0;) SiftDown(e, i, n);
  for (uint32_t end = n; end-- > 1;) {
    const PathEdge t = e[0];
    e[0] = e[end];
    e[end] = t;
    SiftDown(e, 0, end);
  }
}

void* Take(uint64_t bytes) {
  if (bytes > kLimits.max_scratch_bytes) return nullptr;
  return Allocate(bytes + 1);
}

Status TakeArrays(VectorMask* m, uint64_t edges, uint32_t shapes) {
  m->edges = static_cast<PathEdge*>(Take(edges * sizeof(PathEdge)));
  m->active_edges = static_cast<uint32_t*>(Take(edges * 4));
  m->shapes =
      static_cast<PathShape*>(Take(uint64_t{shapes} * sizeof(PathShape)));
  m->cells = static_cast<int64_t*>(Take((uint64_t{m->width} + 2) * 8));
  // One shape's row, then the mask's row over a span.
  m->coverage = static_cast<uint8_t*>(Take(2 * (uint64_t{m->width} + 2)));
  m->touched_room = 4 * m->width + 64;
  m->touched = static_cast<uint32_t*>(Take(uint64_t{m->touched_room} * 4));
  if (m->edges == nullptr || m->active_edges == nullptr ||
      m->shapes == nullptr || m->cells == nullptr || m->coverage == nullptr ||
      m->touched == nullptr) {
    return kNoMemory;
  }
  memset(m->cells, 0, (static_cast<size_t>(m->width) + 2) * 8);
  return kDone;
}

// Flattens every subpath; false when the records are malformed.
bool BuildShapes(Builder* b, const uint8_t* r, const uint8_t* end,
                 bool* initial_fill) {
  VectorMask* m = b->mask;
  while (BytesLeft(r, end) >= kRecordBytes) {
    const uint16_t selector = ReadU16(r);
    if (selector > 8) return false;
    if (selector == 8) *initial_fill = ReadU16(r + 2) != 0;
    if (selector != 0 && selector != 3) {
      r += kRecordBytes;
      continue;
    }
    if (m->shape_count > 0)
      m->shapes[m->shape_count - 1].end_edge = b->edge_count;
    BeginSubpath(b, static_cast<int16_t>(ReadU16(r + 4)));
    r = ReadSubpath(b, r + kRecordBytes, end, ReadU16(r + 2), selector == 0);
    if (b->overflow) return false;
  }
  if (m->shape_count > 0)
    m->shapes[m->shape_count - 1].end_edge = b->edge_count;
  return true;
}

}  // namespace

Status OpenVectorMask(const uint8_t* block, uint32_t length, uint32_t width,
                      uint32_t height, uint8_t density, VectorMask* mask) {
  memset(mask, 0, sizeof(*mask));
  if (block == nullptr || length < 8 || (ReadU32(block + 4) & 4) != 0) {
    return kDone;  // none, or disabled
  }
  const uint8_t* records = block + 8;
  const uint8_t* end = block + length;
  uint64_t edges = 0;
  uint32_t shapes = 0;
  CountRecords(records, end, &edges, &shapes);
  if (edges > kLimits.max_path_edges) edges = kLimits.max_path_edges;
  mask->width = width;
  mask->height = height;
  mask->invert = (ReadU32(block + 4) & 1) != 0;
  mask->density = density;
  const Status taken = TakeArrays(mask, edges, shapes);
  if (taken != kDone) {
    CloseVectorMask(mask);
    return taken;
  }
  Builder b = {mask, static_cast<uint32_t>(edges), 0, false};
  bool initial_fill = false;
  if (!BuildShapes(&b, records, end, &initial_fill)) {
    CloseVectorMask(mask);  // the layer composites without it
    return kDone;
  }
  for (uint32_t k = 0; k < mask->shape_count; ++k) {
    PathShape* s = &mask->shapes[k];
    SortByTop(mask->edges + s->first_edge, s->end_edge - s->first_edge);
    s->next_edge = s->first_edge;
    s->active = 0;
    ShapeBounds(mask, s);
  }
  // Before the first shape nothing is filled, unless the records say the
  // fill starts with every pixel (or the first shape subtracts or
  // intersects, which only means something on a filled plane).
  const PathOperation first =
      mask->shape_count > 0 ? mask->shapes[0].operation : kPathUnion;
  mask->start =
      mask->shape_count == 0
          ? (initial_fill ? 255 : 0)
          : (first == kPathSubtract || first == kPathIntersect ? 255 : 0);
  mask->active = true;
  return kDone;
}

void CloseVectorMask(VectorMask* mask) {
  void* blocks[] = {mask->edges, mask->active_edges, mask->shapes,
                    mask->cells, mask->coverage,     mask->touched};
  for (void* b : blocks) Release(b);
  memset(mask, 0, sizeof(*mask));
}

PixelRect VectorMaskReach(const VectorMask* mask) {
  if (!mask->active || mask->invert || mask->start != 0 ||
      mask->density != 255) {
    return kWholePlane;
  }
  // Shapes that add (union, exclude) widen the reach; the others shrink
  // what is there.
  PixelRect reach = {0, 0, 0, 0};
  for (uint32_t k = 0; k < mask->shape_count; ++k) {
    const PathShape& s = mask->shapes[k];
    if (s.operation == kPathIntersect) {
      reach = IntersectRects(reach, s.bounds);
    } else if (s.operation != kPathSubtract && !RectEmpty(s.bounds)) {
      reach = UniteRects(reach, s.bounds);
    }
  }
  return reach;
}

}  // namespace engine
