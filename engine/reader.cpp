// The document reader, the body of DecodePictureW: loads the document,
// checks its header, hands out the header block, walks the sections and
// passes the work on to the decoders or the directory builder.
#include "common/log.h"
#include "engine/bytes.h"
#include "engine/engine.h"

namespace {

const uint8_t kSignature[12] = {0x38, 0x42, 0x50, 0x53, 0x00, 0x01,
                                0x00, 0x00, 0x00, 0x00, 0x00, 0x00};
const uint32_t kFileTail = 256;  // zero bytes after a document read from disk
const uint32_t kHeaderSize = 26;
// Version 1 documents are at most 30000 pixels a side.
const uint32_t kMaxSide = 30000;

// Where the sections of a document lie, as offsets from its first byte.
struct Sections {
  uint32_t color_mode_length;  // L1, its data at 30
  uint64_t resources_field;    // Image Resources length field
  uint32_t resources_length;   // L2
  uint64_t layers_field;       // Layer and Mask Information length field
  uint32_t layers_length;      // L3
  uint64_t image_data;         // Image Data: the compression word
};

struct LoadedDocument {
  uint8_t* buffer;  // the engine's copy of a file, or null for a memory image
};

int32_t LoadDocument(DecodeRequest* request, DecodeState* state,
                     LoadedDocument* doc) {
  doc->buffer = nullptr;
  if (request->memory_image != nullptr) {
    state->file_base = static_cast<const uint8_t*>(request->memory_image);
    state->file_end = state->file_base + request->memory_length;
    return kResultOk;
  }
  HANDLE file = CreateFileW(request->file_name, GENERIC_READ,
                            FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                            OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
  if (file == INVALID_HANDLE_VALUE) return kResultReadError;
  DWORD high = 0;
  DWORD size = GetFileSize(file, &high);
  if (high != 0) size = 0xFFFFFFFFu;
  const uint64_t total = static_cast<uint64_t>(size) + kFileTail;
  uint8_t* buffer = nullptr;
  if (total <= static_cast<uint64_t>(static_cast<SIZE_T>(-1))) {
    buffer = static_cast<uint8_t*>(
        HeapAlloc(GetProcessHeap(), 0, static_cast<SIZE_T>(total)));
  }
  if (buffer == nullptr) {
    CloseHandle(file);
    return kResultNoMemory;
  }
  DWORD read = 0;
  const BOOL ok = ReadFile(file, buffer, size, &read, nullptr);
  CloseHandle(file);
  if (!ok) {
    HeapFree(GetProcessHeap(), 0, buffer);
    return kResultReadError;
  }
  memset(buffer + read, 0, kFileTail);
  doc->buffer = buffer;
  state->file_base = buffer;
  state->file_end = buffer + read;
  return kResultOk;
}

uint64_t DocumentSize(const DecodeState* state) {
  return static_cast<uint64_t>(state->file_end - state->file_base);
}

// Finds the sections; a length that points past the end of the document
// makes it unreadable.
bool LocateSections(const DecodeState* state, Sections* s) {
  const uint8_t* base = state->file_base;
  const uint64_t size = DocumentSize(state);
  if (!RangeFits(kHeaderSize, 4, size)) return false;
  s->color_mode_length = ReadU32(base + 26);
  s->resources_field = 30 + static_cast<uint64_t>(s->color_mode_length);
  if (!RangeFits(s->resources_field, 4, size)) return false;
  s->resources_length = ReadU32(base + s->resources_field);
  s->layers_field = s->resources_field + 4 + s->resources_length;
  if (!RangeFits(s->layers_field, 4, size)) return false;
  s->layers_length = ReadU32(base + s->layers_field);
  s->image_data = s->layers_field + 4 + s->layers_length;
  return RangeFits(s->image_data, 2, size);
}

// Pixels per metre from a 16.16 fixed-point pixels-per-inch value, rounded
// to nearest.
LONG PixelsPerMetre(uint32_t fixed_inches) {
  const uint64_t scaled = static_cast<uint64_t>(fixed_inches) * 10000u;
  const uint64_t divisor = 254u * 65536u;
  return static_cast<LONG>((scaled + divisor / 2) / divisor);
}

// Walks the Image Resources blocks for the resolution (identifier 1005).
// The walk always moves forward and stops at a block that does not fit.
void ReadResources(const DecodeState* state, const Sections& s,
                   BITMAPINFOHEADER* header) {
  const uint8_t* base = state->file_base;
  uint64_t cursor = s.resources_field + 4;
  const uint64_t end = cursor + s.resources_length;
  while (cursor < end) {
    if (!RangeFits(cursor, 7, end)) return;
    const uint32_t name_length = base[cursor + 6];
    const uint64_t name_field = (1 + name_length + 1) & ~1u;
    const uint64_t size_field = cursor + 6 + name_field;
    if (!RangeFits(size_field, 4, end)) return;
    const uint32_t data_size = ReadU32(base + size_field);
    const uint64_t data = size_field + 4;
    if (base[cursor + 4] == 0x03 && base[cursor + 5] == 0xED &&
        RangeFits(data, 12, end) && data_size >= 12) {
      header->biXPelsPerMeter = PixelsPerMetre(ReadU32(base + data));
      header->biYPelsPerMeter = PixelsPerMetre(ReadU32(base + data + 8));
    }
    cursor = data + ((static_cast<uint64_t>(data_size) + 1) & ~1ull);
  }
}

// The layer info: its length field (the layer count follows it) and the
// signed layer count.
struct LayerInfo {
  uint64_t field;
  int32_t count;
};

// Deeper documents keep their layers in an "Lr16" or "Lr32" block among the
// additional information that follows the global layer mask info, and leave
// the ordinary layer info empty. Returns the block's length field, or 0.
uint64_t FindDeepLayerInfo(const DecodeState* state, const Sections& s,
                           uint64_t info_end) {
  const uint8_t* base = state->file_base;
  const uint64_t section_end = s.layers_field + 4 + s.layers_length;
  if (!RangeFits(info_end, 4, section_end)) return 0;
  uint64_t block = info_end + 4 + ReadU32(base + info_end);  // global mask
  while (RangeFits(block, 12, section_end)) {
    const uint8_t* b = base + block;
    if (memcmp(b, "8BIM", 4) != 0 && memcmp(b, "8B64", 4) != 0) return 0;
    const uint32_t length = ReadU32(b + 8);
    if (memcmp(b + 4, "Lr16", 4) == 0 || memcmp(b + 4, "Lr32", 4) == 0) {
      return RangeFits(block + 12, length, section_end) && length >= 2
                 ? block + 8
                 : 0;
    }
    block += 12 + ((static_cast<uint64_t>(length) + 3) & ~3ull);
  }
  return 0;
}

// The layer info: the count is 0 when the section is too short to hold it
// or the layer info is empty and no deeper layer info exists.
LayerInfo FindLayerInfo(const DecodeState* state, const Sections& s) {
  LayerInfo info;
  info.field = s.layers_field + 4;
  info.count = 0;
  if (s.layers_length < 6) return info;
  const uint8_t* base = state->file_base;
  const uint32_t length = ReadU32(base + info.field);
  if (length >= 2) {
    info.count = static_cast<int16_t>(ReadU16(base + info.field + 4));
    return info;
  }
  const uint64_t deep = FindDeepLayerInfo(state, s, info.field + 4 + length);
  if (deep != 0) {
    info.field = deep;
    info.count = static_cast<int16_t>(ReadU16(base + deep + 4));
  }
  return info;
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

// Everything after loading: checks, header block, sections, dispatch.
int32_t ServeRequest(DecodeRequest* request, DecodeState* state,
                     BITMAPINFOHEADER* header, LayerList* layers) {
  const uint8_t* base = state->file_base;
  const uint64_t size = DocumentSize(state);
  if (size < kHeaderSize || memcmp(base, kSignature, 12) != 0) {
    return kResultNotPsd;
  }
  const uint32_t width = ReadU32(base + 18);
  const uint32_t height = ReadU32(base + 14);
  LogMessage("Image size: %d x %d", width, height);
  if (width == 0 || height == 0) return kResultNotPsd;
  if (width > kMaxSide || height > kMaxSide) return kResultNotPsd;
  header->biWidth = static_cast<LONG>(width);
  header->biHeight = static_cast<LONG>(height);
  state->channels = ReadU16(base + 12);
  state->color_mode = ReadU16(base + 24);
  state->depth = ReadU16(base + 22);
  const int32_t format = ChooseOutputFormat(state, header);
  LogMessage("Image Mode: %d   Depth: %d   Pallete : %d", state->color_mode,
             state->depth, state->palette_bytes);

  Sections s;
  if (!LocateSections(state, &s)) return kResultNotPsd;
  if (format != kResultOk) {
    *request->header_slot = nullptr;
    return format;
  }

  HLOCAL header_block = LocalAlloc(LMEM_FIXED, 40 + state->palette_bytes);
  *request->header_slot = header_block;
  if (header_block == nullptr) return kResultNoMemory;
  memset(LocalLock(header_block), 0, 40 + state->palette_bytes);
  LocalUnlock(header_block);
  if (state->palette_bytes != 0) BuildPalette(state, header_block);

  LogMessage("Color Mode Data +%x(%x)", 26, s.color_mode_length);
  LogMessage("Image Resources +%x(%x)",
             static_cast<uint32_t>(s.resources_field), s.resources_length);
  ReadResources(state, s, header);
  LogMessage("Layer and Mask Information +%x(%x)",
             static_cast<uint32_t>(s.layers_field), s.layers_length);
  const LayerInfo info = FindLayerInfo(state, s);
  const int32_t count = info.count;
  const uint32_t layer_count =
      static_cast<uint32_t>(count < 0 ? -count : count);
  request->entry_count = layer_count + 1;
  if (layer_count > 0) request->result_flags |= kHasLayers;
  LogMessage("Layers = %d", layer_count);
  const uint16_t compression = ReadU16(base + s.image_data);
  state->compression = compression;

  const bool listing = (request->flags & kListFlag) != 0;
  if (request->entry_index > 0 || listing) {
    const int32_t parsed = ParseLayerRecords(
        layers, layer_count, base + info.field, state->file_end);
    if (parsed != kResultOk) return parsed;
    if (!listing) {
      const int32_t layer = DecodeLayerImage(request, state, layers, header);
      if (layer == kResultOk) return kResultOk;
    }
  }

  state->compression = compression;
  state->data_cursor = base + s.image_data + 2;
  const uint8_t* pixel_data = state->data_cursor;
  if (compression == 1) {
    LogMessage("Compression skip Image Data %x",
               static_cast<uint32_t>(s.image_data + 2));
    const uint64_t table = 2ull * height * state->channels;
    const uint64_t left = BytesLeft(pixel_data, state->file_end);
    pixel_data += table < left ? table : left;
  }
  CopyHeaderIntoBlock(header_block, header);

  if (request->pixels_slot == nullptr) {
    LogMessage("pHBm = NULL");
    request->image_size = header->biSizeImage;
    return kResultNoPixels;
  }
  if (listing) return BuildLayerDirectory(request, state, layers, header);
  return DecodeMergedImage(request, state, header, pixel_data);
}

}  // namespace

PLUGIN_API int32_t WINAPI DecodePictureW(DecodeRequest* request) {
  request->result_flags = 0;
  request->entry_count = 0;
  request->reserved_out = 0;
  request->reserved3 = 0;
  request->reserved4 = 0;

  BITMAPINFOHEADER header;
  InitDocumentHeader(&header);
  DecodeState state;
  memset(&state, 0, sizeof(state));
  LoadedDocument doc;
  const int32_t loaded = LoadDocument(request, &state, &doc);
  if (loaded != kResultOk) return loaded;

  ReportProgress(request, 0);
  LayerList layers;
  memset(&layers, 0, sizeof(layers));
  const int32_t result = ServeRequest(request, &state, &header, &layers);
  ReleaseLayerRecords(&layers);
  if (doc.buffer != nullptr) HeapFree(GetProcessHeap(), 0, doc.buffer);
  ReportProgress(request, 100);
  return result;
}
