// A layer's channels: one walk of its record's channel table tells where
// each channel lies, what the layer's picture is (its bytes per pixel and
// size, or none) and how its colours are read. Extraction, the listing and
// the compositor all start from it, so they always agree.
#pragma once

#include "common/log.h"
#include "engine/channels/channel_reader.h"
#include "engine/psd/document.h"

namespace engine {

// What a layer channel is used for.
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
// The roles that make up a layer's pixels.
const int kPixelRoles = kRoleAlpha + 1;

// The channel that serves a role: the last one of the table with that role
// whose compression word lies in the document.
struct ChannelPlace {
  bool found;
  bool holds_word;       // the channel is long enough for its word
  uint16_t compression;  // raw for a channel too short to hold its word
                         // (known once ReadChannelWords has read it)
  uint64_t at;           // its compression word
  uint64_t data;         // behind the compression word
  uint64_t end;          // behind the channel (may lie past the document)
  int32_t number;        // its place in the record's channel table
};

struct LayerPlan {
  bool has_picture;          // false: the merged picture is served instead
  uint32_t bytes_per_pixel;  // 0, 1, 3 or 4
  uint32_t stride;
  uint32_t image_size;  // stride x height
  bool gray;            // channel 0 is the only colour channel
  bool cmyk;            // channels 0..3 are cyan, magenta, yellow, black
  bool lab;             // channels 0..2 are L*, a*, b*
  bool has_alpha;
  ChannelPlace places[kRoles];
};

// Plans layer `index` of a complete list (a layer whose data cannot be
// found gets no picture; the places are filled all the same). Reads no
// channel data but, for a picture above what is always accepted, the
// channels' compression words. `palette_output`: the document's pictures
// have a 256-entry palette, so a lone colour channel takes one byte a pixel.
void PlanLayer(const Document* doc, const LayerList* list, uint32_t index,
               bool palette_output, LayerPlan* plan);

// Reads the compression words of the placed channels of layer `index`.
// With `log`, each channel of the layer's pixels is logged, with the fault
// of a compression it does not know.
void ReadChannelWords(const Document* doc, uint32_t index, LayerPlan* plan,
                      LogBuffer* log);

// The channel reader's view of a channel with `width` x `height` samples.
ChannelSpec PlacedChannelSpec(const Document* doc, const ChannelPlace& place,
                              uint32_t width, uint32_t height);

// Rows of a channel its data can reach at all in a document of `size`
// bytes: raw rows while whole rows remain, PackBits rows while their byte
// counts are there; other compressions are bounded by their rows alone.
uint32_t ReachableRows(const ChannelSpec& spec, uint64_t size);

}  // namespace engine
