// The document reader, the body of DecodePictureW: loads the document,
// checks its header, hands out the header block, walks the sections and
// passes the work on to the decoders or the directory builder.
//
// What the host sees when a step cannot serve what was asked: a layer with
// no picture of its own (its data cannot be found, or it is more than its
// document could describe) and layers that cannot be composited are served
// as the merged picture; a lack of memory anywhere is result 4.
#include "engine/base/bytes.h"
#include "engine/base/limits.h"
#include "engine/base/log_messages.h"
#include "engine/base/memory.h"
#include "engine/psd/format.h"
#include "engine/psd/sections.h"
#include "engine/serve/serve.h"

namespace engine {
namespace {

// ReadFile moves at most this much at a time.
const DWORD kReadPiece = 1u << 30;

struct LoadedDocument {
  uint8_t* buffer;  // the engine's copy of a file, or null for a memory image
};

Status LoadDocument(const DecodeRequest* request, Document* doc,
                    LoadedDocument* loaded) {
  loaded->buffer = nullptr;
  if (request->memory_image != nullptr) {
    doc->file_base = static_cast<const uint8_t*>(request->memory_image);
    doc->file_end = doc->file_base + request->memory_length;
    return kDone;
  }
  HANDLE file = CreateFileW(request->file_name, GENERIC_READ,
                            FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                            OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
  if (file == INVALID_HANDLE_VALUE) return kUnreadable;
  DWORD high = 0;
  const DWORD low = GetFileSize(file, &high);
  const uint64_t size = (static_cast<uint64_t>(high) << 32) | low;
  // A document this process cannot hold (beyond the address space of a
  // 32-bit build) is refused as memory that cannot be had.
  uint8_t* buffer =
      static_cast<uint8_t*>(Allocate(SaturatingAdd(size, kLimits.file_tail)));
  if (buffer == nullptr) {
    CloseHandle(file);
    return kNoMemory;
  }
  uint64_t done = 0;
  bool ok = true;
  while (ok && done < size) {
    const uint64_t left = size - done;
    const DWORD piece =
        left < kReadPiece ? static_cast<DWORD>(left) : kReadPiece;
    DWORD read = 0;
    ok = ReadFile(file, buffer + done, piece, &read, nullptr) != FALSE;
    done += read;
    if (read == 0) break;  // the file is shorter than it was
  }
  CloseHandle(file);
  if (!ok) {
    Release(buffer);
    return kUnreadable;
  }
  memset(buffer + done, 0, kLimits.file_tail);
  loaded->buffer = buffer;
  doc->file_base = buffer;
  doc->file_end = buffer + done;
  return kDone;
}

void ReportProgress(const DecodeRequest* request, int32_t numerator) {
  if (request->progress != nullptr) {
    request->progress(numerator, 100, request->user_data);
  }
}

void CopyHeaderIntoBlock(HLOCAL block, const BITMAPINFOHEADER* header) {
  void* bytes = LocalLock(block);
  memcpy(bytes, header, sizeof(*header));
  LocalUnlock(block);
}

// The header block: the header's 40 bytes (filled in later) and the palette.
Status MakeHeaderBlock(ServeState* s) {
  const SIZE_T bytes = 40 + s->format.palette_bytes;
  HLOCAL block = LocalAlloc(LMEM_FIXED, bytes);
  *s->request->header_slot = block;
  if (block == nullptr) return kNoMemory;
  memset(LocalLock(block), 0, bytes);
  LocalUnlock(block);
  if (s->format.palette_bytes != 0) BuildPalette(s, block);
  return kDone;
}

void LogSections(const Document* doc, const Sections& sections) {
  LogLine(doc->log, logtext::kColorModeData, kFileHeaderBytes,
          sections.color_mode_length);
  LogLine(doc->log, logtext::kImageResources,
          static_cast<uint32_t>(sections.resources_field),
          sections.resources_length);
}

// Everything after loading: checks, header block, sections, dispatch.
Status ServeRequest(ServeState* s) {
  DecodeRequest* request = s->request;
  Document* doc = &s->doc;
  const Status read = ReadFileHeader(doc);
  if (read != kDone) return read;
  const Status format = ChooseOutputFormat(s);
  LogLine(doc->log, logtext::kImageMode, doc->color_mode, doc->depth,
          s->format.palette_bytes);

  Sections sections;
  if (!LocateSections(doc, &sections)) return kNotPsd;
  if (format != kDone) {
    *request->header_slot = nullptr;
    return format;
  }
  const Status made = MakeHeaderBlock(s);
  if (made != kDone) return made;
  HLOCAL header_block = *request->header_slot;

  LogSections(doc, sections);
  ReadResources(doc, sections);
  s->header.biXPelsPerMeter = doc->x_pixels_per_metre;
  s->header.biYPelsPerMeter = doc->y_pixels_per_metre;
  LogLine(doc->log, logtext::kLayerAndMask,
          static_cast<uint32_t>(sections.layers_field),
          static_cast<uint32_t>(sections.layers_length));
  const LayerInfo info = FindLayerInfo(doc, sections);
  const uint32_t layer_count =
      static_cast<uint32_t>(info.count < 0 ? -info.count : info.count);
  request->entry_count = layer_count + 1;
  if (layer_count > 0) request->result_flags |= kHasLayers;
  LogLine(doc->log, logtext::kLayers, layer_count);
  doc->image_data = sections.image_data;
  doc->compression = ReadU16(doc->file_base + sections.image_data);

  const bool listing = (request->flags & kListFlag) != 0;
  // A document saved without a merged picture shows its layers composited.
  const bool composite = doc->merged_placeholder && layer_count > 0 &&
                         request->pixels_slot != nullptr && !listing;
  if (request->entry_index > 0 || listing || composite) {
    const Status parsed =
        ParseLayerRecords(doc, &s->layers, layer_count, info.records);
    if (parsed != kDone) return parsed;
    if (!listing && request->entry_index > 0) {
      const Status layer = DecodeLayerImage(s);
      if (layer != kLayerNotServed) return layer;
    }
  }

  if (doc->compression == kCompressionPackBits) {
    LogLine(doc->log, logtext::kSkipRowCounts,
            static_cast<uint32_t>(sections.image_data + 2));
  }
  CopyHeaderIntoBlock(header_block, &s->header);
  if (request->pixels_slot == nullptr) {
    LogLine(doc->log, logtext::kHeaderOnly);
    request->image_size = s->header.biSizeImage;
    return kHeaderOnly;
  }
  if (listing) return BuildLayerDirectory(s);
  if (composite) {
    const Status composed = DecodeComposite(s);
    if (composed != kNoComposite) return composed;
  }
  return DecodeMergedImage(s);
}

}  // namespace
}  // namespace engine

PLUGIN_API int32_t WINAPI DecodePictureW(DecodeRequest* request) {
  using namespace engine;
  request->result_flags = 0;
  request->entry_count = 0;
  request->reserved_out = 0;
  request->reserved3 = 0;
  request->reserved4 = 0;

  ServeState s;
  memset(&s, 0, sizeof(s));
  s.request = request;
  InitDocumentHeader(&s.header);
  LogBuffer log;
  LogBegin(&log);
  s.doc.log = &log;
  s.doc.x_pixels_per_metre = kDefaultPixelsPerMetre;
  s.doc.y_pixels_per_metre = kDefaultPixelsPerMetre;
  LoadedDocument loaded;
  const Status load = LoadDocument(request, &s.doc, &loaded);
  if (load != kDone) return ResultForStatus(load);

  ReportProgress(request, 0);
  const Status status = ServeRequest(&s);
  ReleaseLayerRecords(&s.layers);
  Release(loaded.buffer);
  LogFlush(&log);
  ReportProgress(request, 100);
  return ResultForStatus(status);
}
