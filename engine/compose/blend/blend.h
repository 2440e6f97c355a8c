// Blend modes: the keys of the layer records and the blending of one row of
// straight-alpha pixels (blue, green, red, alpha) onto another.
#pragma once

#include <stdint.h>

namespace engine {

enum BlendMode : uint8_t {
  kBlendNormal,
  kBlendDissolve,
  kBlendDarken,
  kBlendMultiply,
  kBlendColorBurn,
  kBlendLinearBurn,
  kBlendDarkerColor,
  kBlendLighten,
  kBlendScreen,
  kBlendColorDodge,
  kBlendLinearDodge,
  kBlendLighterColor,
  kBlendOverlay,
  kBlendSoftLight,
  kBlendHardLight,
  kBlendVividLight,
  kBlendLinearLight,
  kBlendPinLight,
  kBlendHardMix,
  kBlendDifference,
  kBlendExclusion,
  kBlendSubtract,
  kBlendDivide,
  kBlendHue,
  kBlendSaturation,
  kBlendColor,
  kBlendLuminosity,
  kBlendPassThrough,  // groups only: the members blend into what is below
};

// The mode of a 4-byte key ("norm", "mul ", ...); unknown keys are normal.
BlendMode BlendModeFromKey(const uint8_t* key);

// Blends `n` pixels of `src` onto `dst`, both blue, green, red, alpha with
// straight alpha; the source alpha already holds every factor (opacity,
// masks). With `keep_alpha` the destination keeps its alpha: a clipped
// layer painted onto its base. `x` and `y` are the document position of the
// first pixel, for dissolve's fixed pattern.
//
// Result alpha ar = as + ab - as ab; result colour, a weighted mean:
//   ((1 - as) ab Cb + as (1 - ab) Cs + as ab B(Cb, Cs)) / ar.
void BlendRow(BlendMode mode, const uint8_t* src, uint8_t* dst, uint32_t n,
              bool keep_alpha, int32_t x, int32_t y);

// The same through the scalar loops alone, which the vector loops must
// match byte for byte (the tests hold one against the other).
void BlendRowScalar(BlendMode mode, const uint8_t* src, uint8_t* dst,
                    uint32_t n, bool keep_alpha, int32_t x, int32_t y);

}  // namespace engine
