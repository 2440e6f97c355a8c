// The composite of documents saved without a merged picture, against values
// computed here from the formulas: every blend mode over opaque and
// semi-transparent backdrops, layer attributes, groups, clipping, masks, and
// vector masks of known shapes filled with a solid colour.
#include <math.h>

#include <algorithm>
#include <functional>

#include "engine_test_support.h"

namespace {

using enginetest::Bytes;
using enginetest::Decode;
using enginetest::Decoded;
using psdw::Layer;
using psdw::LayerChannel;
using psdw::PsdSpec;

struct Rgba {
  double r, g, b, a;  // 0..1
};
using PixelFn = std::function<Rgba(int x, int y)>;

uint32_t Byte(double v) {
  return static_cast<uint32_t>(lround(std::clamp(v, 0.0, 1.0) * 255.0));
}

// A layer over [left, right) x [top, bottom) whose pixels `f` gives, with
// a transparency channel.
Layer PixelLayer(int left, int top, int right, int bottom, const PixelFn& f) {
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

Layer Flat(int w, int h, Rgba colour) {
  return PixelLayer(0, 0, w, h, [colour](int, int) { return colour; });
}

// An empty record carrying a section divider (type 3 below the members;
// 1 for the group's own record, with its blend key).
Layer Section(uint32_t type, const std::string& blend = "") {
  Layer l;
  l.blend_key = blend.empty() ? "norm" : blend;
  l.additional_info = psdw::SectionBlock(type, blend);
  return l;
}

// An RGB document saved without a merged picture (its Image Data white).
PsdSpec Unmerged(uint32_t w, uint32_t h) {
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
Pixel At(const Decoded& d, int x, int y) {
  const BITMAPINFOHEADER h = d.Info();
  const int stride = (h.biWidth * 3 + 3) & ~3;
  const uint8_t* p = &d.pixels[(h.biHeight - 1 - y) * stride + 3 * x];
  return Pixel{p[0], p[1], p[2]};
}

// The colour over white after compositing layers whose straight colours and
// alphas the test computed: C a + (1 - a).
double OverWhite(double c, double a) { return c * a + (1 - a); }

// Checks every pixel against `want` (red, green, blue 0..1 over white),
// within `tolerance`; returns the largest difference.
int ExpectPicture(const Decoded& d, int w, int h,
                  const std::function<Rgba(int, int)>& want, int tolerance,
                  const std::string& what) {
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

// Blend modes ---------------------------------------------------------------

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

// Layer attributes, groups, clipping, masks -------------------------------

const Rgba kWhite = {1, 1, 1, 1};
const Rgba kRed = {1, 0, 0, 1};
const Rgba kBlue = {0, 0, 1, 1};

// Normal blending of colour c with alpha a over an opaque backdrop.
Rgba Over(Rgba backdrop, Rgba c, double a) {
  return Rgba{backdrop.r + (c.r - backdrop.r) * a,
              backdrop.g + (c.g - backdrop.g) * a,
              backdrop.b + (c.b - backdrop.b) * a, 1};
}
Rgba Multiply(Rgba b, Rgba s) {
  return Rgba{b.r * s.r, b.g * s.g, b.b * s.b, 1};
}

// One document per case: bottom-most layer first, and the expected
// picture (opaque, so no flattening is left to compute).
struct Case {
  const char* what;
  std::vector<Layer> layers;
  std::function<Rgba(int, int)> want;
};

TEST(CompositeTest, AttributesGroupsClippingAndMasks) {
  const int n = 16;
  const Rgba grey = {0.5, 0.5, 0.5, 1}, teal = {0, 0.5, 0.5, 1};
  // A layer half-clear: the left half opaque, the right half alpha 0.5.
  const PixelFn half = [](int x, int) {
    return Rgba{0, 0, 1, x < 8 ? 1.0 : 128 / 255.0};
  };
  std::vector<Case> cases;
  {
    Layer hidden = Flat(n, n, kRed);
    hidden.flags = 0x02;
    Layer faint = Flat(n, n, kBlue);
    faint.opacity = 128;
    faint.additional_info = psdw::FillOpacityBlock(128);
    Layer adjustment = Flat(n, n, kRed);
    adjustment.additional_info = psdw::InfoBlock("levl", Bytes(8, 0));
    Layer irrelevant = Flat(n, n, kRed);
    irrelevant.flags = 0x18;
    cases.push_back(
        {"hidden, opacity and fill opacity, adjustment and "
         "irrelevant pixels",
         {Flat(n, n, kWhite), hidden, faint, adjustment, irrelevant},
         [=](int, int) { return Over(kWhite, kBlue, 0.25); }});
  }
  {
    Layer member = Flat(n, n, teal);
    member.blend_key = "mul ";
    cases.push_back({"a pass-through group's members blend with what is below",
                     {Flat(n, n, grey), Section(3), member, Section(1, "pass")},
                     [=](int, int) { return Multiply(grey, teal); }});
    cases.push_back({"an isolated group blends as one layer",
                     {Flat(n, n, grey), Section(3), member, Section(1, "norm")},
                     [=](int, int) { return teal; }});
    Layer faded = Section(1, "norm");
    faded.opacity = 64;
    cases.push_back({"a group's opacity",
                     {Flat(n, n, grey), Section(3), member, faded},
                     [=](int, int) { return Over(grey, teal, 64 / 255.0); }});
    Layer faded_pass = Section(1, "pass");
    faded_pass.opacity = 128;
    cases.push_back(
        {"a pass-through group's opacity fades what its members "
         "did",
         {Flat(n, n, grey), Section(3), member, faded_pass},
         [=](int, int) {
           return Over(grey, Multiply(grey, teal), 128 / 255.0);
         }});
    Layer clipped = Flat(n, n, kRed);
    clipped.clipping = 1;
    clipped.blend_key = "scrn";
    cases.push_back(
        {"items clipped to a pass-through group blend with its "
         "content",
         {Flat(n, n, grey), Section(3), PixelLayer(0, 0, n, n, half),
          Section(1, "pass"), clipped},
         [=](int x, int) {
           // Screen of red onto the blue content (magenta),
           // where the content is half clear a mean of that
           // and red; it shows at the content's alpha.
           const double a = x < 8 ? 1 : 128 / 255.0;
           const Rgba mixed = {1, 0, a, 1};
           return Over(grey, mixed, a);
         }});
    Layer hidden = Section(1, "pass");
    hidden.flags = 0x02;
    cases.push_back({"a hidden group hides its members",
                     {Flat(n, n, grey), Section(3), Flat(n, n, kRed), hidden},
                     [=](int, int) { return grey; }});
  }
  {
    Layer base = PixelLayer(0, 0, n, n, half);
    Layer clipped = Flat(n, n, kRed);
    clipped.clipping = 1;
    cases.push_back({"a clipped layer keeps to its base's alpha",
                     {Flat(n, n, kWhite), base, clipped},
                     [](int x, int) {
                       return Over(kWhite, kRed, x < 8 ? 1 : 128 / 255.0);
                     }});
    Layer faded = base;
    faded.opacity = 128;
    cases.push_back({"the base's opacity applies to its clipped layers",
                     {Flat(n, n, kWhite), faded, clipped},
                     [](int x, int) {
                       return Over(kWhite, kRed,
                                   (x < 8 ? 1 : 128 / 255.0) * 128 / 255.0);
                     }});
    Layer hidden = base;
    hidden.flags = 0x02;
    cases.push_back({"a hidden base hides its clipped layers",
                     {Flat(n, n, kWhite), hidden, clipped},
                     [](int, int) { return kWhite; }});
  }
  for (const bool disabled : {false, true}) {
    for (const uint8_t colour : {0, 255}) {
      Layer masked = Flat(n, n, kRed);
      masked.has_mask = true;
      masked.mask_left = 4;
      masked.mask_top = 2;
      masked.mask_right = 12;
      masked.mask_bottom = 10;
      masked.mask_default_colour = colour;
      masked.mask_flags = disabled ? 0x02 : 0;
      LayerChannel m;
      m.id = -2;
      m.width = 8;
      m.height = 8;
      for (int i = 0; i < 64; ++i) m.samples.push_back(i % 8 < 4 ? 255 : 64);
      masked.channels.push_back(m);
      cases.push_back(
          {disabled ? "a disabled mask" : "a layer mask and its default colour",
           {Flat(n, n, kWhite), masked},
           [=](int x, int y) {
             double m = colour / 255.0;
             if (x >= 4 && x < 12 && y >= 2 && y < 10) {
               m = x < 8 ? 1 : 64 / 255.0;
             }
             return Over(kWhite, kRed, disabled ? 1 : m);
           }});
    }
  }
  for (const Case& c : cases) {
    PsdSpec spec = Unmerged(n, n);
    spec.layers = c.layers;
    ExpectPicture(Decode(psdw::WritePsd(spec)), n, n, c.want, 1, c.what);
  }
}

// When the composite is served, and its formats ---------------------------

TEST(CompositeTest, ServedInPlaceOfTheMergedPictureOnlyWithoutRealData) {
  const int n = 8;
  PsdSpec spec = Unmerged(n, n);
  spec.layers.push_back(Flat(n, n, kBlue));
  Layer unfound = Flat(n, n, kRed);  // its mask's data lies past the end
  LayerChannel mask;
  mask.id = -2;
  mask.length = 0x7FFFFFF0u;
  unfound.channels.push_back(mask);
  spec.layers.push_back(unfound);
  const Bytes doc = psdw::WritePsd(spec);
  const Decoded merged = Decode(doc);
  ExpectPicture(
      merged, n, n, [](int, int) { return kBlue; }, 0, "composite");
  // The layer that cannot be found is served as the (composited) merged
  // picture; the header alone and the listing are those of the merged
  // picture as stored.
  const Decoded unserved = Decode(doc, enginetest::Entry(2));
  EXPECT_EQ(unserved.result, 0);
  EXPECT_EQ(unserved.pixels, merged.pixels);
  const Decoded header = Decode(doc, enginetest::HeaderOnly());
  EXPECT_EQ(header.result, 8);
  EXPECT_EQ(header.Info().biSizeImage, merged.Info().biSizeImage);

  PsdSpec real = spec;
  real.resources[0] = psdw::VersionInfoResource(true);
  ExpectPicture(
      Decode(psdw::WritePsd(real)), n, n, [](int, int) { return kWhite; }, 0,
      "stored merged picture");
}

TEST(CompositeTest, GrayAndCmykDocumentsKeepTheirOutputFormats) {
  const int n = 4;
  PsdSpec gray = Unmerged(n, n);
  gray.mode = 1;
  gray.planes.resize(1);
  Layer g;
  g.right = g.bottom = n;
  for (int16_t id : {-1, 0}) {
    LayerChannel c;
    c.id = id;
    c.samples = psdw::Fill(n * n, id == -1 ? 255 : 77);
    g.channels.push_back(c);
  }
  gray.layers.push_back(g);
  gray.layers.push_back(g);
  gray.layers.back().blend_key = "scrn";
  gray.layers.back().channels[1].samples = psdw::Fill(n * n, 100);
  const Decoded d = Decode(psdw::WritePsd(gray));
  ASSERT_EQ(d.result, 0);
  EXPECT_EQ(d.Info().biBitCount, 8);
  // Screen: 77 + 100 - 77 x 100 / 255 = 147 (rounded).
  EXPECT_EQ(d.pixels[0], 147);

  PsdSpec cmyk = Unmerged(n, n);
  cmyk.mode = 4;
  cmyk.planes.push_back(psdw::Fill(n * n, 255));
  Layer c = g;
  c.channels.resize(1);
  for (int16_t id : {0, 1, 2, 3}) {
    LayerChannel ch;
    ch.id = id;
    ch.samples = psdw::Fill(n * n, id == 1 ? 0 : 255);  // full magenta
    c.channels.push_back(ch);
  }
  cmyk.layers.push_back(c);
  const Decoded k = Decode(psdw::WritePsd(cmyk));
  ASSERT_EQ(k.result, 0);
  EXPECT_EQ(k.Info().biBitCount, 32);
  EXPECT_EQ(Bytes(k.pixels.begin(), k.pixels.begin() + 4),
            (Bytes{255, 0, 255, 255}));
}

// Vector masks ----------------------------------------------------------------

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
