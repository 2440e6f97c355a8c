// Layered documents for write_test_documents: layers inside and outside the
// canvas, empty ones, layer masks before and after the colour channels, a
// negative layer count, gray, CMYK and deep layers, many channels, and every
// compression of channel data.
#include <string>
#include <vector>

#include "test_documents.h"

namespace testdocs {

void Layers(Writer& out) {
  const std::vector<int16_t> rgba = {-1, 0, 1, 2};
  const std::vector<int16_t> rgb = {0, 1, 2};
  for (uint16_t c : kAllCompressions) {
    std::string suffix = std::string("_") + CompressionName(c) + ".psd";
    PsdSpec s = RgbWithLayers();
    s.layers.push_back(MakeLayer(8, 2, 3, 12, 20, rgba, c));
    s.layers.push_back(MakeLayer(8, 0, 0, 16, 24, rgb, c));
    out.Put("layers_inside_canvas" + suffix, s);

    s.layers = {MakeLayer(8, -4, -5, 6, 9, rgba, c),
                MakeLayer(8, 10, 20, 30, 40, rgba, c)};
    out.Put("layers_outside_canvas" + suffix, s);

    s.layers = {
        MakeLayer(8, 0, 0, 0, 0, rgba, c), MakeLayer(8, 3, 3, 3, 10, rgba, c),
        MakeLayer(8, 3, 3, 9, 3, rgba, c), MakeLayer(8, 1, 1, 5, 5, rgba, c)};
    out.Put("layers_empty_zero_width_zero_height" + suffix, s);

    Layer masked = MakeLayer(8, 2, 2, 10, 14, rgba, c);
    AddMask(masked, 0, 0, 12, 16, 4, c);
    Layer masked_first = MakeLayer(8, 2, 2, 10, 14, rgba, c);
    AddMask(masked_first, 4, 4, 8, 8, 0, c);
    s.layers = {masked, masked_first};
    out.Put("layers_mask_after_and_before_colour" + suffix, s);

    Layer masked_raw = MakeLayer(8, 2, 2, 10, 14, rgba, c);
    AddMask(masked_raw, 0, 0, 12, 16, 4, psdw::kRaw);
    s.layers = {masked_raw};
    out.Put("layers_mask_raw" + suffix, s);

    s.layers = {MakeLayer(8, 0, 0, 16, 24, rgba, c),
                MakeLayer(8, 4, 4, 8, 8, rgb, c)};
    s.negative_layer_count = true;
    out.Put("layers_negative_count" + suffix, s);
    s.negative_layer_count = false;

    PsdSpec g = Document(1, 8, 1, 1, 24, 16);
    g.layers = {MakeLayer(8, 1, 2, 9, 11, {-1, 0}, c),
                MakeLayer(8, 0, 0, 16, 24, {0}, c),
                MakeLayer(8, 3, 3, 8, 9, {0, 1, 2}, c)};
    out.Put("layers_gray_document" + suffix, g);

    PsdSpec k = Document(4, 8, 4, 1, 24, 16);
    k.layers = {MakeLayer(8, 1, 2, 9, 11, {-1, 0, 1, 2, 3}, c),
                MakeLayer(8, 0, 0, 16, 24, {0, 1, 2, 3}, c)};
    out.Put("layers_cmyk_document" + suffix, k);

    for (uint16_t depth : {16, 32}) {
      PsdSpec d = RgbWithLayers(depth);
      d.layers = {MakeLayer(depth, 1, 2, 9, 11, rgba, c),
                  MakeLayer(depth, 0, 0, 16, 24, rgb, c)};
      out.Put("layers_depth" + std::to_string(depth) + suffix, d);
    }

    // A layer with spot channels: ten channels, more than a record keeps.
    s.layers = {MakeLayer(8, 0, 0, 6, 6, {-1, 0, 1, 2, 3, 4, 5, 6, 7, 8}, c),
                MakeLayer(8, 2, 2, 10, 14, rgba, c)};
    out.Put("layers_ten_channels" + suffix, s);
  }

  PsdSpec s = RgbWithLayers();
  Layer deflated = MakeLayer(8, 2, 3, 12, 20, rgba, psdw::kRaw);
  deflated.channels[2].compression = psdw::kZipPredict;
  deflated.channels[2].payload = Bytes{0x78, 0x9c, 0x01, 0x02};
  s.layers = {deflated, MakeLayer(8, 0, 0, 4, 4, rgba, psdw::kPackBits)};
  out.Put("layers_channel_compression3.psd", s);

  s.layers = {};
  s.layer_info_when_empty = true;
  out.Put("layers_section_with_zero_layers.psd", s);
}

}  // namespace testdocs
