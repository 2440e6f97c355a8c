// The document's patterns: found by their identifier in its pattern blocks
// and decoded into pictures (blue, green, red, alpha) through the channel
// reader.
#pragma once

#include "engine/base/status.h"
#include "engine/psd/document.h"

namespace engine {

struct PatternImage {
  uint32_t width;
  uint32_t height;
  uint8_t* pixels;  // null: no pattern
};

// The pattern whose identifier is `id` (`length` ASCII characters). No
// pattern (pixels null) when the document has none of that identifier, or
// one that does not read, or one larger than its document's bytes could
// describe or than the limits allow; kNoMemory when its picture cannot be
// had.
Status LoadPattern(const Document* doc, const char* id, uint32_t length,
                   PatternImage* pattern);
void ReleasePattern(PatternImage* pattern);

}  // namespace engine
