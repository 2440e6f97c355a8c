// Zip-compressed channel data (compression 2, and 3 with prediction): one
// zlib stream holding the rows one after another, inflated a row at a time.
#pragma once

#include <stdint.h>

#include "engine/base/status.h"
#include "engine/channels/window.h"

namespace engine {

struct ZipRows;  // the inflater's state, on the heap

// Opens the stream that lies at [data, end) of the window's source, read
// through the window. kNoMemory when the state cannot be had.
Status OpenZipRows(ZipRows** zip, ByteWindow* window, uint64_t data,
                   uint64_t end);
void CloseZipRows(ZipRows** zip);

// Inflates the next `span` bytes into `out`. Returns the bytes written:
// fewer than `span` when the stream ends early or is corrupt, after which
// every later call gives 0.
uint32_t InflateRow(ZipRows* zip, uint8_t* out, uint32_t span);

// Where the stream stopped (bytes of it consumed) and why: 0 while it is
// whole, else zlib's code (Z_DATA_ERROR and the like; 1 for an end of
// stream before the rows were complete, -5 for data cut short).
uint64_t ZipConsumed(const ZipRows* zip);
int32_t ZipError(const ZipRows* zip);

// Undoes the prediction of compression 3 on one row of `samples` samples
// of `sample_size` bytes whose first `filled` bytes were inflated, and
// reduces it to one byte per sample into `row8` (`wide`: 16-bit samples
// keep both bytes, big-endian): 8-bit rows are running sums of bytes,
// 16-bit rows running sums of big-endian samples, 32-bit rows byte planes
// (all first bytes, then all second ...) coded as running sums of bytes
// over the whole row. Samples the row did not reach are 0.
void UndoPrediction(uint8_t* row, uint32_t filled, uint32_t samples,
                    uint32_t sample_size, bool wide, uint8_t* row8);

}  // namespace engine
