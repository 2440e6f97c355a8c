// Image resources and additional layer information for the PSD document
// writer: resolution, palette and version info; section dividers, fill
// opacity, solid colour and gradient fills (as descriptors) and vector
// masks (as path records).
#include <math.h>
#include <string.h>

#include "psd_writer.h"
#include "psd_writer_bytes.h"

namespace psdw {

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

Bytes DescriptorBlock(const std::string& key,
                      const std::vector<DescriptorLong>& longs,
                      const std::vector<DescriptorBool>& bools,
                      const std::string& rgb_key,
                      const std::vector<double>& rgb) {
  Bytes data;
  Be32(data, 16);
  const bool colour = rgb.size() == 3;
  DescriptorHead(data, "null",
                 static_cast<uint32_t>(longs.size() + bools.size() + colour));
  for (const DescriptorLong& l : longs) ItemLong(data, l.key, l.value);
  for (const DescriptorBool& b : bools) {
    Key(data, b.key);
    Text4(data, "bool");
    data.push_back(b.value ? 1 : 0);
  }
  if (colour) {
    Key(data, rgb_key);
    Text4(data, "Objc");
    DescriptorHead(data, "RGBC", 3);
    ItemDouble(data, "Rd  ", rgb[0]);
    ItemDouble(data, "Grn ", rgb[1]);
    ItemDouble(data, "Bl  ", rgb[2]);
  }
  return InfoBlock(key, data);
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

Bytes EffectsBlock(const std::vector<EffectSpec>& effects) {
  Bytes data;
  Be32(data, 0);   // effects version
  Be32(data, 16);  // descriptor version
  DescriptorHead(data, "null", static_cast<uint32_t>(effects.size() + 2));
  ItemUnit(data, "Scl ", "#Prc", 100);
  Key(data, "masterFXSwitch");
  Text4(data, "bool");
  data.push_back(1);
  for (const EffectSpec& e : effects) {
    Key(data, e.key);
    Text4(data, "Objc");
    DescriptorHead(data, e.key, 11);
    Key(data, "enab");
    Text4(data, "bool");
    data.push_back(1);
    ItemEnum(data, "Md  ", "BlnM", e.mode);
    ItemRgb(data, e.red, e.green, e.blue);
    ItemUnit(data, "Opct", "#Prc", e.opacity);
    ItemUnit(data, e.key == "FrFX" ? "Sz  " : "blur", "#Pxl", e.size);
    ItemUnit(data, "Dstn", "#Pxl", e.distance);
    ItemUnit(data, "Ckmt", "#Prc", e.spread);
    ItemUnit(data, "lagl", "#Ang", e.angle);
    Key(data, "uglg");
    Text4(data, "bool");
    data.push_back(0);
    ItemEnum(data, "Styl", "FStl", e.style);
    ItemEnum(data, "bvlS", "BESl", e.style);
  }
  return InfoBlock("lfx2", data);
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

}  // namespace psdw
