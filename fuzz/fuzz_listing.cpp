// The archive listing from a memory image: GetArchiveInfo, then GetFileInfo
// for the entries it lists and for one beyond them. The listing must be
// defined to its last byte and well formed, each GetFileInfo record must be
// the listing's record for that entry, and a listed size must be what
// extracting the entry yields.
#include "engine/serve/plugin_abi.h"
#include "fuzz/fuzz_support.h"

using namespace fuzzcheck;

namespace {

// Entries whose sizes are checked against an extraction of the entry.
const uint32_t kExtracted = 4;

size_t TextLength(const char* text, size_t room) {
  size_t n = 0;
  while (n < room && text[n] != 0) ++n;
  Require(n < room, "name without terminator");
  return n;
}

// The size extracting `entry` yields: 14 + header block + pixel block, or 0
// without pixels; -1 when the request fails.
long long ExtractedSize(const uint8_t* data, size_t size, uint32_t entry) {
  HLOCAL header = nullptr;
  HLOCAL pixels = nullptr;
  DecodeRequest request = MemoryRequest(data, size, entry, &header, &pixels);
  const int32_t result = DecodePictureW(&request);
  long long total = -1;
  if (result == 0) {
    const size_t b = LocalSize(pixels);
    total = b > 0 ? static_cast<long long>(14 + LocalSize(header) + b) : 0;
    TouchBlock(pixels);
  }
  LocalFree(header);
  LocalFree(pixels);
  RequireNothingLive();
  return total;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  SendLogToNowhere();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* input, size_t size) {
  if (size == 0) return 0;
  const std::vector<uint8_t> tamed = Tamed(input, size);
  const uint8_t* data = tamed.data();
  const LPCSTR source = reinterpret_cast<LPCSTR>(data);
  const intptr_t length = static_cast<intptr_t>(size);

  HLOCAL listing = nullptr;
  const int32_t result = GetArchiveInfo(source, length, kInputMemory, &listing);
  Require(result == 0 || result == 3 || result == 4, "GetArchiveInfo result",
          result);
  if (result != 0) {
    Require(listing == nullptr, "listing on failure");
    RequireNothingLive();
    ArchiveFileInfo info;
    const int32_t r =
        GetFileInfo(source, length, "compound.bmp", kInputMemory, &info);
    Require(r == result || (result == 4 && r == 0), "GetFileInfo on failure", r,
            result);
    RequireNothingLive();
    return 0;
  }
  RequireHeld(1);
  Require(listing != nullptr, "no listing");
  const size_t bytes = LocalSize(listing);
  Require(bytes % sizeof(ArchiveFileInfo) == 0 &&
              bytes >= 2 * sizeof(ArchiveFileInfo),
          "listing size", static_cast<long long>(bytes));
  const size_t records = bytes / sizeof(ArchiveFileInfo);
  std::vector<ArchiveFileInfo> entries(records);
  memcpy(entries.data(), LocalLock(listing), bytes);
  TouchBlock(listing);
  LocalUnlock(listing);
  LocalFree(listing);
  RequireNothingLive();

  // Entries until the end marker (a record whose kind is empty).
  size_t count = 0;
  while (count < records && entries[count].kind[0] != 0) ++count;
  Require(count >= 1 && count < records, "listing without end marker",
          static_cast<long long>(count));
  Require(strcmp(entries[0].entry_name, "compound.bmp") == 0, "first entry");
  for (size_t n = 0; n < count; ++n) {
    const ArchiveFileInfo& e = entries[n];
    Require(e.entry_number == n, "entry number",
            static_cast<long long>(e.entry_number), static_cast<long long>(n));
    Require(e.packed_size == e.unpacked_size, "packed size");
    TextLength(e.kind, sizeof e.kind);
    TextLength(e.entry_name, sizeof e.entry_name);
    if (n > 0) {
      char bmp[32], dat[32];
      snprintf(bmp, sizeof bmp, "layer%04zu.bmp", n);
      snprintf(dat, sizeof dat, "layer%04zu.dat", n);
      const bool is_dat = strcmp(e.entry_name, dat) == 0;
      Require(is_dat || strcmp(e.entry_name, bmp) == 0, "layer entry name");
      Require(!is_dat || e.packed_size == 0, "empty entry size");
    }
    if (n < kExtracted) {
      const long long extracted =
          ExtractedSize(data, size, static_cast<uint32_t>(n));
      if (extracted >= 0) {
        Require(static_cast<long long>(e.packed_size) == extracted,
                "listed size differs from extraction",
                static_cast<long long>(e.packed_size), extracted);
      }
    }
  }

  // Every listed entry, and one beyond, by name.
  const size_t asked = count < 6 ? count + 1 : 6;
  for (size_t n = 0; n < asked; ++n) {
    char name[32];
    if (n == 0) {
      snprintf(name, sizeof name, "compound.bmp");
    } else {
      snprintf(name, sizeof name, "layer%04zu.dat", n);
    }
    ArchiveFileInfo info;
    memset(&info, 0x5A, sizeof info);
    const int32_t r = GetFileInfo(source, length, name, kInputMemory, &info);
    RequireNothingLive();
    Require(r == 0 || r == 4, "GetFileInfo result", r);
    if (r != 0) continue;
    TextLength(info.entry_name, sizeof info.entry_name);
    Require(info.entry_number == n, "info entry number");
    if (n < count) {
      Require(strcmp(info.entry_name, entries[n].entry_name) == 0 &&
                  info.packed_size == entries[n].packed_size &&
                  strcmp(info.kind, entries[n].kind) == 0,
              "GetFileInfo differs from the listing",
              static_cast<long long>(n));
    }
  }
  return 0;
}
