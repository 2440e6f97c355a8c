// Hue/saturation. Record layout (big-endian) of "hue2" and "hue ": version
// (2), colorize (1), pad (1), colorize hue, saturation, lightness (2 each,
// signed), master hue, saturation, lightness, then six ranges of four hue
// stops (fall-off start, start, end, fall-off end) and their hue,
// saturation and lightness.
//
// A pixel's hue turns keeping its lightest and darkest channels; its
// saturation stretches it about the middle of those two, at most until the
// darkest reaches black or the lightest white; a range's lightness pulls
// the colour towards its lightest channel (or its darkest). The master
// lightness, towards white (or black), comes before them. The ranges'
// values at each whole degree are worked out once: the ranges' stops are
// whole degrees, so between two degrees the values are linear.
#include "engine/compose/adjust/adjustment_read.h"

namespace engine {
namespace {

// One of the six ranges, in degrees (0..359), and its values.
struct HueRange {
  int32_t falloff_begin, begin, end, falloff_end;
  int32_t hue, saturation, lightness;
};

int32_t Clamp(int32_t v, int32_t lo, int32_t hi) {
  return v < lo ? lo : v > hi ? hi : v;
}

// Degrees from `from` forward to `to` (0..359).
int32_t Forward(int32_t from, int32_t to) {
  return ((to - from) % 360 + 360) % 360;
}

// How much of a range's values the hue `degree` (0..360) takes: 1 within
// start..end, fading to 0 across the fall-offs.
double RangeWeight(const HueRange& range, int32_t degree) {
  const int32_t at = Forward(range.falloff_begin, degree % 360);
  const int32_t rise = Forward(range.falloff_begin, range.begin);
  const int32_t full = rise + Forward(range.begin, range.end);
  const int32_t fall = full + Forward(range.end, range.falloff_end);
  if (at < rise) return static_cast<double>(at) / rise;
  if (at <= full) return 1.0;
  if (at < fall) return static_cast<double>(fall - at) / (fall - full);
  return 0;
}

double Lighten(double c, double lightness) {
  return lightness >= 0 ? c + (255.0 - c) * lightness / 100.0
                        : c * (1.0 + lightness / 100.0);
}

uint8_t ToByte(float v) {
  if (!(v > 0)) return 0;
  return v >= 255 ? 255 : static_cast<uint8_t>(v + 0.5f);
}

float Limit100(float v) { return v < -100 ? -100 : v > 100 ? 100 : v; }

// The factor a saturation setting (-100..100) stretches the colour by (1
// unchanged): towards gray, or away from it, 100 times at 100 (the
// stretch stops where the darkest channel reaches black).
double Stretch(int32_t saturation) {
  if (saturation >= 99) return 100.0;
  return saturation >= 0 ? 100.0 / (100.0 - saturation)
                         : 1.0 + saturation / 100.0;
}

// The colour of a hue (degrees) whose lightest channel is `hi` and darkest
// `lo`, as red, green, blue.
inline void ColourOfHue(float hue, float hi, float lo, float* rgb) {
  const float sixth = hue * (1.0f / 60.0f);
  int32_t sector = static_cast<int32_t>(sixth);
  if (sector > 5) sector = 5;
  const float part = (hi - lo) * (sixth - static_cast<float>(sector));
  switch (sector) {
    case 0:
      rgb[0] = hi, rgb[1] = lo + part, rgb[2] = lo;
      break;
    case 1:
      rgb[0] = hi - part, rgb[1] = hi, rgb[2] = lo;
      break;
    case 2:
      rgb[0] = lo, rgb[1] = hi, rgb[2] = lo + part;
      break;
    case 3:
      rgb[0] = lo, rgb[1] = hi - part, rgb[2] = hi;
      break;
    case 4:
      rgb[0] = lo + part, rgb[1] = lo, rgb[2] = hi;
      break;
    default:
      rgb[0] = hi, rgb[1] = lo, rgb[2] = hi - part;
      break;
  }
}

// 1 / d for the differences of two bytes, 1..255 (0 for 0).
struct Reciprocals {
  float of[256];
  constexpr Reciprocals() : of() {
    for (int d = 1; d < 256; ++d) of[d] = 1.0f / static_cast<float>(d);
  }
};
inline constexpr Reciprocals kReciprocal;

// The colour of hue, saturation and lightness (hue in degrees, the others
// 0..1), in 0..255.
void FromHsl(double h, double s, double l, uint8_t* bgr) {
  const double q = l < 0.5 ? l * (1 + s) : l + s - l * s;
  const double p = 2 * l - q;
  float rgb[3];
  ColourOfHue(static_cast<float>(h), static_cast<float>(q * 255.0),
              static_cast<float>(p * 255.0), rgb);
  for (int k = 0; k < 3; ++k) bgr[2 - k] = ToByte(rgb[k]);
}

// Which channel (red 0, green 1, blue 2) is lightest, darkest and between
// in each sixth of the hue circle, and whether the one between rises.
const uint8_t kLightest[6] = {0, 1, 1, 2, 2, 0};
const uint8_t kDarkest[6] = {2, 2, 0, 0, 1, 1};
const uint8_t kBetween[6] = {1, 0, 2, 1, 0, 2};
const float kFalls[6] = {0, 1, 0, 1, 0, 1};

inline float Clamp255(float v) {
  v = v < 0 ? 0 : v;
  return v > 255 ? 255 : v;
}

// Written without branches on the colour (whose order is unpredictable in
// a photograph): the choices are selections.
inline void HuePixel(const HueSaturation& h, uint8_t* bgr) {
  const uint32_t top = bgr[0] > bgr[1] ? (bgr[0] > bgr[2] ? bgr[0] : bgr[2])
                                       : (bgr[1] > bgr[2] ? bgr[1] : bgr[2]);
  const uint32_t bottom = bgr[0] < bgr[1] ? (bgr[0] < bgr[2] ? bgr[0] : bgr[2])
                                          : (bgr[1] < bgr[2] ? bgr[1] : bgr[2]);
  if (h.colorize) {
    memcpy(bgr, h.colorized[top + bottom], 3);
    return;
  }
  const float r = bgr[2], g = bgr[1], b = bgr[0];
  // The master lightness comes first: towards white (or black) it keeps
  // the hue and the order of the channels, and the saturation's limit
  // is that of the lightened colour.
  const float l = static_cast<float>(h.lightness) * 0.01f;
  const float add = l > 0 ? 255.0f * l : 0.0f;
  const float keep_light = l > 0 ? 1.0f - l : 1.0f + l;
  float out[3] = {r * keep_light + add, g * keep_light + add,
                  b * keep_light + add};
  if (top > bottom && keep_light > 0) {
    const float hi = static_cast<float>(top) * keep_light + add;
    const float lo = static_cast<float>(bottom) * keep_light + add;
    const float inverse = kReciprocal.of[top - bottom];
    const float by_red = (g - b) * inverse, by_green = 2.0f + (b - r) * inverse,
                by_blue = 4.0f + (r - g) * inverse;
    float hue = 60.0f * (top == bgr[2]   ? by_red
                         : top == bgr[1] ? by_green
                                         : by_blue);
    hue += hue < 0 ? 360.0f : 0.0f;
    int32_t degree = static_cast<int32_t>(hue);
    degree = degree > 359 ? 359 : degree;
    const float f = hue - static_cast<float>(degree);
    const float* v0 = h.by_degree[degree];
    const float* v1 = h.by_degree[degree + 1];
    const float v[3] = {v0[0] + f * (v1[0] - v0[0]),
                        v0[1] + f * (v1[1] - v0[1]),
                        v0[2] + f * (v1[2] - v0[2])};
    // The hue turned, within [0, 360).
    float turned = hue + static_cast<float>(h.hue) + v[0] + 720.0f;
    turned -=
        360.0f * static_cast<float>(static_cast<int32_t>(turned / 360.0f));
    const float sixth = turned * (1.0f / 60.0f);
    int32_t sector = static_cast<int32_t>(sixth);
    sector = sector > 5 ? 5 : sector;
    const float part = (hi - lo) * (sixth - static_cast<float>(sector));
    out[kLightest[sector]] = hi;
    out[kDarkest[sector]] = lo;
    out[kBetween[sector]] = lo + part + kFalls[sector] * (hi - lo - 2 * part);
    // Saturation, at most until the colour is fully saturated: the
    // darkest channel at black or, for a light colour, the lightest at
    // white.
    const float mid = (hi + lo) * 0.5f;
    const float most =
        (hi + lo <= 255.0f ? hi + lo : 510.0f - hi - lo) * inverse / keep_light;
    float k = h.stretch * v[1];
    k = k < 0 ? 0 : k > most && k > 1 ? (most > 1 ? most : 1) : k;
    for (float& c : out) c = mid + (c - mid) * k;
    // A range's lightness, towards the stretched lightest or darkest.
    const float dl = Limit100(v[2]) * 0.01f;
    const float towards = dl >= 0 ? mid + (hi - mid) * k : mid + (lo - mid) * k;
    const float keep = dl >= 0 ? 1.0f - dl : 1.0f + dl;
    for (float& c : out) c = towards + (c - towards) * keep;
  }
  bgr[0] = static_cast<uint8_t>(Clamp255(out[2]) + 0.5f);
  bgr[1] = static_cast<uint8_t>(Clamp255(out[1]) + 0.5f);
  bgr[2] = static_cast<uint8_t>(Clamp255(out[0]) + 0.5f);
}

}  // namespace

bool ReadHueSaturation(Reader* r, HueSaturation* h) {
  if (r->U16() != 2) return false;
  h->colorize = r->U8() != 0;
  r->U8();
  int32_t colorize_hue = r->S16();
  const int32_t colorize_saturation = Clamp(r->S16(), 0, 100);
  const int32_t colorize_lightness = Clamp(r->S16(), -100, 100);
  h->hue = Clamp(r->S16(), -180, 180);
  h->stretch = static_cast<float>(Stretch(Clamp(r->S16(), -100, 100)));
  h->lightness = Clamp(r->S16(), -100, 100);
  HueRange ranges[6];
  for (HueRange& range : ranges) {
    range.falloff_begin = Clamp(r->S16(), 0, 359);
    range.begin = Clamp(r->S16(), 0, 359);
    range.end = Clamp(r->S16(), 0, 359);
    range.falloff_end = Clamp(r->S16(), 0, 359);
    range.hue = Clamp(r->S16(), -180, 180);
    range.saturation = Clamp(r->S16(), -100, 100);
    range.lightness = Clamp(r->S16(), -100, 100);
  }
  if (!r->ok) return false;
  for (int32_t degree = 0; degree <= 360; ++degree) {
    double v[3] = {0, 0, 0};
    for (const HueRange& range : ranges) {
      const double w = RangeWeight(range, degree);
      v[0] += w * range.hue;
      // The ranges' stretches add up, each by how much of the range the
      // hue takes; the master's multiplies them.
      v[1] += w * (Stretch(range.saturation) - 1.0);
      v[2] += w * range.lightness;
    }
    v[1] += 1.0;
    for (int k = 0; k < 3; ++k)
      h->by_degree[degree][k] = static_cast<float>(v[k]);
  }
  // Colorize: one hue and saturation, the lightness of the pixel's lightest
  // and darkest channels (their sum picks the colour).
  colorize_hue = ((colorize_hue % 360) + 360) % 360;
  for (int32_t sum = 0; sum <= 510; ++sum) {
    const double l = Lighten(sum / 2.0, colorize_lightness) / 255.0;
    FromHsl(colorize_hue, colorize_saturation / 100.0, l, h->colorized[sum]);
  }
  return true;
}

void HuePixels(const HueSaturation& h, uint8_t* pixels, uint32_t n) {
  for (uint32_t i = 0; i < n; ++i, pixels += 4) HuePixel(h, pixels);
}

}  // namespace engine
