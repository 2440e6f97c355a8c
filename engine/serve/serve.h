// Serving one request of the host: the document, the format of the pictures
// handed out, and the steps the reader (reader.cpp, the body of
// DecodePictureW) passes the work to.
#pragma once

#include "engine/channels/colour.h"
#include "engine/psd/document.h"
#include "engine/serve/plugin_abi.h"

namespace engine {

// The output format of the document's pictures.
struct OutputFormat {
  uint32_t stride;         // bytes in one output row, padded to 4
  uint32_t row_bytes;      // bytes in one output row before padding
  uint32_t sample_step;    // bytes from one output pixel to the next
  uint32_t palette_bytes;  // 0, 8 or 1024
};

// A 256-entry palette: gray and indexed pictures (and the layers' lone
// colour channels) take one byte a pixel.
inline bool PaletteOutput(const OutputFormat& format) {
  return format.palette_bytes == 1024;
}

struct ServeState {
  DecodeRequest* request;
  Document doc;
  OutputFormat format;
  BITMAPINFOHEADER header;  // the merged picture's
  bool header_made;         // the header block is in its slot
  LayerList layers;
  // The embedded profile's conversion to sRGB, or null: served as stored.
  const ColourTables* colour;
};

// Output format (output_format.cpp) -----------------------------------------

// The header's defaults: 40-byte header, one plane, no compression, the
// resolution documents without one get.
void InitDocumentHeader(BITMAPINFOHEADER* header);

// Chooses the bit count, sample step, row sizes and palette size for the
// document's colour mode and depth, and fills biBitCount and biSizeImage.
// kTooLarge when the picture's size does not fit in 32 bits.
Status ChooseOutputFormat(ServeState* s);

// Fills the palette behind the first 40 bytes of the header block.
Status BuildPalette(const ServeState* s, HLOCAL header_block);

// The pictures and the listing ------------------------------------------------

// The Image Data section's planes (merged_image.cpp).
Status DecodeMergedImage(ServeState* s);

// The layers composited (composited_image.cpp). kNoComposite when they
// cannot be (damaged records, or a colour mode without a composite).
Status DecodeComposite(ServeState* s);

// The picture of layer entry_index - 1 (layer_image.cpp). kLayerNotServed
// when it has none of its own.
Status DecodeLayerImage(ServeState* s);

// The archive listing (layer_directory.cpp).
Status BuildLayerDirectory(ServeState* s);

// The host's result code for a status that ends a request (results.cpp).
int32_t ResultForStatus(Status status);

}  // namespace engine
