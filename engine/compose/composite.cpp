// The compositor's entry: the composer's working memory, the walk, and the
// canvas it leaves.
#include "engine/compose/composite.h"

#include "engine/base/limits.h"
#include "engine/base/memory.h"

namespace engine {
namespace {

Status TakeComposer(const Document* doc, const LayerList* list,
                    const CompositePlan& plan, bool palette_output,
                    CanvasChannels channels, RowBand band, Composer* c) {
  memset(c, 0, sizeof(*c));
  c->doc = doc;
  c->list = list;
  c->palette_output = palette_output;
  c->channels = channels;
  c->cut_at = kNoMatch;
  c->plan = plan;
  const uint32_t width = doc->width;
  const uint32_t height = doc->height;
  // Every group level may add a clipping level above it.
  const uint64_t levels = 2 * static_cast<uint64_t>(c->plan.depth) + 2;
  c->levels = AllocateArray<Level>(levels);
  c->row = static_cast<uint8_t*>(Allocate(4ull * width + 4));
  c->alpha = static_cast<uint8_t*>(Allocate(static_cast<uint64_t>(width) + 4));
  if (doc->deep_composite) {
    c->deep = AllocateZeroedArray<uint16_t>(
        3ull * width * (band.end - band.first) + 3);
  }
  if (c->levels == nullptr || c->row == nullptr || c->alpha == nullptr ||
      (doc->deep_composite && c->deep == nullptr)) {
    return kNoMemory;
  }
  for (uint32_t k = 0; k <= kLimits.max_canvas_levels; ++k) {
    InitCanvas(&c->canvases[k], width, height, static_cast<int32_t>(band.first),
               band.end - band.first);
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
  Release(c->alpha);
  Release(c->deep);
  for (uint32_t i = 0; c->kept != nullptr && i < c->list->count; ++i) {
    Release(c->kept[i]);
  }
  Release(c->kept);
  Release(c);
}

Status ComposeBand(const Document* doc, const LayerList* list,
                   const CompositePlan& plan, bool palette_output,
                   CanvasChannels channels, RowBand band,
                   const Composer* colours, Composer** composer) {
  Composer* c = static_cast<Composer*>(Allocate(sizeof(Composer)));
  *composer = c;
  if (c == nullptr) return kNoMemory;
  // Groups' effects see the rows around the band.
  const uint32_t margin = plan.band_margin;
  RowBand held = band;
  held.first = band.first > margin ? band.first - margin : 0;
  held.end = doc->height - band.end > margin ? band.end + margin : doc->height;
  Status status =
      TakeComposer(doc, list, plan, palette_output, channels, held, c);
  c->colours = colours;
  if (status == kDone) status = WalkLayers(c);
  // The band's own rows of the root canvas.
  c->band = c->canvases[0];
  c->band.top = static_cast<int32_t>(band.first);
  c->band.rows = band.end - band.first;
  if (c->band.pixels != nullptr) {
    c->band.pixels = CanvasRow(&c->canvases[0], c->band.top);
  }
  return status;
}

}  // namespace engine
