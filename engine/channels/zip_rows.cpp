#include "engine/channels/zip_rows.h"

#include <string.h>
#include <zlib.h>

#include "engine/base/bytes.h"
#include "engine/base/memory.h"
#include "engine/channels/rows.h"

namespace engine {

struct ZipRows {
  z_stream stream;
  ByteWindow* window;
  uint64_t data;      // where the stream begins
  uint64_t end;       // nothing at or past this is read
  uint64_t consumed;  // bytes handed to zlib so far
  bool finished;      // the stream's end was reached
  int32_t error;
};

namespace {

// zlib's allocations come from the engine's heap, with the product checked.
voidpf ZipAlloc(voidpf, uInt items, uInt size) {
  const uint64_t bytes = static_cast<uint64_t>(items) * size;
  if (bytes == 0 || bytes > 0x7FFFFFFFu) return Z_NULL;
  return Allocate(bytes);
}

void ZipFree(voidpf, voidpf block) { Release(block); }

// Gives zlib the next piece of the stream (zlib counts in 32 bits).
void FeedInput(ZipRows* zip) {
  if (zip->stream.avail_in != 0) return;
  uint64_t available = 0;
  const uint8_t* piece =
      WindowAt(zip->window, SaturatingAdd(zip->data, zip->consumed),
               kWindowPiece, zip->end, &available);
  if (piece == nullptr) return;
  const uInt n =
      available > 0x40000000u ? 0x40000000u : static_cast<uInt>(available);
  zip->stream.next_in = const_cast<Bytef*>(piece);
  zip->stream.avail_in = n;
  zip->consumed += n;
}

// 16-bit samples: running sums, of which the high byte is kept (or, wide,
// both bytes as stored).
void UndoPrediction16(const uint8_t* row, uint32_t filled, uint32_t samples,
                      bool wide, uint8_t* out) {
  const uint32_t whole = filled / 2 < samples ? filled / 2 : samples;
  uint32_t value = 0;
  if (wide) {
    for (uint32_t x = 0; x < whole; ++x) {
      value += (static_cast<uint32_t>(row[2 * x]) << 8) | row[2 * x + 1];
      out[2 * x] = static_cast<uint8_t>(value >> 8);
      out[2 * x + 1] = static_cast<uint8_t>(value);
    }
    memset(out + 2ull * whole, 0, 2ull * (samples - whole));
    return;
  }
  for (uint32_t x = 0; x < whole; ++x) {
    value += (static_cast<uint32_t>(row[2 * x]) << 8) | row[2 * x + 1];
    out[x] = static_cast<uint8_t>(value >> 8);
  }
  memset(out + whole, 0, samples - whole);
}

// 32-bit samples: byte planes coded as running sums over the whole row.
void UndoPrediction32(uint8_t* row, uint32_t filled, uint32_t samples,
                      uint8_t* row8) {
  const uint64_t span = 4ull * samples;
  if (filled > span) filled = static_cast<uint32_t>(span);
  uint8_t sum = 0;
  for (uint32_t i = 0; i < filled; ++i) {
    sum = static_cast<uint8_t>(sum + row[i]);
    row[i] = sum;
  }
  // A sample is whole when its last byte plane reached it.
  const uint32_t last_plane = 3 * samples;
  const uint32_t whole = filled > last_plane ? filled - last_plane : 0;
  for (uint32_t x = 0; x < whole; ++x) {
    const uint8_t bytes[4] = {row[x], row[samples + x], row[2 * samples + x],
                              row[3 * samples + x]};
    ReduceSamples(bytes, 1, 4, row8 + x);
  }
  memset(row8 + whole, 0, samples - whole);
}

}  // namespace

Status OpenZipRows(ZipRows** zip, ByteWindow* window, uint64_t data,
                   uint64_t end) {
  ZipRows* z = static_cast<ZipRows*>(AllocateZeroed(sizeof(ZipRows)));
  *zip = z;
  if (z == nullptr) return kNoMemory;
  z->window = window;
  z->data = data;
  z->end = end;
  z->stream.zalloc = ZipAlloc;
  z->stream.zfree = ZipFree;
  if (inflateInit(&z->stream) != Z_OK) {
    Release(z);
    *zip = nullptr;
    return kNoMemory;
  }
  return kDone;
}

void CloseZipRows(ZipRows** zip) {
  if (*zip == nullptr) return;
  inflateEnd(&(*zip)->stream);
  Release(*zip);
  *zip = nullptr;
}

uint32_t InflateRow(ZipRows* zip, uint8_t* out, uint32_t span) {
  if (zip->error != 0 || span == 0) return 0;
  zip->stream.next_out = out;
  zip->stream.avail_out = span;
  while (zip->stream.avail_out != 0 && !zip->finished) {
    FeedInput(zip);
    const int result = inflate(&zip->stream, Z_NO_FLUSH);
    if (result == Z_STREAM_END) {
      zip->finished = true;
    } else if (result != Z_OK) {
      // A fault, or input that ran out (Z_BUF_ERROR): the rows end here.
      zip->error = result;
    }
    if (zip->error != 0) break;
  }
  // The stream ended before the rows did.
  if (zip->stream.avail_out != 0 && zip->error == 0) zip->error = 1;
  return span - zip->stream.avail_out;
}

uint64_t ZipConsumed(const ZipRows* zip) {
  return zip->consumed - zip->stream.avail_in;
}

int32_t ZipError(const ZipRows* zip) { return zip->error; }

void UndoPrediction(uint8_t* row, uint32_t filled, uint32_t samples,
                    uint32_t sample_size, bool wide, uint8_t* row8) {
  if (sample_size == 2) {
    UndoPrediction16(row, filled, samples, wide, row8);
  } else if (sample_size == 4) {
    UndoPrediction32(row, filled, samples, row8);
  } else {
    const uint32_t whole = filled < samples ? filled : samples;
    uint8_t sum = 0;
    for (uint32_t x = 0; x < whole; ++x) {
      sum = static_cast<uint8_t>(sum + row[x]);
      row8[x] = sum;
    }
    memset(row8 + whole, 0, samples - whole);
  }
}

}  // namespace engine
