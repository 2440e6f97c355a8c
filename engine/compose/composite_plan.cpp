// The structure of the layer list. Records run bottom-most first; a group
// is a divider record (section type 3), its members, then the group's own
// record (type 1 or 2) carrying its visibility, opacity and blend mode.
// Dividers and group records pair up like brackets; one without a partner
// stands for nothing.
#include "engine/base/bytes.h"
#include "engine/compose/composite.h"

namespace {

void* TakeArray(uint32_t count, uint32_t element) {
  const SIZE_T bytes = static_cast<SIZE_T>(count) * element + 1;
  return HeapAlloc(GetProcessHeap(), 0, bytes);
}

void FreeArray(void* array) {
  if (array != nullptr) HeapFree(GetProcessHeap(), 0, array);
}

bool IsGroupRecord(uint8_t section) {
  return section == kSectionOpenGroup || section == kSectionClosedGroup;
}

}  // namespace

Status BuildCompositePlan(const DecodeState* state, const LayerList* list,
                          CompositePlan* plan) {
  const uint32_t n = list->count;
  memset(plan, 0, sizeof(*plan));
  plan->section = static_cast<uint8_t*>(TakeArray(n, 1));
  plan->match = static_cast<uint32_t*>(TakeArray(n, 4));
  plan->offsets = static_cast<uint64_t*>(TakeArray(n, 8));
  uint32_t* open = static_cast<uint32_t*>(TakeArray(n, 4));  // dividers
  if (plan->section == nullptr || plan->match == nullptr ||
      plan->offsets == nullptr || open == nullptr) {
    FreeArray(open);
    ReleaseCompositePlan(plan);
    return kNoMemory;
  }
  uint32_t open_count = 0;
  uint64_t offset =
      static_cast<uint64_t>(list->channel_data - state->file_base);
  for (uint32_t i = 0; i < n; ++i) {
    const LayerRecord& layer = list->records[i];
    plan->offsets[i] = offset;
    offset = SaturatingAdd(offset, layer.channel_total);
    plan->section[i] = ReadSectionType(state, layer);
    plan->match[i] = kNoMatch;
    if (plan->section[i] == kSectionDivider) {
      open[open_count++] = i;
      if (open_count > plan->depth) plan->depth = open_count;
    } else if (IsGroupRecord(plan->section[i]) && open_count > 0) {
      const uint32_t divider = open[--open_count];
      plan->match[divider] = i;
      plan->match[i] = divider;
    }
  }
  FreeArray(open);
  return kDone;
}

void ReleaseCompositePlan(CompositePlan* plan) {
  FreeArray(plan->section);
  FreeArray(plan->match);
  FreeArray(plan->offsets);
  memset(plan, 0, sizeof(*plan));
}
