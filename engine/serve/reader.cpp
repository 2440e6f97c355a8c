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
#include "engine/serve/file_input.h"
#include "engine/serve/serve.h"

namespace engine {
namespace {

// The layer records a listing logs (then a line counting the rest).
const uint32_t kLoggedRecords = 8;

// The document: the memory image the host passed (used where it is), or
// the named file, read by range as the request needs its parts.
Status OpenSource(const DecodeRequest* request, Source* source) {
  if (request->memory_image != nullptr) {
    *source = MemorySource(static_cast<const uint8_t*>(request->memory_image),
                           request->memory_length);
    return kDone;
  }
  return OpenFileSource(request->file_name, source);
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
  s->header_made = true;
  memset(LocalLock(block), 0, bytes);
  LocalUnlock(block);
  return s->format.palette_bytes != 0 ? BuildPalette(s, block) : kDone;
}

void LogSections(const Document* doc, const Sections& sections) {
  LogLine(doc->log, logtext::kColorModeData, kFileHeaderBytes,
          sections.color_mode_length);
  LogLine(doc->log, logtext::kImageResources,
          static_cast<uint32_t>(sections.resources_field),
          sections.resources_length);
}

// The conversion of the embedded profile, for what the request hands out:
// the palette now, the pixels as they are decoded. A 16-bit gray document
// keeps the gray ramp: its pixels are the sRGB levels of its 16-bit
// samples (a gray converts to a neutral sRGB, and 8 bits of it keep more
// than a palette of 256 of the document's levels would).
Status OpenColour(ServeState* s, HLOCAL header_block) {
  const bool palette = PaletteOutput(s->format);
  if (s->request->pixels_slot == nullptr && !palette) return kDone;
  const Status opened = OpenColourConversion(&s->doc, &s->colour);
  if (opened != kDone || s->colour == nullptr || !palette) return opened;
  if (s->colour->kind == kColourGray && s->colour->wide) return kDone;
  ConvertPalette(s->colour,
                 static_cast<uint8_t*>(LocalLock(header_block)) + 40);
  LocalUnlock(header_block);
  return kDone;
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
  const Status resources = ReadResources(doc, sections);
  if (resources != kDone) return resources;
  s->header.biXPelsPerMeter = doc->x_pixels_per_metre;
  s->header.biYPelsPerMeter = doc->y_pixels_per_metre;
  const bool listing = (request->flags & kListFlag) != 0;
  if (!listing) {
    const Status colour = OpenColour(s, header_block);
    if (colour != kDone) return colour;
  }
  LogLine(doc->log, logtext::kLayerAndMask,
          static_cast<uint32_t>(sections.layers_field),
          static_cast<uint32_t>(sections.layers_length));
  const LayerInfo info = FindLayerInfo(doc, sections);
  FindPatterns(doc, sections);
  doc->merged_alpha = info.count < 0;
  const uint32_t layer_count =
      static_cast<uint32_t>(info.count < 0 ? -info.count : info.count);
  request->entry_count = layer_count + 1;
  if (layer_count > 0) request->result_flags |= kHasLayers;
  LogLine(doc->log, logtext::kLayers, layer_count);
  doc->image_data = sections.image_data;
  uint8_t word[2] = {0, 0};
  ReadExact(doc->source, sections.image_data, 2, word);
  doc->compression = ReadU16(word);

  // A document saved without a merged picture shows its layers composited.
  const bool composite = doc->merged_placeholder && layer_count > 0 &&
                         request->pixels_slot != nullptr && !listing;
  if (request->entry_index > 0 || listing || composite) {
    // A listing logs the first records; a layer's request logs its own.
    const Status parsed =
        ParseLayerRecords(doc, &s->layers, layer_count, info.records,
                          listing ? kLoggedRecords : 0);
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

// A read of the file failed: the request ends as one whose file cannot be
// read, holding none of the blocks it made.
void DropBlocks(ServeState* s, Status status) {
  DecodeRequest* request = s->request;
  if ((status == kDone || status == kDirectoryBuilt) &&
      request->pixels_slot != nullptr && *request->pixels_slot != nullptr) {
    LocalFree(*request->pixels_slot);
    *request->pixels_slot = nullptr;
  }
  if (s->header_made && *request->header_slot != nullptr) {
    LocalFree(*request->header_slot);
    *request->header_slot = nullptr;
  }
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
  Source source;
  const Status opened = OpenSource(request, &source);
  if (opened != kDone) return ResultForStatus(opened);
  LogBuffer log;
  LogBegin(&log);
  s.doc.source = &source;
  s.doc.log = &log;
  s.doc.x_pixels_per_metre = kDefaultPixelsPerMetre;
  s.doc.y_pixels_per_metre = kDefaultPixelsPerMetre;

  ReportProgress(request, 0);
  Status status = ServeRequest(&s);
  ReleaseLayerRecords(&s.layers);
  CloseColourConversion(s.colour);
  if (SourceFailed(&source)) {
    DropBlocks(&s, status);
    status = kUnreadable;
  }
  CloseFileSource(&source);
  LogFinish(&log);
  ReportProgress(request, 100);
  return ResultForStatus(status);
}
