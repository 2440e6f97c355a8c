// The picture of one layer, from the layers' channel image data.
//
// Channel image data: for each layer in record order, for each of its
// channels in record order, a 2-byte compression word (0 raw, 1 PackBits)
// and the channel's rows; each channel's total size, the word included, is
// its length in the layer record. Every channel is found from those lengths,
// so a channel the decoder does not place (a layer mask, a spot channel) is
// stepped over and no channel's bytes are read as another's.
#include "common/log.h"
#include "engine/bytes.h"
#include "engine/engine.h"
#include "engine/rows.h"

namespace {

// Output slots of the channels a layer picture holds.
enum Slot { kSlotRed, kSlotGreen, kSlotBlue, kSlotBlack, kSlotAlpha, kSlots };

struct ChannelEntry {
  int32_t id;
  uint32_t length;
};

ChannelEntry ChannelAt(const LayerRecord& layer, int32_t k) {
  const uint8_t* entry = layer.channel_info + 6 * k;
  ChannelEntry c;
  c.id = static_cast<int8_t>(entry[1]);
  c.length = ReadU32(entry + 2);
  return c;
}

bool IsMaskChannel(int32_t id) { return id == -2 || id == -3; }

// The slot a channel fills, or -1 when the picture has no place for it.
int32_t SlotForChannel(const LayerPlan& plan, int32_t id) {
  if (id == -1) return plan.bytes_per_pixel == 4 ? kSlotAlpha : -1;
  if (id < 0) return -1;
  if (plan.cmyk) return id <= 3 ? id : -1;
  return id <= 2 ? id : -1;
}

// One channel's reading state while rows are decoded.
struct ChannelReader {
  bool active;
  uint16_t compression;
  const uint8_t* position;  // raw: next row; PackBits: packed read position
  const uint8_t* table;     // PackBits: next row byte count
  const uint8_t* end;       // the channel's data ends here (or the document)
  uint8_t fill;             // value of bytes the channel does not reach
};

// Decodes the next row of one channel into `row` (width samples).
void ReadChannelRow(ChannelReader* c, uint32_t width, uint32_t sample_size,
                    uint8_t* unpacked, uint8_t* row) {
  const uint64_t span = static_cast<uint64_t>(width) * sample_size;
  if (c->compression == 0) {
    if (BytesLeft(c->position, c->end) < span) {
      memset(row, c->fill, width);
      return;
    }
    ReduceSamples(c->position, width, sample_size, row);
    c->position += span;
    return;
  }
  if (BytesLeft(c->table, c->end) < 2) {
    memset(row, c->fill, width);
    return;
  }
  const uint32_t count = ReadU16(c->table);
  c->table += 2;
  if (count == 0) {
    memset(row, c->fill, width);
    return;
  }
  const uint8_t* next = c->position;
  uint32_t filled = 0;
  if (c->position < c->end) {
    filled = UnpackBitsRow(c->position, c->end, unpacked,
                           static_cast<uint32_t>(span), &next);
  }
  memset(unpacked + filled, 0, span - filled);
  ReduceSamples(unpacked, width, sample_size, row);
  c->position = next;
}

// Writes one output row of the layer picture from the slots' rows.
void ComposeLayerRow(const LayerPlan& plan, uint32_t width,
                     uint8_t* const* rows, uint8_t* dst, uint32_t stride) {
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

}  // namespace

uint64_t LayerDataOffset(const DecodeState* state, const LayerList* list,
                         uint32_t index) {
  uint64_t offset =
      static_cast<uint64_t>(list->channel_data - state->file_base);
  for (uint32_t i = 0; i < index && i < list->filled; ++i) {
    offset += list->records[i].channel_total;
  }
  return offset;
}

bool PictureFitsDocument(uint64_t image_size, uint64_t document_size) {
  const uint64_t kAlwaysAccepted = 256ull << 20;
  return image_size <= kAlwaysAccepted || image_size / 130 <= document_size;
}

void PlanLayer(const DecodeState* state, const LayerList* list, uint32_t index,
               uint64_t offset, LayerPlan* plan) {
  memset(plan, 0, sizeof(*plan));
  // Behind a malformed record no channel data can be found.
  if (index >= list->count || list->filled < list->count) return;
  const uint64_t size =
      static_cast<uint64_t>(state->file_end - state->file_base);
  if (offset > size) return;
  const LayerRecord& layer = list->records[index];
  bool alpha = false;
  uint32_t colours = 0;  // bit c: colour channel c present
  uint64_t channel = offset;
  for (int32_t k = 0; k < layer.channel_count; ++k) {
    const ChannelEntry c = ChannelAt(layer, k);
    if (IsMaskChannel(c.id) && channel + c.length > size) return;
    if (c.id == -1) alpha = true;
    if (c.id >= 0 && c.id <= 3) colours |= 1u << c.id;
    channel += c.length;
  }

  const int32_t n = layer.channel_count;
  uint32_t e;
  if (n <= 0) {
    e = 0;
  } else if (alpha || n >= 4) {
    e = 4;
  } else if (n == 3) {
    e = 3;
  } else {
    e = (colours == 1 && state->palette_bytes == 1024) ? 1 : 3;
  }
  const uint64_t width =
      layer.width > 0 ? static_cast<uint32_t>(layer.width) : 0;
  const uint64_t height =
      layer.height > 0 ? static_cast<uint32_t>(layer.height) : 0;
  const uint64_t stride = PadTo4(e * width);
  const uint64_t image_size = stride * height;
  if (image_size > 0xFFFFFFFFu || !PictureFitsDocument(image_size, size)) {
    return;
  }

  plan->has_picture = true;
  plan->data = state->file_base + offset;
  plan->bytes_per_pixel = e;
  plan->stride = static_cast<uint32_t>(stride);
  plan->image_size = static_cast<uint32_t>(image_size);
  plan->cmyk = state->color_mode == kModeCmyk;
  plan->gray = !plan->cmyk && colours == 1;
  plan->lab = state->color_mode == kModeLab && (colours & 7) == 7;
  plan->has_alpha = alpha;
}

int32_t DecodeLayerImage(DecodeRequest* request, DecodeState* state,
                         const LayerList* list,
                         const BITMAPINFOHEADER* header) {
  if (list->count == 0) return kResultNoPixels;
  const uint32_t index = request->entry_index - 1;
  if (index >= list->count) return kResultNoPixels;
  LayerPlan plan;
  PlanLayer(state, list, index, LayerDataOffset(state, list, index), &plan);
  if (!plan.has_picture) return kResultNoPixels;
  const LayerRecord& layer = list->records[index];
  const uint32_t width =
      plan.image_size != 0 ? static_cast<uint32_t>(layer.width) : 0;
  const uint32_t height =
      plan.image_size != 0 ? static_cast<uint32_t>(layer.height) : 0;
  const uint32_t sample_size = SampleSizeForDepth(state->depth);

  // Channel readers, in record order; the log shows every channel.
  ChannelReader readers[kSlots];
  memset(readers, 0, sizeof(readers));
  const uint8_t* base = state->file_base;
  const uint8_t* end = state->file_end;
  uint64_t offset = static_cast<uint64_t>(plan.data - base);
  const uint64_t size = static_cast<uint64_t>(end - base);
  for (int32_t k = 0; k < layer.channel_count; ++k) {
    const ChannelEntry c = ChannelAt(layer, k);
    const uint8_t* at = offset < size ? base + offset : end;
    const uint16_t word = BytesLeft(at, end) >= 2 ? ReadU16(at) : 0;
    LogMessage("layer image #%d-%d %x (%d)", index, k,
               static_cast<uint32_t>(offset), word);
    const uint64_t channel_end = offset + c.length;
    offset = channel_end;
    const int32_t slot = SlotForChannel(plan, c.id);
    if (slot < 0 || BytesLeft(at, end) < 2) continue;
    state->compression = word;
    ChannelReader* r = &readers[slot];
    r->active = true;
    r->fill = 0;
    r->compression = word;
    r->end = channel_end < size ? base + channel_end : end;
    if (word > 1) {
      LogMessage("Compression error %d (%x)", word,
                 static_cast<uint32_t>(at + 2 - base));
      r->active = false;
      r->fill = slot == kSlotAlpha ? 255 : 0;
      continue;
    }
    r->position = at + 2;
    if (word == 1) {
      r->table = at + 2;
      const uint64_t table_bytes = 2ull * height;
      const uint64_t left = BytesLeft(r->table, r->end);
      r->position = r->table + (table_bytes < left ? table_bytes : left);
    }
  }
  if (plan.bytes_per_pixel == 4 && !plan.has_alpha)
    readers[kSlotAlpha].fill = 255;

  if (request->pixels_slot == nullptr) return kResultNoPixels;
  HLOCAL block = LocalAlloc(LMEM_FIXED, plan.image_size);
  if (block == nullptr) return kResultNoMemory;

  // Scratch: one row per slot and an unpacking row for deep samples.
  const uint64_t scratch_size =
      static_cast<uint64_t>(width) * (kSlots + sample_size);
  uint8_t* scratch = nullptr;
  if (scratch_size != 0 && scratch_size <= 0x7FFFFFFFu) {
    scratch = static_cast<uint8_t*>(
        HeapAlloc(GetProcessHeap(), 0, static_cast<SIZE_T>(scratch_size)));
    if (scratch == nullptr) {
      LocalFree(block);
      return kResultNoMemory;
    }
  }
  uint8_t* pixels = static_cast<uint8_t*>(LocalLock(block));
  if (scratch != nullptr) {
    uint8_t* rows[kSlots];
    for (int s = 0; s < kSlots; ++s)
      rows[s] = scratch + static_cast<uint64_t>(s) * width;
    uint8_t* unpacked = scratch + static_cast<uint64_t>(kSlots) * width;
    for (int s = 0; s < kSlots; ++s) {
      if (!readers[s].active) memset(rows[s], readers[s].fill, width);
    }
    for (uint32_t y = 0; y < height; ++y) {
      for (int s = 0; s < kSlots; ++s) {
        if (readers[s].active) {
          ReadChannelRow(&readers[s], width, sample_size, unpacked, rows[s]);
        }
      }
      uint8_t* dst =
          pixels + static_cast<uint64_t>(height - 1 - y) * plan.stride;
      ComposeLayerRow(plan, width, rows, dst, plan.stride);
    }
    HeapFree(GetProcessHeap(), 0, scratch);
  }
  LocalUnlock(block);

  BITMAPINFOHEADER layer_header = *header;
  layer_header.biWidth = layer.width;
  layer_header.biHeight = layer.height;
  layer_header.biBitCount = static_cast<WORD>(8 * plan.bytes_per_pixel);
  layer_header.biSizeImage = plan.image_size;
  void* header_bytes = LocalLock(*request->header_slot);
  memcpy(header_bytes, &layer_header, sizeof(layer_header));
  LocalUnlock(*request->header_slot);
  request->image_size = plan.image_size;
  *request->pixels_slot = block;
  return kResultOk;
}
