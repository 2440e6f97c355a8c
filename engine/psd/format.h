// Field widths of the file format, which depend on the document's version:
// 1 for ordinary documents, 2 for the large-document format.
#pragma once

#include <stdint.h>

#include "engine/base/bytes.h"
#include "engine/base/limits.h"

enum : uint16_t { kVersionPsd = 1, kVersionPsb = 2 };

// The longest side a document of the version may have.
inline uint32_t MaxSide(uint16_t version) {
  return version == kVersionPsb ? kLimits.max_side_v2 : kLimits.max_side_v1;
}

// Length of the Layer and Mask Information section and of the layer info.
inline uint32_t SectionLengthBytes(uint16_t version) {
  return version == kVersionPsb ? 8 : 4;
}

// A channel entry of a layer record: a 2-byte identifier and its length.
inline uint32_t ChannelLengthBytes(uint16_t version) {
  return version == kVersionPsb ? 8 : 4;
}
inline uint32_t ChannelEntryBytes(uint16_t version) {
  return 2 + ChannelLengthBytes(version);
}

// One entry of a PackBits row byte-count table.
inline uint32_t RowCountBytes(uint16_t version) {
  return version == kVersionPsb ? 4 : 2;
}

// A big-endian length of 2, 4 or 8 bytes.
inline uint64_t ReadLength(const uint8_t* p, uint32_t bytes) {
  if (bytes == 2) return ReadU16(p);
  if (bytes == 4) return ReadU32(p);
  return (static_cast<uint64_t>(ReadU32(p)) << 32) | ReadU32(p + 4);
}

// Additional layer information blocks whose length field is 8 bytes wide in
// the large-document format ("8BIM" or "8B64", a key, the length).
inline bool HasWideInfoLength(uint16_t version, const uint8_t* key) {
  if (version != kVersionPsb) return false;
  static const char kWideKeys[][5] = {"LMsk", "Lr16", "Lr32", "Layr", "Mt16",
                                      "Mt32", "Mtrn", "Alph", "FMsk", "lnk2",
                                      "FEid", "FXid", "PxSD"};
  for (const char* wide : kWideKeys) {
    if (memcmp(key, wide, 4) == 0) return true;
  }
  return false;
}
