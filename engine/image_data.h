// The planes of the Image Data section, each read by a channel reader. All
// planes share one compression word; PackBits planes share one table of row
// byte counts (every row of the first channel, then of the second, ...).
#pragma once

#include "engine/channel_reader.h"
#include "engine/engine.h"

struct ImageDataPlanes {
  uint32_t count;       // planes opened
  uint64_t pixel_data;  // offset of the first row of the first plane
  uint64_t starts[4];   // offset of each plane's first row
  ChannelReader readers[4];
};

// Where the rows of the first plane begin: behind the compression word and,
// for PackBits, behind the table of row byte counts of every channel.
uint64_t ImageDataPixelOffset(const DecodeState* state, uint32_t rows);

// Opens readers for the first `count` planes (at most 4) of `samples`
// samples and `rows` rows each. kNoMemory or kTooLarge leave none open.
Status OpenImageData(const DecodeState* state, uint32_t count, uint32_t samples,
                     uint32_t rows, ImageDataPlanes* planes);
void CloseImageData(ImageDataPlanes* planes);
