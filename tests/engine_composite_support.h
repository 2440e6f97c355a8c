// Helpers of the composite tests: documents saved without a merged picture,
// layers of given pixels, section dividers, and checks of the composited
// picture against colours computed in the test.
#pragma once

#include <math.h>

#include <algorithm>
#include <functional>
#include <string>

#include "engine_test_support.h"

namespace compositetest {

using enginetest::Decoded;
using psdw::Layer;
using psdw::LayerChannel;
using psdw::PsdSpec;

struct Rgba {
  double r, g, b, a;  // 0..1
};
using PixelFn = std::function<Rgba(int x, int y)>;

inline uint32_t Byte(double v) {
  return static_cast<uint32_t>(lround(std::clamp(v, 0.0, 1.0) * 255.0));
}

// A layer over [left, right) x [top, bottom) whose pixels `f` gives, with
// a transparency channel.
inline Layer PixelLayer(int left, int top, int right, int bottom,
                        const PixelFn& f) {
  Layer l;
  l.left = left;
  l.top = top;
  l.right = right;
  l.bottom = bottom;
  const int16_t ids[4] = {-1, 0, 1, 2};
  for (int16_t id : ids) {
    LayerChannel c;
    c.id = id;
    c.compression = psdw::kPackBits;
    for (int y = top; y < bottom; ++y) {
      for (int x = left; x < right; ++x) {
        const Rgba p = f(x, y);
        const double v[4] = {p.a, p.r, p.g, p.b};
        c.samples.push_back(Byte(v[id + 1]));
      }
    }
    l.channels.push_back(c);
  }
  return l;
}

inline Layer Flat(int w, int h, Rgba colour) {
  return PixelLayer(0, 0, w, h, [colour](int, int) { return colour; });
}

// An empty record carrying a section divider (type 3 below the members;
// 1 for the group's own record, with its blend key).
inline Layer Section(uint32_t type, const std::string& blend = "") {
  Layer l;
  l.blend_key = blend.empty() ? "norm" : blend;
  l.additional_info = psdw::SectionBlock(type, blend);
  return l;
}

// An RGB document saved without a merged picture (its Image Data white).
inline PsdSpec Unmerged(uint32_t w, uint32_t h) {
  PsdSpec s;
  s.width = w;
  s.height = h;
  s.resources.push_back(psdw::VersionInfoResource(false));
  for (int c = 0; c < 3; ++c) s.planes.push_back(psdw::Fill(w * h, 255));
  return s;
}

// Blue, green, red at (x, y) of a decoded 24-bit picture.
struct Pixel {
  int b, g, r;
};
inline Pixel At(const Decoded& d, int x, int y) {
  const BITMAPINFOHEADER h = d.Info();
  const int stride = (h.biWidth * 3 + 3) & ~3;
  const uint8_t* p = &d.pixels[(h.biHeight - 1 - y) * stride + 3 * x];
  return Pixel{p[0], p[1], p[2]};
}

// The colour over white after compositing layers whose straight colours and
// alphas the test computed: C a + (1 - a).
inline double OverWhite(double c, double a) { return c * a + (1 - a); }

// Checks every pixel against `want` (red, green, blue 0..1 over white),
// within `tolerance`; returns the largest difference.
inline int ExpectPicture(const Decoded& d, int w, int h,
                         const std::function<Rgba(int, int)>& want,
                         int tolerance, const std::string& what) {
  EXPECT_EQ(d.result, 0) << what;
  if (d.result != 0) return 255;
  int worst = 0;
  for (int y = 0; y < h; ++y) {
    for (int x = 0; x < w; ++x) {
      const Pixel got = At(d, x, y);
      const Rgba e = want(x, y);
      const int diff =
          std::max({std::abs(got.r - static_cast<int>(Byte(e.r))),
                    std::abs(got.g - static_cast<int>(Byte(e.g))),
                    std::abs(got.b - static_cast<int>(Byte(e.b)))});
      if (diff > worst && diff > tolerance) {
        ADD_FAILURE() << what << " at (" << x << ", " << y << "): got " << got.r
                      << " " << got.g << " " << got.b << ", expected "
                      << Byte(e.r) << " " << Byte(e.g) << " " << Byte(e.b);
      }
      worst = std::max(worst, diff);
    }
  }
  return worst;
}

const Rgba kWhite = {1, 1, 1, 1};
const Rgba kRed = {1, 0, 0, 1};
const Rgba kBlue = {0, 0, 1, 1};

// Normal blending of colour c with alpha a over an opaque backdrop.
inline Rgba Over(Rgba backdrop, Rgba c, double a) {
  return Rgba{backdrop.r + (c.r - backdrop.r) * a,
              backdrop.g + (c.g - backdrop.g) * a,
              backdrop.b + (c.b - backdrop.b) * a, 1};
}
inline Rgba Multiply(Rgba b, Rgba s) {
  return Rgba{b.r * s.r, b.g * s.g, b.b * s.b, 1};
}

}  // namespace compositetest
