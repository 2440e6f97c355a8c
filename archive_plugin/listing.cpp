// GetArchiveInfo and GetFileInfo.
#include <string.h>

#include "engine/serve/entries.h"
#include "engine/serve/plugin_abi.h"

using engine::EntryFromName;
using engine::EntryNameA;

namespace {

// Room for a converted document name, terminator included.
const int kNameUnits = 2048;

// Fills the request's source from the host's arguments. Returns false for an
// input mode that is not offered or a name that does not fit.
bool SetSource(DecodeRequest* request, LPCSTR source, intptr_t source_size,
               uint32_t mode, WCHAR* wide, int32_t* result) {
  switch (mode & kInputMask) {
    case kInputMemory:
      request->memory_image = source;
      request->memory_length = static_cast<uintptr_t>(source_size);
      return true;
    case kInputFile:
      wide[0] = 0;
      if (MultiByteToWideChar(CP_ACP, MB_PRECOMPOSED, source, -1, wide,
                              kNameUnits) == 0) {
        *result = kResultReadError;  // never used cut or unterminated
        return false;
      }
      request->file_name = wide;
      request->file_offset = source_size;
      return true;
    default:
      *result = kResultBadMode;
      return false;
  }
}

void PrepareRequest(DecodeRequest* request, uint32_t flags, HLOCAL* header_slot,
                    HLOCAL* pixels_slot) {
  memset(request, 0, sizeof(*request));
  request->size = sizeof(DecodeRequest);
  request->flags = flags;
  request->header_slot = header_slot;
  request->pixels_slot = pixels_slot;
}

void FreeIfSet(HLOCAL block) {
  if (block != nullptr) LocalFree(block);
}

void CopyText(char* field, const char* text) {
  uint32_t i = 0;
  for (; text[i] != 0; ++i) field[i] = text[i];
  field[i] = 0;
}

// Copies the fields of a listing entry into the host's record; the bytes
// behind the names stay as the host had them.
void CopyEntry(const ArchiveFileInfo& from, ArchiveFileInfo* to) {
  for (int i = 0; i < 8; ++i) to->kind[i] = from.kind[i];
  to->entry_number = from.entry_number;
  to->packed_size = from.packed_size;
  to->unpacked_size = from.unpacked_size;
  to->time_stamp = 0;
  to->folder[0] = 0;
  CopyText(to->entry_name, from.entry_name);
  to->checksum = 0;
}

}  // namespace

PLUGIN_API int32_t WINAPI GetArchiveInfo(LPCSTR source, intptr_t source_size,
                                         uint32_t mode, HLOCAL* listing_out) {
  DecodeRequest request;
  HLOCAL header_block = nullptr;
  PrepareRequest(&request, kListFlag, &header_block, listing_out);
  WCHAR wide[kNameUnits];
  int32_t result = kResultOk;
  if (!SetSource(&request, source, source_size, mode, wide, &result)) {
    return result;
  }
  result = DecodePictureW(&request);
  FreeIfSet(header_block);
  return result == kResultNoPixels ? kResultOk : result;
}

// The record of one entry is the listing's record for it, so that the host
// sees the same figures both ways. An entry number beyond the last layer is
// extracted as the merged picture under a layer name, and described so.
PLUGIN_API int32_t WINAPI GetFileInfo(LPCSTR source, intptr_t source_size,
                                      LPCSTR requested_name, uint32_t mode,
                                      ArchiveFileInfo* info_out) {
  if (requested_name == nullptr) return kResultReadError;
  uint32_t entry = 0;
  const bool named = EntryFromName(requested_name, &entry);
  DecodeRequest request;
  HLOCAL header_block = nullptr;
  HLOCAL listing = nullptr;
  PrepareRequest(&request, kListFlag, &header_block, &listing);
  WCHAR wide[kNameUnits];
  int32_t result = kResultOk;
  if (!SetSource(&request, source, source_size, mode, wide, &result)) {
    return result;
  }
  if (!named) return kResultReadError;  // no such entry
  result = DecodePictureW(&request);
  FreeIfSet(header_block);
  if (result != kResultNoPixels) {
    FreeIfSet(listing);
    return result;
  }
  const ArchiveFileInfo* entries =
      static_cast<const ArchiveFileInfo*>(LocalLock(listing));
  if (entry < request.entry_count) {
    CopyEntry(entries[entry], info_out);
  } else {
    CopyEntry(entries[0], info_out);
    CopyText(info_out->kind, "PSD lay");
    info_out->entry_number = entry;
    EntryNameA(entry, true, info_out->entry_name);
  }
  LocalUnlock(listing);
  LocalFree(listing);
  return kResultOk;
}
