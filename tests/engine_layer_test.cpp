// Layer pictures: placement of channels, transparency, gray, CMYK and deep
// layers, masks and channels that are stepped over, PackBits rows, damaged
// channel data and the fall-back to the merged picture.
#include <math.h>

#include <algorithm>

#include "engine_test_support.h"

namespace {

using namespace enginetest;  // NOLINT: the tests' own helpers
using namespace psdw;        // NOLINT: the document writer

// Sample of channel `id` at (x, y) of a layer: transparency has clear,
// half and opaque pixels; colour channels vary.
uint8_t Sample8(int16_t id, uint32_t x, uint32_t y) {
  if (id == -1) {
    uint32_t k = (x + 2 * y) % 3;
    return k == 0 ? 0 : k == 1 ? 128 : 255;
  }
  if (id <= -2) return (x + y) % 2 ? 255 : 0;
  return static_cast<uint8_t>(x * 23 + y * 41 + id * 67 + 9);
}

Layer MakeLayer(int32_t top, int32_t left, int32_t bottom, int32_t right,
                const std::vector<int16_t>& ids, uint16_t compression,
                uint16_t depth = 8) {
  return psdw::MakeLayer(
      top, left, bottom, right, ids, compression,
      [depth](int16_t id, uint32_t x, uint32_t y) -> uint32_t {
        const uint32_t b = Sample8(id, x, y);
        if (depth == 16) return b << 8 | (x & 0xff);
        // 32 bits: transparency only fully clear or opaque; colour linear.
        if (depth == 32) {
          return psdw::FloatBits(id == -1 ? (b == 0 ? 0.0f : 1.0f)
                                          : b / 255.0f);
        }
        return b;
      });
}

void AddMask(Layer& l, int32_t top, int32_t left, int32_t bottom, int32_t right,
             size_t position, uint16_t compression) {
  const uint32_t w = static_cast<uint32_t>(right - left);
  psdw::AddMask(
      l, top, left, bottom, right, position, compression,
      [w](uint32_t x, uint32_t y) { return (y * w + x) % 3 ? 0u : 255u; });
}

PsdSpec Document(uint16_t mode = 3, uint16_t depth = 8) {
  PsdSpec s;
  s.mode = mode;
  s.depth = depth;
  s.width = 16;
  s.height = 12;
  uint32_t planes = mode == 3 ? 3 : mode == 4 ? 4 : 1;
  for (uint32_t c = 0; c < planes; ++c) {
    Samples p;
    for (uint32_t i = 0; i < 16 * 12; ++i) {
      uint32_t b = (i * 5 + c * 77) & 0xff;
      p.push_back(depth == 16   ? b << 8
                  : depth == 32 ? psdw::FloatBits(b / 255.0f)
                                : b);
    }
    s.planes.push_back(p);
  }
  s.resources = {psdw::ResolutionResource(72, 72)};
  return s;
}

// The expected 4-byte picture of an 8-bit RGBA (or gray+alpha) layer.
Bytes RgbaPicture(uint32_t w, uint32_t h, bool gray) {
  return Dib(w, h, 4, [&](uint32_t x, uint32_t y, uint32_t i) {
    uint8_t a = Sample8(-1, x, y);
    if (i == 3) return a;
    if (a == 0) return uint8_t{255};
    return Sample8(gray ? 0 : static_cast<int16_t>(2 - i), x, y);
  });
}

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

TEST(LayerImageTest, PackBitsRowsStartWhereTheirCountsPutThem) {
  // Row 0's count says 5 but its runs (FE 11 00 22) take 4 bytes: some
  // writers leave a spare byte at the end of each row. Row 1 still starts
  // behind the spare byte, where the count puts it. A zero count leaves
  // row 2 empty.
  Bytes payload = {0,    5,    0,    5,    0,    0,  // counts
                   0xFE, 0x11, 0x00, 0x22, 0x7F,     // row 0, spare byte
                   0x03, 0x31, 0x32, 0x33, 0x34};    // row 1
  PsdSpec s = Document();
  Layer l = MakeLayer(0, 0, 3, 4, {0, 1, 2}, psdw::kPackBits);
  for (LayerChannel& ch : l.channels) ch.payload = payload;
  s.layers = {l, MakeLayer(0, 0, 2, 2, {0, 1, 2}, psdw::kRaw)};
  Bytes doc = psdw::WritePsd(s);
  Decoded d = Decode(doc, Entry(1));
  ASSERT_EQ(d.result, 0);
  Bytes rows[3] = {
      {0x11, 0x11, 0x11, 0x22}, {0x31, 0x32, 0x33, 0x34}, {0, 0, 0, 0}};
  EXPECT_BYTES(d.pixels, Dib(4, 3, 3, [&](uint32_t x, uint32_t y, uint32_t) {
                 return rows[y][x];
               }));
  Decoded next = Decode(doc, Entry(2));
  ASSERT_EQ(next.result, 0);
  EXPECT_BYTES(next.pixels,
               Dib(2, 2, 3, [](uint32_t x, uint32_t y, uint32_t i) {
                 return Sample8(static_cast<int16_t>(2 - i), x, y);
               }));
}

TEST(LayerImageTest, ZipChannelsDecodeAsTheirRawTwins) {
  // Every depth, both zip compressions, merged picture and layers: the
  // pictures equal those of the same document stored raw.
  for (uint16_t depth : {8, 16, 32}) {
    for (uint16_t zip : {psdw::kZip, psdw::kZipPredict}) {
      SCOPED_TRACE("depth " + std::to_string(depth) + " compression " +
                   std::to_string(zip));
      PsdSpec raw = Document(3, depth);
      raw.layers = {MakeLayer(1, 2, 8, 15, {-1, 0, 1, 2}, psdw::kRaw, depth),
                    MakeLayer(0, 0, 5, 3, {0, 1, 2}, psdw::kRaw, depth)};
      PsdSpec zipped = raw;
      zipped.compression = zip;
      for (Layer& l : zipped.layers) {
        for (LayerChannel& c : l.channels) c.compression = zip;
      }
      const Bytes a = psdw::WritePsd(raw);
      const Bytes b = psdw::WritePsd(zipped);
      for (uint32_t entry : {0u, 1u, 2u}) {
        Decoded want = Decode(a, Entry(entry));
        Decoded got = Decode(b, Entry(entry));
        ASSERT_EQ(got.result, 0);
        EXPECT_BYTES(got.pixels, want.pixels);
        EXPECT_EQ(CountPrefix(got.log, "Image Data zip error"), 0);
        EXPECT_EQ(CountPrefix(got.log, "layer image #"), entry == 0   ? 0
                                                         : entry == 1 ? 4
                                                                      : 3);
      }
    }
  }
}

TEST(LayerImageTest, DamagedZipStreamsEndTheirChannelWhereTheyBreak) {
  // A stream cut short keeps the rows it holds; a corrupt one ends at the
  // fault; both are logged with the channel, and nothing else changes.
  PsdSpec s = Document();
  Layer l = MakeLayer(0, 0, 6, 9, {-1, 0, 1, 2}, psdw::kZipPredict);
  const Bytes green =
      psdw::Zip(psdw::EncodeSamples(l.channels[2].samples, 8), 9, 8, true);
  l.channels[2].payload = Bytes(green.begin(), green.end() - 12);  // cut
  l.channels[3].payload = Bytes{0x78, 0x9c, 0xFF, 0xFF, 0xFF};     // corrupt
  s.layers = {l};
  psdw::PsdLayout at;
  Decoded d = Decode(psdw::WritePsd(s, &at), Entry(1));
  ASSERT_EQ(d.result, 0);
  EXPECT_EQ(CountPrefix(d.log, "layer image #0-2 zip error "), 1);
  EXPECT_EQ(CountPrefix(d.log, "layer image #0-3 zip error "), 1);
  const uint32_t stride = 36;
  uint32_t green_rows = 0;
  for (uint32_t y = 0; y < 6; ++y) {
    const uint8_t* row = d.pixels.data() + (5 - y) * stride;
    bool green_ok = true;
    for (uint32_t x = 0; x < 9; ++x) {
      const uint8_t* px = row + 4 * x;
      ASSERT_EQ(px[3], Sample8(-1, x, y));
      if (px[3] == 0) continue;  // white
      EXPECT_EQ(px[2], Sample8(0, x, y));
      EXPECT_EQ(px[0], 0);  // blue never decoded
      green_ok = green_ok && px[1] == Sample8(1, x, y);
    }
    green_rows += green_ok ? 1 : 0;
    if (!green_ok) {
      for (uint32_t x = 0; x < 9; ++x) {
        if (row[4 * x + 3] != 0 && row[4 * x + 1] != 0) {
          EXPECT_EQ(row[4 * x + 1], Sample8(1, x, y)) << "x " << x;
        }
      }
    }
  }
  EXPECT_GE(green_rows, 1u);
  EXPECT_LT(green_rows, 6u);
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

TEST(LayerImageTest, DamagedLayerData) {
  PsdSpec s = Document();
  s.layers = {MakeLayer(0, 0, 4, 6, {-1, 0, 1, 2}, psdw::kRaw),
              MakeLayer(0, 0, 4, 6, {-1, 0, 1, 2}, psdw::kRaw)};
  psdw::PsdLayout at;
  Bytes doc = psdw::WritePsd(s, &at);
  Decoded merged = Decode(doc);

  // The document ends inside the first layer's red channel, after two of
  // its rows (the section lengths are made to fit the shorter document):
  // the transparency and two red rows stand, everything else is zero, and
  // transparent pixels are white.
  Bytes cut = doc;
  psdw::Truncate(cut, at.channel_offsets[0][1] + 2 + 2 * 6 + 3);
  psdw::PutBe32(cut, at.layer_mask,
                static_cast<uint32_t>(cut.size() - at.layer_mask - 4 - 2));
  Decoded d = Decode(cut, Entry(1));
  ASSERT_EQ(d.result, 0);
  EXPECT_BYTES(d.pixels, Dib(6, 4, 4, [](uint32_t x, uint32_t y, uint32_t i) {
                 uint8_t a = Sample8(-1, x, y);
                 if (i == 3) return a;
                 if (a == 0) return uint8_t{255};
                 return i == 2 && y < 2 ? Sample8(0, x, y) : uint8_t{0};
               }));

  // The second layer lies past the end: its request gets the merged
  // picture.
  Decoded cut_merged = Decode(cut);
  ASSERT_EQ(cut_merged.result, 0);
  Decoded second = Decode(cut, Entry(2));
  ASSERT_EQ(second.result, 0);
  EXPECT_BYTES(second.header, cut_merged.header);
  EXPECT_BYTES(second.pixels, cut_merged.pixels);

  // A first layer whose channel lengths run past the end.
  PsdSpec long_first = s;
  long_first.layers[0].channels[1].length = 0x10000000u;
  Decoded after_long = Decode(psdw::WritePsd(long_first), Entry(2));
  ASSERT_EQ(after_long.result, 0);
  EXPECT_BYTES(after_long.pixels, merged.pixels);

  // A mask channel whose data lies outside the document refuses the layer.
  PsdSpec bad_mask = s;
  AddMask(bad_mask.layers[1], 0, 0, 2, 2, 4, psdw::kRaw);
  bad_mask.layers[1].channels[4].length = 0x7FFFFFF0u;
  Decoded refused = Decode(psdw::WritePsd(bad_mask), Entry(2));
  ASSERT_EQ(refused.result, 0);
  EXPECT_BYTES(refused.pixels, merged.pixels);
  EXPECT_BYTES(refused.header, merged.header);
  Decoded before = Decode(psdw::WritePsd(bad_mask), Entry(1));
  ASSERT_EQ(before.result, 0);
  EXPECT_BYTES(before.pixels, RgbaPicture(6, 4, false));
}

TEST(LayerImageTest, MalformedRecordStopsTheParse) {
  PsdSpec s = Document();
  s.layers = {MakeLayer(0, 0, 4, 6, {-1, 0, 1, 2}, psdw::kRaw),
              MakeLayer(0, 0, 3, 3, {-1, 0, 1, 2}, psdw::kRaw),
              MakeLayer(0, 0, 3, 3, {-1, 0, 1, 2}, psdw::kRaw)};
  s.layers[1].blend_signature = "XBIM";
  Bytes doc = psdw::WritePsd(s);
  Decoded merged = Decode(doc);
  Decoded first = Decode(doc, Entry(1));
  EXPECT_EQ(CountPrefix(first.log, "mask error: "), 1);
  for (uint32_t entry : {2u, 3u}) {
    Decoded d = Decode(doc, Entry(entry));
    ASSERT_EQ(d.result, 0);
    EXPECT_BYTES(d.pixels, merged.pixels) << entry;
  }
  // A record that does not lie inside the document stops it the same way.
  PsdSpec out = Document();
  out.layers = {MakeLayer(0, 0, 4, 6, {-1, 0, 1, 2}, psdw::kRaw),
                MakeLayer(0, 0, 3, 3, {-1, 0, 1, 2}, psdw::kRaw)};
  out.layers[0].extra_length = 0x7FFF0000u;
  Decoded d = Decode(psdw::WritePsd(out), Entry(2));
  EXPECT_EQ(CountPrefix(d.log, "mask error: "), 1);
  ASSERT_EQ(d.result, 0);
  EXPECT_EQ(d.Info().biWidth, 16);
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
