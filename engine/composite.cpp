// The walk over the layer records, bottom-most first, that paints the
// composite. An item is a layer, or a whole group (divider, members, group
// record). A group that blends as a whole gets its own canvas, painted onto
// its parent's when the group record closes it; a pass-through group paints
// its members straight into its parent's canvas. An item followed by
// clipped items is a clipping group's base: the base and its clipped items
// are painted onto a canvas of their own (the clipped items keeping the
// base's alpha), which is then painted with the base's blend mode and
// opacity. A hidden base hides its clipped items.
#include "engine/composite.h"

#include "engine/limits.h"
#include "engine/log_messages.h"
#include "engine/numbers.h"

namespace {

Level* Top(Composer* c) { return &c->levels[c->depth - 1]; }

bool ClosesGroup(const Composer* c, uint32_t i) {
  const uint8_t s = c->plan.section[i];
  return (s == kSectionOpenGroup || s == kSectionClosedGroup) &&
         c->plan.match[i] != kNoMatch;
}

bool OpensGroup(const Composer* c, uint32_t i) {
  return c->plan.section[i] == kSectionDivider && c->plan.match[i] != kNoMatch;
}

// The last record of the item starting at i.
uint32_t ItemEnd(const Composer* c, uint32_t i) {
  return OpensGroup(c, i) ? c->plan.match[i] : i;
}

// The record of the item starting at i that carries its visibility, blend
// mode, opacity and clipping: a group's own record, else the layer's.
const LayerRecord& ItemRecord(const Composer* c, uint32_t i) {
  return c->list->records[ItemEnd(c, i)];
}

bool Visible(const LayerRecord& r) { return (r.flags & 0x02) == 0; }

bool ItemClipped(const Composer* c, uint32_t i) {
  return i < c->list->count && !ClosesGroup(c, i) &&
         ItemRecord(c, i).clipping != 0;
}

uint32_t SkipClippedRun(const Composer* c, uint32_t i) {
  while (ItemClipped(c, i)) i = ItemEnd(c, i) + 1;
  return i;
}

bool KeepsAlpha(const Level* level) {
  return level->kind == kLevelClip ? level->base_painted : level->keep_alpha;
}

BlendMode ItemBlendMode(const LayerRecord& r, const LayerTraits& traits) {
  const char* key =
      traits.has_section_blend ? traits.section_blend : r.blend_key;
  return BlendModeFromKey(reinterpret_cast<const uint8_t*>(key));
}

// How the item whose record is `record` is painted at `level`. A clipping
// group's base goes onto the group's canvas as it is (its fill opacity and
// mask applied); its blend mode and opacity apply to the whole group.
PaintParams ItemParams(const Composer* c, const Level* level, uint32_t record) {
  const LayerRecord& r = c->list->records[record];
  LayerTraits traits;
  ReadLayerTraits(c->state, r, &traits);
  PaintParams p;
  p.masks = true;
  p.keep_alpha = KeepsAlpha(level);
  if (level->kind == kLevelClip && !level->base_painted) {
    p.mode = kBlendNormal;
    p.opacity =
        static_cast<uint8_t>(MulDiv255(traits.fill_opacity, level->fill));
    return p;
  }
  p.mode = ItemBlendMode(r, traits);
  if (p.mode == kBlendPassThrough) p.mode = kBlendNormal;
  const uint32_t fill = MulDiv255(traits.fill_opacity, level->fill);
  p.opacity = static_cast<uint8_t>(MulDiv255(r.opacity, fill));
  return p;
}

void ItemPainted(Level* level) {
  if (level->kind == kLevelClip) level->base_painted = true;
}

// A canvas of the pool for a new level, or null past the limit.
Canvas* TakeCanvas(Composer* c) {
  if (c->canvases_in_use > kLimits.max_canvas_levels) return nullptr;
  return &c->canvases[c->canvases_in_use++];
}

Level* PushLevel(Composer* c, LevelKind kind, Canvas* canvas, uint32_t record) {
  Level* level = &c->levels[c->depth++];
  level->kind = kind;
  level->canvas = canvas;
  level->record = record;
  level->keep_alpha = false;
  level->base_painted = false;
  level->skip_run_at = kNoMatch;
  level->fill = 255;
  return level;
}

void OpenGroup(Composer* c, uint32_t record) {
  Level* parent = Top(c);
  const LayerRecord& r = c->list->records[record];
  LayerTraits traits;
  ReadLayerTraits(c->state, r, &traits);
  const bool whole = ItemBlendMode(r, traits) != kBlendPassThrough ||
                     r.opacity != 255 || r.has_mask ||
                     (parent->kind == kLevelClip && !parent->base_painted);
  Canvas* canvas = whole ? TakeCanvas(c) : nullptr;
  if (canvas != nullptr) {
    PushLevel(c, kLevelGroup, canvas, record);
    return;
  }
  // A pass-through group's fill opacity applies to each of its items.
  Level* level = PushLevel(c, kLevelPass, parent->canvas, record);
  level->keep_alpha = KeepsAlpha(parent);
  level->fill =
      static_cast<uint8_t>(MulDiv255(traits.fill_opacity, parent->fill));
}

Status CloseLevel(Composer* c, PaintParams p) {
  Level* level = Top(c);
  --c->depth;
  Level* parent = Top(c);
  Status status = kDone;
  if (level->kind != kLevelPass) {
    status = PaintCanvas(c, level->canvas, parent->canvas, level->record, p);
    --c->canvases_in_use;
  }
  ItemPainted(parent);
  return status;
}

Status CloseGroup(Composer* c) {
  const Level* level = Top(c);
  const PaintParams p = ItemParams(c, &c->levels[c->depth - 2], level->record);
  return CloseLevel(c, p);
}

// The clipping group on top is painted with its base's blend mode and
// opacity (the base's mask is on its canvas already).
Status CloseClip(Composer* c) {
  const Level* level = Top(c);
  const LayerRecord& base = c->list->records[level->record];
  LayerTraits traits;
  ReadLayerTraits(c->state, base, &traits);
  PaintParams p;
  p.mode = ItemBlendMode(base, traits);
  if (p.mode == kBlendPassThrough) p.mode = kBlendNormal;
  const Level* parent = &c->levels[c->depth - 2];
  p.opacity = static_cast<uint8_t>(MulDiv255(base.opacity, parent->fill));
  p.keep_alpha = KeepsAlpha(parent);
  p.masks = false;
  return CloseLevel(c, p);
}

// After the item that ends before `next`: items that were to be skipped
// are, and a clipping group whose run ends is closed. Returns where the
// walk goes on.
uint32_t AfterItem(Composer* c, uint32_t next, Status* status) {
  for (;;) {
    Level* top = Top(c);
    if (top->skip_run_at == next) {
      top->skip_run_at = kNoMatch;
      next = SkipClippedRun(c, next);
    }
    if (top->kind != kLevelClip || !top->base_painted || ItemClipped(c, next)) {
      return next;
    }
    const Status closed = CloseClip(c);
    if (closed != kDone) *status = closed;
  }
}

Status PaintItemLayer(Composer* c, uint32_t index) {
  Level* level = Top(c);
  LayerTraits traits;
  ReadLayerTraits(c->state, c->list->records[index], &traits);
  Status status = kDone;
  if (!traits.adjustment) {
    if (c->cut_short && c->cut_at == kNoMatch) c->cut_at = index;
    status = PaintLayer(c, index, level->canvas, ItemParams(c, level, index));
  }
  ItemPainted(level);
  return status;
}

// Starts the item at i. Returns where the walk goes on.
uint32_t StartItem(Composer* c, uint32_t i, Status* status) {
  const uint32_t end = ItemEnd(c, i);
  const LayerRecord& r = c->list->records[end];
  Level* top = Top(c);
  if (top->kind != kLevelClip && ItemClipped(c, end + 1)) {
    if (!Visible(r)) return AfterItem(c, SkipClippedRun(c, end + 1), status);
    Canvas* canvas = TakeCanvas(c);
    if (canvas != nullptr) {
      PushLevel(c, kLevelClip, canvas, end)->keep_alpha = true;
    } else {
      // Past the canvas limit the base is painted alone.
      top->skip_run_at = end + 1;
    }
  }
  if (!Visible(r)) return AfterItem(c, end + 1, status);
  if (OpensGroup(c, i)) {
    OpenGroup(c, end);
    return i + 1;
  }
  *status = PaintItemLayer(c, i);
  return AfterItem(c, i + 1, status);
}

Status Walk(Composer* c) {
  Status status = kDone;
  uint32_t i = 0;
  while (i < c->list->count && status == kDone) {
    if (ClosesGroup(c, i)) {
      if (Top(c)->record == i && Top(c)->kind != kLevelClip) {
        status = CloseGroup(c);
      }
      i = AfterItem(c, i + 1, &status);
      continue;
    }
    i = StartItem(c, i, &status);
  }
  while (status == kDone && c->depth > 1) {
    status = Top(c)->kind == kLevelClip ? CloseClip(c) : CloseGroup(c);
  }
  return status;
}

// Colour modes with a composite: the gray and colour outputs of 8-, 16-
// and 32-bit documents (an indexed or bitmap picture stays as stored).
bool CompositeSupported(const DecodeState* state) {
  if (state->color_mode == kModeIndexed || state->color_mode == kModeBitmap) {
    return false;
  }
  return state->sample_step >= 3 ||
         (state->color_mode == kModeGrayscale && state->palette_bytes == 1024);
}

Status TakeComposer(DecodeState* state, const LayerList* list,
                    const BITMAPINFOHEADER* header, Composer* c) {
  memset(c, 0, sizeof(*c));
  c->state = state;
  c->list = list;
  c->cut_at = kNoMatch;
  const Status planned = BuildCompositePlan(state, list, &c->plan);
  if (planned != kDone) return planned;
  const uint32_t width = static_cast<uint32_t>(header->biWidth);
  const uint32_t height = static_cast<uint32_t>(header->biHeight);
  // Every group level may add a clipping level above it.
  const uint64_t levels = 2 * static_cast<uint64_t>(c->plan.depth) + 2;
  c->levels = static_cast<Level*>(HeapAlloc(
      GetProcessHeap(), 0, static_cast<SIZE_T>(levels * sizeof(Level))));
  c->row = static_cast<uint8_t*>(
      HeapAlloc(GetProcessHeap(), 0, 4 * static_cast<SIZE_T>(width) + 4));
  if (c->levels == nullptr || c->row == nullptr) return kNoMemory;
  for (uint32_t k = 0; k <= kLimits.max_canvas_levels; ++k) {
    InitCanvas(&c->canvases[k], width, height);
  }
  c->canvases_in_use = 1;
  c->depth = 0;
  PushLevel(c, kLevelRoot, &c->canvases[0], kNoMatch);
  c->work_limit =
      static_cast<uint64_t>(width) * height * kLimits.composite_canvas_passes +
      DocumentSize(state) * kLimits.max_expansion;
  return kDone;
}

void ReleaseComposer(Composer* c) {
  for (uint32_t k = 0; k <= kLimits.max_canvas_levels; ++k) {
    ReleaseCanvas(&c->canvases[k]);
  }
  if (c->levels != nullptr) HeapFree(GetProcessHeap(), 0, c->levels);
  if (c->row != nullptr) HeapFree(GetProcessHeap(), 0, c->row);
  ReleaseCompositePlan(&c->plan);
}

// The output block, flattened from the root canvas.
Status HandOut(DecodeRequest* request, const Composer* c,
               const BITMAPINFOHEADER* header) {
  HLOCAL block = LocalAlloc(LMEM_FIXED, header->biSizeImage);
  *request->pixels_slot = block;
  if (block == nullptr) return kNoMemory;
  FlattenCanvas(&c->canvases[0], c->state,
                static_cast<uint8_t*>(LocalLock(block)));
  LocalUnlock(block);
  return kDone;
}

}  // namespace

