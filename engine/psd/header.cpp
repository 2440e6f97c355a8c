// The file header: "8BPS", the version, six reserved zero bytes, the channel
// count, height, width, depth and colour mode.
#include "engine/base/bytes.h"
#include "engine/base/log_messages.h"
#include "engine/psd/document.h"
#include "engine/psd/format.h"

namespace engine {
namespace {

const uint8_t kSignature[4] = {0x38, 0x42, 0x50, 0x53};  // "8BPS"
const uint8_t kReserved[6] = {0, 0, 0, 0, 0, 0};

}  // namespace

Status ReadFileHeader(Document* doc) {
  uint8_t base[kFileHeaderBytes];
  if (!ReadExact(doc->source, 0, kFileHeaderBytes, base) ||
      memcmp(base, kSignature, 4) != 0 || memcmp(base + 6, kReserved, 6) != 0) {
    return SourceFailed(doc->source) ? kUnreadable : kNotPsd;
  }
  doc->version = ReadU16(base + 4);
  if (doc->version != kVersionPsd && doc->version != kVersionPsb) {
    return kNotPsd;
  }
  const uint32_t width = ReadU32(base + 18);
  const uint32_t height = ReadU32(base + 14);
  LogLine(doc->log, logtext::kImageSize, width, height);
  if (width == 0 || height == 0) return kNotPsd;
  const uint32_t max_side = MaxSide(doc->version);
  if (width > max_side || height > max_side) return kNotPsd;
  doc->width = width;
  doc->height = height;
  doc->channels = ReadU16(base + 12);
  doc->color_mode = ReadU16(base + 24);
  doc->depth = ReadU16(base + 22);
  return kDone;
}

}  // namespace engine
