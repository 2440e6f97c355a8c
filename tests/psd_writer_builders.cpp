// Builders of PSD documents whose samples come from a function: the merged
// planes of a document, a layer's channels and a layer mask.
#include <utility>

#include "psd_writer.h"
#include "psd_writer_bytes.h"

namespace psdw {

PsdSpec MakeDocument(uint16_t mode, uint16_t depth, uint32_t channels,
                     uint32_t w, uint32_t h, uint16_t compression,
                     const PlaneSample& sample) {
  PsdSpec spec;
  spec.mode = mode;
  spec.depth = depth;
  spec.width = w;
  spec.height = h;
  spec.compression = compression;
  const uint32_t row = RowSamples(w, depth);
  for (uint32_t c = 0; c < channels; ++c) {
    Samples plane;
    for (uint32_t y = 0; y < h; ++y) {
      for (uint32_t x = 0; x < row; ++x) plane.push_back(sample(c, x, y));
    }
    spec.planes.push_back(std::move(plane));
  }
  return spec;
}

Layer MakeLayer(int32_t top, int32_t left, int32_t bottom, int32_t right,
                const std::vector<int16_t>& ids, uint16_t compression,
                const ChannelSample& sample) {
  Layer layer;
  layer.top = top, layer.left = left;
  layer.bottom = bottom, layer.right = right;
  const uint32_t w = right > left ? static_cast<uint32_t>(right - left) : 0;
  const uint32_t h = bottom > top ? static_cast<uint32_t>(bottom - top) : 0;
  for (int16_t id : ids) {
    LayerChannel channel;
    channel.id = id;
    channel.compression = compression;
    for (uint32_t y = 0; y < h; ++y) {
      for (uint32_t x = 0; x < w; ++x) {
        channel.samples.push_back(sample(id, x, y));
      }
    }
    layer.channels.push_back(std::move(channel));
  }
  return layer;
}

void AddMask(Layer& layer, int32_t top, int32_t left, int32_t bottom,
             int32_t right, size_t position, uint16_t compression,
             const MaskSample& sample) {
  layer.has_mask = true;
  layer.mask_top = top, layer.mask_left = left;
  layer.mask_bottom = bottom, layer.mask_right = right;
  Layer shape =
      MakeLayer(top, left, bottom, right, {-2}, compression,
                [&](int16_t, uint32_t x, uint32_t y) { return sample(x, y); });
  LayerChannel& mask = shape.channels[0];
  mask.width = right - left;
  mask.height = bottom - top;
  layer.channels.insert(layer.channels.begin() + static_cast<long>(position),
                        std::move(mask));
}

}  // namespace psdw
