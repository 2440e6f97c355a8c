// Fill layers painted from their settings where their channels hold no
// pixels: a solid colour ("SoCo", or a shape's "vscg" fill content), a
// pattern ("PtFl") or a gradient ("GdFl": linear, radial, angle, reflected or
// diamond, with colour and transparency stops).
#pragma once

#include "engine/base/rect.h"
#include "engine/channels/pattern_image.h"
#include "engine/psd/descriptor.h"
#include "engine/psd/document.h"
#include "engine/psd/layer_extra.h"

namespace engine {

const uint32_t kGradientSteps = 1024;

enum GradientShape : uint8_t {
  kGradientLinear,
  kGradientRadial,
  kGradientAngle,
  kGradientReflected,
  kGradientDiamond,
};

struct FillSource {
  bool active;
  bool gradient;
  uint8_t colour[4];  // a solid fill: blue, green, red, 255
  // A gradient: its colours and alpha at kGradientSteps positions from 0
  // to 1, and its geometry in document pixels: where 0 lies (the start, or
  // the centre of the shapes around one) and the vector to where 1 lies.
  GradientShape shape;
  bool reverse;
  double start_x;
  double start_y;
  double vector_x;
  double vector_y;
  double inverse_span;    // 1 / the vector's length squared
  double inverse_length;  // 1 / the vector's length
  uint8_t* table;         // kGradientSteps x 4 bytes
  // A pattern: its picture, repeated from an origin in the document, at a
  // scale (1: its own pixels).
  PatternImage pattern;
  double origin_x;
  double origin_y;
  double scale;
};

// A box in document pixels, in fractions of a pixel.
struct GradientBox {
  double left;
  double top;
  double right;
  double bottom;
};

// The box a gradient aligned with the layer spans: its vector mask's path
// when it has an enabled one, else `layer_box` (the layer's bounds); grown
// by `grow` pixels on every side (gradient_box.cpp).
GradientBox GradientBoxOf(const Document* doc, const LayerTraits& traits,
                          const PixelRect& layer_box, int32_t grow);

// Reads the layer's fill settings. A gradient spans the layer's
// GradientBoxOf when aligned with the layer, else `document`. An inactive
// source paints nothing; kNoMemory when the gradient's table cannot be had.
Status OpenFill(const Document* doc, const LayerTraits& traits,
                const PixelRect& layer_box, const PixelRect& document,
                FillSource* fill);
// The gradient of a fill descriptor (its "Grad", "Type", "Angl", "Scl ",
// "Rvrs", "Algn" and "Ofst"), as OpenFill reads it, aligned with `box`.
Status OpenGradientFill(const Document* doc, const Descriptor& d,
                        const GradientBox& box, const PixelRect& document,
                        FillSource* fill);
// The pattern of a pattern descriptor ("Ptrn" with its "Idnt", "Scl " in
// percent, "phase" a point, "Algn" linked with the layer: its origin the
// layer's reference point, or its box's corner, rather than the
// document's).
Status OpenPatternFill(const Document* doc, const Descriptor& d,
                       const LayerTraits& traits, const PixelRect& layer_box,
                       FillSource* fill);
void CloseFill(FillSource* fill);
// A pattern fill's row (fill_pattern.cpp).
void PatternRow(const FillSource* fill, int32_t y, int32_t x0, uint32_t n,
                uint8_t* out);

// Blue, green, red, alpha of `n` pixels from column x0 of row y.
void FillRow(const FillSource* fill, int32_t y, int32_t x0, uint32_t n,
             uint8_t* out);

}  // namespace engine
