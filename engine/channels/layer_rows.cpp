// Layer rows. Every channel is read through the channel reader; rows are
// converted to blue, green, red (and alpha): CMYK and Lab to RGB, a lone
// colour channel to gray.
#include "engine/channels/layer_rows.h"

#include "engine/base/bytes.h"
#include "engine/base/limits.h"
#include "engine/base/memory.h"
#include "engine/base/numbers.h"
#include "engine/channels/pixel_ops.h"
#include "engine/channels/rows.h"

namespace engine {
namespace {

// Pixels [first, first + n) of wide colour rows through the 16-bit
// document's tables: a lone colour channel (`step` 1) is gray.
void ConvertWideRow(const LayerRows& l, const uint8_t* const* rows,
                    uint32_t first, uint32_t n, uint32_t step, uint8_t* out) {
  const ColourTables* t = l.colour;
  const uint8_t* r = rows[kRoleRed] + 2ull * first;
  const uint8_t* g = l.gray ? r : rows[kRoleGreen] + 2ull * first;
  const uint8_t* b = l.gray ? r : rows[kRoleBlue] + 2ull * first;
  if (t->kind == kColourGray || step == 1) {
    ConvertGrayWide(t, r, n, step, out);
  } else if (t->kind == kColourCmykCubes) {
    ConvertCmykWide(t, r, g, b, rows[kRoleBlack] + 2ull * first, n, step, out);
  } else {
    ConvertRgbWide(t, r, g, b, n, step, out);
  }
  if (step == 4) {
    const uint8_t* a = rows[kRoleAlpha] + first;
    for (uint32_t i = 0; i < n; ++i) out[4 * i + 3] = a[i];
  }
}

// Pixels [first, first + n) of the roles' rows, `step` bytes a pixel.
void ConvertRow(const LayerRows& l, const uint8_t* const* rows, uint32_t first,
                uint32_t n, uint32_t step, uint8_t* out) {
  if (l.wide) {
    ConvertWideRow(l, rows, first, n, step, out);
    return;
  }
  const uint8_t* r = rows[kRoleRed] + first;
  const uint8_t* g = rows[kRoleGreen] + first;
  const uint8_t* b = rows[kRoleBlue] + first;
  if (step == 1) {
    memcpy(out, r, n);
    return;
  }
  if (l.cmyk && l.cmyk_rows != kCmykConverted) {
    const uint8_t* k = rows[kRoleBlack] + first;
    if (l.cmyk_rows == kCmykBlack) r = g = b = k;
    if (step == 3) {
      InterleaveBgr(r, g, b, n, out);
    } else {
      InterleaveBgra(r, g, b, rows[kRoleAlpha] + first, n, out);
    }
    return;
  }
  if (l.cmyk && l.colour != nullptr) {
    ConvertCmykPixels(l.colour, r, g, b, rows[kRoleBlack] + first, n, step,
                      out);
  } else if (l.cmyk) {
    const uint8_t* k = rows[kRoleBlack] + first;
    for (uint32_t i = 0; i < n; ++i) {
      CmykToBgr(r[i], g[i], b[i], k[i], out + step * i);
    }
  } else if (l.lab) {
    for (uint32_t i = 0; i < n; ++i) LabToBgr(r[i], g[i], b[i], out + step * i);
  } else {
    if (l.gray) g = b = r;
    if (step == 3) {
      InterleaveBgr(r, g, b, n, out);
    } else {
      InterleaveBgra(r, g, b, rows[kRoleAlpha] + first, n, out);
    }
    return;
  }
  if (step == 4) {
    const uint8_t* a = rows[kRoleAlpha] + first;
    for (uint32_t i = 0; i < n; ++i) out[4 * i + 3] = a[i];
  }
}

// Deep rows: the samples of pixels [first, first + n) into `deep_row`, and
// the colour rows' first bytes in place of them in `rows`.
void KeepDeepRow(LayerRows* l, const uint8_t** rows, uint32_t first,
                 uint32_t n) {
  const int colours = l->gray ? 1 : 3;
  for (int r = 0; r < colours; ++r) {
    const uint8_t* wide = rows[r] + 2ull * first;
    uint16_t* deep = l->deep_row + r;
    for (uint32_t i = 0; i < n; ++i) {
      deep[3 * i] = static_cast<uint16_t>(wide[2 * i] << 8 | wide[2 * i + 1]);
    }
    uint8_t* high = l->high + static_cast<uint64_t>(r) * l->width;
    TakeHighBytes(wide, n, high + first);
    rows[r] = high;
  }
  if (l->gray) {
    for (uint32_t i = 0; i < n; ++i) {
      l->deep_row[3 * i + 1] = l->deep_row[3 * i + 2] = l->deep_row[3 * i];
    }
  }
}

// Mask sides the compositor reads: a mask must fit in the document's
// address range as a picture would.
bool MaskSizeAccepted(const Document* doc, const PixelRect& r, bool zip) {
  const int64_t w = static_cast<int64_t>(r.right) - r.left;
  const int64_t h = static_cast<int64_t>(r.bottom) - r.top;
  if (w <= 0 || h <= 0) return false;
  if (w > kLimits.max_side_v2 || h > kLimits.max_side_v2) return false;
  return PictureFitsDocument(static_cast<uint64_t>(w * h), DocumentSize(doc),
                             zip);
}

}  // namespace

Status OpenLayerRows(const Document* doc, const LayerRecord& layer,
                     const LayerPlan& plan, const ColourTables* colour,
                     bool deep, LayerRows* rows) {
  memset(rows, 0, sizeof(*rows));
  rows->wide = colour != nullptr && colour->wide && !plan.lab;
  rows->deep =
      deep && !rows->wide && doc->depth == 16 && !plan.lab && !plan.cmyk;
  rows->colour = plan.cmyk || rows->wide ? colour : nullptr;
  rows->rect = layer.rect;
  rows->gray = plan.gray;
  rows->cmyk = plan.cmyk;
  rows->lab = plan.lab;
  const uint32_t width =
      plan.image_size != 0 ? static_cast<uint32_t>(layer.width) : 0;
  const uint32_t height =
      plan.image_size != 0 ? static_cast<uint32_t>(layer.height) : 0;
  rows->width = width;
  // Without a transparency channel a layer is opaque; one whose channel
  // cannot be read (its data lies past the document) is transparent.
  rows->fill[kRoleAlpha] = plan.has_alpha ? 0 : 255;
  for (int r = 0; r < kPixelRoles; ++r) {
    const ChannelPlace& p = plan.places[r];
    if (!p.found) continue;
    if (!CompressionKnown(p.compression)) {
      rows->fill[r] = r == kRoleAlpha ? 255 : 0;
      continue;
    }
    rows->fill[r] = 0;
    ChannelSpec spec = PlacedChannelSpec(doc, p, width, height);
    spec.wide = (rows->wide || rows->deep) && r != kRoleAlpha;
    const Status opened = OpenChannel(&rows->readers[r], doc->source, spec);
    if (opened != kDone) {
      CloseLayerRows(rows);
      return opened;
    }
    rows->active[r] = true;
    const uint32_t reach = ReachableRows(spec, DocumentSize(doc));
    if (reach > rows->end_row) rows->end_row = reach;
  }
  // A row's bytes at two a sample (wide rows) of each constant.
  rows->constants = static_cast<uint8_t*>(Allocate(4ull * width + 1));
  if (rows->deep) {
    rows->deep_row = AllocateArray<uint16_t>(3ull * width + 1);
    rows->high = static_cast<uint8_t*>(Allocate(3ull * width + 1));
  }
  if (rows->constants == nullptr ||
      (rows->deep && (rows->deep_row == nullptr || rows->high == nullptr))) {
    CloseLayerRows(rows);
    return kNoMemory;
  }
  memset(rows->constants, 0, 2ull * width);
  memset(rows->constants + 2ull * width, 255, 2ull * width + 1);
  return kDone;
}

void CloseLayerRows(LayerRows* rows) {
  for (int r = 0; r < kPixelRoles; ++r) {
    if (rows->active[r]) CloseChannel(&rows->readers[r]);
    rows->active[r] = false;
  }
  Release(rows->constants);
  rows->constants = nullptr;
  Release(rows->deep_row);
  rows->deep_row = nullptr;
  Release(rows->high);
  rows->high = nullptr;
  Release(rows->inflated);
  rows->inflated = nullptr;
}

bool ReadNextLayerRow(LayerRows* rows, uint32_t first, uint32_t n,
                      uint32_t step, uint8_t* out) {
  const uint8_t* got[kPixelRoles];
  bool reached = false;
  for (int r = 0; r < kPixelRoles; ++r) {
    got[r] = rows->active[r] ? ReadChannelRow(&rows->readers[r]) : nullptr;
    reached = reached || got[r] != nullptr;
    if (got[r] == nullptr) {
      got[r] = rows->constants + (rows->fill[r] != 0 ? 2ull * rows->width : 0);
    }
  }
  ++rows->next_row;
  if (rows->deep) KeepDeepRow(rows, got, first, n);
  ConvertRow(*rows, got, first, n, step, out);
  return reached;
}

void SkipLayerRows(LayerRows* rows, uint32_t n) {
  for (int r = 0; r < kPixelRoles; ++r) {
    if (rows->active[r]) SkipChannelRows(&rows->readers[r], n);
  }
  rows->next_row += n;
}

bool LayerRowsInflate(const LayerRows* rows) {
  for (int r = 0; r < kPixelRoles; ++r) {
    if (rows->active[r] &&
        IsZipCompression(rows->readers[r].spec.compression)) {
      return true;
    }
  }
  return false;
}

bool ReadLayerRow(LayerRows* rows, int32_t y, int32_t x0, int32_t x1,
                  uint8_t* out) {
  const uint32_t row =
      static_cast<uint32_t>(y) - static_cast<uint32_t>(rows->rect.top);
  if (rows->next_row < row) SkipLayerRows(rows, row - rows->next_row);
  const uint32_t first =
      static_cast<uint32_t>(x0) - static_cast<uint32_t>(rows->rect.left);
  const uint32_t n = static_cast<uint32_t>(x1) - static_cast<uint32_t>(x0);
  return ReadNextLayerRow(rows, first, n, 4, out);
}

Status OpenMaskRows(const Document* doc, const LayerMaskInfo& info,
                    const LayerPlan& plan, bool vector, MaskRows* mask) {
  memset(mask, 0, sizeof(*mask));
  if (!info.present || info.disabled) return kDone;
  const bool real = vector && info.rendered;
  if (real && (!info.has_real || info.real_disabled)) return kDone;
  const ChannelPlace& p = plan.places[real ? kRoleRealMask : kRoleUserMask];
  mask->active = true;
  mask->rect = real ? info.real_rect : info.rect;
  mask->default_colour = real ? info.real_default_colour : info.default_colour;
  mask->density = info.user_density;
  mask->next_y = mask->rect.top;
  const bool readable = p.found && p.holds_word;
  if (!readable ||
      !MaskSizeAccepted(doc, mask->rect, IsZipCompression(p.compression)) ||
      !CompressionKnown(p.compression)) {
    // No readable pixels: the whole plane has the default colour.
    mask->rect = kNoPixels;
    return kDone;
  }
  const ChannelSpec spec =
      PlacedChannelSpec(doc, p, RectWidth(mask->rect), RectHeight(mask->rect));
  const Status opened = OpenChannel(&mask->reader, doc->source, spec);
  if (opened != kDone) return opened;
  mask->has_reader = true;
  mask->end_y = mask->rect.top +
                static_cast<int32_t>(ReachableRows(spec, DocumentSize(doc)));
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
  return mask->rect;
}

void ApplyMaskRow(MaskRows* mask, int32_t y, int32_t x0, uint32_t n,
                  uint8_t* pixels) {
  if (!mask->active) return;
  const PixelRect& r = mask->rect;
  const uint8_t* row = nullptr;
  const bool inside_rows = y >= r.top && y < r.bottom && mask->has_reader;
  if (inside_rows && y < mask->end_y && mask->next_y <= y) {
    SkipChannelRows(&mask->reader, static_cast<uint32_t>(y - mask->next_y));
    row = ReadChannelRow(&mask->reader);
    mask->next_y = y + 1;
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

}  // namespace engine
