#include "engine/channels/image_data.h"

#include "engine/base/bytes.h"
#include "engine/base/limits.h"
#include "engine/base/memory.h"
#include "engine/channels/rows.h"
#include "engine/psd/format.h"

namespace engine {
namespace {

// Sum of `n` row byte counts from `at` in `table` (which holds the counts of
// the planes wanted); entries beyond it read as 0.
uint64_t SumOfCounts(const Document* doc, const Span& table, uint64_t at,
                     uint64_t n) {
  const uint32_t width = RowCountBytes(doc->version);
  uint64_t sum = 0;
  for (uint64_t row = 0; row < n && RangeFits(at, width, table.length);
       ++row, at += width) {
    sum += ReadLength(table.data + at, width);
  }
  return sum;
}

// Inflates the first `count` planes of the zip stream into `planes->inflated`
// and opens a reader on each plane there; rows the stream does not reach
// are left out of the plane's reader, so they read as not reached.
Status OpenZipPlanes(const Document* doc, uint32_t count, ChannelSpec spec,
                     ImageDataPlanes* planes) {
  const uint32_t size = ChannelOutSize(spec);
  const uint64_t row_bytes = static_cast<uint64_t>(spec.samples) * size;
  const uint64_t plane_bytes = row_bytes * spec.rows;
  const uint64_t bytes = plane_bytes * count;
  if (bytes > kLimits.max_scratch_bytes) return kTooLarge;
  planes->inflated = static_cast<uint8_t*>(Allocate(bytes + 1));
  if (planes->inflated == nullptr) return kNoMemory;
  const uint32_t rows = spec.rows;
  spec.rows = rows * count;
  ChannelReader stream;
  const Status opened = OpenChannel(&stream, doc->source, spec);
  if (opened != kDone) return opened;
  planes->inflated_source = MemorySource(planes->inflated, bytes);
  for (uint32_t p = 0; p < count; ++p) {
    uint8_t* plane = planes->inflated + plane_bytes * p;
    uint32_t reached = 0;
    for (uint32_t y = 0; y < rows; ++y) {
      const uint8_t* row = ReadChannelRow(&stream);
      if (row == nullptr) break;
      memcpy(plane + row_bytes * y, row, row_bytes);
      reached = y + 1;
    }
    planes->zip_ends[p] = doc->image_data + 2 + ChannelConsumed(&stream);
    ChannelSpec raw = spec;
    raw.compression = kCompressionRaw;
    raw.sample_size = size;
    raw.rows = rows;
    raw.data = plane_bytes * p;
    raw.end = raw.data + row_bytes * reached;
    planes->starts[p] = doc->image_data + 2;
    const Status plane_opened =
        OpenChannel(&planes->readers[p], &planes->inflated_source, raw);
    if (plane_opened != kDone) {
      CloseChannel(&stream);
      return plane_opened;
    }
    planes->count = p + 1;
  }
  planes->zip_error = ChannelZipError(&stream);
  CloseChannel(&stream);
  return kDone;
}

}  // namespace

uint64_t ImageDataPixelOffset(const Document* doc, uint32_t rows) {
  const uint64_t first = doc->image_data + 2;
  if (doc->compression != kCompressionPackBits) return first;
  const uint64_t table =
      static_cast<uint64_t>(RowCountBytes(doc->version)) * rows * doc->channels;
  const uint64_t left = DocumentSize(doc) - first;
  return first + (table < left ? table : left);
}

Status OpenImageData(const Document* doc, uint32_t count, uint32_t samples,
                     uint32_t rows, bool wide, ImageDataPlanes* planes) {
  memset(planes, 0, sizeof(*planes));
  const uint64_t size = DocumentSize(doc);
  const uint64_t table = doc->image_data + 2;
  planes->pixel_data = ImageDataPixelOffset(doc, rows);
  ChannelSpec spec;
  memset(&spec, 0, sizeof(spec));
  spec.end = size;
  spec.compression = doc->compression;
  spec.version = doc->version;
  spec.sample_size = SampleSizeForDepth(doc->depth);
  spec.samples = samples;
  spec.rows = rows;
  spec.wide = wide;
  planes->rows = rows;
  if (IsZipCompression(spec.compression)) {
    spec.data = planes->pixel_data;
    const Status opened = OpenZipPlanes(doc, count, spec, planes);
    if (opened != kDone) CloseImageData(planes);
    return opened;
  }
  const uint64_t counts_per_plane =
      static_cast<uint64_t>(rows) * RowCountBytes(doc->version);
  // PackBits: the counts of the planes wanted, to find where each begins.
  Span counts_table = {nullptr, 0, nullptr};
  if (spec.compression == kCompressionPackBits && count > 1) {
    const Status read = ReadSpan(doc->source, table,
                                 counts_per_plane * (count - 1), &counts_table);
    if (read != kDone) return read;
  }
  uint64_t start = planes->pixel_data;
  Status status = kDone;
  for (uint32_t p = 0; p < count && status == kDone; ++p) {
    if (spec.compression == kCompressionPackBits) {
      // Each plane's packed rows follow the packed rows of the one before.
      spec.counts = table + counts_per_plane * p;
      if (p > 0) {
        start +=
            SumOfCounts(doc, counts_table, counts_per_plane * (p - 1), rows);
      }
    } else if (p > 0) {
      start += ChannelRowSpan(spec) * rows;
    }
    planes->starts[p] = start;
    spec.data = start;
    status = OpenChannel(&planes->readers[p], doc->source, spec);
    if (status == kDone) planes->count = p + 1;
  }
  ReleaseSpan(&counts_table);
  if (status != kDone) CloseImageData(planes);
  return status;
}

void CloseImageData(ImageDataPlanes* planes) {
  for (uint32_t p = 0; p < planes->count; ++p) {
    CloseChannel(&planes->readers[p]);
  }
  planes->count = 0;
  Release(planes->inflated);
  planes->inflated = nullptr;
}

uint64_t ImageDataPlaneEnd(const Document* doc, const ImageDataPlanes& planes,
                           uint32_t p) {
  const ChannelSpec& spec = planes.readers[p].spec;
  if (IsZipCompression(doc->compression)) return planes.zip_ends[p];
  if (doc->compression == kCompressionPackBits) {
    return planes.starts[p] + ChannelConsumed(&planes.readers[p]);
  }
  const uint64_t span = ChannelRowSpan(spec);
  const uint64_t left = DocumentSize(doc) - planes.pixel_data;
  const uint64_t available = span == 0 ? 0 : left / span;
  uint64_t rows = (static_cast<uint64_t>(p) + 1) * planes.rows;
  if (span != 0 && rows > available) rows = available;
  return planes.pixel_data + rows * span;
}

}  // namespace engine
