#include "host/listing.h"

#include <string.h>

#include "host/text.h"

namespace {

std::string RawField(const char* field, size_t size, bool* terminated) {
  size_t n = 0;
  while (n < size && field[n] != 0) ++n;
  if (terminated) *terminated = n < size;
  return std::string(field, n);
}

}  // namespace

ListingEntry EntryFromRecord(const ArchiveFileInfo& record) {
  ListingEntry entry;
  entry.kind = EscapeBytes(record.kind, sizeof(record.kind));
  entry.entry_number = record.entry_number;
  entry.packed_size = record.packed_size;
  entry.unpacked_size = record.unpacked_size;
  entry.time_stamp = record.time_stamp;
  entry.folder = EscapeBytes(record.folder, sizeof(record.folder));
  entry.name = RawField(record.entry_name, sizeof(record.entry_name),
                        &entry.name_terminated);
  entry.checksum = record.checksum;
  return entry;
}

bool ReadListing(const uint8_t* block, size_t size,
                 std::vector<ListingEntry>* entries, std::string* error) {
  entries->clear();
  if (block == nullptr) {
    *error = "no listing block";
    return false;
  }
  const size_t record_size = sizeof(ArchiveFileInfo);
  for (size_t offset = 0; offset + record_size <= size; offset += record_size) {
    ArchiveFileInfo record;
    memcpy(&record, block + offset, record_size);
    if (record.kind[0] == 0) return true;
    entries->push_back(EntryFromRecord(record));
  }
  *error = Format("no end marker in a listing block of %zu bytes (%zu records)",
                  size, entries->size());
  return false;
}

std::string FormatListing(const std::string& archive,
                          const std::vector<ListingEntry>& entries) {
  std::string out = "Archive:  " + archive + "\n";
  out += "      #  Kind         Length      Packed  Name\n";
  out += "-------  -------  ----------  ----------  ----\n";
  uint64_t total = 0;
  for (const ListingEntry& e : entries) {
    out +=
        Format("%7llu  %-7s  %10llu  %10llu  ",
               static_cast<unsigned long long>(e.entry_number), e.kind.c_str(),
               static_cast<unsigned long long>(e.unpacked_size),
               static_cast<unsigned long long>(e.packed_size));
    out += EscapeBytes(e.name.data(), e.name.size());
    if (!e.name_terminated) out += " (name not terminated)";
    if (!e.folder.empty()) out += " folder \"" + e.folder + "\"";
    if (e.time_stamp != 0) {
      out +=
          Format(" time %llu", static_cast<unsigned long long>(e.time_stamp));
    }
    if (e.checksum != 0) out += Format(" checksum %u", e.checksum);
    out += "\n";
    total += e.unpacked_size;
  }
  out += "-------  -------  ----------  ----------  ----\n";
  out += Format("                  %10llu              %zu %s\n",
                static_cast<unsigned long long>(total), entries.size(),
                entries.size() == 1 ? "entry" : "entries");
  return out;
}

std::string DescribeFileInfo(const ListingEntry& e) {
  std::string out;
  out += Format(
      "  kind \"%s\"  entry_number %llu  packed_size %llu  "
      "unpacked_size %llu\n",
      e.kind.c_str(), static_cast<unsigned long long>(e.entry_number),
      static_cast<unsigned long long>(e.packed_size),
      static_cast<unsigned long long>(e.unpacked_size));
  out +=
      Format("  time_stamp %llu  folder \"%s\"  name \"%s\"%s  checksum %u\n",
             static_cast<unsigned long long>(e.time_stamp), e.folder.c_str(),
             EscapeBytes(e.name.data(), e.name.size()).c_str(),
             e.name_terminated ? "" : " (not terminated)", e.checksum);
  return out;
}

bool SelectEntries(const std::vector<ListingEntry>& entries,
                   const std::vector<std::string>& selectors,
                   std::vector<size_t>* selected, std::string* error) {
  selected->clear();
  if (selectors.empty()) {
    for (size_t i = 0; i < entries.size(); ++i) selected->push_back(i);
    return true;
  }
  for (const std::string& selector : selectors) {
    bool numeric = !selector.empty() && selector.size() <= 19;
    uint64_t number = 0;
    for (char c : selector) {
      if (c < '0' || c > '9') {
        numeric = false;
        break;
      }
      number = number * 10 + static_cast<uint64_t>(c - '0');
    }
    size_t found = entries.size();
    for (size_t i = 0; i < entries.size() && found == entries.size(); ++i) {
      if (numeric ? entries[i].entry_number == number
                  : entries[i].name == selector) {
        found = i;
      }
    }
    if (found == entries.size()) {
      *error = "no entry " + selector + " in the listing";
      return false;
    }
    selected->push_back(found);
  }
  return true;
}

std::vector<size_t> SpreadSelection(size_t count, size_t limit) {
  std::vector<size_t> picked;
  if (limit == 0 || count <= limit) {
    for (size_t i = 0; i < count; ++i) picked.push_back(i);
    return picked;
  }
  if (limit == 1) return {0};
  for (size_t i = 0; i < limit; ++i) {
    picked.push_back(i * (count - 1) / (limit - 1));
  }
  return picked;
}
