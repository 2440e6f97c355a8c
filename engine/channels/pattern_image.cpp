// Pattern blocks: patterns one after another, each a 4-byte length (the
// pattern padded to 4 bytes), then version 1 (4 bytes), the image mode (4),
// height and width (2 each), the name (a Unicode string: a 4-byte count of
// UTF-16 units), the identifier (a Pascal string), for indexed images a
// 768-byte palette and 4 more bytes, then a virtual memory array list:
// version 3 (4), a length (4), the rectangle (top, left, bottom, right; 4
// each), the channel count (4), and that many channels and two more. Each
// channel: written (4; 0: nothing follows), a length (4; 0: nothing
// follows), the depth (4), the rectangle (16), the pixel depth (2), the
// compression (1: 0 raw, 1 PackBits with 2-byte row counts), then the data.
// The colour channels come first, the one written after them is alpha.
#include "engine/channels/pattern_image.h"

#include "engine/base/bytes.h"
#include "engine/base/limits.h"
#include "engine/base/memory.h"
#include "engine/base/numbers.h"
#include "engine/channels/channel_reader.h"

namespace engine {
namespace {

const uint32_t kMaxChannels = 8;

struct PatternChannel {
  uint64_t data;  // the compressed rows (PackBits: their counts first)
  uint64_t end;
  uint16_t compression;
  uint32_t sample_size;
};

struct PatternLayout {
  uint32_t mode;
  uint32_t width;
  uint32_t height;
  const uint8_t* palette;  // indexed images: 256 x red, green, blue
  uint32_t channel_count;  // written channels
  PatternChannel channels[kMaxChannels];
};

// The channels of the array list at p (`base`: its offset in the document).
bool ReadArrayList(const uint8_t* p, const uint8_t* end, uint64_t base,
                   const uint8_t* start, PatternLayout* layout) {
  if (BytesLeft(p, end) < 28 || ReadU32(p) != 3) return false;
  const uint32_t count = ReadU32(p + 24);
  p += 28;
  for (uint32_t k = 0; k < count + 2 && count < 64; ++k) {
    if (BytesLeft(p, end) < 4) return false;
    if (ReadU32(p) == 0) {
      p += 4;
      continue;
    }
    if (BytesLeft(p, end) < 8) return false;
    const uint32_t length = ReadU32(p + 4);
    p += 8;
    if (length == 0) continue;
    if (length < 23 || BytesLeft(p, end) < length) return false;
    const uint32_t depth = ReadU16(p + 20);
    const uint8_t compression = p[22];
    const uint32_t top = ReadU32(p + 4), left = ReadU32(p + 8);
    const uint32_t bottom = ReadU32(p + 12), right = ReadU32(p + 16);
    if ((depth != 8 && depth != 16 && depth != 32) || compression > 1 ||
        bottom - top != layout->height || right - left != layout->width) {
      return false;
    }
    if (layout->channel_count < kMaxChannels) {
      PatternChannel& c = layout->channels[layout->channel_count++];
      c.data = base + static_cast<uint64_t>(p + 23 - start);
      c.end = base + static_cast<uint64_t>(p + length - start);
      c.compression = compression;
      c.sample_size = depth / 8;
    }
    p += length;
  }
  return true;
}

// The pattern at p, when its identifier is `id`.
bool ReadPattern(const uint8_t* p, const uint8_t* end, uint64_t base,
                 const uint8_t* start, const char* id, uint32_t id_length,
                 PatternLayout* layout) {
  if (BytesLeft(p, end) < 16 || ReadU32(p) != 1) return false;
  memset(layout, 0, sizeof(*layout));
  layout->mode = ReadU32(p + 4);
  layout->height = ReadU16(p + 8);
  layout->width = ReadU16(p + 10);
  const uint64_t name = 4 + 2ull * ReadU32(p + 12);
  p += 12;
  if (BytesLeft(p, end) < name + 1) return false;
  p += name;
  const uint32_t n = *p;
  if (BytesLeft(p + 1, end) < n || n != id_length ||
      memcmp(p + 1, id, n) != 0) {
    return false;
  }
  p += 1 + n;
  if (layout->mode == kModeIndexed) {
    if (BytesLeft(p, end) < 772) return false;
    layout->palette = p;
    p += 772;
  }
  return ReadArrayList(p, end, base, start, layout);
}

// The pattern of identifier `id` among the block's patterns.
bool FindInBlock(const Span& block, uint64_t base, const char* id,
                 uint32_t id_length, PatternLayout* layout) {
  const uint8_t* p = block.data;
  const uint8_t* end = block.data + block.length;
  while (BytesLeft(p, end) >= 4) {
    const uint64_t length = ReadU32(p);
    if (BytesLeft(p + 4, end) < length) return false;
    if (ReadPattern(p + 4, p + 4 + length, base, block.data, id, id_length,
                    layout)) {
      return true;
    }
    p += 4 + ((length + 3) & ~3ull);
  }
  return false;
}

// Decodes channel k into plane `out` (width x height bytes).
Status DecodeChannel(const Document* doc, const PatternLayout& layout,
                     uint32_t k, uint8_t* out) {
  const PatternChannel& c = layout.channels[k];
  ChannelSpec spec;
  memset(&spec, 0, sizeof(spec));
  spec.compression = c.compression;
  spec.version = 1;
  spec.sample_size = c.sample_size;
  spec.samples = layout.width;
  spec.rows = layout.height;
  spec.counts = c.data;
  spec.data = c.compression == 1 ? c.data + 2ull * layout.height : c.data;
  spec.end = c.end;
  ChannelReader reader;
  const Status status = OpenChannel(&reader, doc->source, spec);
  if (status != kDone) return status;
  for (uint32_t y = 0; y < layout.height; ++y) {
    const uint8_t* row = ReadChannelRow(&reader);
    uint8_t* o = out + static_cast<uint64_t>(y) * layout.width;
    if (row != nullptr) {
      memcpy(o, row, layout.width);
    } else {
      memset(o, 0, layout.width);
    }
  }
  CloseChannel(&reader);
  return kDone;
}

// The decoded planes as blue, green, red, alpha.
void Assemble(const PatternLayout& layout, const uint8_t* planes,
              uint32_t colours, uint8_t* pixels) {
  const uint64_t n = static_cast<uint64_t>(layout.width) * layout.height;
  const bool alpha = layout.channel_count > colours;
  for (uint64_t i = 0; i < n; ++i) {
    uint8_t* px = pixels + 4 * i;
    const uint8_t v0 = planes[i];
    if (layout.palette != nullptr) {
      const uint8_t* rgb = layout.palette + 3 * v0;
      px[0] = rgb[2], px[1] = rgb[1], px[2] = rgb[0];
    } else if (colours == 1) {
      px[0] = px[1] = px[2] = v0;
    } else if (colours == 4) {  // ink: the plain conversion
      const uint32_t k = 255 - planes[3 * n + i];
      for (uint32_t c = 0; c < 3; ++c) {
        px[2 - c] = static_cast<uint8_t>(MulDiv255(255 - planes[c * n + i], k));
      }
    } else {
      px[0] = planes[2 * n + i], px[1] = planes[n + i], px[2] = v0;
    }
    px[3] = alpha ? planes[colours * n + i] : 255;
  }
}

uint32_t ColourChannels(uint32_t mode) {
  switch (mode) {
    case kModeRgb:
      return 3;
    case kModeCmyk:
      return 4;
    case kModeGrayscale:
    case kModeIndexed:
      return 1;
    default:
      return 0;
  }
}

}  // namespace

Status LoadPattern(const Document* doc, const char* id, uint32_t length,
                   PatternImage* pattern) {
  memset(pattern, 0, sizeof(*pattern));
  PatternLayout layout;
  bool found = false;
  for (uint32_t b = 0; b < doc->pattern_block_count && !found; ++b) {
    const PatternBlock& block = doc->pattern_blocks[b];
    Span span;
    const Status read = ReadSpan(doc->source, block.at, block.length, &span);
    if (read != kDone) return read;
    found = FindInBlock(span, block.at, id, length, &layout);
    ReleaseSpan(&span);
  }
  const uint32_t colours = ColourChannels(layout.mode);
  const uint64_t n = static_cast<uint64_t>(layout.width) * layout.height;
  if (!found || colours == 0 || layout.channel_count < colours || n == 0 ||
      layout.width > kLimits.max_pattern_side ||
      layout.height > kLimits.max_pattern_side ||
      !PictureFitsDocument(4 * n, DocumentSize(doc), false)) {
    return kDone;
  }
  const uint32_t planes_count =
      layout.channel_count > colours ? colours + 1 : colours;
  uint8_t* planes = static_cast<uint8_t*>(Allocate(n * planes_count));
  pattern->pixels = static_cast<uint8_t*>(Allocate(4 * n));
  Status status =
      planes != nullptr && pattern->pixels != nullptr ? kDone : kNoMemory;
  for (uint32_t k = 0; k < planes_count && status == kDone; ++k) {
    status = DecodeChannel(doc, layout, k, planes + k * n);
  }
  if (status == kDone) {
    Assemble(layout, planes, colours, pattern->pixels);
    pattern->width = layout.width;
    pattern->height = layout.height;
  } else {
    ReleasePattern(pattern);
  }
  Release(planes);
  return status;
}

void ReleasePattern(PatternImage* pattern) {
  Release(pattern->pixels);
  memset(pattern, 0, sizeof(*pattern));
}

}  // namespace engine
