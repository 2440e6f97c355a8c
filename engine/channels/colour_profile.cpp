// Colour tables from an embedded profile, made with LittleCMS: relative
// colorimetric intent with black point compensation, into sRGB. The library
// runs in a context of its own for each build, its memory through the
// engine's heap and its errors to nothing; no object of it outlives the
// build. A profile it refuses, or cannot make a transform from, is not used.
#include "engine/base/limits.h"
#include "engine/base/memory.h"
#include "engine/channels/colour_build.h"

namespace engine {

// Tables being made are the library's blocks (freed with its context,
// whatever happens); the finished ones are copied out (KeepTables).
ColourTables* TakeTables(cmsContext context, uint32_t kind, uint64_t extra) {
  const uint64_t bytes = sizeof(ColourTables) + extra;
  ColourTables* t = static_cast<ColourTables*>(
      _cmsMalloc(context, static_cast<cmsUInt32Number>(bytes)));
  if (t == nullptr) return nullptr;
  memset(t, 0, sizeof(*t));
  t->kind = kind;
  t->bytes = bytes;
  t->cubes = reinterpret_cast<uint16_t*>(t + 1);
  return t;
}

namespace {

const cmsUInt32Number kFlags =
    cmsFLAGS_BLACKPOINTCOMPENSATION | cmsFLAGS_NOCACHE;

// The lower node and fraction of each sample value on an axis of `nodes`
// nodes; `inverted`: the axis takes 255 - value (stored CMYK).
void FillAxis(ColourTables* t, uint32_t nodes, bool inverted) {
  t->nodes = nodes;
  for (uint32_t v = 0; v < 256; ++v) {
    const uint32_t value = inverted ? 255 - v : v;
    const uint32_t scaled = value * (nodes - 1);
    uint32_t node = scaled / 255;
    uint32_t fraction = ((scaled % 255) * kFractionOne + 127) / 255;
    if (node == nodes - 1) {
      node = nodes - 2;
      fraction = kFractionOne;
    }
    t->axis_node[v] = static_cast<uint16_t>(node);
    t->axis_fraction[v] = static_cast<uint16_t>(fraction);
  }
}

// The 16-bit value of node n of `nodes`, as the library places grid nodes.
uint16_t NodeValue(uint32_t n, uint32_t nodes) {
  return static_cast<uint16_t>((n * 65535u * 2 / (nodes - 1) + 1) / 2);
}

// Runs `transform` (16-bit input of `channels`, 16-bit RGB output) over
// every node of a grid of `nodes` a side into 4 values a node.
void SampleGrid(cmsHTRANSFORM transform, uint32_t channels, uint32_t nodes,
                uint16_t* grid) {
  uint32_t total = 1;
  for (uint32_t c = 0; c < channels; ++c) total *= nodes;
  for (uint32_t i = 0; i < total; ++i) {
    uint16_t in[4];
    uint32_t rest = i;
    for (uint32_t c = channels; c-- > 0;) {
      in[c] = NodeValue(rest % nodes, nodes);
      rest /= nodes;
    }
    uint16_t out[3];
    cmsDoTransform(transform, in, out, 1);
    uint16_t* node = grid + 4 * static_cast<uint64_t>(i);
    for (int c = 0; c < 3; ++c) {
      node[c] = static_cast<uint16_t>((out[c] + 1u) >> 1);
      if (node[c] > 32767) node[c] = 32767;
    }
    node[3] = 0;
  }
}

cmsHTRANSFORM Transform(cmsContext context, cmsHPROFILE from,
                        cmsUInt32Number in, cmsHPROFILE to, cmsUInt32Number out,
                        cmsUInt32Number flags) {
  cmsHTRANSFORM x = cmsCreateTransformTHR(
      context, from, in, to, out, INTENT_RELATIVE_COLORIMETRIC, flags | kFlags);
  return x;
}

// A 16-bit document's gray levels: each of the 65536 through the library's
// unoptimized pipeline (evaluated in floating point), its green rounded to
// a byte as the library rounds 16-bit values (a gray's sRGB is neutral).
bool FillWideGray(cmsContext context, cmsHPROFILE doc, cmsHPROFILE srgb,
                  ColourTables* t) {
  cmsHTRANSFORM x = Transform(context, doc, TYPE_GRAY_16, srgb, TYPE_RGB_16,
                              cmsFLAGS_NOOPTIMIZE);
  if (x == nullptr) return false;
  t->wide = true;
  t->wide_gray = reinterpret_cast<uint8_t*>(t + 1);
  for (uint32_t first = 0; first < 65536; first += 256) {
    uint16_t levels[256], rgb[3 * 256];
    for (uint32_t i = 0; i < 256; ++i) {
      levels[i] = static_cast<uint16_t>(first + i);
    }
    cmsDoTransform(x, levels, rgb, 256);
    for (uint32_t i = 0; i < 256; ++i) {
      t->wide_gray[first + i] =
          static_cast<uint8_t>((rgb[3 * i + 1] * 65281u + 8388608u) >> 24);
    }
  }
  cmsDeleteTransform(x);
  return true;
}

ColourTables* GrayTables(cmsContext context, cmsHPROFILE doc, cmsHPROFILE srgb,
                         bool wide) {
  cmsHTRANSFORM x = Transform(context, doc, TYPE_GRAY_8, srgb, TYPE_RGB_8, 0);
  if (x == nullptr) return nullptr;
  ColourTables* t = TakeTables(context, kColourGray, wide ? kWideGrayBytes : 0);
  if (t != nullptr && wide && !FillWideGray(context, doc, srgb, t)) {
    _cmsFree(context, t);
    t = nullptr;
  }
  if (t != nullptr) {
    for (uint32_t v = 0; v < 256; ++v) {
      const uint8_t level = static_cast<uint8_t>(v);
      uint8_t rgb[3];
      cmsDoTransform(x, &level, rgb, 1);
      t->gray[v][0] = rgb[2];
      t->gray[v][1] = rgb[1];
      t->gray[v][2] = rgb[0];
    }
  }
  cmsDeleteTransform(x);
  return t;
}

// A cube of `nodes` a side for 3-channel input (`cubes` 1), or one per
// black value from a 4-channel grid (`cubes` 256).
ColourTables* CubeTables(cmsContext context, cmsHPROFILE doc, cmsHPROFILE srgb,
                         bool cmyk, bool wide) {
  const uint32_t nodes = cmyk ? kCmykCubeNodes : kRgbCubeNodes;
  const uint32_t cube_elements = 4 * nodes * nodes * nodes;
  const uint32_t cubes = cmyk ? 256 : 1;
  cmsHTRANSFORM x = Transform(context, doc, cmyk ? TYPE_CMYK_16 : TYPE_RGB_16,
                              srgb, TYPE_RGB_16, cmsFLAGS_NOOPTIMIZE);
  if (x == nullptr) return nullptr;
  ColourTables* t =
      TakeTables(context, cmyk ? kColourCmykCubes : kColourRgbCube,
                 2ull * cube_elements * cubes);
  uint16_t* grid = cmyk ? static_cast<uint16_t*>(
                              _cmsMalloc(context, 2 * cube_elements * nodes))
                        : nullptr;
  if (t != nullptr && (!cmyk || grid != nullptr)) {
    FillAxis(t, nodes, cmyk);
    t->cube_elements = cube_elements;
    t->wide = wide;
    if (!cmyk) {
      SampleGrid(x, 3, nodes, t->cubes);
    } else {
      // The grid's black slices, then a cube for each black value between
      // them (the interpolation along black is linear).
      SampleGrid(x, 4, nodes, grid);
      for (uint32_t k = 0; k < 256; ++k) {
        const uint32_t scaled = k * (nodes - 1);
        const uint32_t k0 = scaled / 255, rest = scaled % 255;
        uint16_t* cube = t->cubes + uint64_t{cube_elements} * k;
        for (uint32_t i = 0; i < cube_elements; ++i) {
          // The grid is ordered C, M, Y, K: black varies fastest.
          const uint16_t* at = grid + (i / 4) * 4 * nodes + 4 * k0 + i % 4;
          const uint32_t a = at[0];
          const uint32_t b = rest != 0 ? at[4] : a;
          cube[i] =
              static_cast<uint16_t>((a * (255 - rest) + b * rest + 127) / 255);
        }
      }
    }
  } else {
    _cmsFree(context, t);
    t = nullptr;
  }
  _cmsFree(context, grid);
  cmsDeleteTransform(x);
  return t;
}

ColourTables* RgbTables(cmsContext context, cmsHPROFILE doc, cmsHPROFILE srgb,
                        bool wide) {
  ColourTables* t =
      MatrixShaperOnly(doc) ? MatrixTables(context, doc, srgb, wide) : nullptr;
  return t != nullptr ? t : CubeTables(context, doc, srgb, false, wide);
}

cmsColorSpaceSignature SpaceOfMode(uint16_t mode) {
  switch (mode) {
    case kModeGrayscale:
      return cmsSigGrayData;
    case kModeIndexed:
    case kModeRgb:
      return cmsSigRgbData;
    default:
      return cmsSigCmykData;
  }
}

// What a build is asked and what it yields.
struct Build {
  const uint8_t* profile;
  uint32_t length;
  uint16_t mode;
  bool wide;
  ColourTables* tables;  // the library's block
  int32_t unused;
};

void BuildFromProfiles(cmsContext context, cmsHPROFILE doc, cmsHPROFILE srgb,
                       Build* b) {
  if (cmsGetColorSpace(doc) != SpaceOfMode(b->mode)) {
    b->unused = kProfileWrongColourSpace;
    return;
  }
  if (b->mode == kModeGrayscale) {
    b->tables = GrayTables(context, doc, srgb, b->wide);
  } else if (b->mode == kModeCmyk) {
    b->tables = CubeTables(context, doc, srgb, true, b->wide);
  } else if (SameAsSrgb(doc, srgb)) {
    b->unused = kProfileIsSrgb;
    return;
  } else {
    b->tables = RgbTables(context, doc, srgb, b->wide);
  }
  if (b->tables == nullptr) b->unused = kProfileRejected;
}

void RunBuild(LibraryContext* library, void* data) {
  Build* b = static_cast<Build*>(data);
  cmsContext context = library->context;
  cmsHPROFILE doc = cmsOpenProfileFromMemTHR(context, b->profile, b->length);
  cmsHPROFILE srgb = cmsCreate_sRGBProfileTHR(context);
  if (doc != nullptr && srgb != nullptr) {
    BuildFromProfiles(context, doc, srgb, b);
  } else {
    b->unused = kProfileRejected;
  }
  if (doc != nullptr) cmsCloseProfile(doc);
  if (srgb != nullptr) cmsCloseProfile(srgb);
}

// The finished tables in a block of their own, kept past the library.
ColourTables* KeepTables(const ColourTables* made) {
  ColourTables* t = static_cast<ColourTables*>(AllocateKept(made->bytes));
  if (t == nullptr) return nullptr;
  memcpy(t, made, made->bytes);
  t->cubes = reinterpret_cast<uint16_t*>(t + 1);
  if (made->wide_gray != nullptr) {
    t->wide_gray = reinterpret_cast<uint8_t*>(t + 1);
  }
  if (made->wide_in != nullptr) t->wide_in = reinterpret_cast<WideNode*>(t + 1);
  return t;
}

}  // namespace

Status BuildColourTables(const uint8_t* profile, uint32_t length, uint16_t mode,
                         bool wide, ColourTables** tables, int32_t* unused) {
  *tables = nullptr;
  *unused = 0;
  if (length > kLimits.max_profile_bytes) {
    *unused = kProfileTooLarge;
    return kDone;
  }
  LibraryContext library;
  Build build = {profile, length, mode, wide, nullptr, 0};
  const bool ran = OpenLibrary(&library) &&
                   RunInLibrary(&library, RunBuild, &build) && !library.failed;
  Status status =
      ran || (library.refused && !library.failed) ? kDone : kNoMemory;
  if (!ran && status == kDone) build.unused = kProfileRejected;
  if (ran && build.tables != nullptr) {
    *tables = KeepTables(build.tables);
    if (*tables == nullptr) status = kNoMemory;
  }
  *unused = build.unused;
  CloseLibrary(&library);
  return status;
}

void ReleaseColourTables(ColourTables* tables) { ReleaseKept(tables); }

}  // namespace engine
