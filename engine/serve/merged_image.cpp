// The merged picture: the Image Data section's planes turned into bottom-up
// DIB rows. The planes of one output row are read together and each output
// byte is written once, padding included.
#include "engine/base/bytes.h"
#include "engine/base/limits.h"
#include "engine/base/log_messages.h"
#include "engine/base/memory.h"
#include "engine/base/numbers.h"
#include "engine/base/threads.h"
#include "engine/channels/image_data.h"
#include "engine/channels/pixel_ops.h"
#include "engine/channels/rows.h"
#include "engine/serve/serve.h"

namespace engine {
namespace {

struct MergedLayout {
  uint32_t planes;   // output colour planes P
  uint32_t present;  // planes the document stores (at most P)
  // The plane of the picture's transparency (RGB and gray pictures), read
  // behind the colours, or 0.
  uint32_t alpha_plane;
  uint32_t samples;  // samples in one plane row
  uint32_t height;
  // The planes' rows hold 16-bit samples as stored (a 16-bit document
  // converted through its profile), two bytes a sample; else one.
  bool wide;
};

// Writes one output row from the planes' rows (null: not reached).
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
  const ColourTables* t = s->colour;
  if (m.wide && m.planes == 1) {
    ConvertGrayWide(t, plane[0], n, 1, dst);
  } else if (m.wide && m.planes == 4) {
    ConvertCmykWide(t, plane[0], plane[1], plane[2], plane[3], n, 4, dst);
  } else if (m.wide) {
    ConvertRgbWide(t, plane[0], plane[1], plane[2], n, 3, dst);
  } else if (m.planes == 1) {
    memcpy(dst, plane[0], n);
    // A 16-bit gray document's palette is the gray ramp (see OpenColour):
    // its levels through the 16-bit table (rows read at 8 bits).
    if (t != nullptr && t->wide) {
      for (uint32_t x = 0; x < n; ++x) dst[x] = t->wide_gray[257u * dst[x]];
    }
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

// The rows of one band of the picture, decoded by one thread: part 0 reads
// through the planes' own readers, every other part through readers of
// its own on the same data, stepped to its first row.
struct MergedJob {
  const ServeState* s;
  const MergedLayout* m;
  ImageDataPlanes* planes;
  const uint8_t* zeros;
  uint8_t* pixels;
  uint32_t parts;
  ChannelReader* band_readers;  // 4 for each part but the first
  Status status[kLimits.max_threads];
  // With transparency: its plane (top-down rows), and whether a band found
  // colour that matted data cannot hold.
  uint8_t* alpha;
  bool unmatted[kLimits.max_threads];
};

uint32_t PlanesRead(const MergedLayout& m) {
  return m.alpha_plane != 0 ? m.alpha_plane + 1 : m.present;
}

// Colour blended onto white by alpha a is at least 255 - a: a sample below
// that was stored as it is (wide rows: by their first bytes). `alpha` is
// the row's transparency.
bool Unmatted(const MergedLayout& m, const uint8_t* const* rows,
              const uint8_t* alpha) {
  const uint32_t size = m.wide ? 2 : 1;
  for (uint32_t p = 0; p < m.present; ++p) {
    if (rows[p] == nullptr) continue;
    for (uint32_t x = 0; x < m.samples; ++x) {
      if (rows[p][size * x] < 255 - alpha[x]) return true;
    }
  }
  return false;
}

ChannelReader* BandReaders(MergedJob* job, uint32_t k) {
  return k == 0 ? job->planes->readers : job->band_readers + 4 * (k - 1);
}

void DecodeBand(void* context, uint32_t k) {
  MergedJob* job = static_cast<MergedJob*>(context);
  const MergedLayout& m = *job->m;
  const RowBand band = BandOf(m.height, job->parts, k);
  ChannelReader* readers = BandReaders(job, k);
  Status status = kDone;
  for (uint32_t p = 0; k > 0 && p < PlanesRead(m) && status == kDone; ++p) {
    const ChannelReader& whole = job->planes->readers[p];
    status = OpenChannel(&readers[p], whole.window.source, whole.spec);
    if (status != kDone) {
      while (p-- > 0) CloseChannel(&readers[p]);
      break;
    }
    SkipChannelRows(&readers[p], band.first);
  }
  job->status[k] = status;
  if (status != kDone) return;
  for (uint32_t y = band.first; y < band.end; ++y) {
    const uint8_t* rows[4];
    for (uint32_t p = 0; p < PlanesRead(m); ++p) {
      rows[p] = ReadChannelRow(&readers[p]);
    }
    if (job->alpha != nullptr) {
      uint8_t* alpha = job->alpha + static_cast<uint64_t>(y) * m.samples;
      const uint8_t* row = rows[m.alpha_plane];
      if (row != nullptr && m.wide) {
        TakeHighBytes(row, m.samples, alpha);
      } else if (row != nullptr) {
        memcpy(alpha, row, m.samples);
      } else {
        memset(alpha, 255, m.samples);
      }
      job->unmatted[k] =
          job->unmatted[k] || (row != nullptr && Unmatted(m, rows, alpha));
    }
    ComposeRow(job->s, m, rows, job->zeros,
               job->pixels + static_cast<uint64_t>(m.height - 1 - y) *
                                 job->s->format.stride);
  }
}

// What the bands' readers saw becomes the planes' own: the rows that did
// not match their counts, in row order, and where the last row ended.
void GatherBands(MergedJob* job) {
  for (uint32_t k = 1; k < job->parts; ++k) {
    ChannelReader* readers = BandReaders(job, k);
    for (uint32_t p = 0; p < PlanesRead(*job->m); ++p) {
      ChannelReader* whole = &job->planes->readers[p];
      const ChannelReader& band = readers[p];
      for (uint32_t i = 0; i < band.mismatch_count && i < kKeptMismatches &&
                           whole->mismatch_count + i < kKeptMismatches;
           ++i) {
        whole->mismatches[whole->mismatch_count + i] = band.mismatches[i];
      }
      whole->mismatch_count += band.mismatch_count;
      whole->next_offset = band.next_offset;
    }
  }
}

void CloseBands(MergedJob* job) {
  for (uint32_t k = 1; k < job->parts; ++k) {
    if (job->status[k] != kDone) continue;
    for (uint32_t p = 0; p < PlanesRead(*job->m); ++p) {
      CloseChannel(&BandReaders(job, k)[p]);
    }
  }
}

// A picture stored with its colour not blended onto white, as some
// writers store it: blended now, as the application shows it.
void MatteOntoWhite(const ServeState* s, const MergedLayout& m,
                    const uint8_t* alpha, uint8_t* pixels) {
  for (uint32_t y = 0; y < m.height; ++y) {
    uint8_t* row =
        pixels + static_cast<uint64_t>(m.height - 1 - y) * s->format.stride;
    const uint8_t* a = alpha + static_cast<uint64_t>(y) * m.samples;
    for (uint32_t x = 0; x < m.samples; ++x) {
      for (uint32_t c = 0; c < m.planes; ++c) {
        uint8_t* v = row + m.planes * x + c;
        *v = static_cast<uint8_t>(MulDiv255(*v, a[x]) + 255 - a[x]);
      }
    }
  }
}

// Decodes every row, in bands on as many threads as the picture is worth;
// the first band that fails gives the result.
Status DecodeRows(const ServeState* s, const MergedLayout& m,
                  ImageDataPlanes* planes, const uint8_t* zeros,
                  uint8_t* pixels) {
  MergedJob job;
  memset(&job, 0, sizeof(job));
  job.s = s;
  job.m = &m;
  job.planes = planes;
  job.zeros = zeros;
  job.pixels = pixels;
  job.parts = PartsFor(static_cast<uint64_t>(m.samples) * m.height * m.present,
                       m.height);
  if (m.alpha_plane != 0) {
    job.alpha = static_cast<uint8_t*>(
        Allocate(static_cast<uint64_t>(m.samples) * m.height));
    if (job.alpha == nullptr) return kNoMemory;
  }
  if (job.parts > 1) {
    job.band_readers = AllocateArray<ChannelReader>(4ull * (job.parts - 1));
    if (job.band_readers == nullptr) job.parts = 1;
  }
  RunParts(job.parts, DecodeBand, &job);
  const Status status = FirstFailure(job.status, job.parts);
  if (status == kDone) GatherBands(&job);
  CloseBands(&job);
  Release(job.band_readers);
  bool unmatted = false;
  for (uint32_t k = 0; k < job.parts; ++k) unmatted |= job.unmatted[k];
  if (status == kDone && unmatted) MatteOntoWhite(s, m, job.alpha, pixels);
  Release(job.alpha);
  return status;
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
  const bool plain =
      doc->color_mode == kModeRgb || doc->color_mode == kModeGrayscale;
  m.alpha_plane = doc->merged_alpha && plain && m.present == m.planes &&
                          doc->channels > m.present && m.present < 4
                      ? m.present
                      : 0;
  LogLine(doc->log, logtext::kImageData,
          static_cast<uint32_t>(ImageDataPixelOffset(doc, m.height)),
          doc->compression);

  // No planes, or a compression the reader does not know: all zero.
  const bool decodable = m.present > 0 && CompressionKnown(doc->compression);
  ImageDataPlanes planes;
  memset(&planes, 0, sizeof(planes));
  // A 16-bit document with a profile is converted from its 16-bit samples
  // (or, when its zip planes would not fit the scratch limit at that size,
  // from their first bytes).
  m.wide = s->colour != nullptr && s->colour->wide;
  if (decodable) {
    Status opened =
        OpenImageData(doc, PlanesRead(m), m.samples, m.height, m.wide, &planes);
    if (opened == kTooLarge && m.wide) {
      m.wide = false;
      opened = OpenImageData(doc, PlanesRead(m), m.samples, m.height, false,
                             &planes);
    }
    if (opened != kDone) {
      *request->pixels_slot = nullptr;
      return opened;
    }
  }
  // A row of zeros for the planes a row's data does not reach.
  uint8_t* zeros = static_cast<uint8_t*>(
      AllocateZeroed((m.wide ? 2ull : 1ull) * m.samples + 1));
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
    const Status decoded = DecodeRows(s, m, &planes, zeros, pixels);
    if (decoded != kDone) {
      Release(zeros);
      CloseImageData(&planes);
      LocalFree(*request->pixels_slot);
      *request->pixels_slot = nullptr;
      return decoded;
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
