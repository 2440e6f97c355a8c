// Writes a fixed set of PSD documents that exercise the reader: every colour
// mode and depth, raw and PackBits data, resources, alpha and spot
// channels, many kinds of layers and a handful of malformed files. The
// file names say what each document is.
//
//   write_test_documents DIR
#include <stdint.h>
#include <stdio.h>
#include <string.h>

#include <functional>
#include <string>
#include <vector>

#include "psd_writer.h"

namespace {

using psdw::Bytes;
using psdw::Layer;
using psdw::LayerChannel;
using psdw::PsdSpec;
using psdw::Samples;

// A picture with smooth parts (repeat runs) and noisy parts (literal runs).
uint32_t Pattern8(uint32_t x, uint32_t y, uint32_t c) {
  if (y % 3 == 1) return (40 * c + 7 * y) & 0xff;  // flat rows
  return (x * 37 + y * 59 + c * 83 + (x * y) % 7 * 11) & 0xff;
}

uint32_t Sample(uint16_t depth, uint32_t x, uint32_t y, uint32_t c) {
  uint32_t b = Pattern8(x, y, c);
  if (depth == 16) return b << 8 | ((x + 3 * c) & 0xff);
  if (depth == 32) return psdw::FloatBits(static_cast<float>(b) / 255.0f);
  return b;
}

// Sample (x, y) of merged plane c: depth 1 rows are packed bytes whose bits
// past the width are zero, as writers store them.
uint32_t PlaneSample(uint16_t depth, uint32_t w, uint32_t c, uint32_t x,
                     uint32_t y) {
  if (depth != 1) return Sample(depth, x, y, c);
  const uint32_t v = Pattern8(x, y, c) ^ (y % 2 ? 0xF0u : 0x0Fu);
  const uint32_t used = w - 8 * x >= 8 ? 8 : w - 8 * x;
  return v & (0xFFu << (8 - used)) & 0xFFu;
}

PsdSpec Document(uint16_t mode, uint16_t depth, uint32_t channels,
                 uint16_t compression, uint32_t w = 13, uint32_t h = 7) {
  PsdSpec spec = psdw::MakeDocument(mode, depth, channels, w, h, compression,
                                    [&](uint32_t c, uint32_t x, uint32_t y) {
                                      return PlaneSample(depth, w, c, x, y);
                                    });
  if (mode == 2) {
    std::vector<uint32_t> rgb;
    for (uint32_t i = 0; i < 256; ++i) {
      rgb.push_back((255 - i) << 16 | ((i * 3) & 0xff) << 8 | (i ^ 0x5a));
    }
    spec.color_mode_data = psdw::IndexedPalette(rgb);
  }
  if (mode == 8) spec.color_mode_data = Bytes(40, 0x11);  // duotone spec
  return spec;
}

// A layer of the given rectangle with the given channel ids; samples follow
// the pattern, transparency has clear, half and opaque parts.
Layer MakeLayer(uint16_t depth, int32_t top, int32_t left, int32_t bottom,
                int32_t right, const std::vector<int16_t>& ids,
                uint16_t compression) {
  Layer layer = psdw::MakeLayer(
      top, left, bottom, right, ids, compression,
      [depth](int16_t id, uint32_t x, uint32_t y) -> uint32_t {
        if (id != -1) return Sample(depth, x, y, static_cast<uint32_t>(id + 3));
        const uint32_t a = (x + y) % 3 == 0 ? 0 : (x + y) % 3 == 1 ? 128 : 255;
        if (depth == 16) return a << 8 | a;
        if (depth == 32) {
          return psdw::FloatBits(a == 255 ? 1.0f : a == 0 ? 0.0f : 0.5f);
        }
        return a;
      });
  layer.name = "layer";
  return layer;
}

// Adds a layer mask (channel -2) over the given rectangle at `position`
// in the channel list.
void AddMask(Layer& layer, int32_t top, int32_t left, int32_t bottom,
             int32_t right, size_t position, uint16_t compression) {
  const uint32_t half = static_cast<uint32_t>(right - left) / 2;
  psdw::AddMask(layer, top, left, bottom, right, position, compression,
                [half](uint32_t x, uint32_t) { return x < half ? 255u : 0u; });
}

struct Writer {
  std::string dir;
  int failures = 0;
  int written = 0;
  void Put(const std::string& name, const Bytes& bytes) {
    if (!psdw::WriteFile(dir + "/" + name, bytes)) {
      fprintf(stderr, "write_test_documents: cannot write %s\n", name.c_str());
      ++failures;
    } else {
      ++written;
    }
  }
  void Put(const std::string& name, const PsdSpec& spec) {
    Put(name, psdw::WritePsd(spec));
  }
};

const char* CompressionName(uint16_t c) {
  const char* const names[] = {"raw", "packbits", "zip", "zippredict"};
  return c < 4 ? names[c] : "unknown";
}

const uint16_t kAllCompressions[] = {psdw::kRaw, psdw::kPackBits, psdw::kZip,
                                     psdw::kZipPredict};

void ColourModes(Writer& out) {
  struct ModeCase {
    uint16_t mode;
    const char* name;
    uint32_t channels;
    std::vector<uint16_t> depths;
  };
  const std::vector<ModeCase> cases = {
      {0, "bitmap", 1, {1}},       {1, "gray", 1, {8, 16, 32}},
      {2, "indexed", 1, {8}},      {3, "rgb", 3, {1, 8, 16, 32}},
      {4, "cmyk", 4, {8, 16, 32}}, {7, "multichannel", 3, {8, 16}},
      {8, "duotone", 1, {8, 16}},  {9, "lab", 3, {8, 16}},
  };
  for (const ModeCase& m : cases) {
    for (uint16_t depth : m.depths) {
      for (uint16_t compression : kAllCompressions) {
        // Zip pictures of the common modes only.
        if (compression >= psdw::kZip && m.mode != 1 && m.mode != 3 &&
            m.mode != 4) {
          continue;
        }
        char name[96];
        snprintf(name, sizeof name, "mode%u_%s_depth%u_%s.psd", m.mode, m.name,
                 depth, CompressionName(compression));
        out.Put(name, Document(m.mode, depth, m.channels, compression));
      }
    }
  }
  // Fewer or more planes than the colour mode shows.
  out.Put("mode7_multichannel_1channel.psd", Document(7, 8, 1, 1));
  out.Put("mode7_multichannel_2channels_packbits.psd", Document(7, 8, 2, 1));
  out.Put("mode3_rgb_2channels_packbits.psd", Document(3, 8, 2, 1));
  out.Put("mode3_rgb_alpha_raw.psd", Document(3, 8, 4, 0));
  out.Put("mode3_rgb_alpha_packbits.psd", Document(3, 8, 4, 1));
  out.Put("mode3_rgb_alpha_spot_packbits.psd", Document(3, 8, 5, 1));
  out.Put("mode1_gray_alpha_packbits.psd", Document(1, 8, 2, 1));
  out.Put("mode4_cmyk_alpha_packbits.psd", Document(4, 8, 5, 1));
  out.Put("mode3_rgb_depth16_alpha_packbits.psd", Document(3, 16, 4, 1));
  out.Put("mode3_rgb_depth8_width1_raw.psd", Document(3, 8, 3, 0, 1, 1));
  out.Put("mode0_bitmap_depth1_width10_packbits.psd",
          Document(0, 1, 1, 1, 10, 2));
  out.Put("mode3_rgb_depth8_zip.psd", [] {
    PsdSpec s = Document(3, 8, 3, psdw::kZip);
    s.image_payload = Bytes{0x78, 0x9c, 0x03, 0x00, 0x00, 0x00, 0x00, 0x01};
    return s;
  }());
  PsdSpec short_palette = Document(2, 8, 1, 0);
  short_palette.color_mode_data.resize(100);
  out.Put("mode2_indexed_short_palette.psd", short_palette);
}

void Resources(Writer& out) {
  PsdSpec s = Document(3, 8, 3, 1);
  s.resources.push_back(psdw::ResolutionResource(72, 72));
  out.Put("resources_resolution_72dpi.psd", s);
  s.resources = {psdw::ResolutionResource(300, 150)};
  out.Put("resources_resolution_300x150dpi.psd", s);
  s.resources = {psdw::ResolutionResource(72.5, 96.25)};
  out.Put("resources_resolution_fraction.psd", s);
  psdw::Resource odd;
  odd.id = 1000;
  odd.name = "x";
  odd.data = Bytes{1, 2, 3};
  psdw::Resource other;
  other.id = 7003;
  other.name = "thumb";
  other.data = Bytes(17, 0xab);
  s.resources = {odd, other, psdw::ResolutionResource(200, 200)};
  out.Put("resources_odd_names_then_resolution.psd", s);
  s.resources = {psdw::ResolutionResource(72, 72),
                 psdw::ResolutionResource(144, 144)};
  out.Put("resources_two_resolutions.psd", s);
  s.resources.clear();
  out.Put("resources_none.psd", s);
}

PsdSpec RgbWithLayers(uint16_t depth = 8) {
  PsdSpec s = Document(3, depth, 3, 1, 24, 16);
  s.resources.push_back(psdw::ResolutionResource(72, 72));
  return s;
}

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

// Documents saved without a merged picture, composited from their layers:
// every blend mode, groups, clipping, masks, vector masks and fill layers.
PsdSpec Unmerged(uint16_t mode, uint32_t channels, uint32_t w, uint32_t h) {
  PsdSpec s = Document(mode, 8, channels, psdw::kPackBits, w, h);
  s.resources.push_back(psdw::VersionInfoResource(false));
  return s;
}

Layer Group(uint32_t type, const std::string& blend, uint8_t opacity = 255) {
  Layer l = MakeLayer(8, 0, 0, 0, 0, {-1, 0, 1, 2}, psdw::kRaw);
  l.blend_key = blend.empty() ? "norm" : blend;
  l.opacity = opacity;
  l.additional_info = psdw::SectionBlock(type, blend);
  return l;
}

Layer Shape(const Bytes& fill, const std::vector<psdw::Subpath>& paths,
            uint32_t w, uint32_t h, uint32_t flags = 0) {
  Layer l = MakeLayer(8, 0, 0, 0, 0, {-1, 0, 1, 2}, psdw::kRaw);
  l.flags = 0x18;
  l.additional_info = fill;
  const Bytes mask = psdw::VectorMaskBlock(paths, w, h, flags);
  l.additional_info.insert(l.additional_info.end(), mask.begin(), mask.end());
  return l;
}

psdw::Subpath Outline(const std::vector<std::pair<double, double>>& points,
                      int16_t operation, bool curved) {
  psdw::Subpath p;
  p.operation = operation;
  for (const auto& [x, y] : points) {
    psdw::PathKnot k = psdw::CornerKnot(x, y);
    if (curved) {  // controls pulled sideways: rounded corners
      k.in_x -= 2;
      k.out_x += 2;
    }
    p.knots.push_back(k);
  }
  return p;
}

void Composites(Writer& out) {
  const std::vector<int16_t> rgba = {-1, 0, 1, 2};
  const char* keys[] = {"norm", "diss", "dark", "mul ", "idiv", "lbrn", "dkCl",
                        "lite", "scrn", "div ", "lddg", "lgCl", "over", "sLit",
                        "hLit", "vLit", "lLit", "pLit", "hMix", "diff", "smud",
                        "fsub", "fdiv", "hue ", "sat ", "colr", "lum "};
  PsdSpec s = Unmerged(3, 3, 28, 6);
  s.layers.push_back(MakeLayer(8, 0, 0, 6, 28, rgba, psdw::kPackBits));
  for (int i = 0; i < 27; ++i) {
    s.layers.push_back(MakeLayer(8, 0, i, 6, i + 2, rgba, psdw::kPackBits));
    s.layers.back().blend_key = keys[i];
  }
  out.Put("composite_blend_modes.psd", s);

  s = Unmerged(3, 3, 16, 12);
  Layer member = MakeLayer(8, 1, 1, 11, 15, rgba, psdw::kPackBits);
  member.blend_key = "mul ";
  Layer clipped = MakeLayer(8, 0, 0, 12, 16, {0, 1, 2}, psdw::kRaw);
  clipped.clipping = 1;
  Layer masked_group = Group(1, "scrn", 200);
  AddMask(masked_group, 2, 2, 10, 12, 4, psdw::kPackBits);
  Layer hidden = Group(2, "pass");
  hidden.flags = 0x02;
  Layer faint = MakeLayer(8, 3, 0, 9, 16, rgba, psdw::kRaw);
  faint.additional_info = psdw::FillOpacityBlock(90);
  s.layers = {MakeLayer(8, 0, 0, 12, 16, {0, 1, 2}, psdw::kPackBits),
              Group(3, ""),
              member,
              clipped,
              masked_group,
              Group(3, ""),
              Group(3, ""),
              member,
              Group(1, "pass"),
              clipped,
              hidden,
              faint,
              clipped};
  out.Put("composite_groups_clipping_masks.psd", s);

  const uint32_t w = 24, h = 20;
  s = Unmerged(3, 3, w, h);
  const std::vector<std::pair<double, double>> box = {
      {2.5, 2.25}, {21.5, 2.25}, {21.5, 17.75}, {2.5, 17.75}};
  const std::vector<std::pair<double, double>> star = {
      {12, 1}, {18, 19}, {3, 7.5}, {21, 7.5}, {6, 19}};
  s.layers = {
      MakeLayer(8, 0, 0, h, w, {0, 1, 2}, psdw::kPackBits),
      Shape(psdw::SolidColourBlock(200, 40, 10),
            {Outline(box, 1, true), Outline(star, 2, false)}, w, h),
      Shape(psdw::GradientFillBlock("Rdl ", 30, 80,
                                    {{0, 0, 0, 255}, {4096, 255, 255, 0}},
                                    {{0, 100}, {2048, 40}, {4096, 90}}),
            {Outline(star, 1, false)}, w, h, 1),
      Shape(psdw::GradientFillBlock("Angl", -45, 100,
                                    {{0, 10, 200, 30}, {3000, 250, 0, 90}},
                                    {{0, 100}}, true),
            {Outline(box, 3, true), Outline(star, -1, false)}, w, h)};
  s.layers[2].blend_key = "over";
  out.Put("composite_vector_masks_fills.psd", s);

  // Fill settings far outside their ranges: colours, angles, scales,
  // locations and opacities of the largest magnitudes a double holds.
  const double huge = 1e300;
  s.layers = {
      MakeLayer(8, 0, 0, h, w, {0, 1, 2}, psdw::kPackBits),
      Shape(psdw::SolidColourBlock(huge, -huge, 0), {Outline(box, 1, true)}, w,
            h),
      Shape(psdw::GradientFillBlock(
                "Dmnd", huge, -huge,
                {{INT32_MIN, huge, 0, -huge}, {INT32_MAX, 1, 2, 3}},
                {{INT32_MAX, huge}, {INT32_MIN, -huge}}),
            {Outline(star, 1, false)}, w, h),
      Shape(psdw::GradientFillBlock("Angl", -huge, 0, {{0, 1, 2, 3}}, {}),
            {Outline(box, 0, false)}, w, h)};
  out.Put("composite_fill_numbers_out_of_range.psd", s);

  s = Unmerged(1, 1, 12, 8);
  s.layers = {MakeLayer(8, 0, 0, 8, 12, {0}, psdw::kRaw),
              MakeLayer(8, 1, 2, 7, 10, {-1, 0}, psdw::kPackBits)};
  s.layers[1].blend_key = "hLit";
  out.Put("composite_gray.psd", s);
  s = Unmerged(4, 4, 12, 8);
  s.layers = {MakeLayer(8, 0, 0, 8, 12, {0, 1, 2, 3}, psdw::kRaw),
              MakeLayer(8, 1, 2, 7, 10, {-1, 0, 1, 2, 3}, psdw::kPackBits)};
  s.layers[1].blend_key = "diff";
  out.Put("composite_cmyk.psd", s);
}

// The large-document format: wider section lengths, channel lengths and
// row counts, every compression, deep layers.
void LargeDocuments(Writer& out) {
  const std::vector<int16_t> rgba = {-1, 0, 1, 2};
  for (uint16_t c : kAllCompressions) {
    const std::string suffix = std::string("_") + CompressionName(c) + ".psb";
    PsdSpec s = Document(3, 8, 3, c, 24, 16);
    s.version = 2;
    s.layers = {MakeLayer(8, 2, 3, 12, 20, rgba, c),
                MakeLayer(8, 0, 0, 16, 24, {0, 1, 2}, c)};
    out.Put("large_rgb_layers" + suffix, s);
    for (uint16_t depth : {16, 32}) {
      PsdSpec d = Document(3, depth, 3, c, 24, 16);
      d.version = 2;
      d.layers = {MakeLayer(depth, 1, 2, 9, 11, rgba, c)};
      out.Put("large_depth" + std::to_string(depth) + "_layers" + suffix, d);
    }
    PsdSpec g = Document(1, 8, 1, c, 31, 9);
    g.version = 2;
    out.Put("large_gray" + suffix, g);
  }
}

void Malformed(Writer& out) {
  PsdSpec s = RgbWithLayers();
  s.layers = {MakeLayer(8, 2, 3, 12, 20, {-1, 0, 1, 2}, psdw::kPackBits)};
  Bytes whole = psdw::WritePsd(s);

  Bytes cut = whole;
  psdw::Truncate(cut, 20);
  out.Put("malformed_truncated_header.psd", cut);
  cut = whole;
  psdw::Truncate(cut, whole.size() - 200);
  out.Put("malformed_truncated_image_data.psd", cut);

  psdw::PsdLayout at;
  psdw::WritePsd(s, &at);
  cut = whole;
  psdw::Truncate(cut, at.channel_data + 40);
  out.Put("malformed_truncated_layer_data.psd", cut);

  PsdSpec bad = s;
  bad.signature = "8BPB";
  out.Put("malformed_bad_signature.psd", bad);
  bad = s;
  bad.version = 3;
  out.Put("malformed_version3.psd", bad);
  // Version 2 in the header, the lengths of version 1 in the sections.
  psdw::Bytes narrow = psdw::WritePsd(s);
  narrow[5] = 2;
  out.Put("malformed_version2_narrow_lengths.psb", narrow);
  bad = s;
  bad.reserved[3] = 1;
  out.Put("malformed_reserved_not_zero.psd", bad);
  bad = Document(3, 8, 3, 0);
  bad.width = 0;
  bad.planes.clear();
  out.Put("malformed_width_zero.psd", bad);
  bad = s;
  bad.resources_length = 0x7fffff00u;
  out.Put("malformed_resources_length_past_end.psd", bad);
  bad = s;
  bad.layer_mask_length = 0x40000000u;
  out.Put("malformed_layer_section_length_past_end.psd", bad);
  bad = Document(3, 8, 3, 0);
  bad.layer_mask_length = 4;
  out.Put("malformed_layer_section_too_short.psd", psdw::WritePsd(bad));
  bad = s;
  bad.layers.push_back(bad.layers[0]);
  bad.layers[0].blend_signature = "XBIM";
  out.Put("malformed_bad_blend_signature.psd", bad);
  bad = s;
  bad.layers[0].channels[1].length = 0x10000000u;
  out.Put("malformed_channel_length_past_end.psd", bad);
  bad = s;
  bad.layers[0].extra_length = 0x7fff0000u;
  out.Put("malformed_extra_length_past_end.psd", bad);
  bad = Document(3, 8, 3, 1);
  {
    psdw::PsdLayout l;
    psdw::WritePsd(bad, &l);
    std::vector<uint16_t> counts(3 * bad.height, 3);
    counts[4] = 0;
    counts[5] = 900;
    bad.row_counts = counts;
  }
  out.Put("malformed_packbits_row_counts.psd", bad);
  bad = Document(3, 8, 3, 1, 4, 2);
  bad.row_counts = std::vector<uint16_t>(6, 2);
  bad.image_payload = Bytes{0x80, 0x55, 0x80, 0x66, 0x81, 0x01, 0x81,
                            0x02, 0x00, 0x09, 0x7f, 0x01, 0xfd, 0x22};
  out.Put("malformed_packbits_long_runs.psd", bad);
  bad = Document(3, 8, 3, 0);
  bad.width = 0x10000;
  bad.height = 0x10000;
  bad.planes.clear();
  out.Put("malformed_huge_dimensions.psd", bad);
}

}  // namespace

// A 40000 x 2000 RGB document in the large-document format, wider than a
// .psd may be: a 240 MB picture of bands of 100 pixels.
PsdSpec WidePanorama() {
  PsdSpec s = psdw::MakeDocument(3, 8, 3, 40000, 2000, psdw::kPackBits,
                                 [](uint32_t p, uint32_t x, uint32_t y) {
                                   return (x / 100 + y / 8 + 85 * p) & 0xff;
                                 });
  s.version = 2;
  return s;
}

int main(int argc, char** argv) {
  if (argc == 3 && strcmp(argv[1], "--panorama") == 0) {
    return psdw::WriteFile(argv[2], psdw::WritePsd(WidePanorama())) ? 0 : 1;
  }
  if (argc != 2) {
    fprintf(stderr,
            "usage: write_test_documents DIR\n"
            "       write_test_documents --panorama FILE.psb\n");
    return 2;
  }
  Writer out;
  out.dir = argv[1];
  ColourModes(out);
  Resources(out);
  Layers(out);
  Composites(out);
  LargeDocuments(out);
  Malformed(out);
  printf("%d documents written to %s\n", out.written, argv[1]);
  return out.failures ? 1 : 0;
}
