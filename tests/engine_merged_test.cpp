// The merged picture: the pixel rows decoded from raw, PackBits and deep
// Image Data, damaged row tables and truncated data, and the conversion of
// float, CMYK and Lab samples.
#include <math.h>

#include <algorithm>
#include <array>

#include "engine_merged_support.h"

namespace {

using namespace enginetest;  // NOLINT: the tests' own helpers
using namespace psdw;        // NOLINT: the document writer
using mergedtest::Doc;

// The expected output of an 8-bit document with P colour planes: plane p
// in byte P - 1 - p.
Bytes Interleaved(const PsdSpec& s, uint32_t planes) {
  return Dib(
      s.width, s.height, planes, [&](uint32_t x, uint32_t y, uint32_t i) {
        return static_cast<uint8_t>(s.planes[planes - 1 - i][y * s.width + x]);
      });
}

TEST(MergedImageTest, RowsAreBottomUpInBlueGreenRedOrder) {
  PsdSpec gray = Doc(1, 8, 1, 3, 2);
  gray.planes = {{10, 20, 30, 40, 50, 60}};
  Decoded g = Decode(psdw::WritePsd(gray));
  ASSERT_EQ(g.result, 0);
  EXPECT_BYTES(g.pixels, (Bytes{40, 50, 60, 0, 10, 20, 30, 0}));
  EXPECT_EQ(CountPrefix(g.log, "last plane ptr: "), 1);

  PsdSpec rgb = Doc(3, 8, 3, 1, 1);
  rgb.planes = {{200}, {100}, {50}};
  EXPECT_BYTES(Decode(psdw::WritePsd(rgb)).pixels, (Bytes{50, 100, 200, 0}));

  for (uint16_t compression : {psdw::kRaw, psdw::kPackBits}) {
    for (uint32_t w : {1u, 2u, 7u, 33u}) {
      PsdSpec s = Doc(3, 8, 3, w, 5, compression);
      Decoded d = Decode(psdw::WritePsd(s));
      ASSERT_EQ(d.result, 0);
      EXPECT_BYTES(d.pixels, Interleaved(s, 3));
      EXPECT_EQ(CountPrefix(d.log, "last plane ptr: "), 3);
      EXPECT_EQ(CountPrefix(d.log, "nowp unmatch"), 0);

      PsdSpec gs = Doc(1, 8, 1, w, 4, compression);
      EXPECT_BYTES(Decode(psdw::WritePsd(gs)).pixels, Interleaved(gs, 1));
      PsdSpec ix = Doc(2, 8, 1, w, 4, compression);
      EXPECT_BYTES(Decode(psdw::WritePsd(ix)).pixels, Interleaved(ix, 1));
    }
  }
}

TEST(MergedImageTest, ExtraChannelsAreNotDecoded) {
  for (uint16_t compression : {psdw::kRaw, psdw::kPackBits}) {
    for (uint32_t channels : {4u, 5u}) {
      PsdSpec s = Doc(3, 8, channels, 6, 3, compression);
      Decoded d = Decode(psdw::WritePsd(s));
      ASSERT_EQ(d.result, 0);
      // With PackBits the data starts after a table of 4 or 5 channels.
      EXPECT_BYTES(d.pixels, Interleaved(s, 3));
    }
  }
}

// With the merged picture's transparency (a negative layer count), colour
// that could not have been blended onto white shows blended; matted colour
// stays as stored.
TEST(MergedImageTest, UnmattedTransparentPicturesAreBlendedOntoWhite) {
  for (bool unmatted : {false, true}) {
    PsdSpec s = Doc(3, 8, 4, 5, 3, psdw::kPackBits);
    for (uint32_t i = 0; i < 15; ++i) {
      const uint32_t a = 60 * (i % 5);
      s.planes[3][i] = a;
      for (uint32_t c = 0; c < 3; ++c) {
        s.planes[c][i] = unmatted ? (40 * c + 7 * i) % 256
                                  : 255 - a + (i * (c + 1)) % (a + 1);
      }
    }
    s.negative_layer_count = true;
    s.layers.push_back(
        MakeLayer(0, 0, 1, 1, {0, 1, 2}, psdw::kRaw,
                  [](int16_t, uint32_t, uint32_t) { return 9u; }));
    Decoded d = Decode(psdw::WritePsd(s));
    ASSERT_EQ(d.result, 0);
    Bytes want = Interleaved(s, 3);
    if (unmatted) {
      want = Dib(5, 3, 3, [&](uint32_t x, uint32_t y, uint32_t i) {
        const uint32_t a = s.planes[3][y * 5 + x];
        const uint32_t v = s.planes[2 - i][y * 5 + x];
        return static_cast<uint8_t>((v * a + 127) / 255 + 255 - a);
      });
    }
    EXPECT_BYTES(d.pixels, want);
  }
}

TEST(MergedImageTest, BitmapRowsAreStoredAsTheyStand) {
  for (uint16_t compression : {psdw::kRaw, psdw::kPackBits}) {
    PsdSpec s = Doc(0, 1, 1, 10, 3, compression);
    s.planes = {{0xA5, 0xC0, 0xFF, 0x40, 0x00, 0x80}};
    Decoded d = Decode(psdw::WritePsd(s));
    ASSERT_EQ(d.result, 0);
    EXPECT_BYTES(d.pixels,
                 (Bytes{0x00, 0x80, 0, 0, 0xFF, 0x40, 0, 0, 0xA5, 0xC0, 0, 0}));
  }
}

TEST(MergedImageTest, DeepSamplesKeepTheirMostSignificantByte) {
  for (uint16_t compression : {psdw::kRaw, psdw::kPackBits}) {
    for (uint16_t mode : {1, 3}) {
      uint32_t planes = mode == 3 ? 3 : 1;
      PsdSpec deep = Doc(mode, 16, planes, 7, 4, compression);
      PsdSpec flat = Doc(mode, 8, planes, 7, 4, compression);
      Decoded d = Decode(psdw::WritePsd(deep));
      ASSERT_EQ(d.result, 0);
      EXPECT_BYTES(d.pixels, Interleaved(flat, planes));
    }
  }
  PsdSpec one = Doc(1, 16, 1, 1, 1);
  one.planes = {{0x1234}};
  EXPECT_EQ(Decode(psdw::WritePsd(one)).pixels[0], 0x12);
}

// sRGB encoding of a linear value, as a byte, rounded to nearest.
double SrgbScaled(double v) {
  if (std::isnan(v)) v = 0;
  v = std::min(1.0, std::max(0.0, v));
  double e = v <= 0.0031308 ? 12.92 * v : 1.055 * pow(v, 1 / 2.4) - 0.055;
  return e * 255.0;
}

TEST(MergedImageTest, FloatSamplesGoThroughTheSrgbCurve) {
  std::vector<float> values = {0.0f,    1.0f,   -0.5f, 2.0f,  0.001f,
                               0.0031f, 0.003f, 0.01f, 0.1f,  0.2f,
                               0.214f,  0.33f,  0.6f,  0.77f, 0.9f,
                               0.98f,   1e-6f,  NAN,   -NAN,  INFINITY};
  Samples plane;
  Bytes want;
  for (float v : values) {
    double scaled = SrgbScaled(static_cast<double>(v));
    // Values within a hair of a rounding boundary say nothing: skip them.
    if (fabs(scaled - floor(scaled) - 0.5) < 0.01) continue;
    plane.push_back(psdw::FloatBits(v));
    want.push_back(static_cast<uint8_t>(lround(scaled)));
  }
  for (uint16_t compression : {psdw::kRaw, psdw::kPackBits}) {
    PsdSpec s =
        Doc(1, 32, 1, static_cast<uint32_t>(plane.size()), 1, compression);
    s.planes = {plane};
    Decoded d = Decode(psdw::WritePsd(s));
    ASSERT_EQ(d.result, 0);
    Bytes row(d.pixels.begin(), d.pixels.begin() + want.size());
    EXPECT_BYTES(row, want);
  }
  // Three planes: each sample reduced the same way.
  PsdSpec rgb = Doc(3, 32, 3, 1, 1);
  rgb.planes = {{psdw::FloatBits(1.0f)},
                {psdw::FloatBits(0.1f)},
                {psdw::FloatBits(0.0f)}};
  EXPECT_BYTES(
      Decode(psdw::WritePsd(rgb)).pixels,
      (Bytes{0, static_cast<uint8_t>(lround(SrgbScaled(0.1))), 255, 0}));
}

TEST(MergedImageTest, DeepPackBitsEqualsItsRawTwin) {
  for (uint16_t depth : {16, 32}) {
    for (uint16_t mode : {1, 3, 4}) {
      uint32_t planes = mode == 1 ? 1 : mode == 3 ? 3 : 4;
      Decoded raw = Decode(psdw::WritePsd(Doc(mode, depth, planes, 9, 5)));
      Decoded packed = Decode(
          psdw::WritePsd(Doc(mode, depth, planes, 9, 5, psdw::kPackBits)));
      ASSERT_EQ(raw.result, 0);
      ASSERT_EQ(packed.result, 0);
      EXPECT_BYTES(packed.pixels, raw.pixels)
          << "depth " << depth << " mode " << mode;
      EXPECT_EQ(CountPrefix(packed.log, "nowp unmatch"), 0);
    }
  }
}

TEST(MergedImageTest, PackBitsRuns) {
  // FE AA 02 01 02 03: AA three times, then 01 02 03.
  PsdSpec s = Doc(1, 8, 1, 6, 2, psdw::kPackBits);
  s.image_payload =
      Bytes{0xFE, 0xAA, 0x02, 0x01, 0x02, 0x03, 0x05, 9, 8, 7, 6, 5, 4};
  s.row_counts = std::vector<uint16_t>{6, 7};
  Decoded d = Decode(psdw::WritePsd(s));
  ASSERT_EQ(d.result, 0);
  EXPECT_BYTES(d.pixels, (Bytes{9, 8, 7, 6, 5, 4, 0, 0, 0xAA, 0xAA, 0xAA, 1, 2,
                                3, 0, 0}));
  EXPECT_EQ(CountPrefix(d.log, "nowp unmatch"), 0);

  // 0x80 repeats 129 times when the row has room; a run longer than what
  // is left ends the row.
  PsdSpec long_row = Doc(1, 8, 1, 130, 3, psdw::kPackBits);
  long_row.image_payload = Bytes{0x80, 0x55, 0x00, 0x66,         // row 0
                                 0x80, 0x77, 0x80, 0x99,         // row 1
                                 0x01, 0x11, 0x12, 0x80, 0x22};  // row 2
  long_row.row_counts = std::vector<uint16_t>{4, 4, 5};
  Decoded l = Decode(psdw::WritePsd(long_row));
  ASSERT_EQ(l.result, 0);
  uint32_t stride = 132;
  Bytes want(stride * 3, 0);
  for (int i = 0; i < 129; ++i) want[2 * stride + i] = 0x55;  // top row
  want[2 * stride + 129] = 0x66;
  for (int i = 0; i < 129; ++i) want[stride + i] = 0x77;
  want[0] = 0x11;
  want[1] = 0x12;
  EXPECT_BYTES(l.pixels, want);
}

TEST(MergedImageTest, RowsRealignToTheByteCountTable) {
  PsdSpec s = Doc(1, 8, 1, 6, 3, psdw::kPackBits);
  // Row 0 consumes 6 bytes but its count says 7; row 1 starts at byte 7.
  // Row 1's count says 2 while its literal needs more: realigned too.
  s.image_payload = Bytes{0xFE, 0xAA, 0x02, 0x01, 0x02, 0x03, 0xEE,
                          0x01, 0x10, 0x20, 0x30, 0xFB, 0x44};
  s.row_counts = std::vector<uint16_t>{7, 2, 2};
  psdw::PsdLayout at;
  Decoded d = Decode(psdw::WritePsd(s, &at));
  ASSERT_EQ(d.result, 0);
  // Row 1 at byte 7: 01 10 20 stores 10 20, then the literal header 30
  // asks for more than is left and ends the row 2 bytes past its count.
  // Row 2 at byte 9: header 20 asks for 33 bytes; only 3 are left.
  Bytes want = {0,    0,    0,    0, 0, 0, 0, 0,  //
                0x10, 0x20, 0,    0, 0, 0, 0, 0,  //
                0xAA, 0xAA, 0xAA, 1, 2, 3, 0, 0};
  EXPECT_BYTES(d.pixels, want);
  EXPECT_EQ(CountPrefix(d.log, "nowp unmatch Y:0  Delta:-1 ScanSize:"), 1);
  EXPECT_EQ(CountPrefix(d.log, "nowp unmatch Y:1  Delta:2 ScanSize:"), 1);
  EXPECT_EQ(CountPrefix(d.log, "nowp unmatch Y:2  Delta:-1 ScanSize:"), 1);
  EXPECT_TRUE(HasLine(d.log, "last plane ptr: " + Hex(at.pixel_data + 11)));
}

TEST(MergedImageTest, RowsEndingBeforeTheirCountsAreLoggedBriefly) {
  // As ImageMagick writes them: every packed row is followed by a spare
  // byte its count includes. The picture is right; the log names the first
  // 32 rows and counts the rest in one line.
  const uint32_t w = 50, h = 40;
  PsdSpec s = Doc(3, 8, 3, w, h, psdw::kPackBits);
  s.row_counts.emplace();
  s.image_payload.emplace();
  for (int p = 0; p < 3; ++p) {
    const psdw::PackedPlane packed = psdw::PackPlane(s.planes[p], w, h, 8);
    size_t at = 0;
    for (uint16_t count : packed.row_counts) {
      s.image_payload->insert(s.image_payload->end(), packed.data.begin() + at,
                              packed.data.begin() + at + count);
      s.image_payload->push_back(0x80);  // the spare byte
      s.row_counts->push_back(static_cast<uint16_t>(count + 1));
      at += count;
    }
  }
  Decoded d = Decode(psdw::WritePsd(s));
  ASSERT_EQ(d.result, 0);
  PsdSpec clean = s;
  clean.row_counts.reset();
  clean.image_payload.reset();
  EXPECT_BYTES(d.pixels, Decode(psdw::WritePsd(clean)).pixels);
  EXPECT_EQ(CountPrefix(d.log, "nowp unmatch Y:"), 32);
  EXPECT_TRUE(HasLine(d.log, "nowp unmatch Y:31  Delta:-1 ScanSize:" +
                                 std::to_string(s.row_counts->at(31))));
  EXPECT_TRUE(HasLine(d.log, "nowp unmatch: 88 more rows"));
  EXPECT_EQ(CountPrefix(d.log, "last plane ptr: "), 3);
  size_t bytes = 0;
  for (const std::string& line : d.log) bytes += 20 + line.size() + 2;
  EXPECT_LT(bytes, 8192u);
}

TEST(MergedImageTest, TruncatedDataLeavesZeros) {
  for (uint16_t compression : {psdw::kRaw, psdw::kPackBits}) {
    PsdSpec s = Doc(3, 8, 3, 5, 4, compression);
    psdw::PsdLayout at;
    Bytes doc = psdw::WritePsd(s, &at);
    Decoded whole = Decode(doc);
    // Cut inside the second plane: the first plane stands, the rest of
    // the second plane from the cut on is zero, the third plane is zero.
    size_t cut = compression == psdw::kRaw
                     ? at.pixel_data + 20 + 7
                     : at.pixel_data;  // PackBits: only the table is left
    Bytes part = doc;
    psdw::Truncate(part, cut);
    Decoded d = Decode(part);
    ASSERT_EQ(d.result, 0);
    EXPECT_EQ(CountPrefix(d.log, "last plane ptr: "), 3);
    Bytes want = Dib(5, 4, 3, [&](uint32_t x, uint32_t y, uint32_t i) {
      if (compression != psdw::kRaw) return uint8_t{0};
      uint32_t plane = 2 - i;
      if (plane == 0) return static_cast<uint8_t>(s.planes[0][y * 5 + x]);
      if (plane == 1 && y == 0)
        return static_cast<uint8_t>(
            s.planes[1][x]);  // only whole rows: row 0 of plane 1 fits
      return uint8_t{0};
    });
    EXPECT_BYTES(d.pixels, want) << "compression " << compression;
    EXPECT_NE(whole.pixels, d.pixels);
  }
}

TEST(MergedImageTest, CmykIsConvertedWithAnOpaqueFourthByte) {
  struct Pixel {
    uint8_t c, m, y, k;
  };
  std::vector<Pixel> px = {{0, 255, 255, 255},   {100, 255, 255, 200},
                           {255, 255, 255, 255}, {17, 99, 200, 0},
                           {0, 0, 0, 0},         {240, 13, 77, 128},
                           {1, 2, 3, 254}};
  for (uint16_t compression : {psdw::kRaw, psdw::kPackBits}) {
    PsdSpec s = Doc(4, 8, 4, static_cast<uint32_t>(px.size()), 1, compression);
    s.planes.assign(4, Samples());
    for (const Pixel& p : px) {
      s.planes[0].push_back(p.c);
      s.planes[1].push_back(p.m);
      s.planes[2].push_back(p.y);
      s.planes[3].push_back(p.k);
    }
    Decoded d = Decode(psdw::WritePsd(s));
    ASSERT_EQ(d.result, 0);
    EXPECT_TRUE(HasLine(d.log, "CMYK fix"));
    Bytes want;
    for (const Pixel& p : px) {
      int k = p.k + 1;
      want.push_back(static_cast<uint8_t>(p.k - ((255 - p.y) * k) / 256));
      want.push_back(static_cast<uint8_t>(p.k - ((255 - p.m) * k) / 256));
      want.push_back(static_cast<uint8_t>(p.k - ((255 - p.c) * k) / 256));
      want.push_back(255);
    }
    EXPECT_BYTES(d.pixels, want);
    EXPECT_EQ(d.pixels[4 * 1 + 2], 79);  // 200 - (155 * 201) / 256
  }
}

TEST(MergedImageTest, MissingPlanesRepeatTheLastOne) {
  // Duotone with one channel shows its grey; Multichannel with one or two
  // channels and RGB with two repeat the last plane into the rest.
  struct Case {
    uint16_t mode;
    uint32_t channels;
  };
  for (uint16_t compression : {psdw::kRaw, psdw::kPackBits}) {
    for (Case c :
         {Case{8, 1}, Case{7, 1}, Case{7, 2}, Case{3, 2}, Case{3, 1}}) {
      PsdSpec s = Doc(c.mode, 8, c.channels, 5, 3, compression);
      Decoded d = Decode(psdw::WritePsd(s));
      ASSERT_EQ(d.result, 0);
      Bytes want = Dib(5, 3, 3, [&](uint32_t x, uint32_t y, uint32_t i) {
        uint32_t plane = std::min(2 - i, c.channels - 1);
        return static_cast<uint8_t>(s.planes[plane][y * 5 + x]);
      });
      EXPECT_BYTES(d.pixels, want)
          << "mode " << c.mode << " channels " << c.channels;
    }
  }
}

// CIE L*a*b* (D50) to sRGB bytes, Bradford-adapted to D65.
void LabToSrgb(double L, double a, double b, double out[3]) {
  auto finv = [](double t) {
    return t > 6.0 / 29 ? t * t * t
                        : 3 * (6.0 / 29) * (6.0 / 29) * (t - 4.0 / 29);
  };
  double fy = (L + 16) / 116, fx = fy + a / 500, fz = fy - b / 200;
  double X = 0.96422 * finv(fx), Y = finv(fy), Z = 0.82521 * finv(fz);
  // Bradford D50 -> D65.
  double X65 = 0.9555766 * X - 0.0230393 * Y + 0.0631636 * Z;
  double Y65 = -0.0282895 * X + 1.0099416 * Y + 0.0210077 * Z;
  double Z65 = 0.0122982 * X - 0.0204830 * Y + 1.3299098 * Z;
  double rgb[3] = {3.2404542 * X65 - 1.5371385 * Y65 - 0.4985314 * Z65,
                   -0.9692660 * X65 + 1.8760108 * Y65 + 0.0415560 * Z65,
                   0.0556434 * X65 - 0.2040259 * Y65 + 1.0572252 * Z65};
  for (int i = 0; i < 3; ++i) out[i] = SrgbScaled(rgb[i]);
}

TEST(MergedImageTest, LabIsConvertedToSrgb) {
  std::vector<std::array<uint8_t, 3>> px = {
      {0, 128, 128}, {255, 128, 128}, {128, 128, 128}, {140, 200, 190},
      {90, 60, 200}, {200, 100, 40},  {60, 140, 90},   {230, 120, 170}};
  for (uint16_t depth : {8, 16}) {
    PsdSpec s = Doc(9, depth, 3, static_cast<uint32_t>(px.size()), 1);
    s.planes.assign(3, Samples());
    for (const auto& p : px) {
      for (int i = 0; i < 3; ++i) {
        s.planes[i].push_back(depth == 16 ? p[i] << 8 | 0x7F : p[i]);
      }
    }
    Decoded d = Decode(psdw::WritePsd(s));
    ASSERT_EQ(d.result, 0);
    for (size_t i = 0; i < px.size(); ++i) {
      double rgb[3];
      LabToSrgb(px[i][0] * 100.0 / 255.0, px[i][1] - 128.0, px[i][2] - 128.0,
                rgb);
      for (int c = 0; c < 3; ++c) {
        // Published Bradford and sRGB matrices differ in their last
        // digits; a byte may round either way.
        EXPECT_NEAR(d.pixels[3 * i + 2 - c], rgb[c], 1.0)
            << "pixel " << i << " channel " << c << " depth " << depth;
      }
    }
    EXPECT_EQ(d.pixels[0], 0);    // black
    EXPECT_EQ(d.pixels[3], 255);  // white
    EXPECT_EQ(d.pixels[4], 255);
    EXPECT_EQ(d.pixels[5], 255);
  }
}

TEST(MergedImageTest, DeflatedImageDataGivesZeros) {
  for (uint16_t compression : {psdw::kZip, psdw::kZipPredict}) {
    PsdSpec s = Doc(3, 8, 3, 5, 3, compression);
    s.image_payload = Bytes{0x78, 0x9c, 0x63, 0x60, 0, 0, 0, 1, 0, 1};
    Decoded d = Decode(psdw::WritePsd(s));
    EXPECT_EQ(d.result, 0);
    EXPECT_BYTES(d.pixels, Bytes(16 * 3, 0));
  }
}

}  // namespace
