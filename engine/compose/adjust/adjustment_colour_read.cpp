// Reading the colour adjustments: colour balance (a table a channel),
// black & white, photo filter, channel mixer, gradient map, selective colour
// and vibrance. Record layouts (big-endian):
//   blnc: shadows, midtones, highlights (three 2-byte signed values each:
//         cyan-red, magenta-green, yellow-blue), keep luminosity (1).
//   blwh: a descriptor (after its 4-byte version): "Rd  ", "Yllw", "Grn ",
//         "Cyn ", "Bl  ", "Mgnt" weights, "useTint", "tintColor".
//   phfl: version (2); version 2: colour space (2: 0 RGB, 7 Lab) and four
//         components (2 each); version 3: X, Y, Z (4 each, 32768 for 1,
//         D50 white); then density (4, percent), keep luminosity (1).
//   mixr: version (2), monochrome (2), then per output channel five
//         2-byte signed values: percents of each source channel (four) and
//         a constant.
//   grdm: version (2), reversed (1), dithered (1), method (4, version 3),
//         name (Unicode), colour stops (location 0..4096 (4), midpoint (4),
//         colour space (2), four components (2 each), 2 pad), opacity
//         stops (10 bytes each), expansion (2), smoothness (2, 0..4096),
//         then the rest of the gradient's settings.
//   selc: version (2), method (2: 1 absolute), ten records of cyan,
//         magenta, yellow, black (2 each, signed; the first unused).
//   vibA: a descriptor: "vibrance" and "Strt".
#include "engine/base/memory.h"
#include "engine/base/real_math.h"
#include "engine/channels/rows.h"
#include "engine/compose/adjust/adjustment_read.h"
#include "engine/compose/layer/fill_colour.h"
#include "engine/compose/layer/gradient_stops.h"

