// The composite of every blend mode over opaque and semi-transparent
// backdrops, against values computed here from each mode's formula, and
// dissolve's whole-or-nothing pixels.
#include <math.h>

#include <algorithm>
#include <functional>

#include "engine/compose/blend/blend.h"
#include "engine_composite_support.h"

namespace {

using compositetest::At;
using compositetest::Byte;
using compositetest::ExpectPicture;
using compositetest::Flat;
using compositetest::OverWhite;
using compositetest::Pixel;
using compositetest::PixelLayer;
using compositetest::Rgba;
using compositetest::Unmerged;
using enginetest::Decode;
using enginetest::Decoded;
using psdw::PsdSpec;

double Lum(const double* c) { return 0.3 * c[0] + 0.59 * c[1] + 0.11 * c[2]; }

void ClipColour(double* c) {
  const double l = Lum(c);
  const double lo = std::min({c[0], c[1], c[2]});
  const double hi = std::max({c[0], c[1], c[2]});
  for (int k = 0; k < 3; ++k) {
    if (lo < 0) c[k] = l + (c[k] - l) * l / (l - lo);
    if (hi > 1) c[k] = l + (c[k] - l) * (1 - l) / (hi - l);
  }
}

void SetLum(double* c, double l) {
  const double d = l - Lum(c);
  for (int k = 0; k < 3; ++k) c[k] += d;
  ClipColour(c);
}

double Sat(const double* c) {
  return std::max({c[0], c[1], c[2]}) - std::min({c[0], c[1], c[2]});
}

void SetSat(double* c, double s) {
  int order[3] = {0, 1, 2};
  std::sort(order, order + 3, [c](int a, int b) { return c[a] < c[b]; });
  double& lo = c[order[0]];
  double& mid = c[order[1]];
  double& hi = c[order[2]];
  if (hi > lo) {
    mid = (mid - lo) * s / (hi - lo);
    hi = s;
  } else {
    mid = hi = 0;
  }
  lo = 0;
}

// The mix B(Cb, Cs) of one channel, as the saving application computes it.
double Separable(const std::string& key, double b, double s) {
  auto burn = [](double b, double s) {
    return b >= 1 ? 1 : s <= 0 ? 0 : 1 - std::min(1.0, (1 - b) / s);
  };
  auto dodge = [](double b, double s) {
    return b <= 0 ? 0 : s >= 1 ? 1 : std::min(1.0, b / (1 - s));
  };
  auto hard = [](double b, double s) {
    return s <= 0.5 ? b * 2 * s : 1 - (1 - b) * (1 - (2 * s - 1));
  };
  if (key == "norm") return s;
  if (key == "dark") return std::min(b, s);
  if (key == "lite") return std::max(b, s);
  if (key == "mul ") return b * s;
  if (key == "scrn") return b + s - b * s;
  if (key == "idiv") return burn(b, s);
  if (key == "div ") return dodge(b, s);
  if (key == "lbrn") return std::max(0.0, b + s - 1);
  if (key == "lddg") return std::min(1.0, b + s);
  if (key == "over") return hard(s, b);
  if (key == "hLit") return hard(b, s);
  if (key == "sLit") {
    return s <= 0.5 ? b - (1 - 2 * s) * b * (1 - b)
                    : b + (2 * s - 1) * (sqrt(b) - b);
  }
  if (key == "vLit") {
    // Burn with 2 Cs, dodge with 2 Cs - 1; 0 and 1 keep themselves.
    if (s <= 0) return 0;
    if (s >= 1) return 1;
    return s < 0.5 ? 1 - std::min(1.0, (1 - b) / (2 * s))
                   : std::min(1.0, b / (2 * (1 - s)));
  }
  if (key == "lLit") return std::clamp(b + 2 * s - 1, 0.0, 1.0);
  if (key == "pLit")
    return s < 0.5 ? std::min(b, 2 * s) : std::max(b, 2 * s - 1);
  if (key == "hMix") return (b + s > 1.0 + 1e-9 || b >= 1) ? 1 : 0;
  if (key == "diff") return fabs(b - s);
  if (key == "smud") return b + s - 2 * b * s;
  if (key == "fsub") return std::max(0.0, b - s);
  if (key == "fdiv") return s <= 0 ? (b <= 0 ? 0 : 1) : std::min(1.0, b / s);
  ADD_FAILURE() << "no formula for " << key;
  return s;
}

void Mix(const std::string& key, const double* b, const double* s,
         double* out) {
  double cb[3] = {b[0], b[1], b[2]}, cs[3] = {s[0], s[1], s[2]};
  if (key == "hue ") {
    SetSat(cs, Sat(cb));
    SetLum(cs, Lum(cb));
    std::copy(cs, cs + 3, out);
  } else if (key == "sat ") {
    const double l = Lum(cb);
    SetSat(cb, Sat(cs));
    SetLum(cb, l);
    std::copy(cb, cb + 3, out);
  } else if (key == "colr") {
    SetLum(cs, Lum(cb));
    std::copy(cs, cs + 3, out);
  } else if (key == "lum ") {
    SetLum(cb, Lum(cs));
    std::copy(cb, cb + 3, out);
  } else if (key == "dkCl" || key == "lgCl") {
    const bool source = key == "dkCl" ? Lum(cs) < Lum(cb) : Lum(cs) > Lum(cb);
    std::copy(source ? cs : cb, (source ? cs : cb) + 3, out);
  } else {
    for (int k = 0; k < 3; ++k) out[k] = Separable(key, b[k], s[k]);
  }
}

// The backdrop and the blended layer of the sweep: colours and alphas that
// vary over the picture, with clear, half and opaque alphas among them.
Rgba Backdrop(int x, int y) {
  return Rgba{x / 23.0, 1 - y / 23.0, ((x * y) % 24) / 23.0,
              y < 12 ? 1.0 : (x * 11 % 256) / 255.0};
}
Rgba Source(int x, int y) {
  return Rgba{1 - x / 23.0, ((x + y) % 24) / 23.0, y / 23.0,
              x == y ? 1.0 : ((x + 2 * y) * 9 % 256) / 255.0};
}

TEST(CompositeTest, EveryBlendModeMatchesItsFormula) {
  const char* keys[] = {"norm", "dark", "mul ", "idiv", "lbrn", "dkCl", "lite",
                        "scrn", "div ", "lddg", "lgCl", "over", "sLit", "hLit",
                        "vLit", "lLit", "pLit", "hMix", "diff", "smud", "fsub",
                        "fdiv", "hue ", "sat ", "colr", "lum "};
  const int n = 24;
  for (const char* key : keys) {
    PsdSpec spec = Unmerged(n, n);
    spec.layers.push_back(PixelLayer(0, 0, n, n, Backdrop));
    spec.layers.push_back(PixelLayer(0, 0, n, n, Source));
    spec.layers.back().blend_key = key;
    const Decoded d = Decode(psdw::WritePsd(spec));
    // Straight alpha: ar = as + ab - as ab, colour the weighted mean of
    // backdrop, source and mix, then over white.
    auto want = [key](int x, int y) {
      const Rgba b = Backdrop(x, y), s = Source(x, y);
      const double as = Byte(s.a) / 255.0, ab = Byte(b.a) / 255.0;
      const double cb[3] = {Byte(b.r) / 255.0, Byte(b.g) / 255.0,
                            Byte(b.b) / 255.0};
      const double cs[3] = {Byte(s.r) / 255.0, Byte(s.g) / 255.0,
                            Byte(s.b) / 255.0};
      double mix[3];
      Mix(key, cb, cs, mix);
      const double ar = as + ab - as * ab;
      double out[3];
      for (int k = 0; k < 3; ++k) {
        const double c = ar == 0 ? 0
                                 : ((1 - as) * ab * cb[k] +
                                    as * (1 - ab) * cs[k] + as * ab * mix[k]) /
                                       ar;
        out[k] = OverWhite(c, ar);
      }
      return Rgba{out[0], out[1], out[2], 1};
    };
    const int worst = ExpectPicture(d, n, n, want, 3, key);
    EXPECT_LE(worst, 3) << key;
  }
}

// Each mode's loop (vector forms included) against the scalar loops, over
// rows of every alpha, opaque backdrops in runs and alone, every row length
// up to 11 and every alignment of its start.
TEST(CompositeTest, EveryModeLoopMatchesTheScalarLoop) {
  uint32_t seed = 12345;
  auto next = [&seed]() {
    seed = seed * 1103515245u + 12345u;
    return static_cast<uint8_t>(seed >> 16);
  };
  std::vector<uint8_t> src(4 * 512), dst(4 * 512);
  for (size_t i = 0; i < src.size(); ++i) {
    const bool alpha = i % 4 == 3;
    src[i] = alpha && i % 12 == 3 ? 255 : alpha && i % 20 == 7 ? 0 : next();
    dst[i] = alpha && (i / 64) % 3 != 2 ? 255 : next();
  }
  for (uint32_t mode = 0; mode <= engine::kBlendPassThrough; ++mode) {
    for (bool keep : {false, true}) {
      for (uint32_t start = 0; start < 16; ++start) {
        const uint32_t n = start < 12 ? start : 500 - start;
        std::vector<uint8_t> a = dst, b = dst;
        const auto m = static_cast<engine::BlendMode>(mode);
        const int32_t x = static_cast<int32_t>(start);
        engine::BlendRow(m, &src[4 * start], &a[4 * start], n, keep, x, 7);
        engine::BlendRowScalar(m, &src[4 * start], &b[4 * start], n, keep, x,
                               7);
        ASSERT_EQ(a, b) << "mode " << mode << " keep " << keep << " n " << n;
      }
    }
  }
}

TEST(CompositeTest, DissolvePaintsEachPixelWholeOrNotAtAll) {
  const int n = 24;
  PsdSpec spec = Unmerged(n, n);
  spec.layers.push_back(Flat(n, n, Rgba{0, 0, 1, 1}));
  spec.layers.push_back(Flat(n, n, Rgba{1, 0, 0, 0.5}));
  spec.layers.back().blend_key = "diss";
  const Decoded d = Decode(psdw::WritePsd(spec));
  ASSERT_EQ(d.result, 0);
  int red = 0;
  for (int y = 0; y < n; ++y) {
    for (int x = 0; x < n; ++x) {
      const Pixel p = At(d, x, y);
      const bool is_red = p.r == 255 && p.g == 0 && p.b == 0;
      EXPECT_TRUE(is_red || (p.r == 0 && p.g == 0 && p.b == 255));
      red += is_red;
    }
  }
  EXPECT_GT(red, n * n / 3);
  EXPECT_LT(red, 2 * n * n / 3);
}

}  // namespace
