// The archive's entries: their names, the parser of a requested name, and
// the size of the BMP file an entry is extracted as.
#pragma once

#include <stdint.h>

#include "platform/win32_api.h"

namespace engine {

// A BMP file: the 14-byte file header, the 40-byte info header, the
// palette and the pixel rows.
const uint32_t kBmpFileHeaderBytes = 14;
const uint32_t kBmpInfoHeaderBytes = 40;

inline uint64_t BmpFileSize(uint64_t palette_bytes, uint64_t image_size) {
  return kBmpFileHeaderBytes + kBmpInfoHeaderBytes + palette_bytes + image_size;
}

// Room for the longest entry name, terminator included.
const uint32_t kEntryNameRoom = 32;

// "compound.bmp" for entry 0, else "layer%04d.bmp", or "layer%04d.dat" for
// a layer without pixels.
void EntryNameA(uint32_t entry, bool has_pixels, char* name);
void EntryNameW(uint32_t entry, bool has_pixels, WCHAR* name);

// The entry a name selects: "compound.bmp" is entry 0; "l" followed by four
// characters and a number is that layer ("layer0003.bmp", "layer0003.dat").
// Returns false for any other name.
bool EntryFromName(const char* name, uint32_t* entry);

}  // namespace engine
