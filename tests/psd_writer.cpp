// The PSD document writer: the file header, the colour mode data, the image
// resources, the layer and mask section (layer records and their channel
// data) and the merged image data, with the offsets of each in PsdLayout;
// and the byte edits of finished documents.
#include "psd_writer.h"

#include <stdio.h>

#include "psd_writer_bytes.h"

namespace psdw {
namespace {

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
      Be32(extra, static_cast<uint32_t>(layer.blend_ranges.size()));
      Append(extra, layer.blend_ranges);
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

}  // namespace psdw
