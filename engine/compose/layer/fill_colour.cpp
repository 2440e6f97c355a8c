#include "engine/compose/layer/fill_colour.h"

#include "engine/channels/rows.h"

namespace engine {
namespace {

const double kPi = 3.14159265358979323846;

double ClampMagnitude(double v, double limit) {
  return v > limit ? limit : v < -limit ? -limit : v;
}

uint8_t ClampByte(int64_t v) {
  return v < 0 ? 0 : v > 255 ? 255 : static_cast<uint8_t>(v);
}

// A 16.16 value (within +-2^41) times `scale` / `divisor`, rounded to a
// byte.
uint8_t ScaledByte(int64_t fixed, int64_t scale, int64_t divisor) {
  const int64_t v = fixed * scale / divisor;
  return ClampByte((v + 32768) >> 16);
}

bool Fixed(const Descriptor& d, const char* key, int64_t* v) {
  *v = 0;
  return ItemFixed(d, key, v);
}

bool ReadRgb(const Descriptor& c, uint8_t* bgr) {
  int64_t r, g, b;
  if (Fixed(c, "Rd  ", &r) && Fixed(c, "Grn ", &g) && Fixed(c, "Bl  ", &b)) {
    bgr[0] = ScaledByte(b, 1, 1);
    bgr[1] = ScaledByte(g, 1, 1);
    bgr[2] = ScaledByte(r, 1, 1);
    return true;
  }
  if (Fixed(c, "redFloat", &r) && Fixed(c, "greenFloat", &g) &&
      Fixed(c, "blueFloat", &b)) {
    bgr[0] = ScaledByte(b, 255, 1);
    bgr[1] = ScaledByte(g, 255, 1);
    bgr[2] = ScaledByte(r, 255, 1);
    return true;
  }
  return false;
}

// Percent of ink (0..100) as a stored sample (255 is no ink).
uint8_t InkSample(int64_t percent) {
  return ScaledByte((100 << 16) - percent, 255, 100);
}

bool ReadCmyk(const Descriptor& c, uint8_t* bgr) {
  int64_t cy, m, y, k;
  if (!Fixed(c, "Cyn ", &cy) || !Fixed(c, "Mgnt", &m) ||
      !Fixed(c, "Ylw ", &y) || !Fixed(c, "Blck", &k)) {
    return false;
  }
  CmykToBgr(InkSample(cy), InkSample(m), InkSample(y), InkSample(k), bgr);
  return true;
}

bool ReadLab(const Descriptor& c, uint8_t* bgr) {
  int64_t l, a, b;
  if (!Fixed(c, "Lmnc", &l) || !Fixed(c, "A   ", &a) || !Fixed(c, "B   ", &b)) {
    return false;
  }
  LabToBgr(ScaledByte(l, 255, 100), ClampByte(((a + 32768) >> 16) + 128),
           ClampByte(((b + 32768) >> 16) + 128), bgr);
  return true;
}

bool ReadHsb(const Descriptor& c, uint8_t* bgr) {
  int64_t h, s, v;
  if (!Fixed(c, "H   ", &h) || !Fixed(c, "Strt", &s) || !Fixed(c, "Brgh", &v)) {
    return false;
  }
  const double hue = ClampMagnitude(static_cast<double>(h) / 65536.0, 1e6);
  const double sat = static_cast<double>(s) / 6553600.0;
  const double val = static_cast<double>(v) / 6553600.0;
  double sector = hue / 60.0;
  sector -= 6.0 * static_cast<double>(static_cast<int32_t>(sector / 6.0));
  if (sector < 0) sector += 6.0;
  const int32_t i = static_cast<int32_t>(sector);
  const double f = sector - i;
  const double p = val * (1 - sat), q = val * (1 - sat * f),
               t = val * (1 - sat * (1 - f));
  const double rgb[6][3] = {{val, t, p}, {q, val, p}, {p, val, t},
                            {p, q, val}, {t, p, val}, {val, p, q}};
  const double* out = rgb[i < 6 && i >= 0 ? i : 0];
  for (int k = 0; k < 3; ++k) {
    bgr[2 - k] = ClampByte(static_cast<int32_t>(out[k] * 255.0 + 0.5));
  }
  return true;
}

bool ReadGray(const Descriptor& c, uint8_t* bgr) {
  int64_t g;
  if (!Fixed(c, "Gry ", &g)) return false;
  bgr[0] = bgr[1] = bgr[2] = InkSample(g);
  return true;
}

}  // namespace

bool ReadFillColour(const Descriptor& d, const char* key, const Document* doc,
                    uint8_t* bgr) {
  Descriptor c;
  if (!ItemDescriptor(d, key, &c)) return false;
  const bool read = ReadRgb(c, bgr) || ReadGray(c, bgr) || ReadCmyk(c, bgr) ||
                    ReadLab(c, bgr) || ReadHsb(c, bgr);
  if (!read) return false;
  if (doc->depth == 32) {
    for (int k = 0; k < 3; ++k) bgr[k] = LinearToSrgbByte(bgr[k] / 255.0f);
  }
  if (doc->color_mode == kModeGrayscale) {
    const uint32_t lum = (11 * bgr[0] + 59 * bgr[1] + 30 * bgr[2] + 50) / 100;
    bgr[0] = bgr[1] = bgr[2] = static_cast<uint8_t>(lum);
  }
  return true;
}

double SineDegrees(double degrees) {
  // Reduce to [-180, 180], then to [-90, 90] by sin(180 - a) = sin(a).
  degrees = ClampMagnitude(degrees, 1e6);
  degrees -= 360.0 * static_cast<double>(static_cast<int32_t>(degrees / 360.0));
  if (degrees > 180.0) degrees -= 360.0;
  if (degrees < -180.0) degrees += 360.0;
  if (degrees > 90.0) degrees = 180.0 - degrees;
  if (degrees < -90.0) degrees = -180.0 - degrees;
  const double x = degrees * kPi / 180.0, x2 = x * x;
  // Taylor series to x^15: below 1e-9 on [-pi/2, pi/2].
  double term = x, sum = x;
  for (int n = 1; n <= 7; ++n) {
    term = -term * x2 / ((2 * n) * (2 * n + 1));
    sum += term;
  }
  return sum;
}

double CosineDegrees(double degrees) { return SineDegrees(degrees + 90.0); }

double ArcTangentDegrees(double y, double x) {
  const double ax = x < 0 ? -x : x, ay = y < 0 ? -y : y;
  if (ax == 0 && ay == 0) return 0;
  const bool steep = ay > ax;
  const double r = steep ? ax / ay : ay / ax, r2 = r * r;
  // Odd polynomial for atan on [0, 1], error about 1e-5 radians.
  double a =
      r *
      (0.99997726 +
       r2 * (-0.33262347 +
             r2 * (0.19354346 +
                   r2 * (-0.11643287 + r2 * (0.05265332 + r2 * -0.01172120)))));
  if (steep) a = kPi / 2 - a;
  if (x < 0) a = kPi - a;
  if (y < 0) a = -a;
  return a * 180.0 / kPi;
}

double SquareRoot(double v) {
  if (!(v > 0)) return 0;
  // Newton's iteration from a power of two near the root.
  double r = 1.0;
  while (r * r < v) r *= 2.0;
  while (r * r > 4.0 * v) r *= 0.5;
  for (int i = 0; i < 60; ++i) {
    const double next = 0.5 * (r + v / r);
    if (next >= r) break;
    r = next;
  }
  return r;
}

}  // namespace engine
