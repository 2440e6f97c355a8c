// The merged picture of a document saved without one: its layers
// composited, in the merged picture's output format.
#include "engine/base/limits.h"
#include "engine/base/log_messages.h"
#include "engine/base/memory.h"
#include "engine/channels/rows.h"
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

// One band of rows composited by one thread, through every layer, and
// flattened into its rows of the output block.
struct CompositeJob {
  ServeState* s;
  const CompositePlan* plan;
  uint8_t* pixels;
  uint32_t parts;
  Status status[kLimits.max_threads];
  uint32_t cut_at;  // band 0's: the first layer past the work limit
};

CanvasChannels ChannelsOf(const Document* doc) {
  if (doc->color_mode == kModeGrayscale) return kCanvasGray;
  return doc->color_mode == kModeCmyk ? kCanvasCmy : kCanvasRgb;
}

// The rows of a CMYK document's two canvases (cyan, magenta, yellow; and
// black), each flattened onto no ink, converted to the output's colours.
Status FlattenCmyk(ServeState* s, const Canvas* colours, const Canvas* black,
                   RowBand band, uint8_t* pixels) {
  const uint32_t width = s->doc.width;
  uint8_t* row = static_cast<uint8_t*>(Allocate(8ull * width + 8));
  if (row == nullptr) return kNoMemory;
  uint8_t* c = row + 4ull * width;
  uint8_t* m = c + width;
  uint8_t* y = m + width;
  uint8_t* k = y + width;
  const uint32_t step = s->format.sample_step;
  for (uint32_t line = band.first; line < band.end; ++line) {
    FlattenCanvasRow(colours, static_cast<int32_t>(line), 4, row);
    FlattenCanvasRow(black, static_cast<int32_t>(line), 1, k);
    for (uint32_t i = 0; i < width; ++i) {
      c[i] = row[4 * i + 2];
      m[i] = row[4 * i + 1];
      y[i] = row[4 * i];
    }
    uint8_t* dst = pixels + static_cast<uint64_t>(s->doc.height - 1 - line) *
                                s->format.stride;
    if (s->colour != nullptr) {
      ConvertCmykPixels(s->colour, c, m, y, k, width, step, dst);
    } else {
      for (uint32_t i = 0; i < width; ++i) {
        CmykToBgr(c[i], m[i], y[i], k[i], dst + step * i);
        if (step == 4) dst[4 * i + 3] = 255;
      }
    }
    memset(dst + s->format.row_bytes, 0,
           s->format.stride - s->format.row_bytes);
  }
  Release(row);
  return kDone;
}

// A 16-bit document composited for its profile: each flattened pixel
// converts from the 16-bit samples the compositor kept where the canvas
// shows a layer's pixel as it is (opaque, their first bytes unchanged),
// else from its 8-bit colour (a gray document's into its level).
Status ConvertDeepRows(const ServeState* s, const Composer* c, RowBand band,
                       uint8_t* pixels) {
  const uint32_t width = s->doc.width, step = s->format.sample_step;
  uint8_t* planes = static_cast<uint8_t*>(Allocate(6ull * width + 6));
  if (planes == nullptr) return kNoMemory;
  uint8_t* wide[3] = {planes, planes + 2ull * width, planes + 4ull * width};
  const Canvas* canvas = ComposedCanvas(c);
  for (uint32_t y = band.first; y < band.end; ++y) {
    uint8_t* dst = pixels + static_cast<uint64_t>(s->doc.height - 1 - y) *
                                s->format.stride;
    const int32_t row = static_cast<int32_t>(y);
    const uint8_t* shown =
        canvas->pixels != nullptr ? CanvasRow(canvas, row) : nullptr;
    const uint16_t* deep = DeepRow(c, row);
    for (uint32_t i = 0; i < width; ++i) {
      const bool opaque = shown != nullptr && shown[4 * i + 3] == 255;
      for (uint32_t k = 0; k < 3; ++k) {
        const uint32_t flat = step == 1 ? dst[i] : dst[step * i + 2 - k];
        const uint32_t kept = deep[3 * i + k];
        const uint32_t v = opaque && kept >> 8 == flat ? kept : flat * 257;
        wide[k][2 * i] = static_cast<uint8_t>(v >> 8);
        wide[k][2 * i + 1] = static_cast<uint8_t>(v);
      }
    }
    if (step == 1) {
      ConvertGrayWide(s->colour, wide[0], width, 1, dst);
    } else {
      ConvertRgbWide(s->colour, wide[0], wide[1], wide[2], width, step, dst);
    }
  }
  Release(planes);
  return kDone;
}

