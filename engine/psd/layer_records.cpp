// Layer records of the Layer and Mask Information section.
//
// A record: top, left, bottom, right (4 bytes each), the channel count (2),
// a channel table entry per channel (identifier and data length), the
// blend-mode signature "8BIM" and key, opacity, clipping, flags, filler,
// then the extra data length E and E bytes of extra data (mask data first,
// then blending ranges, the name and additional information).
#include "engine/base/bytes.h"
#include "engine/base/log_messages.h"
#include "engine/base/memory.h"
#include "engine/psd/document.h"
#include "engine/psd/format.h"

namespace engine {
namespace {

// Bytes from the channel table's end to the extra data.
const uint32_t kBlendFields = 16;

uint32_t AddressBits(const uint8_t* p) {
  return static_cast<uint32_t>(reinterpret_cast<uintptr_t>(p));
}

void LogRecord(const Document* doc, uint32_t index, const uint8_t* r,
               const LayerRecord& layer) {
  const uint32_t entry_bytes = ChannelEntryBytes(doc->version);
  const uint32_t length_bytes = ChannelLengthBytes(doc->version);
  uint32_t pairs[10];
  for (uint32_t k = 0; k < 5; ++k) {
    const uint8_t* entry = r + 18 + entry_bytes * k;
    const bool has_id = BytesLeft(entry + 1, doc->file_end) >= 1;
    const bool has_length = BytesLeft(entry + 2, doc->file_end) >= length_bytes;
    pairs[2 * k] =
        has_id ? static_cast<uint32_t>(static_cast<int8_t>(entry[1])) : 0;
    pairs[2 * k + 1] =
        has_length ? static_cast<uint32_t>(ReadLength(entry + 2, length_bytes))
                   : 0;
  }
  LogLine(doc->log, logtext::kLayerRecord, index, AddressBits(r),
          layer.rect.left, layer.rect.top, layer.width, layer.height,
          layer.channel_count, pairs[0], pairs[1], pairs[2], pairs[3], pairs[4],
          pairs[5], pairs[6], pairs[7], pairs[8], pairs[9]);
}

const uint8_t* MaskError(const Document* doc, const uint8_t* at) {
  LogLine(doc->log, logtext::kMaskError, AddressBits(at));
  return nullptr;
}

// Parses one record at r. Returns the next record's first byte, or null
// when the record is malformed or does not lie wholly inside the document.
const uint8_t* ParseRecord(const Document* doc, uint32_t index,
                           const uint8_t* r, LayerRecord* layer) {
  const uint8_t* end = doc->file_end;
  if (BytesLeft(r, end) < 18) return MaskError(doc, r);
  PixelRect& rect = layer->rect;
  rect.top = static_cast<int32_t>(ReadU32(r));
  rect.left = static_cast<int32_t>(ReadU32(r + 4));
  rect.bottom = static_cast<int32_t>(ReadU32(r + 8));
  rect.right = static_cast<int32_t>(ReadU32(r + 12));
  layer->width = static_cast<int32_t>(static_cast<uint32_t>(rect.right) -
                                      static_cast<uint32_t>(rect.left));
  layer->height = static_cast<int32_t>(static_cast<uint32_t>(rect.bottom) -
                                       static_cast<uint32_t>(rect.top));
  layer->channel_count = static_cast<int16_t>(ReadU16(r + 16));
  LogRecord(doc, index, r, *layer);

  const int32_t channels = layer->channel_count;
  const uint64_t table_bytes =
      channels > 0
          ? static_cast<uint64_t>(ChannelEntryBytes(doc->version)) * channels
          : 0;
  const uint8_t* s = r + 18;
  if (channels < 0 || BytesLeft(s, end) < table_bytes + kBlendFields) {
    return MaskError(doc, s);
  }
  s += table_bytes;
  if (*s != 0x38) return MaskError(doc, s);
  const int32_t extra = static_cast<int32_t>(ReadU32(s + 12));
  if (extra < 0 ||
      BytesLeft(s + kBlendFields, end) < static_cast<uint64_t>(extra)) {
    return MaskError(doc, s);
  }

  layer->channel_info = r + 18;
  layer->channel_total = 0;
  for (int32_t k = 0; k < channels; ++k) {
    layer->channel_total =
        SaturatingAdd(layer->channel_total, ChannelAt(doc, *layer, k).length);
  }
  memcpy(layer->blend_key, s + 4, 4);
  layer->opacity = s[8];
  layer->clipping = s[9];
  layer->flags = s[10];
  layer->extra = s + kBlendFields;
  layer->extra_length = static_cast<uint32_t>(extra);
  layer->has_mask = extra >= 4 && ReadU32(layer->extra) != 0;
  LogLine(doc->log, logtext::kOpacity, layer->opacity);
  return s + kBlendFields + extra;
}

}  // namespace

ChannelEntry ChannelAt(const Document* doc, const LayerRecord& layer,
                       int32_t k) {
  const uint8_t* entry =
      layer.channel_info + ChannelEntryBytes(doc->version) * k;
  ChannelEntry c;
  c.id = static_cast<int16_t>(ReadU16(entry));
  c.length = ReadLength(entry + 2, ChannelLengthBytes(doc->version));
  return c;
}

Status ParseLayerRecords(const Document* doc, LayerList* list, uint32_t count,
                         uint64_t records) {
  list->records = nullptr;
  list->count = count;
  list->filled = 0;
  if (count > 0) {
    list->records = AllocateZeroedArray<LayerRecord>(count);
    if (list->records == nullptr) return kNoMemory;
  }
  const uint8_t* r =
      records <= DocumentSize(doc) ? doc->file_base + records : doc->file_end;
  for (uint32_t i = 0; i < count; ++i) {
    const uint8_t* next = ParseRecord(doc, i, r, &list->records[i]);
    if (next == nullptr) break;
    list->filled = i + 1;
    r = next;
  }
  LogLine(doc->log, logtext::kLayerImage, AddressBits(r));
  // Each layer's channel data follows that of every layer before it.
  list->channel_data = static_cast<uint64_t>(r - doc->file_base);
  uint64_t offset = list->channel_data;
  for (uint32_t i = 0; i < list->filled; ++i) {
    list->records[i].data_offset = offset;
    offset = SaturatingAdd(offset, list->records[i].channel_total);
  }
  return kDone;
}

void ReleaseLayerRecords(LayerList* list) {
  Release(list->records);
  list->records = nullptr;
}

}  // namespace engine
