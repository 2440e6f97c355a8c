// The PSD decoding engine: the request record that every entry point fills,
// the engine's working state, the result codes and DecodePictureW.
#pragma once

#include <string.h>

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

// Request flag: build the layer directory instead of decoding pixels.
enum : uint32_t { kListFlag = 0x40000000u };
// Result flag: the document has at least one layer.
enum : uint32_t { kHasLayers = 0x1000000u };

typedef int32_t(WINAPI* ProgressCallback)(int32_t numerator,
                                          int32_t denominator,
                                          intptr_t user_data);

// Crosses the module boundary: the layout is part of the interface
// (120 bytes in 64-bit builds, 84 in 32-bit builds, no gaps).
struct DecodeRequest {
  uint32_t size;
  uint32_t flags;
  uint32_t reserved1;
  uint32_t entry_index;
  const WCHAR* file_name;
  intptr_t file_offset;
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

// The engine's working record for one request.
struct DecodeState {
  uint16_t compression;  // Image Data compression (0 raw, 1 PackBits)
  uint16_t color_mode;
  uint16_t depth;
  uint32_t stride;         // bytes in one output row, padded to 4
  uint32_t row_bytes;      // bytes in one output row before padding
  uint32_t sample_step;    // bytes from one output pixel to the next
  uint32_t palette_bytes;  // 0, 8 or 1024
  const uint8_t* file_base;
  const uint8_t* file_end;
  const uint8_t* data_cursor;
  // Channels of the merged image data, from the file header.
  uint16_t channels;
};

// PSD colour modes.
enum : uint16_t {
  kModeBitmap = 0,
  kModeGrayscale = 1,
  kModeIndexed = 2,
  kModeRgb = 3,
  kModeCmyk = 4,
  kModeMultichannel = 7,
  kModeDuotone = 8,
  kModeLab = 9,
};

// One parsed layer record. The channel table keeps the first 8 channels;
// `channel_info` points at the record's own table in the document (6 bytes
// a channel, `channel_count` of them) so that layers with more channels
// are still stepped over and decoded correctly.
struct LayerRecord {
  int32_t left;
  int32_t top;
  int32_t right;
  int32_t bottom;
  int32_t mask_left;
  int32_t mask_top;
  int32_t mask_right;
  int32_t mask_bottom;
  int32_t width;
  int32_t height;
  int32_t has_mask;
  uint32_t channel_length[8];
  int8_t channel_id[8];
  int16_t channel_count;
  const uint8_t* channel_info;
  uint64_t channel_total;  // sum of all channel lengths
};

// What the layer parser produced: the array, how many records it filled
// (records behind a malformed one are counted but not filled) and where the
// layers' channel image data begins.
struct LayerList {
  LayerRecord* records;
  uint32_t count;
  uint32_t filled;
  const uint8_t* channel_data;
};

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

// The engine's entry point: serves one request and owns nothing afterwards.
PLUGIN_API int32_t WINAPI DecodePictureW(DecodeRequest* request);
