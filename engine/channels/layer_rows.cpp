// Layer rows for the compositor. Every channel is read through the channel
// reader as the layer decoder reads it (LayerChannelSpec); rows are
// converted to blue, green, red and alpha as the layer decoder converts
// them (CMYK and Lab to RGB, a lone colour channel to gray).
#include "engine/channels/layer_rows.h"

#include "engine/base/bytes.h"
#include "engine/psd/format.h"
#include "engine/base/limits.h"
#include "engine/base/numbers.h"
#include "engine/channels/rows.h"

namespace {

int RoleForChannel(int32_t id) {
  if (id >= 0 && id <= 3) return id;
  if (id == -1) return kRoleAlpha;
  if (id == -2) return kRoleUserMask;
  if (id == -3) return kRoleRealMask;
  return -1;
}

// Rows of a channel that its data can reach at all: raw rows while whole
// rows remain, PackBits rows while their byte counts are there. Other
// compressions are bounded by their rows alone.
uint32_t ReachableRows(const ChannelSpec& spec) {
  uint64_t reach = spec.rows;
  if (spec.compression == 0) {
    const uint64_t span = ChannelRowSpan(spec);
    if (span != 0) reach = BytesLeft(spec.data, spec.end) / span;
  } else if (spec.compression == 1) {
    reach = BytesLeft(spec.counts, spec.end) / RowCountBytes(spec.version);
  }
  return reach < spec.rows ? static_cast<uint32_t>(reach) : spec.rows;
}

// Pixels [first, first + n) of the roles' rows as blue, green, red, alpha.
void ConvertRow(const LayerPlan& plan, const uint8_t* const* rows,
                uint32_t first, uint32_t n, uint8_t* out) {
  const uint8_t* r = rows[kRoleRed] + first;
  const uint8_t* g = rows[kRoleGreen] + first;
  const uint8_t* b = rows[kRoleBlue] + first;
  const uint8_t* a = rows[kRoleAlpha] + first;
  if (plan.cmyk) {
    const uint8_t* k = rows[kRoleBlack] + first;
    for (uint32_t i = 0; i < n; ++i)
      CmykToBgr(r[i], g[i], b[i], k[i], out + 4 * i);
  } else if (plan.lab) {
    for (uint32_t i = 0; i < n; ++i) LabToBgr(r[i], g[i], b[i], out + 4 * i);
  } else {
    if (plan.gray) g = b = r;
    for (uint32_t i = 0; i < n; ++i) {
      out[4 * i] = b[i];
      out[4 * i + 1] = g[i];
      out[4 * i + 2] = r[i];
    }
  }
  for (uint32_t i = 0; i < n; ++i) out[4 * i + 3] = a[i];
}

// Mask sides the compositor reads: a mask must fit in the document's
// address range as a picture would.
bool MaskSizeAccepted(const DecodeState* state, const MaskRect& r, bool zip) {
  const int64_t w = static_cast<int64_t>(r.right) - r.left;
  const int64_t h = static_cast<int64_t>(r.bottom) - r.top;
  if (w <= 0 || h <= 0) return false;
  if (w > kLimits.max_side_v2 || h > kLimits.max_side_v2) return false;
  return PictureFitsDocument(static_cast<uint64_t>(w * h), DocumentSize(state),
                             zip);
}

}  // namespace

void FindLayerChannels(const DecodeState* state, const LayerRecord& layer,
                       uint64_t offset, ChannelPlace* places) {
  memset(places, 0, sizeof(ChannelPlace) * kRoles);
  const uint64_t size = DocumentSize(state);
  for (int32_t k = 0; k < layer.channel_count; ++k) {
    const ChannelEntry entry = ChannelAt(state, layer, k);
    const uint64_t end = SaturatingAdd(offset, entry.length);
    const int role = RoleForChannel(entry.id);
    if (role >= 0 && RangeFits(offset, 2, size) && entry.length >= 2) {
      places[role].at = state->file_base + offset;
      places[role].end = end;
    }
    offset = end;
  }
}

Status OpenLayerRows(const DecodeState* state, const LayerRecord& layer,
                     const LayerPlan& plan, const ChannelPlace* places,
                     LayerRows* rows) {
  memset(rows, 0, sizeof(*rows));
  rows->plan = plan;
  rows->rect = PixelRect{layer.left, layer.top, layer.right, layer.bottom};
  rows->next_y = layer.top;
  rows->end_y = layer.top;
  const uint32_t width = static_cast<uint32_t>(layer.width);
  const uint32_t height = static_cast<uint32_t>(layer.height);
  rows->fill[kRoleAlpha] = 255;
  for (int r = 0; r < kColourRoles; ++r) {
    const ChannelPlace& p = places[r];
    if (p.at == nullptr) continue;
    const uint16_t word = ReadU16(p.at);
    if (!ChannelCompressionKnown(word)) continue;
    rows->fill[r] = 0;
    const ChannelSpec spec =
        LayerChannelSpec(state, p.at, p.end, width, height);
    const Status opened = OpenChannel(&rows->readers[r], spec);
    if (opened != kDone) {
      CloseLayerRows(rows);
      return opened;
    }
    rows->active[r] = true;
    const int32_t reach = layer.top + static_cast<int32_t>(ReachableRows(spec));
    if (reach > rows->end_y) rows->end_y = reach;
  }
  rows->constants = static_cast<uint8_t*>(
      HeapAlloc(GetProcessHeap(), 0, 2 * static_cast<SIZE_T>(width) + 1));
  if (rows->constants == nullptr) {
    CloseLayerRows(rows);
    return kNoMemory;
  }
  memset(rows->constants, 0, width);
  memset(rows->constants + width, 255, width + 1);
  return kDone;
}

