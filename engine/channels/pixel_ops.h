// Fast row primitives of the pixel decoders: PackBits unpacking with
// whole-vector copies, interleaving of colour planes into DIB pixels, the
// CMYK conversion of a row, and the reduction of 16-bit samples. Each gives
// exactly the bytes of the plain per-byte loop it replaces; SSE2 is used
// where the compiler targets it (the x86 builds), plain loops elsewhere.
#pragma once

#include <stdint.h>

namespace engine {

// Bytes that UnpackBitsRowWide may write behind `room`.
const uint32_t kUnpackSlack = 32;

// Unpacks PackBits runs from `src` (never reading at or past `end`) into
// `out`, which has room for `room` bytes and kUnpackSlack more that may be
// overwritten (runs are copied and filled 16 bytes at a time, at least 32 a
// run). The row ends when `out` is full, when a run does not fit in what is
// left of it (its header byte stays consumed), or when the input ends. A
// header byte h < 128 is followed by h + 1 literal bytes; h >= 128 repeats
// the next byte 257 - h times. Returns the bytes written; `*next` is the
// read position afterwards.
uint32_t UnpackBitsRowWide(const uint8_t* src, const uint8_t* end, uint8_t* out,
                           uint32_t room, const uint8_t** next);

// n pixels of blue, green, red (3 bytes each) from three planes.
void InterleaveBgr(const uint8_t* r, const uint8_t* g, const uint8_t* b,
                   uint32_t n, uint8_t* dst);

// n pixels of blue, green, red, alpha (4 bytes each) from four planes.
void InterleaveBgra(const uint8_t* r, const uint8_t* g, const uint8_t* b,
                    const uint8_t* a, uint32_t n, uint8_t* dst);

// Blue, green and red of the fully transparent pixels among n (4 bytes
// each, alpha fourth) become 255: they show white.
void WhitenTransparent(uint8_t* pixels, uint32_t n);

// n CMYK pixels (as stored: 255 is no ink) to blue, green, red and a fourth
// byte of 255, 4 bytes each: each colour is K - ((255 - ink) x (K + 1)) / 256.
void CmykToBgrxRow(const uint8_t* c, const uint8_t* m, const uint8_t* y,
                   const uint8_t* k, uint32_t n, uint8_t* dst);

// The first (most significant) byte of each of `count` big-endian 16-bit
// samples.
void TakeHighBytes(const uint8_t* in, uint32_t count, uint8_t* out);

}  // namespace engine
