// Fill layers from their descriptors.
//
// "SoCo": a 4-byte version, then a descriptor whose "Clr " is the colour.
// "vscg": a 4-byte key, a 4-byte version, then a descriptor: a shape's fill
// content, a colour like "SoCo" (other contents are not painted).
// "GdFl": a 4-byte version, then a descriptor: "Grad" (the gradient: "GrdF"
// custom stops or noise, "Clrs" colour stops each with "Clr ", "Lctn"
// 0..4096 and "Mdpn" 0..100, "Trns" transparency stops with "Opct",
// "Lctn" and "Mdpn"), "Type" (Lnr, Rdl, Angl, Rflc, Dmnd), "Angl" in
// degrees, "Scl " in percent, "Rvrs", "Algn" (span the layer's bounds
// rather than the document) and "Ofst" (a point in percent of the box).
#include "engine/compose/layer/fill_layer.h"

#include "engine/base/bytes.h"
#include "engine/base/memory.h"
#include "engine/channels/rows.h"
#include "engine/compose/layer/fill_colour.h"
#include "engine/psd/descriptor.h"

namespace engine {
namespace {

const uint32_t kMaxStops = 64;

struct Stop {
  int64_t location;  // 0..4096, 16.16
  int64_t midpoint;  // 0..100, 16.16
  uint8_t value[3];  // colour, or opacity in [0]
};

struct StopList {
  Stop stops[kMaxStops];
  uint32_t count;
};

// The stops of `key`: colours ("Clr ") or opacities ("Opct", percent).
void ReadStops(const Descriptor& grad, const char* key, bool colours,
               const Document* doc, StopList* list) {
  list->count = 0;
  DescriptorList elements;
  if (!ItemList(grad, key, &elements)) return;
  DescriptorValue v;
  while (list->count < kMaxStops && NextElement(&elements, &v)) {
    Descriptor stop;
    if (!ValueDescriptor(v, &stop)) continue;
    Stop s = {};
    s.midpoint = 50 << 16;
    if (!ItemFixed(stop, "Lctn", &s.location)) continue;
    ItemFixed(stop, "Mdpn", &s.midpoint);
    if (colours) {
      // Foreground and background stops without a colour: black and white.
      if (!ReadFillColour(stop, "Clr ", doc, s.value)) {
        char type[4] = {};
        const bool back =
            ItemEnum(stop, "Type", type) && memcmp(type, "BckC", 4) == 0;
        memset(s.value, back ? 255 : 0, 3);
      }
    } else {
      int64_t opacity = 100 << 16;
      ItemFixed(stop, "Opct", &opacity);
      const int64_t a = (opacity * 255 / 100 + 32768) >> 16;
      s.value[0] = static_cast<uint8_t>(a < 0 ? 0 : a > 255 ? 255 : a);
    }
    // Kept in order of location.
    uint32_t at = list->count++;
    while (at > 0 && list->stops[at - 1].location > s.location) {
      list->stops[at] = list->stops[at - 1];
      --at;
    }
    list->stops[at] = s;
  }
}

// The value of channel `c` at position t (0..4096, 16.16) between the
// stops; each stop's midpoint says where between it and the stop before it
// the mean of the two lies. `smooth` (0..1) eases the blend between stops
// towards a smooth step (half of it at most, as the application's
// smoothness of 100% shows).
uint8_t StopValue(const StopList& list, int64_t t, int c, double smooth) {
  const Stop* s = list.stops;
  if (t <= s[0].location) return s[0].value[c];
  for (uint32_t k = 1; k < list.count; ++k) {
    if (t > s[k].location) continue;
    const int64_t span = s[k].location - s[k - 1].location;
    if (span <= 0) return s[k].value[c];
    double p = static_cast<double>(t - s[k - 1].location) / span;
    double m = static_cast<double>(s[k].midpoint) / (100 << 16);
    if (m < 0.01) m = 0.01;
    if (m > 0.99) m = 0.99;
    p = p <= m ? 0.5 * p / m : 0.5 + 0.5 * (p - m) / (1 - m);
    p += 0.5 * smooth * (p * p * (3 - 2 * p) - p);
    const double v =
        s[k - 1].value[c] + (s[k].value[c] - s[k - 1].value[c]) * p;
    return static_cast<uint8_t>(static_cast<int32_t>(v + 0.5));
  }
  return s[list.count - 1].value[c];
}

bool BuildTable(const Descriptor& grad, const Document* doc, uint8_t* table) {
  StopList* colours = AllocateArray<StopList>(2);
  if (colours == nullptr) return false;
  StopList* opacities = colours + 1;
  // A 32-bit document's stops are linear light, and blend as such: their
  // colours take the sRGB curve after the blend.
  Document stops_doc = *doc;
  if (doc->depth == 32) stops_doc.depth = 8;
  ReadStops(grad, "Clrs", true, &stops_doc, colours);
  ReadStops(grad, "Trns", false, doc, opacities);
  const bool usable = colours->count > 0;
  int64_t smoothness = 4096 << 16;
  ItemFixed(grad, "Intr", &smoothness);
  double smooth = static_cast<double>(smoothness) / (4096.0 * 65536.0);
  smooth = smooth < 0 ? 0 : smooth > 1 ? 1 : smooth;
  for (uint32_t i = 0; usable && i < kGradientSteps; ++i) {
    const int64_t t =
        static_cast<int64_t>(i) * (4096 << 16) / (kGradientSteps - 1);
    uint8_t* px = table + 4 * i;
    for (int c = 0; c < 3; ++c) {
      px[c] = StopValue(*colours, t, c, smooth);
      if (doc->depth == 32) px[c] = LinearToSrgbByte(px[c] / 255.0f);
    }
    px[3] = opacities->count > 0 ? StopValue(*opacities, t, 0, 0) : 255;
  }
  Release(colours);
  return usable;
}

GradientShape ShapeFromKey(const char* key) {
  if (memcmp(key, "Rdl ", 4) == 0) return kGradientRadial;
  if (memcmp(key, "Angl", 4) == 0) return kGradientAngle;
  if (memcmp(key, "Rflc", 4) == 0) return kGradientReflected;
  if (memcmp(key, "Dmnd", 4) == 0) return kGradientDiamond;
  return kGradientLinear;
}

double Magnitude(double v) { return v < 0 ? -v : v; }

void Geometry(const Descriptor& d, const PixelRect& box, FillSource* fill) {
  int64_t angle = 90 << 16, scale = 100 << 16;
  ItemFixed(d, "Angl", &angle);
  ItemFixed(d, "Scl ", &scale);
  double degrees = static_cast<double>(angle) / 65536.0;
  degrees = degrees > 1e6 ? 1e6 : degrees < -1e6 ? -1e6 : degrees;
  degrees -= 360.0 * static_cast<double>(static_cast<int32_t>(degrees / 360.0));
  fill->angle = degrees;
  fill->cosine = CosineDegrees(degrees);
  fill->sine = SineDegrees(degrees);
  const double w = box.right - box.left, h = box.bottom - box.top;
  double cx = box.left + w / 2, cy = box.top + h / 2;
  Descriptor offset;
  if (ItemDescriptor(d, "Ofst", &offset)) {
    int64_t ox = 0, oy = 0;
    ItemFixed(offset, "Hrzn", &ox);
    ItemFixed(offset, "Vrtc", &oy);
    cx += w * (static_cast<double>(ox) / 6553600.0);
    cy += h * (static_cast<double>(oy) / 6553600.0);
  }
  fill->centre_x = cx;
  fill->centre_y = cy;
  // The box's extent along the gradient's direction, of which the
  // application's gradients span about 0.86 (measured on its documents).
  double length = Magnitude(w * fill->cosine) + Magnitude(h * fill->sine);
  length *= 0.86 * static_cast<double>(scale) / 6553600.0;
  fill->length = length > 1e-3 ? length : 1e-3;
}

}  // namespace

Status OpenFill(const Document* doc, const LayerTraits& traits,
                const PixelRect& layer_box, const PixelRect& document,
                FillSource* fill) {
  memset(fill, 0, sizeof(*fill));
  const InfoBlock& solid = traits.solid_fill.data != nullptr
                               ? traits.solid_fill
                               : traits.stroke_fill;
  const uint32_t skip = solid.data == traits.stroke_fill.data ? 8 : 4;
  Descriptor d;
  if (solid.data != nullptr && solid.length >= skip &&
      ReadDescriptor(solid.data + skip, solid.data + solid.length, &d) &&
      ReadFillColour(d, "Clr ", doc, fill->colour)) {
    fill->colour[3] = 255;
    fill->active = true;
    return kDone;
  }
  const InfoBlock& pattern = traits.pattern_fill;
  if (pattern.data != nullptr && pattern.length >= 4 &&
      ReadDescriptor(pattern.data + 4, pattern.data + pattern.length, &d)) {
    return OpenPatternFill(doc, d, traits, layer_box, fill);
  }
  const InfoBlock& g = traits.gradient_fill;
  if (g.data == nullptr || g.length < 4 ||
      !ReadDescriptor(g.data + 4, g.data + g.length, &d)) {
    return kDone;
  }
  return OpenGradientFill(doc, d, layer_box, document, fill);
}

Status OpenGradientFill(const Document* doc, const Descriptor& d,
                        const PixelRect& layer_box, const PixelRect& document,
                        FillSource* fill) {
  memset(fill, 0, sizeof(*fill));
  Descriptor grad;
  if (!ItemDescriptor(d, "Grad", &grad)) return kDone;
  char form[4] = {'C', 's', 't', 'S'};
  ItemEnum(grad, "GrdF", form);
  if (memcmp(form, "CstS", 4) != 0) return kDone;  // noise: not painted
  fill->table = static_cast<uint8_t*>(Allocate(kGradientSteps * 4));
  if (fill->table == nullptr) return kNoMemory;
  if (!BuildTable(grad, doc, fill->table)) {
    CloseFill(fill);
    return kDone;
  }
  char type[4] = {'L', 'n', 'r', ' '};
  ItemEnum(d, "Type", type);
  fill->shape = ShapeFromKey(type);
  bool reverse = false, align = true;
  ItemBool(d, "Rvrs", &reverse);
  ItemBool(d, "Algn", &align);
  fill->reverse = reverse;
  Geometry(d, align && !RectEmpty(layer_box) ? layer_box : document, fill);
  fill->gradient = true;
  fill->active = true;
  return kDone;
}

void CloseFill(FillSource* fill) {
  ReleasePattern(&fill->pattern);
  Release(fill->table);
  fill->table = nullptr;
  fill->active = false;
}

void FillRow(const FillSource* fill, int32_t y, int32_t x0, uint32_t n,
             uint8_t* out) {
  if (fill->pattern.pixels != nullptr) {
    PatternRow(fill, y, x0, n, out);
    return;
  }
  if (!fill->gradient) {
    for (uint32_t i = 0; i < n; ++i) memcpy(out + 4 * i, fill->colour, 4);
    return;
  }
  const double dy = y + 0.5 - fill->centre_y;
  const double half = fill->length / 2;
  for (uint32_t i = 0; i < n; ++i) {
    const double dx = x0 + static_cast<double>(i) + 0.5 - fill->centre_x;
    const double along = dx * fill->cosine - dy * fill->sine;
    double t;
    switch (fill->shape) {
      case kGradientRadial:
        t = SquareRoot(dx * dx + dy * dy) / half;
        break;
      case kGradientAngle: {
        double a = fill->angle - ArcTangentDegrees(-dy, dx);
        a -= 360.0 * static_cast<double>(static_cast<int32_t>(a / 360.0));
        if (a < 0) a += 360.0;
        t = a / 360.0;
        break;
      }
      case kGradientReflected:
        t = Magnitude(along) / half;
        break;
      case kGradientDiamond:
        t = (Magnitude(along) +
             Magnitude(dx * fill->sine + dy * fill->cosine)) /
            half;
        break;
      default:
        t = 0.5 + along / fill->length;
        break;
    }
    if (!(t > 0)) t = 0;
    if (t > 1) t = 1;
    if (fill->reverse) t = 1 - t;
    const int32_t index = static_cast<int32_t>(t * (kGradientSteps - 1) + 0.5);
    memcpy(out + 4 * i, fill->table + 4 * index, 4);
  }
}

}  // namespace engine
