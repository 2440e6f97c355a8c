// Integer arithmetic of the compositor, the same in every build: rounded
// products of 8-bit values, square roots, and doubles of the file turned
// into fixed point by their bits alone.
#pragma once

#include <stdint.h>

namespace engine {

// x / 255 rounded to nearest, for x up to 65535 + 127.
inline uint32_t Div255(uint32_t x) {
  x += 128;
  return (x + (x >> 8)) >> 8;
}

// a x b / 255 rounded, for bytes a and b.
inline uint32_t MulDiv255(uint32_t a, uint32_t b) { return Div255(a * b); }

// Largest r with r x r <= n.
inline uint32_t IntegerSqrt(uint64_t n) {
  uint64_t root = 0;
  uint64_t bit = static_cast<uint64_t>(1) << 62;
  while (bit > n) bit >>= 2;
  while (bit != 0) {
    if (n >= root + bit) {
      n -= root + bit;
      root = (root >> 1) + bit;
    } else {
      root >>= 1;
    }
    bit >>= 2;
  }
  return static_cast<uint32_t>(root);
}

// The 8 bytes of a big-endian double.
inline uint64_t ReadDoubleBits(const uint8_t* p) {
  uint64_t bits = 0;
  for (int i = 0; i < 8; ++i) bits = (bits << 8) | p[i];
  return bits;
}

// The double with bit pattern `bits` times 2^fraction_bits, truncated
// toward zero and clamped to +-2^62; NaN gives 0.
inline int64_t FixedFromDouble(uint64_t bits, int32_t fraction_bits) {
  const int64_t limit = static_cast<int64_t>(1) << 62;
  const int32_t exponent = static_cast<int32_t>((bits >> 52) & 0x7FF);
  const uint64_t mantissa = bits & ((static_cast<uint64_t>(1) << 52) - 1);
  if (exponent == 0x7FF && mantissa != 0) return 0;
  if (exponent == 0) return 0;  // zero and subnormals
  // value = (2^52 + mantissa) x 2^(exponent - 1075)
  const int32_t shift = exponent - 1075 + fraction_bits;
  const uint64_t whole = (static_cast<uint64_t>(1) << 52) | mantissa;
  int64_t magnitude;
  if (shift >= 10 || exponent == 0x7FF) {
    magnitude = limit;
  } else if (shift >= 0) {
    magnitude = static_cast<int64_t>(whole << shift);
  } else if (shift > -64) {
    magnitude = static_cast<int64_t>(whole >> -shift);
  } else {
    magnitude = 0;
  }
  if (magnitude > limit) magnitude = limit;
  return (bits >> 63) ? -magnitude : magnitude;
}

}  // namespace engine
