// The sections of a document: where they lie, the image resources the
// engine reads, and where the layer records are.
#pragma once

#include "engine/psd/document.h"

namespace engine {

// Where the sections of a document lie, as offsets from its first byte.
struct Sections {
  uint32_t color_mode_length;  // its data at 30
  uint64_t resources_field;    // Image Resources length field
  uint32_t resources_length;
  uint64_t layers_field;  // Layer and Mask Information length field
  uint64_t layers_length;
  uint64_t image_data;  // Image Data: the compression word
};

// Finds the sections; false when a length points past the end of the
// document.
bool LocateSections(const Document* doc, Sections* s);

// The resolution resource (1005) into the document's pixels per metre, and
// the version info (1057) into its merged_placeholder. kNoMemory when the
// section cannot be held.
Status ReadResources(Document* doc, const Sections& s);

// The layer info: where its records begin and the signed layer count.
struct LayerInfo {
  uint64_t records;  // the first record
  int32_t count;
};
LayerInfo FindLayerInfo(const Document* doc, const Sections& s);

// The document's pattern blocks ("Patt", "Pat2", "Pat3") among the global
// blocks behind the layer info, into doc->pattern_blocks.
void FindPatterns(Document* doc, const Sections& s);

}  // namespace engine
