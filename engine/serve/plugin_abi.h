// What crosses the module boundary: the records the host and the plug-ins
// exchange, the result codes, the mode bits and the exports. The layouts are
// part of the interface; the engine's own working records live elsewhere.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include "platform/win32_api.h"

// Result codes of DecodePictureW and of every export.
enum : int32_t {
  kResultOk = 0,
  kResultNotPsd = 3,     // signature, version or reserved bytes wrong; empty
  kResultNoMemory = 4,   // a block cannot be allocated (or is too large)
  kResultReadError = 6,  // the file cannot be opened, read or written
  kResultNoPixels = 8,   // header only, or a directory was built
  kResultBadMode = -1,   // input or output mode not supported
};

// The host's `mode` argument: the input mode in the low three bits, the
// output mode of GetFile in bits 8 to 10.
enum : uint32_t {
  kInputFile = 0,
  kInputMemory = 1,
  kInputMask = 7,
  kOutputFile = 0,
  kOutputMemory = 0x100,
  kOutputMask = 0x700,
};

// Request flags: build the layer directory instead of decoding pixels; the
// flag the picture entry points set, which the engine does not look at.
enum : uint32_t { kListFlag = 0x40000000u, kPictureFlag = 1 };
// Result flag: the document has at least one layer.
enum : uint32_t { kHasLayers = 0x1000000u };

typedef int32_t(WINAPI* ProgressCallback)(int32_t numerator,
                                          int32_t denominator,
                                          intptr_t user_data);

// The engine's request (120 bytes in 64-bit builds, 84 in 32-bit builds, no
// gaps).
struct DecodeRequest {
  uint32_t size;
  uint32_t flags;
  uint32_t reserved1;
  uint32_t entry_index;
  const WCHAR* file_name;
  intptr_t file_offset;  // the host's offset; documents are read from byte 0
  const void* memory_image;
  uintptr_t memory_length;
  ProgressCallback progress;
  intptr_t user_data;
  uintptr_t reserved_out;
  HLOCAL* header_slot;
  HLOCAL* pixels_slot;
  uint32_t result_flags;
  uint32_t reserved2;
  uint32_t entry_count;
  uint32_t image_size;
  uint32_t reserved3;
  uint32_t reserved4;
  uint32_t reserved5[2];
};

#if UINTPTR_MAX > 0xFFFFFFFFu
static_assert(sizeof(DecodeRequest) == 120, "64-bit request layout");
static_assert(offsetof(DecodeRequest, header_slot) == 72, "request layout");
static_assert(offsetof(DecodeRequest, result_flags) == 88, "request layout");
static_assert(offsetof(DecodeRequest, image_size) == 100, "request layout");
#else
static_assert(sizeof(DecodeRequest) == 84, "32-bit request layout");
static_assert(offsetof(DecodeRequest, header_slot) == 44, "request layout");
static_assert(offsetof(DecodeRequest, result_flags) == 52, "request layout");
static_assert(offsetof(DecodeRequest, image_size) == 64, "request layout");
#endif
static_assert(sizeof(BITMAPINFOHEADER) == 40, "BITMAPINFOHEADER");

// The host's record of one archive entry (448 bytes in 64-bit builds, 428
// in 32-bit builds).
#if UINTPTR_MAX > 0xFFFFFFFFu
typedef uint64_t ArchiveWord;
#else
typedef uint32_t ArchiveWord;
#endif
#pragma pack(push, 4)
struct ArchiveFileInfo {
  char kind[8];
  ArchiveWord entry_number;
  ArchiveWord packed_size;
  ArchiveWord unpacked_size;
  ArchiveWord time_stamp;
  char folder[200];
  char entry_name[200];
  uint32_t checksum;
#if UINTPTR_MAX > 0xFFFFFFFFu
  uint32_t padding;
#endif
};
#pragma pack(pop)
#if UINTPTR_MAX > 0xFFFFFFFFu
static_assert(sizeof(ArchiveFileInfo) == 448, "64-bit archive record");
static_assert(offsetof(ArchiveFileInfo, entry_name) == 240, "record layout");
static_assert(offsetof(ArchiveFileInfo, checksum) == 440, "record layout");
#else
static_assert(sizeof(ArchiveFileInfo) == 428, "32-bit archive record");
static_assert(offsetof(ArchiveFileInfo, entry_name) == 224, "record layout");
static_assert(offsetof(ArchiveFileInfo, checksum) == 424, "record layout");
#endif

// Picture information for the host: 26 bytes packed in 32-bit builds,
// 32 bytes in 64-bit builds.
#if UINTPTR_MAX <= 0xFFFFFFFFu
#pragma pack(push, 1)
#endif
struct PictureInfo {
  int32_t left;
  int32_t top;
  int32_t width;
  int32_t height;
  uint16_t x_density;
  uint16_t y_density;
  uint16_t color_depth;
#if UINTPTR_MAX > 0xFFFFFFFFu
  uint16_t padding;
#endif
  HLOCAL text_info;
};
#if UINTPTR_MAX > 0xFFFFFFFFu
static_assert(sizeof(PictureInfo) == 32, "64-bit picture information");
static_assert(offsetof(PictureInfo, text_info) == 24, "record layout");
#else
#pragma pack(pop)
static_assert(sizeof(PictureInfo) == 26, "32-bit picture information");
static_assert(offsetof(PictureInfo, text_info) == 22, "record layout");
#endif

// The engine's entry point: serves one request and owns nothing afterwards.
PLUGIN_API int32_t WINAPI DecodePictureW(DecodeRequest* request);

// The shapes of the exports. The picture calls exist twice: with an ANSI
// name (Name = LPCSTR) and with a UTF-16 one (LPCWSTR, the W form).
template <typename Name>
using PictureCallOf = int32_t WINAPI(Name source, intptr_t source_size,
                                     uint32_t mode, HLOCAL* header_slot,
                                     HLOCAL* pixels_slot,
                                     ProgressCallback progress,
                                     intptr_t user_data);
template <typename Name>
using PictureInfoCallOf = int32_t WINAPI(Name source, intptr_t source_size,
                                         uint32_t mode, PictureInfo* info);
typedef PictureCallOf<LPCSTR> PictureCall;
typedef PictureCallOf<LPCWSTR> PictureCallW;
typedef PictureInfoCallOf<LPCSTR> PictureInfoCall;
typedef PictureInfoCallOf<LPCWSTR> PictureInfoCallW;
typedef int32_t WINAPI ArchiveInfoCall(LPCSTR source, intptr_t source_size,
                                       uint32_t mode, HLOCAL* listing_out);
typedef int32_t WINAPI FileInfoCall(LPCSTR source, intptr_t source_size,
                                    LPCSTR requested_name, uint32_t mode,
                                    ArchiveFileInfo* info_out);
typedef int32_t WINAPI FileCall(LPCSTR source, intptr_t entry,
                                LPSTR destination, uint32_t mode,
                                ProgressCallback progress,
                                intptr_t callback_data);

// flatview's picture entry points.
PLUGIN_API PictureCall GetPicture, GetPreview;
PLUGIN_API PictureCallW GetPictureW, GetPreviewW;
PLUGIN_API PictureInfoCall GetPictureInfo;
PLUGIN_API PictureInfoCallW GetPictureInfoW;

// layerpack's archive entry points.
PLUGIN_API ArchiveInfoCall GetArchiveInfo;
PLUGIN_API FileInfoCall GetFileInfo;
PLUGIN_API FileCall GetFile;
