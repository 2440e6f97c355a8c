// A layer's zip channels inflated at once, on as many threads as the
// layer's size is worth (at most one a channel): each channel is a stream
// of its own, inflated whole into a plane, after which
// the channel's reader reads the plane's rows as raw rows (of the samples
// the channel's reader handed out: 8-bit, or 16-bit as stored). A row the
// stream did not reach stays unreached, so the rows read are the rows the
// stream would have given.
#include "engine/base/bytes.h"
#include "engine/base/limits.h"
#include "engine/base/memory.h"
#include "engine/base/threads.h"
#include "engine/channels/layer_rows.h"

namespace engine {
namespace {

struct InflateJob {
  LayerRows* rows;
  uint32_t height;
  int roles[kPixelRoles];  // the zip channels
  uint32_t count;          // of them
  uint32_t parts;          // part k inflates channels k, k + parts, ...
};

void InflateChannel(InflateJob* job, uint32_t part) {
  const int role = job->roles[part];
  LayerRows* rows = job->rows;
  uint8_t* plane = rows->inflated + rows->plane_at[role];
  const uint64_t row_bytes = static_cast<uint64_t>(rows->width) *
                             ChannelOutSize(rows->readers[role].spec);
  uint32_t y = 0;
  for (; y < job->height; ++y) {
    const uint8_t* row = ReadChannelRow(&rows->readers[role]);
    if (row == nullptr) break;
    memcpy(plane + row_bytes * y, row, row_bytes);
  }
  rows->plane_rows[role] = y;
}

void InflateChannels(void* context, uint32_t part) {
  InflateJob* job = static_cast<InflateJob*>(context);
  for (uint32_t c = part; c < job->count; c += job->parts) {
    InflateChannel(job, c);
  }
}

}  // namespace

bool InflateLayerChannels(LayerRows* rows, uint32_t height) {
  InflateJob job;
  memset(&job, 0, sizeof(job));
  job.rows = rows;
  job.height = height;
  uint32_t count = 0;
  uint64_t bytes = 0;
  for (int r = 0; r < kPixelRoles; ++r) {
    rows->plane_of[r] = kNoPlane;
    const ChannelSpec& spec = rows->readers[r].spec;
    if (rows->active[r] && IsZipCompression(spec.compression)) {
      rows->plane_of[r] = static_cast<uint8_t>(count);
      rows->plane_at[r] = bytes;
      bytes +=
          static_cast<uint64_t>(rows->width) * height * ChannelOutSize(spec);
      job.roles[count++] = r;
    }
  }
  if (count < 2 || rows->next_row != 0 || bytes > kLimits.max_scratch_bytes) {
    return false;
  }
  rows->inflated = static_cast<uint8_t*>(Allocate(bytes + 1));
  // Without the memory the channels are inflated as their rows are read.
  if (rows->inflated == nullptr) return false;
  rows->inflated_source = MemorySource(rows->inflated, bytes);
  job.count = count;
  job.parts = PartsFor(bytes, count);
  RunParts(job.parts, InflateChannels, &job);
  return true;
}

Status ReadInflatedPlanes(LayerRows* rows) {
  for (int r = 0; r < kPixelRoles; ++r) {
    if (rows->plane_of[r] == kNoPlane || !rows->active[r]) continue;
    ChannelSpec raw = rows->readers[r].spec;
    CloseChannel(&rows->readers[r]);
    rows->active[r] = false;
    const uint64_t start = rows->plane_at[r];
    raw.compression = kCompressionRaw;
    raw.sample_size = ChannelOutSize(raw);
    raw.counts = 0;
    raw.data = start;
    raw.end = start + static_cast<uint64_t>(rows->plane_rows[r]) * rows->width *
                          raw.sample_size;
    const Status opened =
        OpenChannel(&rows->readers[r], &rows->inflated_source, raw);
    if (opened != kDone) return opened;
    rows->active[r] = true;
  }
  return kDone;
}

Status ShareInflatedPlanes(LayerRows* from, LayerRows* to) {
  if (from->inflated == nullptr) return kDone;
  for (int r = 0; r < kPixelRoles; ++r) {
    if (from->plane_of[r] == kNoPlane || !from->active[r] || !to->active[r]) {
      continue;
    }
    CloseChannel(&to->readers[r]);
    to->active[r] = false;
    const Status opened = OpenChannel(&to->readers[r], &from->inflated_source,
                                      from->readers[r].spec);
    if (opened != kDone) return opened;
    to->active[r] = true;
  }
  return kDone;
}

}  // namespace engine