void CloseLayerRows(LayerRows* rows) {
  for (int r = 0; r < kColourRoles; ++r) {
    if (rows->active[r]) CloseChannel(&rows->readers[r]);
    rows->active[r] = false;
  }
  if (rows->constants != nullptr) {
    HeapFree(GetProcessHeap(), 0, rows->constants);
  }
  rows->constants = nullptr;
}

bool ReadLayerRow(LayerRows* rows, int32_t y, int32_t x0, int32_t x1,
                  uint8_t* out) {
  const uint8_t* got[kColourRoles] = {};
  bool reached = false;
  while (rows->next_y <= y) {
    reached = false;
    for (int r = 0; r < kColourRoles; ++r) {
      got[r] = rows->active[r] ? ReadChannelRow(&rows->readers[r]) : nullptr;
      reached = reached || got[r] != nullptr;
    }
    ++rows->next_y;
  }
  if (!reached) return false;
  const uint32_t width =
      static_cast<uint32_t>(rows->rect.right - rows->rect.left);
  for (int r = 0; r < kColourRoles; ++r) {
    if (got[r] == nullptr) {
      got[r] = rows->constants + (rows->fill[r] != 0 ? width : 0);
    }
  }
  ConvertRow(rows->plan, got, static_cast<uint32_t>(x0 - rows->rect.left),
             static_cast<uint32_t>(x1 - x0), out);
  return true;
}

Status OpenMaskRows(const DecodeState* state, const LayerMaskInfo& info,
                    const ChannelPlace* places, bool vector, MaskRows* mask) {
  memset(mask, 0, sizeof(*mask));
  if (!info.present || info.disabled) return kDone;
  const bool real = vector && info.rendered;
  if (real && !info.has_real) return kDone;
  const ChannelPlace& p = places[real ? kRoleRealMask : kRoleUserMask];
  mask->active = true;
  mask->rect = real ? info.real_rect : info.rect;
  mask->default_colour = real ? info.real_default_colour : info.default_colour;
  mask->density = info.user_density;
  mask->next_y = mask->rect.top;
  if (p.at == nullptr ||
      !MaskSizeAccepted(state, mask->rect, ReadU16(p.at) >= 2) ||
      !ChannelCompressionKnown(ReadU16(p.at))) {
    // No readable pixels: the whole plane has the default colour.
    mask->rect = MaskRect{0, 0, 0, 0};
    return kDone;
  }
  const uint32_t width =
      static_cast<uint32_t>(mask->rect.right - mask->rect.left);
  const uint32_t height =
      static_cast<uint32_t>(mask->rect.bottom - mask->rect.top);
  const ChannelSpec spec = LayerChannelSpec(state, p.at, p.end, width, height);
  const Status opened = OpenChannel(&mask->reader, spec);
  if (opened != kDone) return opened;
  mask->has_reader = true;
  mask->end_y = mask->rect.top + static_cast<int32_t>(ReachableRows(spec));
  return kDone;
}

void CloseMaskRows(MaskRows* mask) {
  if (mask->has_reader) CloseChannel(&mask->reader);
  mask->has_reader = false;
}

PixelRect MaskReach(const MaskRows* mask) {
  if (!mask->active || mask->default_colour != 0 || mask->density != 255) {
    return kWholePlane;
  }
  const MaskRect& r = mask->rect;
  return PixelRect{r.left, r.top, r.right, r.bottom};
}

void ApplyMaskRow(MaskRows* mask, int32_t y, int32_t x0, uint32_t n,
                  uint8_t* pixels) {
  if (!mask->active) return;
  const MaskRect& r = mask->rect;
  const uint8_t* row = nullptr;
  const bool inside_rows = y >= r.top && y < r.bottom && mask->has_reader;
  while (inside_rows && y < mask->end_y && mask->next_y <= y) {
    row = ReadChannelRow(&mask->reader);
    ++mask->next_y;
  }
  // The span's columns within the mask's rectangle: [lo, hi).
  const int64_t x1 = static_cast<int64_t>(x0) + n;
  int64_t lo = x0, hi = x0;
  if (inside_rows) {
    lo = r.left > x0 ? r.left : x0;
    hi = r.right < x1 ? r.right : x1;
    if (hi < lo) hi = lo;
  }
  const uint32_t density = mask->density;
  for (uint32_t i = 0; i < n; ++i) {
    const int64_t x = x0 + static_cast<int64_t>(i);
    uint32_t m = mask->default_colour;
    if (x >= lo && x < hi) m = row != nullptr ? row[x - r.left] : 0;
    if (density != 255) m = 255 - MulDiv255(255 - m, density);
    if (m == 255) continue;
    uint8_t* a = pixels + 4 * i + 3;
    *a = static_cast<uint8_t>(MulDiv255(*a, m));
  }
}
