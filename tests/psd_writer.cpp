#include "psd_writer.h"

#include <math.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <zlib.h>

#include <algorithm>

namespace psdw {
namespace {

void Be16(Bytes& out, uint16_t v) {
  out.push_back(static_cast<uint8_t>(v >> 8));
  out.push_back(static_cast<uint8_t>(v));
}

void Be32(Bytes& out, uint32_t v) {
  out.push_back(static_cast<uint8_t>(v >> 24));
  out.push_back(static_cast<uint8_t>(v >> 16));
  out.push_back(static_cast<uint8_t>(v >> 8));
  out.push_back(static_cast<uint8_t>(v));
}

void Text4(Bytes& out, const std::string& s) {
  for (size_t i = 0; i < 4; ++i) {
    out.push_back(i < s.size() ? static_cast<uint8_t>(s[i]) : ' ');
  }
}

void Append(Bytes& out, const Bytes& more) {
  out.insert(out.end(), more.begin(), more.end());
}

// Pascal string: length byte and characters, padded with zeros to a
// multiple of `pad` bytes.
void PascalString(Bytes& out, const std::string& s, size_t pad) {
  size_t n = s.size() > 255 ? 255 : s.size();
  out.push_back(static_cast<uint8_t>(n));
  out.insert(out.end(), s.begin(), s.begin() + n);
  while ((n + 1) % pad != 0) {
    out.push_back(0);
    ++n;
  }
}

// A length or row count whose field is wider in version 2 documents.
void Wide(Bytes& out, uint64_t v, bool wide) {
  if (wide) Be32(out, static_cast<uint32_t>(v >> 32));
  Be32(out, static_cast<uint32_t>(v));
}

void RowCount(Bytes& out, uint32_t v, uint16_t version) {
  if (version == 2) {
    Be32(out, v);
  } else {
    Be16(out, static_cast<uint16_t>(v));
  }
}

size_t SampleBytes(uint16_t depth) {
  return depth == 32 ? 4 : depth == 16 ? 2 : 1;
}

// Samples in one row of a plane: depth 1 rows are packed bytes.
uint32_t RowSamples(uint32_t width, uint16_t depth) {
  return depth == 1 ? (width + 7) / 8 : width;
}

bool IsZip(uint16_t compression) {
  return compression == kZip || compression == kZipPredict;
}

// Data of one channel after its compression word.
Bytes ChannelBody(const Samples& samples, uint16_t compression,
                  uint32_t row_samples, uint32_t rows, uint16_t depth,
                  const std::optional<std::vector<uint16_t>>& row_counts,
                  const std::optional<Bytes>& payload, uint16_t version) {
  if (payload) return *payload;
  Bytes out;
  if (compression == kPackBits) {
    PackedPlane plane = PackPlane(samples, row_samples, rows, depth);
    if (row_counts) {
      for (uint16_t c : *row_counts) RowCount(out, c, version);
    } else {
      for (uint32_t c : plane.row_counts) RowCount(out, c, version);
    }
    Append(out, plane.data);
  } else if (IsZip(compression)) {
    out = Zip(EncodeSamples(samples, depth), row_samples, depth,
              compression == kZipPredict);
  } else {
    out = EncodeSamples(samples, depth);
  }
  return out;
}

}  // namespace

Bytes PackBits(const uint8_t* data, size_t size) {
  Bytes out;
  size_t i = 0;
  while (i < size) {
    // Length of the repeat starting at i.
    size_t run = 1;
    while (i + run < size && run < 128 && data[i + run] == data[i]) ++run;
    if (run >= 2) {
      out.push_back(static_cast<uint8_t>(257 - run));
      out.push_back(data[i]);
      i += run;
      continue;
    }
    // Literal run: up to the next pair of equal bytes, at most 128 bytes.
    size_t start = i;
    size_t n = 0;
    while (i < size && n < 128) {
      if (i + 1 < size && data[i] == data[i + 1]) break;
      ++i;
      ++n;
    }
    out.push_back(static_cast<uint8_t>(n - 1));
    out.insert(out.end(), data + start, data + start + n);
  }
  return out;
}

Bytes PackBits(const Bytes& row) { return PackBits(row.data(), row.size()); }

Bytes PredictRows(const Bytes& stored, uint32_t row_samples, uint16_t depth) {
  const size_t size = SampleBytes(depth);
  const size_t span = size * row_samples;
  Bytes out(stored);
  for (size_t row = 0; span != 0 && row + span <= out.size(); row += span) {
    uint8_t* r = out.data() + row;
    if (size == 4) {  // byte planes: all first bytes, then all second ...
      Bytes planar(span);
      for (size_t x = 0; x < row_samples; ++x) {
        for (size_t k = 0; k < 4; ++k)
          planar[k * row_samples + x] = r[4 * x + k];
      }
      std::copy(planar.begin(), planar.end(), r);
    }
    if (size == 2) {  // differences of big-endian samples
      for (size_t x = row_samples; x-- > 1;) {
        const uint16_t v =
            static_cast<uint16_t>(((r[2 * x] << 8) | r[2 * x + 1]) -
                                  ((r[2 * x - 2] << 8) | r[2 * x - 1]));
        r[2 * x] = static_cast<uint8_t>(v >> 8);
        r[2 * x + 1] = static_cast<uint8_t>(v);
      }
    } else {  // differences of bytes over the whole row
      for (size_t i = span; i-- > 1;)
        r[i] = static_cast<uint8_t>(r[i] - r[i - 1]);
    }
  }
  return out;
}

Bytes Zip(const Bytes& stored, uint32_t row_samples, uint16_t depth,
          bool predict) {
  const Bytes source =
      predict ? PredictRows(stored, row_samples, depth) : stored;
  uLongf size = compressBound(static_cast<uLong>(source.size()));
  Bytes out(size);
  if (compress2(out.data(), &size, source.data(),
                static_cast<uLong>(source.size()),
                Z_DEFAULT_COMPRESSION) != Z_OK) {
    abort();
  }
  out.resize(size);
  return out;
}

Bytes EncodeSamples(const Samples& samples, uint16_t depth) {
  Bytes out;
  size_t step = SampleBytes(depth);
  out.reserve(samples.size() * step);
  for (uint32_t s : samples) {
    if (step == 4) {
      Be32(out, s);
    } else if (step == 2) {
      Be16(out, static_cast<uint16_t>(s));
    } else {
      out.push_back(static_cast<uint8_t>(s));
    }
  }
  return out;
}

PackedPlane PackPlane(const Samples& samples, uint32_t row_samples,
                      uint32_t rows, uint16_t depth) {
  PackedPlane plane;
  for (uint32_t y = 0; y < rows; ++y) {
    Samples row;
    for (uint32_t x = 0; x < row_samples; ++x) {
      size_t i = static_cast<size_t>(y) * row_samples + x;
      row.push_back(i < samples.size() ? samples[i] : 0);
    }
    Bytes packed = PackBits(EncodeSamples(row, depth));
    plane.row_counts.push_back(static_cast<uint32_t>(packed.size()));
    Append(plane.data, packed);
  }
  return plane;
}

Resource ResolutionResource(double horizontal_dpi, double vertical_dpi) {
  Resource r;
  r.id = 1005;
  Bytes& d = r.data;
  Be32(d, static_cast<uint32_t>(lround(horizontal_dpi * 65536.0)));
  Be16(d, 1);  // pixels per inch
  Be16(d, 1);  // width shown in inches
  Be32(d, static_cast<uint32_t>(lround(vertical_dpi * 65536.0)));
  Be16(d, 1);
  Be16(d, 1);
  return r;
}

Bytes IndexedPalette(const std::vector<uint32_t>& rgb) {
  Bytes out(768, 0);
  for (size_t i = 0; i < rgb.size() && i < 256; ++i) {
    out[i] = static_cast<uint8_t>(rgb[i] >> 16);
    out[256 + i] = static_cast<uint8_t>(rgb[i] >> 8);
    out[512 + i] = static_cast<uint8_t>(rgb[i]);
  }
  return out;
}

uint32_t FloatBits(float value) {
  uint32_t bits;
  memcpy(&bits, &value, sizeof bits);
  return bits;
}

Samples Fill(size_t count, uint32_t value) { return Samples(count, value); }

void PutBe16(Bytes& bytes, size_t offset, uint16_t value) {
  bytes.at(offset) = static_cast<uint8_t>(value >> 8);
  bytes.at(offset + 1) = static_cast<uint8_t>(value);
}

void PutBe32(Bytes& bytes, size_t offset, uint32_t value) {
  PutBe16(bytes, offset, static_cast<uint16_t>(value >> 16));
  PutBe16(bytes, offset + 2, static_cast<uint16_t>(value));
}

void Truncate(Bytes& bytes, size_t size) {
  if (size < bytes.size()) bytes.resize(size);
}

bool WriteFile(const std::string& path, const Bytes& bytes) {
  FILE* f = fopen(path.c_str(), "wb");
  if (!f) return false;
  bool ok = fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
  return fclose(f) == 0 && ok;
}

Bytes WritePsd(const PsdSpec& spec, PsdLayout* layout) {
  const bool wide = spec.version == 2;
  PsdLayout local;
  PsdLayout& at = layout ? *layout : local;
  at = PsdLayout();
  Bytes out;

  // File header.
  Text4(out, spec.signature);
  Be16(out, spec.version);
  for (size_t i = 0; i < 6; ++i) {
    out.push_back(i < spec.reserved.size() ? spec.reserved[i] : 0);
  }
  uint16_t channels = spec.channels ? *spec.channels
                                    : static_cast<uint16_t>(spec.planes.size());
  Be16(out, channels);
  Be32(out, spec.height);
  Be32(out, spec.width);
  Be16(out, spec.depth);
  Be16(out, spec.mode);

  // Color Mode Data.
  at.color_mode = out.size();
  Be32(out, spec.color_mode_length
                ? *spec.color_mode_length
                : static_cast<uint32_t>(spec.color_mode_data.size()));
  Append(out, spec.color_mode_data);

  // Image Resources.
  Bytes resources;
  for (const Resource& r : spec.resources) {
    Text4(resources, r.signature);
    Be16(resources, r.id);
    PascalString(resources, r.name, 2);
    Be32(resources, static_cast<uint32_t>(r.data.size()));
    Append(resources, r.data);
    if (r.data.size() % 2) resources.push_back(0);
  }
  at.resources = out.size();
  Be32(out, spec.resources_length ? *spec.resources_length
                                  : static_cast<uint32_t>(resources.size()));
  Append(out, resources);

  // Layer and Mask Information.
  at.layer_mask = out.size();
  Bytes section;
  if (!spec.layers.empty() || spec.layer_info_when_empty) {
    Bytes info;  // from the layer count on
    int16_t count = static_cast<int16_t>(spec.layers.size());
    if (spec.negative_layer_count) count = static_cast<int16_t>(-count);
    if (spec.layer_count) count = *spec.layer_count;
    Be16(info, static_cast<uint16_t>(count));

    // Channel data first, so that the records know their lengths.
    std::vector<std::vector<Bytes>> bodies;
    for (const Layer& layer : spec.layers) {
      std::vector<Bytes> per_layer;
      for (const LayerChannel& ch : layer.channels) {
        int32_t w = ch.width >= 0 ? ch.width : layer.right - layer.left;
        int32_t h = ch.height >= 0 ? ch.height : layer.bottom - layer.top;
        if (w < 0) w = 0;
        if (h < 0) h = 0;
        Bytes body;
        Be16(body, ch.compression);
        Append(body,
               ChannelBody(ch.samples, ch.compression,
                           RowSamples(static_cast<uint32_t>(w), spec.depth),
                           static_cast<uint32_t>(h), spec.depth, ch.row_counts,
                           ch.payload, spec.version));
        per_layer.push_back(body);
      }
      bodies.push_back(per_layer);
    }

    size_t records_at = info.size();
    for (size_t li = 0; li < spec.layers.size(); ++li) {
      const Layer& layer = spec.layers[li];
      Be32(info, static_cast<uint32_t>(layer.top));
      Be32(info, static_cast<uint32_t>(layer.left));
      Be32(info, static_cast<uint32_t>(layer.bottom));
      Be32(info, static_cast<uint32_t>(layer.right));
      int16_t nch = layer.channel_count
                        ? *layer.channel_count
                        : static_cast<int16_t>(layer.channels.size());
      Be16(info, static_cast<uint16_t>(nch));
      for (size_t c = 0; c < layer.channels.size(); ++c) {
        const LayerChannel& ch = layer.channels[c];
        Be16(info, static_cast<uint16_t>(ch.id));
        Wide(info, ch.length ? *ch.length : bodies[li][c].size(), wide);
      }
      Text4(info, layer.blend_signature);
      Text4(info, layer.blend_key);
      info.push_back(layer.opacity);
      info.push_back(layer.clipping);
      info.push_back(layer.flags);
      info.push_back(0);  // filler

      Bytes extra;
      if (layer.mask_data) {
        Be32(extra, static_cast<uint32_t>(layer.mask_data->size()));
        Append(extra, *layer.mask_data);
      } else if (layer.has_mask) {
        Be32(extra, 20);
        Be32(extra, static_cast<uint32_t>(layer.mask_top));
        Be32(extra, static_cast<uint32_t>(layer.mask_left));
        Be32(extra, static_cast<uint32_t>(layer.mask_bottom));
        Be32(extra, static_cast<uint32_t>(layer.mask_right));
        extra.push_back(layer.mask_default_colour);
        extra.push_back(layer.mask_flags);
        extra.push_back(0);  // padding
        extra.push_back(0);
      } else {
        Be32(extra, 0);
      }
      Be32(extra, 0);  // blending ranges
      PascalString(extra, layer.name, 4);
      Append(extra, layer.additional_info);
      Be32(info, layer.extra_length ? *layer.extra_length
                                    : static_cast<uint32_t>(extra.size()));
      Append(info, extra);
    }

    size_t channels_at = info.size();
    at.channel_offsets.clear();
    for (const std::vector<Bytes>& per_layer : bodies) {
      std::vector<size_t> offsets;
      for (const Bytes& body : per_layer) {
        offsets.push_back(info.size());
        Append(info, body);
      }
      at.channel_offsets.push_back(offsets);
    }
    if (info.size() % 2) info.push_back(0);

    // Section: layer info length, layer info, global mask info length.
    Wide(section,
         spec.layer_info_length ? *spec.layer_info_length : info.size(), wide);
    size_t info_at = at.layer_mask + (wide ? 8 : 4) + section.size();
    Append(section, info);
    Be32(section, 0);

    at.layer_records = info_at + records_at;
    at.channel_data = info_at + channels_at;
    for (std::vector<size_t>& offsets : at.channel_offsets) {
      for (size_t& o : offsets) o += info_at;
    }
  }
  Wide(out, spec.layer_mask_length ? *spec.layer_mask_length : section.size(),
       wide);
  Append(out, section);

  // Image Data.
  at.image_data = out.size();
  Be16(out, spec.compression);
  uint32_t row_samples = RowSamples(spec.width, spec.depth);
  if (spec.image_payload) {
    if (spec.row_counts) {
      for (uint16_t c : *spec.row_counts) RowCount(out, c, spec.version);
    }
    at.pixel_data = out.size();
    Append(out, *spec.image_payload);
  } else if (spec.compression == kPackBits) {
    std::vector<uint32_t> counts;
    Bytes data;
    for (const Samples& plane : spec.planes) {
      PackedPlane p = PackPlane(plane, row_samples, spec.height, spec.depth);
      counts.insert(counts.end(), p.row_counts.begin(), p.row_counts.end());
      Append(data, p.data);
    }
    if (spec.row_counts)
      counts.assign(spec.row_counts->begin(), spec.row_counts->end());
    for (uint32_t c : counts) RowCount(out, c, spec.version);
    at.pixel_data = out.size();
    Append(out, data);
  } else if (IsZip(spec.compression)) {
    // Every plane's rows in one stream.
    Bytes stored;
    for (const Samples& plane : spec.planes) {
      Append(stored, EncodeSamples(plane, spec.depth));
    }
    at.pixel_data = out.size();
    Append(out, Zip(stored, row_samples, spec.depth,
                    spec.compression == kZipPredict));
  } else {
    at.pixel_data = out.size();
    for (const Samples& plane : spec.planes) {
      Append(out, EncodeSamples(plane, spec.depth));
    }
  }
  return out;
}

// Compositing ----------------------------------------------------------------

namespace {

void Double(Bytes& out, double v) {
  uint64_t bits;
  memcpy(&bits, &v, sizeof bits);
  Be32(out, static_cast<uint32_t>(bits >> 32));
  Be32(out, static_cast<uint32_t>(bits));
}

// A descriptor key: length 0 and four characters, or the written-out key.
void Key(Bytes& out, const std::string& key) {
  Be32(out, key.size() == 4 ? 0 : static_cast<uint32_t>(key.size()));
  out.insert(out.end(), key.begin(), key.end());
}

// An empty Unicode name (a terminating 0), then the class key.
void DescriptorHead(Bytes& out, const std::string& class_key, uint32_t items) {
  Be32(out, 1);
  Be16(out, 0);
  Key(out, class_key);
  Be32(out, items);
}

// 8.24 fixed point of a fraction.
void Fraction(Bytes& out, double v) {
  Be32(out,
       static_cast<uint32_t>(static_cast<int32_t>(lround(v * 16777216.0))));
}

// Descriptor items: a key, a type and the value.
void ItemDouble(Bytes& out, const std::string& key, double v) {
  Key(out, key);
  Text4(out, "doub");
  Double(out, v);
}

void ItemUnit(Bytes& out, const std::string& key, const std::string& unit,
              double v) {
  Key(out, key);
  Text4(out, "UntF");
  Text4(out, unit);
  Double(out, v);
}

void ItemLong(Bytes& out, const std::string& key, int32_t v) {
  Key(out, key);
  Text4(out, "long");
  Be32(out, static_cast<uint32_t>(v));
}

void ItemEnum(Bytes& out, const std::string& key, const std::string& type,
              const std::string& value) {
  Key(out, key);
  Text4(out, "enum");
  Key(out, type);
  Key(out, value);
}

void ItemRgb(Bytes& out, double red, double green, double blue) {
  Key(out, "Clr ");
  Text4(out, "Objc");
  DescriptorHead(out, "RGBC", 3);
  ItemDouble(out, "Rd  ", red);
  ItemDouble(out, "Grn ", green);
  ItemDouble(out, "Bl  ", blue);
}

// A list of gradient stops, each a descriptor of class `cls` with `items`
// items: what `write` adds, then its location and midpoint.
template <class Stop, class Write>
void Stops(Bytes& out, const std::string& key, const std::string& cls,
           uint32_t items, const std::vector<Stop>& stops, Write write) {
  Key(out, key);
  Text4(out, "VlLs");
  Be32(out, static_cast<uint32_t>(stops.size()));
  for (const Stop& s : stops) {
    Text4(out, "Objc");
    DescriptorHead(out, cls, items);
    write(s);
    ItemLong(out, "Lctn", s.location);
    ItemLong(out, "Mdpn", 50);
  }
}

void PathRecord(Bytes& out, uint16_t selector, const Bytes& body) {
  Be16(out, selector);
  Bytes b = body;
  b.resize(24, 0);
  Append(out, b);
}

}  // namespace

Resource VersionInfoResource(bool has_real_merged_data) {
  Resource r;
  r.id = 1057;
  Be32(r.data, 1);
  r.data.push_back(has_real_merged_data ? 1 : 0);
  for (const char* name : {"writer", "reader"}) {
    Be32(r.data, static_cast<uint32_t>(strlen(name)));
    for (const char* c = name; *c; ++c) Be16(r.data, static_cast<uint16_t>(*c));
  }
  Be32(r.data, 1);
  return r;
}

Bytes InfoBlock(const std::string& key, const Bytes& data) {
  Bytes out;
  Text4(out, "8BIM");
  Text4(out, key);
  Bytes padded = data;
  if (padded.size() % 2) padded.push_back(0);
  Be32(out, static_cast<uint32_t>(padded.size()));
  Append(out, padded);
  return out;
}

Bytes SectionBlock(uint32_t type, const std::string& blend_key) {
  Bytes data;
  Be32(data, type);
  if (!blend_key.empty()) {
    Text4(data, "8BIM");
    Text4(data, blend_key);
  }
  return InfoBlock("lsct", data);
}

Bytes FillOpacityBlock(uint8_t fill_opacity) {
  return InfoBlock("iOpa", Bytes{fill_opacity, 0, 0, 0});
}

Bytes SolidColourBlock(double red, double green, double blue) {
  Bytes data;
  Be32(data, 16);  // descriptor version
  DescriptorHead(data, "null", 1);
  ItemRgb(data, red, green, blue);
  return InfoBlock("SoCo", data);
}

Bytes GradientFillBlock(const std::string& type, double angle, double scale,
                        const std::vector<ColourStop>& colours,
                        const std::vector<OpacityStop>& opacities,
                        bool reverse) {
  Bytes data;
  Be32(data, 16);
  DescriptorHead(data, "null", 5);
  ItemUnit(data, "Angl", "#Ang", angle);
  ItemEnum(data, "Type", "GrdT", type);
  ItemUnit(data, "Scl ", "#Prc", scale);
  Key(data, "Rvrs");
  Text4(data, "bool");
  data.push_back(reverse ? 1 : 0);
  Key(data, "Grad");
  Text4(data, "Objc");
  DescriptorHead(data, "Grdn", 4);
  ItemEnum(data, "GrdF", "GrdF", "CstS");
  ItemDouble(data, "Intr", 4096);
  Stops(data, "Clrs", "Clrt", 4, colours, [&](const ColourStop& c) {
    ItemRgb(data, c.red, c.green, c.blue);
    ItemEnum(data, "Type", "Clry", "UsrS");
  });
  Stops(data, "Trns", "TrnS", 3, opacities, [&](const OpacityStop& o) {
    ItemUnit(data, "Opct", "#Prc", o.opacity);
  });
  return InfoBlock("GdFl", data);
}

PathKnot CornerKnot(double x, double y) {
  PathKnot k;
  k.x = k.in_x = k.out_x = x;
  k.y = k.in_y = k.out_y = y;
  return k;
}

Bytes VectorMaskBlock(const std::vector<Subpath>& subpaths, uint32_t width,
                      uint32_t height, uint32_t flags, bool initial_fill) {
  Bytes data;
  Be32(data, 3);  // version
  Be32(data, flags);
  PathRecord(data, 6, {});  // path fill rule
  Bytes rule;
  Be16(rule, initial_fill ? 1 : 0);
  PathRecord(data, 8, rule);
  for (const Subpath& sp : subpaths) {
    Bytes head;
    Be16(head, static_cast<uint16_t>(sp.knots.size()));
    Be16(head, static_cast<uint16_t>(sp.operation));
    PathRecord(data, sp.closed ? 0 : 3, head);
    for (const PathKnot& k : sp.knots) {
      Bytes knot;
      const double points[3][2] = {
          {k.in_y, k.in_x}, {k.y, k.x}, {k.out_y, k.out_x}};
      for (int i = 0; i < 3; ++i) {
        Fraction(knot, points[i][0] / height);
        Fraction(knot, points[i][1] / width);
      }
      PathRecord(data, sp.closed ? 1 : 4, knot);
    }
  }
  return InfoBlock("vmsk", data);
}

PsdSpec MakeDocument(uint16_t mode, uint16_t depth, uint32_t channels,
                     uint32_t w, uint32_t h, uint16_t compression,
                     const PlaneSample& sample) {
  PsdSpec spec;
  spec.mode = mode;
  spec.depth = depth;
  spec.width = w;
  spec.height = h;
  spec.compression = compression;
  const uint32_t row = RowSamples(w, depth);
  for (uint32_t c = 0; c < channels; ++c) {
    Samples plane;
    for (uint32_t y = 0; y < h; ++y) {
      for (uint32_t x = 0; x < row; ++x) plane.push_back(sample(c, x, y));
    }
    spec.planes.push_back(std::move(plane));
  }
  return spec;
}

Layer MakeLayer(int32_t top, int32_t left, int32_t bottom, int32_t right,
                const std::vector<int16_t>& ids, uint16_t compression,
                const ChannelSample& sample) {
  Layer layer;
  layer.top = top, layer.left = left;
  layer.bottom = bottom, layer.right = right;
  const uint32_t w = right > left ? static_cast<uint32_t>(right - left) : 0;
  const uint32_t h = bottom > top ? static_cast<uint32_t>(bottom - top) : 0;
  for (int16_t id : ids) {
    LayerChannel channel;
    channel.id = id;
    channel.compression = compression;
    for (uint32_t y = 0; y < h; ++y) {
      for (uint32_t x = 0; x < w; ++x) {
        channel.samples.push_back(sample(id, x, y));
      }
    }
    layer.channels.push_back(std::move(channel));
  }
  return layer;
}

void AddMask(Layer& layer, int32_t top, int32_t left, int32_t bottom,
             int32_t right, size_t position, uint16_t compression,
             const MaskSample& sample) {
  layer.has_mask = true;
  layer.mask_top = top, layer.mask_left = left;
  layer.mask_bottom = bottom, layer.mask_right = right;
  Layer shape =
      MakeLayer(top, left, bottom, right, {-2}, compression,
                [&](int16_t, uint32_t x, uint32_t y) { return sample(x, y); });
  LayerChannel& mask = shape.channels[0];
  mask.width = right - left;
  mask.height = bottom - top;
  layer.channels.insert(layer.channels.begin() + static_cast<long>(position),
                        std::move(mask));
}

}  // namespace psdw
