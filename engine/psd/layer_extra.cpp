// The extra data of a layer record: mask data (a 4-byte length and the
// data), blending ranges (a 4-byte length and the data), the name (a Pascal
// string padded to a multiple of 4), then additional information blocks:
// "8BIM" or "8B64", a 4-byte key, the data length and the data.
//
// Mask data: top, left, bottom, right (4 bytes each), the default colour
// (1), flags (1: bit 1 disabled, bit 3 rendered from other data, bit 4
// parameters follow). A length of 36
// or more adds the real mask's flags (1), default colour (1) and rectangle
// (16). Then, when flag bit 4 is set, the parameters: a byte saying which
// follow (bit 0 user mask density, 1 byte; bit 1 user mask feather, 8-byte
// double; bit 2 vector mask density; bit 3 vector mask feather).
#include "engine/psd/layer_extra.h"

#include "engine/base/bytes.h"
#include "engine/base/numbers.h"
#include "engine/psd/format.h"

namespace engine {
namespace {

const uint8_t kMaskDisabled = 0x02;
const uint8_t kMaskRendered = 0x08;
const uint8_t kMaskHasParameters = 0x10;

// A rectangle stored as top, left, bottom, right.
PixelRect ReadRect(const uint8_t* p) {
  PixelRect r;
  r.top = static_cast<int32_t>(ReadU32(p));
  r.left = static_cast<int32_t>(ReadU32(p + 4));
  r.bottom = static_cast<int32_t>(ReadU32(p + 8));
  r.right = static_cast<int32_t>(ReadU32(p + 12));
  return r;
}

// Feather radius in whole pixels from a big-endian double.
uint32_t FeatherPixels(const uint8_t* p) {
  const int64_t fixed = FixedFromDouble(ReadDoubleBits(p), 8);
  if (fixed <= 0) return 0;
  const int64_t pixels = (fixed + 128) >> 8;
  return pixels > 1000 ? 1000 : static_cast<uint32_t>(pixels);
}

// A big-endian double as whole pixels, rounded, within +-2^30.
int32_t WholePixels(const uint8_t* p) {
  int64_t v = FixedFromDouble(ReadDoubleBits(p), 8);
  const int64_t limit = int64_t{1} << 38;
  v = v < -limit ? -limit : v > limit ? limit : v;
  return static_cast<int32_t>((v + 128) >> 8);
}

void ReadMaskParameters(const uint8_t* p, const uint8_t* end,
                        LayerMaskInfo* mask) {
  if (p >= end) return;
  const uint8_t which = *p++;
  if ((which & 1) && p + 1 <= end) mask->user_density = *p++;
  if ((which & 2) && p + 8 <= end) {
    mask->user_feather = FeatherPixels(p);
    p += 8;
  }
  if ((which & 4) && p + 1 <= end) mask->vector_density = *p++;
  if ((which & 8) && p + 8 <= end) mask->vector_feather = FeatherPixels(p);
}

// The blocks behind the mask data, blending ranges and name: [*begin, *end);
// `ranges` receives the blending ranges.
bool FindBlocks(const LayerRecord& layer, const uint8_t** begin,
                const uint8_t** end, InfoBlock* ranges) {
  const uint8_t* p = layer.extra;
  const uint8_t* stop = layer.extra + layer.extra_length;
  for (int part = 0; part < 2; ++part) {  // mask data, blending ranges
    if (BytesLeft(p, stop) < 4) return false;
    const uint32_t length = ReadU32(p);
    if (BytesLeft(p + 4, stop) < length) return false;
    if (part == 1) *ranges = InfoBlock{p + 4, length};
    p += 4 + length;
  }
  if (p >= stop) return false;
  const uint64_t name = PadTo4(1 + static_cast<uint64_t>(*p));
  if (BytesLeft(p, stop) < name) return false;
  *begin = p + name;
  *end = stop;
  return true;
}

bool KeyIs(const uint8_t* key, const char* text) {
  return memcmp(key, text, 4) == 0;
}

bool IsAdjustmentKey(const uint8_t* key) {
  static const char kKeys[][5] = {
      "levl", "curv", "brit", "blnc", "hue2", "hue ", "selc", "mixr", "grdm",
      "phfl", "expA", "vibA", "thrs", "nvrt", "post", "blwh", "clrL"};
  for (const char* k : kKeys) {
    if (KeyIs(key, k)) return true;
  }
  return false;
}

// The one-byte switches of advanced blending; false for other keys.
bool NoteSwitch(const uint8_t* key, uint8_t value, LayerTraits* t) {
  if (KeyIs(key, "knko")) {
    t->knockout = value <= 2 ? value : 0;
  } else if (KeyIs(key, "infx")) {
    t->interior_as_group = value != 0;
  } else {
    return false;
  }
  return true;
}

void NoteBlock(const uint8_t* key, const uint8_t* data, uint32_t length,
               LayerTraits* t) {
  const InfoBlock block = {data, length};
  if (length >= 1 && NoteSwitch(key, data[0], t)) return;
  if ((KeyIs(key, "lsct") || KeyIs(key, "lsdk")) && length >= 4) {
    const uint32_t type = ReadU32(data);
    t->section = type <= kSectionDivider ? static_cast<uint8_t>(type) : 0;
    if (length >= 12 && KeyIs(data + 4, "8BIM")) {
      memcpy(t->section_blend, data + 8, 4);
      t->has_section_blend = true;
    }
  } else if (KeyIs(key, "iOpa") && length >= 1) {
    t->fill_opacity = data[0];
  } else if (KeyIs(key, "vmsk") || KeyIs(key, "vsms")) {
    t->vector_mask = block;
  } else if (KeyIs(key, "SoCo")) {
    t->solid_fill = block;
  } else if (KeyIs(key, "GdFl")) {
    t->gradient_fill = block;
  } else if (KeyIs(key, "vscg")) {
    t->stroke_fill = block;
  } else if (KeyIs(key, "vstk")) {
    t->vector_stroke = block;
  } else if (KeyIs(key, "PtFl")) {
    t->pattern_fill = block;
  } else if (KeyIs(key, "artb") || KeyIs(key, "artd") || KeyIs(key, "abdd")) {
    t->artboard = block;
  } else if (KeyIs(key, "lmfx") ||
             ((KeyIs(key, "lfx2") || KeyIs(key, "lfxs")) &&
              t->effects.data == nullptr)) {
    t->effects = block;
  } else if (KeyIs(key, "fxrp") && length >= 16) {
    t->has_reference = true;
    t->reference_x = WholePixels(data);
    t->reference_y = WholePixels(data + 8);
  } else if (KeyIs(key, "brst")) {
    t->channels_left_out = 0;
    for (uint32_t k = 0; k + 4 <= length; k += 4) {
      const uint32_t channel = ReadU32(data + k);
      if (channel < 8) t->channels_left_out |= 1u << channel;
    }
  } else if (KeyIs(key, "CgEd")) {
    t->brightness = block;
  } else if (IsAdjustmentKey(key)) {
    t->adjustment = true;
    memcpy(t->adjustment_key, key, 4);
    t->adjustment_block = block;
  }
}

void ReadLayerMask(const LayerRecord& layer, LayerMaskInfo* mask) {
  memset(mask, 0, sizeof(*mask));
  mask->user_density = 255;
  mask->vector_density = 255;
  if (layer.extra_length < 4) return;
  const uint32_t length = ReadU32(layer.extra);
  if (length < 18 || length > layer.extra_length - 4) return;
  const uint8_t* p = layer.extra + 4;
  const uint8_t* end = p + length;
  mask->present = true;
  mask->rect = ReadRect(p);
  mask->default_colour = p[16] >= 128 ? 255 : 0;
  const uint8_t flags = p[17];
  mask->disabled = (flags & kMaskDisabled) != 0;
  mask->rendered = (flags & kMaskRendered) != 0;
  p += 18;
  if (length >= 36) {
    mask->has_real = true;
    mask->real_disabled = (p[0] & kMaskDisabled) != 0;
    mask->real_default_colour = p[1] >= 128 ? 255 : 0;
    mask->real_rect = ReadRect(p + 2);
    p += 18;
  }
  if (flags & kMaskHasParameters) ReadMaskParameters(p, end, mask);
}

}  // namespace

void ReadLayerTraits(const Document* doc, const LayerRecord& layer,
                     LayerTraits* traits) {
  memset(traits, 0, sizeof(*traits));
  ReadLayerMask(layer, &traits->mask);
  traits->fill_opacity = 255;
  const uint8_t* p;
  const uint8_t* end;
  if (!FindBlocks(layer, &p, &end, &traits->blend_ranges)) return;
  while (BytesLeft(p, end) >= 12) {
    if (!KeyIs(p, "8BIM") && !KeyIs(p, "8B64")) return;
    const uint32_t field = HasWideInfoLength(doc->version, p + 4) ? 8 : 4;
    if (BytesLeft(p + 8, end) < field) return;
    const uint64_t length = ReadLength(p + 8, field);
    const uint8_t* data = p + 8 + field;
    if (BytesLeft(data, end) < length) return;
    NoteBlock(p + 4, data, static_cast<uint32_t>(length), traits);
    p = data + length;
  }
}

}  // namespace engine
