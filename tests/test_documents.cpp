// The building blocks of write_test_documents: documents and layers whose
// samples follow one pattern of smooth parts (repeat runs) and noisy parts
// (literal runs) at every depth, layer masks, and the compressions by name.
#include "test_documents.h"

namespace testdocs {
namespace {

// A picture with smooth parts (repeat runs) and noisy parts (literal runs).
uint32_t Pattern8(uint32_t x, uint32_t y, uint32_t c) {
  if (y % 3 == 1) return (40 * c + 7 * y) & 0xff;  // flat rows
  return (x * 37 + y * 59 + c * 83 + (x * y) % 7 * 11) & 0xff;
}

uint32_t Sample(uint16_t depth, uint32_t x, uint32_t y, uint32_t c) {
  uint32_t b = Pattern8(x, y, c);
  if (depth == 16) return b << 8 | ((x + 3 * c) & 0xff);
  if (depth == 32) return psdw::FloatBits(static_cast<float>(b) / 255.0f);
  return b;
}

// Sample (x, y) of merged plane c: depth 1 rows are packed bytes whose bits
// past the width are zero, as writers store them.
uint32_t PlaneSample(uint16_t depth, uint32_t w, uint32_t c, uint32_t x,
                     uint32_t y) {
  if (depth != 1) return Sample(depth, x, y, c);
  const uint32_t v = Pattern8(x, y, c) ^ (y % 2 ? 0xF0u : 0x0Fu);
  const uint32_t used = w - 8 * x >= 8 ? 8 : w - 8 * x;
  return v & (0xFFu << (8 - used)) & 0xFFu;
}

}  // namespace

PsdSpec Document(uint16_t mode, uint16_t depth, uint32_t channels,
                 uint16_t compression, uint32_t w, uint32_t h) {
  PsdSpec spec = psdw::MakeDocument(mode, depth, channels, w, h, compression,
                                    [&](uint32_t c, uint32_t x, uint32_t y) {
                                      return PlaneSample(depth, w, c, x, y);
                                    });
  if (mode == 2) {
    std::vector<uint32_t> rgb;
    for (uint32_t i = 0; i < 256; ++i) {
      rgb.push_back((255 - i) << 16 | ((i * 3) & 0xff) << 8 | (i ^ 0x5a));
    }
    spec.color_mode_data = psdw::IndexedPalette(rgb);
  }
  if (mode == 8) spec.color_mode_data = Bytes(40, 0x11);  // duotone data
  return spec;
}

Layer MakeLayer(uint16_t depth, int32_t top, int32_t left, int32_t bottom,
                int32_t right, const std::vector<int16_t>& ids,
                uint16_t compression) {
  Layer layer = psdw::MakeLayer(
      top, left, bottom, right, ids, compression,
      [depth](int16_t id, uint32_t x, uint32_t y) -> uint32_t {
        if (id != -1) return Sample(depth, x, y, static_cast<uint32_t>(id + 3));
        const uint32_t a = (x + y) % 3 == 0 ? 0 : (x + y) % 3 == 1 ? 128 : 255;
        if (depth == 16) return a << 8 | a;
        if (depth == 32) {
          return psdw::FloatBits(a == 255 ? 1.0f : a == 0 ? 0.0f : 0.5f);
        }
        return a;
      });
  layer.name = "layer";
  return layer;
}

void AddMask(Layer& layer, int32_t top, int32_t left, int32_t bottom,
             int32_t right, size_t position, uint16_t compression) {
  const uint32_t half = static_cast<uint32_t>(right - left) / 2;
  psdw::AddMask(layer, top, left, bottom, right, position, compression,
                [half](uint32_t x, uint32_t) { return x < half ? 255u : 0u; });
}

PsdSpec RgbWithLayers(uint16_t depth) {
  PsdSpec s = Document(3, depth, 3, 1, 24, 16);
  s.resources.push_back(psdw::ResolutionResource(72, 72));
  return s;
}

const char* CompressionName(uint16_t c) {
  const char* const names[] = {"raw", "packbits", "zip", "zippredict"};
  return c < 4 ? names[c] : "unknown";
}

const uint16_t kAllCompressions[] = {psdw::kRaw, psdw::kPackBits, psdw::kZip,
                                     psdw::kZipPredict};

}  // namespace testdocs
