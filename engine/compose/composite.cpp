// The compositor's entry: the composer's working memory, the walk, and the
// canvas it leaves.
#include "engine/compose/composite.h"

#include "engine/base/limits.h"
#include "engine/base/log_messages.h"
#include "engine/base/memory.h"

namespace engine {
namespace {

Status TakeComposer(const Document* doc, const LayerList* list,
                    bool palette_output, const ColourTables* cmyk_colour,
                    Composer* c) {
  memset(c, 0, sizeof(*c));
  c->doc = doc;
  c->list = list;
  c->palette_output = palette_output;
  c->cmyk_colour = cmyk_colour;
  c->cut_at = kNoMatch;
  const Status planned = BuildCompositePlan(doc, list, &c->plan);
  if (planned != kDone) return planned;
  const uint32_t width = doc->width;
  const uint32_t height = doc->height;
  // Every group level may add a clipping level above it.
  const uint64_t levels = 2 * static_cast<uint64_t>(c->plan.depth) + 2;
  c->levels = AllocateArray<Level>(levels);
  c->row = static_cast<uint8_t*>(Allocate(4ull * width + 4));
  if (c->levels == nullptr || c->row == nullptr) return kNoMemory;
  for (uint32_t k = 0; k <= kLimits.max_canvas_levels; ++k) {
    InitCanvas(&c->canvases[k], width, height);
  }
  c->canvases_in_use = 1;
  c->depth = 0;
  OpenRoot(c);
  c->work_limit =
      static_cast<uint64_t>(width) * height * kLimits.composite_canvas_passes +
      DocumentSize(doc) * kLimits.max_zip_expansion;
  return kDone;
}

}  // namespace

void ReleaseComposer(Composer* c) {
  if (c == nullptr) return;
  ReleaseLevels(c);
  for (uint32_t k = 0; k <= kLimits.max_canvas_levels; ++k) {
    ReleaseCanvas(&c->canvases[k]);
  }
  Release(c->levels);
  Release(c->row);
  ReleaseCompositePlan(&c->plan);
  Release(c);
}

Status ComposeLayers(const Document* doc, const LayerList* list,
                     bool palette_output, const ColourTables* cmyk_colour,
                     Composer** composer) {
  Composer* c = static_cast<Composer*>(Allocate(sizeof(Composer)));
  *composer = c;
  if (c == nullptr) return kNoMemory;
  Status status = TakeComposer(doc, list, palette_output, cmyk_colour, c);
  if (status == kDone) status = WalkLayers(c);
  if (status == kDone && c->cut_at != kNoMatch) {
    LogLine(doc->log, logtext::kCompositeCutShort, c->cut_at);
  }
  return status;
}

}  // namespace engine
