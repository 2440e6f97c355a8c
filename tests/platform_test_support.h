// Helpers shared by the platform layer's tests.
#pragma once

#include "platform/accounting.h"

namespace platformtest {

// The platform layer's counts of blocks and open files.
inline PlatformCounts Counts() {
  PlatformCounts counts;
  PlatformGetCounts(&counts);
  return counts;
}

}  // namespace platformtest
