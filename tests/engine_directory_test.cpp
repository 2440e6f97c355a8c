// The layer directory: one record for the merged picture and one for each
// layer, names, kinds and sizes that equal what extraction of each entry
// yields.
#include "engine_test_support.h"

namespace {

using namespace enginetest;  // NOLINT: the tests' own helpers
using namespace psdw;        // NOLINT: the document writer

Layer MakeLayer(int32_t top, int32_t left, int32_t bottom, int32_t right,
                const std::vector<int16_t>& ids) {
  return psdw::MakeLayer(
      top, left, bottom, right, ids, psdw::kPackBits,
      [](int16_t id, uint32_t, uint32_t) { return 100u + id; });
}

PsdSpec Document(uint16_t mode) {
  PsdSpec s;
  s.mode = mode;
  s.width = 9;
  s.height = 5;
  s.depth = mode == 0 ? 1 : 8;
  uint32_t planes = mode == 3 ? 3 : mode == 4 ? 4 : 1;
  uint32_t row = mode == 0 ? 2 : 9;
  for (uint32_t c = 0; c < planes; ++c) {
    s.planes.push_back(psdw::Fill(row * 5, 40 * c));
  }
  return s;
}

struct Entry_ {
  std::string kind, name;
  uint64_t number, packed, unpacked, time_stamp;
  std::string folder;
  uint32_t checksum;
};

std::vector<Entry_> Entries(const Decoded& d, size_t* records) {
  std::vector<Entry_> out;
  *records = d.pixels.size() / sizeof(ArchiveFileInfo);
  EXPECT_EQ(d.pixels.size() % sizeof(ArchiveFileInfo), 0u);
  for (size_t i = 0; i < *records; ++i) {
    ArchiveFileInfo info;
    memcpy(&info, &d.pixels[i * sizeof info], sizeof info);
    if (info.kind[0] == 0) {
      // The end marker: empty kind, folder and name.
      EXPECT_EQ(info.folder[0], 0);
      EXPECT_EQ(info.entry_name[0], 0);
      EXPECT_EQ(i, static_cast<size_t>(d.request.entry_count));
      break;
    }
    Entry_ e;
    e.kind = std::string(info.kind, strnlen(info.kind, sizeof info.kind));
    e.name = std::string(info.entry_name,
                         strnlen(info.entry_name, sizeof info.entry_name));
    e.folder = std::string(info.folder, strnlen(info.folder, 200));
    e.number = info.entry_number;
    e.packed = info.packed_size;
    e.unpacked = info.unpacked_size;
    e.time_stamp = info.time_stamp;
    e.checksum = info.checksum;
    out.push_back(e);
  }
  return out;
}

std::string LayerName(uint32_t n, const char* ext) {
  char b[32];
  snprintf(b, sizeof b, "layer%04u.%s", n, ext);
  return b;
}

// Lists the document and checks every entry against an extraction of it:
// the size is the BMP file header, the header block and the pixel block
// that the entry's request yields; empty pictures are listed as ".dat".
void CheckListing(const Bytes& doc, uint32_t layers) {
  Decoded list = Decode(doc, enginetest::List());
  ASSERT_EQ(list.result, 8);
  ASSERT_EQ(list.request.entry_count, layers + 1);
  EXPECT_EQ(list.pixels.size(), (layers + 3) * sizeof(ArchiveFileInfo));
  size_t records = 0;
  std::vector<Entry_> entries = Entries(list, &records);
  ASSERT_EQ(entries.size(), layers + 1);

  Decoded merged = Decode(doc);
  ASSERT_EQ(merged.result, 0);
  EXPECT_BYTES(list.header, merged.header);
  for (uint32_t n = 0; n <= layers; ++n) {
    const Entry_& e = entries[n];
    SCOPED_TRACE("entry " + std::to_string(n));
    EXPECT_EQ(e.number, n);
    EXPECT_EQ(e.time_stamp, 0u);
    EXPECT_EQ(e.checksum, 0u);
    EXPECT_EQ(e.folder, "");
    EXPECT_EQ(e.packed, e.unpacked);
    Decoded x = Decode(doc, Entry(n));
    ASSERT_EQ(x.result, 0);
    uint64_t size = 14 + x.header.size() + x.pixels.size();
    if (n == 0) {
      EXPECT_EQ(e.kind, "PSD com");
      EXPECT_EQ(e.name, "compound.bmp");
      EXPECT_EQ(e.unpacked, size);
    } else if (x.pixels.empty()) {
      EXPECT_EQ(e.kind, "PSD lay");
      EXPECT_EQ(e.name, LayerName(n, "dat"));
      EXPECT_EQ(e.unpacked, 0u);
    } else {
      EXPECT_EQ(e.kind, "PSD lay");
      EXPECT_EQ(e.name, LayerName(n, "bmp"));
      EXPECT_EQ(e.unpacked, size);
    }
  }
}

TEST(DirectoryTest, DocumentWithoutLayers) {
  for (uint16_t mode : {0, 1, 3, 4}) {
    Bytes doc = psdw::WritePsd(Document(mode));
    Decoded list = Decode(doc, enginetest::List());
    ASSERT_EQ(list.result, 8);
    size_t records = 0;
    std::vector<Entry_> e = Entries(list, &records);
    ASSERT_EQ(e.size(), 1u);
    EXPECT_EQ(records, 3u);
    EXPECT_EQ(e[0].name, "compound.bmp");
    uint32_t palette = mode == 0 ? 8 : mode == 1 ? 1024 : 0;
    uint32_t stride = mode == 0 ? 4 : mode == 1 ? 12 : mode == 3 ? 28 : 36;
    EXPECT_EQ(e[0].unpacked, 54u + palette + stride * 5) << "mode " << mode;
    CheckListing(doc, 0);
  }
}

TEST(DirectoryTest, EntriesMatchWhatExtractionYields) {
  for (uint16_t mode : {1, 3, 4}) {
    PsdSpec s = Document(mode);
    s.layers = {MakeLayer(0, 0, 5, 9, {-1, 0, 1, 2}),
                MakeLayer(1, 1, 4, 6, {0, 1, 2}),
                MakeLayer(0, 0, 0, 0, {-1, 0, 1, 2}),
                MakeLayer(2, 2, 2, 7, {-1, 0, 1, 2}),  // zero height
                MakeLayer(2, 2, 6, 2, {-1, 0, 1, 2}),  // zero width
                MakeLayer(0, 0, 3, 5, {0}),
                MakeLayer(0, 0, 3, 5, {-1, 0}),
                MakeLayer(0, 0, 3, 5, {0, 1}),
                MakeLayer(0, 0, 3, 5, {0, 1, 2, 3}),
                MakeLayer(-2, -3, 4, 9, {-1, 0, 1, 2, 3, 4, 5, 6, 7, 8}),
                MakeLayer(0, 0, 3, 3, {}),
                MakeLayer(0, 0, 3, 5, {-2, -1, 0, 1, 2})};
    s.layers.back().has_mask = true;
    s.layers.back().mask_bottom = 2;
    s.layers.back().mask_right = 2;
    s.layers.back().channels[0].width = 2;
    s.layers.back().channels[0].height = 2;
    s.negative_layer_count = true;
    CheckListing(psdw::WritePsd(s), static_cast<uint32_t>(s.layers.size()));
  }
}

TEST(DirectoryTest, BrokenLayersAreListedAsExtractionServesThem) {
  PsdSpec s = Document(3);
  s.layers = {MakeLayer(0, 0, 5, 9, {-1, 0, 1, 2}),
              MakeLayer(0, 0, 3, 3, {-1, 0, 1, 2}),
              MakeLayer(0, 0, 3, 3, {-1, 0, 1, 2})};
  // A mask whose data lies outside the document: served as the merged
  // picture, and listed so.
  PsdSpec bad_mask = s;
  Layer& l = bad_mask.layers[1];
  l.has_mask = true;
  l.mask_bottom = l.mask_right = 2;
  LayerChannel m;
  m.id = -2;
  m.width = m.height = 2;
  m.samples = psdw::Fill(4, 255);
  m.length = 0x7FFFFFF0u;
  l.channels.push_back(m);
  Bytes doc = psdw::WritePsd(bad_mask);
  CheckListing(doc, 3);
  Decoded list = Decode(doc, enginetest::List());
  size_t records = 0;
  std::vector<Entry_> e = Entries(list, &records);
  ASSERT_EQ(e.size(), 4u);
  EXPECT_EQ(e[2].name, "layer0002.bmp");
  EXPECT_EQ(e[2].unpacked, e[0].unpacked);

  // Behind a malformed record no layer's channel data can be found: every
  // layer is served as the merged picture and listed so.
  PsdSpec bad_record = s;
  bad_record.layers[1].blend_signature = "8XXX";  // only "8" is looked at
  bad_record.layers[2].blend_signature = "XBIM";
  Bytes broken = psdw::WritePsd(bad_record);
  Decoded bl = Decode(broken, enginetest::List());
  ASSERT_EQ(bl.result, 8);
  std::vector<Entry_> be = Entries(bl, &records);
  ASSERT_EQ(be.size(), 4u);
  for (size_t n = 1; n < 4; ++n) {
    EXPECT_EQ(be[n].name, "layer000" + std::to_string(n) + ".bmp");
    EXPECT_EQ(be[n].unpacked, be[0].unpacked);
  }
  Decoded first = Decode(broken, Entry(1));
  Decoded third = Decode(broken, Entry(3));
  Decoded merged = Decode(broken);
  EXPECT_BYTES(first.pixels, merged.pixels);
  EXPECT_BYTES(third.pixels, merged.pixels);
}

TEST(DirectoryTest, FiveDigitEntryNames) {
  PsdSpec s = Document(1);
  for (int i = 0; i < 10001; ++i) s.layers.push_back(MakeLayer(0, 0, 0, 0, {}));
  s.layers.back() = MakeLayer(0, 0, 2, 3, {0});
  Bytes doc = psdw::WritePsd(s);
  Decoded list = Decode(doc, enginetest::List());
  ASSERT_EQ(list.result, 8);
  size_t records = 0;
  std::vector<Entry_> e = Entries(list, &records);
  ASSERT_EQ(e.size(), 10002u);
  EXPECT_EQ(e[9999].name, "layer9999.dat");
  EXPECT_EQ(e[10000].name, "layer10000.dat");
  EXPECT_EQ(e[10001].name, "layer10001.bmp");
  EXPECT_EQ(e[10001].number, 10001u);
  // One gray byte a pixel, rows of 4, and the document's 1024-byte palette.
  EXPECT_EQ(e[10001].unpacked, 54u + 1024 + 4 * 2);
}

}  // namespace
