// What the builds of colour tables share (colour_profile.cpp, which runs
// them, and colour_matrix.cpp, the matrix-and-curves profiles): tables are
// the library's blocks while they are made.
#pragma once

#include "engine/channels/colour.h"
#include "engine/channels/colour_library.h"

namespace engine {

// The 16-bit input curves of a matrix-and-curves profile, and the sRGB
// levels of a gray one (behind the tables, where the cubes would be).
const uint64_t kWideCurveBytes = 3ull * 256 * sizeof(WideNode);
const uint64_t kWideGrayBytes = 65536;

// A zeroed block of tables of `kind` with `extra` bytes behind it (cubes or
// 16-bit tables), from the library's heap; null without the memory.
ColourTables* TakeTables(cmsContext context, uint32_t kind, uint64_t extra);

// Whether the library converts from the profile's matrix and curves: it
// takes any of its tables (the float ones, the intent's, the perceptual
// one) before them.
bool MatrixShaperOnly(cmsHPROFILE doc);

// A profile of sRGB's primaries and curve, whatever its maker wrote in it.
bool SameAsSrgb(cmsHPROFILE doc, cmsHPROFILE srgb);

// Matrix-and-curves tables (`wide`: with 16-bit input curves), or null
// when the profile's numbers would not fit the fixed-point arithmetic.
ColourTables* MatrixTables(cmsContext context, cmsHPROFILE doc,
                           cmsHPROFILE srgb, bool wide);

}  // namespace engine
