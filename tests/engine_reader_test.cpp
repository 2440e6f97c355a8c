// The document reader: request handling, result codes, sections, resources,
// resolution, allocation failures and the reader's log lines.
#include <math.h>

#include "common/log.h"
#include "engine_test_support.h"

namespace {

using namespace enginetest;  // NOLINT: the tests' own helpers
using namespace psdw;        // NOLINT: the document writer

PsdSpec Rgb(uint32_t w, uint32_t h, uint16_t compression = psdw::kRaw) {
  PsdSpec s;
  s.mode = 3;
  s.width = w;
  s.height = h;
  s.compression = compression;
  for (uint32_t c = 0; c < 3; ++c) {
    psdw::Samples p;
    for (uint32_t i = 0; i < w * h; ++i) p.push_back((i * 7 + c * 50) & 0xff);
    s.planes.push_back(p);
  }
  return s;
}

psdw::Layer SmallLayer() {
  psdw::Layer l;
  l.top = 1;
  l.left = 1;
  l.bottom = 3;
  l.right = 4;
  for (int16_t id : {-1, 0, 1, 2}) {
    psdw::LayerChannel c;
    c.id = id;
    c.samples = psdw::Fill(6, 200);
    l.channels.push_back(c);
  }
  return l;
}

TEST(ReaderTest, RefusesWhatIsNotAPsdOfAKnownVersion) {
  Bytes good = psdw::WritePsd(Rgb(4, 3));
  struct Case {
    const char* what;
    size_t offset;
    uint8_t value;
  };
  for (Case c : {Case{"signature", 3, 'B'}, Case{"version 3", 5, 3},
                 Case{"version 0", 5, 0}, Case{"reserved byte", 11, 1},
                 Case{"reserved byte", 6, 1}}) {
    Bytes doc = good;
    doc[c.offset] = c.value;
    Options o;
    o.progress = true;
    Decoded d = Decode(doc, o);
    EXPECT_EQ(d.result, 3) << c.what;
    EXPECT_FALSE(d.header_written) << c.what;
    EXPECT_EQ(d.request.entry_count, 0u) << c.what;
    EXPECT_EQ(d.request.result_flags, 0u) << c.what;
    // The callback sees both calls even for a refused document.
    ASSERT_EQ(d.progress.calls.size(), 2u) << c.what;
    EXPECT_EQ(d.progress.calls[0], std::make_pair(0, 100));
    EXPECT_EQ(d.progress.calls[1], std::make_pair(100, 100));
  }
  Bytes shorter = good;
  psdw::Truncate(shorter, 10);
  EXPECT_EQ(Decode(shorter).result, 3);
  EXPECT_EQ(Decode(Bytes{'8'}).result, 3);
}

TEST(ReaderTest, EmptyPictureIsRefusedAfterTheSizeLine) {
  for (uint32_t w : {0u, 5u}) {
    PsdSpec s = Rgb(w, 5 - w);
    s.planes.clear();
    Decoded d = Decode(psdw::WritePsd(s));
    EXPECT_EQ(d.result, 3);
    EXPECT_FALSE(d.header_written);
    EXPECT_TRUE(HasLine(d.log, "Image size: " + std::to_string(w) + " x " +
                                   std::to_string(5 - w)));
  }
}

TEST(ReaderTest, FileRequestsAndMemoryRequestsAgree) {
  Bytes doc = psdw::WritePsd(Rgb(5, 3, psdw::kPackBits));
  enginetest::TempFile file(doc);
  Options o;
  o.from_memory = false;
  o.file_name = file.wide();
  o.progress = true;
  Decoded from_file = Decode(doc, o);
  Decoded from_memory = Decode(doc);  // its file name does not exist
  ASSERT_EQ(from_file.result, 0);
  ASSERT_EQ(from_memory.result, 0);
  EXPECT_BYTES(from_file.header, from_memory.header);
  EXPECT_BYTES(from_file.pixels, from_memory.pixels);
  ASSERT_EQ(from_file.progress.calls.size(), 2u);
  EXPECT_EQ(from_file.progress.calls[0], std::make_pair(0, 100));
  EXPECT_EQ(from_file.progress.calls[1], std::make_pair(100, 100));
}

TEST(ReaderTest, UnreadableFilesGiveSixWithoutCallbacks) {
  for (std::u16string name :
       {std::u16string(u"/nonexistent/dir/x.psd"), std::u16string(u"/tmp")}) {
    Options o;
    o.from_memory = false;
    o.file_name = name;
    o.progress = true;
    Decoded d = Decode(Bytes(), o);
    EXPECT_EQ(d.result, 6);
    EXPECT_FALSE(d.header_written);
    EXPECT_TRUE(d.progress.calls.empty());
    EXPECT_EQ(d.request.entry_count, 0u);
    EXPECT_EQ(d.request.result_flags, 0u);
  }
}

TEST(ReaderTest, OutputsOfHeaderOnlyMergedAndListRequests) {
  PsdSpec s = Rgb(6, 4);
  s.layers = {SmallLayer(), SmallLayer()};
  s.negative_layer_count = true;  // -2 in the file
  Bytes doc = psdw::WritePsd(s);
  uint32_t merged_size = ((6 * 3 + 3) & ~3u) * 4;

  Decoded header = Decode(doc, enginetest::HeaderOnly());
  EXPECT_EQ(header.result, 8);
  EXPECT_EQ(header.request.image_size, merged_size);
  EXPECT_EQ(header.request.entry_count, 3u);
  EXPECT_EQ(header.request.result_flags, uint32_t{kHasLayers});
  EXPECT_TRUE(HasLine(header.log, "Layers = 2"));
  EXPECT_TRUE(HasLine(header.log, "pHBm = NULL"));

  // A header-only request for a layer still describes the merged picture.
  Decoded layer_header = Decode(doc, enginetest::HeaderOnly(1));
  EXPECT_EQ(layer_header.result, 8);
  EXPECT_EQ(layer_header.request.image_size, merged_size);
  EXPECT_BYTES(layer_header.header, header.header);

  // After the merged picture image_size keeps what the caller put there.
  Options o;
  o.image_size = 12345;
  Decoded merged = Decode(doc, o);
  EXPECT_EQ(merged.result, 0);
  EXPECT_EQ(merged.request.image_size, 12345u);
  EXPECT_EQ(merged.request.entry_count, 3u);

  // Entry 5 of a document with 2 layers: the merged picture.
  Decoded five = Decode(doc, enginetest::Entry(5));
  EXPECT_EQ(five.result, 0);
  EXPECT_BYTES(five.pixels, merged.pixels);
  EXPECT_BYTES(five.header, merged.header);

  // List flag without a pixel slot: header only.
  Options list_header = enginetest::List();
  list_header.want_pixels = false;
  Decoded lh = Decode(doc, list_header);
  EXPECT_EQ(lh.result, 8);
  EXPECT_EQ(lh.request.image_size, merged_size);
  EXPECT_BYTES(lh.header, header.header);

  PsdSpec flat = Rgb(6, 4);
  Decoded no_layers = Decode(psdw::WritePsd(flat), enginetest::HeaderOnly());
  EXPECT_EQ(no_layers.request.entry_count, 1u);
  EXPECT_EQ(no_layers.request.result_flags, 0u);
  EXPECT_TRUE(HasLine(no_layers.log, "Layers = 0"));

  s.layers.push_back(SmallLayer());  // -3
  Decoded three = Decode(psdw::WritePsd(s), enginetest::HeaderOnly());
  EXPECT_EQ(three.request.entry_count, 4u);
  EXPECT_EQ(three.request.result_flags, uint32_t{kHasLayers});
}

// Pixels per metre of a 16.16 pixels-per-inch value, rounded to nearest.
int32_t PerMetre(double dpi) {
  double fixed = std::round(dpi * 65536.0) / 65536.0;
  return static_cast<int32_t>(std::lround(fixed * 10000.0 / 254.0));
}

TEST(ReaderTest, ResolutionResource) {
  struct Case {
    std::vector<psdw::Resource> resources;
    int32_t x, y;
  };
  psdw::Resource odd;
  odd.id = 1000;
  odd.name = "x";  // one character: a two-byte name field
  odd.data = Bytes{9, 9, 9};
  psdw::Resource odd_long;
  odd_long.id = 1001;
  odd_long.name = "abc";
  odd_long.data = Bytes(5, 0x03);
  std::vector<Case> cases = {
      {{}, 3000, 3000},
      {{psdw::ResolutionResource(72, 72)}, PerMetre(72), PerMetre(72)},
      {{psdw::ResolutionResource(300, 150)}, PerMetre(300), PerMetre(150)},
      {{psdw::ResolutionResource(72.5, 96.25)},
       PerMetre(72.5),
       PerMetre(96.25)},
      {{odd, odd_long, psdw::ResolutionResource(200, 50)},
       PerMetre(200),
       PerMetre(50)},
      {{psdw::ResolutionResource(72, 72), psdw::ResolutionResource(144, 10)},
       PerMetre(144),
       PerMetre(10)},
  };
  // The decided figures for the two usual resolutions.
  EXPECT_EQ(PerMetre(72), 2835);
  EXPECT_EQ(PerMetre(300), 11811);
  for (size_t i = 0; i < cases.size(); ++i) {
    PsdSpec s = Rgb(3, 2);
    s.resources = cases[i].resources;
    Decoded d = Decode(psdw::WritePsd(s), enginetest::HeaderOnly());
    ASSERT_EQ(d.result, 8) << "case " << i;
    EXPECT_EQ(d.Info().biXPelsPerMeter, cases[i].x) << "case " << i;
    EXPECT_EQ(d.Info().biYPelsPerMeter, cases[i].y) << "case " << i;
  }
}

TEST(ReaderTest, SectionLinesShowOffsetsAndLengths) {
  PsdSpec s = Rgb(5, 3, psdw::kPackBits);
  s.color_mode_data = Bytes(6, 1);
  s.resources = {psdw::ResolutionResource(72, 72)};
  s.layers = {SmallLayer()};
  psdw::PsdLayout at;
  Bytes doc = psdw::WritePsd(s, &at);
  Decoded d = Decode(doc);
  ASSERT_EQ(d.result, 0);
  size_t l2 = at.layer_mask - at.resources - 4;
  size_t l3 = at.image_data - at.layer_mask - 4;
  EXPECT_TRUE(HasLine(d.log, "Image size: 5 x 3"));
  EXPECT_TRUE(HasLine(d.log, "Image Mode: 3   Depth: 8   Pallete : 0"));
  EXPECT_TRUE(HasLine(d.log, "Color Mode Data +1a(6)"));
  EXPECT_TRUE(HasLine(
      d.log, "Image Resources +" + Hex(at.resources) + "(" + Hex(l2) + ")"));
  EXPECT_TRUE(HasLine(d.log, "Layer and Mask Information +" +
                                 Hex(at.layer_mask) + "(" + Hex(l3) + ")"));
  EXPECT_TRUE(HasLine(d.log, "Layers = 1"));
  EXPECT_TRUE(
      HasLine(d.log, "Compression skip Image Data " + Hex(at.image_data + 2)));
  EXPECT_TRUE(
      HasLine(d.log, "Image Data " + Hex(at.pixel_data) + "   Compression 1"));

  Decoded raw = Decode(psdw::WritePsd(Rgb(5, 3)));
  EXPECT_EQ(enginetest::CountPrefix(raw.log, "Compression skip"), 0);
}

TEST(ReaderTest, TheLogOfARequestIsBoundedAndKeepsItsOrder) {
  // A listing of 600 layers logs the document, its first 8 records and one
  // line counting the rest.
  PsdSpec s = Rgb(5, 3);
  for (int i = 0; i < 600; ++i) s.layers.push_back(SmallLayer());
  Options list;
  list.flags = kListFlag;
  Decoded d = Decode(psdw::WritePsd(s), list);
  ASSERT_EQ(d.result, 8);
  const std::vector<std::string> head = {
      "Image size: 5 x 3", "Image Mode: 3   Depth: 8   Pallete : 0"};
  ASSERT_EQ(d.log.size(), 6 + 2 * 8 + 2u);
  EXPECT_EQ(std::vector<std::string>(d.log.begin(), d.log.begin() + 2), head);
  EXPECT_EQ(d.log[5], "Layers = 600");
  for (int i = 0; i < 8; ++i) {
    const std::string& record = d.log[6 + 2 * i];
    EXPECT_EQ(record.rfind("Layer #" + std::to_string(i) + ": ", 0), 0u)
        << record;
    EXPECT_EQ(d.log[7 + 2 * i], "Opacity: 255");
  }
  EXPECT_EQ(d.log[22], "Layer records: 592 more");
  EXPECT_EQ(d.log.back().rfind("Layer image: ", 0), 0u);

  // Lines past a request's bound are counted, not written; those written
  // (several buffers' worth) arrive whole, once, in order.
  enginetest::LogWatch watch;
  LogBuffer log;
  LogBegin(&log);
  const std::string filler(90, 'x');
  for (int i = 0; i < 300; ++i) LogLine(&log, "%d %s", i, filler.c_str());
  LogFinish(&log);
  const std::vector<std::string> lines = watch.Lines();
  ASSERT_EQ(lines.size(), kLogRequestLines + 1u);
  for (uint32_t i = 0; i < kLogRequestLines; ++i) {
    EXPECT_EQ(lines[i], std::to_string(i) + " " + filler);
  }
  EXPECT_EQ(lines.back(), "Log: 172 more lines left out");
}

TEST(ReaderTest, LengthsThatPointPastTheEndAreRefused) {
  PsdSpec s = Rgb(4, 4);
  s.layers = {SmallLayer()};
  Bytes doc = psdw::WritePsd(s);
  for (int which = 0; which < 3; ++which) {
    PsdSpec bad = s;
    uint32_t huge = static_cast<uint32_t>(doc.size());
    if (which == 0) bad.color_mode_length = huge;
    if (which == 1) bad.resources_length = 0xFFFFFFF0u;
    if (which == 2) bad.layer_mask_length = huge;
    for (uint32_t entry : {0u, 1u}) {
      Decoded d = Decode(psdw::WritePsd(bad), enginetest::Entry(entry));
      EXPECT_EQ(d.result, 3) << "section " << which << " entry " << entry;
    }
  }
}

TEST(ReaderTest, ShortLayerSectionMeansNoLayers) {
  // The section holds 4 bytes; the Image Data that follows must not be read
  // as a layer count.
  PsdSpec s = Rgb(4, 2);
  s.compression = psdw::kPackBits;
  Bytes doc = psdw::WritePsd(s);
  psdw::PsdLayout at;
  psdw::WritePsd(s, &at);
  Bytes longer(doc.begin(), doc.begin() + static_cast<long>(at.layer_mask));
  psdw::Bytes len = {0, 0, 0, 4, 0xFF, 0xFF, 0xFF, 0xFF};
  longer.insert(longer.end(), len.begin(), len.end());
  longer.insert(longer.end(), doc.begin() + static_cast<long>(at.image_data),
                doc.end());
  Decoded d = Decode(longer, enginetest::HeaderOnly());
  EXPECT_EQ(d.result, 8);
  EXPECT_EQ(d.request.entry_count, 1u);
  EXPECT_EQ(d.request.result_flags, 0u);
  Decoded pixels = Decode(longer);
  Decoded plain = Decode(doc);
  ASSERT_EQ(pixels.result, 0);
  EXPECT_BYTES(pixels.pixels, plain.pixels);
}

// Version 1 documents are at most 30000 pixels a side; larger ones are
// refused after the size line, before any block exists. A document far
// smaller than its picture could be gets no pixel block.
TEST(ReaderTest, OversizedPicturesAreRefused) {
  for (uint32_t side : {30001u, 0x10000u}) {
    PsdSpec s = Rgb(1, 1);
    s.width = side;
    s.height = 2;
    s.planes.clear();
    Decoded d = Decode(psdw::WritePsd(s));
    EXPECT_EQ(d.result, 3) << side;
    EXPECT_FALSE(d.has_header);
    EXPECT_TRUE(HasLine(d.log, "Image size: " + std::to_string(side) + " x 2"));
    EXPECT_FALSE(HasLine(d.log, "Image Mode: 3   Depth: 8   Pallete : 0"));
  }
  PsdSpec big = Rgb(1, 1);
  big.width = 30000;
  big.height = 30000;  // 2.7 GB of rows from a few bytes
  big.planes.clear();
  Decoded d = Decode(psdw::WritePsd(big));
  EXPECT_EQ(d.result, 4);
  EXPECT_TRUE(d.has_header);
  EXPECT_FALSE(d.has_pixels);

  // The large-document format: sides up to 300,000, but the rows of a DIB
  // must fit in 32 bits.
  struct Large {
    uint32_t width, height;
    int32_t result;
  };
  for (Large l : {Large{300001, 2, 3}, Large{2, 300001, 3},
                  Large{60000, 40000, 4}, Large{40000, 2000, 0}}) {
    PsdSpec s = Rgb(1, 1, psdw::kPackBits);
    s.version = 2;
    s.width = l.width;
    s.height = l.height;
    s.planes.clear();
    s.channels = 3;
    if (l.result == 0) {  // every row of every plane 7s
      const Bytes row = psdw::PackBits(Bytes(l.width, 7));
      s.row_counts = std::vector<uint16_t>(3 * l.height,
                                           static_cast<uint16_t>(row.size()));
      s.image_payload.emplace();
      for (uint32_t i = 0; i < 3 * l.height; ++i) {
        s.image_payload->insert(s.image_payload->end(), row.begin(), row.end());
      }
    }
    Decoded large = Decode(psdw::WritePsd(s));
    EXPECT_EQ(large.result, l.result) << l.width << " x " << l.height;
    if (l.result == 0) {
      ASSERT_EQ(large.pixels.size(), 120000u * 2000u);
      EXPECT_EQ(large.pixels.front(), 7);
      EXPECT_EQ(large.pixels.back(), 7);
    }
  }
}

// Every allocation of a request fails in turn. Each failure ends in 4 with
// the caller holding exactly what the slots say (the accounting in Decode).
TEST(ReaderTest, EveryAllocationFailureIsCleanedUp) {
  PsdSpec s = Rgb(7, 5, psdw::kPackBits);
  s.layers = {SmallLayer(), SmallLayer()};
  Bytes doc = psdw::WritePsd(s);
  enginetest::TempFile file(doc);

  struct Kind {
    const char* what;
    Options options;
    int32_t normal;
  };
  Options from_file;
  from_file.from_memory = false;
  from_file.file_name = file.wide();
  Options layer_from_file = from_file;
  layer_from_file.entry = 2;
  std::vector<Kind> kinds = {
      {"merged", Options(), 0},        {"layer", enginetest::Entry(2), 0},
      {"list", enginetest::List(), 8}, {"header", enginetest::HeaderOnly(1), 8},
      {"file", from_file, 0},          {"layer file", layer_from_file, 0},
  };
  for (const Kind& k : kinds) {
    Decoded normal = Decode(doc, k.options);
    ASSERT_EQ(normal.result, k.normal) << k.what;
    bool finished = false;
    for (int64_t n = 1; n <= 40 && !finished; ++n) {
      Options o = k.options;
      o.progress = true;
      PlatformFailAllocation(n);
      Decoded d = Decode(doc, o);
      PlatformFailAllocation(0);
      if (d.result == k.normal && d.pixels == normal.pixels) {
        finished = true;
        continue;
      }
      // Memory that cannot be had is said as such, for a layer too (it is
      // not served as the merged picture).
      ASSERT_EQ(d.result, 4) << k.what << " failing allocation " << n;
      SCOPED_TRACE(std::string(k.what) + " failing allocation " +
                   std::to_string(n));
      if (n == 1) {
        // The header block (a file is read by range, into no buffer of the
        // whole): its slot receives null.
        EXPECT_TRUE(d.header_written) << k.what;
        EXPECT_FALSE(d.has_header) << k.what;
        EXPECT_EQ(d.progress.calls.size(), 2u) << k.what;
      }
      if (d.has_header) {
        EXPECT_FALSE(d.has_pixels) << k.what;
      }
    }
    EXPECT_TRUE(finished) << k.what << ": still failing after 40";
  }
}

}  // namespace
