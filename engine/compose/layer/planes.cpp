// Plane operations of the layer effects. The blur is three box passes
// each way (a known close approximation of a Gaussian); the distances are
// the exact Euclidean distance transform (lower envelope of parabolas, one
// pass down the columns and one along the rows).
#include "engine/compose/layer/planes.h"

#include <string.h>

#include "engine/compose/layer/fill_colour.h"

namespace engine {
namespace {

// Half-widths of three boxes whose passes make a Gaussian of deviation
// sigma.
void BoxRadii(double sigma, uint32_t* radii) {
  const double ideal = SquareRoot(12.0 * sigma * sigma / 3.0 + 1.0);
  int32_t lower = static_cast<int32_t>(ideal);
  if (lower % 2 == 0) --lower;
  if (lower < 1) lower = 1;
  const double l = lower;
  const double m_ideal =
      (12.0 * sigma * sigma - 3 * l * l - 12 * l - 9) / (-4 * l - 4);
  const int32_t m = static_cast<int32_t>(m_ideal + 0.5);
  for (int32_t i = 0; i < 3; ++i) {
    const int32_t width = i < m ? lower : lower + 2;
    radii[i] = static_cast<uint32_t>((width - 1) / 2);
  }
}

// One box pass along the rows: `from` into `to`.
void BoxRows(const Plane& p, const uint8_t* from, uint8_t* to,
             uint32_t radius) {
  const uint32_t box = 2 * radius + 1;
  const int64_t w = p.width;
  for (uint32_t y = 0; y < p.height; ++y) {
    const uint8_t* in = from + static_cast<uint64_t>(y) * p.width;
    uint8_t* out = to + static_cast<uint64_t>(y) * p.width;
    uint32_t sum = 0;
    for (int64_t x = 0; x < radius && x < w; ++x) sum += in[x];
    for (int64_t x = 0; x < w; ++x) {
      if (x + radius < w) sum += in[x + radius];
      out[x] = static_cast<uint8_t>((sum + box / 2) / box);
      if (x - static_cast<int64_t>(radius) >= 0) sum -= in[x - radius];
    }
  }
}

// One box pass down the columns, a row at a time (the sums per column).
void BoxColumns(const Plane& p, const uint8_t* from, uint8_t* to,
                uint32_t radius, uint32_t* sums) {
  const uint32_t box = 2 * radius + 1;
  const int64_t h = p.height;
  const uint32_t w = p.width;
  memset(sums, 0, sizeof(uint32_t) * w);
  for (int64_t y = 0; y < radius && y < h; ++y) {
    const uint8_t* in = from + static_cast<uint64_t>(y) * w;
    for (uint32_t x = 0; x < w; ++x) sums[x] += in[x];
  }
  for (int64_t y = 0; y < h; ++y) {
    if (y + radius < h) {
      const uint8_t* in = from + static_cast<uint64_t>(y + radius) * w;
      for (uint32_t x = 0; x < w; ++x) sums[x] += in[x];
    }
    uint8_t* out = to + static_cast<uint64_t>(y) * w;
    for (uint32_t x = 0; x < w; ++x) {
      out[x] = static_cast<uint8_t>((sums[x] + box / 2) / box);
    }
    if (y - static_cast<int64_t>(radius) >= 0) {
      const uint8_t* in = from + static_cast<uint64_t>(y - radius) * w;
      for (uint32_t x = 0; x < w; ++x) sums[x] -= in[x];
    }
  }
}

const float kFar = 1e20f;

// The squared distance transform of one line of `n` values: f holds the
// line's values on entry (kFar: no point), d receives the result. Only the
// points are put in the lower envelope of parabolas (v their places, z the
// bounds between them).
void Transform(const float* f, uint32_t n, float* d, float* z, int32_t* v,
               int32_t* at) {
  int32_t k = -1;
  for (int32_t q = 0; q < static_cast<int32_t>(n); ++q) {
    if (f[q] >= kFar) continue;
    float s = -kFar;
    while (k >= 0) {
      const int32_t r = v[k];
      const float fq = f[q] + static_cast<float>(q) * static_cast<float>(q);
      const float fr = f[r] + static_cast<float>(r) * static_cast<float>(r);
      s = (fq - fr) / (2.0f * static_cast<float>(q - r));
      if (s > z[k]) break;
      --k;
    }
    ++k;
    v[k] = q;
    z[k] = k == 0 ? -kFar : s;
    z[k + 1] = kFar;
  }
  if (k < 0) {
    for (uint32_t q = 0; q < n; ++q) d[q] = kFar;
    if (at != nullptr) memset(at, 0, sizeof(int32_t) * n);
    return;
  }
  k = 0;
  for (int32_t q = 0; q < static_cast<int32_t>(n); ++q) {
    while (z[k + 1] < static_cast<float>(q)) ++k;
    const float dq = static_cast<float>(q - v[k]);
    d[q] = dq * dq + f[v[k]];
    if (at != nullptr) at[q] = v[k];
  }
}

// Where the shape's edge crosses a pixel: its centre's signed distance to
// the edge (positive inside), from how much of it the shape covers.
float EdgeOffset(uint8_t a) { return static_cast<float>(a) / 255.0f - 0.5f; }

// A pixel the edge crosses, or one beside a pixel on the shape's other
// side (an edge between whole pixels), that the edge bounds from `from`
// (the shape's side, or the other).
bool OnEdge(const Plane& alpha, uint32_t x, uint32_t y, bool from_inside) {
  const uint8_t* row = PlaneRow(alpha, y);
  const uint8_t a = row[x];
  if (a == (from_inside ? 255 : 0)) return false;
  if (a != 0 && a != 255) return true;
  const bool in = a != 0;
  return (x > 0 && (row[x - 1] >= 128) != in) ||
         (x + 1 < alpha.width && (row[x + 1] >= 128) != in) ||
         (y > 0 && (PlaneRow(alpha, y - 1)[x] >= 128) != in) ||
         (y + 1 < alpha.height && (PlaneRow(alpha, y + 1)[x] >= 128) != in);
}

// The distance transform's scratch at the start of `work` (4 x (max side
// + 1) words): a column or row, its distances, the parabolas' bounds and
// their vertices; `side` is max side + 1.
struct TransformWork {
  float* f;
  float* d;
  float* z;
  int32_t* v;
  uint32_t side;
};

TransformWork SplitWork(const Plane& alpha, float* work) {
  const uint32_t side =
      (alpha.width > alpha.height ? alpha.width : alpha.height) + 1;
  return TransformWork{work, work + side, work + 2 * side,
                       reinterpret_cast<int32_t*>(work + 3 * side + 1), side};
}

// The distances of the pixels wholly inside (or wholly outside) the shape
// to its edge, into `out` (left as they are elsewhere); `squared` holds the
// transform's own distances.
void EdgeDistances(const Plane& alpha, bool inside, float* out, float* squared,
                   float* work, int32_t* rows) {
  const uint32_t w = alpha.width, h = alpha.height;
  const TransformWork t = SplitWork(alpha, work);
  float *f = t.f, *d = t.d, *z = t.z;
  int32_t* v = t.v;
  // Beyond the transform's scratch: the edge rows found.
  int32_t* at = reinterpret_cast<int32_t*>(work + 4 * t.side + 2);
  // The nearest edge pixel down each column: its distance and row.
  for (uint32_t x = 0; x < w; ++x) {
    for (uint32_t y = 0; y < h; ++y) {
      f[y] = OnEdge(alpha, x, y, inside) ? 0.0f : kFar;
    }
    Transform(f, h, d, z, v, at);
    for (uint32_t y = 0; y < h; ++y) {
      squared[static_cast<uint64_t>(y) * w + x] = d[y];
      rows[static_cast<uint64_t>(y) * w + x] = at[y];
    }
  }
  // Then along the rows: the nearest edge pixel q of every pixel p, whose
  // edge lies |p - q| beyond q's own offset.
  const uint8_t whole = inside ? 255 : 0;
  for (uint32_t y = 0; y < h; ++y) {
    memcpy(f, squared + static_cast<uint64_t>(y) * w, sizeof(float) * w);
    Transform(f, w, d, z, v, at);
    const int32_t* nearest = rows + static_cast<uint64_t>(y) * w;
    const uint8_t* a = PlaneRow(alpha, y);
    float* row = out + static_cast<uint64_t>(y) * w;
    for (uint32_t x = 0; x < w; ++x) {
      if (a[x] != whole) continue;
      if (d[x] >= kFar) {
        row[x] = inside ? kFar : -kFar;
        continue;
      }
      const uint32_t qx = static_cast<uint32_t>(at[x]);
      const uint32_t qy = static_cast<uint32_t>(nearest[qx]);
      const float offset = EdgeOffset(PlaneRow(alpha, qy)[qx]);
      const float apart = Root(d[x]);
      row[x] = inside ? offset + apart : offset - apart;
    }
  }
}

}  // namespace

uint32_t BlurReach(uint32_t size) {
  if (size == 0) return 0;
  uint32_t radii[3];
  BoxRadii(size / 2.0, radii);
  return radii[0] + radii[1] + radii[2];
}

void BlurPlane(Plane* p, uint32_t size, uint8_t* scratch, uint32_t* sums) {
  BlurPlaneBy(p, size / 2.0, scratch, sums);
}

void BlurPlaneBy(Plane* p, double sigma, uint8_t* scratch, uint32_t* sums) {
  if (sigma <= 0 || p->width == 0 || p->height == 0) return;
  uint32_t radii[3];
  BoxRadii(sigma, radii);
  for (uint32_t r : radii) {
    if (r == 0) continue;
    BoxRows(*p, p->bytes, scratch, r);
    BoxColumns(*p, scratch, p->bytes, r, sums);
  }
}

void DistancePlane(const Plane& alpha, bool inside, float* squared,
                   float* work) {
  const uint32_t w = alpha.width, h = alpha.height;
  const TransformWork t = SplitWork(alpha, work);
  float *f = t.f, *d = t.d, *z = t.z;
  int32_t* v = t.v;
  // Down the columns first, then along the rows of what they gave.
  for (uint32_t x = 0; x < w; ++x) {
    for (uint32_t y = 0; y < h; ++y) {
      const bool in = PlaneRow(alpha, y)[x] >= 128;
      f[y] = in != inside ? 0.0f : kFar;
    }
    Transform(f, h, d, z, v, nullptr);
    for (uint32_t y = 0; y < h; ++y) {
      squared[static_cast<uint64_t>(y) * w + x] = d[y];
    }
  }
  for (uint32_t y = 0; y < h; ++y) {
    float* row = squared + static_cast<uint64_t>(y) * w;
    memcpy(f, row, sizeof(float) * w);
    Transform(f, w, row, z, v, nullptr);
  }
}

float Root(float v) {
  if (!(v > 0)) return 0;
  uint32_t bits;
  memcpy(&bits, &v, 4);
  bits = 0x1fbd1df5u + (bits >> 1);
  float r;
  memcpy(&r, &bits, 4);
  for (int i = 0; i < 3; ++i) r = 0.5f * (r + v / r);
  return r;
}

void EdgeDistancePlane(const Plane& alpha, float* distance, float* squared,
                       float* work, int32_t* rows) {
  const uint64_t n = static_cast<uint64_t>(alpha.width) * alpha.height;
  for (uint64_t i = 0; i < n; ++i) distance[i] = EdgeOffset(alpha.bytes[i]);
  EdgeDistances(alpha, true, distance, squared, work, rows);
  EdgeDistances(alpha, false, distance, squared, work, rows);
}

uint8_t BandCoverage(float squared, float size) {
  const float s = size;
  if (squared <= s * s) return 255;
  if (squared >= (s + 1) * (s + 1)) return 0;
  // Between the squares of size and size + 1 the root is near a line.
  const float root = s + (squared - s * s) / (2 * s + 1);
  return static_cast<uint8_t>((s + 1 - root) * 255.0f + 0.5f);
}

void OffsetPlane(Plane* p, int32_t dx, int32_t dy, uint8_t fill,
                 uint8_t* scratch) {
  if (dx == 0 && dy == 0) return;
  const int64_t w = p->width, h = p->height;
  for (int64_t y = 0; y < h; ++y) {
    uint8_t* out = scratch + y * w;
    const int64_t sy = y - dy;
    if (sy < 0 || sy >= h) {
      memset(out, fill, static_cast<size_t>(w));
      continue;
    }
    const uint8_t* in = p->bytes + sy * w;
    for (int64_t x = 0; x < w; ++x) {
      const int64_t sx = x - dx;
      out[x] = sx < 0 || sx >= w ? fill : in[sx];
    }
  }
  memcpy(p->bytes, scratch, static_cast<size_t>(w * h));
}

}  // namespace engine
