// Layer pictures: placement of channels, transparency, gray, CMYK and deep
// layers, masks and spot channels that are stepped over, later layers and
// the fall-back to the merged picture, empty layers, and the record's line
// in the log.
#include <math.h>

#include <algorithm>

#include "engine_layer_support.h"

namespace {

using namespace enginetest;  // NOLINT: the tests' own helpers
using namespace psdw;        // NOLINT: the document writer
using namespace layertest;   // NOLINT: the layer tests' helpers

TEST(LayerImageTest, RgbLayerWithTransparency) {
  for (uint16_t c : {psdw::kRaw, psdw::kPackBits}) {
    PsdSpec s = Document();
    s.layers = {MakeLayer(1, 2, 11, 12, {-1, 0, 1, 2}, c)};
    psdw::PsdLayout at;
    Decoded d = Decode(psdw::WritePsd(s, &at), Entry(1));
    ASSERT_EQ(d.result, 0);
    BITMAPINFOHEADER bi = d.Info();
    EXPECT_EQ(bi.biWidth, 10);
    EXPECT_EQ(bi.biHeight, 10);
    EXPECT_EQ(bi.biBitCount, 32);
    EXPECT_EQ(bi.biSizeImage, 400u);
    EXPECT_EQ(bi.biXPelsPerMeter, 2835);
    EXPECT_EQ(bi.biYPelsPerMeter, 2835);
    EXPECT_EQ(bi.biPlanes, 1);
    EXPECT_EQ(d.header.size(), 40u);
    EXPECT_EQ(d.request.image_size, 400u);
    EXPECT_BYTES(d.pixels, RgbaPicture(10, 10, false));
    EXPECT_EQ(CountPrefix(d.log, "layer image #0-"), 4);
    EXPECT_TRUE(HasLine(d.log, "layer image #0-0 " +
                                   Hex(at.channel_offsets[0][0]) + " (" +
                                   std::to_string(c) + ")"));
    EXPECT_TRUE(HasLine(d.log, "Opacity: 255"));
  }
}

TEST(LayerImageTest, GrayAndSingleChannelLayers) {
  for (uint16_t c : {psdw::kRaw, psdw::kPackBits}) {
    // Gray with transparency: four bytes, gray repeated.
    PsdSpec g = Document(1);
    g.layers = {MakeLayer(0, 0, 5, 7, {-1, 0}, c),
                MakeLayer(0, 0, 3, 5, {0}, c)};
    Decoded ga = Decode(psdw::WritePsd(g), Entry(1));
    ASSERT_EQ(ga.result, 0);
    EXPECT_EQ(ga.Info().biBitCount, 32);
    EXPECT_BYTES(ga.pixels, RgbaPicture(7, 5, true));
    EXPECT_EQ(ga.header.size(), 40u + 1024u);  // the document's palette

    // One gray channel in a grayscale document: one byte a pixel.
    Decoded g1 = Decode(psdw::WritePsd(g), Entry(2));
    ASSERT_EQ(g1.result, 0);
    EXPECT_EQ(g1.Info().biBitCount, 8);
    EXPECT_EQ(g1.Info().biSizeImage, 8u * 3);
    EXPECT_BYTES(g1.pixels, Dib(5, 3, 1, [](uint32_t x, uint32_t y, uint32_t) {
                   return Sample8(0, x, y);
                 }));
    Bytes ramp = g1.Palette();
    ASSERT_EQ(ramp.size(), 1024u);
    EXPECT_EQ(ramp[4 * 77], 77);

    // One gray channel in an RGB document: three bytes, repeated.
    PsdSpec r = Document(3);
    r.layers = {MakeLayer(0, 0, 3, 5, {0}, c)};
    Decoded r1 = Decode(psdw::WritePsd(r), Entry(1));
    ASSERT_EQ(r1.result, 0);
    EXPECT_EQ(r1.Info().biBitCount, 24);
    EXPECT_BYTES(r1.pixels, Dib(5, 3, 3, [](uint32_t x, uint32_t y, uint32_t) {
                   return Sample8(0, x, y);
                 }));
  }
}

TEST(LayerImageTest, RgbLayerWithoutTransparencyIsPadded) {
  for (uint16_t c : {psdw::kRaw, psdw::kPackBits}) {
    PsdSpec s = Document();
    s.layers = {MakeLayer(3, 4, 6, 9, {0, 1, 2}, c)};
    Decoded d = Decode(psdw::WritePsd(s), Entry(1));
    ASSERT_EQ(d.result, 0);
    EXPECT_EQ(d.Info().biBitCount, 24);
    EXPECT_EQ(d.Info().biSizeImage, 16u * 3);
    EXPECT_BYTES(d.pixels, Dib(5, 3, 3, [](uint32_t x, uint32_t y, uint32_t i) {
                   return Sample8(static_cast<int16_t>(2 - i), x, y);
                 }));
  }
}

TEST(LayerImageTest, MasksAndSpotChannelsAreSteppedOver) {
  Bytes want = RgbaPicture(12, 8, false);
  for (uint16_t c : {psdw::kRaw, psdw::kPackBits}) {
    for (uint16_t mask_compression : {psdw::kRaw, psdw::kPackBits}) {
      for (size_t position : {0u, 2u, 4u}) {
        PsdSpec s = Document();
        Layer l = MakeLayer(2, 2, 10, 14, {-1, 0, 1, 2}, c);
        AddMask(l, 0, 0, 5, 9, position, mask_compression);
        s.layers = {l, MakeLayer(0, 0, 4, 4, {-1, 0, 1, 2}, c)};
        Bytes doc = psdw::WritePsd(s);
        Decoded d = Decode(doc, Entry(1));
        ASSERT_EQ(d.result, 0) << "mask at " << position;
        EXPECT_BYTES(d.pixels, want) << "mask at " << position;
        Decoded next = Decode(doc, Entry(2));
        ASSERT_EQ(next.result, 0);
        EXPECT_BYTES(next.pixels, RgbaPicture(4, 4, false));
      }
    }
    // Ten channels, more than the record's table keeps; spot channels 3..8
    // in an RGB document are not placed.
    PsdSpec s = Document();
    s.layers = {MakeLayer(0, 0, 8, 12, {-1, 0, 1, 2, 3, 4, 5, 6, 7, 8}, c),
                MakeLayer(1, 1, 5, 4, {-1, 0, 1, 2}, c)};
    Bytes doc = psdw::WritePsd(s);
    Decoded first = Decode(doc, Entry(1));
    ASSERT_EQ(first.result, 0);
    EXPECT_BYTES(first.pixels, want);
    Decoded second = Decode(doc, Entry(2));
    ASSERT_EQ(second.result, 0);
    EXPECT_BYTES(second.pixels, RgbaPicture(3, 4, false));
  }
}

TEST(LayerImageTest, LaterLayersAreFoundAndMissingOnesGiveTheMergedPicture) {
  PsdSpec s = Document();
  s.layers = {MakeLayer(0, 0, 12, 16, {-1, 0, 1, 2}, psdw::kPackBits),
              MakeLayer(-3, -2, 4, 6, {-1, 0, 1, 2}, psdw::kRaw),
              MakeLayer(10, 14, 20, 21, {0, 1, 2}, psdw::kPackBits)};
  s.negative_layer_count = true;
  Bytes doc = psdw::WritePsd(s);
  Decoded merged = Decode(doc);
  ASSERT_EQ(merged.result, 0);

  Decoded outside = Decode(doc, Entry(2));  // reaches outside the canvas
  ASSERT_EQ(outside.result, 0);
  EXPECT_EQ(outside.Info().biWidth, 8);
  EXPECT_EQ(outside.Info().biHeight, 7);
  EXPECT_BYTES(outside.pixels, RgbaPicture(8, 7, false));
  EXPECT_EQ(CountPrefix(outside.log, "layer image #1-"), 4);
  EXPECT_EQ(CountPrefix(outside.log, "layer image #0-"), 0);

  Decoded third = Decode(doc, Entry(3));
  ASSERT_EQ(third.result, 0);
  EXPECT_EQ(third.Info().biBitCount, 24);
  EXPECT_BYTES(third.pixels,
               Dib(7, 10, 3, [](uint32_t x, uint32_t y, uint32_t i) {
                 return Sample8(static_cast<int16_t>(2 - i), x, y);
               }));

  for (uint32_t entry : {4u, 5u, 1000u}) {
    Decoded d = Decode(doc, Entry(entry));
    ASSERT_EQ(d.result, 0);
    EXPECT_BYTES(d.header, merged.header);
    EXPECT_BYTES(d.pixels, merged.pixels);
  }
}

TEST(LayerImageTest, CmykLayers) {
  for (uint16_t c : {psdw::kRaw, psdw::kPackBits}) {
    PsdSpec s = Document(4);
    s.layers = {MakeLayer(0, 0, 4, 6, {-1, 0, 1, 2, 3}, c),
                MakeLayer(0, 0, 3, 5, {0, 1, 2, 3}, c)};
    Bytes doc = psdw::WritePsd(s);
    for (uint32_t entry : {1u, 2u}) {
      bool alpha = entry == 1;
      uint32_t w = alpha ? 6 : 5, h = alpha ? 4 : 3;
      Decoded d = Decode(doc, Entry(entry));
      ASSERT_EQ(d.result, 0);
      EXPECT_EQ(d.Info().biBitCount, 32);
      Bytes want = Dib(w, h, 4, [&](uint32_t x, uint32_t y, uint32_t i) {
        uint8_t a = alpha ? Sample8(-1, x, y) : 255;
        if (i == 3) return a;
        if (a == 0) return uint8_t{255};
        int k = Sample8(3, x, y);
        int ink = Sample8(static_cast<int16_t>(2 - i), x, y);  // Y, M, C
        return static_cast<uint8_t>(k - ((255 - ink) * (k + 1)) / 256);
      });
      EXPECT_BYTES(d.pixels, want) << "entry " << entry;
    }
  }
}

double Srgb255(double v) {
  v = std::min(1.0, std::max(0.0, v));
  return 255.0 * (v <= 0.0031308 ? 12.92 * v : 1.055 * pow(v, 1 / 2.4) - 0.055);
}

TEST(LayerImageTest, DeepLayersAreReducedToBytes) {
  for (uint16_t c : {psdw::kRaw, psdw::kPackBits}) {
    PsdSpec s16 = Document(3, 16);
    s16.layers = {MakeLayer(1, 1, 6, 8, {-1, 0, 1, 2}, c, 16),
                  MakeLayer(0, 0, 3, 5, {0, 1, 2}, c, 16)};
    Bytes doc = psdw::WritePsd(s16);
    Decoded d = Decode(doc, Entry(1));
    ASSERT_EQ(d.result, 0);
    EXPECT_BYTES(d.pixels, RgbaPicture(7, 5, false));
    Decoded second = Decode(doc, Entry(2));
    ASSERT_EQ(second.result, 0);
    EXPECT_BYTES(second.pixels,
                 Dib(5, 3, 3, [](uint32_t x, uint32_t y, uint32_t i) {
                   return Sample8(static_cast<int16_t>(2 - i), x, y);
                 }));

    PsdSpec s32 = Document(3, 32);
    s32.layers = {MakeLayer(1, 1, 6, 8, {-1, 0, 1, 2}, c, 32)};
    Decoded f = Decode(psdw::WritePsd(s32), Entry(1));
    ASSERT_EQ(f.result, 0);
    ASSERT_EQ(f.pixels.size(), 7u * 4 * 5);
    for (uint32_t y = 0; y < 5; ++y) {
      for (uint32_t x = 0; x < 7; ++x) {
        const uint8_t* px = &f.pixels[(4 - y) * 28 + 4 * x];
        bool clear = Sample8(-1, x, y) == 0;
        EXPECT_EQ(px[3], clear ? 0 : 255);
        for (uint32_t i = 0; i < 3; ++i) {
          if (clear) {
            EXPECT_EQ(px[i], 255);
            continue;
          }
          double scaled =
              Srgb255(Sample8(static_cast<int16_t>(2 - i), x, y) / 255.0f);
          // A value on a rounding boundary says nothing: skip it.
          if (fabs(scaled - floor(scaled) - 0.5) < 0.01) continue;
          EXPECT_EQ(px[i], lround(scaled)) << x << "," << y << " byte " << i;
        }
      }
    }
  }
}

TEST(LayerImageTest, EmptyLayersHaveEmptyPictures) {
  PsdSpec s = Document();
  s.layers = {MakeLayer(0, 0, 0, 0, {-1, 0, 1, 2}, psdw::kRaw),
              MakeLayer(2, 2, 2, 9, {-1, 0, 1, 2}, psdw::kPackBits),
              MakeLayer(2, 2, 7, 2, {-1, 0, 1, 2}, psdw::kRaw),
              MakeLayer(0, 0, 2, 3, {-1, 0, 1, 2}, psdw::kRaw)};
  Bytes doc = psdw::WritePsd(s);
  for (uint32_t entry : {1u, 2u, 3u}) {
    Decoded d = Decode(doc, Entry(entry));
    ASSERT_EQ(d.result, 0) << entry;
    EXPECT_TRUE(d.pixels.empty()) << entry;
    EXPECT_EQ(d.request.image_size, 0u) << entry;
    EXPECT_EQ(d.Info().biSizeImage, 0u) << entry;
  }
  Decoded last = Decode(doc, Entry(4));
  ASSERT_EQ(last.result, 0);
  EXPECT_BYTES(last.pixels, RgbaPicture(3, 2, false));
}

TEST(LayerRecordTest, RecordLine) {
  PsdSpec s = Document();
  s.layers = {MakeLayer(20, 10, 70, 110, {-1, 0, 1, 2}, psdw::kRaw)};
  s.layers[0].opacity = 77;
  psdw::PsdLayout at;
  Bytes doc = psdw::WritePsd(s, &at);
  Decoded d = Decode(doc, Entry(1));
  ASSERT_EQ(d.result, 0);
  // The address part differs from run to run; the rest does not.
  std::string want_tail = " (10, 20)[100, 50] channel: 4(ffffffff-" +
                          Hex(2 + 100 * 50) + ",0-" + Hex(2 + 100 * 50) +
                          ",1-" + Hex(2 + 100 * 50) + ",2-" + Hex(2 + 100 * 50);
  int found = 0;
  for (const std::string& line : d.log) {
    if (line.rfind("Layer #0: ", 0) == 0 &&
        line.find(want_tail) != std::string::npos) {
      ++found;
    }
  }
  EXPECT_EQ(found, 1);
  EXPECT_TRUE(HasLine(d.log, "Opacity: 77"));
  EXPECT_EQ(CountPrefix(d.log, "Layer image: "), 1);
}

}  // namespace
