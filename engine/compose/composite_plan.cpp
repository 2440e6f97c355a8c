// The structure of the layer list. Records run bottom-most first; a group
// is a divider record (section type 3), its members, then the group's own
// record (type 1 or 2) carrying its visibility, opacity and blend mode.
// Dividers and group records pair up like brackets; one without a partner
// stands for nothing.
#include "engine/base/memory.h"
#include "engine/compose/composite.h"

namespace engine {
namespace {

bool IsGroupRecord(uint8_t section) {
  return section == kSectionOpenGroup || section == kSectionClosedGroup;
}

}  // namespace

Status BuildCompositePlan(const Document* doc, const LayerList* list,
                          CompositePlan* plan) {
  const uint32_t n = list->count;
  memset(plan, 0, sizeof(*plan));
  plan->traits = AllocateArray<LayerTraits>(n);
  plan->match = AllocateArray<uint32_t>(n);
  uint32_t* open = AllocateArray<uint32_t>(n);  // dividers
  if (plan->traits == nullptr || plan->match == nullptr || open == nullptr) {
    Release(open);
    ReleaseCompositePlan(plan);
    return kNoMemory;
  }
  uint32_t open_count = 0;
  for (uint32_t i = 0; i < n; ++i) {
    ReadLayerTraits(doc, list->records[i], &plan->traits[i]);
    const uint8_t section = plan->traits[i].section;
    plan->match[i] = kNoMatch;
    if (section == kSectionDivider) {
      open[open_count++] = i;
      if (open_count > plan->depth) plan->depth = open_count;
    } else if (IsGroupRecord(section) && open_count > 0) {
      const uint32_t divider = open[--open_count];
      plan->match[divider] = i;
      plan->match[i] = divider;
    }
  }
  Release(open);
  return kDone;
}

void ReleaseCompositePlan(CompositePlan* plan) {
  Release(plan->traits);
  Release(plan->match);
  memset(plan, 0, sizeof(*plan));
}

}  // namespace engine
