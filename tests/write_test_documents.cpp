// Writes a fixed set of PSD documents that exercise the reader: every colour
// mode and depth, raw and PackBits data, resources, alpha and spot
// channels, many kinds of layers and a handful of malformed files. The
// file names say what each document is. This file writes the colour modes,
// the resources and the large-document format; test_documents_*.cpp the
// layered, composited and malformed documents.
//
//   write_test_documents DIR
//   write_test_documents --panorama FILE.psb
//   write_test_documents --sparse FILE.psb   (4.6 GB, most of it holes)
#include <stdint.h>
#include <stdio.h>
#include <string.h>

#include <string>
#include <vector>

#include "large_document.h"
#include "test_documents.h"

namespace testdocs {

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

}  // namespace testdocs

using psdw::PsdSpec;
using testdocs::Writer;

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
  if (argc == 3 && strcmp(argv[1], "--sparse") == 0) {
    // 8000 x 8000, 24 full-canvas layers left as holes, a PackBits merged
    // picture: more than 4 GB that a 32-bit plug-in must serve.
    psdw::LargeDocument sparse;
    sparse.version = 2;
    sparse.width = sparse.height = 8000;
    sparse.layers = 24;
    sparse.layer_holes = true;
    sparse.packbits = true;
    return psdw::WriteLargeDocument(argv[2], sparse) ? 0 : 1;
  }
  if (argc != 2) {
    fprintf(stderr,
            "usage: write_test_documents DIR\n"
            "       write_test_documents --panorama FILE.psb\n"
            "       write_test_documents --sparse FILE.psb\n");
    return 2;
  }
  Writer out;
  out.dir = argv[1];
  testdocs::ColourModes(out);
  testdocs::Resources(out);
  testdocs::Layers(out);
  testdocs::Composites(out);
  testdocs::Adjustments(out);
  testdocs::Effects(out);
  testdocs::LargeDocuments(out);
  testdocs::Malformed(out);
  testdocs::Profiles(out);
  printf("%d documents written to %s\n", out.written, argv[1]);
  return out.failures ? 1 : 0;
}
