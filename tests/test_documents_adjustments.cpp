// Documents saved without a merged picture whose composite goes through an
// adjustment layer of every kind, each over its own band of columns (its
// layer mask), in RGB, gray and CMYK, 8 and 16 bits; and one whose records
// are cut short.
#include <string>
#include <vector>

#include "adjustment_records.h"
#include "test_documents.h"

namespace testdocs {

namespace {

PsdSpec WithAdjustments(uint16_t mode, uint16_t depth, uint32_t channels,
                        const std::vector<int16_t>& ids, bool cut_short) {
  const std::vector<adjustments::Record> records = adjustments::Records(false);
  const uint32_t band = 3;
  const uint32_t w = band * static_cast<uint32_t>(records.size()), h = 6;
  PsdSpec s = Document(mode, depth, channels, psdw::kPackBits, w, h);
  s.resources.push_back(psdw::VersionInfoResource(false));
  s.layers.push_back(MakeLayer(depth, 0, 0, h, w, ids, psdw::kPackBits));
  for (size_t i = 0; i < records.size(); ++i) {
    Layer l = MakeLayer(depth, 0, 0, 0, 0, ids, psdw::kRaw);
    const int32_t left = static_cast<int32_t>(band * i);
    psdw::AddMask(l, 0, left, h, left + band, 0, psdw::kRaw,
                  [](uint32_t, uint32_t y) { return y < 4 ? 255u : 128u; });
    l.additional_info =
        cut_short ? adjustments::CutShort(records[i].info) : records[i].info;
    s.layers.push_back(l);
  }
  return s;
}

}  // namespace

void Adjustments(Writer& out) {
  out.Put("composite_adjustments.psd",
          WithAdjustments(3, 8, 3, {-1, 0, 1, 2}, false));
  out.Put("composite_adjustments_16.psd",
          WithAdjustments(3, 16, 3, {-1, 0, 1, 2}, false));
  out.Put("composite_adjustments_gray.psd",
          WithAdjustments(1, 8, 1, {-1, 0}, false));
  out.Put("composite_adjustments_cmyk.psd",
          WithAdjustments(4, 8, 4, {-1, 0, 1, 2, 3}, false));
  out.Put("composite_adjustments_cut.psd",
          WithAdjustments(3, 8, 3, {-1, 0, 1, 2}, true));
}

}  // namespace testdocs
