// The archive listing: "compound.bmp" and one entry per layer record, with
// the size of the BMP file that extracting the entry yields.
#include "engine/channels/layer_channels.h"
#include "engine/serve/entries.h"
#include "engine/serve/serve.h"

namespace engine {
namespace {

void FillEntry(ArchiveFileInfo* entry, uint32_t number, bool has_pixels,
               uint64_t size) {
  memcpy(entry->kind, number == 0 ? "PSD com" : "PSD lay", 8);
  entry->entry_number = number;
  entry->packed_size = static_cast<ArchiveWord>(size);
  entry->unpacked_size = static_cast<ArchiveWord>(size);
  EntryNameA(number, has_pixels, entry->entry_name);
}

}  // namespace

Status BuildLayerDirectory(ServeState* s) {
  DecodeRequest* request = s->request;
  const LayerList* list = &s->layers;
  const uint32_t count = request->entry_count;
  const SIZE_T bytes = static_cast<SIZE_T>(count + 2) * sizeof(ArchiveFileInfo);
  HLOCAL block = LocalAlloc(LMEM_FIXED, bytes);
  *request->pixels_slot = block;
  if (block == nullptr) return kNoMemory;
  ArchiveFileInfo* entries = static_cast<ArchiveFileInfo*>(LocalLock(block));
  // Zero-filled: unused name bytes, the padding, the end marker and the
  // spare record are all defined.
  memset(entries, 0, bytes);

  const uint64_t palette = s->format.palette_bytes;
  const uint64_t merged_size = BmpFileSize(palette, s->header.biSizeImage);
  FillEntry(&entries[0], 0, true, merged_size);
  for (uint32_t n = 1; n < count; ++n) {
    LayerPlan plan;
    PlanLayer(&s->doc, list, n - 1, PaletteOutput(s->format), &plan);
    if (!plan.has_picture) {
      // Extraction serves the merged picture under the layer's name.
      FillEntry(&entries[n], n, true, merged_size);
    } else if (plan.image_size == 0) {
      FillEntry(&entries[n], n, false, 0);
    } else {
      FillEntry(&entries[n], n, true, BmpFileSize(palette, plan.image_size));
    }
  }
  LocalUnlock(block);
  return kDirectoryBuilt;
}

}  // namespace engine
