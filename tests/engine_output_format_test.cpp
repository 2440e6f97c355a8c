// The output format of the merged picture: the bitmap header and the
// palette for each colour mode and depth.
#include "engine_merged_support.h"

namespace {

using namespace enginetest;  // NOLINT: the tests' own helpers
using namespace psdw;        // NOLINT: the document writer
using mergedtest::Doc;

uint32_t Stride(uint32_t row_bytes) { return (row_bytes + 3) & ~3u; }

TEST(OutputFormatTest, HeaderForEachModeAndDepth) {
  struct Case {
    uint16_t mode, depth;
    uint32_t channels;
    uint16_t bits;
    uint32_t palette_bytes;
  };
  const Case cases[] = {
      {0, 1, 1, 1, 8},     {1, 8, 1, 8, 1024}, {1, 16, 1, 8, 1024},
      {1, 32, 1, 8, 1024}, {2, 8, 1, 8, 1024}, {3, 8, 3, 24, 0},
      {3, 16, 3, 24, 0},   {3, 32, 3, 24, 0},  {3, 1, 3, 1, 8},
      {4, 8, 4, 32, 0},    {4, 16, 4, 32, 0},  {4, 1, 4, 32, 0},
      {7, 8, 3, 24, 0},    {8, 8, 1, 24, 0},   {9, 8, 3, 24, 0},
      {9, 16, 3, 24, 0},   {0, 8, 1, 24, 0},   {5, 8, 3, 24, 0},
  };
  for (uint32_t w : {1u, 3u, 5u, 10u}) {
    for (const Case& c : cases) {
      const uint32_t h = 2;
      PsdSpec s = Doc(c.mode, c.depth, c.channels, w, h);
      Decoded d = Decode(psdw::WritePsd(s), enginetest::HeaderOnly());
      SCOPED_TRACE("mode " + std::to_string(c.mode) + " depth " +
                   std::to_string(c.depth) + " width " + std::to_string(w));
      ASSERT_EQ(d.result, 8);
      BITMAPINFOHEADER bi = d.Info();
      uint32_t row_bytes = c.bits == 1 ? (w + 7) / 8 : w * (c.bits / 8);
      EXPECT_EQ(bi.biSize, 40u);
      EXPECT_EQ(bi.biWidth, static_cast<LONG>(w));
      EXPECT_EQ(bi.biHeight, static_cast<LONG>(h));
      EXPECT_EQ(bi.biPlanes, 1);
      EXPECT_EQ(bi.biBitCount, c.bits);
      EXPECT_EQ(bi.biCompression, 0u);
      EXPECT_EQ(bi.biSizeImage, Stride(row_bytes) * h);
      EXPECT_EQ(bi.biXPelsPerMeter, 3000);
      EXPECT_EQ(bi.biYPelsPerMeter, 3000);
      EXPECT_EQ(bi.biClrUsed, 0u);
      EXPECT_EQ(bi.biClrImportant, 0u);
      EXPECT_EQ(d.header.size(), 40u + c.palette_bytes);
      EXPECT_EQ(d.request.image_size, Stride(row_bytes) * h);
      EXPECT_TRUE(HasLine(
          d.log, "Image Mode: " + std::to_string(c.mode) +
                     "   Depth: " + std::to_string(c.depth) +
                     "   Pallete : " + std::to_string(c.palette_bytes)));
    }
  }
}

TEST(OutputFormatTest, Palettes) {
  // Bitmap: white, black.
  Decoded bitmap = Decode(psdw::WritePsd(Doc(0, 1, 1, 10, 2)));
  EXPECT_BYTES(bitmap.Palette(), (Bytes{255, 255, 255, 0, 0, 0, 0, 0}));
  EXPECT_TRUE(HasLine(bitmap.log, "SetPalette - Bitmap"));

  // Grayscale: a ramp, at every depth.
  Bytes ramp;
  for (int i = 0; i < 256; ++i) {
    ramp.insert(ramp.end(), {uint8_t(i), uint8_t(i), uint8_t(i), 0});
  }
  for (uint16_t depth : {8, 16, 32}) {
    Decoded gray = Decode(psdw::WritePsd(Doc(1, depth, 1, 5, 2)));
    EXPECT_BYTES(gray.Palette(), ramp);
    EXPECT_TRUE(HasLine(gray.log, "SetPalette - Gray"));
  }

  // Indexed: reds, greens, blues from the Color Mode Data.
  PsdSpec indexed = Doc(2, 8, 1, 4, 2);
  std::vector<uint32_t> rgb;
  for (uint32_t i = 0; i < 256; ++i) {
    rgb.push_back((i ^ 0x33) << 16 | ((i * 5) & 0xff) << 8 | (255 - i));
  }
  rgb[0] = 0xFF0000;
  indexed.color_mode_data = psdw::IndexedPalette(rgb);
  Decoded d = Decode(psdw::WritePsd(indexed));
  Bytes want;
  for (uint32_t c : rgb) {
    want.insert(want.end(), {uint8_t(c), uint8_t(c >> 8), uint8_t(c >> 16), 0});
  }
  EXPECT_BYTES(d.Palette(), want);
  EXPECT_TRUE(HasLine(d.log, "SetPalette - Index"));
  EXPECT_EQ(d.Palette()[2], 255);  // entry 0 red
  EXPECT_EQ(d.Palette()[1], 0);

  // A short Color Mode Data section: table bytes inside the section are
  // used, those past the end of the document are 0, and the picture after
  // the section is still found.
  for (size_t length : {300u, 0u}) {
    PsdSpec short_map = indexed;
    short_map.width = short_map.height = 1;
    short_map.planes = {{7}};
    short_map.color_mode_data.resize(length);
    Bytes doc = psdw::WritePsd(short_map);
    Decoded s = Decode(doc);
    ASSERT_EQ(s.result, 0);
    EXPECT_EQ(s.pixels[0], 7);
    for (uint32_t j = 0; j < 768; ++j) {
      uint32_t i = j % 256;
      uint32_t shift = j < 256 ? 16 : j < 512 ? 8 : 0;
      uint32_t byte_in_entry = j < 256 ? 2 : j < 512 ? 1 : 0;
      uint8_t got = s.Palette()[4 * i + byte_in_entry];
      if (j < length) {
        EXPECT_EQ(got, static_cast<uint8_t>(rgb[i] >> shift)) << j;
      } else if (30 + j >= doc.size()) {
        EXPECT_EQ(got, 0) << "table byte " << j << " lies past the end";
      }
    }
    for (uint32_t i = 0; i < 256; ++i) EXPECT_EQ(s.Palette()[4 * i + 3], 0);
  }

  // RGB at depth 1: a 1-bit header whose palette stays zero.
  Decoded unknown = Decode(psdw::WritePsd(Doc(3, 1, 3, 9, 2)));
  EXPECT_TRUE(HasLine(unknown.log, "SetPalette - Unknown 3"));
  EXPECT_BYTES(unknown.Palette(), Bytes(8, 0));
}

}  // namespace
