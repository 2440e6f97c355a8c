// The value between a gradient's stops: linear between two stops, eased
// by the gradient's smoothness towards a curve (a cubic on each span) whose
// slope at an inner stop is the rise from the stop before it to the stop
// after it over their distance, and at the first and last stop half the
// slope of the span beside it; the curve is held within the span's two
// values. Between two stops alone the curve is half a smooth step, as the
// application draws a gradient of 100% smoothness.
#include "engine/compose/layer/gradient_stops.h"

namespace engine {
namespace {

// The slope (value per unit of location) the smooth curve takes at stop k.
double StopSlope(const StopList& list, uint32_t k, int c) {
  const GradientStop* s = list.stops;
  const uint32_t last = list.count - 1;
  const uint32_t from = k == 0 ? 0 : k - 1;
  const uint32_t to = k == last ? last : k + 1;
  const int64_t span = s[to].location - s[from].location;
  if (span <= 0) return 0;
  const double slope = (s[to].value[c] - s[from].value[c]) / span;
  return k == 0 || k == last ? 0.5 * slope : slope;
}

}  // namespace

double StopValue(const StopList& list, int64_t t, int c, double smooth) {
  const GradientStop* s = list.stops;
  if (t <= s[0].location) return s[0].value[c];
  for (uint32_t k = 1; k < list.count; ++k) {
    if (t > s[k].location) continue;
    const int64_t span = s[k].location - s[k - 1].location;
    if (span <= 0) return s[k].value[c];
    double p = static_cast<double>(t - s[k - 1].location) / span;
    double m = static_cast<double>(s[k].midpoint) / (100 << 16);
    if (m < 0.01) m = 0.01;
    if (m > 0.99) m = 0.99;
    p = p <= m ? 0.5 * p / m : 0.5 + 0.5 * (p - m) / (1 - m);
    const double v0 = s[k - 1].value[c], v1 = s[k].value[c];
    const double linear = v0 + (v1 - v0) * p;
    if (smooth <= 0) return linear;
    const double t0 = StopSlope(list, k - 1, c) * span;
    const double t1 = StopSlope(list, k, c) * span;
    const double q = p * p, r = q * p;
    double curve = (2 * r - 3 * q + 1) * v0 + (r - 2 * q + p) * t0 +
                   (3 * q - 2 * r) * v1 + (r - q) * t1;
    const double low = v0 < v1 ? v0 : v1, high = v0 < v1 ? v1 : v0;
    curve = curve < low ? low : curve > high ? high : curve;
    return linear + smooth * (curve - linear);
  }
  return s[list.count - 1].value[c];
}

}  // namespace engine