namespace engine {
namespace {

int32_t Clamp(int32_t v, int32_t lo, int32_t hi) {
  return v < lo ? lo : v > hi ? hi : v;
}

uint8_t ToByte(double v) {
  if (!(v > 0)) return 0;
  return v >= 255 ? 255 : static_cast<uint8_t>(v + 0.5);
}

// Colour balance acts on each channel alone, as levels: a channel's
// shadows towards its colour (red, green, blue; -100..100) brighten it by a
// gamma of two to the hundredth part, away from it they raise its input
// black by as much; its highlights away lower its input white, towards it
// darken it by a gamma; its midtones set a gamma both ways. Keeping the
// luminosity takes each range's mean off its three corrections, so a
// neutral shift cancels. The table is the input range stretched, rounded,
// then the gamma (rounded to hundredths, as a levels record holds it).
bool ReadBalance(const Document* doc, Reader* r, Adjustment* a) {
  int32_t shift[3][3];
  for (auto& range : shift) {
    for (int32_t& v : range) v = Clamp(r->S16(), -100, 100);
  }
  const bool keep_luminosity = r->U8() != 0;
  if (!r->ok) return false;
  a->kind = kAdjustTables;
  if (doc->color_mode == kModeGrayscale) return true;
  for (int c = 0; c < 3; ++c) {
    double v[3];
    for (int range = 0; range < 3; ++range) {
      v[range] = shift[range][c];
      if (keep_luminosity) {
        v[range] -= (shift[range][0] + shift[range][1] + shift[range][2]) / 3.0;
      }
    }
    const double black = v[0] < 0 ? -v[0] : 0;
    const double white = v[2] > 0 ? 255.0 - v[2] : 255.0;
    const double stops = (v[0] > 0 ? v[0] : 0) + v[1] + (v[2] < 0 ? v[2] : 0);
    const double gamma =
        static_cast<int32_t>(RealPow(2.0, stops / 100.0) * 100.0 + 0.5) / 100.0;
    uint8_t stretched[256];
    for (uint32_t i = 0; i < 256; ++i)
      stretched[i] = ToByte((i - black) * 255.0 / (white - black));
    for (uint32_t i = 0; i < 256; ++i) {
      const uint32_t s = stretched[i];
      a->table[c][i] =
          s == 0 ? 0 : ToByte(255.0 * RealPow(s / 255.0, 1.0 / gamma));
    }
  }
  return true;
}

bool BlockDescriptor(const InfoBlock& block, Descriptor* d) {
  return block.data != nullptr && block.length > 4 &&
         ReadDescriptor(block.data + 4, block.data + block.length, d);
}

int32_t ItemPercent(const Descriptor& d, const char* key, int32_t fallback) {
  int64_t fixed;
  if (!ItemFixed(d, key, &fixed)) return fallback;
  return Clamp(static_cast<int32_t>(fixed / 65536), -200, 300);
}

bool ReadGray(const Document* doc, const InfoBlock& block, Adjustment* a) {
  Descriptor d;
  if (!BlockDescriptor(block, &d)) return false;
  const char* keys[6] = {"Rd  ", "Yllw", "Grn ", "Cyn ", "Bl  ", "Mgnt"};
  const int32_t defaults[6] = {40, 60, 40, 60, 20, 80};
  for (int k = 0; k < 6; ++k)
    a->gray_weight[k] = ItemPercent(d, keys[k], defaults[k]);
  bool tint = false;
  ItemBool(d, "useTint", &tint);
  a->tint = tint && ReadFillColour(d, "tintColor", doc, a->colour);
  return true;
}

// Lab's f: the cube root above (6/29)^3, a line below it.
double LabF(double t) {
  return t > 216.0 / 24389.0 ? RealPow(t, 1.0 / 3.0)
                             : (24389.0 / 27.0 * t + 16.0) / 116.0;
}

bool ReadFilter(Reader* r, Adjustment* a) {
  const uint32_t version = r->U16();
  if (version == 3) {  // X, Y, Z against D50, 32768 for 1
    double f[3];
    for (double& v : f) {
      const int32_t raw = static_cast<int32_t>(r->U32());
      if (raw < 0 || raw > 65536) return false;
      v = LabF(raw / 32768.0);
    }
    LabToBgr(ToByte((116.0 * f[1] - 16.0) * 2.55),
             ToByte(500.0 * (f[0] - f[1]) + 128.0),
             ToByte(200.0 * (f[1] - f[2]) + 128.0), a->colour);
  } else if (version == 2) {
    const uint32_t space = r->U16();
    const int32_t c0 = r->S16(), c1 = r->S16(), c2 = r->S16();
    r->U16();
    if (space == 0) {
      a->colour[2] = static_cast<uint8_t>(static_cast<uint16_t>(c0) >> 8);
      a->colour[1] = static_cast<uint8_t>(static_cast<uint16_t>(c1) >> 8);
      a->colour[0] = static_cast<uint8_t>(static_cast<uint16_t>(c2) >> 8);
    } else if (space == 7) {  // L x 100, a x 100, b x 100
      LabToBgr(ToByte(c0 * 2.55 / 100.0), ToByte(c1 / 100.0 + 128),
               ToByte(c2 / 100.0 + 128), a->colour);
    } else {
      return false;
    }
  } else {
    return false;
  }
  a->density = Clamp(static_cast<int32_t>(r->U32()), 0, 100);
  a->keep_luminosity = r->U8() != 0;
  return r->ok;
}

bool ReadMixer(Reader* r, Adjustment* a) {
  if (r->U16() != 1) return false;
  a->monochrome = r->U16() != 0;
  for (auto& row : a->mixer) {
    for (int k = 0; k < 3; ++k) row[k] = Clamp(r->S16(), -200, 200);
    r->S16();  // a fourth source channel (black, in CMYK)
    row[3] = Clamp(r->S16(), -200, 200);
  }
  return r->ok;
}

// A colour stop's colour: RGB (0) or gray (8) components of 16 bits.
bool StopColour(uint32_t space, const uint32_t* c, uint8_t* bgr) {
  if (space == 0) {
    bgr[2] = static_cast<uint8_t>(c[0] >> 8);
    bgr[1] = static_cast<uint8_t>(c[1] >> 8);
    bgr[0] = static_cast<uint8_t>(c[2] >> 8);
    return true;
  }
  if (space == 8) {  // ink, 0..10000
    bgr[0] = bgr[1] = bgr[2] = ToByte(255.0 - c[0] * 255.0 / 10000.0);
    return true;
  }
  return false;
}

// The stops' colours go into the space the method names (classic: the
// samples; linear light; perceptual: Oklab) and blend there, eased by the
// gradient's smoothness ("interpolation", 0..4096) as gradient fills are;
// the transparency stops do not act on the map.
bool ReadGradient(Reader* r, Adjustment* a) {
  const uint32_t version = r->U16();
  if (version != 1 && version != 3) return false;
  const bool reversed = r->U8() != 0;
  r->U8();
  char method[4] = {'G', 'c', 'l', 's'};
  if (version == 3) {
    for (char& m : method) m = static_cast<char>(r->U8());
  }
  const GradientSpace space = GradientSpaceFromKey(method);
  r->Take(2 * r->U32());  // the name
  const uint32_t count = r->U16();
  if (count < 1 || count > kMaxStops || !r->ok) return false;
  StopList* list = AllocateArray<StopList>(1);
  if (list == nullptr) return false;
  bool usable = true;
  for (uint32_t i = 0; usable && i < count; ++i) {
    GradientStop& stop = list->stops[i];
    const uint32_t location = r->U32();
    uint32_t midpoint = r->U32();
    const uint32_t colour_space = r->U16();
    uint32_t c[4];
    for (uint32_t& v : c) v = r->U16();
    r->U16();
    uint8_t bgr[3] = {0, 0, 0};
    usable = r->ok && StopColour(colour_space, c, bgr);
    if (midpoint < 1 || midpoint > 99) midpoint = 50;
    stop.location = static_cast<int64_t>(location > 4096 ? 4096 : location)
                    << 16;
    stop.midpoint = static_cast<int64_t>(midpoint) << 16;
    usable = usable && (i == 0 || stop.location >= list->stops[i - 1].location);
    ToGradientSpace(bgr, false, space, stop.value);
  }
  list->count = count;
  r->Take(10ull * r->U16());  // the transparency stops
  r->U16();                   // expansion
  const uint32_t smoothness = r->U16();
  const double smooth = r->ok && smoothness < 4096 ? smoothness / 4096.0 : 1;
  for (uint32_t v = 0; usable && v < 256; ++v) {
    const int64_t at =
        static_cast<int64_t>(reversed ? 255 - v : v) * (4096 << 16) / 255;
    double value[3];
    for (int c = 0; c < 3; ++c) value[c] = StopValue(*list, at, c, smooth);
    FromGradientSpace(value, false, space, a->gradient[v]);
  }
  Release(list);
  return usable;
}

bool ReadSelective(Reader* r, Adjustment* a) {
  if (r->U16() != 1) return false;
  a->absolute = r->U16() == 1;
  for (int k = 0; k < 4; ++k) r->S16();  // the unused first record
  for (auto& record : a->selective) {
    for (int32_t& v : record) v = Clamp(r->S16(), -100, 100);
  }
  return r->ok;
}

bool ReadVibrance(const InfoBlock& block, Adjustment* a) {
  Descriptor d;
  if (!BlockDescriptor(block, &d)) return false;
  a->vibrance = Clamp(ItemPercent(d, "vibrance", 0), -100, 100);
  a->saturation = Clamp(ItemPercent(d, "Strt", 0), -100, 100);
  return true;
}

}  // namespace

bool ReadColourAdjustment(const Document* doc, const char* key,
                          const InfoBlock& block, Reader* r, Adjustment* a) {
  if (KeyMatches(key, "blnc")) {
    return ReadBalance(doc, r, a);
  }
  if (KeyMatches(key, "blwh")) {
    a->kind = kAdjustGray;
    return ReadGray(doc, block, a);
  }
  if (KeyMatches(key, "phfl")) {
    a->kind = kAdjustFilter;
    return ReadFilter(r, a);
  }
  if (KeyMatches(key, "mixr")) {
    a->kind = kAdjustMixer;
    return ReadMixer(r, a);
  }
  if (KeyMatches(key, "grdm")) {
    a->kind = kAdjustGradient;
    return ReadGradient(r, a);
  }
  if (KeyMatches(key, "selc")) {
    a->kind = kAdjustSelective;
    return ReadSelective(r, a);
  }
  if (KeyMatches(key, "vibA")) {
    a->kind = kAdjustVibrance;
    return ReadVibrance(block, a);
  }
  return false;
}

}  // namespace engine
