// Sample encoding for the PSD document writer: samples as stored
// big-endian, PackBits rows and planes, and zip data with or without the
// rows' prediction.
#include <stdlib.h>
#include <string.h>
#include <zlib.h>

#include <algorithm>

#include "psd_writer.h"
#include "psd_writer_bytes.h"

namespace psdw {

Bytes PackBits(const uint8_t* data, size_t size) {
  Bytes out;
  size_t i = 0;
  while (i < size) {
    // Length of the repeat starting at i.
    size_t run = 1;
    while (i + run < size && run < 128 && data[i + run] == data[i]) ++run;
    if (run >= 2) {
      out.push_back(static_cast<uint8_t>(257 - run));
      out.push_back(data[i]);
      i += run;
      continue;
    }
    // Literal run: up to the next pair of equal bytes, at most 128 bytes.
    size_t start = i;
    size_t n = 0;
    while (i < size && n < 128) {
      if (i + 1 < size && data[i] == data[i + 1]) break;
      ++i;
      ++n;
    }
    out.push_back(static_cast<uint8_t>(n - 1));
    out.insert(out.end(), data + start, data + start + n);
  }
  return out;
}

Bytes PackBits(const Bytes& row) { return PackBits(row.data(), row.size()); }

Bytes PredictRows(const Bytes& stored, uint32_t row_samples, uint16_t depth) {
  const size_t size = SampleBytes(depth);
  const size_t span = size * row_samples;
  Bytes out(stored);
  for (size_t row = 0; span != 0 && row + span <= out.size(); row += span) {
    uint8_t* r = out.data() + row;
    if (size == 4) {  // byte planes: all first bytes, then all second ...
      Bytes planar(span);
      for (size_t x = 0; x < row_samples; ++x) {
        for (size_t k = 0; k < 4; ++k)
          planar[k * row_samples + x] = r[4 * x + k];
      }
      std::copy(planar.begin(), planar.end(), r);
    }
    if (size == 2) {  // differences of big-endian samples
      for (size_t x = row_samples; x-- > 1;) {
        const uint16_t v =
            static_cast<uint16_t>(((r[2 * x] << 8) | r[2 * x + 1]) -
                                  ((r[2 * x - 2] << 8) | r[2 * x - 1]));
        r[2 * x] = static_cast<uint8_t>(v >> 8);
        r[2 * x + 1] = static_cast<uint8_t>(v);
      }
    } else {  // differences of bytes over the whole row
      for (size_t i = span; i-- > 1;)
        r[i] = static_cast<uint8_t>(r[i] - r[i - 1]);
    }
  }
  return out;
}

Bytes Zip(const Bytes& stored, uint32_t row_samples, uint16_t depth,
          bool predict) {
  const Bytes source =
      predict ? PredictRows(stored, row_samples, depth) : stored;
  uLongf size = compressBound(static_cast<uLong>(source.size()));
  Bytes out(size);
  if (compress2(out.data(), &size, source.data(),
                static_cast<uLong>(source.size()),
                Z_DEFAULT_COMPRESSION) != Z_OK) {
    abort();
  }
  out.resize(size);
  return out;
}

Bytes EncodeSamples(const Samples& samples, uint16_t depth) {
  Bytes out;
  size_t step = SampleBytes(depth);
  out.reserve(samples.size() * step);
  for (uint32_t s : samples) {
    if (step == 4) {
      Be32(out, s);
    } else if (step == 2) {
      Be16(out, static_cast<uint16_t>(s));
    } else {
      out.push_back(static_cast<uint8_t>(s));
    }
  }
  return out;
}

PackedPlane PackPlane(const Samples& samples, uint32_t row_samples,
                      uint32_t rows, uint16_t depth) {
  PackedPlane plane;
  for (uint32_t y = 0; y < rows; ++y) {
    Samples row;
    for (uint32_t x = 0; x < row_samples; ++x) {
      size_t i = static_cast<size_t>(y) * row_samples + x;
      row.push_back(i < samples.size() ? samples[i] : 0);
    }
    Bytes packed = PackBits(EncodeSamples(row, depth));
    plane.row_counts.push_back(static_cast<uint32_t>(packed.size()));
    Append(plane.data, packed);
  }
  return plane;
}

uint32_t FloatBits(float value) {
  uint32_t bits;
  memcpy(&bits, &value, sizeof bits);
  return bits;
}

Samples Fill(size_t count, uint32_t value) { return Samples(count, value); }

}  // namespace psdw
