// The engine's working record for one request, the layer records, and the
// steps the document reader calls. Each step reports a Status.
#pragma once

#include <string.h>

#include "common/log.h"
#include "engine/channels/channel_reader.h"
#include "engine/serve/plugin_abi.h"
#include "engine/base/status.h"

// PSD colour modes.
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

// The engine's working record for one request.
struct DecodeState {
  // The document image and its header.
  const uint8_t* file_base;
  const uint8_t* file_end;
  uint16_t version;  // 1, or 2 for the large-document format
  uint16_t channels;
  uint16_t color_mode;
  uint16_t depth;
  // The output format.
  uint32_t stride;         // bytes in one output row, padded to 4
  uint32_t row_bytes;      // bytes in one output row before padding
  uint32_t sample_step;    // bytes from one output pixel to the next
  uint32_t palette_bytes;  // 0, 8 or 1024
  // The Image Data section: its compression word and where it lies.
  uint16_t compression;
  uint64_t image_data;
  LogBuffer* log;
  // Resource 1057 says the Image Data section holds no real merged picture
  // (a white one): the merged picture is composited from the layers.
  bool merged_placeholder;
};

inline uint64_t DocumentSize(const DecodeState* state) {
  return static_cast<uint64_t>(state->file_end - state->file_base);
}

// One parsed layer record. `channel_info` points at the record's own
// channel table in the document (`channel_count` entries).
struct LayerRecord {
  int32_t left;
  int32_t top;
  int32_t right;
  int32_t bottom;
  int32_t mask_left;
  int32_t mask_top;
  int32_t mask_right;
  int32_t mask_bottom;
  int32_t width;
  int32_t height;
  int32_t has_mask;
  int16_t channel_count;
  const uint8_t* channel_info;
  uint64_t channel_total;  // sum of all channel lengths
  char blend_key[4];
  uint8_t opacity;
  uint8_t clipping;
  uint8_t flags;
  const uint8_t* extra;  // mask data, blending ranges, name, further blocks
  uint32_t extra_length;
};

// What the layer parser produced: the array, how many records it filled
// (records behind a malformed one are counted but not filled) and where the
// layers' channel image data begins.
struct LayerList {
  LayerRecord* records;
  uint32_t count;
  uint32_t filled;
  const uint8_t* channel_data;
};

// One entry of a layer's channel table.
struct ChannelEntry {
  int32_t id;
  uint64_t length;
};
ChannelEntry ChannelAt(const DecodeState* state, const LayerRecord& layer,
                       int32_t k);

// Output format (output_format.cpp) -----------------------------------------

// The document header's defaults: 40-byte header, one plane, no
// compression, 3000 pixels per metre both ways.
void InitDocumentHeader(BITMAPINFOHEADER* header);

// Chooses the bit count, sample step, row sizes and palette size for the
// state's colour mode and depth, and fills biBitCount and biSizeImage.
// kTooLarge when the picture's size does not fit in 32 bits.
Status ChooseOutputFormat(DecodeState* state, BITMAPINFOHEADER* header);

// Fills the palette behind the first 40 bytes of the header block.
void BuildPalette(const DecodeState* state, HLOCAL header_block);

// Largest pixel block the engine hands out for a document of `size` bytes
// whose pixel data is zip-compressed (`zip`) or not.
bool PictureFitsDocument(uint64_t image_size, uint64_t document_size, bool zip);

// Merged picture (merged_image.cpp) ------------------------------------------

Status DecodeMergedImage(DecodeRequest* request, DecodeState* state,
                         const BITMAPINFOHEADER* header);

// Layers (layer_records.cpp, layer_plan.cpp, layer_image.cpp,
// layer_directory.cpp) -------------------------------------------------------

// Parses `count` layer records from offset `records`. Returns
// kNoMemory when the array cannot be allocated; `list` says how many
// records were filled and where the channel image data begins.
Status ParseLayerRecords(const DecodeState* state, LayerList* list,
                         uint32_t count, uint64_t records);
void ReleaseLayerRecords(LayerList* list);

// How a layer request is served, worked out from the records alone so that
// the listing and the extraction always agree.
struct LayerPlan {
  bool has_picture;          // false: the merged picture is served instead
  const uint8_t* data;       // the layer's first channel
  uint32_t bytes_per_pixel;  // 0, 1, 3 or 4
  uint32_t stride;
  uint32_t image_size;  // stride x height
  bool gray;            // channel 0 is the only colour channel
  bool cmyk;            // channels 0..3 are cyan, magenta, yellow, black
  bool lab;             // channels 0..2 are L*, a*, b*
  bool has_alpha;
};
// `offset` is where the layer's channel data begins in the document (see
// LayerDataOffset); a layer whose data cannot be found gets no picture.
void PlanLayer(const DecodeState* state, const LayerList* list, uint32_t index,
               uint64_t offset, LayerPlan* plan);

// Offset of layer `index`'s channel data: behind the channel data of every
// layer before it. Past the document's end when their lengths say so.
uint64_t LayerDataOffset(const DecodeState* state, const LayerList* list,
                         uint32_t index);

// The layer channel whose compression word is at `at` and which ends at
// offset `channel_end`, with `width` x `height` samples, for the channel
// reader: PackBits rows begin behind the table of row byte counts.
ChannelSpec LayerChannelSpec(const DecodeState* state, const uint8_t* at,
                             uint64_t channel_end, uint32_t width,
                             uint32_t height);

Status DecodeLayerImage(DecodeRequest* request, const DecodeState* state,
                        const LayerList* list, const BITMAPINFOHEADER* header);

Status BuildLayerDirectory(DecodeRequest* request, const DecodeState* state,
                           const LayerList* list,
                           const BITMAPINFOHEADER* header);
