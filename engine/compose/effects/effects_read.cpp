// Layer effects from their descriptor. "lmfx" and "lfx2": a 4-byte version,
// a 4-byte descriptor version, then a descriptor: "masterFXSwitch" (the
// effects shown at all), "Scl " (the scale the dialog last applied: the
// sizes are stored scaled already), and an item per effect: "DrSh" drop shadow,
// "OrGl" outer glow, "patternFill", "GrFl" gradient overlay, "SoFi" colour
// overlay, "ChFX" satin, "IrGl" inner glow, "IrSh" inner shadow, "FrFX" stroke,
// "ebbl" bevel and emboss; several of a kind come as a list ("dropShadowMulti",
// "innerShadowMulti", "solidFillMulti", "gradientFillMulti",
// "frameFXMulti"), the first of the list on top. Each effect: "enab" and
// "present", "Md  " its blend mode, "Opct" percent, "Clr " its colour, and
// its own sizes ("blur", "Sz  ", "Dstn", "Ckmt", "lagl" with "uglg" for the
// global light), contour ("TrnS", satin "MpgS": a curve of points).
#include "common/log.h"
#include "engine/base/limits.h"
#include "engine/base/log_messages.h"
#include "engine/base/memory.h"
#include "engine/compose/effects/effects.h"
#include "engine/compose/layer/fill_colour.h"
#include "engine/compose/layer/planes.h"

