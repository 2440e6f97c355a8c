// The adjustments that act on each sample alone, read into a table a
// document channel: levels, curves, brightness/contrast, invert,
// posterize and exposure. Record layouts (big-endian):
//   levl: version (2), 29 records of input floor, input ceiling, output
//         floor, output ceiling, gamma x 100 (2 bytes each); record 0 is
//         the composite, 1.. the channels.
//   curv: map flag (1), version (2), channel bits (4: bit 0 the composite,
//         1.. the channels), then per channel set either 256 bytes (map)
//         or a point count (2) and (output, input) points (2 + 2 bytes).
//   brit: brightness, contrast, mean (2 bytes each, signed), Lab flag (1).
//   post: levels (2).   nvrt: no data.
//   expA: version (2), exposure, offset, gamma (4-byte floats).
#include "engine/base/bytes.h"
#include "engine/base/real_math.h"
#include "engine/compose/adjust/adjustment_read.h"

namespace engine {
namespace {

const uint32_t kLevelsRecords = 29;
const uint32_t kMaxCurvePoints = 32;

void Identity(uint8_t* table) {
  for (uint32_t v = 0; v < 256; ++v) table[v] = static_cast<uint8_t>(v);
}

uint8_t RoundByte(double v) {
  if (!(v > 0)) return 0;
  if (v >= 255) return 255;
  return static_cast<uint8_t>(v + 0.5);
}

// `table` followed by `then`.
void Follow(uint8_t* table, const uint8_t* then) {
  for (uint32_t v = 0; v < 256; ++v) table[v] = then[table[v]];
}

// One levels record as a table; false when its numbers are out of range.
bool LevelsTable(const uint8_t* p, uint8_t* table) {
  const uint32_t in_lo = ReadU16(p), in_hi = ReadU16(p + 2);
  const uint32_t out_lo = ReadU16(p + 4), out_hi = ReadU16(p + 6);
  const uint32_t gamma = ReadU16(p + 8);
  if (in_lo > 255 || in_hi > 255 || out_lo > 255 || out_hi > 255 ||
      in_hi <= in_lo || gamma < 1 || gamma > 999) {
    return false;
  }
  const double inverse_gamma = 100.0 / gamma;
  for (uint32_t v = 0; v < 256; ++v) {
    double t = (static_cast<double>(v) - in_lo) / (in_hi - in_lo);
    t = t < 0 ? 0 : t > 1 ? 1 : t;
    if (gamma != 100 && t > 0) t = RealPow(t, inverse_gamma);
    table[v] = RoundByte(out_lo + t * (static_cast<double>(out_hi) - out_lo));
  }
  return true;
}

bool ReadLevels(Reader* r, uint32_t channels, Adjustment* a) {
  if (r->U16() != 2) return false;
  uint8_t master[256], own[256];
  const uint8_t* first = r->Take(10);
  if (first == nullptr || !LevelsTable(first, master)) return false;
  for (uint32_t ch = 0; ch < kLevelsRecords - 1; ++ch) {
    const uint8_t* record = r->Take(10);
    if (record == nullptr) return false;
    if (ch >= channels) continue;
    if (!LevelsTable(record, own)) Identity(own);
    Follow(own, master);
    memcpy(a->table[ch], own, 256);
  }
  return true;
}

// A natural cubic spline through the points (input, output), sorted by
// input; flat beyond the first and last.
void SplineTable(const int32_t* x, const int32_t* y, uint32_t n,
                 uint8_t* table) {
  double second[kMaxCurvePoints] = {}, u[kMaxCurvePoints] = {};
  for (uint32_t i = 1; i + 1 < n; ++i) {
    const double sig =
        static_cast<double>(x[i] - x[i - 1]) / (x[i + 1] - x[i - 1]);
    const double p = sig * second[i - 1] + 2.0;
    second[i] = (sig - 1.0) / p;
    const double d = static_cast<double>(y[i + 1] - y[i]) / (x[i + 1] - x[i]) -
                     static_cast<double>(y[i] - y[i - 1]) / (x[i] - x[i - 1]);
    u[i] = (6.0 * d / (x[i + 1] - x[i - 1]) - sig * u[i - 1]) / p;
  }
  second[n - 1] = 0;
  for (uint32_t i = n - 1; i-- > 0;)
    second[i] = second[i] * second[i + 1] + u[i];
  uint32_t k = 0;
  for (int32_t v = 0; v < 256; ++v) {
    if (v <= x[0]) {
      table[v] = RoundByte(y[0]);
      continue;
    }
    if (v >= x[n - 1]) {
      table[v] = RoundByte(y[n - 1]);
      continue;
    }
    while (k + 1 < n - 1 && x[k + 1] <= v) ++k;
    const double h = x[k + 1] - x[k];
    const double b = (v - x[k]) / h, a = 1.0 - b;
    const double out =
        a * y[k] + b * y[k + 1] +
        ((a * a * a - a) * second[k] + (b * b * b - b) * second[k + 1]) * h *
            h / 6.0;
    table[v] = RoundByte(out);
  }
}

// One curve's points as a table; false when malformed.
bool ReadCurve(Reader* r, uint8_t* table) {
  const uint32_t n = r->U16();
  if (n < 2 || n > kMaxCurvePoints) return false;
  int32_t x[kMaxCurvePoints], y[kMaxCurvePoints];
  for (uint32_t i = 0; i < n; ++i) {
    y[i] = r->U16();
    x[i] = r->U16();
    if (x[i] > 255 || y[i] > 255 || (i > 0 && x[i] <= x[i - 1])) return false;
  }
  if (!r->ok) return false;
  SplineTable(x, y, n, table);
  return true;
}

bool ReadCurves(Reader* r, uint32_t channels, Adjustment* a) {
  const bool map = r->U8() != 0;
  const uint32_t version = r->U16();
  const uint32_t bits = r->U32();
  if (!r->ok || (version != 1 && version != 4)) return false;
  uint8_t master[256];
  Identity(master);
  for (uint32_t index = 0; index < 32 && (bits >> index) != 0; ++index) {
    if (((bits >> index) & 1) == 0) continue;
    uint8_t own[256];
    if (map) {
      const uint8_t* bytes = r->Take(256);
      if (bytes == nullptr) return false;
      memcpy(own, bytes, 256);
    } else if (!ReadCurve(r, own)) {
      return false;
    }
    if (index == 0) {
      memcpy(master, own, 256);
    } else if (index - 1 < channels) {
      memcpy(a->table[index - 1], own, 256);
    }
  }
  for (uint32_t ch = 0; ch < channels; ++ch) Follow(a->table[ch], master);
  return true;
}

void Posterize(uint32_t levels, uint8_t* table) {
  if (levels < 2) levels = 2;
  if (levels > 255) levels = 255;
  for (uint32_t v = 0; v < 256; ++v) {
    const uint32_t step = (v * levels) >> 8;
    table[v] =
        static_cast<uint8_t>((step * 255 + (levels - 1) / 2) / (levels - 1));
  }
}

// A sample (0..1) in linear light and back: 32-bit documents' samples are
// sRGB-encoded from their linear values; others are taken as gamma 2.2
// (RGB) or 1.75 (gray, near the dot gain of gray working spaces).
double Decode(double v, double encoding) {
  return encoding > 0 ? RealPow(v, encoding) : SrgbToLinear(v);
}
double Encode(double v, double encoding) {
  return encoding > 0 ? RealPow(v, 1.0 / encoding) : LinearToSrgb(v);
}

double ExposureEncoding(const Document* doc) {
  if (doc->depth == 32) return 0;
  return doc->color_mode == kModeGrayscale ? 1.75 : 2.2;
}

// Exposure: decoded to linear light, scaled by two to the exposure,
// offset, raised to one over gamma, encoded again.
bool ExposureTable(float exposure, float offset, float gamma, double encoding,
                   uint8_t* table) {
  if (!(exposure >= -20 && exposure <= 20) || !(offset >= -1 && offset <= 1) ||
      !(gamma >= 0.01f && gamma <= 10)) {
    return false;
  }
  const double scale = RealPow(2.0, exposure);
  for (uint32_t v = 0; v < 256; ++v) {
    double l = Decode(v / 255.0, encoding) * scale + offset;
    l = l > 0 ? RealPow(l, 1.0 / gamma) : 0;
    table[v] = RoundByte(255.0 * Encode(l > 1 ? 1 : l, encoding));
  }
  return true;
}

}  // namespace

double SrgbToLinear(double v) {
  return v <= 0.04045 ? v / 12.92 : RealPow((v + 0.055) / 1.055, 2.4);
}

double LinearToSrgb(double v) {
  return v <= 0.0031308 ? v * 12.92 : 1.055 * RealPow(v, 1.0 / 2.4) - 0.055;
}

bool ReadTableAdjustment(const Document* doc, const char* key, Reader* r,
                         uint32_t channels, Adjustment* a) {
  a->kind = kAdjustTables;
  if (KeyMatches(key, "levl")) return ReadLevels(r, channels, a);
  if (KeyMatches(key, "curv")) return ReadCurves(r, channels, a);
  if (KeyMatches(key, "nvrt")) {
    for (uint32_t ch = 0; ch < 4; ++ch) {
      for (uint32_t v = 0; v < 256; ++v) a->table[ch][v] = 255 - v;
    }
    return true;
  }
  if (KeyMatches(key, "post")) {
    const uint32_t levels = r->U16();
    for (uint32_t ch = 0; ch < 4; ++ch) Posterize(levels, a->table[ch]);
    return r->ok;
  }
  if (KeyMatches(key, "expA")) {
    r->U16();
    const float exposure = r->F32(), offset = r->F32(), gamma = r->F32();
    if (!r->ok || !ExposureTable(exposure, offset, gamma, ExposureEncoding(doc),
                                 a->table[0])) {
      return false;
    }
    for (uint32_t ch = 1; ch < 4; ++ch) memcpy(a->table[ch], a->table[0], 256);
    return true;
  }
  return false;
}

void BrightnessContrastTable(int32_t brightness, int32_t contrast, bool legacy,
                             uint8_t* table) {
  if (legacy) {
    // The legacy form: brightness adds to every value, contrast stretches
    // about the middle (after the brightness) or flattens towards it
    // (before it).
    const double slope = contrast >= 0 ? 100.0 / (100.01 - contrast)
                                       : (100.0 + contrast) / 100.0;
    for (int32_t v = 0; v < 256; ++v) {
      const double out = contrast >= 0
                             ? (v + brightness - 127.5) * slope + 127.5
                             : (v - 127.5) * slope + 127.5 + brightness;
      table[v] = RoundByte(out);
    }
    return;
  }
  // The current form keeps black and white. Brightness is an exposure of
  // a stop per 50 in light (samples as gamma 2.2), rolled off so that
  // white stays white: x s / sqrt(1 + (s^2 - 1) x^2). Contrast then bends
  // each half about the middle into a parabola, its slope at black and
  // white 1 - 0.0076 c and at the middle 1 + 0.0076 c.
  const double s = RealPow(2.0, brightness / 50.0);
  const double k = 1.0 - 0.0076 * contrast;
  uint8_t bright[256];
  for (int32_t v = 0; v < 256; ++v) {
    const double x = RealPow(v / 255.0, 2.2);
    const double y = s * x / RealPow(1.0 + (s * s - 1.0) * x * x, 0.5);
    bright[v] = RoundByte(255.0 * RealPow(y < 1 ? y : 1.0, 1.0 / 2.2));
  }
  for (int32_t v = 0; v < 256; ++v) {
    const double u = bright[v];
    const bool low = u <= 127.5;
    const double t = low ? u / 127.5 : (255.0 - u) / 127.5;
    const double q = 127.5 * (k * t + (1.0 - k) * t * t);
    table[v] = RoundByte(low ? q : 255.0 - q);
  }
}

}  // namespace engine
