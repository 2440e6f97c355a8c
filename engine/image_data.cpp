#include "engine/image_data.h"

#include "engine/bytes.h"
#include "engine/format.h"
#include "engine/rows.h"

namespace {

// Sum of `n` row byte counts from `at`; entries beyond the document read
// as 0.
uint64_t SumOfCounts(const DecodeState* state, uint64_t at, uint64_t n) {
  const uint32_t width = RowCountBytes(state->version);
  const uint64_t size = DocumentSize(state);
  uint64_t sum = 0;
  for (uint64_t row = 0; row < n && RangeFits(at, width, size);
       ++row, at += width) {
    sum += ReadLength(state->file_base + at, width);
  }
  return sum;
}

}  // namespace

uint64_t ImageDataPixelOffset(const DecodeState* state, uint32_t rows) {
  const uint64_t first = state->image_data + 2;
  if (state->compression != 1) return first;
  const uint64_t table = static_cast<uint64_t>(RowCountBytes(state->version)) *
                         rows * state->channels;
  const uint64_t left = DocumentSize(state) - first;
  return first + (table < left ? table : left);
}

Status OpenImageData(const DecodeState* state, uint32_t count, uint32_t samples,
                     uint32_t rows, ImageDataPlanes* planes) {
  memset(planes, 0, sizeof(*planes));
  const uint8_t* base = state->file_base;
  const uint64_t size = DocumentSize(state);
  const uint64_t table = state->image_data + 2;
  planes->pixel_data = ImageDataPixelOffset(state, rows);
  ChannelSpec spec;
  memset(&spec, 0, sizeof(spec));
  spec.end = state->file_end;
  spec.compression = state->compression;
  spec.version = state->version;
  spec.sample_size = SampleSizeForDepth(state->depth);
  spec.samples = samples;
  spec.rows = rows;
  const uint64_t counts_per_plane =
      static_cast<uint64_t>(rows) * RowCountBytes(state->version);
  uint64_t start = planes->pixel_data;
  for (uint32_t p = 0; p < count; ++p) {
    if (spec.compression == 1) {
      // Each plane's packed rows follow the packed rows of the one before.
      const uint64_t counts = table + counts_per_plane * p;
      spec.counts = counts < size ? base + counts : state->file_end;
      if (p > 0) start += SumOfCounts(state, counts - counts_per_plane, rows);
    } else if (p > 0) {
      start += ChannelRowSpan(spec) * rows;
    }
    planes->starts[p] = start;
    spec.data = start < size ? base + start : state->file_end;
    const Status opened = OpenChannel(&planes->readers[p], spec);
    if (opened != kDone) {
      CloseImageData(planes);
      return opened;
    }
    planes->count = p + 1;
  }
  return kDone;
}

void CloseImageData(ImageDataPlanes* planes) {
  for (uint32_t p = 0; p < planes->count; ++p) {
    CloseChannel(&planes->readers[p]);
  }
  planes->count = 0;
}
