// Block and handle accounting of the Linux platform layer. Tests use it to
// check that every request freed what it owned and closed every file, and to
// make a chosen allocation fail.
#pragma once

#include <stdint.h>

struct PlatformCounts {
  int64_t local_blocks;  // live LocalAlloc blocks
  int64_t heap_blocks;   // live HeapAlloc blocks
  int64_t open_files;    // handles from CreateFileA/W not yet closed
};

extern "C" {
void PlatformGetCounts(PlatformCounts* counts);
// The n-th allocation from now (LocalAlloc or HeapAlloc, counted from 1)
// fails, and every later one succeeds again; 0 switches the fault off.
void PlatformFailAllocation(int64_t n);
}
