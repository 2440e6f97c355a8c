// A gradient's stops and the value between them, shared by gradient fills,
// gradient effects and the gradient map adjustment.
#pragma once

#include <stdint.h>

namespace engine {

const uint32_t kMaxStops = 256;

struct GradientStop {
  int64_t location;  // 0..4096, 16.16
  int64_t midpoint;  // 0..100, 16.16
  double value[3];   // colour in the gradient's space, or opacity in [0]
};

// Stops in order of location.
struct StopList {
  GradientStop stops[kMaxStops];
  uint32_t count;
};

// The value of channel `c` at position t (0..4096, 16.16) between the
// stops; each stop's midpoint says where between it and the stop before it
// the mean of the two lies. `smooth` (0..1, the gradient's smoothness) eases
// the linear blend towards a curve through the stops whose slope runs on
// through each inner stop, held within each span's two values.
double StopValue(const StopList& list, int64_t t, int c, double smooth);

}  // namespace engine
