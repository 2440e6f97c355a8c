// Writes the project's demo document: an RGB landscape of 320 x 200 pixels
// at 72 dpi with four layers (sky, a soft-edged sun with transparency, an
// empty layer, and hills cut by a layer mask), raw and PackBits channels,
// and the merged picture composited from them.
//
//   make_sample OUT.psd
#include <math.h>
#include <stdio.h>

#include <algorithm>

#include "psd_writer.h"

namespace {

constexpr int kWidth = 320;
constexpr int kHeight = 200;

struct Rgba {
  double r, g, b, a;  // 0..255, a 0..1
};

uint32_t Byte(double v) {
  return static_cast<uint32_t>(std::clamp(lround(v), 0L, 255L));
}

Rgba Sky(int x, int y) {
  double t = y / double(kHeight - 1);
  double u = x / double(kWidth - 1);
  return {40 + 150 * t + 20 * u, 90 + 120 * t, 200 + 40 * t, 1.0};
}

// Sun: a disc centred at (240, 60) of radius 34 with a soft 6-pixel rim.
constexpr int kSunLeft = 200, kSunTop = 20, kSunRight = 280, kSunBottom = 100;
Rgba Sun(int x, int y) {
  double d = hypot(x - 240.0, y - 60.0);
  double a = std::clamp((40.0 - d) / 6.0, 0.0, 1.0);
  return {255, 210 - d, 60 + d, a};
}

// Hills: two sine waves over the lower part, masked by a vertical band.
constexpr int kHillTop = 110;
constexpr int kMaskLeft = 20, kMaskRight = 300;
Rgba Hill(int x, int y) {
  double crest = 140 + 18 * sin(x / 23.0) + 9 * sin(x / 7.0 + 1.0);
  double a = y >= crest ? 1.0 : std::clamp(1.0 - (crest - y) / 2.0, 0.0, 1.0);
  double shade = (y - kHillTop) / double(kHeight - kHillTop);
  return {50 + 40 * shade, 140 - 60 * shade + 10 * sin(x / 5.0),
          60 + 20 * shade, a};
}
double HillMask(int x, int /*y*/) {
  if (x < kMaskLeft || x >= kMaskRight) return 0.0;
  return std::clamp(std::min(x - kMaskLeft, kMaskRight - 1 - x) / 30.0, 0.0,
                    1.0);
}

Rgba Over(const Rgba& top, const Rgba& under) {
  double a = top.a;
  return {top.r * a + under.r * (1 - a), top.g * a + under.g * (1 - a),
          top.b * a + under.b * (1 - a), 1.0};
}

psdw::Layer MakeLayer(const char* name, int top, int left, int bottom,
                      int right, Rgba (*paint)(int, int),
                      uint16_t compression) {
  psdw::Layer layer =
      psdw::MakeLayer(top, left, bottom, right, {-1, 0, 1, 2}, compression,
                      [&](int16_t id, uint32_t x, uint32_t y) -> uint32_t {
                        const Rgba p = paint(left + static_cast<int>(x),
                                             top + static_cast<int>(y));
                        const double value[4] = {p.a * 255, p.r, p.g, p.b};
                        return Byte(value[id + 1]);
                      });
  layer.name = name;
  return layer;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    fprintf(stderr, "usage: make_sample OUT.psd\n");
    return 2;
  }
  psdw::PsdSpec spec;
  spec.mode = 3;
  spec.depth = 8;
  spec.width = kWidth;
  spec.height = kHeight;
  spec.compression = psdw::kPackBits;
  spec.resources.push_back(psdw::ResolutionResource(72, 72));

  spec.layers.push_back(
      MakeLayer("Sky", 0, 0, kHeight, kWidth, Sky, psdw::kPackBits));
  spec.layers.push_back(MakeLayer("Sun", kSunTop, kSunLeft, kSunBottom,
                                  kSunRight, Sun, psdw::kRaw));
  psdw::Layer empty = MakeLayer("Empty", 0, 0, 0, 0, Sky, psdw::kRaw);
  spec.layers.push_back(empty);
  psdw::Layer hills =
      MakeLayer("Hills", kHillTop, 0, kHeight, kWidth, Hill, psdw::kPackBits);
  hills.has_mask = true;
  hills.mask_top = kHillTop;
  hills.mask_left = kMaskLeft;
  hills.mask_bottom = kHeight;
  hills.mask_right = kMaskRight;
  psdw::LayerChannel mask;
  mask.id = -2;
  mask.compression = psdw::kPackBits;
  mask.width = kMaskRight - kMaskLeft;
  mask.height = kHeight - kHillTop;
  for (int y = kHillTop; y < kHeight; ++y) {
    for (int x = kMaskLeft; x < kMaskRight; ++x) {
      mask.samples.push_back(Byte(HillMask(x, y) * 255));
    }
  }
  hills.channels.push_back(mask);
  spec.layers.push_back(hills);

  // The merged picture: the layers composited bottom to top.
  spec.planes.assign(3, psdw::Samples());
  for (int y = 0; y < kHeight; ++y) {
    for (int x = 0; x < kWidth; ++x) {
      Rgba p = Sky(x, y);
      if (x >= kSunLeft && x < kSunRight && y >= kSunTop && y < kSunBottom) {
        p = Over(Sun(x, y), p);
      }
      if (y >= kHillTop) {
        Rgba h = Hill(x, y);
        h.a *= HillMask(x, y);
        p = Over(h, p);
      }
      spec.planes[0].push_back(Byte(p.r));
      spec.planes[1].push_back(Byte(p.g));
      spec.planes[2].push_back(Byte(p.b));
    }
  }

  if (!psdw::WriteFile(argv[1], psdw::WritePsd(spec))) {
    fprintf(stderr, "make_sample: cannot write %s\n", argv[1]);
    return 1;
  }
  return 0;
}
