// The archive listing: "compound.bmp" and one entry per layer record, with
// the size of the BMP file that extracting the entry yields.
#include "engine/bytes.h"
#include "engine/engine.h"

namespace {

// 14-byte file header and 40-byte info header in front of every BMP.
const uint64_t kBmpHeaders = 54;

void SetText(char* field, const char* text) {
  uint32_t i = 0;
  for (; text[i] != 0; ++i) field[i] = text[i];
  field[i] = 0;
}

void FillEntry(ArchiveFileInfo* entry, const char* kind, uint32_t number,
               uint64_t size) {
  SetText(entry->kind, kind);
  entry->entry_number = number;
  entry->packed_size = static_cast<ArchiveWord>(size);
  entry->unpacked_size = static_cast<ArchiveWord>(size);
  entry->time_stamp = 0;
  entry->folder[0] = 0;
  entry->checksum = 0;
}

}  // namespace

int32_t BuildLayerDirectory(DecodeRequest* request, const DecodeState* state,
                            const LayerList* list,
                            const BITMAPINFOHEADER* header) {
  const uint32_t count = request->entry_count;
  const SIZE_T bytes = static_cast<SIZE_T>(count + 2) * sizeof(ArchiveFileInfo);
  HLOCAL block = LocalAlloc(LMEM_FIXED, bytes);
  *request->pixels_slot = block;
  if (block == nullptr) return kResultNoMemory;
  ArchiveFileInfo* entries = static_cast<ArchiveFileInfo*>(LocalLock(block));
  // Zero-filled: unused name bytes, the padding, the end marker and the
  // spare record are all defined.
  memset(entries, 0, bytes);

  const uint64_t palette = state->palette_bytes;
  const uint64_t merged_size = header->biSizeImage + palette + kBmpHeaders;
  FillEntry(&entries[0], "PSD com", 0, merged_size);
  SetText(entries[0].entry_name, "compound.bmp");
  uint64_t offset = LayerDataOffset(state, list, 0);
  for (uint32_t n = 1; n < count; ++n) {
    LayerPlan plan;
    PlanLayer(state, list, n - 1, offset, &plan);
    if (n - 1 < list->filled) offset += list->records[n - 1].channel_total;
    ArchiveFileInfo* entry = &entries[n];
    if (!plan.has_picture) {
      // Extraction serves the merged picture under the layer's name.
      FillEntry(entry, "PSD lay", n, merged_size);
      wsprintfA(entry->entry_name, "layer%04d.bmp", n);
    } else if (plan.image_size == 0) {
      FillEntry(entry, "PSD lay", n, 0);
      wsprintfA(entry->entry_name, "layer%04d.dat", n);
    } else {
      FillEntry(entry, "PSD lay", n, plan.image_size + palette + kBmpHeaders);
      wsprintfA(entry->entry_name, "layer%04d.bmp", n);
    }
  }
  LocalUnlock(block);
  return kResultNoPixels;
}
