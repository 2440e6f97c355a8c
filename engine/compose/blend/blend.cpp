// The blend modes at 8 bits per channel, in integers. Separable modes mix
// each channel on its own; the others (darker and lighter colour, hue,
// saturation, colour, luminosity) work on the whole pixel with the
// luminosity 0.3 red + 0.59 green + 0.11 blue.
#include "engine/compose/blend/blend.h"

#include <string.h>

#include "engine/base/numbers.h"
#include "engine/compose/blend/blend_formulas.h"
#include "engine/compose/blend/blend_vector.h"

namespace engine {
namespace {

// Writes the blended colour of one pixel: `b` backdrop, `s` source, `out`
// the mix B(Cb, Cs) of each of the three colour channels.
template <uint32_t (*F)(uint32_t, uint32_t)>
struct Separable {
  static void Mix(const uint8_t* b, const uint8_t* s, uint32_t* out) {
    out[0] = F(b[0], s[0]);
    out[1] = F(b[1], s[1]);
    out[2] = F(b[2], s[2]);
  }
};

template <void (*F)(const uint8_t*, const uint8_t*, uint32_t*)>
struct Whole {
  static void Mix(const uint8_t* b, const uint8_t* s, uint32_t* out) {
    F(b, s, out);
  }
};

// One pixel of source alpha `as` (not 0) onto the destination pixel `d`.
template <class M>
inline void BlendPixel(const uint8_t* s, uint32_t as, uint8_t* d,
                       bool keep_alpha) {
  const uint32_t ab = d[3];
  if (ab == 0) {
    if (keep_alpha) return;
    d[0] = s[0];
    d[1] = s[1];
    d[2] = s[2];
    d[3] = static_cast<uint8_t>(as);
    return;
  }
  uint32_t mixed[3];
  M::Mix(d, s, mixed);
  if (ab == 255) {
    const uint32_t keep = 255 - as;
    for (int c = 0; c < 3; ++c) {
      d[c] = static_cast<uint8_t>(Div255(keep * d[c] + as * mixed[c]));
    }
    return;
  }
  // Weights of backdrop, source and mix, in units of 1/65025; the sums are
  // divided by their total through one reciprocal (a double: exact enough,
  // and the same in every build).
  const uint32_t wb = (255 - as) * ab;
  const uint32_t ws = as * (255 - ab);
  const uint32_t wm = as * ab;
  const uint32_t total = wb + ws + wm;
  const double inverse = 1.0 / total;
  for (int c = 0; c < 3; ++c) {
    const uint32_t sum = wb * d[c] + ws * s[c] + wm * mixed[c];
    d[c] = static_cast<uint8_t>(static_cast<int32_t>(sum * inverse + 0.5));
  }
  if (!keep_alpha) d[3] = static_cast<uint8_t>(Div255(total));
}

// Every mode's loop has this one signature: `n` pixels of `src` onto
// `dst`, the document position (x, y) of the first for dissolve's pattern.
using Loop = void (*)(const uint8_t* src, uint8_t* dst, uint32_t n,
                      bool keep_alpha, int32_t x, int32_t y);

template <class M>
void BlendLoop(const uint8_t* src, uint8_t* dst, uint32_t n, bool keep_alpha,
               int32_t, int32_t) {
  for (uint32_t i = 0; i < n; ++i, src += 4, dst += 4) {
    const uint32_t as = src[3];
    if (as == 0) continue;
    BlendPixel<M>(src, as, dst, keep_alpha);
  }
}

// Normal blending: the mix is the source itself.
void NormalLoop(const uint8_t* src, uint8_t* dst, uint32_t n, bool keep_alpha,
                int32_t, int32_t) {
  for (uint32_t i = 0; i < n; ++i, src += 4, dst += 4) {
    const uint32_t as = src[3];
    if (as == 0) continue;
    if (as == 255 && (dst[3] == 255 || !keep_alpha)) {
      dst[0] = src[0];
      dst[1] = src[1];
      dst[2] = src[2];
      if (!keep_alpha) dst[3] = 255;
      continue;
    }
    BlendPixel<Separable<MixNormal>>(src, as, dst, keep_alpha);
  }
}

#if defined(__SSE2__)
// A scalar loop with the vector form V of its mix: four pixels at a time
// where the backdrop is opaque, the scalar loop elsewhere.
template <class V, Loop kScalar>
void VectorLoop(const uint8_t* src, uint8_t* dst, uint32_t n, bool keep_alpha,
                int32_t x, int32_t y) {
  uint32_t i = 0;
  for (; n - i >= 4; i += 4) {
    if (!blendvec::BlendOpaqueFour<V>(src + 4 * i, dst + 4 * i)) {
      kScalar(src + 4 * i, dst + 4 * i, 4, keep_alpha,
              x + static_cast<int32_t>(i), y);
    }
  }
  kScalar(src + 4 * i, dst + 4 * i, n - i, keep_alpha,
          x + static_cast<int32_t>(i), y);
}
template <class V, uint32_t (*F)(uint32_t, uint32_t)>
constexpr Loop kVector = VectorLoop<V, BlendLoop<Separable<F>>>;
#else
template <class V, uint32_t (*F)(uint32_t, uint32_t)>
constexpr Loop kVector = BlendLoop<Separable<F>>;
#endif

// Dissolve: each pixel is painted whole or not at all, as a fixed pattern
// of thresholds compared with the source alpha decides.
void DissolveLoop(const uint8_t* src, uint8_t* dst, uint32_t n, bool keep_alpha,
                  int32_t x, int32_t y) {
  uint8_t pixel[4];
  for (uint32_t i = 0; i < n; ++i, src += 4, dst += 4) {
    const uint32_t as = src[3];
    if (as == 0 || DissolveThreshold(x + static_cast<int32_t>(i), y) >= as) {
      continue;
    }
    memcpy(pixel, src, 3);
    pixel[3] = 255;
    NormalLoop(pixel, dst, 1, keep_alpha, 0, 0);
  }
}

// The modes by their keys in the layer records, each with its loop and the
// scalar loop the tests hold it against (the same loop for most modes).
struct ModeEntry {
  char key[5];
  BlendMode mode;
  Loop loop;
  Loop scalar;
};

template <uint32_t (*F)(uint32_t, uint32_t)>
constexpr Loop kSeparable = BlendLoop<Separable<F>>;
template <const int32_t* (*F)(int32_t*, int32_t*)>
constexpr Loop kWhole = BlendLoop<Whole<MixWhole<F>>>;

template <class V, uint32_t (*F)(uint32_t, uint32_t)>
constexpr ModeEntry Vector(const char (&key)[5], BlendMode mode) {
  return ModeEntry{
      {key[0], key[1], key[2], key[3], 0}, mode, kVector<V, F>, kSeparable<F>};
}
constexpr ModeEntry Scalar(const char (&key)[5], BlendMode mode, Loop loop) {
  return ModeEntry{{key[0], key[1], key[2], key[3], 0}, mode, loop, loop};
}

#if defined(__SSE2__)
constexpr Loop kNormalLoop = VectorLoop<blendvec::Normal, NormalLoop>;
#else
constexpr Loop kNormalLoop = NormalLoop;
#endif

constexpr ModeEntry kModes[] = {
    {"norm", kBlendNormal, kNormalLoop, NormalLoop},
    Scalar("diss", kBlendDissolve, DissolveLoop),
    Vector<blendvec::Darken, MixDarken>("dark", kBlendDarken),
    Vector<blendvec::Multiply, MixMultiply>("mul ", kBlendMultiply),
    Scalar("idiv", kBlendColorBurn, kSeparable<MixColorBurn>),
    Vector<blendvec::LinearBurn, MixLinearBurn>("lbrn", kBlendLinearBurn),
    Scalar("dkCl", kBlendDarkerColor, kWhole<blendmix::DarkerColour>),
    Vector<blendvec::Lighten, MixLighten>("lite", kBlendLighten),
    Vector<blendvec::Screen, MixScreen>("scrn", kBlendScreen),
    Scalar("div ", kBlendColorDodge, kSeparable<MixColorDodge>),
    Vector<blendvec::LinearDodge, MixLinearDodge>("lddg", kBlendLinearDodge),
    Scalar("lgCl", kBlendLighterColor, kWhole<blendmix::LighterColour>),
    Vector<blendvec::Overlay, MixOverlay>("over", kBlendOverlay),
    Scalar("sLit", kBlendSoftLight, kSeparable<MixSoftLight>),
    Vector<blendvec::HardLight, MixHardLight>("hLit", kBlendHardLight),
    Scalar("vLit", kBlendVividLight, kSeparable<MixVividLight>),
    Scalar("lLit", kBlendLinearLight, kSeparable<MixLinearLight>),
    Scalar("pLit", kBlendPinLight, kSeparable<MixPinLight>),
    Scalar("hMix", kBlendHardMix, kSeparable<MixHardMix>),
    Vector<blendvec::Difference, MixDifference>("diff", kBlendDifference),
    Scalar("smud", kBlendExclusion, kSeparable<MixExclusion>),
    Vector<blendvec::Subtract, MixSubtract>("fsub", kBlendSubtract),
    Scalar("fdiv", kBlendDivide, kSeparable<MixDivide>),
    Scalar("hue ", kBlendHue, kWhole<blendmix::Hue>),
    Scalar("sat ", kBlendSaturation, kWhole<blendmix::Saturation>),
    Scalar("colr", kBlendColor, kWhole<blendmix::Colour>),
    Scalar("lum ", kBlendLuminosity, kWhole<blendmix::Luminosity>),
    // A group that blends through, painted as a whole, is normal.
    {"pass", kBlendPassThrough, kNormalLoop, NormalLoop},
};
const uint32_t kModeCount = kBlendPassThrough + 1;

// Every mode has exactly one entry (the blend tests hold each mode's loop
// against its formula).
constexpr bool EveryModeOnce() {
  uint32_t seen[kModeCount] = {};
  for (const ModeEntry& e : kModes) {
    if (e.mode >= kModeCount) return false;
    ++seen[e.mode];
  }
  for (uint32_t m = 0; m < kModeCount; ++m) {
    if (seen[m] != 1) return false;
  }
  return true;
}
static_assert(EveryModeOnce(), "one entry for every mode");

// The loops by mode, built from the keyed table.
struct LoopsByMode {
  Loop loops[kModeCount];
  Loop scalar[kModeCount];
  constexpr LoopsByMode() : loops(), scalar() {
    for (const ModeEntry& e : kModes) {
      loops[e.mode] = e.loop;
      scalar[e.mode] = e.scalar;
    }
  }
};
constexpr LoopsByMode kLoops;

}  // namespace

BlendMode BlendModeFromKey(const uint8_t* key) {
  for (const ModeEntry& e : kModes) {
    if (memcmp(key, e.key, 4) == 0) return e.mode;
  }
  return kBlendNormal;
}

void BlendRow(BlendMode mode, const uint8_t* src, uint8_t* dst, uint32_t n,
              bool keep_alpha, int32_t x, int32_t y) {
  kLoops.loops[mode < kModeCount ? mode : kBlendNormal](src, dst, n, keep_alpha,
                                                        x, y);
}

void BlendRowScalar(BlendMode mode, const uint8_t* src, uint8_t* dst,
                    uint32_t n, bool keep_alpha, int32_t x, int32_t y) {
  kLoops.scalar[mode < kModeCount ? mode : kBlendNormal](src, dst, n,
                                                         keep_alpha, x, y);
}

}  // namespace engine
