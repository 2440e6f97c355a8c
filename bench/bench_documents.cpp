#include "bench/bench_documents.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include <fstream>
#include <iterator>
#include <memory>
#include <string>

#include "bench/composite_documents.h"
#include "engine/serve/plugin_abi.h"

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

namespace {

// A document with only a merged picture: `mode` (1 gray, 3 RGB, 4 CMYK) and
// its usual number of planes.
psdw::Bytes MergedDocument(uint16_t mode, uint16_t depth, uint16_t compression,
                           Content content, uint16_t version = 1,
                           const psdw::Bytes& profile = {}) {
  psdw::PsdSpec spec =
      psdw::MakeDocument(mode, depth, 0, kWidth, kHeight, compression, {});
  spec.version = version;
  spec.resources.push_back(psdw::ResolutionResource(300, 300));
  if (!profile.empty()) {
    psdw::Resource icc;
    icc.id = 1039;
    icc.data = profile;
    spec.resources.push_back(icc);
  }
  for (uint32_t p = 0; p < PlanesForMode(mode); ++p) {
    spec.planes.push_back(MakePlane(content, kWidth, kHeight, p, depth));
  }
  return psdw::WritePsd(spec);
}

// A RGB document (flat merged picture, PackBits) with `layers` layers of
// transparency, red, green and blue, each a few hundred pixels square,
// photographic content, PackBits.
psdw::Bytes LayeredDocument(uint32_t layers) {
  const uint32_t width = kWidth;
  const uint32_t height = kHeight;
  psdw::PsdSpec spec =
      psdw::MakeDocument(3, 8, 0, width, height, psdw::kPackBits, {});
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

// Channel streams of the zip layer: transparency and the three colours.
std::vector<psdw::Bytes> MakeZipLayerStreams() {
  std::vector<psdw::Bytes> streams;
  for (uint32_t c = 0; c < 4; ++c) {
    const psdw::Samples plane =
        MakePlane(Content::kPhoto, kWidth, kHeight, c, 16);
    streams.push_back(
        psdw::Zip(psdw::EncodeSamples(plane, 16), kWidth, 16, true));
  }
  return streams;
}

// A 16-bit RGB document whose one layer covers the canvas, its channels
// zip-compressed with prediction as Photoshop saves deep layers.
psdw::Bytes ZipLayerDocument() {
  psdw::PsdSpec spec =
      psdw::MakeDocument(3, 16, 3, kWidth, kHeight, psdw::kRaw,
                         [](uint32_t, uint32_t, uint32_t) { return 0u; });
  psdw::Layer layer;
  layer.bottom = static_cast<int32_t>(kHeight);
  layer.right = static_cast<int32_t>(kWidth);
  const int16_t ids[4] = {-1, 0, 1, 2};
  for (uint32_t c = 0; c < 4; ++c) {
    psdw::LayerChannel channel;
    channel.id = ids[c];
    channel.compression = psdw::kZipPredict;
    channel.payload = ZipLayerStreams()[c];
    layer.channels.push_back(std::move(channel));
  }
  spec.layers.push_back(std::move(layer));
  return psdw::WritePsd(spec);
}

// A scratch folder for documents that pass through files.
std::string ScratchFolder() {
  static std::string dir;
  if (dir.empty()) {
    char name[] = "/tmp/psd_bench.XXXXXX";
    if (mkdtemp(name) == nullptr) abort();
    dir = name;
  }
  return dir;
}

psdw::Bytes ReadWhole(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return psdw::Bytes(std::istreambuf_iterator<char>(in),
                     std::istreambuf_iterator<char>());
}

// `source` rewritten by ImageMagick's PSD writer with PackBits, which ends
// every packed row one byte before its row byte count says.
psdw::Bytes ImageMagickDocument(const psdw::Bytes& source, std::string* why) {
  const char kConvert[] = "/usr/bin/convert";
  if (access(kConvert, X_OK) != 0) {
    *why = "skipped: /usr/bin/convert (ImageMagick) is missing";
    return {};
  }
  const std::string in = ScratchFolder() + "/clean.psd";
  const std::string out = ScratchFolder() + "/imagemagick.psd";
  if (!psdw::WriteFile(in, source)) abort();
  const std::string command =
      std::string(kConvert) + " " + in + " -depth 8 -compress RLE " + out;
  psdw::Bytes bytes;
  if (system(command.c_str()) == 0) bytes = ReadWhole(out);
  unlink(in.c_str());
  unlink(out.c_str());
  if (bytes.empty()) *why = "skipped: ImageMagick could not write it";
  return bytes;
}

uint32_t Big(const uint8_t* p, uint32_t n) {
  uint32_t v = 0;
  for (uint32_t i = 0; i < n; ++i) v = v << 8 | p[i];
  return v;
}

// The embedded profile (resource 1039) of a corpus document.
psdw::Bytes CorpusProfile(const char* rel, std::string* why) {
  const psdw::Bytes doc = ReadWhole(std::string(PSD_CORPUS_DIR) + "/" + rel);
  size_t at = 26;
  if (doc.size() < at + 4) {
    *why = std::string("skipped: the corpus document ") + rel + " is absent";
    return {};
  }
  at += 4 + Big(&doc[at], 4);
  const size_t end = at + 4 + (at + 4 <= doc.size() ? Big(&doc[at], 4) : 0);
  for (at += 4; at + 7 <= end && end <= doc.size();) {
    const size_t size_at = at + 6 + ((1 + doc[at + 6] + 1) & ~size_t{1});
    if (size_at + 4 > end) break;
    const size_t size = Big(&doc[size_at], 4), data = size_at + 4;
    if (Big(&doc[at + 4], 2) == 1039 && data + size <= end) {
      return psdw::Bytes(doc.begin() + data, doc.begin() + data + size);
    }
    at = data + ((size + 1) & ~size_t{1});
  }
  *why = std::string("skipped: no profile in ") + rel;
  return {};
}

psdw::Bytes ProfileDocument(uint16_t mode, const char* rel, std::string* why,
                            uint16_t depth = 8) {
  const psdw::Bytes profile = CorpusProfile(rel, why);
  if (profile.empty()) return {};
  return MergedDocument(mode, depth, psdw::kPackBits, Content::kPhoto, 1,
                        profile);
}

psdw::Bytes Build(Doc doc, std::string* why) {
  switch (doc) {
    case kRgbPackPhoto:
      return MergedDocument(3, 8, psdw::kPackBits, Content::kPhoto);
    case kRgbPackFlat:
      return MergedDocument(3, 8, psdw::kPackBits, Content::kFlat);
    case kRgbRawPhoto:
      return MergedDocument(3, 8, psdw::kRaw, Content::kPhoto);
    case kGrayPackPhoto:
      return MergedDocument(1, 8, psdw::kPackBits, Content::kPhoto);
    case kGrayRawPhoto:
      return MergedDocument(1, 8, psdw::kRaw, Content::kPhoto);
    case kCmykPackPhoto:
      return MergedDocument(4, 8, psdw::kPackBits, Content::kPhoto);
    case kRgb16RawPhoto:
      return MergedDocument(3, 16, psdw::kRaw, Content::kPhoto);
    case kRgb16PackPhoto:
      return MergedDocument(3, 16, psdw::kPackBits, Content::kPhoto);
    case kRgbPackImageMagick:
      return ImageMagickDocument(Document(kRgbPackPhoto), why);
    case kRgbZipPhoto:
      return MergedDocument(3, 8, psdw::kZip, Content::kPhoto);
    case kRgbPackPhotoLarge:
      return MergedDocument(3, 8, psdw::kPackBits, Content::kPhoto, 2);
    case kLayered:
      return LayeredDocument(kLayers);
    case kZipLayer16:
      return ZipLayerDocument();
    case kComposite:
      return CompositeDocument();
    case kTwoLayers:
      return AdjustedDocument("");
    case kCurvesOver:
      return AdjustedDocument("curv");
    case kHueOver:
      return AdjustedDocument("hue2");
    case kShadowOver:
      return AdjustedDocument("DrSh");
    case kCmykPackPhotoSwop:
      return ProfileDocument(4, "adjustments/curves_cmyk.psd", why);
    case kRgbPackPhotoAdobe:
      return ProfileDocument(3, "layer_comps.psd", why);
    case kGrayPackPhotoDotGain:
      return ProfileDocument(1, "adjustments/curves_grayscale.psd", why);
    case kRgb16PackPhotoAdobe:
      return ProfileDocument(3, "layer_comps.psd", why, 16);
    case kDocCount:
      break;
  }
  return {};
}

struct Built {
  psdw::Bytes bytes;
  std::string why;
};

Built& Cached(Doc doc) {
  static std::unique_ptr<Built> cache[kDocCount];
  if (!cache[doc]) {
    cache[doc].reset(new Built);
    cache[doc]->bytes = Build(doc, &cache[doc]->why);
  }
  return *cache[doc];
}

}  // namespace

const char* const kDocNames[] = {"rgb8_packbits_photo",
                                 "rgb8_packbits_flat",
                                 "rgb8_raw_photo",
                                 "gray8_packbits_photo",
                                 "gray8_raw_photo",
                                 "cmyk8_packbits_photo",
                                 "rgb16_raw_photo",
                                 "rgb16_packbits_photo",
                                 "rgb8_packbits_imagemagick",
                                 "rgb8_zip_photo",
                                 "rgb8_packbits_photo_psb",
                                 "layered_200",
                                 "zip16_layer",
                                 "composite_10_layers",
                                 "composite_2_layers",
                                 "composite_curves",
                                 "composite_hue_saturation",
                                 "composite_drop_shadow",
                                 "cmyk8_packbits_photo_swop",
                                 "rgb8_packbits_photo_adobe_rgb",
                                 "gray8_packbits_photo_dot_gain",
                                 "rgb16_packbits_photo_adobe_rgb"};
static_assert(sizeof(kDocNames) / sizeof(kDocNames[0]) == kDocCount,
              "a name for every document");

const psdw::Bytes& Document(Doc doc) { return Cached(doc).bytes; }

const std::vector<psdw::Bytes>& ZipLayerStreams() {
  static const std::vector<psdw::Bytes> streams = MakeZipLayerStreams();
  return streams;
}

const std::string& DocumentMissing(Doc doc) { return Cached(doc).why; }

std::string DocumentFileOf(Doc doc) {
  const std::string path = ScratchFolder() + "/" + kDocNames[doc] + ".psd";
  if (!psdw::WriteFile(path, Document(doc))) abort();
  return path;
}

const std::string& DocumentFile() {
  static std::string path;
  if (path.empty()) {
    path = ScratchFolder() + "/photo.psd";
    if (!psdw::WriteFile(path, Document(kRgbPackPhoto))) abort();
  }
  return path;
}

void RemoveDocumentFile() {
  unlink(DocumentFile().c_str());
  for (int doc = 0; doc < kDocCount; ++doc) {
    unlink((ScratchFolder() + "/" + kDocNames[doc] + ".psd").c_str());
  }
  rmdir(ScratchFolder().c_str());
}

#ifdef HAVE_STB_IMAGE
bool StbDecoded(benchmark::State& state, stbi_uc* pixels) {
  if (pixels == nullptr) {
    state.SkipWithError("stb_image does not read this document");
    return false;
  }
  benchmark::DoNotOptimize(pixels);
  stbi_image_free(pixels);
  return true;
}
#endif

int32_t DecodeOnce(const psdw::Bytes* doc, const std::string& path,
                   uint32_t entry, bool list) {
  const std::u16string name(path.begin(), path.end());
  HLOCAL header = nullptr;
  HLOCAL pixels = nullptr;
  DecodeRequest request;
  memset(&request, 0, sizeof(request));
  request.size = sizeof(request);
  request.flags = list ? uint32_t{kListFlag} : 0u;
  request.entry_index = entry;
  if (doc != nullptr) {
    request.memory_image = doc->data();
    request.memory_length = doc->size();
  } else {
    request.file_name = reinterpret_cast<const WCHAR*>(name.c_str());
  }
  request.header_slot = &header;
  request.pixels_slot = &pixels;
  const int32_t result = DecodePictureW(&request);
  benchmark::DoNotOptimize(pixels);
  if (pixels != nullptr) LocalFree(pixels);
  if (header != nullptr) LocalFree(header);
  return result;
}

}  // namespace bench
