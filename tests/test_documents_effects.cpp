// Documents saved without a merged picture whose layers have effects of
// every kind, each layer over its own band of columns, in RGB, gray and
// CMYK; one whose effects descriptors are cut short; and the advanced
// blending the corpus lacks: blending ranges, a channel left out, a layer
// that knocks out shallow and one that knocks out deep.
#include <string>
#include <vector>

#include "adjustment_records.h"
#include "test_documents.h"

namespace testdocs {

namespace {

using psdw::EffectSpec;

std::vector<EffectSpec> EveryEffect() {
  std::vector<EffectSpec> e = {
      {"DrSh", "Mltp", 0, 0, 0, 75, 3, 2},
      {"OrGl", "Scrn", 255, 255, 190, 75, 3, 0, 30},
      {"SoFi", "Nrml", 200, 40, 40, 60},
      {"ChFX", "Mltp", 0, 0, 90, 50, 2, 2},
      {"IrGl", "Scrn", 255, 255, 0, 75, 2, 0, 20},
      {"IrSh", "Mltp", 0, 0, 0, 75, 2, 1},
      {"FrFX", "Nrml", 0, 120, 255, 100, 1},
      {"ebbl", "Scrn", 255, 255, 255, 75, 2, 0, 0, 120, "InrB"},
      {"FrFX", "Nrml", 0, 200, 0, 100, 2, 0, 0, 120, "CtrF"},
  };
  return e;
}

Layer WithBlock(uint16_t depth, const std::vector<int16_t>& ids, int32_t left,
                const Bytes& block, uint32_t h) {
  Layer l = MakeLayer(depth, 2, left + 2, static_cast<int32_t>(h) - 2, left + 6,
                      ids, psdw::kPackBits);
  l.additional_info = block;
  return l;
}

PsdSpec WithEffects(uint16_t mode, uint16_t depth, uint32_t channels,
                    const std::vector<int16_t>& ids, bool cut_short) {
  const std::vector<EffectSpec> effects = EveryEffect();
  const uint32_t band = 8, h = 12;
  const uint32_t w = band * static_cast<uint32_t>(effects.size() + 1);
  PsdSpec s = Document(mode, depth, channels, psdw::kPackBits, w, h);
  s.resources.push_back(psdw::VersionInfoResource(false));
  s.layers.push_back(MakeLayer(depth, 0, 0, h, w, ids, psdw::kPackBits));
  for (size_t i = 0; i < effects.size(); ++i) {
    Bytes block = psdw::EffectsBlock({effects[i]});
    if (cut_short) block = adjustments::CutShort(block);
    s.layers.push_back(
        WithBlock(depth, ids, static_cast<int32_t>(band * i), block, h));
  }
  // All of them on one layer, at half fill.
  Layer all = WithBlock(depth, ids, static_cast<int32_t>(band * effects.size()),
                        psdw::EffectsBlock(effects), h);
  const Bytes fill = psdw::FillOpacityBlock(128);
  all.additional_info.insert(all.additional_info.end(), fill.begin(),
                             fill.end());
  s.layers.push_back(all);
  return s;
}

// Over a background: a layer shown only where it and the background are
// light enough (split sliders), one that leaves out its first channel, and
// in a group a layer that knocks out shallow, then one that knocks out
// deep.
PsdSpec AdvancedBlending() {
  const std::vector<int16_t> ids = {-1, 0, 1, 2};
  PsdSpec s = Document(3, 8, 3, psdw::kPackBits, 24, 8);
  s.resources.push_back(psdw::VersionInfoResource(false));
  s.layers.push_back(MakeLayer(8, 0, 0, 8, 24, ids, psdw::kPackBits));
  Layer ranges = MakeLayer(8, 0, 0, 8, 6, ids, psdw::kPackBits);
  ranges.blend_ranges = {60, 120, 200, 250, 0, 40, 255, 255};
  for (int k = 0; k < 3; ++k) {
    ranges.blend_ranges.insert(ranges.blend_ranges.end(),
                               {0, 0, 255, 255, 30, 90, 255, 255});
  }
  s.layers.push_back(ranges);
  Layer left_out = MakeLayer(8, 0, 6, 8, 12, ids, psdw::kPackBits);
  left_out.additional_info = psdw::InfoBlock("brst", Bytes{0, 0, 0, 0});
  left_out.blend_key = "mul ";
  s.layers.push_back(left_out);
  Layer divider = MakeLayer(8, 0, 0, 0, 0, ids, psdw::kRaw);
  divider.additional_info = psdw::SectionBlock(3);
  s.layers.push_back(divider);
  s.layers.push_back(MakeLayer(8, 0, 12, 8, 24, ids, psdw::kPackBits));
  for (uint8_t knockout : {1, 2}) {
    Layer l = MakeLayer(8, 2, 10 + 5 * knockout, 6, 16 + 5 * knockout, ids,
                        psdw::kPackBits);
    l.blend_key = "mul ";
    l.additional_info = psdw::InfoBlock("knko", Bytes{knockout, 0, 0, 0});
    s.layers.push_back(l);
  }
  Layer group = MakeLayer(8, 0, 0, 0, 0, ids, psdw::kRaw);
  group.blend_key = "pass";
  group.additional_info = psdw::SectionBlock(1, "pass");
  s.layers.push_back(group);
  return s;
}

}  // namespace

void Effects(Writer& out) {
  out.Put("composite_effects.psd", WithEffects(3, 8, 3, {-1, 0, 1, 2}, false));
  out.Put("composite_effects_gray.psd", WithEffects(1, 8, 1, {-1, 0}, false));
  out.Put("composite_effects_cmyk.psd",
          WithEffects(4, 8, 4, {-1, 0, 1, 2, 3}, false));
  out.Put("composite_effects_cut.psd",
          WithEffects(3, 8, 3, {-1, 0, 1, 2}, true));
  out.Put("composite_advanced_blending.psd", AdvancedBlending());
}

}  // namespace testdocs
