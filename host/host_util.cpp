#include "host/host_util.h"

#include <stdarg.h>
#include <stdio.h>
#include <string.h>

namespace {

void AppendUtf8(uint32_t code, std::string* out) {
  if (code < 0x80) {
    out->push_back(static_cast<char>(code));
  } else if (code < 0x800) {
    out->push_back(static_cast<char>(0xC0 | (code >> 6)));
    out->push_back(static_cast<char>(0x80 | (code & 0x3F)));
  } else if (code < 0x10000) {
    out->push_back(static_cast<char>(0xE0 | (code >> 12)));
    out->push_back(static_cast<char>(0x80 | ((code >> 6) & 0x3F)));
    out->push_back(static_cast<char>(0x80 | (code & 0x3F)));
  } else {
    out->push_back(static_cast<char>(0xF0 | (code >> 18)));
    out->push_back(static_cast<char>(0x80 | ((code >> 12) & 0x3F)));
    out->push_back(static_cast<char>(0x80 | ((code >> 6) & 0x3F)));
    out->push_back(static_cast<char>(0x80 | (code & 0x3F)));
  }
}

uint32_t Le32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
         (static_cast<uint32_t>(p[2]) << 16) |
         (static_cast<uint32_t>(p[3]) << 24);
}

uint16_t Le16(const uint8_t* p) {
  return static_cast<uint16_t>(p[0] | (p[1] << 8));
}

void PutLe32(uint32_t value, uint8_t* p) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(value >> (8 * i));
}

#if defined(__clang__)
#define HOST_PRINTF_FORMAT __attribute__((format(printf, 1, 2)))
#else
#define HOST_PRINTF_FORMAT __attribute__((format(gnu_printf, 1, 2)))
#endif
std::string Format(const char* format, ...) HOST_PRINTF_FORMAT;
std::string Format(const char* format, ...) {
  char buffer[512];
  va_list args;
  va_start(args, format);
  int n = vsnprintf(buffer, sizeof(buffer), format, args);
  va_end(args);
  if (n < 0) return std::string();
  if (static_cast<size_t>(n) >= sizeof(buffer)) n = sizeof(buffer) - 1;
  return std::string(buffer, static_cast<size_t>(n));
}

std::string RawField(const char* field, size_t size, bool* terminated) {
  size_t n = 0;
  while (n < size && field[n] != 0) ++n;
  if (terminated) *terminated = n < size;
  return std::string(field, n);
}

ProgressLog* g_progress = nullptr;
intptr_t g_next_token = 0x50524F47;  // any value that is no small integer

}  // namespace

std::string Utf8FromUtf16(const uint16_t* text, size_t length) {
  std::string out;
  for (size_t i = 0; i < length && text[i] != 0; ++i) {
    uint32_t unit = text[i];
    if (unit >= 0xD800 && unit < 0xDC00 && i + 1 < length &&
        text[i + 1] >= 0xDC00 && text[i + 1] < 0xE000) {
      uint32_t low = text[++i];
      AppendUtf8(0x10000 + ((unit - 0xD800) << 10) + (low - 0xDC00), &out);
    } else if (unit >= 0xD800 && unit < 0xE000) {
      AppendUtf8(0xFFFD, &out);
    } else {
      AppendUtf8(unit, &out);
    }
  }
  return out;
}

std::u16string Utf16FromUtf8(const std::string& text) {
  std::u16string out;
  const uint8_t* p = reinterpret_cast<const uint8_t*>(text.data());
  size_t n = text.size();
  size_t i = 0;
  while (i < n) {
    uint8_t lead = p[i];
    uint32_t code = 0xFFFD;
    size_t extra = 0;
    uint32_t minimum = 0;
    if (lead < 0x80) {
      code = lead;
    } else if (lead >= 0xC2 && lead < 0xE0) {
      extra = 1, code = lead & 0x1F, minimum = 0x80;
    } else if (lead >= 0xE0 && lead < 0xF0) {
      extra = 2, code = lead & 0x0F, minimum = 0x800;
    } else if (lead >= 0xF0 && lead < 0xF5) {
      extra = 3, code = lead & 0x07, minimum = 0x10000;
    }
    size_t used = 1;
    if (extra > 0) {
      bool ok = i + extra < n;
      for (size_t k = 1; ok && k <= extra; ++k) {
        if ((p[i + k] & 0xC0) != 0x80) ok = false;
      }
      if (ok) {
        for (size_t k = 1; k <= extra; ++k)
          code = (code << 6) | (p[i + k] & 0x3F);
        if (code < minimum || code > 0x10FFFF ||
            (code >= 0xD800 && code < 0xE000)) {
          code = 0xFFFD;
        }
        used = extra + 1;
      } else {
        code = 0xFFFD;
      }
    }
    i += used;
    if (code >= 0x10000) {
      code -= 0x10000;
      out.push_back(static_cast<char16_t>(0xD800 + (code >> 10)));
      out.push_back(static_cast<char16_t>(0xDC00 + (code & 0x3FF)));
    } else {
      out.push_back(static_cast<char16_t>(code));
    }
  }
  return out;
}

std::string EscapeBytes(const void* bytes, size_t size) {
  const uint8_t* p = static_cast<const uint8_t*>(bytes);
  std::string out;
  for (size_t i = 0; i < size && p[i] != 0; ++i) {
    if (p[i] == '\\') {
      out += "\\\\";
    } else if (p[i] >= 0x20 && p[i] < 0x7F) {
      out.push_back(static_cast<char>(p[i]));
    } else {
      out += Format("\\x%02x", p[i]);
    }
  }
  return out;
}

