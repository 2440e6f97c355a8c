// Documents with embedded colour profiles, the profiles made with the colour
// library: an RGB matrix-and-curves profile of wide primaries, one whose
// curves do not start at black (its conversion takes the cube), one whose
// table contradicts its matrix, a gray one, a CMYK one with a table, sRGB
// itself, bytes that are no profile and a profile of the wrong colour space.
// Each with layers, and composited; 8, 16 and (served as stored) 32 bits.
// Linear-light RGB and gray profiles (as some applications save 16-bit
// documents in), also with dark gradients whose 16-bit samples hold many
// more shadow levels than their first bytes.
#include <lcms2.h>
#include <stdlib.h>

#include "test_documents.h"
#include "test_profiles.h"

namespace testdocs {
namespace {

using testprofiles::Saved;
using testprofiles::WideProfileBytes;

Bytes GrayProfile(double gamma = 1.8) {
  cmsToneCurve* curve = cmsBuildGamma(nullptr, gamma);
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

// RGB to L*a*b*, unlike the wide primaries' matrix.
cmsInt32Number RgbToLab(const cmsUInt16Number in[], cmsUInt16Number out[],
                        void*) {
  const double r = in[0] / 65535.0, g = in[1] / 65535.0, b = in[2] / 65535.0;
  cmsCIELab lab;
  lab.L = 100 * (0.2 * r + 0.7 * g + 0.1 * b);
  lab.a = 90 * (r - g) * (1 - 0.3 * b);
  lab.b = 90 * (g - b);
  cmsFloat2LabEncoded(out, &lab);
  return 1;
}

// A table (A2B0) from `inputs` channels to L*a*b*, into `profile`.
void WriteTable(cmsHPROFILE profile, uint32_t inputs, uint32_t nodes,
                cmsSAMPLER16 sampler) {
  cmsPipeline* lut = cmsPipelineAlloc(nullptr, inputs, 3);
  cmsStage* table = cmsStageAllocCLut16bit(nullptr, nodes, inputs, 3, nullptr);
  cmsStageSampleCLut16bit(table, sampler, nullptr, 0);
  cmsPipelineInsertStage(lut, cmsAT_END, table);
  cmsWriteTag(profile, cmsSigAToB0Tag, lut);
  cmsPipelineFree(lut);
}

// The wide primaries' matrix and curves, and a table that says otherwise
// (the table is what converts).
Bytes TableAndMatrixProfile() {
  cmsHPROFILE profile = testprofiles::WideProfile(cmsBuildGamma(nullptr, 2.2));
  cmsSetProfileVersion(profile, 2.1);
  cmsSetPCS(profile, cmsSigLabData);
  WriteTable(profile, 3, 17, RgbToLab);
  return Saved(profile);
}

Bytes CmykProfile() {
  cmsHPROFILE profile = cmsCreateProfilePlaceholder(nullptr);
  cmsSetProfileVersion(profile, 2.1);
  cmsSetDeviceClass(profile, cmsSigOutputClass);
  cmsSetColorSpace(profile, cmsSigCmykData);
  cmsSetPCS(profile, cmsSigLabData);
  WriteTable(profile, 4, 9, InkToLab);
  cmsWriteTag(profile, cmsSigMediaWhitePointTag, cmsD50_XYZ());
  return Saved(profile);
}

void AddProfile(PsdSpec* spec, const Bytes& profile) {
  if (profile.empty()) {
    fprintf(stderr, "write_test_documents: a profile could not be made\n");
    abort();
  }
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

// A dark gradient (linear light up to sRGB's level 40) of 16-bit samples,
// channels apart by a few levels, as the merged picture and as an opaque
// zip layer (prediction undone at 16 bits); and its composited twin.
void PutDarkGradient(Writer& out, const std::string& name, uint16_t mode,
                     const Bytes& profile) {
  const uint32_t colours = mode == 1 ? 1 : 3, w = 256, h = 3;
  auto dark = [](uint32_t c, uint32_t x, uint32_t y) {
    return x * 1390 / 255 + c * y * 7;
  };
  PsdSpec spec =
      psdw::MakeDocument(mode, 16, colours, w, h, psdw::kPackBits, dark);
  AddProfile(&spec, profile);
  std::vector<int16_t> ids = {-1, 0, 1, 2};
  ids.resize(colours + 1);
  spec.layers = {psdw::MakeLayer(
      0, 0, h, w, ids, psdw::kZipPredict,
      [&](int16_t id, uint32_t x, uint32_t y) -> uint32_t {
        return id < 0 ? 65535 : dark(static_cast<uint32_t>(id), x, y);
      })};
  out.Put(name + ".psd", spec);
  spec.resources.push_back(psdw::VersionInfoResource(false));
  out.Put(name + "_composited.psd", spec);
}

}  // namespace

void Profiles(Writer& out) {
  const Bytes wide = WideProfileBytes(cmsBuildGamma(nullptr, 2.2));
  const Bytes linear = WideProfileBytes(cmsBuildGamma(nullptr, 1.0));
  // Y = (0.9 X + 0.1)^2.2 above 0.05, a line below it: not black at 0.
  const double lifted[] = {2.2, 0.9, 0.1, 0.5, 0.05, 0.02, 0.03};
  const Bytes lifted_black =
      WideProfileBytes(cmsBuildParametricToneCurve(nullptr, 5, lifted));
  const Bytes srgb = Saved(cmsCreate_sRGBProfile());
  const Bytes table = TableAndMatrixProfile();
  const std::vector<int16_t> rgba = {-1, 0, 1, 2};
  const struct {
    const char* name;
    const Bytes* profile;
  } rgb[] = {{"profile_rgb_wide", &wide},
             {"profile_rgb_linear", &linear},
             {"profile_rgb_lifted_black", &lifted_black},
             {"profile_rgb_srgb", &srgb},
             {"profile_rgb_table_and_matrix", &table}};
  for (const auto& r : rgb) {
    for (uint16_t depth : {8, 16, 32}) {  // 32-bit samples: as stored
      PsdSpec s = Document(3, depth, 3, psdw::kPackBits);
      AddProfile(&s, *r.profile);
      PutWithLayers(out, std::string(r.name) + "_" + std::to_string(depth), s,
                    rgba);
    }
  }
  const Bytes gray_profile = GrayProfile(), cmyk_profile = CmykProfile();
  const Bytes gray_linear = GrayProfile(1.0);
  for (uint16_t depth : {8, 16}) {
    const std::string bits = "_" + std::to_string(depth);
    PsdSpec gray = Document(1, depth, 1, psdw::kPackBits);
    AddProfile(&gray, gray_profile);
    PutWithLayers(out, "profile_gray" + bits, gray, {-1, 0});
    gray.resources.back().data = gray_linear;
    PutWithLayers(out, "profile_gray_linear" + bits, gray, {-1, 0});
    PsdSpec cmyk = Document(4, depth, 4, psdw::kPackBits);
    AddProfile(&cmyk, cmyk_profile);
    PutWithLayers(out, "profile_cmyk" + bits, cmyk, {-1, 0, 1, 2, 3});
  }
  PutDarkGradient(out, "profile_rgb_linear_dark_16", 3, linear);
  PutDarkGradient(out, "profile_gray_linear_dark_16", 1, gray_linear);
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
