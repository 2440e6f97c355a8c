// Colour profiles for test documents, made with the colour library: its
// bytes as a document embeds them, and profiles of wide primaries (those of
// Adobe RGB) with the curves given.
#pragma once

#include <lcms2.h>

#include "psd_writer.h"

namespace testprofiles {

// The profile's bytes (empty when it cannot be saved); the profile is
// closed.
inline psdw::Bytes Saved(cmsHPROFILE profile) {
  cmsUInt32Number size = 0;
  psdw::Bytes bytes;
  if (profile != nullptr && cmsSaveProfileToMem(profile, nullptr, &size)) {
    bytes.resize(size);
    if (!cmsSaveProfileToMem(profile, bytes.data(), &size)) bytes.clear();
  }
  if (profile != nullptr) cmsCloseProfile(profile);
  return bytes;
}

// Wide primaries with `curve` on every channel; the curve is freed.
inline cmsHPROFILE WideProfile(cmsToneCurve* curve) {
  cmsCIExyY white;
  cmsWhitePointFromTemp(&white, 6504);
  const cmsCIExyYTRIPLE primaries = {
      {0.64, 0.33, 1}, {0.21, 0.71, 1}, {0.15, 0.06, 1}};
  cmsToneCurve* curves[3] = {curve, curve, curve};
  cmsHPROFILE profile = cmsCreateRGBProfile(&white, &primaries, curves);
  cmsFreeToneCurve(curve);
  return profile;
}

inline psdw::Bytes WideProfileBytes(cmsToneCurve* curve) {
  return Saved(WideProfile(curve));
}

}  // namespace testprofiles
