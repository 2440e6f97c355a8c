// A layer's pixels and its layer mask for the compositor, one document row
// at a time, read through the channel reader.
#pragma once

#include "engine/compose/canvas.h"
#include "engine/channels/channel_reader.h"
#include "engine/psd/document.h"
#include "engine/psd/layer_extra.h"

// What the compositor uses a layer channel for.
enum ChannelRole {
  kRoleRed,  // also gray, cyan, L*
  kRoleGreen,
  kRoleBlue,
  kRoleBlack,
  kRoleAlpha,
  kRoleUserMask,
  kRoleRealMask,
  kRoles
};
const int kColourRoles = kRoleAlpha + 1;

// Where a channel lies: its compression word (null: the layer has no such
// channel, or its data is not in the document) and the offset of its end.
struct ChannelPlace {
  const uint8_t* at;
  uint64_t end;
};

// The channel of every role, from the channel table of the layer whose data
// begins at `offset`; a later channel of the same role takes the place of
// an earlier one.
void FindLayerChannels(const DecodeState* state, const LayerRecord& layer,
                       uint64_t offset, ChannelPlace* places);

struct LayerRows {
  LayerPlan plan;
  PixelRect rect;  // the layer's rectangle in the document
  int32_t next_y;  // the document row the readers hand out next
  int32_t end_y;   // no channel's data reaches this row or later ones
  bool active[kColourRoles];
  uint8_t fill[kColourRoles];  // the value of a role without a channel
  ChannelReader readers[kColourRoles];
  uint8_t* constants;  // a row of zeros, then a row of 255s
};

Status OpenLayerRows(const DecodeState* state, const LayerRecord& layer,
                     const LayerPlan& plan, const ChannelPlace* places,
                     LayerRows* rows);
void CloseLayerRows(LayerRows* rows);

// Blue, green, red, alpha of columns [x0, x1) of document row `y`, which
// lie within the layer's rectangle; rows are asked for from top to bottom.
// False when no channel's data reaches the row.
bool ReadLayerRow(LayerRows* rows, int32_t y, int32_t x0, int32_t x1,
                  uint8_t* out);

// A layer mask with its rectangle, default colour and density: the user
// mask (channel -2), or when that is the vector mask's rendering (`vector`
// says the record has one) the real user mask (channel -3), or none.
struct MaskRows {
  bool active;  // false: nothing to apply
  MaskRect rect;
  uint8_t default_colour;
  uint8_t density;
  bool has_reader;
  int32_t next_y;  // the document row the reader hands out next
  int32_t end_y;   // the channel's data reaches no row from here on
  ChannelReader reader;
};

Status OpenMaskRows(const DecodeState* state, const LayerMaskInfo& info,
                    const ChannelPlace* places, bool vector, MaskRows* mask);
void CloseMaskRows(MaskRows* mask);

// Where the mask lets anything through (the whole plane unless its default
// colour is 0).
PixelRect MaskReach(const MaskRows* mask);

// Multiplies the alpha of `n` pixels (blue, green, red, alpha) at columns
// [x0, x0 + n) of row `y` by the mask. Rows are asked for top to bottom.
void ApplyMaskRow(MaskRows* mask, int32_t y, int32_t x0, uint32_t n,
                  uint8_t* pixels);
