// The parts of psdhost that do not touch a plug-in: text conversion, the
// reading and printing of the records a plug-in returns, BMP file headers
// and the command line. Everything here reads only inside the sizes given.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include <string>
#include <utility>
#include <vector>

#include "host/plugin_api.h"

// UTF-16 (as 16-bit units) to UTF-8. Unpaired surrogates become U+FFFD.
// Stops at the first NUL unit or after `length` units.
std::string Utf8FromUtf16(const uint16_t* text, size_t length);

// UTF-8 to UTF-16 units, without a terminator. Malformed sequences become
// U+FFFD; code points above U+FFFF become surrogate pairs.
std::u16string Utf16FromUtf8(const std::string& text);

// Printable text for a byte field: printable ASCII as it is, a backslash as
// "\\", every other byte as "\xNN". Stops at the first NUL or at `size`.
std::string EscapeBytes(const void* bytes, size_t size);

// The 14-byte BITMAPFILEHEADER in front of a header block of `header_size`
// bytes and `pixel_size` bytes of pixels, little-endian.
void MakeBmpFileHeader(uint32_t header_size, uint32_t pixel_size,
                       uint8_t out[14]);

// The fields of a header block (BITMAPINFOHEADER and palette), one
// "name value" pair each, read byte by byte. A block shorter than 40 bytes
// gives an error line instead.
std::string DescribeBitmapHeader(const uint8_t* block, size_t size);

// The fields of a picture information record.
std::string DescribePictureInfo(const PictureInfo& info);

// One entry of an archive listing, copied out of the plug-in's block.
struct ListingEntry {
  std::string kind;  // escaped, at most 8 bytes of the field
  uint64_t entry_number;
  uint64_t packed_size;
  uint64_t unpacked_size;
  uint64_t time_stamp;
  std::string folder;  // escaped
  std::string name;    // raw bytes up to the NUL (used for file names)
  uint32_t checksum;
  bool name_terminated;  // the name field holds a NUL
};

// Copies one record into an entry.
ListingEntry EntryFromRecord(const ArchiveFileInfo& record);

// Reads the records of a listing block of `size` bytes up to the end marker
// (a record whose kind starts with a zero byte). Fails, saying why, when no
// end marker lies inside the block.
bool ReadListing(const uint8_t* block, size_t size,
                 std::vector<ListingEntry>* entries, std::string* error);

// The listing as a table: a header, one entry a line, a total line.
std::string FormatListing(const std::string& archive,
                          const std::vector<ListingEntry>& entries);

// The fields of one record as GetFileInfo returned it.
std::string DescribeFileInfo(const ListingEntry& entry);

// Picks entries of a listing by entry number ("3") or by name
// ("layer0003.bmp"), in the order asked; none asked selects all. Fails on
// a selector that matches nothing.
bool SelectEntries(const std::vector<ListingEntry>& entries,
                   const std::vector<std::string>& selectors,
                   std::vector<size_t>* selected, std::string* error);

// At most `limit` of `count` entries, spread evenly from the first to the
// last (all of them when limit is 0 or not below count).
std::vector<size_t> SpreadSelection(size_t count, size_t limit);

// A name for the output of the `index`-th document of a batch:
// "0007-picture.psd" from index 7 and ".../picture.psd".
std::string BatchName(size_t index, const std::string& path);

// Whether a name is safe to use as a file name inside an output directory:
// not empty, no separators, not "." or "..", no control characters.
bool IsPlainFileName(const std::string& name);

// The command line after the command name.
struct Arguments {
  std::vector<std::string> positional;
  std::string output;  // -o
  std::string files;   // --files: a file that lists more FILE arguments
  bool memory = false;
  bool memory_output = false;
  bool batch = false;
  size_t limit = 0;  // --limit N: at most N entries a document (0: all)
};

// Splits arguments into positionals and options. "--" ends the options.
// Fails on an unknown option or on -o without a value.
bool ParseArguments(const std::vector<std::string>& args, Arguments* parsed,
                    std::string* error);

// A progress callback that records every call it receives. The user data
// passed to the plug-in is a token, never an address, so a plug-in that
// hands back a wrong value is reported instead of followed.
struct ProgressLog {
  intptr_t token = 0;
  bool foreign_user_data = false;  // a call came with another value
  std::vector<std::pair<int32_t, int32_t>> calls;
};
// Makes `log` the one that RecordProgress fills; returns the user data to
// pass along with RecordProgress.
intptr_t StartProgress(ProgressLog* log);
int32_t WINAPI RecordProgress(int32_t numerator, int32_t denominator,
                              intptr_t user_data);
// "(0/100) (100/100)", or "none"; " with foreign user data" when seen.
std::string DescribeProgress(const ProgressLog& log);
