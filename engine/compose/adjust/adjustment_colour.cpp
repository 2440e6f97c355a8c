// The colour adjustments that act on whole pixels (colour balance, black &
// white, photo filter, channel mixer, gradient map, selective colour and
// vibrance) on a row of pixels; adjustment_colour_read.cpp reads them.
#include "engine/base/numbers.h"
#include "engine/compose/adjust/adjustment_read.h"
#include "engine/compose/blend/blend_formulas.h"

namespace engine {
namespace {

uint8_t ToByte(double v) {
  if (!(v > 0)) return 0;
  return v >= 255 ? 255 : static_cast<uint8_t>(v + 0.5);
}

// The colour of `px` with its luminosity set back to `lum` (in 1/16ths).
void KeepLuminosity(uint8_t* px, int32_t lum) {
  int32_t c[3] = {px[0] * 16, px[1] * 16, px[2] * 16};
  blendmix::SetLum(c, lum);
  for (int k = 0; k < 3; ++k) px[k] = static_cast<uint8_t>((c[k] + 8) / 16);
}

int32_t Lum16(const uint8_t* px) {
  const int32_t c[3] = {px[0] * 16, px[1] * 16, px[2] * 16};
  return blendmix::Lum(c);
}

// Black & white: the darkest channel counts fully, the part the two
// lightest share counts by the weight of their mix (yellow, cyan or
// magenta), the part of the lightest alone by its own colour's weight.
void GrayPixel(const Adjustment& a, uint8_t* px) {
  const int32_t r = px[2], g = px[1], b = px[0];
  // Weights: reds 0, yellows 1, greens 2, cyans 3, blues 4, magentas 5.
  int32_t hi, mid, lo, primary, secondary;
  if (r >= g && r >= b) {
    hi = r, primary = 0;
    g >= b ? (mid = g, lo = b, secondary = 1)
           : (mid = b, lo = g, secondary = 5);
  } else if (g >= b) {
    hi = g, primary = 2;
    r >= b ? (mid = r, lo = b, secondary = 1)
           : (mid = b, lo = r, secondary = 3);
  } else {
    hi = b, primary = 4;
    r >= g ? (mid = r, lo = g, secondary = 5)
           : (mid = g, lo = r, secondary = 3);
  }
  const double gray = lo + (mid - lo) * a.gray_weight[secondary] / 100.0 +
                      (hi - mid) * a.gray_weight[primary] / 100.0;
  const uint8_t v = ToByte(gray);
  px[0] = px[1] = px[2] = v;
  if (a.tint) {  // the tint's colour at the gray's luminosity
    memcpy(px, a.colour, 3);
    KeepLuminosity(px, v * 16);
  }
}

// Photo filter: the colour multiplied by the filter's, mixed in by the
// density, the luminosity kept when asked.
void FilterPixel(const Adjustment& a, uint8_t* px) {
  const int32_t lum = Lum16(px);
  for (int c = 0; c < 3; ++c) {
    const uint32_t filtered = MulDiv255(px[c], a.colour[c]);
    px[c] = static_cast<uint8_t>(
        (px[c] * (100 - a.density) + filtered * a.density + 50) / 100);
  }
  if (a.keep_luminosity) KeepLuminosity(px, lum);
}

void MixerPixel(const Adjustment& a, uint8_t* px) {
  const double rgb[3] = {static_cast<double>(px[2]), static_cast<double>(px[1]),
                         static_cast<double>(px[0])};
  uint8_t out[3];
  for (int c = 0; c < 3; ++c) {
    const int32_t* row = a.mixer[a.monochrome ? 0 : c];
    out[c] =
        ToByte((row[0] * rgb[0] + row[1] * rgb[1] + row[2] * rgb[2]) / 100.0 +
               row[3] * 255.0 / 100.0);
  }
  px[0] = out[2];
  px[1] = out[1];
  px[2] = out[0];
}

// Selective colour: how much of each colour range a pixel holds, and the
// ink changes of the ranges by those amounts.
void SelectivePixel(const Adjustment& a, uint8_t* px) {
  const double r = px[2] / 255.0, g = px[1] / 255.0, b = px[0] / 255.0;
  const double hi = r > g ? (r > b ? r : b) : (g > b ? g : b);
  const double lo = r < g ? (r < b ? r : b) : (g < b ? g : b);
  const double mid = r + g + b - hi - lo;
  double amount[9] = {};
  // Reds, greens, blues: the lightest channel's lead; yellows, cyans,
  // magentas: what the two lightest share.
  const int primary = hi == r ? 0 : hi == g ? 2 : 4;
  amount[primary] = hi - mid;
  const bool rg = lo == b, gb = lo == r;
  amount[rg ? 1 : gb ? 3 : 5] = mid - lo;
  amount[6] = lo > 0.5 ? (lo - 0.5) * 2 : 0;
  amount[8] = hi < 0.5 ? (0.5 - hi) * 2 : 0;
  amount[7] =
      1 - ((hi > 0.5 ? hi - 0.5 : 0.5 - hi) + (lo > 0.5 ? lo - 0.5 : 0.5 - lo));
  double channel[3] = {r, g, b};
  for (int c = 0; c < 3; ++c) {
    const double ink = 1 - channel[c];
    double change = 0;
    for (int range = 0; range < 9; ++range) {
      if (amount[range] == 0) continue;
      const double v = (a.selective[range][c] + a.selective[range][3]) / 100.0;
      change += amount[range] * v * (a.absolute ? 1 : ink);
    }
    channel[c] = 1 - (ink + change);
  }
  px[2] = ToByte(channel[0] * 255);
  px[1] = ToByte(channel[1] * 255);
  px[0] = ToByte(channel[2] * 255);
}

// Vibrance raises the saturation of the less saturated colours most;
// saturation stretches every colour alike.
void VibrancePixel(const Adjustment& a, uint8_t* px) {
  const int32_t hi = px[0] > px[1] ? (px[0] > px[2] ? px[0] : px[2])
                                   : (px[1] > px[2] ? px[1] : px[2]);
  const int32_t lo = px[0] < px[1] ? (px[0] < px[2] ? px[0] : px[2])
                                   : (px[1] < px[2] ? px[1] : px[2]);
  if (hi == lo) return;
  const double s = static_cast<double>(hi - lo) / hi;
  double amount = (a.saturation + a.vibrance * (1 - s)) / 100.0;
  if (amount < -1) amount = -1;
  if (amount > 1) amount = 1;
  const double k = amount >= 0 ? 1 + amount * 2 : 1 + amount;
  const double middle = (hi + lo) / 2.0;
  for (int c = 0; c < 3; ++c) px[c] = ToByte(middle + (px[c] - middle) * k);
}

}  // namespace

void ColourPixels(const Adjustment& a, uint8_t* px, uint32_t n) {
  for (uint32_t i = 0; i < n; ++i, px += 4) {
    switch (a.kind) {
      case kAdjustGray:
        GrayPixel(a, px);
        break;
      case kAdjustFilter:
        FilterPixel(a, px);
        break;
      case kAdjustMixer:
        MixerPixel(a, px);
        break;
      case kAdjustGradient: {
        const uint8_t* c =
            a.gradient[(30 * px[2] + 59 * px[1] + 11 * px[0] + 50) / 100];
        memcpy(px, c, 3);
        break;
      }
      case kAdjustSelective:
        SelectivePixel(a, px);
        break;
      case kAdjustVibrance:
        VibrancePixel(a, px);
        break;
      default:
        return;
    }
  }
}

}  // namespace engine
