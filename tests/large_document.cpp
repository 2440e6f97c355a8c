#include "large_document.h"

#include <stdio.h>

#include <vector>

#include "psd_writer.h"
#include "psd_writer_bytes.h"

namespace psdw {
namespace {

void BeLength(Bytes& out, uint64_t v, bool wide) {
  if (wide) Be32(out, static_cast<uint32_t>(v >> 32));
  Be32(out, static_cast<uint32_t>(v));
}

// A layer's sample: a gradient of its own.
uint8_t LayerSample(uint32_t layer, uint32_t c, uint32_t x, uint32_t y) {
  return static_cast<uint8_t>(layer * 29 + c * 71 + (x + y) / 32);
}

bool Put(FILE* f, const Bytes& bytes) {
  return fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
}

// The merged picture's rows of channel c, PackBits or raw.
Bytes MergedRow(const LargeDocument& d, uint32_t c, uint32_t y) {
  Bytes row(d.width);
  for (uint32_t x = 0; x < d.width; ++x) row[x] = LargeMergedSample(c, x, y);
  return d.packbits ? PackBits(row) : row;
}

}  // namespace

bool WriteLargeDocument(const std::string& path, const LargeDocument& d) {
  const bool wide = d.version == 2;
  FILE* f = fopen(path.c_str(), "wb");
  if (f == nullptr) return false;
  Bytes head;
  Text4(head, "8BPS");
  Be16(head, d.version);
  head.insert(head.end(), 6, 0);
  Be16(head, 3);
  Be32(head, d.height);
  Be32(head, d.width);
  Be16(head, 8);
  Be16(head, 3);  // RGB
  Be32(head, 0);  // colour mode data
  Be32(head, 0);  // image resources

  // Layer records: the whole canvas, channels 0, 1, 2 raw.
  const uint64_t channel = 2 + uint64_t{d.width} * d.height;
  Bytes records;
  Be16(records, static_cast<uint16_t>(d.layers));
  for (uint32_t k = 0; k < d.layers; ++k) {
    Be32(records, 0);
    Be32(records, 0);
    Be32(records, d.height);
    Be32(records, d.width);
    Be16(records, 3);
    for (uint16_t c = 0; c < 3; ++c) {
      Be16(records, c);
      BeLength(records, channel, wide);
    }
    Text4(records, "8BIM");
    Text4(records, "norm");
    records.insert(records.end(), {255, 0, 0, 0});
    Be32(records, 12);  // no mask, no blending ranges, an empty name
    Be32(records, 0);
    Be32(records, 0);
    records.insert(records.end(), {0, 0, 0, 0});
  }
  const uint64_t data = channel * 3 * d.layers;
  uint64_t info = records.size() + data;
  const bool pad = info % 2 != 0;
  info += pad ? 1 : 0;
  const uint64_t section = (wide ? 8 : 4) + info + 4;
  BeLength(head, section, wide);
  BeLength(head, info, wide);
  bool ok = Put(f, head) && Put(f, records);

  if (d.layer_holes) {
    ok = ok && fseeko(f, static_cast<off_t>(data), SEEK_CUR) == 0;
  } else {
    Bytes row(d.width);
    for (uint32_t k = 0; ok && k < d.layers; ++k) {
      for (uint32_t c = 0; ok && c < 3; ++c) {
        ok = Put(f, Bytes(2, 0));
        for (uint32_t y = 0; ok && y < d.height; ++y) {
          for (uint32_t x = 0; x < d.width; ++x) {
            row[x] = LayerSample(k, c, x, y);
          }
          ok = Put(f, row);
        }
      }
    }
  }
  Bytes tail(pad ? 1 : 0, 0);
  Be32(tail, 0);  // global layer mask info
  Be16(tail, d.packbits ? 1 : 0);
  ok = ok && Put(f, tail);
  if (d.packbits) {
    Bytes counts;
    for (uint32_t c = 0; c < 3; ++c) {
      for (uint32_t y = 0; y < d.height; ++y) {
        const uint32_t n = static_cast<uint32_t>(MergedRow(d, c, y).size());
        if (wide)
          Be32(counts, n);
        else
          Be16(counts, static_cast<uint16_t>(n));
      }
    }
    ok = ok && Put(f, counts);
  }
  for (uint32_t c = 0; ok && c < 3; ++c) {
    for (uint32_t y = 0; ok && y < d.height; ++y)
      ok = Put(f, MergedRow(d, c, y));
  }
  return fclose(f) == 0 && ok;
}

}  // namespace psdw
