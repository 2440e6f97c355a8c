// Work split into parts that run at once: part 0 on the calling thread, the
// others on threads started for the call and joined before it returns. No
// thread outlives the call; a part whose thread cannot be started runs on
// the calling thread after part 0, so the work is done either way.
#pragma once

#include <stdint.h>

#include "engine/base/status.h"

namespace engine {

// Runs `part(context, k)` for k in [0, count).
using PartFunction = void (*)(void* context, uint32_t part);
void RunParts(uint32_t count, PartFunction part, void* context);

// How many parts `pixels` pixels of work (of `rows` rows, which are what is
// split) are worth: one per processor the process may run on, at most
// kLimits.max_threads, and none smaller than kLimits.pixels_per_thread.
uint32_t PartsFor(uint64_t pixels, uint32_t rows);

// What the parts of a split request gave: the first failure in part order,
// else kDone.
inline Status FirstFailure(const Status* status, uint32_t count) {
  for (uint32_t k = 0; k < count; ++k) {
    if (status[k] != kDone) return status[k];
  }
  return kDone;
}

// Rows [first, end) of part k of `count` over `rows` rows.
struct RowBand {
  uint32_t first;
  uint32_t end;
};
RowBand BandOf(uint32_t rows, uint32_t count, uint32_t k);

// The benchmarks and tests compare one thread with many: a count above 0
// gives every request that many threads, whatever its size (0: as many as
// processors and the work is worth).
void HoldThreadsTo(uint32_t count);

}  // namespace engine
