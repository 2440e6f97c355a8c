// The archive entry points of layerpack: listing, per-entry information and
// extraction of an entry as a BMP.
#pragma once

#include "engine/decode.h"

enum : uint32_t {
  kInputFile = 0,
  kInputMemory = 1,
  kInputMask = 7,
  kOutputFile = 0,
  kOutputMemory = 0x100,
  kOutputMask = 0x700,
};

PLUGIN_API int32_t WINAPI GetArchiveInfo(LPCSTR source, intptr_t source_size,
                                         uint32_t mode, HLOCAL* listing_out);
PLUGIN_API int32_t WINAPI GetFileInfo(LPCSTR source, intptr_t source_size,
                                      LPCSTR requested_name, uint32_t mode,
                                      ArchiveFileInfo* info_out);
PLUGIN_API int32_t WINAPI GetFile(LPCSTR source, intptr_t entry,
                                  LPSTR destination, uint32_t mode,
                                  ProgressCallback progress,
                                  intptr_t callback_data);
