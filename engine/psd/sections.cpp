// The sections behind the file header: Color Mode Data, Image Resources,
// Layer and Mask Information and Image Data, each behind a length field.
#include "engine/psd/sections.h"

#include "engine/base/bytes.h"
#include "engine/psd/format.h"

namespace engine {
namespace {

const uint16_t kResolutionResource = 0x03ED;
// Version info: a 4-byte version, then 1 byte hasRealMergedData.
const uint16_t kVersionInfoResource = 0x0421;
const uint16_t kIccProfileResource = 0x040F;
const uint16_t kGlobalAngleResource = 0x040D;
const uint16_t kGlobalAltitudeResource = 0x0419;

// Pixels per metre from a 16.16 fixed-point pixels-per-inch value, rounded
// to nearest.
int32_t PixelsPerMetre(uint32_t fixed_inches) {
  const uint64_t scaled = static_cast<uint64_t>(fixed_inches) * 10000u;
  const uint64_t divisor = 254u * 65536u;
  return static_cast<int32_t>((scaled + divisor / 2) / divisor);
}

// The big-endian number of `bytes` bytes (2, 4 or 8) at `offset`; 0 when
// the document does not hold it.
uint64_t NumberAt(const Document* doc, uint64_t offset, uint32_t bytes) {
  uint8_t field[8] = {};
  if (!ReadExact(doc->source, offset, bytes, field)) return 0;
  return ReadLength(field, bytes);
}

// The additional information that follows the global layer mask info
// (behind the layer info ending at `info_end`): calls `found` with each
// block's key, data offset and length until it returns true.
template <typename Found>
void WalkGlobalBlocks(const Document* doc, const Sections& s, uint64_t info_end,
                      Found found) {
  const uint64_t section_end =
      s.layers_field + SectionLengthBytes(doc->version) + s.layers_length;
  if (!RangeFits(info_end, 4, section_end)) return;
  uint64_t block = info_end + 4 + NumberAt(doc, info_end, 4);
  while (RangeFits(block, 12, section_end)) {
    uint8_t b[8];
    if (!ReadExact(doc->source, block, 8, b)) return;
    if (memcmp(b, "8BIM", 4) != 0 && memcmp(b, "8B64", 4) != 0) return;
    const uint32_t field = HasWideInfoLength(doc->version, b + 4) ? 8 : 4;
    if (!RangeFits(block + 8, field, section_end)) return;
    const uint64_t length = NumberAt(doc, block + 8, field);
    const uint64_t data = block + 8 + field;
    if (!RangeFits(data, length, section_end)) return;
    if (found(b + 4, data, length)) return;
    block = data + PadTo4(length);
  }
}

// Where the layer info ends.
uint64_t LayerInfoEnd(const Document* doc, const Sections& s) {
  const uint32_t field = SectionLengthBytes(doc->version);
  const uint64_t info_field = s.layers_field + field;
  return info_field + field + NumberAt(doc, info_field, field);
}

// Deeper documents keep their layers in an "Lr16" or "Lr32" block among the
// global blocks, and leave the ordinary layer info empty. Returns the
// block's layer count field, or 0.
uint64_t FindDeepLayerInfo(const Document* doc, const Sections& s,
                           uint64_t info_end) {
  uint64_t deep = 0;
  WalkGlobalBlocks(
      doc, s, info_end,
      [&](const uint8_t* key, uint64_t data, uint64_t length) {
        if (memcmp(key, "Lr16", 4) != 0 && memcmp(key, "Lr32", 4) != 0) {
          return false;
        }
        deep = length >= 2 ? data : 0;
        return true;
      });
  return deep;
}

}  // namespace

bool LocateSections(const Document* doc, Sections* s) {
  const uint64_t size = DocumentSize(doc);
  if (!RangeFits(kFileHeaderBytes, 4, size)) return false;
  s->color_mode_length =
      static_cast<uint32_t>(NumberAt(doc, kFileHeaderBytes, 4));
  s->resources_field =
      kFileHeaderBytes + 4 + static_cast<uint64_t>(s->color_mode_length);
  if (!RangeFits(s->resources_field, 4, size)) return false;
  s->resources_length =
      static_cast<uint32_t>(NumberAt(doc, s->resources_field, 4));
  s->layers_field = s->resources_field + 4 + s->resources_length;
  const uint32_t field = SectionLengthBytes(doc->version);
  if (!RangeFits(s->layers_field, field, size)) return false;
  s->layers_length = NumberAt(doc, s->layers_field, field);
  if (!RangeFits(s->layers_field + field, s->layers_length, size)) {
    return false;
  }
  s->image_data = s->layers_field + field + s->layers_length;
  return RangeFits(s->image_data, 2, size);
}

// The walk always moves forward and stops at a block that does not fit.
Status ReadResources(Document* doc, const Sections& s) {
  doc->global_angle = 120;
  doc->global_altitude = 30;
  Span section;
  const Status read = ReadSpan(doc->source, s.resources_field + 4,
                               s.resources_length, &section);
  if (read != kDone) return read;
  const uint8_t* base = section.data;
  const uint64_t end = section.length;
  uint64_t cursor = 0;
  while (cursor < end) {
    if (!RangeFits(cursor, 7, end)) break;
    const uint32_t name_length = base[cursor + 6];
    const uint64_t name_field = (1 + name_length + 1) & ~1u;
    const uint64_t size_field = cursor + 6 + name_field;
    if (!RangeFits(size_field, 4, end)) break;
    const uint32_t data_size = ReadU32(base + size_field);
    const uint64_t data = size_field + 4;
    if (ReadU16(base + cursor + 4) == kResolutionResource &&
        RangeFits(data, 12, end) && data_size >= 12) {
      doc->x_pixels_per_metre = PixelsPerMetre(ReadU32(base + data));
      doc->y_pixels_per_metre = PixelsPerMetre(ReadU32(base + data + 8));
    }
    if (ReadU16(base + cursor + 4) == kVersionInfoResource &&
        RangeFits(data, 5, end) && data_size >= 5) {
      doc->merged_placeholder = base[data + 4] == 0;
    }
    if (ReadU16(base + cursor + 4) == kIccProfileResource &&
        RangeFits(data, data_size, end)) {
      doc->profile_at = s.resources_field + 4 + data;
      doc->profile_length = data_size;
    }
    const uint16_t id = ReadU16(base + cursor + 4);
    if ((id == kGlobalAngleResource || id == kGlobalAltitudeResource) &&
        RangeFits(data, 4, end) && data_size >= 4) {
      const int32_t degrees = static_cast<int32_t>(ReadU32(base + data));
      if (degrees >= -360 && degrees <= 360) {
        (id == kGlobalAngleResource ? doc->global_angle
                                    : doc->global_altitude) = degrees;
      }
    }
    cursor = data + ((static_cast<uint64_t>(data_size) + 1) & ~1ull);
  }
  ReleaseSpan(&section);
  return kDone;
}

// The count is 0 when the section is too short to hold it, or the layer
// info is empty and no deeper layer info exists.
void FindPatterns(Document* doc, const Sections& s) {
  doc->pattern_block_count = 0;
  if (s.layers_length < 2ull * SectionLengthBytes(doc->version)) return;
  WalkGlobalBlocks(
      doc, s, LayerInfoEnd(doc, s),
      [&](const uint8_t* key, uint64_t data, uint64_t length) {
        if (memcmp(key, "Patt", 4) == 0 || memcmp(key, "Pat2", 4) == 0 ||
            memcmp(key, "Pat3", 4) == 0) {
          PatternBlock& b = doc->pattern_blocks[doc->pattern_block_count++];
          b.at = data;
          b.length = length;
        }
        return doc->pattern_block_count == kPatternBlocks;
      });
}

LayerInfo FindLayerInfo(const Document* doc, const Sections& s) {
  const uint32_t field = SectionLengthBytes(doc->version);
  const uint64_t info_field = s.layers_field + field;
  LayerInfo info;
  info.records = info_field + field + 2;
  info.count = 0;
  if (s.layers_length < field + 2) return info;
  const uint64_t length = NumberAt(doc, info_field, field);
  if (length >= 2) {
    info.count = static_cast<int16_t>(NumberAt(doc, info_field + field, 2));
    return info;
  }
  const uint64_t deep = FindDeepLayerInfo(doc, s, info_field + field + length);
  if (deep != 0) {
    info.records = deep + 2;
    info.count = static_cast<int16_t>(NumberAt(doc, deep, 2));
  }
  return info;
}

}  // namespace engine
