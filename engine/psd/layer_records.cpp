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
// Bytes read ahead at the least when the records' bytes come from a file.
const uint64_t kRecordPiece = 64 * 1024;

uint32_t AddressBits(const uint8_t* p) {
  return static_cast<uint32_t>(reinterpret_cast<uintptr_t>(p));
}

// The records' bytes: a view of a memory image, or for a file a block that
// grows as the records are parsed (the records parsed so far follow it).
struct RecordBytes {
  Source* source;
  uint64_t start;  // the document offset of data[0]
  const uint8_t* data;
  uint64_t held;  // bytes held from `start`
  uint8_t* block;
};

// Holds the document's bytes up to offset `end` where it has them.
Status Hold(RecordBytes* b, uint64_t end, LayerList* list) {
  if (b->block == nullptr && b->source->image != nullptr) return kDone;
  const uint64_t size = b->source->size;
  if (end > size) end = size;
  if (end <= b->start + b->held) return kDone;
  uint64_t want = end - b->start;
  if (want < 2 * b->held) want = 2 * b->held;
  if (want < kRecordPiece) want = kRecordPiece;
  if (want > size - b->start) want = size - b->start;
  uint8_t* block = static_cast<uint8_t*>(Allocate(want + kSpanSlack));
  if (block == nullptr) return kNoMemory;
  if (b->held != 0) memcpy(block, b->block, b->held);
  const uint64_t got = ReadFromFile(b->source, b->start + b->held,
                                    block + b->held, want - b->held);
  memset(block + b->held + got, 0, kSpanSlack);
  for (uint32_t i = 0; i < list->filled; ++i) {
    LayerRecord& r = list->records[i];
    r.channel_info = block + (r.channel_info - b->block);
    r.extra = block + (r.extra - b->block);
  }
  Release(b->block);
  b->block = block;
  b->data = block;
  b->held += got;
  return kDone;
}

// A pointer to the byte at offset `at` and how many are held from there.
const uint8_t* HeldAt(const RecordBytes& b, uint64_t at, uint64_t* left) {
  const uint64_t from = at - b.start;
  *left = from < b.held ? b.held - from : 0;
  return b.data + (from < b.held ? from : b.held);
}

void LogRecord(const Document* doc, uint32_t index, const uint8_t* r,
               uint64_t left, const LayerRecord& layer) {
  const uint32_t entry_bytes = ChannelEntryBytes(doc->version);
  const uint32_t length_bytes = ChannelLengthBytes(doc->version);
  uint32_t pairs[10];
  for (uint32_t k = 0; k < 5; ++k) {
    const uint64_t entry = 18 + entry_bytes * k;
    const bool has_id = left >= entry + 2;
    const bool has_length = left >= entry + 2 + length_bytes;
    pairs[2 * k] =
        has_id ? static_cast<uint32_t>(static_cast<int8_t>(r[entry + 1])) : 0;
    pairs[2 * k + 1] =
        has_length
            ? static_cast<uint32_t>(ReadLength(r + entry + 2, length_bytes))
            : 0;
  }
  LogLine(doc->log, logtext::kLayerRecord, index, AddressBits(r),
          layer.rect.left, layer.rect.top, layer.width, layer.height,
          layer.channel_count, pairs[0], pairs[1], pairs[2], pairs[3], pairs[4],
          pairs[5], pairs[6], pairs[7], pairs[8], pairs[9]);
}

bool MaskError(const Document* doc, const uint8_t* at) {
  LogLine(doc->log, logtext::kMaskError, AddressBits(at));
  return false;
}

