// The output bitmap's header: bit count by colour mode and depth, row sizes,
// and the palette.
#include "engine/base/bytes.h"
#include "engine/psd/document.h"
#include "engine/base/limits.h"
#include "engine/base/log_messages.h"

namespace {

bool IsCommonDepth(uint32_t depth) {
  return depth == 8 || depth == 16 || depth == 32;
}

void WriteEntry(uint8_t* entry, uint8_t red, uint8_t green, uint8_t blue) {
  entry[0] = blue;
  entry[1] = green;
  entry[2] = red;
  entry[3] = 0;
}

}  // namespace

void InitDocumentHeader(BITMAPINFOHEADER* header) {
  memset(header, 0, sizeof(*header));
  header->biSize = 40;
  header->biPlanes = 1;
  header->biCompression = 0;
  header->biXPelsPerMeter = 3000;
  header->biYPelsPerMeter = 3000;
}

Status ChooseOutputFormat(DecodeState* state, BITMAPINFOHEADER* header) {
  uint32_t bit_count;
  if (!IsCommonDepth(state->depth)) {
    bit_count = 1;
    state->sample_step = 1;
  } else if (state->color_mode == kModeGrayscale ||
             state->color_mode == kModeIndexed) {
    bit_count = 8;
    state->sample_step = 1;
  } else {
    bit_count = 24;
    state->sample_step = 3;
  }
  if (state->color_mode == kModeCmyk) {  // whatever the depth
    bit_count = 32;
    state->sample_step = 4;
  }

  const uint64_t width = static_cast<uint32_t>(header->biWidth);
  const uint64_t height = static_cast<uint32_t>(header->biHeight);
  const uint64_t row_bytes =
      bit_count < 8 ? (width + 7) / 8 : width * (bit_count / 8);
  const uint64_t stride = PadTo4(row_bytes);
  const uint64_t image_size = stride * height;
  state->palette_bytes = bit_count <= 8 ? 4u << bit_count : 0;
  header->biBitCount = static_cast<WORD>(bit_count);
  if (image_size > 0xFFFFFFFFu) return kTooLarge;
  state->row_bytes = static_cast<uint32_t>(row_bytes);
  state->stride = static_cast<uint32_t>(stride);
  header->biSizeImage = static_cast<DWORD>(image_size);
  return kDone;
}

bool PictureFitsDocument(uint64_t image_size, uint64_t document_size,
                         bool zip) {
  const uint32_t expansion =
      zip ? kLimits.max_zip_expansion : kLimits.max_expansion;
  return image_size <= kLimits.always_accepted_bytes ||
         image_size / expansion <= document_size;
}

void BuildPalette(const DecodeState* state, HLOCAL header_block) {
  uint8_t* block = static_cast<uint8_t*>(LocalLock(header_block));
  uint8_t* palette = block + 40;
  const uint32_t entries = state->palette_bytes / 4;
  switch (state->color_mode) {
    case kModeBitmap:
      LogLine(state->log, logtext::kPaletteBitmap);
      WriteEntry(palette, 255, 255, 255);
      WriteEntry(palette + 4, 0, 0, 0);
      break;
    case kModeGrayscale:
      LogLine(state->log, logtext::kPaletteGray);
      for (uint32_t i = 0; i < entries; ++i) {
        const uint8_t v = static_cast<uint8_t>(i);
        WriteEntry(palette + 4 * i, v, v, v);
      }
      break;
    case kModeIndexed: {
      LogLine(state->log, logtext::kPaletteIndex);
      // Reds, greens and blues of 256 entries each follow the Color Mode
      // Data length; entries the document does not hold stay black.
      const uint8_t* table = state->file_base + 30;
      const uint64_t available = BytesLeft(table, state->file_end);
      for (uint32_t i = 0; i < entries; ++i) {
        const uint8_t red = i < available ? table[i] : 0;
        const uint8_t green = 256 + i < available ? table[256 + i] : 0;
        const uint8_t blue = 512 + i < available ? table[512 + i] : 0;
        WriteEntry(palette + 4 * i, red, green, blue);
      }
      break;
    }
    default:
      LogLine(state->log, logtext::kPaletteUnknown, state->color_mode);
      break;
  }
  LocalUnlock(header_block);
}
