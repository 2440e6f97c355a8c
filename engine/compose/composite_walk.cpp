// The walk over the layer records, bottom-most first, that paints the
// composite. An item is a layer, or a whole group (divider, members, group
// record). A group that blends as a whole gets its own canvas, painted onto
// its parent's when the group record closes it; a pass-through group paints
// its members straight into its parent's canvas. An item followed by
// clipped items is a clipping group's base: the base and its clipped items
// are painted onto a canvas of their own (the clipped items keeping the
// base's alpha), which is then painted with the base's blend mode and
// opacity. A pass-through base paints its members into its parent's canvas
// as any pass-through group does; when it closes, what it added is taken
// apart from what was below it to be the base. A hidden base hides its
// clipped items.
#include "engine/base/limits.h"
#include "engine/base/numbers.h"
#include "engine/compose/blend/blend_if.h"
#include "engine/compose/composite.h"

namespace engine {
namespace {

Level* Top(Composer* c) { return &c->levels[c->depth - 1]; }

const LayerTraits& Traits(const Composer* c, uint32_t record) {
  return c->plan.traits[record];
}

bool ClosesGroup(const Composer* c, uint32_t i) {
  const uint8_t s = Traits(c, i).section;
  return (s == kSectionOpenGroup || s == kSectionClosedGroup) &&
         c->plan.match[i] != kNoMatch;
}

bool OpensGroup(const Composer* c, uint32_t i) {
  return Traits(c, i).section == kSectionDivider &&
         c->plan.match[i] != kNoMatch;
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

bool ItemClipped(const Composer* c, uint32_t i) {
  return i < c->list->count && !ClosesGroup(c, i) &&
         ItemRecord(c, i).clipping != 0 &&
         !Traits(c, ItemEnd(c, i)).clipped_to_adjustment;
}

uint32_t SkipClippedRun(const Composer* c, uint32_t i) {
  while (ItemClipped(c, i)) i = ItemEnd(c, i) + 1;
  return i;
}

bool ClipsAfter(const Level* level) {
  return level->kind == kLevelClip && level->base_painted;
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
  const LayerTraits& traits = Traits(c, record);
  PaintParams p;
  p.masks = true;
  p.keep_alpha = KeepsAlpha(level);
  p.level = static_cast<uint32_t>(level - c->levels);
  p.clip_shape = p.keep_alpha ? level->clip_shape : nullptr;
  p.records_clip_shape = false;
  p.coverage = traits.clipped_to_adjustment ? level->coverage : nullptr;
  p.effects = true;
  SetAdvancedBlending(traits, c->channels, &p);
  if (level->kind == kLevelClip && !level->base_painted) {
    p.effects = false;
    p.mode = kBlendNormal;
    p.opacity =
        static_cast<uint8_t>(MulDiv255(traits.fill_opacity, level->fill));
    p.effects_opacity = level->fill;
    return p;
  }
  p.mode = ItemBlendMode(r, traits);
  if (p.mode == kBlendPassThrough) p.mode = kBlendNormal;
  const uint32_t fill = MulDiv255(traits.fill_opacity, level->fill);
  p.opacity = static_cast<uint8_t>(MulDiv255(r.opacity, fill));
  p.effects_opacity = static_cast<uint8_t>(MulDiv255(r.opacity, level->fill));
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
  // Nothing kept, no shapes, no backdrop, no base painted yet.
  *level = Level{};
  level->kind = kind;
  level->canvas = canvas;
  level->record = record;
  level->fill = 255;
  level->skip_run_at = kNoMatch;
  return level;
}

// A group that blends its members straight into what is below it.
// A pass-through group whose fill opacity is below full and that holds
// adjustment layers is composited as a group of its own (its adjustments
// act on its members alone), as the application shows it; so is one with
// layer effects, which are painted around its composite, and an artboard
// (it shows its members within its rectangle only).
bool BlendsThrough(const Composer* c, uint32_t record) {
  const LayerTraits& traits = Traits(c, record);
  return ItemBlendMode(c->list->records[record], traits) == kBlendPassThrough &&
         (traits.fill_opacity == 255 || !traits.holds_adjustment) &&
         c->plan.effects[record] == nullptr && traits.artboard.data == nullptr;
}

// A pass-through group keeps a copy of what was below it when its opacity
// or masks must fade what its members did, or items are clipped to it.
bool NeedsBackdrop(const Composer* c, uint32_t record) {
  const LayerRecord& r = c->list->records[record];
  return r.opacity != 255 || r.has_mask ||
         Traits(c, record).vector_mask.data != nullptr ||
         Traits(c, record).holds_knockout;
}

Level* PushPass(Composer* c, uint32_t record) {
  Level* parent = Top(c);
  // A pass-through group's fill opacity applies to each of its items.
  Level* level = PushLevel(c, kLevelPass, parent->canvas, record);
  level->keep_alpha = KeepsAlpha(parent);
  if (level->keep_alpha) level->clip_shape = parent->clip_shape;
  level->fill = static_cast<uint8_t>(
      MulDiv255(Traits(c, record).fill_opacity, parent->fill));
  return level;
}

// Opens a pass-through group with a copy of its parent's canvas (and a
// shape, when items are clipped to it). False when the memory for them is
// past the limit.
bool OpenPassWithBackdrop(Composer* c, uint32_t record, bool clipped_after,
                          Status* status) {
  // Copying what is below, and fading or taking the group apart again, is
  // work of its own: past the limit the group simply passes through.
  const PixelRect& below = Top(c)->canvas->painted;
  const uint64_t cost =
      RectEmpty(below) ? 0
                       : 2 * static_cast<uint64_t>(below.right - below.left) *
                             static_cast<uint64_t>(below.bottom - below.top);
  if (c->work + cost > c->work_limit) return false;
  c->work += cost;
  uint8_t* shape = clipped_after ? TakeShape(c) : nullptr;
  if (clipped_after && shape == nullptr) return false;
  Canvas* backdrop = TakeCanvas(c);
  if (backdrop == nullptr) {
    ReleaseShape(c, shape);
    return false;
  }
  *status = SaveBackdrop(Top(c)->canvas, backdrop);
  Level* level = PushPass(c, record);
  level->shape = shape;
  level->backdrop = backdrop;
  return true;
}

// Opens the group whose record is `record`: one that blends as a whole gets
// a canvas of its own (as does the base of a clipping group); past the
// canvas limit a group passes through.
Status OpenGroup(Composer* c, uint32_t record) {
  const Level* parent = Top(c);
  const bool base = parent->kind == kLevelClip && !parent->base_painted;
  Status status = kDone;
  if (BlendsThrough(c, record) && !base) {
    if (!NeedsBackdrop(c, record)) {
      PushPass(c, record);
      return kDone;
    }
    if (OpenPassWithBackdrop(c, record, false, &status)) return status;
  }
  Canvas* canvas = TakeCanvas(c);
  if (canvas == nullptr) {
    PushPass(c, record);
    return status;
  }
  PushLevel(c, kLevelGroup, canvas, record);
  return status == kDone ? PaintArtboardBackground(c, record, canvas) : status;
}

Status CloseLevel(Composer* c, PaintParams p) {
  Level* level = Top(c);
  ReleaseShape(c, level->coverage);
  level->coverage = nullptr;
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
  Level* level = Top(c);
  if (level->backdrop != nullptr) {
    // A pass-through group's opacity and masks fade what its members did
    // back towards what was below it.
    const Status faded = FadeGroup(c, level->record, level->canvas,
                                   level->backdrop, level->shape);
    Canvas* backdrop = level->backdrop;
    const uint32_t record = level->record;
    if (level->shape != nullptr) {
      // With clipped items: its content, taken out of its parent's canvas,
      // is the base of a clipping group.
      SeparateGroup(level->canvas, backdrop, level->shape);
      ReleaseShape(c, level->shape);
      --c->depth;
      Level* clip = PushLevel(c, kLevelClip, backdrop, record);
      clip->keep_alpha = true;
      clip->base_painted = true;
      return faded;
    }
    ClearCanvas(backdrop);
    --c->canvases_in_use;
    --c->depth;
    ItemPainted(Top(c));
    return faded;
  }
  const PaintParams p = ItemParams(c, &c->levels[c->depth - 2], level->record);
  return CloseLevel(c, p);
}

// The clipping group on top is painted with its base's blend mode and
// opacity (the base's mask is on its canvas already).
Status CloseClip(Composer* c) {
  const Level* level = Top(c);
  const LayerRecord& base = c->list->records[level->record];
  PaintParams p;
  p.mode = ItemBlendMode(base, Traits(c, level->record));
  if (p.mode == kBlendPassThrough) p.mode = kBlendNormal;
  const Level* parent = &c->levels[c->depth - 2];
  p.opacity = static_cast<uint8_t>(MulDiv255(base.opacity, parent->fill));
  p.effects_opacity = p.opacity;
  p.keep_alpha = KeepsAlpha(parent);
  p.masks = false;
  p.level = c->depth - 2;
  p.clip_shape = p.keep_alpha ? parent->clip_shape : nullptr;
  p.records_clip_shape = false;
  p.coverage = nullptr;
  p.effects = true;
  SetAdvancedBlending(Traits(c, level->record), c->channels, &p);
  ReleaseShape(c, Top(c)->clip_shape);
  Top(c)->clip_shape = nullptr;
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
    if (!ClipsAfter(top) || ItemClipped(c, next)) return next;
    const Status closed = CloseClip(c);
    if (closed != kDone) *status = closed;
  }
}

Status PaintItemLayer(Composer* c, uint32_t index) {
  Level* level = Top(c);
  if (c->cut_short && c->cut_at == kNoMatch) c->cut_at = index;
  PaintParams p = ItemParams(c, level, index);
  const bool adjustment = Traits(c, index).adjustment;
  if (level->kind == kLevelClip && !level->base_painted && !adjustment &&
      p.opacity < 255) {
    // A base of faded fill: its clipped items clip to its whole shape.
    level->clip_shape = TakeShape(c);
    p.clip_shape = level->clip_shape;
    p.records_clip_shape = p.clip_shape != nullptr;
  }
  Status status = kDone;
  if (adjustment) {
    status = PaintAdjustment(c, index, level->canvas, p);
    // The layers clipped to it show within its masks.
    if (index + 1 < c->list->count &&
        Traits(c, index + 1).clipped_to_adjustment) {
      level->coverage = AdjustmentCoverage(c, index, p.opacity);
    }
  } else if (!PaintKnockout(c, index, level, p, &status)) {
    status = PaintLayer(c, index, level->canvas, p);
  }
  ItemPainted(level);
  return status;
}

// Starts the item at i. Returns where the walk goes on.
uint32_t StartItem(Composer* c, uint32_t i, Status* status) {
  const uint32_t end = ItemEnd(c, i);
  const LayerRecord& r = c->list->records[end];
  Level* top = Top(c);
  if (!Traits(c, end).clipped_to_adjustment) {
    ReleaseShape(c, top->coverage);
    top->coverage = nullptr;
  }
  if (!ClipsAfter(top) && ItemClipped(c, end + 1)) {
    if (!LayerVisible(r))
      return AfterItem(c, SkipClippedRun(c, end + 1), status);
    // A pass-through base blends its members with what is below it; its
    // content is taken apart from that when it closes.
    if (OpensGroup(c, i) && BlendsThrough(c, end) &&
        OpenPassWithBackdrop(c, end, true, status)) {
      return i + 1;
    }
    Canvas* canvas = TakeCanvas(c);
    if (canvas != nullptr) {
      PushLevel(c, kLevelClip, canvas, end)->keep_alpha = true;
    } else {
      // Past the canvas limit the base is painted alone.
      top->skip_run_at = end + 1;
    }
  }
  if (!LayerVisible(r)) return AfterItem(c, end + 1, status);
  if (OpensGroup(c, i)) {
    *status = OpenGroup(c, end);
    return i + 1;
  }
  *status = PaintItemLayer(c, i);
  return AfterItem(c, i + 1, status);
}

}  // namespace

Status WalkLayers(Composer* c) {
  Status status = kDone;
  uint32_t i = 0;
  while (i < c->list->count && status == kDone) {
    if (ClosesGroup(c, i)) {
      if (Top(c)->record == i &&
          (Top(c)->kind == kLevelGroup || Top(c)->kind == kLevelPass)) {
        status = CloseGroup(c);
      }
      i = AfterItem(c, i + 1, &status);
      continue;
    }
    i = StartItem(c, i, &status);
  }
  while (status == kDone && c->depth > 1) {
    const LevelKind kind = Top(c)->kind;
    status = kind == kLevelClip ? CloseClip(c) : CloseGroup(c);
  }
  return status;
}

void OpenRoot(Composer* c) {
  c->depth = 0;
  PushLevel(c, kLevelRoot, &c->canvases[0], kNoMatch);
}

void ReleaseLevels(Composer* c) {
  for (uint32_t d = 0; c->levels != nullptr && d < c->depth; ++d) {
    ReleaseShape(c, c->levels[d].shape);
    c->levels[d].shape = nullptr;
    ReleaseShape(c, c->levels[d].coverage);
    c->levels[d].coverage = nullptr;
    if (c->levels[d].kind == kLevelClip) {
      ReleaseShape(c, c->levels[d].clip_shape);
      c->levels[d].clip_shape = nullptr;
    }
  }
}

}  // namespace engine
