// The composite of documents saved without a merged picture: layer
// attributes, groups, clipping and layer masks against values computed here,
// when the composite stands in for the merged picture, and the output
// formats of gray and CMYK composites.
#include <math.h>

#include <algorithm>
#include <functional>

#include "adjustment_records.h"
#include "engine_composite_support.h"

namespace {

using compositetest::ExpectPicture;
using compositetest::Flat;
using compositetest::kBlue;
using compositetest::kRed;
using compositetest::kWhite;
using compositetest::Multiply;
using compositetest::Over;
using compositetest::PixelFn;
using compositetest::PixelLayer;
using compositetest::Rgba;
using compositetest::Section;
using compositetest::Unmerged;
using enginetest::Bytes;
using enginetest::Decode;
using enginetest::Decoded;
using psdw::Layer;
using psdw::LayerChannel;
using psdw::PsdSpec;

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

// A document of every colour mode's channels, a varied picture below, and
// the adjustment layers given (over the columns [0, split), or everywhere),
// or with `pixels` layers of their own pixels over a small rectangle.
Bytes Adjusted(uint16_t mode, const std::vector<Bytes>& infos, int split,
               bool pixels = false) {
  const int w = 24, h = 20;
  PsdSpec spec = Unmerged(w, h);
  spec.mode = mode;
  const int colours = mode == 1 ? 1 : mode == 4 ? 4 : 3;
  spec.planes.resize(colours, psdw::Fill(w * h, 255));
  Layer base;
  base.right = w;
  base.bottom = h;
  for (int16_t id = -1; id < colours; ++id) {
    LayerChannel c;
    c.id = id;
    for (int y = 0; y < h; ++y) {
      for (int x = 0; x < w; ++x) {
        c.samples.push_back(
            id < 0 ? 255
                   : static_cast<uint8_t>(
                         (x * 11 + y * 13 * (id + 1) + id * 70) % 256));
      }
    }
    base.channels.push_back(c);
  }
  spec.layers.push_back(base);
  for (const Bytes& info : infos) {
    Layer l;
    l.additional_info = info;
    if (pixels) {
      l = base;
      l.left = 10, l.top = 8, l.right = 14, l.bottom = 12;
      for (LayerChannel& c : l.channels) c.samples.resize(16, 200);
      l.additional_info = info;
    }
    if (split > 0) {
      psdw::AddMask(l, 0, 0, h, split, 0, psdw::kRaw,
                    [](uint32_t, uint32_t) { return 255u; });
    }
    spec.layers.push_back(l);
  }
  return psdw::WritePsd(spec);
}

// Every kind with neutral settings leaves every colour as it was; with its
// other settings it changes colours under its mask and nowhere else; a
// record cut short is left out, saying so.
TEST(CompositeTest, AdjustmentsChangeOnlyWhatTheyCover) {
  for (uint16_t mode : {3, 1, 4}) {
    const Decoded plain = Decode(Adjusted(mode, {}, 0));
    ASSERT_EQ(plain.result, 0);
    const BITMAPINFOHEADER info = plain.Info();
    const int step = info.biBitCount / 8;
    const int stride = (info.biWidth * step + 3) & ~3;
    for (const adjustments::Record& r : adjustments::Records(true)) {
      const Decoded d = Decode(Adjusted(mode, {r.info}, 0));
      EXPECT_EQ(d.pixels, plain.pixels)
          << "neutral " << r.key << " in mode " << mode << ": "
          << enginetest::FirstDifference(d.pixels, plain.pixels);
    }
    const int split = 10;
    for (const adjustments::Record& r : adjustments::Records(false)) {
      const Decoded d = Decode(Adjusted(mode, {r.info}, split));
      ASSERT_EQ(d.result, 0);
      bool changed = false;
      for (int y = 0; y < info.biHeight; ++y) {
        for (int x = 0; x < info.biWidth * step; ++x) {
          const size_t at = static_cast<size_t>(y) * stride + x;
          if (x / step < split) {
            changed |= d.pixels[at] != plain.pixels[at];
          } else if (d.pixels[at] != plain.pixels[at]) {
            FAIL() << r.key << " in mode " << mode << " outside its mask";
          }
        }
      }
      // Gray documents have no colour for the colour kinds to change.
      const bool colourless =
          mode == 1 && (r.key == "hue2" || r.key == "blnc" || r.key == "vibA" ||
                        r.key == "selc" || r.key == "blwh");
      EXPECT_TRUE(changed || colourless) << r.key << " in mode " << mode;
    }
  }
  const Bytes cut = adjustments::CutShort(
      psdw::InfoBlock("levl", adjustments::Levels(false)));
  const Decoded d = Decode(Adjusted(3, {cut}, 0));
  EXPECT_EQ(d.pixels, Decode(Adjusted(3, {}, 0)).pixels);
  EXPECT_EQ(enginetest::CountPrefix(d.log, "Adjustment layer #1 "), 1);
}

// Each effect paints around or over its layer, within its reach and
// nowhere else, in every mode; a descriptor cut short is left out, saying
// so.
TEST(CompositeTest, EffectsPaintWithinTheirReach) {
  const std::vector<std::string> keys = {"DrSh", "OrGl", "SoFi", "ChFX",
                                         "IrGl", "IrSh", "FrFX", "ebbl"};
  for (uint16_t mode : {3, 1, 4}) {
    const Decoded plain = Decode(Adjusted(mode, {Bytes{}}, 0, true));
    ASSERT_EQ(plain.result, 0);
    const BITMAPINFOHEADER info = plain.Info();
    const int step = info.biBitCount / 8;
    const int stride = (info.biWidth * step + 3) & ~3;
    for (const std::string& key : keys) {
      psdw::EffectSpec e{
          key, key == "SoFi" ? "Nrml" : "Mltp", 40, 90, 200, 90, 2, 1};
      const Decoded d =
          Decode(Adjusted(mode, {psdw::EffectsBlock({e})}, 0, true));
      ASSERT_EQ(d.result, 0);
      bool changed = false;
      for (int y = 0; y < info.biHeight; ++y) {
        for (int x = 0; x < info.biWidth * step; ++x) {
          const size_t at = static_cast<size_t>(y) * stride + x;
          const int column = x / step, row = info.biHeight - 1 - y;
          const bool near = column >= 4 && column < 20 && row >= 2 && row < 18;
          if (near) {
            changed |= d.pixels[at] != plain.pixels[at];
          } else if (d.pixels[at] != plain.pixels[at]) {
            FAIL() << key << " in mode " << mode << " beyond its reach";
          }
        }
      }
      EXPECT_TRUE(changed) << key << " in mode " << mode;
    }
  }
  psdw::EffectSpec stroke{"FrFX"};
  const Bytes cut = adjustments::CutShort(psdw::EffectsBlock({stroke}));
  const Decoded d = Decode(Adjusted(3, {cut}, 0, true));
  EXPECT_EQ(d.pixels, Decode(Adjusted(3, {Bytes{}}, 0, true)).pixels);
  EXPECT_EQ(enginetest::CountPrefix(d.log, "Layer effects of layer #1 "), 1);
}

}  // namespace
