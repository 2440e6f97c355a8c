// The compositor's entry: whether a document has a composite, the composer's
// working memory, and the picture handed out.
#include "engine/compose/composite.h"

#include "engine/base/limits.h"
#include "engine/base/log_messages.h"

namespace {

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
  OpenRoot(c);
  c->work_limit =
      static_cast<uint64_t>(width) * height * kLimits.composite_canvas_passes +
      DocumentSize(state) * kLimits.max_zip_expansion;
  return kDone;
}

void ReleaseComposer(Composer* c) {
  ReleaseLevels(c);
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
  // Layers may be zip-compressed (and fills describe much from little): the
  // picture and its canvas are held to what zip data could describe.
  const uint64_t canvas = CanvasBytes(static_cast<uint32_t>(header->biWidth),
                                      static_cast<uint32_t>(header->biHeight));
  if (!PictureFitsDocument(header->biSizeImage, size, true) ||
      !PictureFitsDocument(canvas, size, true)) {
    *request->pixels_slot = nullptr;
    return kTooLarge;
  }
  LogLine(state->log, logtext::kComposite, list->count);
  Composer* c =
      static_cast<Composer*>(HeapAlloc(GetProcessHeap(), 0, sizeof(Composer)));
  Status status =
      c != nullptr ? TakeComposer(state, list, header, c) : kNoMemory;
  if (status == kDone) status = WalkLayers(c);
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
