// Rows of one channel. Raw rows follow one another, and a PackBits row
// begins where the row byte counts before it put it, whatever the runs of
// the row before it consumed. A row whose data lies past the channel's end,
// or whose count is 0, is not reached. Zip data is one stream inflated a row
// at a time; rows behind the point where it ends are not reached.
#include "engine/channels/channel_reader.h"

#include "engine/base/bytes.h"
#include "engine/base/limits.h"
#include "engine/base/memory.h"
#include "engine/channels/pixel_ops.h"
#include "engine/channels/rows.h"
#include "engine/channels/zip_rows.h"

namespace engine {
namespace {

void RecordMismatch(ChannelReader* r, int64_t delta, uint64_t count) {
  if (r->mismatch_count < kKeptMismatches) {
    RowMismatch* m = &r->mismatches[r->mismatch_count];
    m->row = r->row;
    m->delta = static_cast<int32_t>(delta);
    m->count = static_cast<uint32_t>(count);
  }
  ++r->mismatch_count;
}

const uint8_t* ReadRawRow(ChannelReader* r) {
  const ChannelSpec& s = r->spec;
  const uint64_t span = ChannelRowSpan(s);
  const uint64_t start = r->next_offset;
  r->next_offset += span;
  if (!RangeFits(start, span, BytesLeft(s.data, s.end))) return nullptr;
  const uint8_t* at = s.data + start;
  if (s.sample_size == 1) return at;  // used in place
  ReduceSamples(at, s.samples, s.sample_size, r->row8);
  return r->row8;
}

const uint8_t* ReadPackedRow(ChannelReader* r) {
  const ChannelSpec& s = r->spec;
  const uint32_t width = RowCountBytes(s.version);
  uint64_t count = 0;
  if (BytesLeft(r->counts, s.end) >= width) {
    count = ReadLength(r->counts, width);
    r->counts += width;
  }
  const uint64_t start = r->next_offset;
  r->next_offset += count;
  if (count == 0) return nullptr;
  if (start >= BytesLeft(s.data, s.end)) {
    // No byte of the row is in the document: its runs consumed none.
    RecordMismatch(r, -static_cast<int64_t>(count), count);
    return nullptr;
  }
  const uint8_t* at = s.data + start;
  const uint32_t span = static_cast<uint32_t>(ChannelRowSpan(s));
  uint8_t* target = s.sample_size == 1 ? r->row8 : r->unpacked;
  const uint8_t* stop = nullptr;
  const uint32_t filled = UnpackBitsRowWide(at, s.end, target, span, &stop);
  memset(target + filled, 0, span - filled);
  const int64_t consumed = stop - at;
  if (static_cast<uint64_t>(consumed) != count) {
    RecordMismatch(r, consumed - static_cast<int64_t>(count), count);
  }
  if (s.sample_size != 1) {
    ReduceSamples(r->unpacked, s.samples, s.sample_size, r->row8);
  }
  return r->row8;
}

const uint8_t* ReadZipRow(ChannelReader* r) {
  const ChannelSpec& s = r->spec;
  const uint32_t span = static_cast<uint32_t>(ChannelRowSpan(s));
  const bool direct = s.sample_size == 1 && s.compression == kCompressionZip;
  uint8_t* target = direct ? r->row8 : r->unpacked;
  const uint32_t filled = InflateRow(r->zip, target, span);
  if (filled == 0) return nullptr;
  if (s.compression == kCompressionZipPredicted) {
    UndoPrediction(target, filled, s.samples, s.sample_size, r->row8);
  } else {
    memset(target + filled, 0, span - filled);
    if (!direct) ReduceSamples(target, s.samples, s.sample_size, r->row8);
  }
  return r->row8;
}

}  // namespace

Status OpenChannel(ChannelReader* reader, const ChannelSpec& spec) {
  memset(reader, 0, sizeof(*reader));
  reader->spec = spec;
  reader->counts = spec.counts;
  // An 8-bit row and, for deeper samples, the packed row's bytes, each with
  // room for the unpacker's slack.
  const uint64_t row8 = static_cast<uint64_t>(spec.samples) + kUnpackSlack;
  const bool zip = IsZipCompression(spec.compression);
  const uint64_t unpacked =
      spec.sample_size == 1 && !zip ? 0 : ChannelRowSpan(spec) + kUnpackSlack;
  if (row8 + unpacked > kLimits.max_scratch_bytes) return kTooLarge;
  reader->scratch = static_cast<uint8_t*>(Allocate(row8 + unpacked));
  if (reader->scratch == nullptr) return kNoMemory;
  reader->row8 = reader->scratch;
  reader->unpacked = reader->scratch + row8;
  if (zip) {
    const Status opened =
        OpenZipRows(&reader->zip, spec.data, BytesLeft(spec.data, spec.end));
    if (opened != kDone) {
      CloseChannel(reader);
      return opened;
    }
  }
  return kDone;
}

void CloseChannel(ChannelReader* reader) {
  CloseZipRows(&reader->zip);
  Release(reader->scratch);
  reader->scratch = nullptr;
}

const uint8_t* ReadChannelRow(ChannelReader* reader) {
  const uint16_t compression = reader->spec.compression;
  const uint8_t* row = compression == kCompressionPackBits
                           ? ReadPackedRow(reader)
                       : IsZipCompression(compression) ? ReadZipRow(reader)
                                                       : ReadRawRow(reader);
  ++reader->row;
  return row;
}

uint64_t ChannelConsumed(const ChannelReader* reader) {
  return reader->zip != nullptr ? ZipConsumed(reader->zip)
                                : reader->next_offset;
}

int32_t ChannelZipError(const ChannelReader* reader) {
  return reader->zip != nullptr ? ZipError(reader->zip) : 0;
}

}  // namespace engine