namespace engine {
namespace {

// A mode is written as its four-letter code or, by some writers, as its
// whole name; the newer modes have only a name.
struct ModeName {
  const char* code;
  const char* name;
  BlendMode mode;
};

const ModeName kModeNames[] = {
    {"Nrml", "normal", kBlendNormal},
    {"Dslv", "dissolve", kBlendDissolve},
    {"Drkn", "darken", kBlendDarken},
    {"Mltp", "multiply", kBlendMultiply},
    {"CBrn", "colorBurn", kBlendColorBurn},
    {"linearBurn", nullptr, kBlendLinearBurn},
    {"darkerColor", nullptr, kBlendDarkerColor},
    {"Lghn", "lighten", kBlendLighten},
    {"Scrn", "screen", kBlendScreen},
    {"CDdg", "colorDodge", kBlendColorDodge},
    {"linearDodge", nullptr, kBlendLinearDodge},
    {"lighterColor", nullptr, kBlendLighterColor},
    {"Ovrl", "overlay", kBlendOverlay},
    {"SftL", "softLight", kBlendSoftLight},
    {"HrdL", "hardLight", kBlendHardLight},
    {"vividLight", nullptr, kBlendVividLight},
    {"linearLight", nullptr, kBlendLinearLight},
    {"pinLight", nullptr, kBlendPinLight},
    {"hardMix", nullptr, kBlendHardMix},
    {"Dfrn", "difference", kBlendDifference},
    {"Xclu", "exclusion", kBlendExclusion},
    {"blendSubtraction", nullptr, kBlendSubtract},
    {"blendDivide", nullptr, kBlendDivide},
    {"H   ", "hue", kBlendHue},
    {"Strt", "saturation", kBlendSaturation},
    {"Clr ", "color", kBlendColor},
    {"Lmns", "luminosity", kBlendLuminosity},
};

BlendMode ReadMode(const Descriptor& d, const char* key, BlendMode otherwise) {
  for (const ModeName& m : kModeNames) {
    if (ItemEnumIs(d, key, m.code) ||
        (m.name != nullptr && ItemEnumIs(d, key, m.name))) {
      return m.mode;
    }
  }
  return otherwise;
}

uint8_t ReadPercent(const Descriptor& d, const char* key, uint32_t otherwise) {
  int64_t v = static_cast<int64_t>(otherwise) << 16;
  ItemFixed(d, key, &v);
  const int64_t byte = (v * 255 / 100 + 32768) >> 16;
  return static_cast<uint8_t>(byte < 0 ? 0 : byte > 255 ? 255 : byte);
}

// A size in pixels, within the limit.
uint32_t ReadPixels(const Descriptor& d, const char* key) {
  int64_t v = 0;
  if (!ItemFixed(d, key, &v) || v <= 0) return 0;
  const int64_t pixels = (v + 32768) >> 16;
  const int64_t limit = kLimits.max_effect_pixels;
  return static_cast<uint32_t>(pixels > limit ? limit : pixels);
}

void ReadColour(const Descriptor& d, const char* key, const Document* doc,
                uint8_t* colour, uint8_t otherwise) {
  if (!ReadFillColour(d, key, doc, colour)) memset(colour, otherwise, 3);
  colour[3] = 255;
}

// The contour: its curve's points (0..255 both ways), joined by lines.
void ReadContour(const Descriptor& d, const char* key, uint8_t* table) {
  for (uint32_t i = 0; i < 256; ++i) table[i] = static_cast<uint8_t>(i);
  Descriptor shape;
  DescriptorList points;
  if (!ItemDescriptor(d, key, &shape) || !ItemList(shape, "Crv ", &points)) {
    return;
  }
  int32_t px = -1, py = 0;
  DescriptorValue v;
  while (NextElement(&points, &v)) {
    Descriptor point;
    int64_t h = 0, w = 0;
    if (!ValueDescriptor(v, &point) || !ItemFixed(point, "Hrzn", &h) ||
        !ItemFixed(point, "Vrtc", &w)) {
      continue;
    }
    const int32_t x = static_cast<int32_t>(h >> 16);
    const int32_t y = static_cast<int32_t>(w >> 16);
    if (x < 0 || x > 255 || y < 0 || y > 255 || x <= px) continue;
    if (px < 0) {
      for (int32_t i = 0; i <= x; ++i) table[i] = static_cast<uint8_t>(y);
    } else {
      for (int32_t i = px + 1; i <= x; ++i) {
        table[i] = static_cast<uint8_t>(py + (y - py) * (i - px) / (x - px));
      }
    }
    for (int32_t i = x + 1; i < 256; ++i) table[i] = static_cast<uint8_t>(y);
    px = x;
    py = y;
  }
}

// The offset of a shadow cast away from a light at `degrees`.
void ReadOffset(const Descriptor& d, const Document* doc,
                const char* distance_key, bool global, Effect* e) {
  int64_t angle = static_cast<int64_t>(doc->global_angle) * 65536;
  bool use_global = global;
  ItemBool(d, "uglg", &use_global);
  if (!use_global) ItemFixed(d, "lagl", &angle);
  const double degrees = static_cast<double>(angle) / 65536.0;
  const double distance = ReadPixels(d, distance_key);
  e->dx = static_cast<int32_t>(-distance * CosineDegrees(degrees) +
                               (CosineDegrees(degrees) > 0 ? -0.5 : 0.5));
  e->dy = static_cast<int32_t>(distance * SineDegrees(degrees) +
                               (SineDegrees(degrees) > 0 ? 0.5 : -0.5));
}

void ReadBevel(const Descriptor& d, const Document* doc, Effect* e) {
  e->mode = ReadMode(d, "hglM", kBlendScreen);
  e->opacity = ReadPercent(d, "hglO", 75);
  ReadColour(d, "hglC", doc, e->colour, 255);
  e->shadow_mode = ReadMode(d, "sdwM", kBlendMultiply);
  e->shadow_opacity = ReadPercent(d, "sdwO", 75);
  ReadColour(d, "sdwC", doc, e->shadow_colour, 0);
  e->style = ItemEnumIs(d, "bvlS", "OtrB")           ? kBevelOuter
             : ItemEnumIs(d, "bvlS", "Embs")         ? kBevelEmboss
             : ItemEnumIs(d, "bvlS", "PlEb")         ? kBevelPillow
             : ItemEnumIs(d, "bvlS", "strokeEmboss") ? kBevelStrokeEmboss
                                                     : kBevelInner;
  e->chisel = !ItemEnumIs(d, "bvlT", "SfBL");
  e->down = ItemEnumIs(d, "bvlD", "Out ");
  int64_t depth = 100 << 16;
  ItemFixed(d, "srgR", &depth);
  e->depth = static_cast<uint32_t>(depth <= 0             ? 0
                                   : (depth >> 16) > 1000 ? 1000
                                                          : depth >> 16);
  e->soften = ReadPixels(d, "Sftn");
  int64_t angle = static_cast<int64_t>(doc->global_angle) * 65536;
  int64_t altitude = static_cast<int64_t>(doc->global_altitude) * 65536;
  bool global = true;
  ItemBool(d, "uglg", &global);
  if (!global) {
    ItemFixed(d, "lagl", &angle);
    ItemFixed(d, "Lald", &altitude);
  }
  const double a = static_cast<double>(angle) / 65536.0;
  const double h = static_cast<double>(altitude) / 65536.0;
  e->light_x = CosineDegrees(h) * CosineDegrees(a);
  e->light_y = -CosineDegrees(h) * SineDegrees(a);
  e->light_z = SineDegrees(h);
}

// One effect of `kind` from its descriptor; false when it does not show.
bool ReadEffect(const Descriptor& d, EffectKind kind, const Document* doc,
                Effect* e) {
  bool enabled = false, present = true;
  ItemBool(d, "enab", &enabled);
  ItemBool(d, "present", &present);
  if (!enabled || !present) return false;
  memset(e, 0, sizeof(*e));
  e->kind = kind;
  e->settings = d;
  const bool shadow = kind == kEffectDropShadow || kind == kEffectInnerShadow;
  e->mode = ReadMode(d, "Md  ", shadow ? kBlendMultiply : kBlendNormal);
  e->opacity = ReadPercent(d, "Opct", 100);
  ReadColour(d, "Clr ", doc, e->colour, 0);
  e->size = ReadPixels(d, kind == kEffectStroke ? "Sz  " : "blur");
  e->width = static_cast<float>(e->size);
  int64_t spread = 0;
  ItemFixed(d, "Ckmt", &spread);
  e->spread = spread <= 0 ? 0 : spread >= (100 << 16) ? 100 : spread >> 16;
  ReadContour(d, kind == kEffectSatin ? "MpgS" : "TrnS", e->contour);
  int64_t range = 100 << 16;
  if (kind == kEffectOuterGlow || kind == kEffectInnerGlow)
    ItemFixed(d, "Inpr", &range);
  e->range = range < (1 << 16) ? 1 : range > (100 << 16) ? 100 : range >> 16;
  if (shadow) ReadOffset(d, doc, "Dstn", true, e);
  if (kind == kEffectSatin) ReadOffset(d, doc, "Dstn", false, e);
  e->knocks_out = true;
  ItemBool(d, "layerConceals", &e->knocks_out);
  ItemBool(d, "Invr", &e->invert);
  e->centre_glow = ItemEnumIs(d, "glwS", "SrcC");
  e->position = ItemEnumIs(d, "Styl", "InsF")   ? kStrokeInside
                : ItemEnumIs(d, "Styl", "CtrF") ? kStrokeCentre
                                                : kStrokeOutside;
  e->paint = kind == kEffectGradientOverlay  ? kEffectPaintGradient
             : kind == kEffectPatternOverlay ? kEffectPaintPattern
                                             : kEffectPaintColour;
  if (kind == kEffectStroke) {
    if (ItemEnumIs(d, "PntT", "GrFl")) e->paint = kEffectPaintGradient;
    if (ItemEnumIs(d, "PntT", "Ptrn")) e->paint = kEffectPaintPattern;
  }
  // A glow of a gradient rather than a colour: along its falloff.
  DescriptorValue colour;
  const bool glow = kind == kEffectOuterGlow || kind == kEffectInnerGlow;
  if (glow && !FindItem(d, "Clr ", &colour) && FindItem(d, "Grad", &colour)) {
    e->paint = kEffectPaintGradient;
  }
  if (kind == kEffectBevel) ReadBevel(d, doc, e);
  return true;
}

struct KindKeys {
  EffectKind kind;
  const char* single;
  const char* multi;
};

const KindKeys kKindKeys[] = {
    {kEffectDropShadow, "DrSh", "dropShadowMulti"},
    {kEffectOuterGlow, "OrGl", nullptr},
    {kEffectPatternOverlay, "patternFill", nullptr},
    {kEffectGradientOverlay, "GrFl", "gradientFillMulti"},
    {kEffectColorOverlay, "SoFi", "solidFillMulti"},
    {kEffectSatin, "ChFX", nullptr},
    {kEffectInnerGlow, "IrGl", nullptr},
    {kEffectInnerShadow, "IrSh", "innerShadowMulti"},
    {kEffectStroke, "FrFX", "frameFXMulti"},
    {kEffectBevel, "ebbl", nullptr},
};

// Several of a kind: the list's last element is painted first.
void ReadKind(const Descriptor& root, const KindKeys& keys, const Document* doc,
              LayerEffects* fx) {
  DescriptorList list;
  Descriptor d;
  if (keys.multi != nullptr && ItemList(root, keys.multi, &list)) {
    const uint32_t first = fx->count;
    DescriptorValue v;
    while (fx->count < kLimits.max_effects && NextElement(&list, &v)) {
      if (ValueDescriptor(v, &d) &&
          ReadEffect(d, keys.kind, doc, &fx->effects[fx->count])) {
        ++fx->count;
      }
    }
    for (uint32_t a = first, b = fx->count; a + 1 < b; ++a, --b) {
      const Effect t = fx->effects[a];
      fx->effects[a] = fx->effects[b - 1];
      fx->effects[b - 1] = t;
    }
    return;
  }
  if (fx->count < kLimits.max_effects &&
      ItemDescriptor(root, keys.single, &d) &&
      ReadEffect(d, keys.kind, doc, &fx->effects[fx->count])) {
    ++fx->count;
  }
}

// A shape's stroke ("vstk": a 4-byte descriptor version, then a
// descriptor): "strokeEnabled", "strokeStyleLineWidth" (pixels),
// "strokeStyleLineAlignment", "strokeStyleBlendMode", "strokeStyleOpacity"
// (percent) and "strokeStyleContent": a colour ("Clr "), or a gradient's or
// pattern's settings. Dashes, caps and joins are not drawn (a solid line).
bool ShapeStrokeDescriptor(const LayerTraits& traits, Descriptor* d) {
  const InfoBlock& block = traits.vector_stroke;
  if (block.data == nullptr || block.length < 4 ||
      traits.vector_mask.data == nullptr) {
    return false;
  }
  const uint8_t* end = block.data + block.length;
  bool enabled = false;
  return DescriptorWhole(block.data + 4, end) &&
         ReadDescriptor(block.data + 4, end, d) &&
         ItemBool(*d, "strokeEnabled", &enabled) && enabled;
}

bool ReadShapeStroke(const Document* doc, const LayerTraits& traits,
                     Effect* e) {
  Descriptor d;
  if (!ShapeStrokeDescriptor(traits, &d)) return false;
  memset(e, 0, sizeof(*e));
  e->kind = kEffectShapeStroke;
  e->mode = ReadMode(d, "strokeStyleBlendMode", kBlendNormal);
  e->opacity = ReadPercent(d, "strokeStyleOpacity", 100);
  int64_t width = 0;
  ItemFixed(d, "strokeStyleLineWidth", &width);
  const int64_t limit = static_cast<int64_t>(kLimits.max_effect_pixels) << 16;
  width = width < 0 ? 0 : width > limit ? limit : width;
  e->width = static_cast<float>(width) / 65536.0f;
  e->size = static_cast<uint32_t>((width + 65535) >> 16);
  const char* key = "strokeStyleLineAlignment";
  e->position = ItemEnumIs(d, key, "strokeStyleAlignInside")    ? kStrokeInside
                : ItemEnumIs(d, key, "strokeStyleAlignOutside") ? kStrokeOutside
                                                                : kStrokeCentre;
  Descriptor content;
  DescriptorValue v;
  if (!ItemDescriptor(d, "strokeStyleContent", &content)) return false;
  e->settings = content;
  if (ReadFillColour(content, "Clr ", doc, e->colour)) {
    e->colour[3] = 255;
    e->paint = kEffectPaintColour;
  } else if (FindItem(content, "Grad", &v)) {
    e->paint = kEffectPaintGradient;
  } else if (FindItem(content, "Ptrn", &v)) {
    e->paint = kEffectPaintPattern;
  } else {
    return false;
  }
  return e->width > 0;
}

// How far beyond the layer's pixels an effect reads and paints.
uint32_t EffectReach(const Effect& e) {
  const uint32_t dx = static_cast<uint32_t>(e.dx < 0 ? -e.dx : e.dx);
  const uint32_t dy = static_cast<uint32_t>(e.dy < 0 ? -e.dy : e.dy);
  const uint32_t offset = dx > dy ? dx : dy;
  if (e.kind == kEffectStroke || e.kind == kEffectShapeStroke) {
    return e.size + 2;
  }
  return BlurReach(e.size) + BlurReach(e.soften) + offset + 2;
}

}  // namespace

bool ShapeStrokeShows(const LayerTraits& traits) {
  Descriptor d;
  return ShapeStrokeDescriptor(traits, &d);
}

LayerEffects* ReadLayerEffects(const Document* doc, const LayerTraits& traits,
                               uint32_t record, bool shape_stroke) {
  const InfoBlock& block = traits.effects;
  if (block.data == nullptr && !shape_stroke) return nullptr;
  Descriptor root;
  memset(&root, 0, sizeof(root));
  bool shown = block.data != nullptr;
  const uint8_t* end = block.data + block.length;
  if (shown && (block.length < 8 || !DescriptorWhole(block.data + 8, end) ||
                !ReadDescriptor(block.data + 8, end, &root))) {
    LogLine(doc->log, logtext::kEffectsLeftOut, record);
    shown = false;
  }
  if (shown) ItemBool(root, "masterFXSwitch", &shown);
  if (!shown && !shape_stroke) return nullptr;
  const uint64_t bytes =
      sizeof(LayerEffects) + sizeof(Effect) * (kLimits.max_effects - 1);
  LayerEffects* fx = static_cast<LayerEffects*>(AllocateZeroed(bytes));
  if (fx == nullptr) return nullptr;
  for (const KindKeys& keys : kKindKeys) {
    // A shape's own stroke lies over its interior effects, under the rest.
    if (keys.kind == kEffectStroke && shape_stroke &&
        fx->count < kLimits.max_effects &&
        ReadShapeStroke(doc, traits, &fx->effects[fx->count])) {
      ++fx->count;
    }
    if (shown) ReadKind(root, keys, doc, fx);
  }
  fx->interior_as_group = traits.interior_as_group;
  for (uint32_t i = 0; i < fx->count; ++i) {
    const uint32_t reach = EffectReach(fx->effects[i]);
    if (reach > fx->reach) fx->reach = reach;
  }
  if (fx->count == 0) {
    Release(fx);
    return nullptr;
  }
  return fx;
}

}  // namespace engine
