// Rows of one channel. Raw rows follow one another, and a PackBits row
// begins where the row byte counts before it put it, whatever the runs of
// the row before it consumed. A row whose data lies past the channel's end,
// or whose count is 0, is not reached. Zip data is one stream inflated a row
// at a time; rows behind the point where it ends are not reached. The bytes
// come through the reader's window: a view of a memory image, or pieces of
// a file read as the rows need them.
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
  const uint64_t start = SaturatingAdd(s.data, r->next_offset);
  r->next_offset += span;
  uint64_t available = 0;
  const uint8_t* at = WindowAt(&r->window, start, span, s.end, &available);
  if (at == nullptr || available < span) return nullptr;
  if (s.sample_size == 1 || ChannelOutSize(s) == 2) return at;  // in place
  ReduceSamples(at, s.samples, s.sample_size, r->row8);
  return r->row8;
}

const uint8_t* ReadPackedRow(ChannelReader* r) {
  const ChannelSpec& s = r->spec;
  const uint32_t width = RowCountBytes(s.version);
  const uint8_t* table_end = r->count_table.data + r->count_table.length;
  uint64_t count = 0;
  if (BytesLeft(r->counts, table_end) >= width) {
    count = ReadLength(r->counts, width);
    r->counts += width;
  }
  const uint64_t start = SaturatingAdd(s.data, r->next_offset);
  r->next_offset += count;
  if (count == 0) return nullptr;
  const uint32_t span = static_cast<uint32_t>(ChannelRowSpan(s));
  // A row's runs reach at most twice its bytes and one header more.
  uint64_t available = 0;
  const uint8_t* at =
      WindowAt(&r->window, start, 2ull * span + 2, s.end, &available);
  if (at == nullptr) {
    // No byte of the row is in the document: its runs consumed none.
    RecordMismatch(r, -static_cast<int64_t>(count), count);
    return nullptr;
  }
  const bool as_stored = s.sample_size == 1 || ChannelOutSize(s) == 2;
  uint8_t* target = as_stored ? r->row8 : r->unpacked;
  const uint8_t* stop = nullptr;
  const uint32_t filled =
      UnpackBitsRowWide(at, at + available, target, span, &stop);
  memset(target + filled, 0, span - filled);
  const int64_t consumed = stop - at;
  if (static_cast<uint64_t>(consumed) != count) {
    RecordMismatch(r, consumed - static_cast<int64_t>(count), count);
  }
  if (!as_stored) ReduceSamples(r->unpacked, s.samples, s.sample_size, r->row8);
  return r->row8;
}

const uint8_t* ReadZipRow(ChannelReader* r) {
  const ChannelSpec& s = r->spec;
  const uint32_t span = static_cast<uint32_t>(ChannelRowSpan(s));
  const bool as_stored = s.sample_size == 1 || ChannelOutSize(s) == 2;
  const bool direct = as_stored && s.compression == kCompressionZip;
  uint8_t* target = direct ? r->row8 : r->unpacked;
  const uint32_t filled = InflateRow(r->zip, target, span);
  if (filled == 0) return nullptr;
  if (s.compression == kCompressionZipPredicted) {
    UndoPrediction(target, filled, s.samples, s.sample_size,
                   ChannelOutSize(s) == 2, r->row8);
  } else {
    memset(target + filled, 0, span - filled);
    if (!direct) ReduceSamples(target, s.samples, s.sample_size, r->row8);
  }
  return r->row8;
}

// PackBits: the row byte counts the channel holds, at most one per row.
Status ReadCountTable(ChannelReader* reader, Source* source) {
  const ChannelSpec& s = reader->spec;
  uint64_t length = static_cast<uint64_t>(RowCountBytes(s.version)) * s.rows;
  const uint64_t end = s.end < source->size ? s.end : source->size;
  length =
      s.counts < end ? (length < end - s.counts ? length : end - s.counts) : 0;
  const Status read = ReadSpan(source, s.counts, length, &reader->count_table);
  reader->counts = reader->count_table.data;
  return read;
}

}  // namespace

Status OpenChannel(ChannelReader* reader, Source* source,
                   const ChannelSpec& spec) {
  memset(reader, 0, sizeof(*reader));
  reader->spec = spec;
  // The row handed out and, for deeper samples, the packed row's bytes,
  // each with room for the unpacker's slack, and the window.
  const uint64_t out =
      static_cast<uint64_t>(spec.samples) * ChannelOutSize(spec);
  const uint64_t row8 = out + kUnpackSlack;
  const bool zip = IsZipCompression(spec.compression);
  const uint64_t span = ChannelRowSpan(spec);
  const uint64_t unpacked =
      spec.sample_size == 1 && !zip ? 0 : span + kUnpackSlack;
  if (ChannelScratchBytes(out, span) > kLimits.max_scratch_bytes) {
    return kTooLarge;
  }
  reader->scratch = static_cast<uint8_t*>(Allocate(row8 + unpacked));
  if (reader->scratch == nullptr) return kNoMemory;
  reader->row8 = reader->scratch;
  reader->unpacked = reader->scratch + row8;
  const uint64_t largest = zip ? kWindowPiece : 2 * span + 2;
  Status status = OpenWindow(&reader->window, source, largest);
  if (status == kDone && spec.compression == kCompressionPackBits) {
    status = ReadCountTable(reader, source);
  }
  if (status == kDone && zip) {
    status = OpenZipRows(&reader->zip, &reader->window, spec.data, spec.end);
  }
  if (status != kDone) CloseChannel(reader);
  return status;
}

void CloseChannel(ChannelReader* reader) {
  CloseZipRows(&reader->zip);
  CloseWindow(&reader->window);
  ReleaseSpan(&reader->count_table);
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

void SkipChannelRows(ChannelReader* reader, uint32_t n) {
  const ChannelSpec& s = reader->spec;
  if (IsZipCompression(s.compression)) {
    for (uint32_t k = 0; k < n; ++k) ReadChannelRow(reader);
    return;
  }
  if (s.compression == kCompressionPackBits) {
    const uint32_t width = RowCountBytes(s.version);
    const uint8_t* table_end =
        reader->count_table.data + reader->count_table.length;
    for (uint32_t k = 0; k < n && BytesLeft(reader->counts, table_end) >= width;
         ++k) {
      reader->next_offset += ReadLength(reader->counts, width);
      reader->counts += width;
    }
  } else {
    reader->next_offset += ChannelRowSpan(s) * n;
  }
  reader->row += n;
}

uint64_t ChannelConsumed(const ChannelReader* reader) {
  return reader->zip != nullptr ? ZipConsumed(reader->zip)
                                : reader->next_offset;
}

int32_t ChannelZipError(const ChannelReader* reader) {
  return reader->zip != nullptr ? ZipError(reader->zip) : 0;
}

}  // namespace engine
