// The picture of one layer: its rows read through the layer's channels and
// written as a bottom-up DIB of the layer's own size, 1, 3 or 4 bytes a
// pixel (the fourth the transparency; fully transparent pixels are white).
#include "engine/base/limits.h"
#include "engine/base/log_messages.h"
#include "engine/base/threads.h"
#include "engine/channels/layer_rows.h"
#include "engine/channels/pixel_ops.h"
#include "engine/serve/serve.h"

namespace engine {
namespace {

// A zip channel whose stream ended before its rows: where and why.
void LogZipFaults(const Document* doc, uint32_t index, const LayerPlan& plan,
                  const LayerRows& rows) {
  for (int r = 0; r < kPixelRoles; ++r) {
    if (!rows.active[r]) continue;
    const ChannelReader& reader = rows.readers[r];
    const int32_t error = ChannelZipError(&reader);
    if (error == 0) continue;
    const uint64_t stop = reader.spec.data + ChannelConsumed(&reader);
    LogLine(doc->log, logtext::kLayerZipError, index, plan.places[r].number,
            error, static_cast<uint32_t>(stop));
  }
}

// A band of the layer's rows decoded by one thread: part 0 through the
// rows already open, every other through readers of its own stepped to its
// first row. Colour rows of RGB and gray documents go through the
// profile's conversion (CMYK rows, and 16-bit documents' rows, did as they
// were read).
struct LayerJob {
  const Document* doc;
  const LayerRecord* layer;
  const LayerPlan* plan;
  const ColourTables* colour;
  uint32_t width;
  uint32_t height;
  LayerRows* first;
  uint8_t* pixels;
  uint32_t parts;
  Status status[kLimits.max_threads];
};

void DecodeLayerBand(void* context, uint32_t k) {
  LayerJob* job = static_cast<LayerJob*>(context);
  const LayerPlan& plan = *job->plan;
  const RowBand band = BandOf(job->height, job->parts, k);
  LayerRows own;
  LayerRows* rows = job->first;
  if (k > 0) {
    job->status[k] =
        OpenLayerRows(job->doc, *job->layer, plan, job->colour, false, &own);
    if (job->status[k] == kDone) {
      job->status[k] = ShareInflatedPlanes(job->first, &own);
    }
    if (job->status[k] != kDone) {
      CloseLayerRows(&own);
      return;
    }
    rows = &own;
    SkipLayerRows(rows, band.first);
  }
  const uint32_t e = plan.bytes_per_pixel;
  const uint32_t used = e * job->width;
  const ColourTables* colour = job->colour;
  // Wide rows converted as they were read.
  const bool convert =
      colour != nullptr && e >= 3 && !plan.cmyk && !plan.lab && !rows->wide;
  for (uint32_t y = band.first; y < band.end; ++y) {
    uint8_t* dst =
        job->pixels + static_cast<uint64_t>(job->height - 1 - y) * plan.stride;
    ReadNextLayerRow(rows, 0, job->width, e, dst);
    if (convert) ConvertBgrPixels(colour, dst, job->width, e);
    if (e == 4) WhitenTransparent(dst, job->width);
    memset(dst + used, 0, plan.stride - used);
  }
  if (k > 0) CloseLayerRows(&own);
}

// Decodes every row into the pixel block in bands; zip channels, whose
// rows come only in order, are first inflated at once, each on a thread of
// its own (or else read on one thread). The first band that fails gives
// the result. `*logged`: what the zip streams say was logged already.
Status DecodeLayerRows(LayerJob* job, uint32_t index, bool* logged) {
  const uint64_t pixels = static_cast<uint64_t>(job->width) * job->height;
  job->parts = PartsFor(pixels * job->plan->bytes_per_pixel, job->height);
  *logged = false;
  if (job->parts > 1 && LayerRowsInflate(job->first)) {
    if (!InflateLayerChannels(job->first, job->height)) {
      job->parts = 1;
    } else {
      LogZipFaults(job->doc, index, *job->plan, *job->first);
      *logged = true;
      const Status planes = ReadInflatedPlanes(job->first);
      if (planes != kDone) return planes;
      if (LayerRowsInflate(job->first)) job->parts = 1;
    }
  }
  RunParts(job->parts, DecodeLayerBand, job);
  return FirstFailure(job->status, job->parts);
}

}  // namespace

Status DecodeLayerImage(ServeState* s) {
  DecodeRequest* request = s->request;
  const Document* doc = &s->doc;
  const LayerList* list = &s->layers;
  const uint32_t index = request->entry_index - 1;
  if (list->count == 0 || index >= list->count) return kLayerNotServed;
  LogLayerRecord(doc, list, index);
  LayerPlan plan;
  PlanLayer(doc, list, index, PaletteOutput(s->format), &plan);
  if (!plan.has_picture) return kLayerNotServed;
  ReadChannelWords(doc, index, &plan, doc->log);
  const LayerRecord& layer = list->records[index];
  const uint32_t width =
      plan.image_size != 0 ? static_cast<uint32_t>(layer.width) : 0;
  const uint32_t height =
      plan.image_size != 0 ? static_cast<uint32_t>(layer.height) : 0;

  LayerRows rows;
  const Status opened =
      OpenLayerRows(doc, layer, plan, s->colour, false, &rows);
  if (opened != kDone) {
    if (request->pixels_slot != nullptr) *request->pixels_slot = nullptr;
    return opened;
  }
  if (request->pixels_slot == nullptr) {
    CloseLayerRows(&rows);
    return kLayerNotServed;
  }
  HLOCAL block = LocalAlloc(LMEM_FIXED, plan.image_size);
  if (block == nullptr) {
    CloseLayerRows(&rows);
    *request->pixels_slot = nullptr;
    return kNoMemory;
  }
  LayerJob job;
  memset(&job, 0, sizeof(job));
  job.doc = doc;
  job.layer = &layer;
  job.plan = &plan;
  job.colour = s->colour;
  job.width = width;
  job.height = height;
  job.first = &rows;
  job.pixels = static_cast<uint8_t*>(LocalLock(block));
  bool logged = false;
  const Status decoded = DecodeLayerRows(&job, index, &logged);
  LocalUnlock(block);
  if (!logged) LogZipFaults(doc, index, plan, rows);
  CloseLayerRows(&rows);
  if (decoded != kDone) {
    LocalFree(block);
    *request->pixels_slot = nullptr;
    return decoded;
  }

  BITMAPINFOHEADER layer_header = s->header;
  layer_header.biWidth = layer.width;
  layer_header.biHeight = layer.height;
  layer_header.biBitCount = static_cast<WORD>(8 * plan.bytes_per_pixel);
  layer_header.biSizeImage = plan.image_size;
  memcpy(LocalLock(*request->header_slot), &layer_header, sizeof(layer_header));
  LocalUnlock(*request->header_slot);
  request->image_size = plan.image_size;
  *request->pixels_slot = block;
  return kDone;
}

}  // namespace engine
