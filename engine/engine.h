// The engine's internal steps. Each takes the request and the working state
// and returns a result code that the caller passes on.
#pragma once

#include "engine/decode.h"

// Output format (output_format.cpp) -----------------------------------------

// The document header's defaults: 40-byte header, one plane, no
// compression, 3000 pixels per metre both ways.
void InitDocumentHeader(BITMAPINFOHEADER* header);

// Chooses the bit count, sample step, row sizes and palette size for the
// state's colour mode and depth, and fills biBitCount and biSizeImage.
// Returns kResultNoMemory when the picture's size does not fit in 32 bits.
int32_t ChooseOutputFormat(DecodeState* state, BITMAPINFOHEADER* header);

// Fills the palette behind the first 40 bytes of the header block.
void BuildPalette(const DecodeState* state, HLOCAL header_block);

// Merged picture (merged_image.cpp) ------------------------------------------

int32_t DecodeMergedImage(DecodeRequest* request, DecodeState* state,
                          const BITMAPINFOHEADER* header,
                          const uint8_t* pixel_data);

// Layers (layer_records.cpp, layer_image.cpp, layer_directory.cpp) -----------

// Parses `count` layer records starting 6 bytes after `cursor` (the layer
// info length field). Returns kResultNoMemory when the array cannot be
// allocated, else kResultOk; `list` says how many records were filled and
// where the channel image data begins.
int32_t ParseLayerRecords(LayerList* list, uint32_t count,
                          const uint8_t* cursor, const uint8_t* file_end);
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

// Largest pixel block the engine hands out for a document of `size` bytes:
// PackBits data expands at most 64 times, so a picture far larger than its
// document could describe is refused instead of being filled with zeros.
bool PictureFitsDocument(uint64_t image_size, uint64_t document_size);

int32_t DecodeLayerImage(DecodeRequest* request, DecodeState* state,
                         const LayerList* list, const BITMAPINFOHEADER* header);

int32_t BuildLayerDirectory(DecodeRequest* request, const DecodeState* state,
                            const LayerList* list,
                            const BITMAPINFOHEADER* header);
