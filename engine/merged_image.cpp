// The merged picture: the Image Data section's planes, raw or PackBits,
// turned into bottom-up DIB rows.
//
// Every row's position in the file is known in advance (raw rows follow one
// another, PackBits rows start where the row byte-count table says), so the
// planes of one output row are decoded together and each output byte is
// written once, padding included.
#include "common/log.h"
#include "engine/bytes.h"
#include "engine/engine.h"
#include "engine/pixel_ops.h"
#include "engine/rows.h"

namespace {

const uint32_t kMaxPlanes = 4;

struct MergedLayout {
  const uint8_t* base;
  const uint8_t* end;
  uint64_t size;         // document bytes
  uint32_t planes;       // output colour planes P
  uint32_t present;      // planes the document stores (at most P)
  uint32_t sample_size;  // file bytes per sample
  uint32_t samples;      // samples in one plane row
  uint32_t height;
  uint64_t data_offset;   // first byte of pixel data
  uint64_t table_offset;  // PackBits row byte-count table
  bool packbits;
};

uint64_t RowSpan(const MergedLayout& m) {
  return static_cast<uint64_t>(m.sample_size) * m.samples;
}

// A row byte count from the table; entries beyond the document read as 0.
uint32_t TableCount(const MergedLayout& m, uint64_t row_index) {
  const uint64_t at = m.table_offset + 2 * row_index;
  if (!RangeFits(at, 2, m.size)) return 0;
  return ReadU16(m.base + at);
}

// Decodes the PackBits row starting at `offset` into `out` (span bytes; the
// rest of it zero; kUnpackSlack more bytes may be overwritten). Returns the
// offset where the runs stopped.
uint64_t UnpackRowAt(const MergedLayout& m, uint64_t offset, uint8_t* out,
                     uint32_t span) {
  if (offset >= m.size) {
    memset(out, 0, span);
    return offset;
  }
  const uint8_t* next = nullptr;
  const uint32_t filled =
      UnpackBitsRowWide(m.base + offset, m.end, out, span, &next);
  memset(out + filled, 0, span - filled);
  return static_cast<uint64_t>(next - m.base);
}

// Writes one output row from the planes' 8-bit rows (null: not reached).
void ComposeRow(const DecodeState* state, const MergedLayout& m,
                const uint8_t* const* rows, const uint8_t* zeros,
                uint8_t* dst) {
  const uint8_t* plane[kMaxPlanes];
  bool reached = false;
  for (uint32_t p = 0; p < m.planes; ++p) {
    // Planes the document does not store repeat the last one it does.
    const uint32_t from = p < m.present ? p : m.present - 1;
    plane[p] = rows[from] != nullptr ? rows[from] : zeros;
    reached = reached || rows[from] != nullptr;
  }
  const uint32_t n = m.samples;
  uint8_t* pad = dst + state->row_bytes;
  if (!reached) {
    memset(dst, 0, state->stride);
    return;
  }
  if (m.planes == 1) {
    memcpy(dst, plane[0], n);
  } else if (m.planes == 4) {
    CmykToBgrxRow(plane[0], plane[1], plane[2], plane[3], n, dst);
  } else if (state->color_mode == kModeLab && m.present == 3) {
    for (uint32_t x = 0; x < n; ++x) {
      LabToBgr(plane[0][x], plane[1][x], plane[2][x], dst + 3 * x);
    }
  } else {
    InterleaveBgr(plane[0], plane[1], plane[2], n, dst);
  }
  memset(pad, 0, state->stride - state->row_bytes);
}

// Offset of the first byte of plane p's PackBits data.
uint64_t PackedPlaneStart(const MergedLayout& m, uint32_t p) {
  uint64_t offset = m.data_offset;
  for (uint64_t row = 0; row < static_cast<uint64_t>(p) * m.height; ++row) {
    offset += TableCount(m, row);
  }
  return offset;
}

// The per-plane log lines, in plane order: for PackBits documents whose rows
// do not end where the table says, one line per such row, then the plane's
// end. Rows are decoded again only when some row did not match.
void LogPlanes(const MergedLayout& m, bool scan_rows, uint8_t* scratch) {
  const uint64_t span = RowSpan(m);
  for (uint32_t p = 0; p < m.present; ++p) {
    uint64_t position;
    if (m.packbits) {
      position = PackedPlaneStart(m, p);
      for (uint32_t y = 0; y < m.height; ++y) {
        const uint32_t count =
            TableCount(m, static_cast<uint64_t>(p) * m.height + y);
        if (scan_rows) {
          const uint64_t stop =
              UnpackRowAt(m, position, scratch, static_cast<uint32_t>(span));
          const uint64_t expected = position + count;
          if (stop != expected) {
            LogMessage("nowp unmatch Y:%d  Delta:%d ScanSize:%d", y,
                       static_cast<int32_t>(stop - expected), count);
          }
        }
        position += count;
      }
    } else {
      // Raw rows are read only while whole rows remain in the document.
      const uint64_t available =
          span == 0 ? 0 : BytesLeft(m.base + m.data_offset, m.end) / span;
      uint64_t rows = (static_cast<uint64_t>(p) + 1) * m.height;
      if (span != 0 && rows > available) rows = available;
      position = m.data_offset + rows * span;
    }
    LogMessage("last plane ptr: %x", static_cast<uint32_t>(position));
  }
}

}  // namespace

