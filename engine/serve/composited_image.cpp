// The merged picture of a document saved without one: its layers
// composited, in the merged picture's output format.
#include "engine/base/limits.h"
#include "engine/base/log_messages.h"
#include "engine/compose/composite.h"
#include "engine/serve/serve.h"

namespace engine {
namespace {

// Colour modes with a composite: the gray and colour outputs of 8-, 16-
// and 32-bit documents (an indexed or bitmap picture stays as stored).
bool CompositeSupported(const ServeState* s) {
  const uint16_t mode = s->doc.color_mode;
  if (mode == kModeIndexed || mode == kModeBitmap) return false;
  return s->format.sample_step >= 3 ||
         (mode == kModeGrayscale && PaletteOutput(s->format));
}

// The output block, flattened from the composed canvas.
Status HandOut(ServeState* s, const Canvas* canvas) {
  const DWORD bytes = s->header.biSizeImage;
  HLOCAL block = LocalAlloc(LMEM_FIXED, bytes);
  *s->request->pixels_slot = block;
  if (block == nullptr) return kNoMemory;
  const FlatRows rows = {s->format.sample_step, s->format.row_bytes,
                         s->format.stride};
  uint8_t* pixels = static_cast<uint8_t*>(LocalLock(block));
  FlattenCanvas(canvas, rows, pixels);
  // RGB documents composite in their own colours, then convert.
  if (s->colour != nullptr && s->doc.color_mode == kModeRgb) {
    for (uint32_t y = 0; y < s->doc.height; ++y) {
      ConvertBgrPixels(s->colour,
                       pixels + static_cast<uint64_t>(y) * rows.stride,
                       s->doc.width, s->format.sample_step);
    }
  }
  LocalUnlock(block);
  return kDone;
}

}  // namespace

Status DecodeComposite(ServeState* s) {
  const LayerList* list = &s->layers;
  if (!CompositeSupported(s) || list->count == 0 || !LayersComplete(list)) {
    return kNoComposite;
  }
  const uint64_t size = DocumentSize(&s->doc);
  // Layers may be zip-compressed (and fills describe much from little): the
  // picture and its canvas are held to what zip data could describe.
  const uint64_t canvas = CanvasBytes(s->doc.width, s->doc.height);
  if (!PictureFitsDocument(s->header.biSizeImage, size, true) ||
      !PictureFitsDocument(canvas, size, true)) {
    *s->request->pixels_slot = nullptr;
    return kTooLarge;
  }
  LogLine(s->doc.log, logtext::kComposite, list->count);
  Composer* composer = nullptr;
  Status status = ComposeLayers(&s->doc, list, PaletteOutput(s->format),
                                s->colour, &composer);
  if (status == kDone) {
    status = HandOut(s, ComposedCanvas(composer));
  } else {
    *s->request->pixels_slot = nullptr;
  }
  ReleaseComposer(composer);
  return status;
}

}  // namespace engine
