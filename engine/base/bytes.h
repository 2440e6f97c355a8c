// Big-endian numbers of the PSD file and checked positions within the
// document image.
#pragma once

#include <stdint.h>
#include <string.h>

namespace engine {

inline uint16_t ReadU16(const uint8_t* p) {
  return static_cast<uint16_t>((p[0] << 8) | p[1]);
}

inline uint32_t ReadU32(const uint8_t* p) {
  return (static_cast<uint32_t>(p[0]) << 24) |
         (static_cast<uint32_t>(p[1]) << 16) |
         (static_cast<uint32_t>(p[2]) << 8) | static_cast<uint32_t>(p[3]);
}

// Bytes left from `p` to `end` (0 when p is at or past end).
inline uint64_t BytesLeft(const uint8_t* p, const uint8_t* end) {
  return p < end ? static_cast<uint64_t>(end - p) : 0;
}

// True when `n` bytes starting at `offset` lie within a document of `size`.
inline bool RangeFits(uint64_t offset, uint64_t n, uint64_t size) {
  return offset <= size && n <= size - offset;
}

// a + b, or the largest value where the sum does not fit (lengths of the
// large-document format are 64 bits wide).
inline uint64_t SaturatingAdd(uint64_t a, uint64_t b) {
  return a + b < a ? ~static_cast<uint64_t>(0) : a + b;
}

// Rounds up to a multiple of 4.
inline uint64_t PadTo4(uint64_t n) {
  return (n + 3) & ~static_cast<uint64_t>(3);
}

}  // namespace engine