void MakeBmpFileHeader(uint32_t header_size, uint32_t pixel_size,
                       uint8_t out[14]) {
  out[0] = 'B';
  out[1] = 'M';
  PutLe32(14u + header_size + pixel_size, out + 2);
  PutLe32(0, out + 6);  // two reserved words
  PutLe32(14u + header_size, out + 10);
}

std::string DescribeBitmapHeader(const uint8_t* block, size_t size) {
  if (block == nullptr || size < 40) {
    return Format("  header block too short: %zu bytes\n", size);
  }
  std::string out;
  out += Format(
      "  biSize %u  biWidth %d  biHeight %d  biPlanes %u  "
      "biBitCount %u\n",
      Le32(block), static_cast<int32_t>(Le32(block + 4)),
      static_cast<int32_t>(Le32(block + 8)), Le16(block + 12),
      Le16(block + 14));
  out += Format(
      "  biCompression %u  biSizeImage %u  biXPelsPerMeter %d  "
      "biYPelsPerMeter %d  biClrUsed %u  biClrImportant %u\n",
      Le32(block + 16), Le32(block + 20),
      static_cast<int32_t>(Le32(block + 24)),
      static_cast<int32_t>(Le32(block + 28)), Le32(block + 32),
      Le32(block + 36));
  size_t palette = size - 40;
  out += Format("  palette %zu entries", palette / 4);
  if (palette % 4 != 0) out += Format(" and %zu stray bytes", palette % 4);
  if (palette >= 4) {
    const uint8_t* first = block + 40;
    const uint8_t* last = block + 40 + (palette / 4 - 1) * 4;
    out += Format(", first %02x%02x%02x%02x, last %02x%02x%02x%02x", first[0],
                  first[1], first[2], first[3], last[0], last[1], last[2],
                  last[3]);
  }
  out += "\n";
  return out;
}

std::string DescribePictureInfo(const PictureInfo& info) {
  std::string out;
  out += Format("  left %d  top %d  width %d  height %d\n", info.left, info.top,
                info.width, info.height);
  out += Format("  x_density %u  y_density %u  color_depth %u  text_info %s\n",
                info.x_density, info.y_density, info.color_depth,
                info.text_info == nullptr ? "null" : "set");
  return out;
}

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

std::string BatchName(size_t index, const std::string& path) {
  size_t cut = path.find_last_of("/\\");
  std::string base = cut == std::string::npos ? path : path.substr(cut + 1);
  return Format("%04zu-", index) + base;
}

bool IsPlainFileName(const std::string& name) {
  if (name.empty() || name == "." || name == "..") return false;
  for (char c : name) {
    unsigned char u = static_cast<unsigned char>(c);
    if (u < 0x20 || c == '/' || c == '\\' || c == ':') return false;
  }
  return true;
}

bool ParseArguments(const std::vector<std::string>& args, Arguments* parsed,
                    std::string* error) {
  *parsed = Arguments();
  bool options = true;
  bool have_output = false;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    if (options && a == "--") {
      options = false;
    } else if (options && a == "-o") {
      if (i + 1 >= args.size()) {
        *error = "-o needs a value";
        return false;
      }
      if (have_output) {
        *error = "-o given twice";
        return false;
      }
      parsed->output = args[++i];
      have_output = true;
    } else if (options && a == "--files") {
      if (i + 1 >= args.size()) {
        *error = "--files needs a value";
        return false;
      }
      parsed->files = args[++i];
    } else if (options && a == "--limit") {
      const std::string value = i + 1 < args.size() ? args[i + 1] : "";
      size_t limit = 0;
      bool ok = !value.empty() && value.size() <= 9;
      for (char c : value) {
        if (c < '0' || c > '9') ok = false;
        limit = limit * 10 + static_cast<size_t>(c - '0');
      }
      if (!ok || limit < 2) {
        *error = "--limit needs a number of at least 2";
        return false;
      }
      parsed->limit = limit;
      ++i;
    } else if (options && a == "--memory") {
      parsed->memory = true;
    } else if (options && a == "--memory-output") {
      parsed->memory_output = true;
    } else if (options && a == "--batch") {
      parsed->batch = true;
    } else if (options && a.size() > 1 && a[0] == '-') {
      *error = "unknown option " + a;
      return false;
    } else {
      parsed->positional.push_back(a);
    }
  }
  return true;
}

intptr_t StartProgress(ProgressLog* log) {
  log->calls.clear();
  log->foreign_user_data = false;
  log->token = g_next_token++;
  g_progress = log;
  return log->token;
}

int32_t WINAPI RecordProgress(int32_t numerator, int32_t denominator,
                              intptr_t user_data) {
  if (g_progress != nullptr) {
    if (user_data != g_progress->token) g_progress->foreign_user_data = true;
    g_progress->calls.emplace_back(numerator, denominator);
  }
  return 0;
}

std::string DescribeProgress(const ProgressLog& log) {
  if (log.calls.empty()) return "none";
  std::string out;
  for (const auto& call : log.calls) {
    if (!out.empty()) out += " ";
    out += Format("(%d/%d)", call.first, call.second);
  }
  if (log.foreign_user_data) out += " with foreign user data";
  return out;
}
