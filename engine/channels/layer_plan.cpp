// How a layer is served, from its record alone: where its channel data
// lies, the bytes per pixel of its picture and the picture's size. The
// listing and the extraction both use it, so they always agree.
#include "engine/base/bytes.h"
#include "engine/psd/document.h"
#include "engine/psd/format.h"
#include "engine/channels/rows.h"

namespace {

bool IsMaskChannel(int32_t id) { return id == -2 || id == -3; }

// Bytes per pixel: 4 with transparency or four or more channels, 1 for a
// lone colour channel of a document with a 256-colour palette, else 3.
uint32_t BytesPerPixel(const DecodeState* state, int32_t channels, bool alpha,
                       uint32_t colours) {
  if (channels <= 0) return 0;
  if (alpha || channels >= 4) return 4;
  if (channels == 3) return 3;
  return (colours == 1 && state->palette_bytes == 1024) ? 1 : 3;
}

}  // namespace

uint64_t LayerDataOffset(const DecodeState* state, const LayerList* list,
                         uint32_t index) {
  uint64_t offset =
      static_cast<uint64_t>(list->channel_data - state->file_base);
  for (uint32_t i = 0; i < index && i < list->filled; ++i) {
    offset = SaturatingAdd(offset, list->records[i].channel_total);
  }
  return offset;
}

void PlanLayer(const DecodeState* state, const LayerList* list, uint32_t index,
               uint64_t offset, LayerPlan* plan) {
  memset(plan, 0, sizeof(*plan));
  // Behind a malformed record no channel data can be found.
  if (index >= list->count || list->filled < list->count) return;
  const uint64_t size = DocumentSize(state);
  if (offset > size) return;
  const LayerRecord& layer = list->records[index];
  bool alpha = false;
  bool zip = false;
  uint32_t colours = 0;  // bit c: colour channel c present
  uint64_t channel = offset;
  for (int32_t k = 0; k < layer.channel_count; ++k) {
    const ChannelEntry c = ChannelAt(state, layer, k);
    if (IsMaskChannel(c.id) && !RangeFits(channel, c.length, size)) return;
    if (RangeFits(channel, 2, size)) {
      zip = zip || IsZipCompression(ReadU16(state->file_base + channel));
    }
    if (c.id == -1) alpha = true;
    if (c.id >= 0 && c.id <= 3) colours |= 1u << c.id;
    channel = SaturatingAdd(channel, c.length);
  }

  const uint32_t e = BytesPerPixel(state, layer.channel_count, alpha, colours);
  const uint64_t width =
      layer.width > 0 ? static_cast<uint32_t>(layer.width) : 0;
  const uint64_t height =
      layer.height > 0 ? static_cast<uint32_t>(layer.height) : 0;
  const uint64_t stride = PadTo4(e * width);
  const uint64_t image_size = stride * height;
  if (image_size > 0xFFFFFFFFu || !PictureFitsDocument(image_size, size, zip)) {
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

ChannelSpec LayerChannelSpec(const DecodeState* state, const uint8_t* at,
                             uint64_t channel_end, uint32_t width,
                             uint32_t height) {
  ChannelSpec spec;
  memset(&spec, 0, sizeof(spec));
  spec.end = channel_end < DocumentSize(state) ? state->file_base + channel_end
                                               : state->file_end;
  spec.compression = ReadU16(at);
  spec.version = state->version;
  spec.sample_size = SampleSizeForDepth(state->depth);
  spec.samples = width;
  spec.rows = height;
  spec.counts = at + 2;
  spec.data = at + 2;
  if (spec.compression == 1) {
    const uint64_t table =
        static_cast<uint64_t>(RowCountBytes(state->version)) * height;
    const uint64_t left = BytesLeft(spec.counts, spec.end);
    spec.data = spec.counts + (table < left ? table : left);
  }
  return spec;
}
