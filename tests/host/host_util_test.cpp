#include <gtest/gtest.h>
#include <string.h>

#include <string>
#include <vector>

#include "host/arguments.h"
#include "host/listing.h"
#include "host/picture_records.h"
#include "host/progress.h"
#include "host/text.h"

namespace {

std::string Utf8(const std::u16string& text, size_t length) {
  std::vector<uint16_t> units(text.begin(), text.end());
  return Utf8FromUtf16(units.data(), length);
}

TEST(TextConversion, Utf16ToUtf8CoversEveryEncodingLength) {
  std::u16string text = u"A\u00e9\u20ac\U0001F600";
  EXPECT_EQ(Utf8(text, text.size()), "A\xc3\xa9\xe2\x82\xac\xf0\x9f\x98\x80");
  // Stops at the length given, and at a NUL unit.
  EXPECT_EQ(Utf8(text, 2), "A\xc3\xa9");
  std::u16string with_nul(u"ab\0cd", 5);
  EXPECT_EQ(Utf8(with_nul, with_nul.size()), "ab");
}

TEST(TextConversion, Utf16LoneSurrogatesBecomeReplacementCharacters) {
  std::u16string high_alone = {0xD83D, u'x'};
  EXPECT_EQ(Utf8(high_alone, 2), "\xef\xbf\xbdx");
  std::u16string low_alone = {0xDE00};
  EXPECT_EQ(Utf8(low_alone, 1), "\xef\xbf\xbd");
  // A high surrogate cut off by the length is not paired with what follows.
  std::u16string pair = u"\U0001F600";
  EXPECT_EQ(Utf8(pair, 1), "\xef\xbf\xbd");
}

TEST(TextConversion, Utf8ToUtf16DecodesAndRejectsMalformedInput) {
  EXPECT_EQ(Utf16FromUtf8("A\xc3\xa9\xe2\x82\xac\xf0\x9f\x98\x80"),
            u"A\u00e9\u20ac\U0001F600");
  // Overlong, truncated at the end, stray continuation, encoded surrogate.
  EXPECT_EQ(Utf16FromUtf8("\xc0\x80"), u"\ufffd\ufffd");
  EXPECT_EQ(Utf16FromUtf8("a\xe2\x82"), u"a\ufffd\ufffd");
  EXPECT_EQ(Utf16FromUtf8("\x80z"), u"\ufffdz");
  EXPECT_EQ(Utf16FromUtf8("\xed\xa0\x80"), u"\ufffd");
  EXPECT_EQ(Utf16FromUtf8("\xf4\x90\x80\x80"), u"\ufffd");  // above U+10FFFF
}

TEST(EscapeBytes, ShowsOnlyPrintableAsciiAndStopsAtSizeOrNul) {
  const char field[8] = {'P', 'S', 'D', '\\', '\x01', '\xe9', 'x', 'y'};
  EXPECT_EQ(EscapeBytes(field, sizeof(field)), "PSD\\\\\\x01\\xe9xy");
  EXPECT_EQ(EscapeBytes(field, 3), "PSD");
  const char nul[4] = {'a', 0, 'b', 0};
  EXPECT_EQ(EscapeBytes(nul, 4), "a");
}

TEST(BmpFileHeader, PutsSizesLittleEndianBehindTheSignature) {
  uint8_t out[14];
  memset(out, 0xEE, sizeof(out));
  MakeBmpFileHeader(40 + 1024, 0x00012345, out);
  const uint8_t expected[14] = {'B', 'M', 0x7B, 0x27, 0x01, 0x00, 0,
                                0,   0,   0,    0x36, 0x04, 0x00, 0x00};
  // bfSize = 14 + 1064 + 0x12345 = 0x1277B, bfOffBits = 14 + 1064 = 0x436.
  EXPECT_EQ(0, memcmp(out, expected, sizeof(out)));
}

TEST(BitmapHeader, ReadsFieldsLittleEndianAndCountsPalette) {
  std::vector<uint8_t> block(40 + 8 + 2, 0);
  block[0] = 40;
  block[4] = 0x40, block[5] = 0x01;  // width 320
  block[8] = 0xFF, block[9] = 0xFF, block[10] = 0xFF,
  block[11] = 0xFF;  // height -1
  block[12] = 1;
  block[14] = 1;                       // 1 bit
  block[20] = 0x10, block[21] = 0x27;  // size 10000
  block[24] = 0x13, block[25] = 0x0B;  // 2835
  block[40] = 0x00, block[41] = 0x01, block[42] = 0x02, block[43] = 0x03;
  block[44] = 0xFF, block[45] = 0xFE, block[46] = 0xFD, block[47] = 0x00;
  std::string text = DescribeBitmapHeader(block.data(), block.size());
  EXPECT_NE(text.find("biWidth 320  biHeight -1  biPlanes 1  biBitCount 1"),
            std::string::npos)
      << text;
  EXPECT_NE(text.find("biSizeImage 10000  biXPelsPerMeter 2835"),
            std::string::npos)
      << text;
  EXPECT_NE(text.find("palette 2 entries and 2 stray bytes, first 00010203, "
                      "last fffefd00"),
            std::string::npos)
      << text;
  EXPECT_EQ(DescribeBitmapHeader(block.data(), 39),
            "  header block too short: 39 bytes\n");
}

ArchiveFileInfo Record(const char* kind, uint64_t number, uint64_t size,
                       const char* name) {
  ArchiveFileInfo r;
  memset(&r, 0x5A, sizeof(r));  // bytes a plug-in leaves alone
  strncpy(r.kind, kind, sizeof(r.kind));
  r.entry_number = static_cast<ArchiveWord>(number);
  r.packed_size = r.unpacked_size = static_cast<ArchiveWord>(size);
  r.time_stamp = 0;
  r.folder[0] = 0;
  strncpy(r.entry_name, name, sizeof(r.entry_name));
  r.checksum = 0;
  return r;
}

std::vector<uint8_t> Block(const std::vector<ArchiveFileInfo>& records) {
  std::vector<uint8_t> out(records.size() * sizeof(ArchiveFileInfo));
  memcpy(out.data(), records.data(), out.size());
  return out;
}

TEST(Listing, ReadsUpToTheEndMarker) {
  ArchiveFileInfo end;
  memset(&end, 0x5A, sizeof(end));
  end.kind[0] = 0;
  std::vector<uint8_t> block =
      Block({Record("PSD com", 0, 192054, "compound.bmp"),
             Record("PSD lay", 1, 0, "layer0001.dat"), end,
             Record("PSD lay", 2, 7, "after the end")});
  std::vector<ListingEntry> entries;
  std::string error;
  ASSERT_TRUE(ReadListing(block.data(), block.size(), &entries, &error));
  ASSERT_EQ(entries.size(), 2u);
  EXPECT_EQ(entries[0].kind, "PSD com");
  EXPECT_EQ(entries[0].unpacked_size, 192054u);
  EXPECT_EQ(entries[1].name, "layer0001.dat");
  EXPECT_EQ(entries[1].entry_number, 1u);
  EXPECT_TRUE(entries[1].name_terminated);
}

TEST(Listing, FailsWithoutEndMarkerAndNeverReadsPastTheBlock) {
  std::vector<uint8_t> block =
      Block({Record("PSD com", 0, 54, "compound.bmp"),
             Record("PSD lay", 1, 54, "layer0001.bmp")});
  // A block cut inside its last record: that record is not read.
  block.resize(block.size() - 1);
  std::vector<ListingEntry> entries;
  std::string error;
  EXPECT_FALSE(ReadListing(block.data(), block.size(), &entries, &error));
  EXPECT_EQ(entries.size(), 1u);
  EXPECT_NE(error.find("no end marker"), std::string::npos);
  EXPECT_FALSE(ReadListing(nullptr, 0, &entries, &error));
}

TEST(Listing, KeepsFieldsThatFillTheirWholeWidth) {
  ArchiveFileInfo r = Record("PSD lay", 3, 10, "x");
  memset(r.kind, 'K', sizeof(r.kind));
  memset(r.entry_name, 'n', sizeof(r.entry_name));
  ListingEntry e = EntryFromRecord(r);
  EXPECT_EQ(e.kind, "KKKKKKKK");
  EXPECT_EQ(e.name.size(), 200u);
  EXPECT_FALSE(e.name_terminated);
}

TEST(Listing, FormatsOneLineAnEntryAndATotal) {
  std::vector<ListingEntry> entries = {
      EntryFromRecord(Record("PSD com", 0, 192054, "compound.bmp")),
      EntryFromRecord(Record("PSD lay", 1, 1000, "layer0001.bmp"))};
  entries[1].packed_size = 999;
  entries[1].checksum = 7;
  std::string text = FormatListing("a.psd", entries);
  EXPECT_EQ(text,
            "Archive:  a.psd\n"
            "      #  Kind         Length      Packed  Name\n"
            "-------  -------  ----------  ----------  ----\n"
            "      0  PSD com      192054      192054  compound.bmp\n"
            "      1  PSD lay        1000         999  layer0001.bmp "
            "checksum 7\n"
            "-------  -------  ----------  ----------  ----\n"
            "                      193054              2 entries\n");
  EXPECT_NE(FormatListing("b", {entries[0]}).find("1 entry\n"),
            std::string::npos);
}

TEST(Listing, SelectsByNumberOrNameInTheOrderAsked) {
  std::vector<ListingEntry> entries = {
      EntryFromRecord(Record("PSD com", 0, 54, "compound.bmp")),
      EntryFromRecord(Record("PSD lay", 5, 54, "layer0005.bmp")),
      EntryFromRecord(Record("PSD lay", 2, 0, "layer0002.dat"))};
  std::vector<size_t> selected;
  std::string error;
  ASSERT_TRUE(SelectEntries(entries, {}, &selected, &error));
  EXPECT_EQ(selected, (std::vector<size_t>{0, 1, 2}));
  // Numbers are entry numbers, not positions in the listing.
  ASSERT_TRUE(
      SelectEntries(entries, {"2", "compound.bmp", "5"}, &selected, &error));
  EXPECT_EQ(selected, (std::vector<size_t>{2, 0, 1}));
  EXPECT_FALSE(SelectEntries(entries, {"1"}, &selected, &error));
  EXPECT_FALSE(SelectEntries(entries, {"layer0002.bmp"}, &selected, &error));
  EXPECT_NE(error.find("layer0002.bmp"), std::string::npos);
  EXPECT_FALSE(
      SelectEntries(entries, {"99999999999999999999999"}, &selected, &error));
}

TEST(Listing, SpreadSelectionKeepsFirstAndLastAndNeverRepeats) {
  EXPECT_EQ(SpreadSelection(4, 0), (std::vector<size_t>{0, 1, 2, 3}));
  EXPECT_EQ(SpreadSelection(4, 4), (std::vector<size_t>{0, 1, 2, 3}));
  EXPECT_EQ(SpreadSelection(221, 5),
            (std::vector<size_t>{0, 55, 110, 165, 220}));
  std::vector<size_t> picked = SpreadSelection(17, 16);
  ASSERT_EQ(picked.size(), 16u);
  for (size_t i = 1; i < picked.size(); ++i)
    EXPECT_LT(picked[i - 1], picked[i]);
  EXPECT_EQ(picked.back(), 16u);
}

TEST(OutputNames, BatchNamesAreNumberedBaseNames) {
  EXPECT_EQ(BatchName(7, "/corpus/effects/shape.psd"), "0007-shape.psd");
  EXPECT_EQ(BatchName(12345, "C:\\docs\\a.psb"), "12345-a.psb");
  EXPECT_EQ(BatchName(0, "plain.psd"), "0000-plain.psd");
}

TEST(OutputNames, OnlyPlainNamesAreWrittenIntoTheDirectory) {
  EXPECT_TRUE(IsPlainFileName("layer0001.bmp"));
  for (const char* bad : {"", ".", "..", "a/b", "a\\b", "c:x", "a\nb"}) {
    EXPECT_FALSE(IsPlainFileName(bad)) << bad;
  }
}

TEST(Arguments, OptionsMayStandAnywhere) {
  Arguments a;
  std::string error;
  ASSERT_TRUE(ParseArguments(
      {"p.so", "--memory", "x.psd", "-o", "out", "--batch", "--", "-odd.psd"},
      &a, &error));
  EXPECT_EQ(a.positional,
            (std::vector<std::string>{"p.so", "x.psd", "-odd.psd"}));
  EXPECT_EQ(a.output, "out");
  EXPECT_TRUE(a.memory);
  EXPECT_TRUE(a.batch);
  EXPECT_FALSE(a.memory_output);
}

TEST(Arguments, RejectsBadOptions) {
  Arguments a;
  std::string error;
  EXPECT_FALSE(ParseArguments({"p.so", "-o"}, &a, &error));
  EXPECT_FALSE(ParseArguments({"p.so", "--memroy"}, &a, &error));
  EXPECT_NE(error.find("--memroy"), std::string::npos);
  EXPECT_FALSE(ParseArguments({"-o", "a", "-o", "b"}, &a, &error));
  EXPECT_FALSE(ParseArguments({"--limit", "1"}, &a, &error));
  EXPECT_FALSE(ParseArguments({"--limit", "x3"}, &a, &error));
  EXPECT_FALSE(ParseArguments({"--limit"}, &a, &error));
  ASSERT_TRUE(ParseArguments({"--limit", "16", "f"}, &a, &error));
  EXPECT_EQ(a.limit, 16u);
  EXPECT_EQ(a.positional, std::vector<std::string>{"f"});
}

TEST(Progress, RecordsCallsAndNoticesForeignUserData) {
  ProgressLog log;
  intptr_t token = StartProgress(&log);
  EXPECT_EQ(DescribeProgress(log), "none");
  RecordProgress(0, 100, token);
  RecordProgress(100, 100, token);
  EXPECT_EQ(DescribeProgress(log), "(0/100) (100/100)");
  ProgressLog next;
  intptr_t next_token = StartProgress(&next);
  EXPECT_NE(next_token, token);
  RecordProgress(50, 100, token);  // the earlier request's value
  EXPECT_EQ(DescribeProgress(next), "(50/100) with foreign user data");
  EXPECT_EQ(log.calls.size(), 2u);  // the finished log stays as it was
}

TEST(PictureInfoText, PrintsEveryField) {
  PictureInfo info;
  memset(&info, 0, sizeof(info));
  info.width = 640;
  info.height = 480;
  info.x_density = 72;
  info.y_density = 76;
  info.color_depth = 24;
  EXPECT_EQ(DescribePictureInfo(info),
            "  left 0  top 0  width 640  height 480\n"
            "  x_density 72  y_density 76  color_depth 24  text_info null\n");
}

}  // namespace
