// The engine's limits, kept together. Each says what it protects.
#pragma once

#include <stdint.h>

namespace engine {

struct EngineLimits {
  // Sides of a version 1 and a version 2 document (the format's maxima).
  uint32_t max_side_v1;
  uint32_t max_side_v2;
  // A pixel block up to this size is always accepted ...
  uint64_t always_accepted_bytes;
  // ... a larger one only when the document is at least 1/N of its size,
  // N by how far its data can expand: PackBits at most 64 times, zip (the
  // deflate format) at most 1032 times. A picture far larger than its
  // document could describe is refused instead of being filled with zeros.
  uint32_t max_expansion;
  uint32_t max_zip_expansion;
  // Layers of a document: the format's 16-bit count.
  uint32_t max_layers;
  // Colour planes of an output pixel.
  uint32_t max_planes;
  // Scratch rows of one request are allocated only below this size.
  uint64_t max_scratch_bytes;
  // The compositor: canvases of groups and clipping groups open at once
  // beyond the root canvas (deeper ones paint into their parent's canvas;
  // the application itself nests groups 10 deep) ...
  uint32_t max_canvas_levels;
  // ... and the pixels it paints: this many passes over the whole canvas,
  // plus max_zip_expansion pixels for every byte of the document (what its
  // data could describe at most); layers past the limit are left out.
  uint32_t composite_canvas_passes;
  // A threshold in a CMYK document keeps the luminosity of the colours
  // below it (a byte a pixel) for its black: for this many at most (later
  // ones decide on black alone).
  uint32_t max_kept_luminosities;
  // Layer effects: at most this many on a layer, and sizes, spreads and
  // distances held within this many pixels (the application's own maxima
  // are 250 before its scale), which bounds the rows and columns an
  // effect reads beyond what it paints.
  uint32_t max_effects;
  uint32_t max_effect_pixels;
  // A pattern's sides (the format allows 30000; the application's own
  // patterns are far smaller): larger ones are not painted.
  uint32_t max_pattern_side;
  // Line edges of one vector mask once its curves are flattened (each
  // 24 bytes): a longer path leaves the mask out.
  uint32_t max_path_edges;
  // An embedded colour profile larger than this is not used (the largest
  // real ones, with fine tables, are near 4 MiB).
  uint32_t max_profile_bytes;
  // Colour conversions kept between requests, by count and by bytes.
  uint32_t max_kept_conversions;
  uint64_t max_kept_conversion_bytes;
  // Threads of one request, the calling one included: at most this many,
  // and one for every `pixels_per_thread` pixels of work (smaller work is
  // done faster than threads are started).
  uint32_t max_threads;
  uint32_t pixels_per_thread;
};

inline constexpr EngineLimits kLimits = {
    30000,         // max_side_v1
    300000,        // max_side_v2
    256ull << 20,  // always_accepted_bytes
    130,           // max_expansion
    1100,          // max_zip_expansion
    32767,         // max_layers
    4,             // max_planes
    0x7FFFFFFFu,   // max_scratch_bytes
    12,            // max_canvas_levels
    16,            // composite_canvas_passes
    8,             // max_kept_luminosities
    32,            // max_effects
    400,           // max_effect_pixels
    4096,          // max_pattern_side
    1u << 20,      // max_path_edges
    8u << 20,      // max_profile_bytes
    8,             // max_kept_conversions
    48ull << 20,   // max_kept_conversion_bytes
    16,            // max_threads
    1u << 20,      // pixels_per_thread
};

// Whether a pixel block of `image_size` bytes may be handed out for a
// document of `document_size` bytes whose pixel data is zip-compressed
// (`zip`) or not: small blocks always, larger ones only when the document's
// data could describe them.
inline bool PictureFitsDocument(uint64_t image_size, uint64_t document_size,
                                bool zip) {
  const uint32_t expansion =
      zip ? kLimits.max_zip_expansion : kLimits.max_expansion;
  return image_size <= kLimits.always_accepted_bytes ||
         image_size / expansion <= document_size;
}

}  // namespace engine
