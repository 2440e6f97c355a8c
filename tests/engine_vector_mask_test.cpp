// The composite of vector masks of known shapes (rectangles, circles of
// cubic arcs, an even-odd star, inverted and combined subpaths) filled with
// a solid colour, against coverage sampled here.
#include <math.h>

#include <algorithm>
#include <functional>

#include "engine_composite_support.h"

namespace {

using compositetest::At;
using compositetest::Byte;
using compositetest::kRed;
using compositetest::kWhite;
using compositetest::Over;
using compositetest::Unmerged;
using enginetest::Bytes;
using enginetest::Decode;
using enginetest::Decoded;
using psdw::Layer;
using psdw::PsdSpec;

// A fill layer without pixels: a solid colour cut out by `paths`.
Layer ShapeLayer(const std::vector<psdw::Subpath>& paths, int w, int h,
                 uint32_t flags = 0) {
  Layer l;
  l.flags = 0x18;
  l.additional_info = psdw::SolidColourBlock(255, 0, 0);
  const Bytes mask = psdw::VectorMaskBlock(paths, w, h, flags);
  l.additional_info.insert(l.additional_info.end(), mask.begin(), mask.end());
  return l;
}

psdw::Subpath Polygon(const std::vector<std::pair<double, double>>& points,
                      int16_t operation = 1) {
  psdw::Subpath p;
  p.operation = operation;
  for (const auto& [x, y] : points) p.knots.push_back(psdw::CornerKnot(x, y));
  return p;
}

// A circle of four cubic arcs (control points at 0.5523 of the radius).
psdw::Subpath Circle(double cx, double cy, double r) {
  const double k = 0.5522847498 * r;
  psdw::Subpath p;
  const double anchors[4][2] = {
      {cx + r, cy}, {cx, cy + r}, {cx - r, cy}, {cx, cy - r}};
  for (int i = 0; i < 4; ++i) {
    psdw::PathKnot knot;
    knot.x = anchors[i][0];
    knot.y = anchors[i][1];
    // The tangent at each anchor, turning with the anchors.
    const double tx = -(anchors[i][1] - cy) / r, ty = (anchors[i][0] - cx) / r;
    knot.in_x = knot.x - k * tx;
    knot.in_y = knot.y - k * ty;
    knot.out_x = knot.x + k * tx;
    knot.out_y = knot.y + k * ty;
    p.knots.push_back(knot);
  }
  return p;
}

// Even-odd inside test of a polygon.
bool InsidePolygon(const std::vector<std::pair<double, double>>& p, double x,
                   double y) {
  bool inside = false;
  for (size_t i = 0, j = p.size() - 1; i < p.size(); j = i++) {
    const double xi = p[i].first, yi = p[i].second, xj = p[j].first,
                 yj = p[j].second;
    if ((yi > y) != (yj > y) && x < (xj - xi) * (y - yi) / (yj - yi) + xi) {
      inside = !inside;
    }
  }
  return inside;
}

// The share of pixel (x, y) where `inside` holds, from 16 x 16 samples.
double Coverage(int x, int y, const std::function<bool(double, double)>& in) {
  int hits = 0;
  for (int j = 0; j < 16; ++j) {
    for (int i = 0; i < 16; ++i) {
      hits += in(x + (i + 0.5) / 16, y + (j + 0.5) / 16);
    }
  }
  return hits / 256.0;
}

TEST(CompositeTest, VectorMasksCoverKnownShapes) {
  const int n = 64;
  const std::vector<std::pair<double, double>> rect = {
      {10.25, 12.5}, {50.75, 12.5}, {50.75, 40.5}, {10.25, 40.5}};
  std::vector<std::pair<double, double>> star;
  for (int i = 0; i < 5; ++i) {  // a pentagram drawn in one stroke
    const double a = -M_PI / 2 + i * 4 * M_PI / 5;
    star.push_back({32 + 28 * cos(a), 33 + 28 * sin(a)});
  }
  const std::vector<std::pair<double, double>> inner = {
      {20, 20}, {44, 20}, {44, 44}, {20, 44}};
  struct Shape {
    const char* what;
    std::vector<psdw::Subpath> paths;
    uint32_t flags;
    std::function<bool(double, double)> inside;
  } shapes[] = {
      {"rectangle",
       {Polygon(rect)},
       0,
       [&](double x, double y) { return InsidePolygon(rect, x, y); }},
      {"circle",
       {Circle(31.5, 30, 22.5)},
       0,
       [](double x, double y) {
         return (x - 31.5) * (x - 31.5) + (y - 30) * (y - 30) < 22.5 * 22.5;
       }},
      {"even-odd star",
       {Polygon(star)},
       0,
       [&](double x, double y) { return InsidePolygon(star, x, y); }},
      {"inverted rectangle",
       {Polygon(rect)},
       1,
       [&](double x, double y) { return !InsidePolygon(rect, x, y); }},
      {"circle minus a square",
       {Circle(32, 32, 26), Polygon(inner, 2)},
       0,
       [&](double x, double y) {
         return (x - 32) * (x - 32) + (y - 32) * (y - 32) < 26 * 26 &&
                !InsidePolygon(inner, x, y);
       }},
      {"circle and square intersected",
       {Circle(32, 32, 26), Polygon(inner, 3)},
       0,
       [&](double x, double y) { return InsidePolygon(inner, x, y); }},
  };
  for (const Shape& s : shapes) {
    PsdSpec spec = Unmerged(n, n);
    spec.layers.push_back(ShapeLayer(s.paths, n, n, s.flags));
    const Decoded d = Decode(psdw::WritePsd(spec));
    double total = 0;
    auto want = [&](int x, int y) {
      return Over(kWhite, kRed, Coverage(x, y, s.inside));
    };
    // Edges may differ a little from the sampled coverage, and a pixel where
    // two edges cross a lot (its area is not split by the winding of its
    // parts); on average the two agree closely.
    ASSERT_EQ(d.result, 0) << s.what;
    int crossings = 0;
    for (int y = 0; y < n; ++y) {
      for (int x = 0; x < n; ++x) {
        const int diff =
            std::abs(At(d, x, y).g - static_cast<int>(Byte(want(x, y).g)));
        total += diff;
        crossings += diff > 40;
      }
    }
    EXPECT_LE(crossings, 10) << s.what;
    EXPECT_LT(total / (n * n), 1.0) << s.what;
  }
}

}  // namespace
