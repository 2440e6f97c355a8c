// Malformed documents for write_test_documents: truncated at each section,
// bad signatures, versions and reserved bytes, lengths past the end, bad
// PackBits row tables and runs, and impossible dimensions.
#include <string>
#include <vector>

#include "test_documents.h"

namespace testdocs {

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

}  // namespace testdocs
