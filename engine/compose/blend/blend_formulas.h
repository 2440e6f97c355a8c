// The mix B(Cb, Cs) of each blend mode at 8 bits: `b` is the backdrop, `s`
// the source, 0..255 each. Pixels are blue, green, red.
#pragma once

#include <stdint.h>

#include "engine/base/numbers.h"

namespace engine {

namespace blendmix {

// Rounded quotient of non-negative numbers, limited to 255.
inline uint32_t Quotient255(uint32_t num, uint32_t den) {
  const uint32_t q = (num + den / 2) / den;
  return q > 255 ? 255 : q;
}

// sqrt(v / 255) x 255 rounded, for soft light.
struct SqrtTable {
  uint8_t v[256];
  constexpr SqrtTable() : v() {
    for (uint32_t i = 0; i < 256; ++i) {
      uint32_t r = 0;  // floor(sqrt(4 x 255 i)), then halved with rounding
      while ((r + 1) * (r + 1) <= 4 * 255 * i) ++r;
      v[i] = static_cast<uint8_t>((r + 1) / 2);
    }
  }
};
inline constexpr SqrtTable kSqrt;

inline int32_t Lum(const int32_t* c) {
  return (11 * c[0] + 59 * c[1] + 30 * c[2] + 50) / 100;
}

}  // namespace blendmix

inline uint32_t MixNormal(uint32_t, uint32_t s) { return s; }
inline uint32_t MixDarken(uint32_t b, uint32_t s) { return b < s ? b : s; }
inline uint32_t MixLighten(uint32_t b, uint32_t s) { return b > s ? b : s; }
inline uint32_t MixMultiply(uint32_t b, uint32_t s) { return MulDiv255(b, s); }
inline uint32_t MixScreen(uint32_t b, uint32_t s) {
  return b + s - MulDiv255(b, s);
}
inline uint32_t MixHardLight(uint32_t b, uint32_t s) {
  if (s < 128) return Div255(2 * b * s);
  return 255 - Div255(2 * (255 - b) * (255 - s));
}
inline uint32_t MixOverlay(uint32_t b, uint32_t s) {
  return MixHardLight(s, b);
}
inline uint32_t MixColorDodge(uint32_t b, uint32_t s) {
  if (b == 0) return 0;
  if (s == 255) return 255;
  return blendmix::Quotient255(b * 255, 255 - s);
}
inline uint32_t MixColorBurn(uint32_t b, uint32_t s) {
  if (b == 255) return 255;
  if (s == 0) return 0;
  return 255 - blendmix::Quotient255((255 - b) * 255, s);
}
inline uint32_t MixLinearDodge(uint32_t b, uint32_t s) {
  return b + s > 255 ? 255 : b + s;
}
inline uint32_t MixLinearBurn(uint32_t b, uint32_t s) {
  return b + s < 255 ? 0 : b + s - 255;
}
// Cs <= 1/2: Cb - (1 - 2 Cs) Cb (1 - Cb); else Cb + (2 Cs - 1)(sqrt(Cb) - Cb).
inline uint32_t MixSoftLight(uint32_t b, uint32_t s) {
  if (s < 128) {
    const uint32_t down = (255 - 2 * s) * b * (255 - b);
    return b - (down + 32512) / 65025;
  }
  const uint32_t root = blendmix::kSqrt.v[b];
  return b + Div255((2 * s - 255) * (root - b));
}
// Colour burn with 2 Cs below one half, colour dodge with 2 Cs - 1 above;
// a source of 0 gives 0 and one of 255 gives 255 whatever the backdrop.
inline uint32_t MixVividLight(uint32_t b, uint32_t s) {
  if (s < 128) {
    if (s == 0) return 0;
    return 255 - blendmix::Quotient255((255 - b) * 255, 2 * s);
  }
  if (s == 255) return 255;
  return blendmix::Quotient255(b * 255, 2 * (255 - s));
}
inline uint32_t MixLinearLight(uint32_t b, uint32_t s) {
  const int32_t v = static_cast<int32_t>(b + 2 * s) - 255;
  return v < 0 ? 0 : v > 255 ? 255 : static_cast<uint32_t>(v);
}
inline uint32_t MixPinLight(uint32_t b, uint32_t s) {
  if (s < 128) return b < 2 * s ? b : 2 * s;
  return b > 2 * s - 255 ? b : 2 * s - 255;
}
// 255 where Cb + Cs exceeds 1, or the backdrop is 255 already.
inline uint32_t MixHardMix(uint32_t b, uint32_t s) {
  return b + s > 255 || b == 255 ? 255 : 0;
}
inline uint32_t MixDifference(uint32_t b, uint32_t s) {
  return b > s ? b - s : s - b;
}
inline uint32_t MixExclusion(uint32_t b, uint32_t s) {
  return b + s - Div255(2 * b * s);
}
inline uint32_t MixSubtract(uint32_t b, uint32_t s) {
  return b > s ? b - s : 0;
}
inline uint32_t MixDivide(uint32_t b, uint32_t s) {
  if (s == 0) return b == 0 ? 0 : 255;
  return blendmix::Quotient255(b * 255, s);
}

// Non-separable modes --------------------------------------------------------
// Colours are held in 1/16 steps of a byte (0..kOne) while they are mixed,
// which keeps every product within 32 bits.

namespace blendmix {

const int32_t kOne = 255 * 16;

inline void ClipColour(int32_t* c) {
  const int32_t l = Lum(c);
  int32_t lo = c[0], hi = c[0];
  for (int k = 1; k < 3; ++k) {
    if (c[k] < lo) lo = c[k];
    if (c[k] > hi) hi = c[k];
  }
  if (lo < 0 && l > lo) {
    for (int k = 0; k < 3; ++k) c[k] = l + (c[k] - l) * l / (l - lo);
  }
  if (hi > kOne && hi > l) {
    for (int k = 0; k < 3; ++k) c[k] = l + (c[k] - l) * (kOne - l) / (hi - l);
  }
  for (int k = 0; k < 3; ++k) c[k] = c[k] < 0 ? 0 : c[k] > kOne ? kOne : c[k];
}

inline void SetLum(int32_t* c, int32_t l) {
  const int32_t d = l - Lum(c);
  for (int k = 0; k < 3; ++k) c[k] += d;
  ClipColour(c);
}

inline int32_t Sat(const int32_t* c) {
  int32_t lo = c[0], hi = c[0];
  for (int k = 1; k < 3; ++k) {
    if (c[k] < lo) lo = c[k];
    if (c[k] > hi) hi = c[k];
  }
  return hi - lo;
}

inline void SetSat(int32_t* c, int32_t s) {
  int hi = 0, lo = 0;
  for (int k = 1; k < 3; ++k) {
    if (c[k] > c[hi]) hi = k;
    if (c[k] < c[lo]) lo = k;
  }
  if (hi == lo) {
    c[0] = c[1] = c[2] = 0;
    return;
  }
  const int mid = 3 - hi - lo;
  const int32_t range = c[hi] - c[lo];
  c[mid] = ((c[mid] - c[lo]) * s + range / 2) / range;
  c[hi] = s;
  c[lo] = 0;
}

inline void Load(const uint8_t* p, int32_t* c) {
  c[0] = p[0] << 4;
  c[1] = p[1] << 4;
  c[2] = p[2] << 4;
}

inline void Store(const int32_t* c, uint32_t* out) {
  for (int k = 0; k < 3; ++k) out[k] = static_cast<uint32_t>(c[k] + 8) >> 4;
}

}  // namespace blendmix

namespace blendmix {

// Each non-separable mode works on colours in 1/16 steps and returns the
// mix (one of its arguments, changed or not).
inline const int32_t* Hue(int32_t* cb, int32_t* cs) {
  SetSat(cs, Sat(cb));
  SetLum(cs, Lum(cb));
  return cs;
}
inline const int32_t* Saturation(int32_t* cb, int32_t* cs) {
  const int32_t l = Lum(cb);
  SetSat(cb, Sat(cs));
  SetLum(cb, l);
  return cb;
}
inline const int32_t* Colour(int32_t* cb, int32_t* cs) {
  SetLum(cs, Lum(cb));
  return cs;
}
inline const int32_t* Luminosity(int32_t* cb, int32_t* cs) {
  SetLum(cb, Lum(cs));
  return cb;
}
inline const int32_t* DarkerColour(int32_t* cb, int32_t* cs) {
  return Lum(cs) < Lum(cb) ? cs : cb;
}
inline const int32_t* LighterColour(int32_t* cb, int32_t* cs) {
  return Lum(cs) > Lum(cb) ? cs : cb;
}

}  // namespace blendmix

// The mix of a non-separable mode for blue, green, red bytes.
template <const int32_t* (*F)(int32_t*, int32_t*)>
inline void MixWhole(const uint8_t* b, const uint8_t* s, uint32_t* out) {
  int32_t cb[3], cs[3];
  blendmix::Load(b, cb);
  blendmix::Load(s, cs);
  blendmix::Store(F(cb, cs), out);
}

// Dissolve's fixed pattern: a threshold 0..254 for each document position.
inline uint32_t DissolveThreshold(int32_t x, int32_t y) {
  uint32_t h = static_cast<uint32_t>(x) * 0x9E3779B1u ^
               static_cast<uint32_t>(y) * 0x85EBCA77u;
  h ^= h >> 15;
  h *= 0x2C1B3C6Du;
  h ^= h >> 12;
  return (h >> 8) % 255;
}

}  // namespace engine
