// An archive listing as psdhost reads and prints it: the entries copied out
// of the plug-in's records, the table of a listing, one record's fields,
// and the choice of entries to extract. Everything here reads only inside
// the sizes given.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include <string>
#include <vector>

#include "host/plugin_api.h"

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
