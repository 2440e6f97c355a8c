// Every line the engine writes to the log, as formats for LogLine. The
// tests that read the log use the same table.
#pragma once

#include "common/log.h"

namespace engine {
namespace logtext {

// The document and its sections.
inline constexpr char kImageSize[] = "Image size: %d x %d";
inline constexpr char kImageMode[] =
    "Image Mode: %d   Depth: %d   Pallete : %d";
inline constexpr char kColorModeData[] = "Color Mode Data +%x(%x)";
inline constexpr char kImageResources[] = "Image Resources +%x(%x)";
inline constexpr char kLayerAndMask[] = "Layer and Mask Information +%x(%x)";
inline constexpr char kLayers[] = "Layers = %d";
inline constexpr char kSkipRowCounts[] = "Compression skip Image Data %x";
inline constexpr char kHeaderOnly[] = "pHBm = NULL";

// The palette.
inline constexpr char kPaletteBitmap[] = "SetPalette - Bitmap";
inline constexpr char kPaletteGray[] = "SetPalette - Gray";
inline constexpr char kPaletteIndex[] = "SetPalette - Index";
inline constexpr char kPaletteUnknown[] = "SetPalette - Unknown %d";

// The merged picture.
inline constexpr char kImageData[] = "Image Data %x   Compression %d";
inline constexpr char kRowMismatch[] =
    "nowp unmatch Y:%d  Delta:%d ScanSize:%d";
inline constexpr char kMoreRowMismatches[] = "nowp unmatch: %d more rows";
inline constexpr char kLastPlane[] = "last plane ptr: %x";
inline constexpr char kCmykFix[] = "CMYK fix";
inline constexpr char kImageZipError[] = "Image Data zip error %d (%x)";

// Layer records and layer pictures.
inline constexpr char kLayerRecord[] =
    "Layer #%d: %x (%d, %d)[%d, %d] channel: "
    "%d(%x-%x,%x-%x,%x-%x,%x-%x,%x-%x)";
inline constexpr char kMaskError[] = "mask error: %x";
inline constexpr char kOpacity[] = "Opacity: %d";
inline constexpr char kLayerImage[] = "Layer image: %x";
inline constexpr char kMoreLayerRecords[] = "Layer records: %d more";
inline constexpr char kLayerChannel[] = "layer image #%d-%d %x (%d)";
inline constexpr char kCompressionError[] = "Compression error %d (%x)";
inline constexpr char kLayerZipError[] = "layer image #%d-%d zip error %d (%x)";

// The merged picture composited from the layers.
inline constexpr char kComposite[] = "Composite of %d layers";
inline constexpr char kCompositeCutShort[] =
    "Composite work limit: layers from #%d on left out";

inline constexpr char kAdjustmentLeftOut[] =
    "Adjustment layer #%d (%x) left out";
inline constexpr char kEffectsLeftOut[] = "Layer effects of layer #%d left out";

// The embedded colour profile: converted, or why not (1 sRGB, 2 too large,
// 3 refused by the colour library, 4 of another colour mode).
inline constexpr char kProfileConverted[] =
    "Colour profile: %d bytes, converted to sRGB";
inline constexpr char kProfileUnused[] =
    "Colour profile: %d bytes, not used (%d)";

// The request's lines past its bound (the log writes it itself).
inline constexpr const char* kLinesLeftOut = kLogLinesLeftOut;

// Every format above, for the tests that check each line of a log.
inline constexpr const char* kAll[] = {
    kImageSize,      kImageMode,        kColorModeData,     kImageResources,
    kLayerAndMask,   kLayers,           kSkipRowCounts,     kHeaderOnly,
    kPaletteBitmap,  kPaletteGray,      kPaletteIndex,      kPaletteUnknown,
    kImageData,      kRowMismatch,      kMoreRowMismatches, kLastPlane,
    kCmykFix,        kImageZipError,    kLayerRecord,       kMaskError,
    kOpacity,        kLayerImage,       kLayerChannel,      kCompressionError,
    kLayerZipError,  kComposite,        kCompositeCutShort, kMoreLayerRecords,
    kLinesLeftOut,   kProfileConverted, kProfileUnused,     kAdjustmentLeftOut,
    kEffectsLeftOut,
};

}  // namespace logtext
}  // namespace engine
