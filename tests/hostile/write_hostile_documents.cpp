// Writes a sample of malformed documents for comparing the builds: each of
// the test-document writer's documents cut short at a spread of lengths
// through its structure, and with each length field set to a few hostile
// values. Every build must give the same results for them.
//
//   write_hostile_documents DIR [PER_DOCUMENT]
#include <stdio.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <fstream>

#include "hostile_support.h"

int main(int argc, char** argv) {
  if (argc < 2) {
    fprintf(stderr, "usage: write_hostile_documents DIR [PER_DOCUMENT]\n");
    return 2;
  }
  const std::string dir = argv[1];
  mkdir(dir.c_str(), 0755);
  const size_t per_document = argc > 2 ? strtoul(argv[2], nullptr, 10) : 6;
  const auto docs = hostile::WriterDocuments();
  if (docs.empty()) {
    fprintf(stderr, "write_hostile_documents: the writer made no documents\n");
    return 1;
  }
  size_t written = 0;
  auto put = [&](const std::string& name, const hostile::Bytes& bytes) {
    char prefix[16];
    snprintf(prefix, sizeof prefix, "%05zu-", written);
    std::ofstream out(dir + "/" + prefix + name, std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
    written += out.good() ? 1 : 0;
  };
  for (size_t d = 0; d < docs.size(); ++d) {
    const std::string stem = docs[d].first.substr(0, docs[d].first.rfind('.'));
    const hostile::Bytes& doc = docs[d].second;
    const size_t end = hostile::StructureEnd(doc);
    for (size_t k = 1; k <= per_document / 2; ++k) {
      const size_t cut = end * k / (per_document / 2 + 1);
      put(stem + "-cut" + std::to_string(cut) + ".psd",
          hostile::Bytes(doc.begin(), doc.begin() + cut));
    }
    // A few fields, chosen round-robin over the documents.
    const auto fields = hostile::LengthFields(doc);
    for (size_t k = 0; k < per_document - per_document / 2 && !fields.empty();
         ++k) {
      const hostile::Field& f = fields[(d * 3 + k * 5) % fields.size()];
      const uint32_t values[] = {0, 0xFFFFFFFFu, 0x80000000u, 1};
      const uint32_t v = values[(d + k) % 4];
      hostile::Bytes bad = doc;
      for (uint32_t i = 0; i < f.width; ++i) {
        bad[f.offset + i] = static_cast<uint8_t>(v >> (8 * (f.width - 1 - i)));
      }
      std::string what = f.what;
      for (char& c : what) c = c == ' ' ? '_' : c;
      put(stem + "-" + what + "-" + std::to_string(f.offset) + ".psd", bad);
    }
  }
  printf("%zu documents written to %s\n", written, dir.c_str());
  return written > 0 ? 0 : 1;
}
