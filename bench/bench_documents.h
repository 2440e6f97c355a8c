// Documents for the benchmarks, built in memory with the test writer.
#pragma once

#include <stdint.h>

#include "psd_writer.h"

namespace bench {

enum class Content {
  kPhoto,  // smooth gradients plus noise: packs poorly, like a photograph
  kFlat,   // large areas of one colour: packs well
};

// One plane of width x height samples of `depth` (8 or 16 bits).
psdw::Samples MakePlane(Content content, uint32_t width, uint32_t height,
                        uint32_t plane, uint16_t depth);

// A document with only a merged picture: `mode` (1 gray, 3 RGB, 4 CMYK) and
// its usual number of planes.
psdw::Bytes MergedDocument(uint16_t mode, uint16_t depth, uint16_t compression,
                           Content content, uint32_t width, uint32_t height);

// A width x height RGB document (flat merged picture, PackBits) with
// `layers` layers of transparency, red, green and blue, each a few hundred
// pixels square, photographic content, PackBits.
psdw::Bytes LayeredDocument(uint32_t width, uint32_t height, uint32_t layers);

}  // namespace bench
