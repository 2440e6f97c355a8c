#include <dirent.h>
#include <stdio.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <algorithm>
#include <fstream>
#include <functional>
#include <sstream>

#include "hostile_support.h"
#include "image_plugin/picture.h"

// layerpack's entry points (its header's names clash with flatview's).
extern "C" {
int32_t WINAPI GetArchiveInfo(LPCSTR source, intptr_t source_size,
                              uint32_t mode, HLOCAL* listing_out);
int32_t WINAPI GetFileInfo(LPCSTR source, intptr_t source_size,
                           LPCSTR requested_name, uint32_t mode,
                           ArchiveFileInfo* info_out);
}

namespace hostile {

namespace {

uint32_t Be32(const uint8_t* p) {
  return (uint32_t{p[0]} << 24) | (uint32_t{p[1]} << 16) |
         (uint32_t{p[2]} << 8) | p[3];
}
uint16_t Be16(const uint8_t* p) { return static_cast<uint16_t>(p[0] << 8 | p[1]); }

bool Allowed(int32_t result) {
  return result == 0 || result == 3 || result == 4;
}

class Call {
 public:
  Call(Outcome* out, std::string name) : out_(out), name_(std::move(name)) {
    const PlatformCounts c = Counts();
    if (c.local_blocks != 0 || c.heap_blocks != 0 || c.open_files != 0) {
      Fail("blocks live before the call");
    }
  }
  void Fail(const std::string& what) {
    out_->failures.push_back(name_ + ": " + what);
  }
  void Result(int32_t result, bool (*allowed)(int32_t) = Allowed) {
    out_->results.push_back(result);
    out_->digest.Add(result);
    if (!allowed(result)) Fail("result " + std::to_string(result));
  }
  // Exactly `n` blocks held by the caller, nothing else live.
  void Held(int64_t n) {
    const PlatformCounts c = Counts();
    if (c.local_blocks != n) {
      Fail("caller holds " + std::to_string(c.local_blocks) +
           " blocks, expected " + std::to_string(n));
    }
    if (c.heap_blocks != 0) Fail("engine heap blocks left");
    if (c.open_files != 0) Fail("files left open");
  }
  // Reads the whole block into the digest (every byte is read).
  size_t Take(HLOCAL block) {
    if (block == nullptr) return 0;
    const size_t n = LocalSize(block);
    out_->digest.Add(LocalLock(block), n);
    LocalUnlock(block);
    LocalFree(block);
    return n;
  }

