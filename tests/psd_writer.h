// A small builder of PSD documents for tests and sample files.
//
// Fill a PsdSpec (header fields, colour mode data, image resources, layers,
// merged planes) and call WritePsd. Samples are given as unsigned values of
// the document's depth: bytes for depth 8, 16-bit values for depth 16, the
// bit patterns of IEEE floats (FloatBits) for depth 32, and for depth 1 the
// packed bytes of each row ((width + 7) / 8 a row) as the file stores them.
//
// Malformed documents: every length field can be overridden, PackBits row
// tables can be replaced, raw bytes can stand in for any channel's data, and
// the finished byte vector can be cut (Truncate) or extended.
#pragma once

#include <stdint.h>

#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace psdw {

using Bytes = std::vector<uint8_t>;
using Samples = std::vector<uint32_t>;

enum : uint16_t { kRaw = 0, kPackBits = 1, kZip = 2, kZipPredict = 3 };

struct Resource {
  uint16_t id = 0;
  std::string name;  // Pascal string; odd lengths are padded to even
  Bytes data;        // padded to even in the file
  std::string signature = "8BIM";
};

struct LayerChannel {
  int16_t id = 0;   // -1 transparency, -2/-3 masks, 0.. colour
  Samples samples;  // width x height samples of the document's depth
  uint16_t compression = kRaw;
  // Size of this channel's picture; -1 takes the layer's (a mask channel
  // uses the mask rectangle's size).
  int32_t width = -1;
  int32_t height = -1;
  // When set, written verbatim after the compression word instead of the
  // encoded samples (hand-made PackBits rows, deflate data...).
  std::optional<Bytes> payload;
  // PackBits only: replaces the row byte-count table.
  std::optional<std::vector<uint16_t>> row_counts;
  // Replaces the channel data length stored in the layer record.
  std::optional<uint32_t> length;
};

struct Layer {
  int32_t top = 0, left = 0, bottom = 0, right = 0;
  std::vector<LayerChannel> channels;
  std::string blend_signature = "8BIM";
  std::string blend_key = "norm";
  uint8_t opacity = 255;
  bool has_mask = false;
  int32_t mask_top = 0, mask_left = 0, mask_bottom = 0, mask_right = 0;
  std::string name;
  Bytes additional_info;                 // appended to the extra data as is
  std::optional<uint32_t> extra_length;  // replaces the stored length
  std::optional<int16_t> channel_count;  // replaces the stored count

  // Compositing fields of the record: clipping (1: clipped to the layer
  // below), flags (bit 1 hidden, bits 3 and 4 pixel data irrelevant), the
  // mask's default colour and flags (bit 1 disabled, bit 3 rendered), and
  // the whole mask data when given (it replaces the 20 bytes above).
  uint8_t clipping = 0;
  uint8_t flags = 0;
  uint8_t mask_default_colour = 0;
  uint8_t mask_flags = 0;
  std::optional<Bytes> mask_data;
  // Blending ranges ("blend if"), as stored; none by default.
  Bytes blend_ranges;
};

struct PsdSpec {
  uint16_t mode = 3;  // 0 Bitmap, 1 Gray, 2 Indexed, 3 RGB, 4 CMYK, ...
  uint16_t depth = 8;
  uint32_t width = 1;
  uint32_t height = 1;
  // Channels in the header; by default the number of merged planes.
  std::optional<uint16_t> channels;
  std::string signature = "8BPS";
  // 2: the large-document format (wider lengths and row counts).
  uint16_t version = 1;
  Bytes reserved = Bytes(6, 0);

  Bytes color_mode_data;
  std::vector<Resource> resources;

  std::vector<Layer> layers;
  bool negative_layer_count = false;   // store -count (first alpha is merged)
  std::optional<int16_t> layer_count;  // replaces the stored count
  // Without layers the section is empty (length 0) unless this is set.
  bool layer_info_when_empty = false;

