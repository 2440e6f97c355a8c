// Working memory from the process heap.
#include "engine/base/memory.h"

#include "platform/win32_api.h"

namespace engine {
namespace {

void* Take(uint64_t bytes, DWORD flags) {
  if (bytes == 0) bytes = 1;
  if (bytes > static_cast<uint64_t>(static_cast<SIZE_T>(-1) / 2)) {
    return nullptr;
  }
  return HeapAlloc(GetProcessHeap(), flags, static_cast<SIZE_T>(bytes));
}

}  // namespace

void* Allocate(uint64_t bytes) { return Take(bytes, 0); }

void* AllocateZeroed(uint64_t bytes) { return Take(bytes, HEAP_ZERO_MEMORY); }

void Release(void* block) {
  if (block != nullptr) HeapFree(GetProcessHeap(), 0, block);
}

}  // namespace engine
