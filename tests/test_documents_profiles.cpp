// Documents with embedded colour profiles, the profiles made with the colour
// library: an RGB matrix-and-curves profile of wide primaries, one whose
// curves do not start at black (its conversion takes the cube), a gray one,
// a CMYK one with a table, sRGB itself, bytes that are no profile and a
// profile of the wrong colour space. Each with layers, and composited.
#include <lcms2.h>

#include "test_documents.h"

namespace testdocs {
namespace {

Bytes Saved(cmsHPROFILE profile) {
  cmsUInt32Number size = 0;
  Bytes bytes;
  if (profile != nullptr && cmsSaveProfileToMem(profile, nullptr, &size)) {
    bytes.resize(size);
    if (!cmsSaveProfileToMem(profile, bytes.data(), &size)) bytes.clear();
  }
  if (profile != nullptr) cmsCloseProfile(profile);
  return bytes;
}

// Wide primaries (those of Adobe RGB), the curves given.
Bytes RgbProfile(cmsToneCurve* curve) {
  cmsCIExyY white;
  cmsWhitePointFromTemp(&white, 6504);
  const cmsCIExyYTRIPLE primaries = {
      {0.64, 0.33, 1}, {0.21, 0.71, 1}, {0.15, 0.06, 1}};
  cmsToneCurve* curves[3] = {curve, curve, curve};
  Bytes bytes = Saved(cmsCreateRGBProfile(&white, &primaries, curves));
  cmsFreeToneCurve(curve);
  return bytes;
}

Bytes GrayProfile() {
  cmsToneCurve* curve = cmsBuildGamma(nullptr, 1.8);
  Bytes bytes = Saved(cmsCreateGrayProfile(cmsD50_xyY(), curve));
  cmsFreeToneCurve(curve);
  return bytes;
}

// CMYK ink to L*a*b*: each ink darkens and tints, black darkens all.
cmsInt32Number InkToLab(const cmsUInt16Number in[], cmsUInt16Number out[],
                        void*) {
  const double c = in[0] / 65535.0, m = in[1] / 65535.0, y = in[2] / 65535.0,
               k = in[3] / 65535.0;
  cmsCIELab lab;
  lab.L = 96 * (1 - k) * (1 - 0.35 * c - 0.45 * m - 0.1 * y);
  if (lab.L < 0) lab.L = 0;
  lab.a = (1 - k) * (70 * m - 35 * c - 5 * y);
  lab.b = (1 - k) * (80 * y - 45 * c - 15 * m);
  cmsFloat2LabEncoded(out, &lab);
  return 1;
}

Bytes CmykProfile() {
  cmsHPROFILE profile = cmsCreateProfilePlaceholder(nullptr);
  cmsSetProfileVersion(profile, 2.1);
  cmsSetDeviceClass(profile, cmsSigOutputClass);
  cmsSetColorSpace(profile, cmsSigCmykData);
  cmsSetPCS(profile, cmsSigLabData);
  cmsPipeline* lut = cmsPipelineAlloc(nullptr, 4, 3);
  cmsStage* table = cmsStageAllocCLut16bit(nullptr, 9, 4, 3, nullptr);
  cmsStageSampleCLut16bit(table, InkToLab, nullptr, 0);
  cmsPipelineInsertStage(lut, cmsAT_END, table);
  cmsWriteTag(profile, cmsSigAToB0Tag, lut);
  cmsWriteTag(profile, cmsSigMediaWhitePointTag, cmsD50_XYZ());
  cmsPipelineFree(lut);
  return Saved(profile);
}

void AddProfile(PsdSpec* spec, const Bytes& profile) {
  psdw::Resource icc;
  icc.id = 1039;
  icc.data = profile;
  spec->resources.push_back(icc);
}

// The document with layers, and its twin saved without a merged picture.
void PutWithLayers(Writer& out, const std::string& name, PsdSpec spec,
                   const std::vector<int16_t>& ids) {
  const uint16_t depth = spec.depth;
  spec.layers = {MakeLayer(depth, 1, 2, 6, 11, ids, psdw::kPackBits),
                 MakeLayer(depth, 0, 0, 7, 13, ids, psdw::kRaw)};
  out.Put(name + ".psd", spec);
  spec.resources.push_back(psdw::VersionInfoResource(false));
  out.Put(name + "_composited.psd", spec);
}

}  // namespace

void Profiles(Writer& out) {
  const Bytes wide = RgbProfile(cmsBuildGamma(nullptr, 2.2));
  // Y = (0.9 X + 0.1)^2.2 above 0.05, a line below it: not black at 0.
  const double lifted[] = {2.2, 0.9, 0.1, 0.5, 0.05, 0.02, 0.03};
  const Bytes lifted_black =
      RgbProfile(cmsBuildParametricToneCurve(nullptr, 5, lifted));
  const Bytes srgb = Saved(cmsCreate_sRGBProfile());
  const std::vector<int16_t> rgba = {-1, 0, 1, 2};
  const struct {
    const char* name;
    const Bytes* profile;
  } rgb[] = {{"profile_rgb_wide", &wide},
             {"profile_rgb_lifted_black", &lifted_black},
             {"profile_rgb_srgb", &srgb}};
  for (const auto& r : rgb) {
    for (uint16_t depth : {8, 16}) {
      PsdSpec s = Document(3, depth, 3, psdw::kPackBits);
      AddProfile(&s, *r.profile);
      PutWithLayers(out, std::string(r.name) + "_" + std::to_string(depth), s,
                    rgba);
    }
  }
  PsdSpec gray = Document(1, 8, 1, psdw::kPackBits);
  AddProfile(&gray, GrayProfile());
  PutWithLayers(out, "profile_gray", gray, {-1, 0});
  PsdSpec cmyk = Document(4, 8, 4, psdw::kPackBits);
  AddProfile(&cmyk, CmykProfile());
  PutWithLayers(out, "profile_cmyk", cmyk, {-1, 0, 1, 2, 3});
  PsdSpec indexed = Document(2, 8, 1, psdw::kRaw);
  AddProfile(&indexed, wide);
  out.Put("profile_indexed.psd", indexed);
  PsdSpec garbage = Document(3, 8, 3, psdw::kRaw);
  AddProfile(&garbage, Bytes(300, 0x5a));
  out.Put("profile_not_a_profile.psd", garbage);
  PsdSpec wrong = Document(3, 8, 3, psdw::kRaw);
  AddProfile(&wrong, GrayProfile());
  out.Put("profile_wrong_space.psd", wrong);
}

}  // namespace testdocs
