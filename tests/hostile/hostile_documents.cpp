// The documents the hostile tests sweep: the shared corpus next to the
// repository and the test-document writer's set.
#include <dirent.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <algorithm>
#include <fstream>

#include "fuzz/fuzz_support.h"
#include "hostile_support.h"

namespace hostile {

namespace {

uint32_t Be32(const uint8_t* p) {
  return (uint32_t{p[0]} << 24) | (uint32_t{p[1]} << 16) |
         (uint32_t{p[2]} << 8) | p[3];
}
uint16_t Be16(const uint8_t* p) {
  return static_cast<uint16_t>(p[0] << 8 | p[1]);
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
      const bool psd =
          lower.size() > 4 && (lower.substr(lower.size() - 4) == ".psd" ||
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

std::vector<std::pair<std::string, Bytes>> CorpusDocuments(size_t max_size) {
  auto docs = ReadDirectory(HOSTILE_CORPUS_DIR, max_size);
  for (auto& [name, bytes] : ReadDirectory(HOSTILE_EXTRA_DIR, max_size)) {
    docs.emplace_back("extra/" + name, std::move(bytes));
  }
  return docs;
}

size_t SampleEvery() {
  const char* text = getenv("HOSTILE_SAMPLE");
  const long every = text != nullptr ? strtol(text, nullptr, 10) : 1;
  return every > 1 ? static_cast<size_t>(every) : 1;
}

std::vector<std::pair<std::string, Bytes>> WriterDocuments() {
  char dir[] = "/tmp/hostile_writer_XXXXXX";
  if (mkdtemp(dir) == nullptr) return {};
  const std::string command =
      std::string(HOSTILE_WRITER) + " " + dir + " >/dev/null 2>&1";
  const int status = system(command.c_str());
  (void)status;  // a document the writer could not write is just missing
  auto docs = ReadDirectory(dir, SIZE_MAX);
  system((std::string("rm -rf ") + dir).c_str());
  return docs;
}

void SendLogToNowhere() { fuzzcheck::SendLogToNowhere(); }

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
        if (k < 6)
          fields.push_back({r + 20 + 6 * size_t(k), 4, "channel length"});
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
  for (const Field& f : LengthFields(doc))
    end = std::max(end, f.offset + f.width);
  return std::min(end + 64, doc.size());
}

}  // namespace hostile