  // Merged image data: one sample vector a channel, width x height each.
  std::vector<Samples> planes;
  uint16_t compression = kRaw;
  std::optional<std::vector<uint16_t>> row_counts;  // PackBits table
  // Verbatim data after the word (after `row_counts`, when given).
  std::optional<Bytes> image_payload;

  // Length fields as stored (overrides).
  std::optional<uint32_t> color_mode_length;
  std::optional<uint32_t> resources_length;
  std::optional<uint32_t> layer_mask_length;
  std::optional<uint32_t> layer_info_length;
};

// Where the writer put things (byte offsets from the document's start).
struct PsdLayout {
  size_t color_mode = 0;     // Color Mode Data length field
  size_t resources = 0;      // Image Resources length field
  size_t layer_mask = 0;     // Layer and Mask Information length field
  size_t layer_records = 0;  // first layer record
  size_t channel_data = 0;   // first layer channel's compression word
  // Compression word of every layer channel, per layer in record order.
  std::vector<std::vector<size_t>> channel_offsets;
  size_t image_data = 0;  // Image Data compression word
  size_t pixel_data = 0;  // first byte after the row table (or word)
};

Bytes WritePsd(const PsdSpec& spec, PsdLayout* layout = nullptr);

// Builders of documents whose samples come from a function: sample(c, x, y)
// for merged plane c, sample(id, x, y) for the layer channel `id`, and
// sample(x, y) for a layer mask.
using PlaneSample = std::function<uint32_t(uint32_t c, uint32_t x, uint32_t y)>;
using ChannelSample =
    std::function<uint32_t(int16_t id, uint32_t x, uint32_t y)>;
using MaskSample = std::function<uint32_t(uint32_t x, uint32_t y)>;

// A document of `channels` merged planes of w x h samples.
PsdSpec MakeDocument(uint16_t mode, uint16_t depth, uint32_t channels,
                     uint32_t w, uint32_t h, uint16_t compression,
                     const PlaneSample& sample);

// A layer of the rectangle with one channel a identifier, each stored with
// `compression` (an empty rectangle has empty channels).
Layer MakeLayer(int32_t top, int32_t left, int32_t bottom, int32_t right,
                const std::vector<int16_t>& ids, uint16_t compression,
                const ChannelSample& sample);

// Gives the layer a layer mask (channel -2) over the rectangle, inserted at
// `position` in its channel list.
void AddMask(Layer& layer, int32_t top, int32_t left, int32_t bottom,
             int32_t right, size_t position, uint16_t compression,
             const MaskSample& sample);

// PackBits of one row: literal runs of up to 128 bytes, repeat runs of 2 to
// 128 copies (headers 0..127 and 255..129; 128 is never written).
Bytes PackBits(const uint8_t* data, size_t size);
Bytes PackBits(const Bytes& row);

// Zip data of stored rows (`row_samples` samples of `depth` a row) as one
// zlib stream, with the rows' prediction coded first when `predict` is set:
// 8-bit rows as differences of bytes, 16-bit rows as differences of
// big-endian samples, 32-bit rows as byte planes coded as differences of
// bytes.
Bytes PredictRows(const Bytes& stored, uint32_t row_samples, uint16_t depth);
Bytes Zip(const Bytes& stored, uint32_t row_samples, uint16_t depth,
          bool predict);

// The samples of one channel as stored in the file, big-endian, for depth
// 1, 8, 16 or 32. Depth 1: each sample is one stored byte.
Bytes EncodeSamples(const Samples& samples, uint16_t depth);

// A channel of `height` rows, each row packed separately, as the PSD format
// stores it: the table of packed row sizes (16-bit, 32-bit in version 2
// documents), then the rows.
// Deep samples are packed byte by byte over the row's stored bytes.
struct PackedPlane {
  std::vector<uint32_t> row_counts;
  Bytes data;
};
PackedPlane PackPlane(const Samples& samples, uint32_t row_samples,
                      uint32_t rows, uint16_t depth);

// Resolution information (resource 1005): 16.16 pixels per inch, big-endian.
Resource ResolutionResource(double horizontal_dpi, double vertical_dpi);

