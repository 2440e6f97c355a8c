#include "bench/bench_documents.h"

namespace bench {

namespace {

// A small deterministic noise source (xorshift32).
struct Noise {
  uint32_t state;
  uint32_t Next() {
    state ^= state << 13;
    state ^= state >> 17;
    state ^= state << 5;
    return state;
  }
};

uint32_t PlanesForMode(uint16_t mode) {
  switch (mode) {
    case 3:
      return 3;
    case 4:
      return 4;
    default:
      return 1;
  }
}

}  // namespace

psdw::Samples MakePlane(Content content, uint32_t width, uint32_t height,
                        uint32_t plane, uint16_t depth) {
  psdw::Samples samples(static_cast<size_t>(width) * height);
  Noise noise{0x9E3779B9u ^ (plane * 0x85EBCA6Bu) ^ width};
  size_t i = 0;
  for (uint32_t y = 0; y < height; ++y) {
    for (uint32_t x = 0; x < width; ++x, ++i) {
      uint32_t value;  // 16-bit scale
      if (content == Content::kPhoto) {
        // Two gradients crossing, plus noise of about +-6 in 8 bits.
        const uint32_t gx = static_cast<uint32_t>(uint64_t{x} * 40000 / width);
        const uint32_t gy = static_cast<uint32_t>(uint64_t{y} * 20000 / height);
        const int32_t n = static_cast<int32_t>(noise.Next() % 3072) - 1536;
        int32_t v = static_cast<int32_t>(gx + gy + plane * 3000) + n;
        if (v < 0) v = 0;
        if (v > 65535) v = 65535;
        value = static_cast<uint32_t>(v);
      } else {
        // Rectangles of 480 x 400 pixels, each one colour.
        value = ((x / 480) * 37 + (y / 400) * 91 + plane * 53) % 256 * 257;
      }
      samples[i] = depth == 16 ? value : value >> 8;
    }
  }
  return samples;
}

psdw::Bytes MergedDocument(uint16_t mode, uint16_t depth, uint16_t compression,
                           Content content, uint32_t width, uint32_t height) {
  psdw::PsdSpec spec;
  spec.mode = mode;
  spec.depth = depth;
  spec.width = width;
  spec.height = height;
  spec.compression = compression;
  spec.resources.push_back(psdw::ResolutionResource(300, 300));
  for (uint32_t p = 0; p < PlanesForMode(mode); ++p) {
    spec.planes.push_back(MakePlane(content, width, height, p, depth));
  }
  return psdw::WritePsd(spec);
}

psdw::Bytes LayeredDocument(uint32_t width, uint32_t height, uint32_t layers) {
  psdw::PsdSpec spec;
  spec.mode = 3;
  spec.depth = 8;
  spec.width = width;
  spec.height = height;
  spec.compression = psdw::kPackBits;
  for (uint32_t p = 0; p < 3; ++p) {
    spec.planes.push_back(MakePlane(Content::kFlat, width, height, p, 8));
  }
  for (uint32_t i = 0; i < layers; ++i) {
    const int32_t side = 200 + static_cast<int32_t>((i * 53) % 200);
    psdw::Layer layer;
    layer.top = static_cast<int32_t>((i * 97) % (height - side));
    layer.left = static_cast<int32_t>((i * 389) % (width - side));
    layer.bottom = layer.top + side;
    layer.right = layer.left + side;
    layer.name = "Layer " + std::to_string(i + 1);
    const int16_t ids[4] = {-1, 0, 1, 2};
    for (uint32_t c = 0; c < 4; ++c) {
      psdw::LayerChannel channel;
      channel.id = ids[c];
      channel.compression = psdw::kPackBits;
      channel.samples = MakePlane(Content::kPhoto, static_cast<uint32_t>(side),
                                  static_cast<uint32_t>(side), c + i, 8);
      layer.channels.push_back(std::move(channel));
    }
    spec.layers.push_back(std::move(layer));
  }
  return psdw::WritePsd(spec);
}

}  // namespace bench
