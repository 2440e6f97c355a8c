// The fast row primitives against the plain per-byte loops they replace,
// over every length around the vector width and random contents.
#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "engine/channels/pixel_ops.h"
#include "engine/channels/rows.h"

namespace {

using namespace engine;  // NOLINT: the row primitives under test

using Bytes = std::vector<uint8_t>;

Bytes RandomBytes(std::mt19937& rng, size_t n, uint32_t alphabet = 256) {
  Bytes b(n);
  for (auto& v : b) v = static_cast<uint8_t>(rng() % alphabet);
  return b;
}

// PackBits one byte at a time: the reference for the fast unpacker.
uint32_t ReferenceUnpack(const uint8_t* src, const uint8_t* end, uint8_t* out,
                         uint32_t room, const uint8_t** next) {
  uint32_t filled = 0;
  const uint8_t* p = src;
  while (filled < room && p < end) {
    const uint32_t h = *p++;
    const bool repeat = h >= 128;
    const uint32_t n = repeat ? 257 - h : h + 1;
    const uint64_t needed = repeat ? 1 : n;  // input bytes of the run
    if (n > room - filled || static_cast<uint64_t>(end - p) < needed) break;
    for (uint32_t i = 0; i < n; ++i) out[filled++] = repeat ? p[0] : p[i];
    p += needed;
  }
  *next = p;
  return filled;
}

TEST(PixelOpsTest, UnpackMatchesThePlainUnpacker) {
  std::mt19937 rng(7);
  for (int round = 0; round < 20000; ++round) {
    // Arbitrary bytes: literal and repeat runs of every length, runs that
    // do not fit the row and input that ends inside a run. The input is a
    // block of exactly its size, so a read past it is a fault under the
    // address sanitizer.
    const size_t in_size = rng() % 1000;
    const Bytes input = RandomBytes(rng, in_size);
    const uint32_t room = rng() % 1200;
    const uint8_t* src = input.data();
    const uint8_t* end = src + in_size;

    Bytes plain(room + kUnpackSlack, 0xEE);
    Bytes wide(room + kUnpackSlack, 0xEE);
    const uint8_t* plain_next = nullptr;
    const uint8_t* wide_next = nullptr;
    const uint32_t plain_filled =
        ReferenceUnpack(src, end, plain.data(), room, &plain_next);
    const uint32_t wide_filled =
        UnpackBitsRowWide(src, end, wide.data(), room, &wide_next);
    ASSERT_EQ(plain_filled, wide_filled) << "round " << round;
    ASSERT_EQ(plain_next, wide_next) << "round " << round;
    ASSERT_TRUE(
        std::equal(plain.begin(), plain.begin() + plain_filled, wide.begin()))
        << "round " << round;
  }
}

TEST(PixelOpsTest, UnpackFillsLongRowsOfLongRuns) {
  // 129 copies (header 0x80), 128 literal bytes, then 2 copies: the
  // longest runs, back to back.
  Bytes packed = {0x80, 0x55, 0x7F};
  for (int i = 0; i < 128; ++i) packed.push_back(static_cast<uint8_t>(i));
  packed.push_back(0xFF);
  packed.push_back(0x11);
  Bytes out(259 + kUnpackSlack, 0);
  const uint8_t* next = nullptr;
  ASSERT_EQ(UnpackBitsRowWide(packed.data(), packed.data() + packed.size(),
                              out.data(), 259, &next),
            259u);
  EXPECT_EQ(next, packed.data() + packed.size());
  for (int i = 0; i < 129; ++i) ASSERT_EQ(out[i], 0x55);
  for (int i = 0; i < 128; ++i) ASSERT_EQ(out[129 + i], i);
  EXPECT_EQ(out[257], 0x11);
  EXPECT_EQ(out[258], 0x11);
}

TEST(PixelOpsTest, RowConversionsMatchPerPixelFormulas) {
  std::mt19937 rng(11);
  for (uint32_t n = 0; n < 100; ++n) {
    for (uint32_t alphabet : {256u, 2u}) {
      const Bytes c = RandomBytes(rng, n, alphabet);
      const Bytes m = RandomBytes(rng, n, alphabet);
      const Bytes y = RandomBytes(rng, n);
      Bytes k = RandomBytes(rng, n);
      if (alphabet == 2) {
        for (auto& v : k) v = v ? 255 : 0;  // the extremes of black
      }

      // A guard byte after every output: nothing is written past n pixels.
      Bytes bgr(3 * n + 1, 0xA5);
      InterleaveBgr(c.data(), m.data(), y.data(), n, bgr.data());
      for (uint32_t x = 0; x < n; ++x) {
        ASSERT_EQ(bgr[3 * x], y[x]) << n;
        ASSERT_EQ(bgr[3 * x + 1], m[x]) << n;
        ASSERT_EQ(bgr[3 * x + 2], c[x]) << n;
      }
      EXPECT_EQ(bgr[3 * n], 0xA5);

      Bytes bgra(4 * n + 1, 0xA5);
      InterleaveBgra(c.data(), m.data(), y.data(), k.data(), n, bgra.data());
      Bytes whitened = bgra;
      WhitenTransparent(whitened.data(), n);
      for (uint32_t x = 0; x < n; ++x) {
        const uint8_t pixel[4] = {y[x], m[x], c[x], k[x]};
        for (int i = 0; i < 4; ++i) {
          ASSERT_EQ(bgra[4 * x + i], pixel[i]) << n;
          ASSERT_EQ(whitened[4 * x + i], i < 3 && k[x] == 0 ? 255 : pixel[i]);
        }
      }
      EXPECT_EQ(whitened[4 * n], 0xA5);

      Bytes bgrx(4 * n + 1, 0xA5);
      CmykToBgrxRow(c.data(), m.data(), y.data(), k.data(), n, bgrx.data());
      for (uint32_t x = 0; x < n; ++x) {
        uint8_t expected[3];
        CmykToBgr(c[x], m[x], y[x], k[x], expected);
        ASSERT_EQ(bgrx[4 * x], expected[0]) << n << " " << x;
        ASSERT_EQ(bgrx[4 * x + 1], expected[1]) << n << " " << x;
        ASSERT_EQ(bgrx[4 * x + 2], expected[2]) << n << " " << x;
        ASSERT_EQ(bgrx[4 * x + 3], 255);
      }
      EXPECT_EQ(bgrx[4 * n], 0xA5);

      const Bytes deep = RandomBytes(rng, 2 * n);
      Bytes high(n + 1, 0xA5);
      TakeHighBytes(deep.data(), n, high.data());
      for (uint32_t x = 0; x < n; ++x) ASSERT_EQ(high[x], deep[2 * x]);
      EXPECT_EQ(high[n], 0xA5);
    }
  }
}

TEST(PixelOpsTest, CmykCornersOfTheFormula) {
  // No ink at all is white; black 0 is black whatever the inks; full
  // cyan under light black.
  const uint8_t c[3] = {255, 10, 100};
  const uint8_t m[3] = {255, 20, 255};
  const uint8_t y[3] = {255, 30, 255};
  const uint8_t k[3] = {255, 0, 200};
  uint8_t out[12];
  CmykToBgrxRow(c, m, y, k, 3, out);
  const uint8_t expected[12] = {255, 255, 255, 255, 0,  0,
                                0,   255, 200, 200, 79, 255};
  for (int i = 0; i < 12; ++i) EXPECT_EQ(out[i], expected[i]) << i;
}

}  // namespace
