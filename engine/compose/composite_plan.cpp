// The structure of the layer list. Records run bottom-most first; a group
// is a divider record (section type 3), its members, then the group's own
// record (type 1 or 2) carrying its visibility, opacity and blend mode.
// Dividers and group records pair up like brackets; one without a partner
// stands for nothing.
#include "common/log.h"
#include "engine/base/bytes.h"
#include "engine/base/log_messages.h"
#include "engine/base/memory.h"
#include "engine/compose/composite.h"
#include "engine/compose/composite_source.h"

namespace engine {
namespace {

bool IsGroupRecord(uint8_t section) {
  return section == kSectionOpenGroup || section == kSectionClosedGroup;
}

// The adjustment of record i, read once for every band; one that cannot be
// read is left out, with a log line.
Status ReadPlanAdjustment(const Document* doc, const LayerList* list,
                          uint32_t i, CompositePlan* plan) {
  const LayerTraits& traits = plan->traits[i];
  if (!traits.adjustment || !LayerVisible(list->records[i])) return kDone;
  Adjustment* a = static_cast<Adjustment*>(Allocate(sizeof(Adjustment)));
  if (a == nullptr) return kNoMemory;
  if (!ReadAdjustment(doc, traits, a)) {
    Release(a);
    LogLine(doc->log, logtext::kAdjustmentLeftOut, i,
            ReadU32(reinterpret_cast<const uint8_t*>(traits.adjustment_key)));
    return kDone;
  }
  plan->adjustments[i] = a;
  return kDone;
}

// An adjustment layer as a clipping group's base has no pixels of its own:
// the layers clipped to it (a run of plain layers after it) are painted
// onto what lies below as it is, within its masks. A hidden one is a
// hidden base, which hides them.
void NoteAdjustmentBase(const LayerList* list, uint32_t i,
                        LayerTraits* traits) {
  LayerTraits& t = traits[i];
  if (i == 0 || list->records[i].clipping == 0 || t.section != kSectionLayer) {
    return;
  }
  const LayerTraits& below = traits[i - 1];
  if (below.section != kSectionLayer) return;
  t.clipped_to_adjustment =
      list->records[i - 1].clipping != 0
          ? below.clipped_to_adjustment
          : below.adjustment && LayerVisible(list->records[i - 1]);
}

// The layer effects of record i: a layer's, or a group's (painted around
// the group's composite). Every band holds the rows around it that a
// group's effects reach (nested groups' reaches add up).
void ReadPlanEffects(const Document* doc, const LayerList* list, uint32_t i,
                     CompositePlan* plan) {
  const LayerTraits& traits = plan->traits[i];
  const bool layer = traits.section == kSectionLayer && !traits.adjustment;
  if (!LayerVisible(list->records[i]) ||
      (!layer && !IsGroupRecord(traits.section))) {
    return;
  }
  // A shape's own stroke is drawn where something may cover it, or where
  // no pixels hold it.
  const bool shape_stroke =
      layer && ShapeStrokeShows(traits) &&
      (traits.effects.data != nullptr ||
       (i + 1 < list->count && list->records[i + 1].clipping != 0) ||
       !SourceHasPixels(doc, list, i, traits));
  plan->effects[i] = ReadLayerEffects(doc, traits, i, shape_stroke);
  if (layer || plan->effects[i] == nullptr) return;
  const uint32_t margin = plan->band_margin + plan->effects[i]->reach;
  plan->band_margin = margin < doc->height ? margin : doc->height;
}

}  // namespace

Status BuildCompositePlan(const Document* doc, const LayerList* list,
                          CompositePlan* plan) {
  const uint32_t n = list->count;
  memset(plan, 0, sizeof(*plan));
  plan->count = n;
  plan->traits = AllocateArray<LayerTraits>(n);
  plan->match = AllocateArray<uint32_t>(n);
  plan->adjustments = AllocateZeroedArray<Adjustment*>(n);
  plan->effects = AllocateZeroedArray<LayerEffects*>(n);
  uint32_t* open = AllocateArray<uint32_t>(n);  // dividers
  if (plan->traits == nullptr || plan->match == nullptr || open == nullptr ||
      plan->adjustments == nullptr || plan->effects == nullptr) {
    Release(open);
    ReleaseCompositePlan(plan);
    return kNoMemory;
  }
  uint32_t open_count = 0;
  for (uint32_t i = 0; i < n; ++i) {
    ReadLayerTraits(doc, list->records[i], &plan->traits[i]);
    NoteAdjustmentBase(list, i, plan->traits);
    plan->adjustments[i] = nullptr;
    plan->effects[i] = nullptr;
    ReadPlanEffects(doc, list, i, plan);
    const Status read = ReadPlanAdjustment(doc, list, i, plan);
    if (read != kDone) {
      Release(open);
      ReleaseCompositePlan(plan);
      return read;
    }
    LayerTraits* traits = plan->traits;
    const uint8_t section = traits[i].section;
    plan->match[i] = kNoMatch;
    if (traits[i].adjustment && open_count > 0) {
      traits[open[open_count - 1]].holds_adjustment = true;
    }
    if (traits[i].knockout != 0 && open_count > 0) {
      traits[open[open_count - 1]].holds_knockout = true;
    }
    if (section == kSectionDivider) {
      open[open_count++] = i;
      if (open_count > plan->depth) plan->depth = open_count;
    } else if (IsGroupRecord(section) && open_count > 0) {
      const uint32_t divider = open[--open_count];
      plan->match[divider] = i;
      plan->match[i] = divider;
      traits[i].holds_adjustment = traits[divider].holds_adjustment;
      traits[i].holds_knockout = traits[divider].holds_knockout;
      if (open_count > 0 && traits[i].holds_adjustment) {
        traits[open[open_count - 1]].holds_adjustment = true;
      }
    }
  }
  Release(open);
  return kDone;
}

void ReleaseCompositePlan(CompositePlan* plan) {
  for (uint32_t i = 0; plan->adjustments != nullptr && i < plan->count; ++i) {
    Release(plan->adjustments[i]);
  }
  for (uint32_t i = 0; plan->effects != nullptr && i < plan->count; ++i) {
    Release(plan->effects[i]);
  }
  Release(plan->adjustments);
  Release(plan->effects);
  Release(plan->traits);
  Release(plan->match);
  memset(plan, 0, sizeof(*plan));
}

}  // namespace engine
