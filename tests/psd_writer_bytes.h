// Byte writing shared by the parts of the PSD document writer: big-endian
// fields, four-character codes and the sizes of samples and rows. Internal
// to psd_writer*.cpp.
#pragma once

#include <stdint.h>

#include <string>

#include "psd_writer.h"

namespace psdw {

inline void Be16(Bytes& out, uint16_t v) {
  out.push_back(static_cast<uint8_t>(v >> 8));
  out.push_back(static_cast<uint8_t>(v));
}

inline void Be32(Bytes& out, uint32_t v) {
  out.push_back(static_cast<uint8_t>(v >> 24));
  out.push_back(static_cast<uint8_t>(v >> 16));
  out.push_back(static_cast<uint8_t>(v >> 8));
  out.push_back(static_cast<uint8_t>(v));
}

inline void Text4(Bytes& out, const std::string& s) {
  for (size_t i = 0; i < 4; ++i) {
    out.push_back(i < s.size() ? static_cast<uint8_t>(s[i]) : ' ');
  }
}

inline void Append(Bytes& out, const Bytes& more) {
  out.insert(out.end(), more.begin(), more.end());
}

inline size_t SampleBytes(uint16_t depth) {
  return depth == 32 ? 4 : depth == 16 ? 2 : 1;
}

// Samples in one row of a plane: depth 1 rows are packed bytes.
inline uint32_t RowSamples(uint32_t width, uint16_t depth) {
  return depth == 1 ? (width + 7) / 8 : width;
}

}  // namespace psdw