 private:
  Outcome* out_;
  std::string name_;
};

uint64_t Stride(int64_t width, uint32_t bits) {
  return (static_cast<uint64_t>(width) * bits + 31) / 32 * 4;
}

BITMAPINFOHEADER HeaderOf(HLOCAL block) {
  BITMAPINFOHEADER h{};
  if (block != nullptr && LocalSize(block) >= sizeof h) {
    memcpy(&h, LocalLock(block), sizeof h);
    LocalUnlock(block);
  }
  return h;
}

void MergedPicture(const ExactImage& doc, Outcome* out) {
  Call call(out, "GetPicture");
  HLOCAL header = nullptr, pixels = nullptr;
  const int32_t r =
      GetPicture(reinterpret_cast<LPCSTR>(doc.data()),
                 static_cast<intptr_t>(doc.size()), 1, &header, &pixels,
                 nullptr, 0);
  call.Result(r);
  call.Held((header ? 1 : 0) + (pixels ? 1 : 0));
  if (r == 0) {
    const BITMAPINFOHEADER h = HeaderOf(header);
    const uint32_t palette = h.biBitCount <= 8 ? 4u << h.biBitCount : 0;
    if (LocalSize(header) != 40 + palette) call.Fail("header block size");
    if (h.biWidth <= 0 || h.biHeight <= 0 || h.biWidth > 30000 ||
        h.biHeight > 30000) {
      call.Fail("picture size");
    } else if (h.biSizeImage != Stride(h.biWidth, h.biBitCount) * h.biHeight ||
               pixels == nullptr || LocalSize(pixels) != h.biSizeImage) {
      call.Fail("pixel block size");
    }
  } else if (pixels != nullptr) {
    call.Fail("pixel block on failure");
  } else if (r == 3 && header != nullptr) {
    call.Fail("header block on 3");
  }
  call.Take(header);
  call.Take(pixels);
  call.Held(0);

  Call info_call(out, "GetPictureInfo");
  PictureInfo info;
  memset(&info, 0, sizeof info);
  const int32_t i = GetPictureInfo(reinterpret_cast<LPCSTR>(doc.data()),
                                   static_cast<intptr_t>(doc.size()), 1, &info);
  info_call.Result(i);
  info_call.Held(0);
  if (i == 0) out->digest.Add(&info, sizeof info);
  if (r == 3 && i != 3) info_call.Fail("a refused document has information");
}

void Listing(const ExactImage& doc, Outcome* out) {
  Call call(out, "GetArchiveInfo");
  HLOCAL listing = nullptr;
  const int32_t r = GetArchiveInfo(reinterpret_cast<LPCSTR>(doc.data()),
                                   static_cast<intptr_t>(doc.size()), 1,
                                   &listing);
  call.Result(r);
  call.Held(listing ? 1 : 0);
  size_t count = 0;
  if (r == 0 && listing != nullptr) {
    const size_t bytes = LocalSize(listing);
    const auto* e = static_cast<const ArchiveFileInfo*>(LocalLock(listing));
    const size_t records = bytes / sizeof(ArchiveFileInfo);
    while (count < records && e[count].kind[0] != 0) ++count;
    if (bytes % sizeof(ArchiveFileInfo) != 0 || count == 0 ||
        count >= records) {
      call.Fail("listing without entries or end marker");
    }
    LocalUnlock(listing);
  } else if (r == 0) {
    call.Fail("result 0 without a listing");
  }
  call.Take(listing);
  call.Held(0);

  const char* names[] = {"compound.bmp", "layer0001.bmp", "layer0002.dat",
                         "layer0009.bmp"};
  for (const char* name : names) {
    Call info_call(out, std::string("GetFileInfo ") + name);
    ArchiveFileInfo info;
    memset(&info, 0, sizeof info);
    const int32_t i = GetFileInfo(reinterpret_cast<LPCSTR>(doc.data()),
                                  static_cast<intptr_t>(doc.size()), name, 1,
                                  &info);
    info_call.Result(i);
    info_call.Held(0);
    if (i == 0) out->digest.Add(&info, sizeof info);
    if (i != r) info_call.Fail("differs from GetArchiveInfo");
  }
}

void LayerRequest(const ExactImage& doc, uint32_t entry, bool pixels_wanted,
                  Outcome* out) {
  Call call(out, "DecodePictureW entry " + std::to_string(entry) +
                     (pixels_wanted ? "" : " header only"));
  DecodeRequest request;
  memset(&request, 0, sizeof request);
  request.size = sizeof request;
  request.entry_index = entry;
  request.memory_image = doc.data();
  request.memory_length = doc.size();
  request.image_size = 0xA5A5A5A5u;
  HLOCAL header = nullptr, pixels = nullptr;
  request.header_slot = &header;
  request.pixels_slot = pixels_wanted ? &pixels : nullptr;
  const int32_t r = DecodePictureW(&request);
  call.Result(r, pixels_wanted ? Allowed : [](int32_t v) {
    return v == 8 || v == 3 || v == 4;
  });
  call.Held((header ? 1 : 0) + (pixels ? 1 : 0));
  if (r == 0) {
    const BITMAPINFOHEADER h = HeaderOf(header);
    const size_t b = pixels ? LocalSize(pixels) : 0;
    if (pixels == nullptr || b != h.biSizeImage) call.Fail("pixel block size");
    if (request.image_size != 0xA5A5A5A5u) {
      if (request.image_size != b) call.Fail("image_size");
      if (h.biWidth > 0 && h.biHeight > 0 && b != 0 &&
          b != Stride(h.biWidth, h.biBitCount) * h.biHeight) {
        call.Fail("layer stride");
      }
    }
  }
  if (r == 8 && request.image_size != HeaderOf(header).biSizeImage) {
    call.Fail("header-only image_size");
  }
  out->digest.Add(request.image_size);
  out->digest.Add(request.entry_count);
  call.Take(header);
  call.Take(pixels);
  call.Held(0);
}

std::vector<std::pair<std::string, Bytes>> ReadDirectory(
    const std::string& root, size_t max_size) {
  std::vector<std::pair<std::string, Bytes>> docs;
  std::vector<std::string> pending = {root};
  while (!pending.empty()) {
    const std::string dir = pending.back();
    pending.pop_back();
    DIR* d = opendir(dir.c_str());
    if (d == nullptr) continue;
    while (dirent* e = readdir(d)) {
      const std::string name = e->d_name;
      if (name == "." || name == "..") continue;
      const std::string path = dir + "/" + name;
      struct stat st;
      if (stat(path.c_str(), &st) != 0) continue;
      if (S_ISDIR(st.st_mode)) {
        pending.push_back(path);
        continue;
      }
      std::string lower = name;
      std::transform(lower.begin(), lower.end(), lower.begin(), ::tolower);
      const bool psd = lower.size() > 4 &&
                       (lower.substr(lower.size() - 4) == ".psd" ||
                        lower.substr(lower.size() - 4) == ".psb");
      if (!psd || static_cast<size_t>(st.st_size) > max_size) continue;
      std::ifstream in(path, std::ios::binary);
      Bytes bytes((std::istreambuf_iterator<char>(in)),
                  std::istreambuf_iterator<char>());
      docs.emplace_back(path.substr(root.size() + 1), std::move(bytes));
    }
    closedir(d);
  }
  std::sort(docs.begin(), docs.end());
  return docs;
}

}  // namespace

Outcome RunEntryPoints(const ExactImage& doc, uint32_t layers) {
  Outcome out;
  MergedPicture(doc, &out);
  Listing(doc, &out);
  for (uint32_t entry = 1; entry <= layers + 1; ++entry) {
    LayerRequest(doc, entry, true, &out);
  }
  LayerRequest(doc, 1, false, &out);
  return out;
}

std::vector<Field> LengthFields(const Bytes& doc) {
  std::vector<Field> fields;
  const size_t size = doc.size();
  const uint8_t* b = doc.data();
  auto fits = [&](size_t at, size_t n) { return at <= size && n <= size - at; };
  if (!fits(0, 26)) return fields;
  fields.push_back({12, 2, "channels"});
  fields.push_back({14, 4, "height"});
  fields.push_back({18, 4, "width"});
  fields.push_back({22, 2, "depth"});
  fields.push_back({24, 2, "mode"});
  if (!fits(26, 4)) return fields;
  fields.push_back({26, 4, "color mode data length"});
  const size_t res = 30 + size_t{Be32(b + 26)};
  if (!fits(res, 4)) return fields;
  fields.push_back({res, 4, "resources length"});
  const size_t res_end = res + 4 + Be32(b + res);
  for (size_t at = res + 4, n = 0; fits(at, 12) && at < res_end && n < 6; ++n) {
    const size_t size_field = at + 6 + ((b[at + 6] + 2) & ~size_t{1});
    if (!fits(size_field, 4)) break;
    fields.push_back({size_field, 4, "resource data size"});
    at = size_field + 4 + ((size_t{Be32(b + size_field)} + 1) & ~size_t{1});
  }
  const size_t lm = res_end;
  if (!fits(lm, 4)) return fields;
  fields.push_back({lm, 4, "layer and mask length"});
  const size_t image = lm + 4 + Be32(b + lm);
  if (fits(lm + 4, 6) && Be32(b + lm) >= 6) {
    fields.push_back({lm + 4, 4, "layer info length"});
    fields.push_back({lm + 8, 2, "layer count"});
    const int count = std::abs(static_cast<int16_t>(Be16(b + lm + 8)));
    size_t r = lm + 10;
    std::vector<std::vector<std::pair<size_t, uint32_t>>> channels;
    for (int i = 0; i < count && i < 8 && fits(r, 18); ++i) {
      fields.push_back({r + 16, 2, "layer channel count"});
      const int n = static_cast<int16_t>(Be16(b + r + 16));
      if (n < 0 || !fits(r + 18, 6 * size_t(n) + 16)) break;
      channels.emplace_back();
      for (int k = 0; k < n; ++k) {
        if (k < 6) fields.push_back({r + 20 + 6 * size_t(k), 4, "channel length"});
        channels.back().push_back({0, Be32(b + r + 20 + 6 * k)});
      }
      const size_t s = r + 18 + 6 * size_t(n);
      fields.push_back({s + 12, 4, "extra data length"});
      const size_t extra = Be32(b + s + 12);
      if (fits(s + 16, 4) && extra >= 4) {
        fields.push_back({s + 16, 4, "mask data length"});
        const size_t blend = s + 20 + Be32(b + s + 16);
        if (fits(blend, 4) && blend + 4 <= s + 16 + extra) {
          fields.push_back({blend, 4, "blending ranges length"});
        }
      }
      r = s + 16 + extra;
    }
    // Channel image data: each channel's compression word and, for
    // PackBits, its first row count.
    size_t at = r;
    for (auto& layer : channels) {
      for (auto& ch : layer) {
        if (!fits(at, 4)) break;
        if (Be16(b + at) == 1) fields.push_back({at + 2, 2, "layer row count"});
        fields.push_back({at, 2, "layer channel compression"});
        at += ch.second;
      }
    }
  }
  if (fits(image, 2)) {
    fields.push_back({image, 2, "image compression"});
    if (Be16(b + image) == 1) {
      const size_t rows = size_t{Be16(b + 12)} * Be32(b + 14);
      const size_t picks[] = {0, 1, rows / 2, rows - 1};
      for (size_t p : picks) {
        if (p < rows && fits(image + 2 + 2 * p, 2)) {
          fields.push_back({image + 2 + 2 * p, 2, "image row count"});
        }
      }
    }
  }
  return fields;
}

size_t StructureEnd(const Bytes& doc) {
  size_t end = 26;
  for (const Field& f : LengthFields(doc)) end = std::max(end, f.offset + f.width);
  return std::min(end + 64, doc.size());
}

std::vector<std::pair<std::string, Bytes>> CorpusDocuments(size_t max_size) {
  return ReadDirectory(HOSTILE_CORPUS_DIR, max_size);
}

std::vector<std::pair<std::string, Bytes>> WriterDocuments() {
  char dir[] = "/tmp/hostile_writer_XXXXXX";
  if (mkdtemp(dir) == nullptr) return {};
  const std::string command = std::string(HOSTILE_WRITER) + " " + dir +
                              " >/dev/null 2>&1";
  const int status = system(command.c_str());
  (void)status;  // a document the writer could not write is just missing
  auto docs = ReadDirectory(dir, SIZE_MAX);
  system((std::string("rm -rf ") + dir).c_str());
  return docs;
}

void SendLogToNowhere() {
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

}  // namespace hostile
