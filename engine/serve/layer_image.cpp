// The picture of one layer, from the layers' channel image data.
//
// Channel image data: for each layer in record order, for each of its
// channels in record order, a 2-byte compression word and the channel's
// rows; each channel's total size, the word included, is its length in the
// layer record. Every channel is found from those lengths, so a channel the
// decoder does not place (a layer mask, a spot channel) is stepped over and
// no channel's bytes are read as another's.
#include "engine/base/bytes.h"
#include "engine/channels/channel_reader.h"
#include "engine/psd/document.h"
#include "engine/psd/format.h"
#include "engine/base/log_messages.h"
#include "engine/channels/rows.h"

namespace {

// Output slots of the channels a layer picture holds.
enum Slot { kSlotRed, kSlotGreen, kSlotBlue, kSlotBlack, kSlotAlpha, kSlots };

// The slot a channel fills, or -1 when the picture has no place for it.
int32_t SlotForChannel(const LayerPlan& plan, int32_t id) {
  if (id == -1) return plan.bytes_per_pixel == 4 ? kSlotAlpha : -1;
  if (id < 0) return -1;
  if (plan.cmyk) return id <= 3 ? id : -1;
  return id <= 2 ? id : -1;
}

// The layer's channels by slot: an open reader, or the value the slot's
// bytes take where no channel is read.
struct LayerChannels {
  bool active[kSlots];
  uint8_t fill[kSlots];
  int32_t number[kSlots];  // the channel's place in the record
  ChannelReader readers[kSlots];
};

void CloseLayerChannels(LayerChannels* c) {
  for (int s = 0; s < kSlots; ++s) {
    if (c->active[s]) CloseChannel(&c->readers[s]);
    c->active[s] = false;
  }
}

// Finds the channel of every slot (a later channel of the same slot takes
// its place) and logs every channel, then opens one reader a slot.
Status OpenLayerChannels(const DecodeState* state, const LayerRecord& layer,
                         uint32_t index, const LayerPlan& plan, uint32_t width,
                         uint32_t height, LayerChannels* c) {
  memset(c, 0, sizeof(*c));
  const uint8_t* base = state->file_base;
  const uint8_t* end = state->file_end;
  const uint64_t size = DocumentSize(state);
  const uint8_t* found[kSlots] = {};
  uint64_t found_end[kSlots] = {};
  int32_t found_number[kSlots] = {};
  uint64_t offset = static_cast<uint64_t>(plan.data - base);
  for (int32_t k = 0; k < layer.channel_count; ++k) {
    const ChannelEntry entry = ChannelAt(state, layer, k);
    const uint8_t* at = offset < size ? base + offset : end;
    const uint16_t word = BytesLeft(at, end) >= 2 ? ReadU16(at) : 0;
    LogLine(state->log, logtext::kLayerChannel, index, k,
            static_cast<uint32_t>(offset), word);
    const uint64_t channel_end = SaturatingAdd(offset, entry.length);
    offset = channel_end;
    const int32_t slot = SlotForChannel(plan, entry.id);
    if (slot < 0 || BytesLeft(at, end) < 2) continue;
    found[slot] = at;
    found_end[slot] = channel_end;
    found_number[slot] = k;
    c->fill[slot] = 0;
    if (!ChannelCompressionKnown(word)) {
      LogLine(state->log, logtext::kCompressionError, word,
              static_cast<uint32_t>(at + 2 - base));
      found[slot] = nullptr;
      if (slot == kSlotAlpha) c->fill[slot] = 255;
    }
  }
  if (plan.bytes_per_pixel == 4 && !plan.has_alpha) c->fill[kSlotAlpha] = 255;
  for (int s = 0; s < kSlots; ++s) {
    if (found[s] == nullptr) continue;
    const Status opened = OpenChannel(
        &c->readers[s],
        LayerChannelSpec(state, found[s], found_end[s], width, height));
    if (opened != kDone) {
      CloseLayerChannels(c);
      return opened;
    }
    c->active[s] = true;
    c->number[s] = found_number[s];
  }
  return kDone;
}

// A zip channel whose stream ended before its rows: where and why.
void LogZipFaults(const DecodeState* state, uint32_t index,
                  const LayerChannels& c) {
  for (int s = 0; s < kSlots; ++s) {
    if (!c.active[s] || ChannelZipError(&c.readers[s]) == 0) continue;
    const uint64_t stop =
        static_cast<uint64_t>(c.readers[s].spec.data - state->file_base) +
        ChannelConsumed(&c.readers[s]);
    LogLine(state->log, logtext::kLayerZipError, index, c.number[s],
            ChannelZipError(&c.readers[s]), static_cast<uint32_t>(stop));
  }
}

// Writes one output row of the layer picture from the slots' rows.
void ComposeLayerRow(const LayerPlan& plan, uint32_t width,
                     const uint8_t* const* rows, uint8_t* dst,
                     uint32_t stride) {
  const uint32_t e = plan.bytes_per_pixel;
  if (e == 1) {
    memcpy(dst, rows[kSlotRed], width);
  } else {
    const uint8_t* r = rows[kSlotRed];
    const uint8_t* g = plan.gray ? r : rows[kSlotGreen];
    const uint8_t* b = plan.gray ? r : rows[kSlotBlue];
    const uint8_t* k = rows[kSlotBlack];
    const uint8_t* a = rows[kSlotAlpha];
    for (uint32_t x = 0; x < width; ++x) {
      uint8_t* px = dst + e * x;
      if (plan.cmyk) {
        CmykToBgr(r[x], g[x], b[x], k[x], px);
      } else if (plan.lab) {
        LabToBgr(r[x], g[x], b[x], px);
      } else {
        px[0] = b[x];
        px[1] = g[x];
        px[2] = r[x];
      }
      if (e == 4) {
        px[3] = a[x];
        // Fully transparent pixels show white.
        if (a[x] == 0) px[0] = px[1] = px[2] = 255;
      }
    }
  }
  const uint32_t used = e * width;
  memset(dst + used, 0, stride - used);
}

// Decodes every row into the pixel block. `fills` holds a row of zeros and
// a row of 255s for the slots no channel reaches.
void DecodeLayerRows(const LayerPlan& plan, uint32_t width, uint32_t height,
                     LayerChannels* c, const uint8_t* fills, uint8_t* pixels) {
  for (uint32_t y = 0; y < height; ++y) {
    const uint8_t* rows[kSlots];
    for (int s = 0; s < kSlots; ++s) {
      const uint8_t* row =
          c->active[s] ? ReadChannelRow(&c->readers[s]) : nullptr;
      rows[s] = row != nullptr ? row : fills + (c->fill[s] != 0 ? width : 0);
    }
    uint8_t* dst = pixels + static_cast<uint64_t>(height - 1 - y) * plan.stride;
    ComposeLayerRow(plan, width, rows, dst, plan.stride);
  }
}

}  // namespace

