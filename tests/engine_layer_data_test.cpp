// Layer channel data: PackBits rows where their counts put them, zip
// channels against their raw twins, damaged zip streams, damaged and
// truncated layer data, and malformed records that stop the parse.
#include <math.h>

#include <algorithm>

#include "engine_layer_support.h"

namespace {

using namespace enginetest;  // NOLINT: the tests' own helpers
using namespace psdw;        // NOLINT: the document writer
using namespace layertest;   // NOLINT: the layer tests' helpers

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

}  // namespace
