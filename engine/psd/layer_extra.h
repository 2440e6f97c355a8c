// What a layer record's extra data says beyond its rectangles: the layer
// mask's default colour, flags, "real" mask and parameters, and the
// additional information blocks the compositor reads.
#pragma once

#include "engine/psd/document.h"

namespace engine {

// A block of additional information: its data and length (null when the
// record has no such block).
struct InfoBlock {
  const uint8_t* data;
  uint32_t length;
};

// The layer mask data. The user mask (channel -2) covers `rect`; when it
// is a rendering of the vector mask (and of the mask the user painted), the
// real user mask (channel -3), the painted one alone, covers `real_rect`.
// Outside its rectangle a mask has its default colour.
struct LayerMaskInfo {
  bool present;
  bool disabled;
  bool rendered;  // the user mask is a rendering of the vector mask
  PixelRect rect;
  uint8_t default_colour;
  bool has_real;
  bool real_disabled;  // its own flags turn the painted mask off
  PixelRect real_rect;
  uint8_t real_default_colour;
  // Parameters: densities (255 when absent) and feather radii in pixels
  // (0 when absent; whole pixels, rounded).
  uint8_t user_density;
  uint8_t vector_density;
  uint32_t user_feather;
  uint32_t vector_feather;
};

// Section divider types of an "lsct" block.
enum : uint8_t {
  kSectionLayer = 0,
  kSectionOpenGroup = 1,
  kSectionClosedGroup = 2,
  kSectionDivider = 3,
};

// What the compositor reads from a record's extra data, parsed once: the
// mask data and the additional information it uses.
struct LayerTraits {
  LayerMaskInfo mask;
  uint8_t section;        // kSection...
  char section_blend[4];  // the group's blend key when the block gives one
  bool has_section_blend;
  uint8_t fill_opacity;    // "iOpa", 255 without it
  bool adjustment;         // an adjustment layer
  char adjustment_key[4];  // its block's key ("levl", "curv", ...)
  InfoBlock adjustment_block;
  InfoBlock brightness;  // "CgEd": brightness/contrast as a descriptor
  // Set by the compositor's plan: a clipped layer whose base is an
  // adjustment layer (painted as if not clipped).
  bool clipped_to_adjustment;
  // Set by the plan on a group's divider and group record: an adjustment
  // layer lies within the group.
  bool holds_adjustment;
  // Set by the plan on a group's divider and group record: a member layer
  // knocks out (the group keeps what was below it).
  bool holds_knockout;
  InfoBlock vector_mask;    // "vmsk" or "vsms"
  InfoBlock solid_fill;     // "SoCo"
  InfoBlock gradient_fill;  // "GdFl"
  InfoBlock stroke_fill;    // "vscg": a shape's fill content
  InfoBlock vector_stroke;  // "vstk": a shape's stroke along its path
  InfoBlock pattern_fill;   // "PtFl"
  InfoBlock artboard;       // "artb", "artd" or "abdd": a group's artboard
  // Layer effects: "lmfx" (several of a kind) or "lfx2" ("lfxs" on a
  // group's record).
  InfoBlock effects;
  // Advanced blending: knockout ("knko": 0 none, 1 shallow, 2 deep), the
  // channels left out ("brst": a bit for each of the first channels), and
  // "infx" (blend interior effects as group).
  uint8_t knockout;
  uint8_t channels_left_out;
  bool interior_as_group;
  // The effects' reference point ("fxrp": two doubles, x then y), whole
  // pixels: where a pattern linked with the layer has its origin.
  bool has_reference;
  int32_t reference_x;
  int32_t reference_y;
  // The blending ranges ("blend if"): the record's data, or null.
  InfoBlock blend_ranges;
};

// Reads the mask data at the start of the record's extra data, then walks
// its additional information blocks once.
void ReadLayerTraits(const Document* doc, const LayerRecord& layer,
                     LayerTraits* traits);

}  // namespace engine
