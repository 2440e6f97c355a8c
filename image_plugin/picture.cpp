#include <string.h>

#include "engine/serve/plugin_abi.h"

namespace {

const uint32_t kNameUnits = 260;

// An ANSI file name as UTF-16, cut to 259 units and always terminated.
void WidenName(LPCSTR name, WCHAR* wide) {
  wide[0] = 0;
  MultiByteToWideChar(CP_ACP, MB_PRECOMPOSED, name, -1, wide, kNameUnits);
  wide[kNameUnits - 1] = 0;
}

// The source the wide entry point receives for an ANSI call.
LPCWSTR WideSource(LPCSTR source, uint32_t mode, WCHAR* wide) {
  if ((mode & kInputMask) != kInputFile) {
    return reinterpret_cast<LPCWSTR>(source);
  }
  WidenName(source, wide);
  return wide;
}

}  // namespace

PLUGIN_API int32_t WINAPI GetPictureW(LPCWSTR source, intptr_t source_size,
                                      uint32_t mode, HLOCAL* header_slot,
                                      HLOCAL* pixels_slot,
                                      ProgressCallback progress,
                                      intptr_t user_data) {
  DecodeRequest request;
  memset(&request, 0, sizeof(request));
  request.size = sizeof(DecodeRequest);
  request.flags = kPictureFlag;
  request.entry_index = 0;
  request.progress = progress;
  request.user_data = user_data;
  request.header_slot = header_slot;
  request.pixels_slot = pixels_slot;
  switch (mode & kInputMask) {
    case kInputMemory:
      request.memory_image = source;
      request.memory_length = static_cast<uintptr_t>(source_size);
      break;
    case kInputFile:
      request.file_name = source;
      request.file_offset = source_size;
      break;
    default:
      return kResultBadMode;
  }
  return DecodePictureW(&request);
}

PLUGIN_API int32_t WINAPI GetPicture(LPCSTR source, intptr_t source_size,
                                     uint32_t mode, HLOCAL* header_slot,
                                     HLOCAL* pixels_slot,
                                     ProgressCallback progress,
                                     intptr_t user_data) {
  WCHAR wide[kNameUnits];
  return GetPictureW(WideSource(source, mode, wide), source_size, mode,
                     header_slot, pixels_slot, progress, user_data);
}

PLUGIN_API int32_t WINAPI GetPictureInfoW(LPCWSTR source, intptr_t source_size,
                                          uint32_t mode, PictureInfo* info) {
  HLOCAL header_block = nullptr;
  const int32_t result = GetPictureW(source, source_size, mode, &header_block,
                                     nullptr, nullptr, 0);
  if (result != kResultNoPixels) return result;
  const BITMAPINFOHEADER* header =
      static_cast<const BITMAPINFOHEADER*>(LocalLock(header_block));
  info->left = 0;
  info->top = 0;
  info->width = header->biWidth;
  info->height = header->biHeight;
  info->x_density = static_cast<uint16_t>(header->biXPelsPerMeter / 39);
  info->y_density = static_cast<uint16_t>(header->biYPelsPerMeter / 39);
  info->color_depth = header->biBitCount;
  info->text_info = nullptr;
  LocalUnlock(header_block);
  LocalFree(header_block);
  return kResultOk;
}

PLUGIN_API int32_t WINAPI GetPictureInfo(LPCSTR source, intptr_t source_size,
                                         uint32_t mode, PictureInfo* info) {
  WCHAR wide[kNameUnits];
  return GetPictureInfoW(WideSource(source, mode, wide), source_size, mode,
                         info);
}

PLUGIN_API int32_t WINAPI GetPreviewW(LPCWSTR, intptr_t, uint32_t, HLOCAL*,
                                      HLOCAL*, ProgressCallback, intptr_t) {
  return kResultBadMode;
}

PLUGIN_API int32_t WINAPI GetPreview(LPCSTR, intptr_t, uint32_t, HLOCAL*,
                                     HLOCAL*, ProgressCallback, intptr_t) {
  return kResultBadMode;
}
