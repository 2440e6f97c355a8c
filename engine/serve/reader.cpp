// The document reader, the body of DecodePictureW: loads the document,
// checks its header, hands out the header block, walks the sections and
// passes the work on to the decoders or the directory builder.
#include "engine/base/bytes.h"
#include "engine/compose/composite.h"
#include "engine/psd/format.h"
#include "engine/base/limits.h"
#include "engine/base/log_messages.h"
#include "engine/psd/sections.h"

namespace {

const uint8_t kSignature[4] = {0x38, 0x42, 0x50, 0x53};  // "8BPS"
const uint8_t kReserved[6] = {0, 0, 0, 0, 0, 0};
const uint32_t kHeaderSize = 26;
// ReadFile moves at most this much at a time.
const DWORD kReadPiece = 1u << 30;

struct LoadedDocument {
  uint8_t* buffer;  // the engine's copy of a file, or null for a memory image
};

Status LoadDocument(const DecodeRequest* request, DecodeState* state,
                    LoadedDocument* doc) {
  doc->buffer = nullptr;
  if (request->memory_image != nullptr) {
    state->file_base = static_cast<const uint8_t*>(request->memory_image);
    state->file_end = state->file_base + request->memory_length;
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
  const uint64_t total = size + kLimits.file_tail;
  uint8_t* buffer = nullptr;
  if (total <= static_cast<uint64_t>(static_cast<SIZE_T>(-1) / 2)) {
    buffer = static_cast<uint8_t*>(
        HeapAlloc(GetProcessHeap(), 0, static_cast<SIZE_T>(total)));
  }
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
    HeapFree(GetProcessHeap(), 0, buffer);
    return kUnreadable;
  }
  memset(buffer + done, 0, kLimits.file_tail);
  doc->buffer = buffer;
  state->file_base = buffer;
  state->file_end = buffer + done;
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

// The file header: signature, version, sides, channels, depth and mode.
Status ReadFileHeader(DecodeState* state, BITMAPINFOHEADER* header) {
  const uint8_t* base = state->file_base;
  if (DocumentSize(state) < kHeaderSize || memcmp(base, kSignature, 4) != 0 ||
      memcmp(base + 6, kReserved, 6) != 0) {
    return kNotPsd;
  }
  state->version = ReadU16(base + 4);
  if (state->version != kVersionPsd && state->version != kVersionPsb) {
    return kNotPsd;
  }
  const uint32_t width = ReadU32(base + 18);
  const uint32_t height = ReadU32(base + 14);
  LogLine(state->log, logtext::kImageSize, width, height);
  if (width == 0 || height == 0) return kNotPsd;
  const uint32_t max_side = MaxSide(state->version);
  if (width > max_side || height > max_side) return kNotPsd;
  header->biWidth = static_cast<LONG>(width);
  header->biHeight = static_cast<LONG>(height);
  state->channels = ReadU16(base + 12);
  state->color_mode = ReadU16(base + 24);
  state->depth = ReadU16(base + 22);
  return kDone;
}

// The header block: the header's 40 bytes (filled in later) and the palette.
Status MakeHeaderBlock(DecodeRequest* request, const DecodeState* state) {
  const SIZE_T bytes = 40 + state->palette_bytes;
  HLOCAL block = LocalAlloc(LMEM_FIXED, bytes);
  *request->header_slot = block;
  if (block == nullptr) return kNoMemory;
  memset(LocalLock(block), 0, bytes);
  LocalUnlock(block);
  if (state->palette_bytes != 0) BuildPalette(state, block);
  return kDone;
}

void LogSections(const DecodeState* state, const Sections& s) {
  LogLine(state->log, logtext::kColorModeData, kHeaderSize,
          s.color_mode_length);
  LogLine(state->log, logtext::kImageResources,
          static_cast<uint32_t>(s.resources_field), s.resources_length);
}

// Everything after loading: checks, header block, sections, dispatch.
Status ServeRequest(DecodeRequest* request, DecodeState* state,
                    BITMAPINFOHEADER* header, LayerList* layers) {
  const Status read = ReadFileHeader(state, header);
  if (read != kDone) return read;
  const Status format = ChooseOutputFormat(state, header);
  LogLine(state->log, logtext::kImageMode, state->color_mode, state->depth,
          state->palette_bytes);

  Sections s;
  if (!LocateSections(state, &s)) return kNotPsd;
  if (format != kDone) {
    *request->header_slot = nullptr;
    return format;
  }
  const Status made = MakeHeaderBlock(request, state);
  if (made != kDone) return made;
  HLOCAL header_block = *request->header_slot;

  LogSections(state, s);
  ReadResources(state, s, header);
  LogLine(state->log, logtext::kLayerAndMask,
          static_cast<uint32_t>(s.layers_field),
          static_cast<uint32_t>(s.layers_length));
  const LayerInfo info = FindLayerInfo(state, s);
  const uint32_t layer_count =
      static_cast<uint32_t>(info.count < 0 ? -info.count : info.count);
  request->entry_count = layer_count + 1;
  if (layer_count > 0) request->result_flags |= kHasLayers;
  LogLine(state->log, logtext::kLayers, layer_count);
  state->image_data = s.image_data;
  state->compression = ReadU16(state->file_base + s.image_data);

  const bool listing = (request->flags & kListFlag) != 0;
  // A document saved without a merged picture shows its layers composited.
  const bool composite = state->merged_placeholder && layer_count > 0 &&
                         request->pixels_slot != nullptr && !listing;
  if (request->entry_index > 0 || listing || composite) {
    const Status parsed =
        ParseLayerRecords(state, layers, layer_count, info.records);
    if (parsed != kDone) return parsed;
    if (!listing) {
      // A layer that cannot be served, for whatever reason, is served as
      // the merged picture.
      const Status layer = DecodeLayerImage(request, state, layers, header);
      if (layer == kDone) return kDone;
    }
  }

  if (state->compression == 1) {
    LogLine(state->log, logtext::kSkipRowCounts,
            static_cast<uint32_t>(s.image_data + 2));
  }
  CopyHeaderIntoBlock(header_block, header);
  if (request->pixels_slot == nullptr) {
    LogLine(state->log, logtext::kHeaderOnly);
    request->image_size = header->biSizeImage;
    return kHeaderOnly;
  }
  if (listing) return BuildLayerDirectory(request, state, layers, header);
  if (composite) {
    const Status composed = DecodeComposite(request, state, layers, header);
    if (composed != kNotServed) return composed;
  }
  return DecodeMergedImage(request, state, header);
}

}  // namespace

int32_t ResultForStatus(Status status) {
  switch (status) {
    case kDone:
      return kResultOk;
    case kHeaderOnly:
    case kDirectoryBuilt:
    case kNotServed:
      return kResultNoPixels;
    case kNotPsd:
      return kResultNotPsd;
    case kTooLarge:
    case kNoMemory:
      return kResultNoMemory;
    case kUnreadable:
      return kResultReadError;
  }
  return kResultReadError;
}

PLUGIN_API int32_t WINAPI DecodePictureW(DecodeRequest* request) {
  request->result_flags = 0;
  request->entry_count = 0;
  request->reserved_out = 0;
  request->reserved3 = 0;
  request->reserved4 = 0;

  BITMAPINFOHEADER header;
  InitDocumentHeader(&header);
  LogBuffer log;
  LogBegin(&log);
  DecodeState state;
  memset(&state, 0, sizeof(state));
  state.log = &log;
  LoadedDocument doc;
  const Status loaded = LoadDocument(request, &state, &doc);
  if (loaded != kDone) return ResultForStatus(loaded);

  ReportProgress(request, 0);
  LayerList layers;
  memset(&layers, 0, sizeof(layers));
  const Status status = ServeRequest(request, &state, &header, &layers);
  ReleaseLayerRecords(&layers);
  if (doc.buffer != nullptr) HeapFree(GetProcessHeap(), 0, doc.buffer);
  LogFlush(&log);
  ReportProgress(request, 100);
  return ResultForStatus(status);
}
