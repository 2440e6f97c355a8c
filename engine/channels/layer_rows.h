// A layer's pixels and its layer mask, one document row at a time, read
// through the channel reader: the one path from a layer's channels to rows,
// for the layer's own picture and for the compositor alike.
#pragma once

#include "engine/base/rect.h"
#include "engine/channels/channel_reader.h"
#include "engine/channels/colour.h"
#include "engine/channels/layer_channels.h"
#include "engine/psd/document.h"
#include "engine/psd/layer_extra.h"

namespace engine {

// What the rows of a CMYK layer hold: converted to blue, green, red; or
// as stored, yellow, magenta, cyan where blue, green, red would be; or
// black in all three (a document composited in CMYK, in two passes).
enum CmykRows : uint8_t {
  kCmykConverted,
  kCmykColours,
  kCmykBlack,
};

struct LayerRows {
  PixelRect rect;  // the layer's rectangle in the document
  uint32_t width;  // samples in a row of its channels
  bool gray;       // as in the plan
  bool cmyk;
  bool lab;
  CmykRows cmyk_rows;          // set after opening (converted by default)
  const ColourTables* colour;  // CMYK rows convert through it (or null)
  // The colour channels are read at 16 bits, as stored, and every mode's
  // colour rows convert through `colour` (a 16-bit document's wide tables).
  bool wide;
  // Or read at 16 bits and handed out as their first bytes (as any 16-bit
  // rows), the samples of the last row read kept in `deep`: red, green,
  // blue of each pixel asked for (gray in all three). `high`: the colour
  // rows' first bytes.
  bool deep;
  uint16_t* deep_row;
  uint8_t* high;
  uint32_t next_row;  // the row of the layer the readers hand out next
  uint32_t end_row;   // no channel's data reaches this row or later ones
  bool active[kPixelRoles];
  uint8_t fill[kPixelRoles];  // the value of a role no channel's row gives
  ChannelReader readers[kPixelRoles];
  uint8_t* constants;  // two rows' bytes of zeros, then of 255s
  // Zip channels inflated at once (layer_inflate.cpp): a plane a channel,
  // which plane each role's is, where it begins and the rows its stream
  // reached.
  uint8_t* inflated;
  Source inflated_source;
  uint8_t plane_of[kPixelRoles];
  uint64_t plane_at[kPixelRoles];
  uint32_t plane_rows[kPixelRoles];
};
const uint8_t kNoPlane = 0xFF;

// Opens the readers of the planned layer (its plan has a picture); CMYK
// rows convert through `colour` when it is not null, and every mode's
// colour rows (all but Lab's) when it holds a 16-bit document's tables.
// `deep`: an RGB or gray 16-bit layer keeps its samples (LayerRows::deep).
Status OpenLayerRows(const Document* doc, const LayerRecord& layer,
                     const LayerPlan& plan, const ColourTables* colour,
                     bool deep, LayerRows* rows);
void CloseLayerRows(LayerRows* rows);

// The next row of the layer, samples [first, first + n), as `step` bytes a
// pixel: 4 blue, green, red, alpha; 3 blue, green, red; 1 the first colour
// channel. A role whose channel does not reach the row reads as its fill.
// Returns whether any channel's data reached the row.
bool ReadNextLayerRow(LayerRows* rows, uint32_t first, uint32_t n,
                      uint32_t step, uint8_t* out);

// Inflates the layer's zip channels (two or more, none read yet, all of
// `height` rows) at once, one thread a channel, into planes; false when it
// did not (fewer channels, or no memory for the planes). The readers stay
// where their streams stopped (for what they say of them) until
// ReadInflatedPlanes turns each into a reader of its plane, which gives
// the rows the stream gave. kNoMemory when a reader cannot be had.
bool InflateLayerChannels(LayerRows* rows, uint32_t height);
Status ReadInflatedPlanes(LayerRows* rows);
// Another opening of the same layer (a band of its rows on another thread)
// reads the planes `from` inflated, in place of its zip channels.
Status ShareInflatedPlanes(LayerRows* from, LayerRows* to);

// Steps over the next `n` rows of the layer (see SkipChannelRows).
void SkipLayerRows(LayerRows* rows, uint32_t n);

// Whether a channel is zip data: its rows come only by inflating every row
// before them, so splitting its rows gains nothing.
bool LayerRowsInflate(const LayerRows* rows);

// Blue, green, red, alpha of columns [x0, x1) of document row `y`, which lie
// within the layer's rectangle; rows are asked for from top to bottom (the
// rows between are stepped over). False when no channel's data reaches it.
bool ReadLayerRow(LayerRows* rows, int32_t y, int32_t x0, int32_t x1,
                  uint8_t* out);

// The document row below the last one any channel's data reaches.
inline int64_t LayerRowsEnd(const LayerRows* rows) {
  return static_cast<int64_t>(rows->rect.top) + rows->end_row;
}

// A layer mask with its rectangle, default colour and density: the user
// mask (channel -2), or when that is the vector mask's rendering (`vector`
// says the record has one) the real user mask (channel -3), or none.
struct MaskRows {
  bool active;  // false: nothing to apply
  PixelRect rect;
  uint8_t default_colour;
  uint8_t density;
  bool has_reader;
  int32_t next_y;  // the document row the reader hands out next
  int32_t end_y;   // the channel's data reaches no row from here on
  ChannelReader reader;
};

Status OpenMaskRows(const Document* doc, const LayerMaskInfo& info,
                    const LayerPlan& plan, bool vector, MaskRows* mask);
void CloseMaskRows(MaskRows* mask);

// Where the mask lets anything through (the whole plane unless its default
// colour is 0).
PixelRect MaskReach(const MaskRows* mask);

// Multiplies the alpha of `n` pixels (blue, green, red, alpha) at columns
// [x0, x0 + n) of row `y` by the mask. Rows are asked for top to bottom.
void ApplyMaskRow(MaskRows* mask, int32_t y, int32_t x0, uint32_t n,
                  uint8_t* pixels);

}  // namespace engine
