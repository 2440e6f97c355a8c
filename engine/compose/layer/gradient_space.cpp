// The colour spaces a gradient's stops blend in. The application's
// methods ("gs99" of an effect, "gradientsInterpolationMethod" of a fill):
// classic ("Gcls", and every gradient saved before the choice existed)
// blends the document's own samples; linear ("Lnr ") blends linear light;
// perceptual ("Perc") and smooth ("Smoo") blend Oklab's lightness and
// opponent axes.
#include "engine/base/bytes.h"
#include "engine/base/real_math.h"
#include "engine/channels/rows.h"
#include "engine/compose/layer/fill_colour.h"

namespace engine {
namespace {

double SrgbToLight(double v) {
  return v <= 0.04045 ? v / 12.92 : RealPow((v + 0.055) / 1.055, 2.4);
}

double CubeRoot(double v) {
  if (v == 0) return 0;
  return v < 0 ? -RealPow(-v, 1.0 / 3.0) : RealPow(v, 1.0 / 3.0);
}

uint8_t RoundedByte(double v) {
  return v <= 0 ? 0 : v >= 255 ? 255 : static_cast<uint8_t>(v + 0.5);
}

// Red, green, blue of linear light to Oklab's L, a, b.
void LightToOklab(const double* rgb, double* lab) {
  const double l = CubeRoot(0.4122214708 * rgb[0] + 0.5363325363 * rgb[1] +
                            0.0514459929 * rgb[2]);
  const double m = CubeRoot(0.2119034982 * rgb[0] + 0.6806995451 * rgb[1] +
                            0.1073969566 * rgb[2]);
  const double s = CubeRoot(0.0883024619 * rgb[0] + 0.2817188376 * rgb[1] +
                            0.6299787005 * rgb[2]);
  lab[0] = 0.2104542553 * l + 0.7936177850 * m - 0.0040720468 * s;
  lab[1] = 1.9779984951 * l - 2.4285922050 * m + 0.4505937099 * s;
  lab[2] = 0.0259040371 * l + 0.7827717662 * m - 0.8086757660 * s;
}

void OklabToLight(const double* lab, double* rgb) {
  double l = lab[0] + 0.3963377774 * lab[1] + 0.2158037573 * lab[2];
  double m = lab[0] - 0.1055613458 * lab[1] - 0.0638541728 * lab[2];
  double s = lab[0] - 0.0894841775 * lab[1] - 1.2914855480 * lab[2];
  l = l * l * l;
  m = m * m * m;
  s = s * s * s;
  rgb[0] = 4.0767416621 * l - 3.3077115913 * m + 0.2309699292 * s;
  rgb[1] = -1.2684380046 * l + 2.6097574011 * m - 0.3413193965 * s;
  rgb[2] = -0.0041960863 * l - 0.7034186147 * m + 1.7076147010 * s;
}

}  // namespace

GradientSpace GradientSpaceFromKey(const char* key) {
  if (memcmp(key, "Lnr ", 4) == 0) return kGradientLight;
  if (memcmp(key, "Perc", 4) == 0 || memcmp(key, "Smoo", 4) == 0) {
    return kGradientOklab;
  }
  return kGradientSamples;
}

void ToGradientSpace(const uint8_t* bgr, bool light, GradientSpace space,
                     double* out) {
  double rgb[3];
  for (int k = 0; k < 3; ++k) {
    const double v = bgr[2 - k];
    if (space == kGradientSamples) {
      out[k] = v;
      continue;
    }
    rgb[k] = light ? v / 255.0 : SrgbToLight(v / 255.0);
  }
  if (space == kGradientLight) {
    for (int k = 0; k < 3; ++k) out[k] = rgb[k];
  } else if (space == kGradientOklab) {
    LightToOklab(rgb, out);
  }
}

void FromGradientSpace(const double* v, bool light, GradientSpace space,
                       uint8_t* bgr) {
  if (space == kGradientSamples) {
    for (int k = 0; k < 3; ++k) {
      bgr[2 - k] = light ? LinearToSrgbByte(static_cast<float>(v[k] / 255.0))
                         : RoundedByte(v[k]);
    }
    return;
  }
  double rgb[3] = {v[0], v[1], v[2]};
  if (space == kGradientOklab) OklabToLight(v, rgb);
  for (int k = 0; k < 3; ++k) {
    const double c = rgb[k] < 0 ? 0 : rgb[k] > 1 ? 1 : rgb[k];
    bgr[2 - k] = LinearToSrgbByte(static_cast<float>(c));
  }
}

}  // namespace engine
