// The picture entry points of flatview and the record they fill.
#pragma once

#include "engine/decode.h"

// Picture information for the host: 26 bytes packed in 32-bit builds,
// 32 bytes in 64-bit builds.
#if UINTPTR_MAX > 0xFFFFFFFFu
struct PictureInfo {
  int32_t left;
  int32_t top;
  int32_t width;
  int32_t height;
  uint16_t x_density;
  uint16_t y_density;
  uint16_t color_depth;
  uint16_t padding;
  HLOCAL text_info;
};
static_assert(sizeof(PictureInfo) == 32, "64-bit picture information");
static_assert(offsetof(PictureInfo, text_info) == 24, "record layout");
#else
#pragma pack(push, 1)
struct PictureInfo {
  int32_t left;
  int32_t top;
  int32_t width;
  int32_t height;
  uint16_t x_density;
  uint16_t y_density;
  uint16_t color_depth;
  HLOCAL text_info;
};
#pragma pack(pop)
static_assert(sizeof(PictureInfo) == 26, "32-bit picture information");
static_assert(offsetof(PictureInfo, text_info) == 22, "record layout");
#endif

// Input modes in the low three bits of `mode`.
enum : uint32_t { kInputFile = 0, kInputMemory = 1, kInputMask = 7 };

PLUGIN_API int32_t WINAPI GetPictureW(LPCWSTR source, intptr_t source_size,
                                      uint32_t mode, HLOCAL* header_slot,
                                      HLOCAL* pixels_slot,
                                      ProgressCallback progress,
                                      intptr_t user_data);
PLUGIN_API int32_t WINAPI GetPicture(LPCSTR source, intptr_t source_size,
                                     uint32_t mode, HLOCAL* header_slot,
                                     HLOCAL* pixels_slot,
                                     ProgressCallback progress,
                                     intptr_t user_data);
PLUGIN_API int32_t WINAPI GetPictureInfoW(LPCWSTR source, intptr_t source_size,
                                          uint32_t mode, PictureInfo* info);
PLUGIN_API int32_t WINAPI GetPictureInfo(LPCSTR source, intptr_t source_size,
                                         uint32_t mode, PictureInfo* info);
PLUGIN_API int32_t WINAPI GetPreviewW(LPCWSTR source, intptr_t source_size,
                                      uint32_t mode, HLOCAL* header_slot,
                                      HLOCAL* pixels_slot,
                                      ProgressCallback progress,
                                      intptr_t user_data);
PLUGIN_API int32_t WINAPI GetPreview(LPCSTR source, intptr_t source_size,
                                     uint32_t mode, HLOCAL* header_slot,
                                     HLOCAL* pixels_slot,
                                     ProgressCallback progress,
                                     intptr_t user_data);