// Parses the record at offset `*at` (logged when `log`) and moves `*at`
// behind it. False when the record is malformed or does not lie wholly
// inside the document.
bool ParseRecord(const Document* doc, uint32_t index, bool log,
                 RecordBytes* bytes, LayerList* list, uint64_t* at,
                 Status* status) {
  LayerRecord* layer = &list->records[index];
  const uint64_t r_at = *at;
  const uint32_t entry_bytes = ChannelEntryBytes(doc->version);
  *status = Hold(bytes, SaturatingAdd(r_at, 18 + 5 * entry_bytes), list);
  if (*status != kDone) return false;
  uint64_t left = 0;
  const uint8_t* r = HeldAt(*bytes, r_at, &left);
  if (left < 18) return MaskError(doc, r);
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
  if (log) LogRecord(doc, index, r, left, *layer);

  const int32_t channels = layer->channel_count;
  const uint64_t table_bytes =
      channels > 0 ? static_cast<uint64_t>(entry_bytes) * channels : 0;
  const uint64_t s_at = r_at + 18;
  *status = Hold(bytes, SaturatingAdd(s_at, table_bytes + kBlendFields), list);
  if (*status != kDone) return false;
  const uint8_t* s = HeldAt(*bytes, s_at, &left);
  if (channels < 0 || left < table_bytes + kBlendFields) {
    return MaskError(doc, s);
  }
  s += table_bytes;
  if (*s != 0x38) return MaskError(doc, s);
  const int32_t extra = static_cast<int32_t>(ReadU32(s + 12));
  const uint64_t extra_at = s_at + table_bytes + kBlendFields;
  *status = Hold(bytes, SaturatingAdd(extra_at, extra > 0 ? extra : 0), list);
  if (*status != kDone) return false;
  s = HeldAt(*bytes, s_at + table_bytes, &left);
  if (extra < 0 || left - kBlendFields < static_cast<uint64_t>(extra)) {
    return MaskError(doc, s);
  }

  layer->channel_info = HeldAt(*bytes, s_at, &left);
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
  if (log) LogLine(doc->log, logtext::kOpacity, layer->opacity);
  *at = extra_at + static_cast<uint64_t>(extra);
  return true;
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
                         uint64_t records, uint32_t logged) {
  list->records = nullptr;
  list->record_bytes = nullptr;
  list->count = count;
  list->filled = 0;
  if (count > 0) {
    list->records = AllocateZeroedArray<LayerRecord>(count);
    if (list->records == nullptr) return kNoMemory;
  }
  const uint64_t size = DocumentSize(doc);
  uint64_t at = records <= size ? records : size;
  RecordBytes bytes = {doc->source, at, nullptr, 0, nullptr};
  if (doc->source->image != nullptr) {
    bytes.data = doc->source->image + at;
    bytes.held = size - at;
  }
  Status status = kDone;
  for (uint32_t i = 0; i < count; ++i) {
    if (!ParseRecord(doc, i, i < logged, &bytes, list, &at, &status)) break;
    list->filled = i + 1;
  }
  list->record_bytes = bytes.block;
  if (status != kDone) return status;
  // A listing's summary: the records it did not log.
  if (logged != 0 && count > logged) {
    LogLine(doc->log, logtext::kMoreLayerRecords, count - logged);
  }
  uint64_t left = 0;
  LogLine(doc->log, logtext::kLayerImage,
          AddressBits(HeldAt(bytes, at, &left)));
  // Each layer's channel data follows that of every layer before it.
  list->channel_data = at;
  uint64_t offset = list->channel_data;
  for (uint32_t i = 0; i < list->filled; ++i) {
    list->records[i].data_offset = offset;
    offset = SaturatingAdd(offset, list->records[i].channel_total);
  }
  return kDone;
}

void LogLayerRecord(const Document* doc, const LayerList* list,
                    uint32_t index) {
  if (index >= list->filled) return;
  const LayerRecord& layer = list->records[index];
  const uint8_t* r = layer.channel_info - 18;
  LogRecord(doc, index, r,
            18 + ChannelEntryBytes(doc->version) *
                     static_cast<uint64_t>(layer.channel_count),
            layer);
  LogLine(doc->log, logtext::kOpacity, layer.opacity);
}

void ReleaseLayerRecords(LayerList* list) {
  Release(list->records);
  Release(list->record_bytes);
  list->records = nullptr;
  list->record_bytes = nullptr;
}

}  // namespace engine