Status DecodeComposite(DecodeRequest* request, DecodeState* state,
                       const LayerList* list, const BITMAPINFOHEADER* header) {
  if (!CompositeSupported(state) || list->count == 0 ||
      list->filled < list->count) {
    return kNotServed;
  }
  const uint64_t size = DocumentSize(state);
  if (!PictureFitsDocument(header->biSizeImage, size) ||
      !PictureFitsDocument(CanvasBytes(static_cast<uint32_t>(header->biWidth),
                                       static_cast<uint32_t>(header->biHeight)),
                           size)) {
    *request->pixels_slot = nullptr;
    return kTooLarge;
  }
  LogLine(state->log, logtext::kComposite, list->count);
  Composer* c =
      static_cast<Composer*>(HeapAlloc(GetProcessHeap(), 0, sizeof(Composer)));
  Status status =
      c != nullptr ? TakeComposer(state, list, header, c) : kNoMemory;
  if (status == kDone) status = Walk(c);
  if (status == kDone) {
    if (c->cut_at != kNoMatch) {
      LogLine(state->log, logtext::kCompositeCutShort, c->cut_at);
    }
    status = HandOut(request, c, header);
  } else {
    *request->pixels_slot = nullptr;
  }
  if (c != nullptr) {
    ReleaseComposer(c);
    HeapFree(GetProcessHeap(), 0, c);
  }
  return status;
}
