// The walk of a layer's channel table.
//
// Channel image data: for each layer in record order, for each of its
// channels in record order, a 2-byte compression word and the channel's
// rows; each channel's total size, the word included, is its length in the
// layer record. Every channel is found from those lengths, so a channel no
// role reads (a spot channel) is stepped over and no channel's bytes are
// read as another's.
#include "engine/channels/layer_channels.h"

#include "engine/base/bytes.h"
#include "engine/base/limits.h"
#include "engine/base/log_messages.h"
#include "engine/channels/pixel_ops.h"
#include "engine/psd/format.h"

namespace engine {
namespace {

int RoleForChannel(int32_t id) {
  if (id >= 0 && id <= 3) return id;
  if (id == kChannelAlpha) return kRoleAlpha;
  if (id == kChannelUserMask) return kRoleUserMask;
  if (id == kChannelRealMask) return kRoleRealMask;
  return -1;
}

bool IsMaskChannel(int32_t id) {
  return id == kChannelUserMask || id == kChannelRealMask;
}

// Bytes per pixel: 4 with transparency or four or more channels, 1 for a
// lone colour channel of a document with a 256-colour palette, else 3.
uint32_t BytesPerPixel(int32_t channels, bool alpha, uint32_t colours,
                       bool palette_output) {
  if (channels <= 0) return 0;
  if (alpha || channels >= 4) return 4;
  if (channels == 3) return 3;
  return (colours == 1 && palette_output) ? 1 : 3;
}

// Scratch rows a channel reader of the layer would take at most (its rows
// handed out as stored at most).
bool RowsFitScratch(const Document* doc, uint64_t width) {
  const uint64_t span = width * SampleSizeForDepth(doc->depth);
  return ChannelScratchBytes(span, span) <= kLimits.max_scratch_bytes;
}

// The fault the layer's own request logs: a colour or transparency channel
// the picture reads whose compression is not known.
void LogCompressionFault(LogBuffer* log, const LayerPlan& plan, int role,
                         uint64_t at, uint16_t word) {
  if (log == nullptr || role >= kPixelRoles || CompressionKnown(word)) return;
  if (role == kRoleBlack && !plan.cmyk) return;
  LogLine(log, logtext::kCompressionError, word, static_cast<uint32_t>(at + 2));
}

// The compression word at `offset` (which lies in the document), or 0 when
// it cannot be read.
uint16_t CompressionWord(const Document* doc, uint64_t offset) {
  uint8_t word[2] = {0, 0};
  ReadExact(doc->source, offset, 2, word);
  return ReadU16(word);
}

// Whether any channel of the layer is zip-compressed (its data may then
// describe more).
bool AnyZipChannel(const Document* doc, const LayerRecord& layer) {
  const uint64_t size = DocumentSize(doc);
  uint64_t offset = layer.data_offset;
  for (int32_t k = 0; k < layer.channel_count; ++k) {
    const ChannelEntry c = ChannelAt(doc, layer, k);
    if (RangeFits(offset, 2, size) &&
        IsZipCompression(CompressionWord(doc, offset))) {
      return true;
    }
    offset = SaturatingAdd(offset, c.length);
  }
  return false;
}

}  // namespace

void PlanLayer(const Document* doc, const LayerList* list, uint32_t index,
               bool palette_output, LayerPlan* plan) {
  memset(plan, 0, sizeof(*plan));
  if (index >= list->count || !LayersComplete(list)) return;
  const uint64_t size = DocumentSize(doc);
  const LayerRecord& layer = list->records[index];
  uint64_t offset = layer.data_offset;
  if (offset > size) return;
  plan->cmyk = doc->color_mode == kModeCmyk;
  bool mask_outside = false;
  uint32_t colours = 0;  // bit c: colour channel c present
  for (int32_t k = 0; k < layer.channel_count; ++k) {
    const ChannelEntry c = ChannelAt(doc, layer, k);
    const uint64_t end = SaturatingAdd(offset, c.length);
    // A layer mask whose data is not all in the document: the layer's
    // data cannot be trusted to be where its record says.
    if (IsMaskChannel(c.id) && !RangeFits(offset, c.length, size)) {
      mask_outside = true;
    }
    if (c.id == kChannelAlpha) plan->has_alpha = true;
    if (c.id >= 0 && c.id <= 3) colours |= 1u << c.id;
    const int role = RoleForChannel(c.id);
    if (role >= 0 && RangeFits(offset, 2, size)) {
      ChannelPlace& p = plan->places[role];
      p.found = true;
      p.holds_word = c.length >= 2;
      p.number = k;
      p.at = offset;
      p.end = end;
      // A channel too short to hold its word holds no rows either.
      p.data = p.holds_word ? offset + 2 : end;
    }
    offset = end;
  }

  const uint32_t e = BytesPerPixel(layer.channel_count, plan->has_alpha,
                                   colours, palette_output);
  const uint64_t width =
      layer.width > 0 ? static_cast<uint32_t>(layer.width) : 0;
  const uint64_t height =
      layer.height > 0 ? static_cast<uint32_t>(layer.height) : 0;
  const uint64_t stride = PadTo4(e * width);
  const uint64_t image_size = stride * height;
  // Only a picture above what is always accepted asks how its channels are
  // compressed.
  const bool fits =
      image_size <= kLimits.always_accepted_bytes ||
      PictureFitsDocument(image_size, size, AnyZipChannel(doc, layer));
  if (mask_outside || image_size > 0xFFFFFFFFu || !fits ||
      !RowsFitScratch(doc, width)) {
    return;  // no picture; the places stand for the layer's masks
  }
  plan->has_picture = true;
  plan->bytes_per_pixel = e;
  plan->stride = static_cast<uint32_t>(stride);
  plan->image_size = static_cast<uint32_t>(image_size);
  plan->gray = !plan->cmyk && colours == 1;
  plan->lab = doc->color_mode == kModeLab && (colours & 7) == 7;
}

void ReadChannelWords(const Document* doc, uint32_t index, LayerPlan* plan,
                      LogBuffer* log) {
  // In the order of the channel table.
  int order[kRoles];
  int placed = 0;
  for (int r = 0; r < kRoles; ++r) {
    if (!plan->places[r].found) continue;
    int at = placed++;
    while (at > 0 &&
           plan->places[order[at - 1]].number > plan->places[r].number) {
      order[at] = order[at - 1];
      --at;
    }
    order[at] = r;
  }
  for (int i = 0; i < placed; ++i) {
    const int role = order[i];
    ChannelPlace& p = plan->places[role];
    const uint16_t word = CompressionWord(doc, p.at);
    p.compression = p.holds_word ? word : uint16_t{kCompressionRaw};
    if (log == nullptr || role >= kPixelRoles) continue;
    LogLine(log, logtext::kLayerChannel, index, p.number,
            static_cast<uint32_t>(p.at), word);
    LogCompressionFault(log, *plan, role, p.at, p.compression);
  }
}

ChannelSpec PlacedChannelSpec(const Document* doc, const ChannelPlace& place,
                              uint32_t width, uint32_t height) {
  ChannelSpec spec;
  memset(&spec, 0, sizeof(spec));
  spec.end = place.end;
  spec.compression = place.compression;
  spec.version = doc->version;
  spec.sample_size = SampleSizeForDepth(doc->depth);
  spec.samples = width;
  spec.rows = height;
  spec.counts = place.data;
  spec.data = place.data;
  if (spec.compression == kCompressionPackBits) {
    const uint64_t table =
        static_cast<uint64_t>(RowCountBytes(doc->version)) * height;
    const uint64_t end =
        place.end < DocumentSize(doc) ? place.end : DocumentSize(doc);
    const uint64_t left = end > place.data ? end - place.data : 0;
    spec.data = place.data + (table < left ? table : left);
  }
  return spec;
}

uint32_t ReachableRows(const ChannelSpec& spec, uint64_t size) {
  const uint64_t end = spec.end < size ? spec.end : size;
  uint64_t reach = spec.rows;
  if (spec.compression == kCompressionRaw) {
    const uint64_t span = ChannelRowSpan(spec);
    const uint64_t left = end > spec.data ? end - spec.data : 0;
    if (span != 0) reach = left / span;
  } else if (spec.compression == kCompressionPackBits) {
    const uint64_t left = end > spec.counts ? end - spec.counts : 0;
    reach = left / RowCountBytes(spec.version);
  }
  return reach < spec.rows ? static_cast<uint32_t>(reach) : spec.rows;
}

}  // namespace engine
