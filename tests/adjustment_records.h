// Adjustment layer records of every kind, for the writer's documents and
// the composite tests: each with settings that change colours, or with
// neutral settings that leave every colour as it is.
#pragma once

#include <string.h>

#include <string>
#include <vector>

#include "psd_writer.h"
#include "psd_writer_bytes.h"

namespace adjustments {

using psdw::Bytes;

struct Record {
  std::string key;
  Bytes info;  // the layer's additional information
};

inline void Shorts(Bytes& out, std::initializer_list<int> values) {
  for (int v : values) psdw::Be16(out, static_cast<uint16_t>(v));
}

inline void Float(Bytes& out, float v) {
  uint32_t bits;
  memcpy(&bits, &v, 4);
  psdw::Be32(out, bits);
}

// The first block of `info` with the first half of its data only: a record
// cut short within a well-formed block.
inline Bytes CutShort(const Bytes& info) {
  const uint32_t length = (static_cast<uint32_t>(info[8]) << 24) |
                          (info[9] << 16) | (info[10] << 8) | info[11];
  const Bytes data(info.begin() + 12, info.begin() + 12 + length / 2);
  return psdw::InfoBlock(std::string(info.begin() + 4, info.begin() + 8), data);
}

inline Bytes Levels(bool neutral) {
  Bytes d;
  Shorts(d, {2});
  for (int r = 0; r < 29; ++r) {
    if (!neutral && r == 0) {
      Shorts(d, {12, 236, 5, 250, 140});
    } else if (!neutral && r == 2) {
      Shorts(d, {0, 200, 30, 255, 80});
    } else {
      Shorts(d, {0, 255, 0, 255, 100});
    }
  }
  return d;
}

// Master, red and blue curves; (output, input) points.
inline Bytes Curves(bool neutral) {
  Bytes d{0};
  Shorts(d, {1, 0, 0b1011});
  if (neutral) {
    for (int c = 0; c < 3; ++c) Shorts(d, {2, 0, 0, 255, 255});
  } else {
    Shorts(d, {3, 0, 0, 170, 128, 255, 255});
    Shorts(d, {2, 30, 0, 230, 255});
    Shorts(d, {4, 0, 0, 40, 70, 200, 180, 255, 255});
  }
  return d;
}

inline Bytes HueSaturation(bool neutral, bool colorize) {
  Bytes d;
  Shorts(d, {2});
  d.push_back(colorize ? 1 : 0);
  d.push_back(0);
  Shorts(d, {210, 60, -10});
  if (neutral) {
    Shorts(d, {0, 0, 0});
  } else {
    Shorts(d, {40, 30, -15});
  }
  for (int r = 0; r < 6; ++r) {
    const int at = 60 * r;
    Shorts(d, {(at + 330) % 360, (at + 345) % 360, (at + 15) % 360,
               (at + 30) % 360});
    Shorts(d, {neutral ? 0 : 10 * r - 20, neutral ? 0 : 15 - 5 * r,
               neutral ? 0 : 4 * r});
  }
  return d;
}

inline std::vector<Record> Records(bool neutral) {
  using psdw::InfoBlock;
  std::vector<Record> out;
  auto add = [&](const std::string& key, const Bytes& info) {
    out.push_back(Record{key, info});
  };
  add("levl", InfoBlock("levl", Levels(neutral)));
  add("curv", InfoBlock("curv", Curves(neutral)));
  Bytes legacy;
  Shorts(legacy, {neutral ? 0 : 25, neutral ? 0 : 40, 127, 0});
  add("brit", InfoBlock("brit", legacy));
  Bytes current = InfoBlock("brit", Bytes(8, 0));
  psdw::Append(current, psdw::DescriptorBlock("CgEd",
                                              {{"Vrsn", 1},
                                               {"Brgh", neutral ? 0 : -60},
                                               {"Cntr", neutral ? 0 : 55}},
                                              {{"useLegacy", false}}));
  add("CgEd", current);
  add("hue2", InfoBlock("hue2", HueSaturation(neutral, false)));
  Bytes balance;
  Shorts(balance,
         {neutral ? 0 : 20, 0, neutral ? 0 : -30, neutral ? 0 : -10,
          neutral ? 0 : 40, 0, 0, neutral ? 0 : -25, neutral ? 0 : 15});
  balance.insert(balance.end(), {1, 0, 0, 0});
  add("blnc", InfoBlock("blnc", balance));
  Bytes filter;
  Shorts(filter, {2, 0, 65535, 30000, 0, 0});
  psdw::Be32(filter, neutral ? 0 : 45);
  filter.insert(filter.end(), {1, 0, 0, 0});
  add("phfl", InfoBlock("phfl", filter));
  Bytes mixer;
  Shorts(mixer, {1, 0});
  Shorts(mixer, {neutral ? 100 : 70, neutral ? 0 : 30, 0, 0, 0});
  Shorts(mixer, {0, 100, neutral ? 0 : -20, 0, neutral ? 0 : 10});
  Shorts(mixer, {neutral ? 0 : 40, 0, neutral ? 100 : 60, 0, 0});
  Shorts(mixer, {0, 0, 0, 100, 0});
  add("mixr", InfoBlock("mixr", mixer));
  Bytes selective;
  Shorts(selective, {1, 0, 0, 0, 0, 0});
  for (int r = 0; r < 9; ++r) {
    Shorts(selective, {neutral ? 0 : 30 - 7 * r, neutral ? 0 : 5 * r - 20,
                       neutral ? 0 : (r % 3) * 15, neutral ? 0 : 10 - r});
  }
  add("selc", InfoBlock("selc", selective));
  add("vibA",
      psdw::DescriptorBlock(
          "vibA", {{"vibrance", neutral ? 0 : 60}, {"Strt", neutral ? 0 : -20}},
          {}));
  Bytes exposure;
  Shorts(exposure, {1});
  Float(exposure, neutral ? 0.0f : 0.8f);
  Float(exposure, neutral ? 0.0f : 0.02f);
  Float(exposure, neutral ? 1.0f : 1.3f);
  exposure.insert(exposure.end(), {0, 0});
  add("expA", InfoBlock("expA", exposure));
  if (neutral) return out;
  // Kinds that always change something.
  add("hue2", InfoBlock("hue2", HueSaturation(false, true)));
  add("nvrt", InfoBlock("nvrt", Bytes()));
  add("post", InfoBlock("post", Bytes{0, 5, 0, 0}));
  add("thrs", InfoBlock("thrs", Bytes{0, 120, 0, 0}));
  add("blwh",
      psdw::DescriptorBlock("blwh",
                            {{"Rd  ", 50},
                             {"Yllw", 70},
                             {"Grn ", 30},
                             {"Cyn ", 45},
                             {"Bl  ", 10},
                             {"Mgnt", 90}},
                            {{"useTint", true}}, "tintColor", {225, 200, 160}));
  Bytes gradient;
  Shorts(gradient, {1});
  gradient.insert(gradient.end(), {0, 0});
  psdw::Be32(gradient, 1);
  Shorts(gradient, {0, 2});
  for (int stop = 0; stop < 2; ++stop) {
    psdw::Be32(gradient, stop * 4096);
    psdw::Be32(gradient, 50);
    Shorts(gradient, {0, stop ? 65535 : 8000, stop ? 50000 : 0,
                      stop ? 10000 : 30000, 0, 0});
  }
  Shorts(gradient, {2});
  for (int stop = 0; stop < 2; ++stop) {
    psdw::Be32(gradient, stop * 4096);
    psdw::Be32(gradient, 50);
    Shorts(gradient, {100});
  }
  Shorts(gradient, {2, 4096, 32, 0});
  psdw::Be32(gradient, 0);
  Shorts(gradient, {0, 1});
  psdw::Be32(gradient, 2048);
  Shorts(gradient, {3, 0, 0, 0, 0, 32768, 32768, 32768, 32768, 0});
  add("grdm", InfoBlock("grdm", gradient));
  return out;
}

}  // namespace adjustments
