#include "host/picture_records.h"

#include "host/text.h"

namespace {

uint32_t Le32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
         (static_cast<uint32_t>(p[2]) << 16) |
         (static_cast<uint32_t>(p[3]) << 24);
}

uint16_t Le16(const uint8_t* p) {
  return static_cast<uint16_t>(p[0] | (p[1] << 8));
}

void PutLe32(uint32_t value, uint8_t* p) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(value >> (8 * i));
}

}  // namespace

void MakeBmpFileHeader(uint32_t header_size, uint32_t pixel_size,
                       uint8_t out[14]) {
  out[0] = 'B';
  out[1] = 'M';
  PutLe32(14u + header_size + pixel_size, out + 2);
  PutLe32(0, out + 6);  // two reserved words
  PutLe32(14u + header_size, out + 10);
}

std::string DescribeBitmapHeader(const uint8_t* block, size_t size) {
  if (block == nullptr || size < 40) {
    return Format("  header block too short: %zu bytes\n", size);
  }
  std::string out;
  out += Format(
      "  biSize %u  biWidth %d  biHeight %d  biPlanes %u  "
      "biBitCount %u\n",
      Le32(block), static_cast<int32_t>(Le32(block + 4)),
      static_cast<int32_t>(Le32(block + 8)), Le16(block + 12),
      Le16(block + 14));
  out += Format(
      "  biCompression %u  biSizeImage %u  biXPelsPerMeter %d  "
      "biYPelsPerMeter %d  biClrUsed %u  biClrImportant %u\n",
      Le32(block + 16), Le32(block + 20),
      static_cast<int32_t>(Le32(block + 24)),
      static_cast<int32_t>(Le32(block + 28)), Le32(block + 32),
      Le32(block + 36));
  size_t palette = size - 40;
  out += Format("  palette %zu entries", palette / 4);
  if (palette % 4 != 0) out += Format(" and %zu stray bytes", palette % 4);
  if (palette >= 4) {
    const uint8_t* first = block + 40;
    const uint8_t* last = block + 40 + (palette / 4 - 1) * 4;
    out += Format(", first %02x%02x%02x%02x, last %02x%02x%02x%02x", first[0],
                  first[1], first[2], first[3], last[0], last[1], last[2],
                  last[3]);
  }
  out += "\n";
  return out;
}

std::string DescribePictureInfo(const PictureInfo& info) {
  std::string out;
  out += Format("  left %d  top %d  width %d  height %d\n", info.left, info.top,
                info.width, info.height);
  out += Format("  x_density %u  y_density %u  color_depth %u  text_info %s\n",
                info.x_density, info.y_density, info.color_depth,
                info.text_info == nullptr ? "null" : "set");
  return out;
}
