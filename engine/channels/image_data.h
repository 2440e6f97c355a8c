// The planes of the Image Data section, each read by a channel reader. All
// planes share one compression word. PackBits planes share one table of row
// byte counts (every row of the first channel, then of the second, ...);
// zip planes are one stream holding every plane's rows, which is inflated
// once, up to the last plane wanted, into the samples its readers hand out.
#pragma once

#include "engine/channels/channel_reader.h"
#include "engine/psd/document.h"

namespace engine {

struct ImageDataPlanes {
  uint32_t count;          // planes opened
  uint32_t rows;           // rows of each plane
  uint64_t pixel_data;     // offset of the first row of the first plane
  uint64_t starts[4];      // offset of each plane's first row
  uint64_t zip_ends[4];    // zip: stream offset behind each plane's rows
  int32_t zip_error;       // zip: why the stream ended early (0: it did not)
  uint8_t* inflated;       // zip: the planes' rows, as read
  Source inflated_source;  // zip: the planes' readers read from there
  ChannelReader readers[4];
};

// Where the rows of the first plane begin: behind the compression word and,
// for PackBits, behind the table of row byte counts of every channel.
uint64_t ImageDataPixelOffset(const Document* doc, uint32_t rows);

// Opens readers for the first `count` planes (at most 4) of `samples`
// samples and `rows` rows each (`wide`: 16-bit samples read as stored, see
// ChannelSpec). kNoMemory or kTooLarge leave none open.
Status OpenImageData(const Document* doc, uint32_t count, uint32_t samples,
                     uint32_t rows, bool wide, ImageDataPlanes* planes);
void CloseImageData(ImageDataPlanes* planes);

// Where plane p's data ends, once its rows have been read: behind its rows
// as the row sizes or counts give them (raw rows only while whole rows
// remain in the document), or where the zip stream stood after them.
uint64_t ImageDataPlaneEnd(const Document* doc, const ImageDataPlanes& planes,
                           uint32_t p);

}  // namespace engine
