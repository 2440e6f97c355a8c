// The engine's working memory: every block the engine uses for itself (not
// the blocks handed to the host) comes from here and goes back here.
#pragma once

#include <stdint.h>

namespace engine {

// A block of `bytes` bytes (at least one), or null when it cannot be had or
// does not fit in this process's address range.
void* Allocate(uint64_t bytes);
// The same, every byte 0.
void* AllocateZeroed(uint64_t bytes);
// Gives a block back; null is ignored.
void Release(void* block);

// Blocks that outlive a request (what is kept for the next one) come from
// a heap of their own, created on first use; ReleaseKeptHeap gives it back
// when the module is unloaded, after every kept block was released.
void* AllocateKept(uint64_t bytes);
void ReleaseKept(void* block);
void ReleaseKeptHeap();

// An array of `count` elements (uninitialised, or zeroed).
template <class T>
T* AllocateArray(uint64_t count) {
  const uint64_t limit = ~static_cast<uint64_t>(0) / sizeof(T);
  return count > limit ? nullptr : static_cast<T*>(Allocate(count * sizeof(T)));
}
template <class T>
T* AllocateZeroedArray(uint64_t count) {
  const uint64_t limit = ~static_cast<uint64_t>(0) / sizeof(T);
  return count > limit ? nullptr
                       : static_cast<T*>(AllocateZeroed(count * sizeof(T)));
}

}  // namespace engine
