// The output bitmap's header: bit count by colour mode and depth, row sizes,
// and the palette.
#include "engine/base/bytes.h"
#include "engine/base/log_messages.h"
#include "engine/serve/serve.h"

namespace engine {
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
  header->biXPelsPerMeter = kDefaultPixelsPerMetre;
  header->biYPelsPerMeter = kDefaultPixelsPerMetre;
}

Status ChooseOutputFormat(ServeState* s) {
  const Document* doc = &s->doc;
  OutputFormat* format = &s->format;
  BITMAPINFOHEADER* header = &s->header;
  uint32_t bit_count;
  if (!IsCommonDepth(doc->depth)) {
    bit_count = 1;
    format->sample_step = 1;
  } else if (doc->color_mode == kModeGrayscale ||
             doc->color_mode == kModeIndexed) {
    bit_count = 8;
    format->sample_step = 1;
  } else {
    bit_count = 24;
    format->sample_step = 3;
  }
  if (doc->color_mode == kModeCmyk) {  // whatever the depth
    bit_count = 32;
    format->sample_step = 4;
  }

  header->biWidth = static_cast<LONG>(doc->width);
  header->biHeight = static_cast<LONG>(doc->height);
  const uint64_t width = doc->width;
  const uint64_t height = doc->height;
  const uint64_t row_bytes =
      bit_count < 8 ? (width + 7) / 8 : width * (bit_count / 8);
  const uint64_t stride = PadTo4(row_bytes);
  const uint64_t image_size = stride * height;
  format->palette_bytes = bit_count <= 8 ? 4u << bit_count : 0;
  header->biBitCount = static_cast<WORD>(bit_count);
  if (image_size > 0xFFFFFFFFu) return kTooLarge;
  format->row_bytes = static_cast<uint32_t>(row_bytes);
  format->stride = static_cast<uint32_t>(stride);
  header->biSizeImage = static_cast<DWORD>(image_size);
  return kDone;
}

Status BuildPalette(const ServeState* s, HLOCAL header_block) {
  const Document* doc = &s->doc;
  // An indexed document's table: 256 reds, greens and blues behind the
  // Color Mode Data length; entries the document does not hold stay black.
  Span table = {nullptr, 0, nullptr};
  if (doc->color_mode == kModeIndexed) {
    const Status read = ReadSpan(doc->source, 30, 768, &table);
    if (read != kDone) return read;
  }
  uint8_t* block = static_cast<uint8_t*>(LocalLock(header_block));
  uint8_t* palette = block + 40;
  const uint32_t entries = s->format.palette_bytes / 4;
  switch (doc->color_mode) {
    case kModeBitmap:
      LogLine(doc->log, logtext::kPaletteBitmap);
      WriteEntry(palette, 255, 255, 255);
      WriteEntry(palette + 4, 0, 0, 0);
      break;
    case kModeGrayscale:
      LogLine(doc->log, logtext::kPaletteGray);
      for (uint32_t i = 0; i < entries; ++i) {
        const uint8_t v = static_cast<uint8_t>(i);
        WriteEntry(palette + 4 * i, v, v, v);
      }
      break;
    case kModeIndexed: {
      LogLine(doc->log, logtext::kPaletteIndex);
      const uint8_t* t = table.data;
      const uint64_t available = table.length;
      for (uint32_t i = 0; i < entries; ++i) {
        const uint8_t red = i < available ? t[i] : 0;
        const uint8_t green = 256 + i < available ? t[256 + i] : 0;
        const uint8_t blue = 512 + i < available ? t[512 + i] : 0;
        WriteEntry(palette + 4 * i, red, green, blue);
      }
      break;
    }
    default:
      LogLine(doc->log, logtext::kPaletteUnknown, doc->color_mode);
      break;
  }
  LocalUnlock(header_block);
  ReleaseSpan(&table);
  return kDone;
}

}  // namespace engine
