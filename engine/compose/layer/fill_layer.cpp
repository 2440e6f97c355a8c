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
#include "engine/compose/layer/gradient_stops.h"
#include "engine/psd/descriptor.h"

namespace engine {
namespace {

// The stops of `key`: colours ("Clr ", in `space`; `light`: samples of
// linear light) or opacities ("Opct", percent, as 0..255).
void ReadStops(const Descriptor& grad, const char* key, bool colours,
               const Document* doc, bool light, GradientSpace space,
               StopList* list) {
  list->count = 0;
  DescriptorList elements;
  if (!ItemList(grad, key, &elements)) return;
  DescriptorValue v;
  while (list->count < kMaxStops && NextElement(&elements, &v)) {
    Descriptor stop;
    if (!ValueDescriptor(v, &stop)) continue;
    GradientStop s = {};
    s.midpoint = 50 << 16;
    if (!ItemFixed(stop, "Lctn", &s.location)) continue;
    ItemFixed(stop, "Mdpn", &s.midpoint);
    if (colours) {
      // Foreground and background stops without a colour: black and white.
      uint8_t bgr[3];
      if (!ReadFillColour(stop, "Clr ", doc, bgr)) {
        char type[4] = {};
        const bool back =
            ItemEnum(stop, "Type", type) && memcmp(type, "BckC", 4) == 0;
        memset(bgr, back ? 255 : 0, 3);
      }
      ToGradientSpace(bgr, light, space, s.value);
    } else {
      int64_t opacity = 100 << 16;
      ItemFixed(stop, "Opct", &opacity);
      const int64_t a = (opacity * 255 / 100 + 32768) >> 16;
      s.value[0] = static_cast<double>(a < 0 ? 0 : a > 255 ? 255 : a);
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

bool BuildTable(const Descriptor& grad, const Document* doc,
                GradientSpace space, uint8_t* table) {
  StopList* colours = AllocateArray<StopList>(2);
  if (colours == nullptr) return false;
  StopList* opacities = colours + 1;
  // A 32-bit document's stops are linear light, and blend as such: their
  // colours take the sRGB curve after the blend.
  Document stops_doc = *doc;
  if (doc->depth == 32) stops_doc.depth = 8;
  const bool light = doc->depth == 32;
  ReadStops(grad, "Clrs", true, &stops_doc, light, space, colours);
  ReadStops(grad, "Trns", false, doc, light, space, opacities);
  const bool usable = colours->count > 0;
  int64_t smoothness = 4096 << 16;
  ItemFixed(grad, "Intr", &smoothness);
  double smooth = static_cast<double>(smoothness) / (4096.0 * 65536.0);
  smooth = smooth < 0 ? 0 : smooth > 1 ? 1 : smooth;
  for (uint32_t i = 0; usable && i < kGradientSteps; ++i) {
    const int64_t t =
        static_cast<int64_t>(i) * (4096 << 16) / (kGradientSteps - 1);
    uint8_t* px = table + 4 * i;
    double v[3];
    for (int c = 0; c < 3; ++c) v[c] = StopValue(*colours, t, c, smooth);
    FromGradientSpace(v, light, space, px);
    const double a =
        opacities->count > 0 ? StopValue(*opacities, t, 0, smooth) : 255;
    px[3] = static_cast<uint8_t>(a <= 0 ? 0 : a >= 255 ? 255 : a + 0.5);
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

// The whole number at or below v (v within +-2^52).
double Floor(double v) {
  const double whole = static_cast<double>(static_cast<int64_t>(v));
  return whole > v ? whole - 1 : whole;
}

// The gradient's start and end points, as the application places them: a
// line through the box's centre (moved by "Ofst", in percent of the box)
// at the angle, reaching the box's edge, times the scale; a linear
// gradient runs across it, the others from the centre to its end. Each
// point lands on the whole pixel at or above and left of it, which on
// small boxes turns the angle (30 degrees in a 4 x 4 box runs at 45).
void Geometry(const Descriptor& d, const GradientBox& box, FillSource* fill) {
  int64_t angle = 0, scale = 100 << 16;
  ItemFixed(d, "Angl", &angle);
  ItemFixed(d, "Scl ", &scale);
  double degrees = static_cast<double>(angle) / 65536.0;
  degrees = degrees > 1e6 ? 1e6 : degrees < -1e6 ? -1e6 : degrees;
  degrees -= 360.0 * static_cast<double>(static_cast<int32_t>(degrees / 360.0));
  const double cosine = CosineDegrees(degrees), sine = SineDegrees(degrees);
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
  // Half the line: to the nearer of the box's edges along the angle.
  double half = 1e9;
  if (Magnitude(cosine) > 1e-9) half = w / 2 / Magnitude(cosine);
  if (Magnitude(sine) > 1e-9 && h / 2 / Magnitude(sine) < half) {
    half = h / 2 / Magnitude(sine);
  }
  const double s = static_cast<double>(scale) / 6553600.0;
  half *= s < 0 ? -s : s > 1e3 ? 1e3 : s;
  const double ex = cosine * half, ey = -sine * half;
  const bool across = fill->shape == kGradientLinear;
  // Points a hair under a whole pixel count as on it: paths place their
  // points in 8.24 fractions of the document, a few millionths of a pixel
  // off whole ones.
  const double kHair = 1.0 / 1024;
  const double sx = Floor((across ? cx - ex : cx) + kHair);
  const double sy = Floor((across ? cy - ey : cy) + kHair);
  fill->start_x = sx;
  fill->start_y = sy;
  fill->vector_x = Floor(cx + ex + kHair) - sx;
  fill->vector_y = Floor(cy + ey + kHair) - sy;
  double span =
      fill->vector_x * fill->vector_x + fill->vector_y * fill->vector_y;
  if (span < 1) {
    // Both ends on one pixel: a unit step along the angle.
    fill->vector_x = cosine;
    fill->vector_y = -sine;
    span = 1;
  }
  fill->inverse_span = 1 / span;
  fill->inverse_length = 1 / SquareRoot(span);
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
  return OpenGradientFill(doc, d, GradientBoxOf(doc, traits, layer_box, 0),
                          document, fill);
}

Status OpenGradientFill(const Document* doc, const Descriptor& d,
                        const GradientBox& box, const PixelRect& document,
                        FillSource* fill) {
  memset(fill, 0, sizeof(*fill));
  Descriptor grad;
  if (!ItemDescriptor(d, "Grad", &grad)) return kDone;
  char form[4] = {'C', 's', 't', 'S'};
  ItemEnum(grad, "GrdF", form);
  if (memcmp(form, "CstS", 4) != 0) return kDone;  // noise: not painted
  fill->table = static_cast<uint8_t*>(Allocate(kGradientSteps * 4));
  if (fill->table == nullptr) return kNoMemory;
  // The method the stops blend by: an effect's "gs99", a fill layer's
  // "gradientsInterpolationMethod".
  char method[4] = {'G', 'c', 'l', 's'};
  if (!ItemEnum(d, "gs99", method)) {
    ItemEnum(d, "gradientsInterpolationMethod", method);
  }
  if (!BuildTable(grad, doc, GradientSpaceFromKey(method), fill->table)) {
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
  const GradientBox whole = {static_cast<double>(document.left),
                             static_cast<double>(document.top),
                             static_cast<double>(document.right),
                             static_cast<double>(document.bottom)};
  const bool boxed = box.right > box.left && box.bottom > box.top;
  Geometry(d, align && boxed ? box : whole, fill);
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
  // Samples at the pixels' corners, as the application takes them.
  const double py = y - fill->start_y;
  const double vx = fill->vector_x * fill->inverse_span;
  const double vy = fill->vector_y * fill->inverse_span;
  for (uint32_t i = 0; i < n; ++i) {
    const double px = x0 + static_cast<double>(i) - fill->start_x;
    // Along the vector and across it, in lengths of the vector.
    const double along = px * vx + py * vy;
    const double across = py * vx - px * vy;
    double t;
    switch (fill->shape) {
      case kGradientRadial:
        t = SquareRoot(px * px + py * py) * fill->inverse_length;
        break;
      case kGradientAngle: {
        // Clockwise on the page from the vector, a full turn to 1.
        double a = ArcTangentDegrees(across, along);
        if (a < 0) a += 360.0;
        t = a / 360.0;
        break;
      }
      case kGradientReflected:
        t = Magnitude(along);
        break;
      case kGradientDiamond:
        t = Magnitude(along) + Magnitude(across);
        break;
      default:
        t = along;
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