Status ComposeChannels(CompositeJob* job, RowBand band, CanvasChannels channels,
                       const Composer* colours, Composer** composer) {
  ServeState* s = job->s;
  return ComposeBand(&s->doc, &s->layers, *job->plan, PaletteOutput(s->format),
                     channels, band, colours, composer);
}

void ComposeRows(void* context, uint32_t k) {
  CompositeJob* job = static_cast<CompositeJob*>(context);
  ServeState* s = job->s;
  const RowBand band = BandOf(s->doc.height, job->parts, k);
  const CanvasChannels channels = ChannelsOf(&s->doc);
  Composer* composer = nullptr;
  Composer* black = nullptr;
  Status status = ComposeChannels(job, band, channels, nullptr, &composer);
  if (status == kDone && channels == kCanvasCmy) {
    status = ComposeChannels(job, band, kCanvasBlack, composer, &black);
    if (status == kDone) {
      status = FlattenCmyk(s, ComposedCanvas(composer), ComposedCanvas(black),
                           band, job->pixels);
    }
  } else if (status == kDone) {
    const FlatRows rows = {s->format.sample_step, s->format.row_bytes,
                           s->format.stride};
    FlattenCanvas(ComposedCanvas(composer), rows, job->pixels);
    // RGB documents composite in their own colours, then convert.
    if (s->doc.deep_composite) {
      status = ConvertDeepRows(s, composer, band, job->pixels);
    } else if (s->colour != nullptr && s->doc.color_mode == kModeRgb) {
      for (uint32_t y = band.first; y < band.end; ++y) {
        const uint64_t at = static_cast<uint64_t>(s->doc.height - 1 - y);
        ConvertBgrPixels(s->colour, job->pixels + at * rows.stride,
                         s->doc.width, s->format.sample_step);
      }
    }
  }
  job->status[k] = status;
  if (status == kDone && k == 0) job->cut_at = composer->cut_at;
  ReleaseComposer(composer);
  ReleaseComposer(black);
}

// Composites every band into a new output block; the first band that
// fails gives the result, with no block.
Status ComposeInBands(ServeState* s, const CompositePlan& plan) {
  HLOCAL block = LocalAlloc(LMEM_FIXED, s->header.biSizeImage);
  *s->request->pixels_slot = block;
  if (block == nullptr) return kNoMemory;
  CompositeJob job;
  memset(&job, 0, sizeof(job));
  job.s = s;
  job.plan = &plan;
  job.cut_at = kNoMatch;
  job.pixels = static_cast<uint8_t*>(LocalLock(block));
  const uint64_t area = static_cast<uint64_t>(s->doc.width) * s->doc.height;
  job.parts = PartsFor(area * s->layers.count, s->doc.height);
  RunParts(job.parts, ComposeRows, &job);
  LocalUnlock(block);
  const Status status = FirstFailure(job.status, job.parts);
  if (status != kDone) {
    LocalFree(block);
    *s->request->pixels_slot = nullptr;
    return status;
  }
  if (job.cut_at != kNoMatch) {
    LogLine(s->doc.log, logtext::kCompositeCutShort, job.cut_at);
  }
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
  // A 16-bit RGB or gray document with a profile composites in its own
  // colours at 8 bits, as any (its blend modes, opacities and adjustments
  // act on its values), and converts from the 16-bit samples of the layer
  // pixels the composite shows as they are (a linear-light document's
  // shadows need them). A CMYK document converts its 8-bit inks.
  const uint16_t mode = s->doc.color_mode;
  s->doc.deep_composite = s->colour != nullptr && s->colour->wide &&
                          (mode == kModeRgb || mode == kModeGrayscale);
  CompositePlan plan;
  Status status = BuildCompositePlan(&s->doc, list, &plan);
  if (status == kDone) {
    status = ComposeInBands(s, plan);
  } else {
    *s->request->pixels_slot = nullptr;
  }
  ReleaseCompositePlan(&plan);
  return status;
}

}  // namespace engine
