// Documents saved without a merged picture for write_test_documents,
// composited from their layers: every blend mode, groups, clipping, masks,
// vector masks and fill layers, fill numbers out of range, gray and CMYK.
#include <string>
#include <vector>

#include "test_documents.h"

namespace testdocs {

namespace {

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

}  // namespace

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

}  // namespace testdocs
