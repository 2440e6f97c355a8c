// Adjustment layers: a record whose additional information holds an
// adjustment (levels, curves, hue/saturation, ...) changes the colours of
// what lies below it instead of painting pixels of its own. Each is read
// once per composite into an `Adjustment`: per-sample kinds become a table
// a document channel, the others keep the few numbers their formula needs.
#pragma once

#include "engine/base/status.h"
#include "engine/compose/blend/canvas.h"
#include "engine/psd/document.h"
#include "engine/psd/layer_extra.h"

namespace engine {

enum AdjustmentKind : uint8_t {
  kAdjustTables,     // levels, curves, brightness/contrast, invert,
                     // colour balance, ...
  kAdjustHue,        // hue/saturation, and its colorize form
  kAdjustThreshold,  // luminosity at or above a level: white, else black
  kAdjustGray,       // black & white from six colour weights, tinted or not
  kAdjustFilter,     // photo filter
  kAdjustMixer,      // channel mixer
  kAdjustGradient,   // gradient map
  kAdjustSelective,  // selective colour
  kAdjustVibrance,   // vibrance and saturation
};

// Hue/saturation: the master's hue (degrees) and lightness (-100..100);
// the factor its saturation stretches colours by; at every whole degree
// 0..360, the six ranges' hue, stretch and lightness summed by how much of
// each the hue takes; and for
// colorize, the colour of every sum of a pixel's lightest and darkest
// channels (blue, green, red).
struct HueSaturation {
  bool colorize;
  int32_t hue, lightness;
  float stretch;  // the master saturation's factor
  float by_degree[361][3];
  uint8_t colorized[511][3];
};

struct Adjustment {
  AdjustmentKind kind;
  // Per document channel (red, green, blue; cyan, magenta, yellow, black;
  // gray): the table each sample goes through. Applied after the kind's
  // own formula (the identity for kinds without one).
  uint8_t table[4][256];
  // The numbers of the whole-pixel kinds (`kind` says which).
  HueSaturation hue;
  uint8_t threshold;
  bool keep_luminosity;  // photo filter
  // Black & white: the weights (percent) of reds, yellows, greens, cyans,
  // blues, magentas; a tint (blue, green, red) when `tint`.
  int32_t gray_weight[6];
  bool tint;
  uint8_t colour[3];  // the tint, or the photo filter's colour
  int32_t density;    // photo filter, percent
  // Channel mixer: each output (red, green, blue) from percents of red,
  // green, blue and a constant; monochrome gives the first to all three.
  int32_t mixer[3][4];
  bool monochrome;
  // Selective colour: cyan, magenta, yellow, black changes (-100..100) for
  // reds, yellows, greens, cyans, blues, magentas, whites, neutrals,
  // blacks; absolute or relative to the ink there is.
  int32_t selective[9][4];
  bool absolute;
  int32_t vibrance, saturation;  // vibrance, -100..100
  // Gradient map: the colour (blue, green, red) of every luminosity.
  uint8_t gradient[256][3];
};

// Reads the adjustment of a record (its traits name the block); false when
// it has none this reader applies or its block is malformed (nothing is
// read outside the block).
bool ReadAdjustment(const Document* doc, const LayerTraits& traits,
                    Adjustment* a);

// Adjusts the colours of `n` canvas pixels (blue, green, red, alpha) in
// place; alpha is left as it is. A threshold of a CMYK document decides
// on the luminosity of all four inks: the first pass writes its colours'
// luminosity to `luminosity` (n bytes) and the black pass reads it there
// (null: the black decides alone).
void AdjustPixels(const Adjustment& a, CanvasChannels channels, uint8_t* pixels,
                  uint32_t n, uint8_t* luminosity);

}  // namespace engine
