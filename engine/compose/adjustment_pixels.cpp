// The adjustments that act on whole pixels, and the application of every
// adjustment to a row of the canvas. Record layouts (big-endian):
//   hue2 / "hue ": version (2), colorize (1), pad (1), colorize hue,
//         saturation, lightness (2 each, signed), master hue, saturation,
//         lightness, then six ranges of four hue stops and three values.
//   thrs: level (2).
#include "engine/base/numbers.h"
#include "engine/compose/adjustment_read.h"

namespace engine {
namespace {

int32_t Clamp(int32_t v, int32_t lo, int32_t hi) {
  return v < lo ? lo : v > hi ? hi : v;
}

bool ReadHue(Reader* r, HueSaturation* h) {
  if (r->U16() != 2) return false;
  h->colorize = r->U8() != 0;
  r->U8();
  h->colorize_hue = r->S16();
  h->colorize_saturation = Clamp(r->S16(), 0, 100);
  h->colorize_lightness = Clamp(r->S16(), -100, 100);
  h->hue = Clamp(r->S16(), -180, 180);
  h->saturation = Clamp(r->S16(), -100, 100);
  h->lightness = Clamp(r->S16(), -100, 100);
  for (HueRange& range : h->ranges) {
    range.falloff_begin = Clamp(r->S16(), 0, 359);
    range.begin = Clamp(r->S16(), 0, 359);
    range.end = Clamp(r->S16(), 0, 359);
    range.falloff_end = Clamp(r->S16(), 0, 359);
    range.hue = Clamp(r->S16(), -180, 180);
    range.saturation = Clamp(r->S16(), -100, 100);
    range.lightness = Clamp(r->S16(), -100, 100);
  }
  if (h->colorize_hue < 0) h->colorize_hue += 360;
  h->colorize_hue = Clamp(h->colorize_hue, 0, 359);
  return r->ok;
}

// Degrees from `from` forward to `to` (0..359).
int32_t Forward(int32_t from, int32_t to) {
  return ((to - from) % 360 + 360) % 360;
}

// How much of a range's values a hue (0..360) takes: 1 within begin..end,
// fading to 0 across the fall-offs.
double RangeWeight(const HueRange& range, double hue) {
  const double into = Forward(range.falloff_begin, 0) + hue;
  double at = into - 360.0 * static_cast<int32_t>(into / 360.0);
  const double rise = Forward(range.falloff_begin, range.begin);
  const double full = rise + Forward(range.begin, range.end);
  const double fall = full + Forward(range.end, range.falloff_end);
  if (at < rise) return rise > 0 ? at / rise : 1.0;
  if (at <= full) return 1.0;
  if (at < fall) return (fall - at) / (fall - full);
  return 0;
}

// Hue (0..360), and the lightest and darkest of the three.
double HueOf(double r, double g, double b, double hi, double lo) {
  const double d = hi - lo;
  if (d <= 0) return 0;
  double h;
  if (hi == r) {
    h = (g - b) / d;
  } else if (hi == g) {
    h = 2.0 + (b - r) / d;
  } else {
    h = 4.0 + (r - g) / d;
  }
  h *= 60.0;
  return h < 0 ? h + 360.0 : h;
}

// The colour of hue, saturation and lightness (each 0..1 but hue in
// degrees), in 0..255.
void FromHsl(double h, double s, double l, double* rgb) {
  const double q = l < 0.5 ? l * (1 + s) : l + s - l * s;
  const double p = 2 * l - q;
  for (int k = 0; k < 3; ++k) {
    double t = h / 360.0 + (1 - k) / 3.0;
    if (t < 0) t += 1;
    if (t > 1) t -= 1;
    double c;
    if (t < 1.0 / 6) {
      c = p + (q - p) * 6 * t;
    } else if (t < 0.5) {
      c = q;
    } else if (t < 2.0 / 3) {
      c = p + (q - p) * (2.0 / 3 - t) * 6;
    } else {
      c = p;
    }
    rgb[k] = c * 255.0;
  }
}

// Lightness -100..100: towards white or black.
double Lighten(double c, double lightness) {
  return lightness >= 0 ? c + (255.0 - c) * lightness / 100.0
                        : c * (1.0 + lightness / 100.0);
}

uint8_t ToByte(double v) {
  if (!(v > 0)) return 0;
  return v >= 255 ? 255 : static_cast<uint8_t>(v + 0.5);
}

double Limit100(double v) { return v < -100 ? -100 : v > 100 ? 100 : v; }

// A range's lightness moves the colour's own part: towards its lightest
// channel (gray at the top) or its darkest.
void RangeLightness(double* rgb, double l) {
  const double hi = rgb[0] > rgb[1] ? (rgb[0] > rgb[2] ? rgb[0] : rgb[2])
                                    : (rgb[1] > rgb[2] ? rgb[1] : rgb[2]);
  const double lo = rgb[0] < rgb[1] ? (rgb[0] < rgb[2] ? rgb[0] : rgb[2])
                                    : (rgb[1] < rgb[2] ? rgb[1] : rgb[2]);
  for (int k = 0; k < 3; ++k) {
    rgb[k] = l >= 0 ? hi - (hi - rgb[k]) * (1 - l / 100.0)
                    : lo + (rgb[k] - lo) * (1 + l / 100.0);
  }
}

// The values of the ranges a hue (0..360) lies in, added to the master's.
void RangeValues(const HueSaturation& h, double hue, double* dh, double* ds,
                 double* dl) {
  for (const HueRange& range : h.ranges) {
    const double w = RangeWeight(range, hue);
    *dh += w * range.hue;
    *ds += w * range.saturation;
    *dl += w * range.lightness;
  }
}

void HuePixel(const HueSaturation& h, uint8_t* bgr) {
  double rgb[3] = {static_cast<double>(bgr[2]), static_cast<double>(bgr[1]),
                   static_cast<double>(bgr[0])};
  const double hi = rgb[0] > rgb[1] ? (rgb[0] > rgb[2] ? rgb[0] : rgb[2])
                                    : (rgb[1] > rgb[2] ? rgb[1] : rgb[2]);
  const double lo = rgb[0] < rgb[1] ? (rgb[0] < rgb[2] ? rgb[0] : rgb[2])
                                    : (rgb[1] < rgb[2] ? rgb[1] : rgb[2]);
  double out[3];
  if (h.colorize) {
    double l = (hi + lo) / 510.0;
    l = Lighten(l * 255.0, h.colorize_lightness) / 255.0;
    FromHsl(h.colorize_hue, h.colorize_saturation / 100.0, l, out);
  } else {
    const double hue = HueOf(rgb[0], rgb[1], rgb[2], hi, lo);
    double dh = h.hue, ds = 0, dl = 0;
    if (hi > lo) RangeValues(h, hue, &dh, &ds, &dl);
    ds = Limit100(ds + h.saturation);
    // The hue turns keeping the lightest and darkest channels.
    const double l = (hi + lo) / 510.0;
    const double d = (hi - lo) / 255.0;
    const double s = d == 0 ? 0 : l < 0.5 ? d / (2 * l) : d / (2 - 2 * l);
    double turned = hue + dh;
    turned -= 360.0 * static_cast<int32_t>(turned / 360.0);
    if (turned < 0) turned += 360.0;
    FromHsl(turned, s > 1 ? 1 : s, l, out);
    // Saturation stretches the colour about the middle of its lightest and
    // darkest channels, at most until the darkest reaches black; values
    // past white are kept until the end.
    if (hi > lo) {
      const double mid = (hi + lo) / 2;
      const double most = (hi + lo) / (hi - lo);
      double k = ds >= 0 ? (ds >= 100 ? most : 100.0 / (100.0 - ds))
                         : 1.0 + ds / 100.0;
      if (ds >= 0 && k > most) k = most;
      for (double& c : out) c = mid + (c - mid) * k;
    }
    RangeLightness(out, Limit100(dl));
    for (double& c : out) c = Lighten(c, h.lightness);
  }
  bgr[0] = ToByte(out[2]);
  bgr[1] = ToByte(out[1]);
  bgr[2] = ToByte(out[0]);
}

// Luminosity of a pixel (blue, green, red), 0..255.
uint32_t Luminosity(const uint8_t* bgr) {
  return (30 * bgr[2] + 59 * bgr[1] + 11 * bgr[0] + 50) / 100;
}

void ApplyTables(const Adjustment& a, CanvasChannels channels, uint8_t* px,
                 uint32_t n) {
  static const uint8_t kSlots[4][3] = {
      {2, 1, 0}, {0, 0, 0}, {2, 1, 0}, {3, 3, 3}};
  const uint8_t* slot = kSlots[channels];
  const uint8_t* t0 = a.table[slot[0]];
  const uint8_t* t1 = a.table[slot[1]];
  const uint8_t* t2 = a.table[slot[2]];
  for (uint32_t i = 0; i < n; ++i, px += 4) {
    px[0] = t0[px[0]];
    px[1] = t1[px[1]];
    px[2] = t2[px[2]];
  }
}

}  // namespace

bool ReadPixelAdjustment(const char* key, Reader* r, Adjustment* a) {
  if (KeyMatches(key, "hue2") || KeyMatches(key, "hue ")) {
    a->kind = kAdjustHue;
    return ReadHue(r, &a->hue);
  }
  if (KeyMatches(key, "thrs")) {
    a->kind = kAdjustThreshold;
    const uint32_t level = r->U16();
    a->threshold = static_cast<uint8_t>(level < 1     ? 1
                                        : level > 255 ? 255
                                                      : level);
    return r->ok;
  }
  return false;
}

void AdjustPixels(const Adjustment& a, CanvasChannels channels, uint8_t* pixels,
                  uint32_t n) {
  // Black in the second pass of a CMYK document is left to the per-sample
  // kinds; a whole-pixel formula works on the three colours.
  const bool whole = channels != kCanvasBlack;
  uint8_t* px = pixels;
  switch (a.kind) {
    case kAdjustHue:
      for (uint32_t i = 0; whole && i < n; ++i, px += 4) HuePixel(a.hue, px);
      break;
    case kAdjustThreshold:
      for (uint32_t i = 0; i < n; ++i, px += 4) {
        const uint8_t v = Luminosity(px) >= a.threshold ? 255 : 0;
        px[0] = px[1] = px[2] = v;
      }
      break;
    default:
      if (whole) ColourPixels(a, pixels, n);
      break;
  }
  if (channels == kCanvasGray && a.kind != kAdjustTables) {
    px = pixels;
    for (uint32_t i = 0; i < n; ++i, px += 4) {
      px[0] = px[1] = px[2] = static_cast<uint8_t>(Luminosity(px));
    }
  }
  ApplyTables(a, channels, pixels, n);
}

}  // namespace engine
