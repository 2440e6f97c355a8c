// Documents for the benchmarks: built in memory with the test writer (or,
// for the ImageMagick-written one, by ImageMagick from such a document),
// each once, on first use.
#pragma once

#include <benchmark/benchmark.h>
#include <stdint.h>

#include <string>
#include <vector>

#include "psd_writer.h"

#ifdef HAVE_STB_IMAGE
#include <stb/stb_image.h>
#endif

namespace bench {

const uint32_t kWidth = 6000;
const uint32_t kHeight = 4000;
const uint32_t kLayers = 200;
// Records of the composite document: 10 layers, a group's divider and its
// own record.
const uint32_t kCompositeLayers = 10;
const uint32_t kCompositeRecords = kCompositeLayers + 2;

enum class Content {
  kPhoto,  // smooth gradients plus noise: packs poorly, like a photograph
  kFlat,   // large areas of one colour: packs well
};

enum Doc {
  kRgbPackPhoto,
  kRgbPackFlat,
  kRgbRawPhoto,
  kGrayPackPhoto,
  kGrayRawPhoto,
  kCmykPackPhoto,
  kRgb16RawPhoto,
  kRgb16PackPhoto,
  kRgbPackImageMagick,  // kRgbPackPhoto rewritten by ImageMagick
  kRgbZipPhoto,         // merged picture as one zip stream
  kRgbPackPhotoLarge,   // kRgbPackPhoto in the large-document format
  kLayered,
  kZipLayer16,  // one full-size 16-bit RGB layer, zip with prediction
  kComposite,   // 10 full-size layers, saved without a merged picture
  // A full-size layer under a second one (Normal), under a curves
  // adjustment, or under a hue/saturation adjustment; under a second one
  // with a drop shadow of size 50.
  kTwoLayers,
  kCurvesOver,
  kHueOver,
  kShadowOver,
  // kCmykPackPhoto, kRgbPackPhoto and kGrayPackPhoto with the profiles of
  // corpus documents: U.S. Web Coated (SWOP) v2, Adobe RGB (1998), Dot
  // Gain 20%; kRgb16PackPhoto with Adobe RGB (1998).
  kCmykPackPhotoSwop,
  kRgbPackPhotoAdobe,
  kGrayPackPhotoDotGain,
  kRgb16PackPhotoAdobe,
  kDocCount
};

extern const char* const kDocNames[];

// The document, or an empty one where it cannot be made (ImageMagick
// missing); `why` then says so.
const psdw::Bytes& Document(Doc doc);
const std::string& DocumentMissing(Doc doc);

// A document written to a file of the scratch folder (removed at the end).
std::string DocumentFileOf(Doc doc);

// The RGB PackBits document written to a file, for the file paths, and its
// removal at the end.
const std::string& DocumentFile();
void RemoveDocumentFile();

// The zip streams of kZipLayer16's channels, as the document holds them.
const std::vector<psdw::Bytes>& ZipLayerStreams();

// One plane of width x height samples of `depth` (8 or 16 bits).
psdw::Samples MakePlane(Content content, uint32_t width, uint32_t height,
                        uint32_t plane, uint16_t depth);

#ifdef HAVE_STB_IMAGE
// Ends one stb_image decode (frees its pixels): false, with the run marked
// failed, when it read nothing.
bool StbDecoded(benchmark::State& state, stbi_uc* pixels);
#endif

// One request through the engine's entry point, its blocks freed: entry
// `entry` (0: the merged picture) or the listing, of `doc` in memory, or of
// the file at `path` when `doc` is null. Returns the result.
int32_t DecodeOnce(const psdw::Bytes* doc, const std::string& path,
                   uint32_t entry, bool list);

}  // namespace bench
