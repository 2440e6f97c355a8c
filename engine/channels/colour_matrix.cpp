// RGB profiles of a matrix and curves: whether a profile is sRGB itself,
// and the fixed-point tables that convert from it as the library's own
// 8-bit transform does (with each input curve at every 16-bit value for a
// 16-bit document).
#include "engine/channels/colour_build.h"

namespace engine {
namespace {

// Out of range and not-a-number alike give a value the callers refuse.
int32_t Fixed14(double value) {
  const double scaled = value * 16384.0 + 0.5;
  if (!(scaled <= 1e9)) return 1000000000;
  if (scaled < -1e9) return -1000000000;
  const int32_t truncated = static_cast<int32_t>(scaled);
  return truncated > scaled ? truncated - 1 : truncated;
}

bool ReadColorants(cmsHPROFILE profile, cmsMAT3* m) {
  const cmsTagSignature tags[3] = {cmsSigRedColorantTag, cmsSigGreenColorantTag,
                                   cmsSigBlueColorantTag};
  for (int c = 0; c < 3; ++c) {
    const cmsCIEXYZ* xyz =
        static_cast<const cmsCIEXYZ*>(cmsReadTag(profile, tags[c]));
    if (xyz == nullptr) return false;
    m->v[0].n[c] = xyz->X;
    m->v[1].n[c] = xyz->Y;
    m->v[2].n[c] = xyz->Z;
  }
  return true;
}

cmsToneCurve* ReadCurve(cmsHPROFILE profile, int c) {
  const cmsTagSignature tags[3] = {cmsSigRedTRCTag, cmsSigGreenTRCTag,
                                   cmsSigBlueTRCTag};
  cmsToneCurve* curve =
      static_cast<cmsToneCurve*>(cmsReadTag(profile, tags[c]));
  return curve;
}

// 16-bit input of channel c: the curve at every 256th value (1.14) times
// the matrix's column c, with the rise to the next node (the last at
// 65536); false when a value falls outside 0..2 or a rise outside 16 bits.
bool WideCurve(cmsToneCurve* curve, const int32_t (*matrix)[3], int c,
               WideNode* nodes) {
  int32_t next = 0;
  for (uint32_t i = 0; i <= 256; ++i) {
    const int32_t y = Fixed14(
        cmsEvalToneCurveFloat(curve, static_cast<float>(256.0 * i / 65535.0)));
    if (y < 0 || y > 32768) return false;
    const int32_t at = next;
    next = y;
    if (i == 0) continue;
    WideNode* node = &nodes[i - 1];
    for (int k = 0; k < 4; ++k) {
      const int32_t m = k < 3 ? matrix[k][c] : 0;
      const int32_t rise = (m * (next - at) + 128) >> 8;
      if (rise < -32768 || rise > 32767) return false;
      node->base[k] = m * at;
      node->rise[k] = static_cast<int16_t>(rise);
    }
  }
  return true;
}

}  // namespace

bool MatrixShaperOnly(cmsHPROFILE doc) {
  return cmsIsMatrixShaper(doc) && !cmsIsTag(doc, cmsSigDToB0Tag) &&
         !cmsIsTag(doc, cmsSigDToB1Tag) && !cmsIsTag(doc, cmsSigAToB0Tag) &&
         !cmsIsTag(doc, cmsSigAToB1Tag);
}

bool SameAsSrgb(cmsHPROFILE doc, cmsHPROFILE srgb) {
  if (!MatrixShaperOnly(doc)) return false;
  cmsMAT3 a, b;
  if (!ReadColorants(doc, &a) || !ReadColorants(srgb, &b)) return false;
  for (int i = 0; i < 3; ++i) {
    for (int j = 0; j < 3; ++j) {
      const double d = a.v[i].n[j] - b.v[i].n[j];
      if (!(d <= 0.002 && d >= -0.002)) return false;
    }
  }
  for (int c = 0; c < 3; ++c) {
    cmsToneCurve* mine = ReadCurve(doc, c);
    cmsToneCurve* theirs = ReadCurve(srgb, c);
    if (mine == nullptr || theirs == nullptr) return false;
    for (uint32_t v = 0; v < 256; ++v) {
      const float x = static_cast<float>(v / 255.0);
      const float d =
          cmsEvalToneCurveFloat(mine, x) - cmsEvalToneCurveFloat(theirs, x);
      if (!(d <= 0.5f / 255 && d >= -0.5f / 255)) return false;
    }
  }
  return true;
}

// Matrix and curves, as the library itself evaluates an 8-bit transform
// between two such profiles; null when the profile's numbers would not fit
// the fixed-point arithmetic (the cube serves it then).
ColourTables* MatrixTables(cmsContext context, cmsHPROFILE doc,
                           cmsHPROFILE srgb, bool wide) {
  cmsMAT3 in, out, out_inverse, product;
  if (!ReadColorants(doc, &in) || !ReadColorants(srgb, &out) ||
      !_cmsMAT3inverse(&out, &out_inverse)) {
    return nullptr;
  }
  _cmsMAT3per(&product, &out_inverse, &in);
  ColourTables* t =
      TakeTables(context, kColourRgbMatrix, wide ? kWideCurveBytes : 0);
  if (t == nullptr) return nullptr;
  if (wide) {
    t->wide = true;
    t->wide_in = reinterpret_cast<WideNode*>(t + 1);
  }
  bool fits = true;
  for (int r = 0; r < 3; ++r) {
    int64_t row = 0;
    for (int c = 0; c < 3; ++c) {
      t->matrix[r][c] = Fixed14(product.v[r].n[c]);
      row += t->matrix[r][c] < 0 ? -int64_t{t->matrix[r][c]} : t->matrix[r][c];
    }
    fits = fits && row < 60000;
  }
  for (int c = 0; c < 3 && fits; ++c) {
    cmsToneCurve* curve = ReadCurve(doc, c);
    cmsToneCurve* srgb_curve = ReadCurve(srgb, c);
    cmsToneCurve* reverse =
        srgb_curve != nullptr ? cmsReverseToneCurve(srgb_curve) : nullptr;
    fits = curve != nullptr && reverse != nullptr &&
           cmsEvalToneCurveFloat(curve, 0.0f) == 0.0f;
    for (uint32_t v = 0; v < 256 && fits; ++v) {
      const float y =
          cmsEvalToneCurveFloat(curve, static_cast<float>(v / 255.0));
      t->shaper_in[c][v] = Fixed14(y);
      fits = t->shaper_in[c][v] >= 0 && t->shaper_in[c][v] <= 32768;
    }
    if (wide && fits) {
      fits = WideCurve(curve, t->matrix, c, t->wide_in + 256 * c);
    }
    for (uint32_t i = 0; i <= 16384 && fits; ++i) {
      float y = cmsEvalToneCurveFloat(reverse, static_cast<float>(i / 16384.0));
      y = y < 0 ? 0 : y > 1 ? 1 : y;
      const uint16_t word = static_cast<uint16_t>(y * 65535.0 + 0.5);
      t->shaper_out[c][i] =
          static_cast<uint8_t>((word * 65281u + 8388608u) >> 24);
    }
    if (reverse != nullptr) cmsFreeToneCurve(reverse);
  }
  if (!fits) {
    _cmsFree(context, t);
    return nullptr;
  }
  return t;
}

}  // namespace engine
