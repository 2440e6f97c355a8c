// Reading an adjustment record: which kind it is, its numbers checked, and
// the tables of the per-sample kinds. CMYK documents hold their samples
// as stored (255 is no ink) while the records describe ink, so their
// tables act on the stored samples as they are.
#include "engine/compose/adjust/adjustment_read.h"

#include "engine/psd/descriptor.h"

namespace engine {
namespace {

uint32_t DocumentChannels(const Document* doc) {
  if (doc->color_mode == kModeGrayscale) return 1;
  if (doc->color_mode == kModeCmyk) return 4;
  return 3;
}

// The current form is a descriptor (its "useLegacy" switch choosing the
// older formula); without one, the legacy record: brightness, contrast.
bool ReadBrightness(const LayerTraits& traits, Reader* r, Adjustment* a) {
  int32_t brightness, contrast;
  bool legacy = true;
  Descriptor d;
  const InfoBlock& block = traits.brightness;
  if (block.data != nullptr && block.length > 4 &&
      ReadDescriptor(block.data + 4, block.data + block.length, &d)) {
    int64_t b = 0, c = 0;
    ItemFixed(d, "Brgh", &b);
    ItemFixed(d, "Cntr", &c);
    ItemBool(d, "useLegacy", &legacy);
    brightness = static_cast<int32_t>(b / 65536);
    contrast = static_cast<int32_t>(c / 65536);
  } else {
    brightness = r->S16();
    contrast = r->S16();
    if (!r->ok) return false;
  }
  const int32_t limit = legacy ? 100 : 150;
  if (brightness < -limit || brightness > limit || contrast < -100 ||
      contrast > 100) {
    return false;
  }
  a->kind = kAdjustTables;
  BrightnessContrastTable(brightness, contrast, legacy, a->table[0]);
  for (uint32_t ch = 1; ch < 4; ++ch) memcpy(a->table[ch], a->table[0], 256);
  return true;
}

}  // namespace

bool ReadAdjustment(const Document* doc, const LayerTraits& traits,
                    Adjustment* a) {
  memset(a, 0, sizeof(*a));
  for (uint32_t ch = 0; ch < 4; ++ch) {
    for (uint32_t v = 0; v < 256; ++v)
      a->table[ch][v] = static_cast<uint8_t>(v);
  }
  if (!traits.adjustment) return false;
  const char* key = traits.adjustment_key;
  const InfoBlock& block = traits.adjustment_block;
  Reader r = {block.data, block.data + block.length, block.data != nullptr};
  const uint32_t channels = DocumentChannels(doc);
  if (KeyMatches(key, "brit")) return ReadBrightness(traits, &r, a);
  if (KeyMatches(key, "levl") || KeyMatches(key, "curv") ||
      KeyMatches(key, "nvrt") || KeyMatches(key, "post") ||
      KeyMatches(key, "expA")) {
    return ReadTableAdjustment(doc, key, &r, channels, a);
  }
  if (KeyMatches(key, "hue2") || KeyMatches(key, "hue ") ||
      KeyMatches(key, "thrs")) {
    return ReadPixelAdjustment(key, &r, a);
  }
  return ReadColourAdjustment(doc, key, block, &r, a);
}

}  // namespace engine
