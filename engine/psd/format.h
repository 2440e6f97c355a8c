// Constants and field widths of the file format. Widths depend on the
// document's version: 1 for ordinary documents, 2 for the large-document
// format.
#pragma once

#include <stdint.h>
#include <string.h>

#include "engine/base/bytes.h"
#include "engine/base/limits.h"

namespace engine {

enum : uint16_t { kVersionPsd = 1, kVersionPsb = 2 };

// The file header: signature, version, reserved bytes, channels, height,
// width, depth and colour mode.
const uint32_t kFileHeaderBytes = 26;

// How channel data is stored: the compression word before it.
enum Compression : uint16_t {
  kCompressionRaw = 0,
  kCompressionPackBits = 1,
  kCompressionZip = 2,
  kCompressionZipPredicted = 3,  // zip with each row's differences
};

inline bool CompressionKnown(uint16_t compression) {
  return compression <= kCompressionZipPredicted;
}
inline bool IsZipCompression(uint16_t compression) {
  return compression == kCompressionZip ||
         compression == kCompressionZipPredicted;
}

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

// Bytes per sample in the file for a document depth: 4 for 32, 2 for other
// depths above 8, 1 otherwise.
inline uint32_t SampleSizeForDepth(uint32_t depth) {
  if (depth == 32) return 4;
  if (depth > 8) return 2;
  return 1;
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

}  // namespace engine