int32_t DecodeMergedImage(DecodeRequest* request, DecodeState* state,
                          const BITMAPINFOHEADER* header,
                          const uint8_t* pixel_data) {
  const uint8_t* base = state->file_base;
  const uint64_t size = static_cast<uint64_t>(state->file_end - base);
  const uint64_t data_offset = static_cast<uint64_t>(pixel_data - base);
  LogMessage("Image Data %x   Compression %d",
             static_cast<uint32_t>(data_offset), state->compression);

  MergedLayout m;
  m.base = base;
  m.end = state->file_end;
  m.size = size;
  m.planes = state->sample_step;
  if (state->color_mode == kModeCmyk) {
    m.planes = 4;
    state->sample_step = 4;
  }
  m.present = state->channels < m.planes ? state->channels : m.planes;
  m.sample_size = SampleSizeForDepth(state->depth);
  m.samples = state->row_bytes / m.planes;
  m.height = static_cast<uint32_t>(header->biHeight);
  m.data_offset = data_offset;
  m.table_offset = static_cast<uint64_t>(state->data_cursor - base);
  m.packbits = state->compression == 1;
  // No planes, or a compression this decoder does not read: all zero.
  const bool decodable =
      m.present > 0 && (state->compression == 0 || m.packbits);

  // Scratch: one 8-bit row per plane, an unpacking row for deep samples,
  // and a row of zeros for planes that were not reached, each with room for
  // the unpacker's slack. It is taken first so that a failure leaves no
  // pixel block behind.
  const uint64_t span = RowSpan(m);
  const uint64_t row_room = static_cast<uint64_t>(m.samples) + kUnpackSlack;
  const uint64_t scratch_size =
      (static_cast<uint64_t>(m.present) + 1) * row_room + span + kUnpackSlack;
  uint8_t* scratch = nullptr;
  if (decodable && scratch_size <= 0x7FFFFFFFu) {
    scratch = static_cast<uint8_t*>(
        HeapAlloc(GetProcessHeap(), 0, static_cast<SIZE_T>(scratch_size)));
  }
  HLOCAL block = nullptr;
  if ((scratch != nullptr || !decodable) &&
      PictureFitsDocument(header->biSizeImage, size)) {
    block = LocalAlloc(LMEM_FIXED, header->biSizeImage);
  }
  *request->pixels_slot = block;
  if (block == nullptr) {
    if (scratch != nullptr) HeapFree(GetProcessHeap(), 0, scratch);
    return kResultNoMemory;
  }
  uint8_t* pixels = static_cast<uint8_t*>(LocalLock(block));
  if (!decodable) {
    memset(pixels, 0, header->biSizeImage);
    LocalUnlock(block);
    return kResultOk;
  }
  uint8_t* zeros = scratch + static_cast<uint64_t>(m.present) * row_room;
  uint8_t* unpacked = zeros + row_room;
  memset(zeros, 0, m.samples);

  uint64_t row_start[kMaxPlanes];
  for (uint32_t p = 0; p < m.present; ++p) {
    row_start[p] = m.packbits ? PackedPlaneStart(m, p)
                              : m.data_offset + span * p * m.height;
  }

  bool mismatch = false;
  for (uint32_t y = 0; y < m.height; ++y) {
    const uint8_t* rows[kMaxPlanes] = {nullptr, nullptr, nullptr, nullptr};
    for (uint32_t p = 0; p < m.present; ++p) {
      uint8_t* row8 = scratch + static_cast<uint64_t>(p) * row_room;
      if (m.packbits) {
        const uint32_t count =
            TableCount(m, static_cast<uint64_t>(p) * m.height + y);
        const uint64_t start = row_start[p];
        row_start[p] += count;
        if (start >= size) {  // the row lies past the end
          if (count != 0) mismatch = true;
          continue;
        }
        uint8_t* target = m.sample_size == 1 ? row8 : unpacked;
        const uint64_t stop =
            UnpackRowAt(m, start, target, static_cast<uint32_t>(span));
        if (stop != start + count) mismatch = true;
        if (m.sample_size != 1) {
          ReduceSamples(unpacked, m.samples, m.sample_size, row8);
        }
        rows[p] = row8;
      } else {
        const uint64_t start = row_start[p];
        row_start[p] += span;
        if (!RangeFits(start, span, size)) continue;  // a short last row
        if (m.sample_size == 1) {
          rows[p] = base + start;  // used in place
        } else {
          ReduceSamples(base + start, m.samples, m.sample_size, row8);
          rows[p] = row8;
        }
      }
    }
    uint8_t* dst =
        pixels + static_cast<uint64_t>(m.height - 1 - y) * state->stride;
    ComposeRow(state, m, rows, zeros, dst);
  }
  if (m.packbits) {
    uint64_t table_end =
        m.table_offset + 2 * static_cast<uint64_t>(m.present) * m.height;
    if (table_end > size) table_end = size;
    state->data_cursor = base + table_end;
  }

  LogPlanes(m, mismatch, unpacked);
  HeapFree(GetProcessHeap(), 0, scratch);

  if (state->color_mode == kModeCmyk) LogMessage("CMYK fix");
  LocalUnlock(block);
  return kResultOk;
}
