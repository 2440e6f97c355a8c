// Layer records of the Layer and Mask Information section.
//
// A record: top, left, bottom, right (4 bytes each), the channel count (2),
// 6 bytes per channel (identifier, data length), the blend-mode signature
// "8BIM" and key, opacity, clipping, flags, filler, then the extra data
// length E and E bytes of extra data (mask data first, then blending
// ranges, the name and additional information).
#include "common/log.h"
#include "engine/bytes.h"
#include "engine/engine.h"

namespace {

uint32_t AddressBits(const uint8_t* p) {
  return static_cast<uint32_t>(reinterpret_cast<uintptr_t>(p));
}

// Reads a 32-bit value, or 0 where it does not lie within the document.
uint32_t ReadU32Within(const uint8_t* p, const uint8_t* end) {
  return BytesLeft(p, end) >= 4 ? ReadU32(p) : 0;
}

void LogRecord(uint32_t index, const uint8_t* r, const uint8_t* end,
               const LayerRecord& layer) {
  uint32_t pairs[10];
  for (int k = 0; k < 5; ++k) {
    const uint8_t* id = r + 19 + 6 * k;
    pairs[2 * k] = BytesLeft(id, end) >= 1
                       ? static_cast<uint32_t>(static_cast<int8_t>(*id))
                       : 0;
    pairs[2 * k + 1] = ReadU32Within(id + 1, end);
  }
  LogMessage(
      "Layer #%d: %x (%d, %d)[%d, %d] channel: "
      "%d(%x-%x,%x-%x,%x-%x,%x-%x,%x-%x)",
      index, AddressBits(r), layer.left, layer.top, layer.width, layer.height,
      layer.channel_count, pairs[0], pairs[1], pairs[2], pairs[3], pairs[4],
      pairs[5], pairs[6], pairs[7], pairs[8], pairs[9]);
}

// Parses one record at r. Returns the next record's first byte, or null
// when the record is malformed or does not lie wholly inside the document.
const uint8_t* ParseRecord(uint32_t index, const uint8_t* r, const uint8_t* end,
                           LayerRecord* layer) {
  if (BytesLeft(r, end) < 18) {
    LogMessage("mask error: %x", AddressBits(r));
    return nullptr;
  }
  layer->top = static_cast<int32_t>(ReadU32(r));
  layer->left = static_cast<int32_t>(ReadU32(r + 4));
  layer->bottom = static_cast<int32_t>(ReadU32(r + 8));
  layer->right = static_cast<int32_t>(ReadU32(r + 12));
  layer->width = static_cast<int32_t>(static_cast<uint32_t>(layer->right) -
                                      static_cast<uint32_t>(layer->left));
  layer->height = static_cast<int32_t>(static_cast<uint32_t>(layer->bottom) -
                                       static_cast<uint32_t>(layer->top));
  layer->channel_count = static_cast<int16_t>(ReadU16(r + 16));
  LogRecord(index, r, end, *layer);

  const int32_t channels = layer->channel_count;
  const uint64_t table_bytes = channels > 0 ? 6ull * channels : 0;
  const uint8_t* s = r + 18;
  if (channels < 0 || BytesLeft(s, end) < table_bytes + 16) {
    LogMessage("mask error: %x", AddressBits(s));
    return nullptr;
  }
  s += table_bytes;
  if (*s != 0x38) {
    LogMessage("mask error: %x", AddressBits(s));
    return nullptr;
  }
  const int32_t extra = static_cast<int32_t>(ReadU32(s + 12));
  if (extra < 0 || BytesLeft(s + 16, end) < static_cast<uint64_t>(extra)) {
    LogMessage("mask error: %x", AddressBits(s));
    return nullptr;
  }

  layer->channel_info = r + 18;
  layer->channel_total = 0;
  for (int32_t k = 0; k < channels; ++k) {
    const uint8_t* entry = r + 18 + 6 * k;
    const uint32_t length = ReadU32(entry + 2);
    layer->channel_total += length;
    if (k < 8) {
      layer->channel_id[k] = static_cast<int8_t>(entry[1]);
      layer->channel_length[k] = length;
    }
  }
  const uint32_t mask_length = extra >= 4 ? ReadU32(s + 16) : 0;
  layer->has_mask = mask_length != 0 ? 1 : 0;
  if (mask_length != 0 && extra >= 20) {
    layer->mask_top = static_cast<int32_t>(ReadU32(s + 20));
    layer->mask_left = static_cast<int32_t>(ReadU32(s + 24));
    layer->mask_bottom = static_cast<int32_t>(ReadU32(s + 28));
    layer->mask_right = static_cast<int32_t>(ReadU32(s + 32));
  }
  LogMessage("Opacity: %d", s[8]);
  return s + 16 + extra;
}

}  // namespace

int32_t ParseLayerRecords(LayerList* list, uint32_t count,
                          const uint8_t* cursor, const uint8_t* file_end) {
  list->records = nullptr;
  list->count = count;
  list->filled = 0;
  if (count > 0) {
    const SIZE_T bytes = static_cast<SIZE_T>(count) * sizeof(LayerRecord);
    list->records =
        static_cast<LayerRecord*>(HeapAlloc(GetProcessHeap(), 0, bytes));
    if (list->records == nullptr) return kResultNoMemory;
    memset(list->records, 0, bytes);
  }
  // The first record follows the layer info length and the layer count.
  const uint8_t* r = BytesLeft(cursor, file_end) >= 6 ? cursor + 6 : file_end;
  for (uint32_t i = 0; i < count; ++i) {
    const uint8_t* next = ParseRecord(i, r, file_end, &list->records[i]);
    if (next == nullptr) break;
    list->filled = i + 1;
    r = next;
  }
  LogMessage("Layer image: %x", AddressBits(r));
  list->channel_data = r;
  return kResultOk;
}

void ReleaseLayerRecords(LayerList* list) {
  if (list->records != nullptr) HeapFree(GetProcessHeap(), 0, list->records);
  list->records = nullptr;
}
