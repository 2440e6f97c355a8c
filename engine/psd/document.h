// The document as the file's sections describe it: its header, where its
// sections lie, and its layer records. Filled by the psd/ readers, read by
// every layer above them.
#pragma once

#include <stdint.h>
#include <string.h>

#include "common/log.h"
#include "engine/base/rect.h"
#include "engine/base/source.h"
#include "engine/base/status.h"

namespace engine {

// Colour modes of the file header.
enum : uint16_t {
  kModeBitmap = 0,
  kModeGrayscale = 1,
  kModeIndexed = 2,
  kModeRgb = 3,
  kModeCmyk = 4,
  kModeMultichannel = 7,
  kModeDuotone = 8,
  kModeLab = 9,
};

// Resolution where the document gives none (pixels per metre).
const int32_t kDefaultPixelsPerMetre = 3000;

// A block of the document's patterns: where its data lies.
struct PatternBlock {
  uint64_t at;
  uint64_t length;
};
const uint32_t kPatternBlocks = 3;

struct Document {
  // Where the document's bytes come from.
  Source* source;
  // The file header.
  uint16_t version;  // 1, or 2 for the large-document format
  uint16_t channels;
  uint16_t color_mode;
  uint16_t depth;
  uint32_t width;
  uint32_t height;
  // The resolution resource, in pixels per metre.
  int32_t x_pixels_per_metre;
  int32_t y_pixels_per_metre;
  // Resource 1057 says the Image Data section holds no real merged picture
  // (a white one): the merged picture is composited from the layers.
  bool merged_placeholder;
  // Resource 1039, the embedded colour profile: where its bytes lie in the
  // document (0 bytes: none).
  uint64_t profile_at;
  uint32_t profile_length;
  // The global light of layer effects (resources 1037 and 1049), degrees.
  int32_t global_angle;
  int32_t global_altitude;
  // The layer count is negative: the first channel beyond the colours is
  // the merged picture's transparency.
  bool merged_alpha;
  // The pattern blocks among the layer section's global blocks.
  PatternBlock pattern_blocks[kPatternBlocks];
  uint32_t pattern_block_count;
  // The Image Data section: where it lies and its compression word.
  uint64_t image_data;
  uint16_t compression;
  LogBuffer* log;
  // Set by the request for the composite of a 16-bit RGB or gray document
  // converted through its profile: the compositor keeps, beside its
  // canvas, the 16-bit samples of the layer pixels it shows as they are
  // (see Composer::deep), for the conversion to start from.
  bool deep_composite;
};

inline uint64_t DocumentSize(const Document* doc) { return doc->source->size; }

// Flags of a layer record.
enum : uint8_t {
  kLayerHidden = 0x02,
  // Bit 3 says bit 4 is meaningful; bit 4: the pixel data is irrelevant to
  // the document's appearance (the application's rendering of settings).
  kLayerIrrelevantKnown = 0x08,
  kLayerIrrelevant = 0x10,
  kLayerPixelsRendered = kLayerIrrelevantKnown | kLayerIrrelevant,
};

// One parsed layer record. `channel_info` points at the record's own
// channel table (`channel_count` entries), among the records' bytes the
// layer list holds.
struct LayerRecord {
  PixelRect rect;
  int32_t width;  // right - left and bottom - top, as 32-bit wraparound
  int32_t height;
  bool has_mask;  // the extra data holds layer mask data
  int16_t channel_count;
  const uint8_t* channel_info;
  uint64_t channel_total;  // sum of all channel lengths
  uint64_t data_offset;    // where its channel image data begins
  char blend_key[4];
  uint8_t opacity;
  uint8_t clipping;
  uint8_t flags;
  const uint8_t* extra;  // mask data, blending ranges, name, further blocks
  uint32_t extra_length;
};

inline bool LayerVisible(const LayerRecord& r) {
  return (r.flags & kLayerHidden) == 0;
}
// The record's pixels are the application's rendering of its settings.
inline bool LayerPixelsRendered(const LayerRecord& r) {
  return (r.flags & kLayerPixelsRendered) == kLayerPixelsRendered;
}

// What the layer parser produced: the array, how many records it filled
// (records behind a malformed one are counted but not filled), where the
// layers' channel image data begins, and the records' bytes it holds.
struct LayerList {
  LayerRecord* records;
  uint32_t count;
  uint32_t filled;
  uint64_t channel_data;
  void* record_bytes;  // read from a file: the block the records point into
};

// Every record was parsed, so every layer's channel data can be found.
inline bool LayersComplete(const LayerList* list) {
  return list->filled == list->count;
}

// One entry of a layer's channel table.
struct ChannelEntry {
  int32_t id;
  uint64_t length;
};
ChannelEntry ChannelAt(const Document* doc, const LayerRecord& layer,
                       int32_t k);

// Channel identifiers beyond the colour channels 0, 1, 2, 3.
enum : int32_t {
  kChannelAlpha = -1,
  kChannelUserMask = -2,
  kChannelRealMask = -3,
};

// The file header (psd/header.cpp): signature, version, sides, channels,
// depth and mode. kNotPsd when it is not a document's.
Status ReadFileHeader(Document* doc);

// Parses `count` layer records from offset `records` (psd/layer_records.cpp),
// logging the first `logged` of them and a count of the rest. Returns
// kNoMemory when the array or the records' bytes cannot be had; `list` says
// how many records were filled, where each layer's channel data begins and
// where the channel image data begins.
Status ParseLayerRecords(const Document* doc, LayerList* list, uint32_t count,
                         uint64_t records, uint32_t logged);
void ReleaseLayerRecords(LayerList* list);

// Logs one parsed record as the parser does.
void LogLayerRecord(const Document* doc, const LayerList* list, uint32_t index);

}  // namespace engine
