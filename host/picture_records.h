// The records of a picture as psdhost shows and writes them: the BMP file
// header in front of a header block and its pixels, and the fields of a
// header block and of a picture information record. Everything here reads
// only inside the sizes given.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include <string>

#include "host/plugin_api.h"

// The 14-byte BITMAPFILEHEADER in front of a header block of `header_size`
// bytes and `pixel_size` bytes of pixels, little-endian.
void MakeBmpFileHeader(uint32_t header_size, uint32_t pixel_size,
                       uint8_t out[14]);

// The fields of a header block (BITMAPINFOHEADER and palette), one
// "name value" pair each, read byte by byte. A block shorter than 40 bytes
// gives an error line instead.
std::string DescribeBitmapHeader(const uint8_t* block, size_t size);

// The fields of a picture information record.
std::string DescribePictureInfo(const PictureInfo& info);
