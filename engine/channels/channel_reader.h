// The one reader of channel data: the rows of a layer channel or of a plane
// of the Image Data section, raw, PackBits or zip, at any sample size,
// handed out one row at a time as one byte per sample (or, for a 16-bit
// channel read wide, two: the sample as stored, big-endian).
#pragma once

#include <stdint.h>

#include "engine/base/source.h"
#include "engine/base/status.h"
#include "engine/channels/pixel_ops.h"
#include "engine/channels/window.h"
#include "engine/psd/format.h"

namespace engine {

struct ZipRows;

// Where a channel's rows lie (offsets in the source) and how they are
// stored.
struct ChannelSpec {
  uint64_t counts;       // PackBits: the row byte counts
  uint64_t data;         // the first row
  uint64_t end;          // nothing at or past this is read
  uint16_t compression;  // a Compression
  uint16_t version;      // the document's: width of the row byte counts
  uint32_t sample_size;  // file bytes per sample: 1, 2 or 4
  uint32_t samples;      // samples in one row
  uint32_t rows;
  bool wide;  // 16-bit samples keep both bytes (no effect at other sizes)
};

// Bytes a row hands out per sample.
inline uint32_t ChannelOutSize(const ChannelSpec& spec) {
  return spec.wide && spec.sample_size == 2 ? 2 : 1;
}

// A PackBits row whose runs did not end where its byte count says.
struct RowMismatch {
  uint32_t row;
  int32_t delta;  // where the runs stopped minus where the count ends
  uint32_t count;
};
const uint32_t kKeptMismatches = 32;

struct ChannelReader {
  ChannelSpec spec;
  ByteWindow window;      // the channel's bytes being read
  uint32_t row;           // rows handed out so far
  Span count_table;       // PackBits: the row byte counts the channel holds
  const uint8_t* counts;  // PackBits: the next row's byte count
  uint64_t next_offset;   // where the next row begins, from `data`
  uint8_t* unpacked;      // a packed row's bytes (sample_size x samples)
  uint8_t* row8;          // the row handed out (ChannelOutSize a sample)
  uint8_t* scratch;
  ZipRows* zip;             // zip: the inflater
  uint32_t mismatch_count;  // all such rows; the first few are kept
  RowMismatch mismatches[kKeptMismatches];
};

// Takes the reader's scratch rows and window (kNoMemory when they cannot
// be had) and, for PackBits, reads the row byte counts.
Status OpenChannel(ChannelReader* reader, Source* source,
                   const ChannelSpec& spec);
void CloseChannel(ChannelReader* reader);

// The next row as `samples` samples of ChannelOutSize bytes, or null when the
// channel's data does not reach it (it lies past the end, or its byte count is
// 0). The bytes stay valid until the next call.
const uint8_t* ReadChannelRow(ChannelReader* reader);

// Steps over the next `n` rows: raw and PackBits rows without reading them
// (a PackBits row's place comes from the byte counts alone), zip rows by
// inflating them. What the reader records of the rows it read (mismatches)
// leaves the stepped-over rows out.
void SkipChannelRows(ChannelReader* reader, uint32_t n);

// Bytes from the first row to where the next row begins, as the row sizes
// or byte counts of the rows read so far give it (it may lie past the end);
// for zip data, the bytes of the stream inflated so far.
uint64_t ChannelConsumed(const ChannelReader* reader);

// Zip data: 0 while the stream holds every row read, else why it ended
// (zlib's code, or 1 for a stream that ended before the rows).
int32_t ChannelZipError(const ChannelReader* reader);

// Bytes of one row as the file stores it unpacked.
inline uint64_t ChannelRowSpan(const ChannelSpec& spec) {
  return static_cast<uint64_t>(spec.sample_size) * spec.samples;
}

// The scratch memory a reader of rows of `span` unpacked bytes, handed out
// as `out` bytes, takes at most: its rows and its window (a packed row's
// runs reach at most twice the row's bytes and one more).
inline uint64_t ChannelScratchBytes(uint64_t out, uint64_t span) {
  return out + span + WindowBytes(2 * span + 2) + 2 * kUnpackSlack;
}

}  // namespace engine