Status DecodeLayerImage(DecodeRequest* request, const DecodeState* state,
                        const LayerList* list, const BITMAPINFOHEADER* header) {
  const uint32_t index = request->entry_index - 1;
  if (list->count == 0 || index >= list->count) return kNotServed;
  LayerPlan plan;
  PlanLayer(state, list, index, LayerDataOffset(state, list, index), &plan);
  if (!plan.has_picture) return kNotServed;
  const LayerRecord& layer = list->records[index];
  const uint32_t width =
      plan.image_size != 0 ? static_cast<uint32_t>(layer.width) : 0;
  const uint32_t height =
      plan.image_size != 0 ? static_cast<uint32_t>(layer.height) : 0;

  LayerChannels channels;
  const Status opened =
      OpenLayerChannels(state, layer, index, plan, width, height, &channels);
  if (opened != kDone) return opened;
  if (request->pixels_slot == nullptr) {
    CloseLayerChannels(&channels);
    return kNotServed;
  }
  HLOCAL block = LocalAlloc(LMEM_FIXED, plan.image_size);
  uint8_t* fills = static_cast<uint8_t*>(
      HeapAlloc(GetProcessHeap(), 0, 2 * static_cast<SIZE_T>(width) + 1));
  if (block == nullptr || fills == nullptr) {
    if (block != nullptr) LocalFree(block);
    if (fills != nullptr) HeapFree(GetProcessHeap(), 0, fills);
    CloseLayerChannels(&channels);
    return kNoMemory;
  }
  memset(fills, 0, width);
  memset(fills + width, 255, width);
  DecodeLayerRows(plan, width, height, &channels, fills,
                  static_cast<uint8_t*>(LocalLock(block)));
  LocalUnlock(block);
  HeapFree(GetProcessHeap(), 0, fills);
  LogZipFaults(state, index, channels);
  CloseLayerChannels(&channels);

  BITMAPINFOHEADER layer_header = *header;
  layer_header.biWidth = layer.width;
  layer_header.biHeight = layer.height;
  layer_header.biBitCount = static_cast<WORD>(8 * plan.bytes_per_pixel);
  layer_header.biSizeImage = plan.image_size;
  memcpy(LocalLock(*request->header_slot), &layer_header, sizeof(layer_header));
  LocalUnlock(*request->header_slot);
  request->image_size = plan.image_size;
  *request->pixels_slot = block;
  return kDone;
}