// An indexed palette: 256 reds, 256 greens, 256 blues.
Bytes IndexedPalette(const std::vector<uint32_t>& rgb);  // 0xRRGGBB each

uint32_t FloatBits(float value);
Samples Fill(size_t count, uint32_t value);

// Byte edits of finished documents.
void PutBe16(Bytes& bytes, size_t offset, uint16_t value);
void PutBe32(Bytes& bytes, size_t offset, uint32_t value);
void Truncate(Bytes& bytes, size_t size);

bool WriteFile(const std::string& path, const Bytes& bytes);

// Compositing: resources and additional layer information -------------------

// Version info (1057): whether the Image Data holds a real merged picture.
Resource VersionInfoResource(bool has_real_merged_data);

// An additional information block: "8BIM", the key, a 4-byte length and the
// data (padded to even).
Bytes InfoBlock(const std::string& key, const Bytes& data);
// "lsct": 0 layer, 1 open group, 2 closed group, 3 bounding divider; with
// a blend key when one is given.
Bytes SectionBlock(uint32_t type, const std::string& blend_key = "");
// "iOpa": fill opacity.
Bytes FillOpacityBlock(uint8_t fill_opacity);
// "SoCo": a solid colour fill (0..255 each).
Bytes SolidColourBlock(double red, double green, double blue);
// A block of `key` holding a descriptor (after its version, 16) of whole
// numbers ("long"), switches ("bool") and, when `rgb` holds three values,
// a colour under `rgb_key`.
struct DescriptorLong {
  std::string key;
  int32_t value;
};
struct DescriptorBool {
  std::string key;
  bool value;
};
Bytes DescriptorBlock(const std::string& key,
                      const std::vector<DescriptorLong>& longs,
                      const std::vector<DescriptorBool>& bools,
                      const std::string& rgb_key = "",
                      const std::vector<double>& rgb = {});
// "GdFl": a gradient fill of type `type` ("Lnr ", "Rdl ", "Angl", "Rflc",
// "Dmnd") at `angle` degrees and `scale` percent, from colour stops
// (location 0..4096 and red, green, blue) and opacity stops (location and
// percent).
struct ColourStop {
  int32_t location;
  double red, green, blue;
};
struct OpacityStop {
  int32_t location;
  double opacity;
};
Bytes GradientFillBlock(const std::string& type, double angle, double scale,
                        const std::vector<ColourStop>& colours,
                        const std::vector<OpacityStop>& opacities,
                        bool reverse = false);

// "lfx2": layer effects, each of `key` ("DrSh", "OrGl", "SoFi", "ChFX",
// "IrGl", "IrSh", "FrFX", "ebbl"), with its blend mode key, colour,
// opacity (percent), size, distance (pixels), spread (percent), angle
// (degrees) and style (a stroke's "OutF", "InsF", "CtrF", a bevel's
// "InrB", "OtrB", "Embs", "PlEb").
struct EffectSpec {
  std::string key;
  std::string mode = "Nrml";
  double red = 0, green = 0, blue = 0;
  double opacity = 75;
  double size = 5, distance = 0, spread = 0, angle = 120;
  std::string style = "OutF";
};
Bytes EffectsBlock(const std::vector<EffectSpec>& effects);

// A vector mask ("vmsk"): subpaths of knots in document pixels; a knot
// without control points makes straight segments. `operation` is -1 for a
// subpath that belongs to the previous one's shape, else 0 exclude, 1
// union, 2 subtract, 3 intersect.
struct PathKnot {
  double x = 0, y = 0;          // anchor
  double in_x = 0, in_y = 0;    // preceding control point
  double out_x = 0, out_y = 0;  // leaving control point
};
struct Subpath {
  bool closed = true;
  int16_t operation = 1;
  std::vector<PathKnot> knots;
};
PathKnot CornerKnot(double x, double y);  // controls on the anchor
Bytes VectorMaskBlock(const std::vector<Subpath>& subpaths, uint32_t width,
                      uint32_t height, uint32_t flags = 0,
                      bool initial_fill = false);

}  // namespace psdw
