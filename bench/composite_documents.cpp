// Documents saved without a merged picture for the compositor's rows.
#include "bench/composite_documents.h"

#include "bench/bench_documents.h"
#include "tests/adjustment_records.h"

namespace bench {
namespace {

// A layer of the whole document: four flat PackBits channels (rectangles of
// one colour and one alpha each), `seed` varying them.
psdw::Layer FullLayer(uint32_t seed, const char* blend) {
  psdw::Layer layer;
  layer.right = static_cast<int32_t>(kWidth);
  layer.bottom = static_cast<int32_t>(kHeight);
  layer.blend_key = blend;
  layer.name = std::string("Layer ") + blend;
  const int16_t ids[4] = {-1, 0, 1, 2};
  for (uint32_t c = 0; c < 4; ++c) {
    psdw::LayerChannel channel;
    channel.id = ids[c];
    channel.compression = psdw::kPackBits;
    channel.samples =
        MakePlane(Content::kFlat, kWidth, kHeight, 5 * seed + c, 8);
    if (c == 0) {  // alpha: opaque rectangles among translucent ones
      for (uint32_t& a : channel.samples) a = a < 96 ? 255 : a;
    }
    layer.channels.push_back(std::move(channel));
  }
  return layer;
}

// Adds a layer mask of the whole document.
void AddFullMask(psdw::Layer* layer, uint32_t seed) {
  layer->has_mask = true;
  layer->mask_right = static_cast<int32_t>(kWidth);
  layer->mask_bottom = static_cast<int32_t>(kHeight);
  psdw::LayerChannel mask;
  mask.id = -2;
  mask.compression = psdw::kPackBits;
  mask.samples = MakePlane(Content::kFlat, kWidth, kHeight, seed, 8);
  layer->channels.push_back(std::move(mask));
}

// A full-size RGB document saved without a merged picture (the Image Data
// section white), as the application saves it when "maximize
// compatibility" is off.
psdw::PsdSpec UnmergedSpec() {
  psdw::PsdSpec spec;
  spec.width = kWidth;
  spec.height = kHeight;
  spec.compression = psdw::kPackBits;
  spec.resources.push_back(psdw::VersionInfoResource(false));
  for (uint32_t p = 0; p < 3; ++p) {
    spec.planes.push_back(psdw::Fill(size_t{kWidth} * kHeight, 255));
  }
  return spec;
}

// 10 full-size RGB layers in several blend modes, two of them masked and
// three inside a group that blends as a whole; saved without a merged
// picture.
}  // namespace

psdw::Bytes CompositeDocument() {
  psdw::PsdSpec spec = UnmergedSpec();
  const char* blends[kCompositeLayers] = {"norm", "mul ", "scrn", "over",
                                          "norm", "sLit", "diff", "hue ",
                                          "lite", "norm"};
  for (uint32_t i = 0; i < kCompositeLayers; ++i) {
    if (i == 5) {
      psdw::Layer divider;
      divider.additional_info = psdw::SectionBlock(3);
      spec.layers.push_back(divider);
    }
    psdw::Layer layer = FullLayer(i, blends[i]);
    if (i == 2 || i == 6) AddFullMask(&layer, 40 + i);
    layer.opacity = i % 3 == 0 ? 255 : 200;
    spec.layers.push_back(std::move(layer));
    if (i == 7) {
      psdw::Layer group;
      group.opacity = 220;
      group.blend_key = "mul ";
      group.additional_info = psdw::SectionBlock(1, "mul ");
      spec.layers.push_back(group);
    }
  }
  return psdw::WritePsd(spec);
}

// A full-size layer with a second item over it: a layer (with a drop
// shadow for "DrSh"), or an adjustment (`key` one of the records of every
// kind).
psdw::Bytes AdjustedDocument(const std::string& key) {
  psdw::PsdSpec spec = UnmergedSpec();
  spec.layers.push_back(FullLayer(0, "norm"));
  if (key.empty() || key == "DrSh") {
    spec.layers.push_back(FullLayer(1, "norm"));
    if (!key.empty()) {
      psdw::EffectSpec shadow{"DrSh", "Mltp"};
      shadow.size = 50;
      shadow.distance = 20;
      spec.layers.back().additional_info = psdw::EffectsBlock({shadow});
    }
  } else {
    for (const adjustments::Record& r : adjustments::Records(false)) {
      if (r.key != key) continue;
      psdw::Layer adjustment;
      adjustment.additional_info = r.info;
      spec.layers.push_back(adjustment);
      break;
    }
  }
  return psdw::WritePsd(spec);
}

}  // namespace bench
