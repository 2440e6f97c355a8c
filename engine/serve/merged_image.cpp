// The merged picture: the Image Data section's planes turned into bottom-up
// DIB rows. The planes of one output row are read together and each output
// byte is written once, padding included.
#include "engine/base/bytes.h"
#include "engine/base/limits.h"
#include "engine/base/log_messages.h"
#include "engine/base/memory.h"
#include "engine/channels/image_data.h"
#include "engine/channels/pixel_ops.h"
#include "engine/channels/rows.h"
#include "engine/serve/serve.h"

namespace engine {
namespace {

struct MergedLayout {
  uint32_t planes;   // output colour planes P
  uint32_t present;  // planes the document stores (at most P)
  uint32_t samples;  // samples in one plane row
  uint32_t height;
};

// Writes one output row from the planes' 8-bit rows (null: not reached).
void ComposeRow(const ServeState* s, const MergedLayout& m,
                const uint8_t* const* rows, const uint8_t* zeros,
                uint8_t* dst) {
  const uint8_t* plane[4];
  bool reached = false;
  for (uint32_t p = 0; p < m.planes; ++p) {
    // Planes the document does not store repeat the last one it does.
    const uint32_t from = p < m.present ? p : m.present - 1;
    plane[p] = rows[from] != nullptr ? rows[from] : zeros;
    reached = reached || rows[from] != nullptr;
  }
  const uint32_t n = m.samples;
  if (!reached) {
    memset(dst, 0, s->format.stride);
    return;
  }
  if (m.planes == 1) {
    memcpy(dst, plane[0], n);
  } else if (m.planes == 4 && s->colour != nullptr) {
    ConvertCmykPixels(s->colour, plane[0], plane[1], plane[2], plane[3], n, 4,
                      dst);
  } else if (m.planes == 4) {
    CmykToBgrxRow(plane[0], plane[1], plane[2], plane[3], n, dst);
  } else if (s->doc.color_mode == kModeLab && m.present == 3) {
    for (uint32_t x = 0; x < n; ++x) {
      LabToBgr(plane[0][x], plane[1][x], plane[2][x], dst + 3 * x);
    }
  } else {
    InterleaveBgr(plane[0], plane[1], plane[2], n, dst);
    if (s->colour != nullptr) ConvertBgrPixels(s->colour, dst, n, 3);
  }
  memset(dst + s->format.row_bytes, 0, s->format.stride - s->format.row_bytes);
}

// The per-plane log lines, in plane order: the PackBits rows whose runs did
// not end where the table says (the first kKeptMismatches of the request,
// then one line counting the rest), then where the plane's data ends.
void LogPlanes(const Document* doc, const MergedLayout& m,
               const ImageDataPlanes& planes) {
  uint32_t total = 0;
  for (uint32_t p = 0; p < m.present; ++p) {
    total += planes.readers[p].mismatch_count;
  }
  uint32_t logged = 0;
  for (uint32_t p = 0; p < m.present; ++p) {
    const ChannelReader& r = planes.readers[p];
    for (uint32_t i = 0; i < r.mismatch_count && i < kKeptMismatches &&
                         logged < kKeptMismatches;
         ++i) {
      const RowMismatch& row = r.mismatches[i];
      LogLine(doc->log, logtext::kRowMismatch, row.row, row.delta, row.count);
      if (++logged == kKeptMismatches && total > logged) {
        LogLine(doc->log, logtext::kMoreRowMismatches, total - logged);
      }
    }
    const uint64_t position = ImageDataPlaneEnd(doc, planes, p);
    LogLine(doc->log, logtext::kLastPlane, static_cast<uint32_t>(position));
  }
  if (planes.zip_error != 0) {
    LogLine(doc->log, logtext::kImageZipError, planes.zip_error,
            static_cast<uint32_t>(planes.zip_ends[m.present - 1]));
  }
}

// Allocates the pixel block; the readers are open already, so a failure
// leaves no pixel block behind.
Status TakePixelBlock(ServeState* s, uint8_t** pixels) {
  DecodeRequest* request = s->request;
  const BITMAPINFOHEADER* header = &s->header;
  HLOCAL block = nullptr;
  const bool fits =
      PictureFitsDocument(header->biSizeImage, DocumentSize(&s->doc),
                          IsZipCompression(s->doc.compression));
  if (fits) block = LocalAlloc(LMEM_FIXED, header->biSizeImage);
  *request->pixels_slot = block;
  if (block == nullptr) return fits ? kNoMemory : kTooLarge;
  *pixels = static_cast<uint8_t*>(LocalLock(block));
  return kDone;
}

}  // namespace

Status DecodeMergedImage(ServeState* s) {
  DecodeRequest* request = s->request;
  const Document* doc = &s->doc;
  const BITMAPINFOHEADER* header = &s->header;
  MergedLayout m;
  m.planes = s->format.sample_step;
  m.present = doc->channels < m.planes ? doc->channels : m.planes;
  m.samples = s->format.row_bytes / m.planes;
  m.height = doc->height;
  LogLine(doc->log, logtext::kImageData,
          static_cast<uint32_t>(ImageDataPixelOffset(doc, m.height)),
          doc->compression);

  // No planes, or a compression the reader does not know: all zero.
  const bool decodable = m.present > 0 && CompressionKnown(doc->compression);
  ImageDataPlanes planes;
  memset(&planes, 0, sizeof(planes));
  if (decodable) {
    const Status opened =
        OpenImageData(doc, m.present, m.samples, m.height, &planes);
    if (opened != kDone) {
      *request->pixels_slot = nullptr;
      return opened;
    }
  }
  // A row of zeros for the planes a row's data does not reach.
  uint8_t* zeros = static_cast<uint8_t*>(AllocateZeroed(m.samples + 1ull));
  uint8_t* pixels = nullptr;
  const Status taken =
      zeros != nullptr ? TakePixelBlock(s, &pixels) : kNoMemory;
  if (taken != kDone) {
    if (zeros == nullptr) *request->pixels_slot = nullptr;
    Release(zeros);
    CloseImageData(&planes);
    return taken;
  }
  if (!decodable) {
    memset(pixels, 0, header->biSizeImage);
  } else {
    for (uint32_t y = 0; y < m.height; ++y) {
      const uint8_t* rows[4];
      for (uint32_t p = 0; p < m.present; ++p) {
        rows[p] = ReadChannelRow(&planes.readers[p]);
      }
      ComposeRow(
          s, m, rows, zeros,
          pixels + static_cast<uint64_t>(m.height - 1 - y) * s->format.stride);
    }
    LogPlanes(doc, m, planes);
    if (doc->color_mode == kModeCmyk) LogLine(doc->log, logtext::kCmykFix);
  }
  Release(zeros);
  CloseImageData(&planes);
  LocalUnlock(*request->pixels_slot);
  return kDone;
}

}  // namespace engine
