#include "engine/channels/rows.h"

#include <string.h>

#include "engine/channels/pixel_ops.h"

namespace engine {
namespace {

const uint32_t kSrgbThresholds[255] = {
#include "engine/channels/srgb_table.inc"
};

uint32_t FloatBits(float value) {
  uint32_t bits;
  memcpy(&bits, &value, 4);
  return bits;
}

// The byte for a float's bit pattern: negative values, zero and NaN give 0.
uint8_t SrgbByteFromBits(uint32_t bits) {
  if (bits & 0x80000000u) return 0;
  if (bits > 0x7F800000u) return 0;  // NaN
  // Positive floats order like their bit patterns.
  uint32_t low = 0, high = 255;  // count of thresholds <= bits
  while (low < high) {
    const uint32_t mid = (low + high) / 2;
    if (kSrgbThresholds[mid] <= bits) {
      low = mid + 1;
    } else {
      high = mid;
    }
  }
  return static_cast<uint8_t>(low);
}

double InverseLabCurve(double t) {
  const double delta = 6.0 / 29.0;
  if (t > delta) return t * t * t;
  return 3.0 * delta * delta * (t - 4.0 / 29.0);
}

}  // namespace

uint8_t LinearToSrgbByte(float value) {
  return SrgbByteFromBits(FloatBits(value));
}

void ReduceSamples(const uint8_t* in, uint32_t count, uint32_t sample_size,
                   uint8_t* out) {
  if (sample_size == 1) {
    memmove(out, in, count);
  } else if (sample_size == 2) {
    TakeHighBytes(in, count, out);
  } else {
    for (uint32_t i = 0; i < count; ++i) {
      const uint8_t* s = in + 4 * i;
      const uint32_t bits = (static_cast<uint32_t>(s[0]) << 24) |
                            (static_cast<uint32_t>(s[1]) << 16) |
                            (static_cast<uint32_t>(s[2]) << 8) | s[3];
      out[i] = SrgbByteFromBits(bits);
    }
  }
}

void LabToBgr(uint8_t l, uint8_t a, uint8_t b, uint8_t* bgr) {
  const double lightness = l * (100.0 / 255.0);
  const double fy = (lightness + 16.0) / 116.0;
  const double fx = fy + (a - 128.0) / 500.0;
  const double fz = fy - (b - 128.0) / 200.0;
  // D50 white point.
  const double x = 0.96422 * InverseLabCurve(fx);
  const double y = InverseLabCurve(fy);
  const double z = 0.82521 * InverseLabCurve(fz);
  // XYZ (D50) to linear sRGB, Bradford-adapted.
  const double r = 3.1338561 * x - 1.6168667 * y - 0.4906146 * z;
  const double g = -0.9787684 * x + 1.9161415 * y + 0.0334540 * z;
  const double bl = 0.0719453 * x - 0.2289914 * y + 1.4052427 * z;
  bgr[0] = LinearToSrgbByte(static_cast<float>(bl));
  bgr[1] = LinearToSrgbByte(static_cast<float>(g));
  bgr[2] = LinearToSrgbByte(static_cast<float>(r));
}

}  // namespace engine
