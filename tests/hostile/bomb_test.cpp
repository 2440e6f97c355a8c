// Decompression bombs: tiny documents that declare enormous pictures, layer
// pictures far larger than their data, or tens of thousands of layers. Each
// request must end with a refusal or a bounded piece of work: the limits are
// generous (they catch a runaway, not a slow machine).
#include <sys/resource.h>
#include <time.h>
#include <zlib.h>

#include "engine/serve/plugin_abi.h"
#include "hostile_support.h"
#include "psd_writer.h"

namespace hostile {
namespace {

void Be32(Bytes& b, uint32_t v) {
  for (int i = 3; i >= 0; --i) b.push_back(static_cast<uint8_t>(v >> (8 * i)));
}
void Be16(Bytes& b, uint16_t v) {
  b.push_back(static_cast<uint8_t>(v >> 8));
  b.push_back(static_cast<uint8_t>(v));
}

// Header, empty colour mode data and resources; `layer_section` as the
// Layer and Mask Information section's contents; then `image` (compression
// word and data).
Bytes Document(uint32_t width, uint32_t height, uint16_t channels,
               uint16_t mode, const Bytes& layer_section, const Bytes& image) {
  Bytes b = {'8', 'B', 'P', 'S', 0, 1, 0, 0, 0, 0, 0, 0};
  Be16(b, channels);
  Be32(b, height);
  Be32(b, width);
  Be16(b, 8);
  Be16(b, mode);
  Be32(b, 0);  // colour mode data
  Be32(b, 0);  // image resources
  Be32(b, static_cast<uint32_t>(layer_section.size()));
  b.insert(b.end(), layer_section.begin(), layer_section.end());
  b.insert(b.end(), image.begin(), image.end());
  return b;
}

// A layer record with the given rectangle and channels (id, data length),
// no extra data beyond an empty mask, blending ranges and name.
void AddRecord(Bytes& b, int32_t top, int32_t left, int32_t bottom,
               int32_t right,
               const std::vector<std::pair<int16_t, uint32_t>>& channels) {
  Be32(b, static_cast<uint32_t>(top));
  Be32(b, static_cast<uint32_t>(left));
  Be32(b, static_cast<uint32_t>(bottom));
  Be32(b, static_cast<uint32_t>(right));
  Be16(b, static_cast<uint16_t>(channels.size()));
  for (const auto& [id, length] : channels) {
    Be16(b, static_cast<uint16_t>(id));
    Be32(b, length);
  }
  b.insert(b.end(), {'8', 'B', 'I', 'M', 'n', 'o', 'r', 'm', 255, 0, 0, 0});
  Be32(b, 12);  // extra data: mask 0, blending ranges 0, name "" (4 bytes)
  Be32(b, 0);
  Be32(b, 0);
  Be32(b, 0);
}

// The layer section around `count` records in `records` and their channel
// data.
Bytes LayerSection(int16_t count, const Bytes& records, const Bytes& data) {
  Bytes info;
  Be16(info, static_cast<uint16_t>(count));
  info.insert(info.end(), records.begin(), records.end());
  info.insert(info.end(), data.begin(), data.end());
  if (info.size() % 2) info.push_back(0);
  Bytes section;
  Be32(section, static_cast<uint32_t>(info.size()));
  section.insert(section.end(), info.begin(), info.end());
  Be32(section, 0);  // global mask info
  return section;
}

const Bytes kRawNoData = {0, 0};

long PeakKilobytes() {
  struct rusage u;
  getrusage(RUSAGE_SELF, &u);
  return u.ru_maxrss;
}

double Seconds() {
  struct timespec t;
  clock_gettime(CLOCK_MONOTONIC, &t);
  return t.tv_sec + t.tv_nsec / 1e9;
}

struct Measured {
  int32_t result;
  size_t pixel_bytes;
  uint8_t first[3];  // the first pixel's bytes
  long grown_kb;
  double seconds;
};

// GetPicture from memory, with the growth of the peak resident size and
// the time taken.
Measured Picture(const Bytes& doc) {
  const ExactImage image(doc);
  const long before = PeakKilobytes();
  const double start = Seconds();
  HLOCAL header = nullptr, pixels = nullptr;
  Measured m;
  m.result = GetPicture(reinterpret_cast<LPCSTR>(image.data()),
                        static_cast<intptr_t>(image.size()), 1, &header,
                        &pixels, nullptr, 0);
  m.pixel_bytes = pixels ? LocalSize(pixels) : 0;
  memset(m.first, 0, 3);
  if (m.pixel_bytes >= 3) memcpy(m.first, LocalLock(pixels), 3);
  LocalFree(header);
  LocalFree(pixels);
  m.seconds = Seconds() - start;
  m.grown_kb = PeakKilobytes() - before;
  const PlatformCounts c = Counts();
  EXPECT_EQ(c.local_blocks + c.heap_blocks + c.open_files, 0);
  return m;
}

class BombTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { SendLogToNowhere(); }
};

TEST_F(BombTest, SidesAboveTheLimitAreRefusedAtOnce) {
  const uint32_t sides[][2] = {{30001, 1},
                               {1, 30001},
                               {30001, 30001},
                               {0xFFFFFFFFu, 0xFFFFFFFFu},
                               {0x80000000u, 2}};
  for (const auto& s : sides) {
    const Measured m = Picture(Document(s[0], s[1], 3, 3, {}, kRawNoData));
    EXPECT_EQ(m.result, 3) << s[0] << " x " << s[1];
    EXPECT_LT(m.grown_kb, 16 * 1024) << s[0] << " x " << s[1];
  }
}

TEST_F(BombTest, PicturesTooLargeForTheirDocumentAreRefused) {
  // 30000 x 30000 at 32 bits is 3.6 GB; 12000 x 12000 at 24 bits 432 MB:
  // both far beyond what 40 bytes of PackBits could describe.
  struct Case {
    uint32_t width, height;
    uint16_t channels, mode;
  } cases[] = {{30000, 30000, 4, 4},
               {30000, 30000, 3, 3},
               {12000, 12000, 3, 3},
               {30000, 30000, 1, 1}};
  for (const Case& c : cases) {
    // PackBits, and zip, which expands further but not this far.
    for (uint8_t compression : {1, 3}) {
      const Measured m = Picture(Document(c.width, c.height, c.channels, c.mode,
                                          {}, {0, compression}));
      EXPECT_EQ(m.result, 4) << c.width << " x " << c.height;
      EXPECT_EQ(m.pixel_bytes, 0u);
      EXPECT_LT(m.grown_kb, 64 * 1024) << "memory grew for a refused picture";
      EXPECT_LT(m.seconds, 30.0);
    }
  }
}

TEST_F(BombTest, ZipDataExpandsNoFurtherThanItsRows) {
  // A 300 x 200 gray picture whose zip stream holds 256 MB of zeros (about
  // 250 KB of data): inflating stops at the picture's last row.
  Bytes zeros(1 << 20, 0);
  z_stream z{};
  ASSERT_EQ(deflateInit(&z, 9), Z_OK);
  Bytes stream(1 << 20);
  z.next_out = stream.data();
  z.avail_out = static_cast<uInt>(stream.size());
  for (int i = 0; i < 256; ++i) {
    z.next_in = zeros.data();
    z.avail_in = static_cast<uInt>(zeros.size());
    ASSERT_EQ(deflate(&z, i == 255 ? Z_FINISH : Z_NO_FLUSH),
              i == 255 ? Z_STREAM_END : Z_OK);
  }
  stream.resize(z.total_out);
  deflateEnd(&z);
  Bytes image = {0, 2};
  image.insert(image.end(), stream.begin(), stream.end());
  const Measured m = Picture(Document(300, 200, 1, 1, {}, image));
  ASSERT_EQ(m.result, 0);
  EXPECT_EQ(m.pixel_bytes, 300u * 200u);
  EXPECT_LT(m.seconds, 5.0) << "the stream was inflated past the rows";
  // A 20000 x 20000 gray picture of zeros is 400 MB from about 390 KB:
  // within what zip describes, so it is served, not refused.
  const uint64_t side = 20000;
  Bytes big = {0, 2};
  Bytes row_zeros(side, 0);
  z_stream w{};
  ASSERT_EQ(deflateInit(&w, Z_DEFAULT_COMPRESSION), Z_OK);
  Bytes out(2 << 20);
  w.next_out = out.data();
  w.avail_out = static_cast<uInt>(out.size());
  for (uint64_t y = 0; y < side; ++y) {
    w.next_in = row_zeros.data();
    w.avail_in = static_cast<uInt>(side);
    ASSERT_NE(deflate(&w, y + 1 == side ? Z_FINISH : Z_NO_FLUSH),
              Z_STREAM_ERROR);
  }
  out.resize(w.total_out);
  deflateEnd(&w);
  big.insert(big.end(), out.begin(), out.end());
  const Measured served = Picture(Document(side, side, 1, 1, {}, big));
  EXPECT_EQ(served.result, 0);
  EXPECT_EQ(served.pixel_bytes, side * side);
}

TEST_F(BombTest, LargestAcceptedPictureOfATinyDocumentIsBounded) {
  // 9000 x 9000 RGB: 243 MB, under the size every document may ask for.
  const Measured m = Picture(Document(9000, 9000, 3, 3, {}, kRawNoData));
  ASSERT_EQ(m.result, 0);
  EXPECT_EQ(m.pixel_bytes, 9000u * 27000u);
  // The pixel block itself plus bounded scratch, not a multiple of it.
  EXPECT_LT(m.grown_kb, 2 * 1024 * 1024);
  EXPECT_LT(m.seconds, 120.0);
}

TEST_F(BombTest, HugeLayersOfATinyDocumentFallBackToTheMergedPicture) {
  // One layer 30000 x 30000 with four channels of two bytes each, and one
  // 16000 x 16000: their pictures (3.6 GB, 1 GB) cannot come from the data.
  Bytes records, data;
  AddRecord(records, 0, 0, 30000, 30000, {{-1, 2}, {0, 2}, {1, 2}, {2, 2}});
  AddRecord(records, 0, 0, 16000, 16000, {{0, 2}, {1, 2}, {2, 2}});
  for (int i = 0; i < 7; ++i) Be16(data, 1);  // PackBits words, no rows
  const Bytes doc =
      Document(2, 2, 3, 3, LayerSection(2, records, data),
               Bytes{0, 0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12});
  const ExactImage image(doc);
  for (uint32_t entry = 1; entry <= 2; ++entry) {
    const long before = PeakKilobytes();
    HLOCAL header = nullptr, pixels = nullptr;
    DecodeRequest r = MemoryRequest(image, entry, &header, &pixels);
    r.image_size = 0xA5A5A5A5u;
    EXPECT_EQ(DecodePictureW(&r), 0);
    // The merged 2 x 2 picture: 8 bytes a row.
    EXPECT_EQ(pixels ? LocalSize(pixels) : 0u, 16u) << "entry " << entry;
    EXPECT_EQ(r.image_size, 0xA5A5A5A5u) << "a layer was served";
    LocalFree(header);
    LocalFree(pixels);
    EXPECT_LT(PeakKilobytes() - before, 64 * 1024);
  }
}

// Builds a document of `count` minimal layers of 1 x 1 pixel, one raw
// channel each.
Bytes ManyLayers(int16_t stored_count, int records_written) {
  Bytes records, data;
  for (int i = 0; i < records_written; ++i) {
    AddRecord(records, i % 7, i % 5, i % 7 + 1, i % 5 + 1, {{0, 3}});
    data.insert(data.end(), {0, 0, static_cast<uint8_t>(i)});
  }
  return Document(8, 8, 3, 3, LayerSection(stored_count, records, data),
                  Bytes(2 + 8 * 8 * 3, 0x40));
}

TEST_F(BombTest, ThousandsOfLayersAreListedAndDecodedInBoundedWork) {
  struct Case {
    int16_t stored;
    int written;
    uint32_t layers;
  } cases[] = {
      {32767, 32767, 32767},  // the most the 16-bit count can hold
      {-32768, 3, 32768},     // negative: its magnitude, records missing
      {32767, 0, 32767},      // a count and no records at all
  };
  for (const Case& c : cases) {
    const Bytes doc = ManyLayers(c.stored, c.written);
    const ExactImage image(doc);
    const long before = PeakKilobytes();
    const double start = Seconds();
    HLOCAL listing = nullptr;
    ASSERT_EQ(GetArchiveInfo(reinterpret_cast<LPCSTR>(image.data()),
                             static_cast<intptr_t>(image.size()), 1, &listing),
              0);
    ASSERT_NE(listing, nullptr);
    const size_t records = LocalSize(listing) / sizeof(ArchiveFileInfo);
    const auto* e = static_cast<const ArchiveFileInfo*>(LocalLock(listing));
    size_t entries = 0;
    while (entries < records && e[entries].kind[0] != 0) ++entries;
    EXPECT_EQ(entries, c.layers + 1u) << c.stored;
    if (static_cast<uint32_t>(c.written) == c.layers) {
      // The last layer: 1 x 1 at 3 bytes a pixel, a 4-byte row.
      EXPECT_EQ(e[c.layers].packed_size, 14u + 40u + 4u);
    }
    LocalUnlock(listing);
    LocalFree(listing);

    // The last layer and one beyond it.
    for (uint32_t entry : {c.layers, c.layers + 1}) {
      HLOCAL header = nullptr, pixels = nullptr;
      DecodeRequest r = MemoryRequest(image, entry, &header, &pixels);
      EXPECT_EQ(DecodePictureW(&r), 0);
      LocalFree(header);
      LocalFree(pixels);
    }
    EXPECT_LT(Seconds() - start, 120.0) << c.stored;
    EXPECT_LT(PeakKilobytes() - before, 512 * 1024) << c.stored;
    const PlatformCounts counts = Counts();
    EXPECT_EQ(counts.local_blocks + counts.heap_blocks + counts.open_files, 0);
  }
}

// Documents saved without a merged picture make the reader composite their
// layers: the resources say so, and each record carries `info` (additional
// information blocks) after an empty mask, blending ranges and name.
Bytes Unmerged(uint32_t width, uint32_t height, const Bytes& layer_section) {
  const psdw::Resource r = psdw::VersionInfoResource(false);
  Bytes resources = {'8', 'B', 'I', 'M'};
  Be16(resources, r.id);
  Be16(resources, 0);  // empty name
  Be32(resources, static_cast<uint32_t>(r.data.size()));
  resources.insert(resources.end(), r.data.begin(), r.data.end());
  if (resources.size() % 2) resources.push_back(0);
  Bytes doc = Document(width, height, 3, 3, layer_section, kRawNoData);
  // Put the resources in place of the empty section (offset 30).
  Bytes out(doc.begin(), doc.begin() + 30);
  Be32(out, static_cast<uint32_t>(resources.size()));
  out.insert(out.end(), resources.begin(), resources.end());
  out.insert(out.end(), doc.begin() + 34, doc.end());
  return out;
}

void AddInfoRecord(Bytes& b, int32_t top, int32_t left, int32_t bottom,
                   int32_t right,
                   const std::vector<std::pair<int16_t, uint32_t>>& channels,
                   const Bytes& info) {
  AddRecord(b, top, left, bottom, right, channels);
  // Widen the extra data of the record just written by the blocks.
  const size_t length_at = b.size() - 16;
  const uint32_t extra = 12 + static_cast<uint32_t>(info.size());
  for (int i = 0; i < 4; ++i) {
    b[length_at + i] = static_cast<uint8_t>(extra >> (24 - 8 * i));
  }
  b.insert(b.end(), info.begin(), info.end());
}

TEST_F(BombTest, CompositesOfManyLayersAndDeepGroupsAreBounded) {
  struct Case {
    const char* what;
    uint32_t side;
    Bytes section;
    uint8_t painted;  // the blue byte every pixel ends with
  };
  std::vector<Case> cases;
  {
    Bytes records, data;
    for (int i = 0; i < 32767; ++i) {
      AddRecord(records, 0, 0, 0, 0, {{0, 2}});
      Be16(data, 0);
    }
    cases.push_back(
        {"32767 empty layers", 256, LayerSection(32767, records, data), 255});
  }
  {
    // 16000 groups nested in one another, each blending as a whole, around
    // one layer as large as the document (its rows all there).
    const int depth = 16000;
    const uint32_t side = 512;
    Bytes records, data;
    for (int i = 0; i < depth; ++i) {
      AddInfoRecord(records, 0, 0, 0, 0, {}, psdw::SectionBlock(3));
    }
    AddRecord(records, 0, 0, side, side, {{0, 2 + side * side}});
    Be16(data, 0);
    data.insert(data.end(), size_t{side} * side, 0x80);
    for (int i = 0; i < depth; ++i) {
      AddInfoRecord(records, 0, 0, 0, 0, {}, psdw::SectionBlock(1, "scrn"));
    }
    cases.push_back({"groups nested 16000 deep", side,
                     LayerSection(2 * depth + 1, records, data), 0x80});
  }
  {
    // Fill layers that each paint the whole document from a few bytes: the
    // work stops at the compositor's limit.
    Bytes records;
    const Bytes fill = psdw::SolidColourBlock(10, 200, 30);
    for (int i = 0; i < 20000; ++i) {
      AddInfoRecord(records, 0, 0, 0, 0, {}, fill);
    }
    cases.push_back({"20000 fill layers over 4 megapixels", 2048,
                     LayerSection(20000, records, {}), 30});
  }
  {
    // Pass-through groups that fade with their opacity, each keeping a copy
    // of what is below them: a painted document and 8000 of them.
    Bytes records;
    AddInfoRecord(records, 0, 0, 0, 0, {}, psdw::SolidColourBlock(30, 0, 0));
    for (int i = 0; i < 8000; ++i) {
      AddInfoRecord(records, 0, 0, 0, 0, {}, psdw::SectionBlock(3));
      const size_t record = records.size();
      AddInfoRecord(records, 0, 0, 0, 0, {}, psdw::SectionBlock(1, "pass"));
      records[record + 26] = 128;  // opacity, behind the blend key
    }
    cases.push_back({"8000 fading pass-through groups", 1024,
                     LayerSection(16001, records, {}), 0});
  }
  {
    // Layers of 30000 x 30000 pixels whose channels hold two bytes each.
    Bytes records, data;
    for (int i = 0; i < 1000; ++i) {
      AddRecord(records, -15000, -15000, 15000, 15000,
                {{-1, 2}, {0, 2}, {1, 2}, {2, 2}});
      for (int c = 0; c < 4; ++c) Be16(data, i % 2);
    }
    cases.push_back({"1000 layers larger than their data", 1024,
                     LayerSection(1000, records, data), 255});
  }
  for (const Case& c : cases) {
    const Measured m = Picture(Unmerged(c.side, c.side, c.section));
    EXPECT_EQ(m.result, 0) << c.what;
    EXPECT_EQ(m.pixel_bytes, size_t{c.side} * c.side * 3) << c.what;
    EXPECT_EQ(m.first[0], c.painted) << c.what;
    // The canvases (a few times the picture) and bounded scratch.
    EXPECT_LT(m.grown_kb, 256 * 1024) << c.what;
    EXPECT_LT(m.seconds, 120.0) << c.what;
  }
}

}  // namespace
}  // namespace hostile
