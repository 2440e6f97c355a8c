// Checks shared by the fuzz targets: the block accounting after every call,
// reads of every byte handed out (so the sanitizers see them), and the
// sizes of the blocks against the header fields that describe them.
#pragma once

#include <limits.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "engine/base/threads.h"
#include "engine/psd/format.h"
#include "engine/serve/plugin_abi.h"
#include "platform/accounting.h"

namespace fuzzcheck {

// A request for entry `entry` of the memory image of `size` bytes at
// `data`, with the two slots.
inline DecodeRequest MemoryRequest(const uint8_t* data, size_t size,
                                   uint32_t entry, HLOCAL* header,
                                   HLOCAL* pixels) {
  DecodeRequest r{};
  r.size = sizeof r;
  r.entry_index = entry;
  r.memory_image = data, r.memory_length = size;
  r.header_slot = header, r.pixels_slot = pixels;
  return r;
}

[[noreturn]] inline void Fail(const char* what, long long a, long long b) {
  fprintf(stderr, "fuzz check failed: %s (%lld, %lld)\n", what, a, b);
  abort();
}

inline void Require(bool ok, const char* what, long long a = 0,
                    long long b = 0) {
  if (!ok) Fail(what, a, b);
}

// The blocks and files live right now.
inline PlatformCounts Counts() {
  PlatformCounts c;
  PlatformGetCounts(&c);
  return c;
}

// After the caller has freed what it owned: nothing may be left.
inline void RequireNothingLive() {
  const PlatformCounts c = Counts();
  Require(c.local_blocks == 0, "local blocks left", c.local_blocks);
  Require(c.heap_blocks == 0, "heap blocks left", c.heap_blocks);
  Require(c.open_files == 0, "files left open", c.open_files);
}

// Exactly `local` caller-owned blocks live, no engine heap block, no file.
inline void RequireHeld(int64_t local) {
  const PlatformCounts c = Counts();
  Require(c.local_blocks == local, "local blocks held", c.local_blocks, local);
  Require(c.heap_blocks == 0, "heap blocks left", c.heap_blocks);
  Require(c.open_files == 0, "files left open", c.open_files);
}

// Reads every byte so that the sanitizers check each access; the sum goes
// to a volatile sink so the loop is not dropped.
inline void TouchBytes(const void* data, size_t size) {
  const uint8_t* p = static_cast<const uint8_t*>(data);
  uint64_t sum = 0;
  for (size_t i = 0; i < size; ++i) sum += p[i] * (i | 1);
  static volatile uint64_t sink;
  sink = sink + sum;
}

inline void TouchBlock(HLOCAL block) {
  if (block == nullptr) return;
  TouchBytes(LocalLock(block), LocalSize(block));
  LocalUnlock(block);
}

// Palette bytes that go with an output bit count.
inline uint32_t PaletteBytes(uint32_t bit_count) {
  return bit_count <= 8 ? 4u << bit_count : 0;
}

inline uint64_t Stride(int64_t width, uint32_t bit_count) {
  const uint64_t bits = static_cast<uint64_t>(width) * bit_count;
  return ((bits + 31) / 32) * 4;
}

// A header block: a 40-byte BITMAPINFOHEADER and the palette its bit count
// calls for. Returns the header.
inline BITMAPINFOHEADER CheckHeaderBlock(HLOCAL block) {
  Require(block != nullptr, "header block missing");
  const SIZE_T size = LocalSize(block);
  Require(size >= 40, "header block too small", static_cast<long long>(size));
  BITMAPINFOHEADER h;
  memcpy(&h, LocalLock(block), sizeof h);
  LocalUnlock(block);
  TouchBlock(block);
  Require(h.biSize == 40, "biSize", h.biSize);
  Require(h.biPlanes == 1, "biPlanes", h.biPlanes);
  Require(h.biBitCount == 1 || h.biBitCount == 8 || h.biBitCount == 24 ||
              h.biBitCount == 32 || h.biBitCount == 0,
          "biBitCount", h.biBitCount);
  return h;
}

// The longest side the document may have, by the version in its header.
inline long long MaxSideOf(const uint8_t* document, size_t size) {
  using engine::kVersionPsb;
  const bool large =
      size >= 6 && document[4] == 0 && document[5] == kVersionPsb;
  return engine::MaxSide(large ? kVersionPsb : engine::kVersionPsd);
}

// A merged picture of `document`: a positive size within its side limit,
// the palette its bit count calls for, and a pixel block of exactly
// stride x height bytes.
inline void CheckMergedPicture(HLOCAL header, HLOCAL pixels,
                               const uint8_t* document, size_t size) {
  const BITMAPINFOHEADER h = CheckHeaderBlock(header);
  Require(h.biWidth > 0 && h.biHeight > 0, "merged size", h.biWidth,
          h.biHeight);
  const long long side = MaxSideOf(document, size);
  Require(h.biWidth <= side && h.biHeight <= side, "merged side limit",
          h.biWidth, h.biHeight);
  Require(LocalSize(header) == 40 + PaletteBytes(h.biBitCount), "palette size",
          static_cast<long long>(LocalSize(header)), h.biBitCount);
  const uint64_t expected = Stride(h.biWidth, h.biBitCount) * h.biHeight;
  Require(h.biSizeImage == expected, "biSizeImage", h.biSizeImage,
          static_cast<long long>(expected));
  if (pixels != nullptr) {
    Require(LocalSize(pixels) == h.biSizeImage, "pixel block size",
            static_cast<long long>(LocalSize(pixels)), h.biSizeImage);
    TouchBlock(pixels);
  }
}

// A layer picture: stride x height bytes for positive sizes, else empty.
inline void CheckLayerPicture(HLOCAL header, HLOCAL pixels) {
  const BITMAPINFOHEADER h = CheckHeaderBlock(header);
  Require(pixels != nullptr, "layer pixel block missing");
  const SIZE_T size = LocalSize(pixels);
  Require(size == h.biSizeImage, "layer pixel block size",
          static_cast<long long>(size), h.biSizeImage);
  if (h.biWidth > 0 && h.biHeight > 0 && size != 0) {
    Require(h.biBitCount == 8 || h.biBitCount == 24 || h.biBitCount == 32,
            "layer bit count", h.biBitCount);
    Require(size == Stride(h.biWidth, h.biBitCount) * h.biHeight,
            "layer stride x height", static_cast<long long>(size));
  }
  TouchBlock(pixels);
}

// A copy of the input (exactly sized: nothing readable after it) whose
// merged picture is at most kFuzzSide pixels a side. Sides from kFuzzSide to
// the engine's limit are folded below kFuzzSide so that an input costs
// milliseconds, not seconds; the decompression-bomb tests cover large
// pictures. Sides above the limit, refused at once, stay as they are.
const uint32_t kFuzzSide = 1024;

inline std::vector<uint8_t> Tamed(const uint8_t* data, size_t size) {
  std::vector<uint8_t> copy(data, data + size);
  for (size_t at : {size_t{14}, size_t{18}}) {
    if (size < at + 4) break;
    uint8_t* p = copy.data() + at;
    uint32_t v = (uint32_t{p[0]} << 24) | (uint32_t{p[1]} << 16) |
                 (uint32_t{p[2]} << 8) | p[3];
    if (v <= kFuzzSide || v > 30000) continue;
    v %= kFuzzSide;
    p[0] = p[1] = 0;
    p[2] = static_cast<uint8_t>(v >> 8);
    p[3] = static_cast<uint8_t>(v);
  }
  return copy;
}

// The document's bytes in a file of this process's own (in memory where the
// system has such a folder), for requests by name; false when it cannot be
// written.
inline std::string DocumentFilePath() {
  const char* folder = access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp";
  return std::string(folder) + "/psd_input_" + std::to_string(getpid()) +
         ".psd";
}
inline bool WriteDocumentFile(const std::string& path, const uint8_t* data,
                              size_t size) {
  FILE* f = fopen(path.c_str(), "wb");
  if (f == nullptr) return false;
  const bool ok = size == 0 || fwrite(data, 1, size, f) == size;
  return fclose(f) == 0 && ok;
}

// Empty when the request for `entry` (with `flags`) gives the same result
// and the same blocks from the file at `path` as from the memory image of
// the same bytes; else what differs. Every block is freed.
// The blocks and result of one request, made ready by `setup` (0 or 1: the
// two ways compared).
struct Decoded {
  int32_t result;
  std::vector<uint8_t> blocks[2];
};

template <class Setup>
inline std::string TwoWaysDiffer(const uint8_t* data, size_t size,
                                 uint32_t entry, uint32_t flags,
                                 const char* ways[2], Setup setup) {
  Decoded got[2];
  for (int way = 0; way < 2; ++way) {
    HLOCAL blocks[2] = {nullptr, nullptr};
    DecodeRequest r = MemoryRequest(data, size, entry, &blocks[0], &blocks[1]);
    r.flags = flags;
    setup(way, &r);
    got[way].result = DecodePictureW(&r);
    for (int b = 0; b < 2; ++b) {
      if (blocks[b] == nullptr) continue;
      const uint8_t* bytes = static_cast<const uint8_t*>(LocalLock(blocks[b]));
      got[way].blocks[b].assign(bytes, bytes + LocalSize(blocks[b]));
      LocalUnlock(blocks[b]);
      LocalFree(blocks[b]);
    }
  }
  const std::string what =
      "entry " + std::to_string(entry) + (flags ? " listing" : "") + ": ";
  if (got[0].result != got[1].result) {
    return what + "result " + std::to_string(got[0].result) + " " + ways[0] +
           ", " + std::to_string(got[1].result) + " " + ways[1];
  }
  if (got[0].blocks[0] != got[1].blocks[0]) {
    return what + "the header blocks differ";
  }
  if (got[0].blocks[1] != got[1].blocks[1]) {
    return what + "the pixel blocks differ";
  }
  return "";
}

// The request from the file at `path` (holding the same bytes) against the
// one from memory.
inline std::string FileDiffersFromMemory(const uint8_t* data, size_t size,
                                         const std::string& path,
                                         uint32_t entry, uint32_t flags) {
  // No memory image has no bytes: a null one means "read the file".
  if (size == 0) return "";
  const std::u16string wide(path.begin(), path.end());
  const char* ways[2] = {"from memory", "from the file"};
  return TwoWaysDiffer(
      data, size, entry, flags, ways, [&](int way, DecodeRequest* r) {
        if (way == 0) return;
        r->memory_image = nullptr;
        r->file_name = reinterpret_cast<const WCHAR*>(wide.c_str());
      });
}

// The request decoded on `threads` threads (in as many bands, however small
// the picture) against the same on one thread.
inline std::string ThreadsDifferFromOne(const uint8_t* data, size_t size,
                                        uint32_t entry, uint32_t flags,
                                        uint32_t threads) {
  const char* ways[2] = {"on one thread", "on several"};
  const std::string differs = TwoWaysDiffer(
      data, size, entry, flags, ways, [&](int way, DecodeRequest*) {
        engine::HoldThreadsTo(way == 0 ? 1 : threads);
      });
  engine::HoldThreadsTo(0);
  return differs;
}

// The log goes to <executable>.LOG; while fuzzing, every line is formatted
// and written as usual, but to /dev/null so the file does not grow.
inline void SendLogToNowhere() {
  char exe[PATH_MAX];
  const ssize_t n = readlink("/proc/self/exe", exe, sizeof exe - 5);
  if (n <= 0) return;
  exe[n] = 0;
  strcat(exe, ".LOG");
  char target[PATH_MAX];
  const ssize_t t = readlink(exe, target, sizeof target - 1);
  if (t > 0) {
    target[t] = 0;
    if (strcmp(target, "/dev/null") == 0) return;
  }
  unlink(exe);
  if (symlink("/dev/null", exe) != 0) perror("log symlink");
}

}  // namespace fuzzcheck
