// Working memory from the process heap.
#include "engine/base/memory.h"

#include "platform/win32_api.h"

namespace engine {
namespace {

void* TakeFrom(HANDLE heap, uint64_t bytes, DWORD flags) {
  if (bytes == 0) bytes = 1;
  if (heap == nullptr ||
      bytes > static_cast<uint64_t>(static_cast<SIZE_T>(-1) / 2)) {
    return nullptr;
  }
  return HeapAlloc(heap, flags, static_cast<SIZE_T>(bytes));
}

void* Take(uint64_t bytes, DWORD flags) {
  return TakeFrom(GetProcessHeap(), bytes, flags);
}

HANDLE kept_heap = nullptr;

// The kept heap; two requests creating it at once keep the first one's.
HANDLE KeptHeap() {
  HANDLE heap = __atomic_load_n(&kept_heap, __ATOMIC_ACQUIRE);
  if (heap != nullptr) return heap;
  HANDLE created = HeapCreate(0, 0, 0);
  if (created == nullptr) return nullptr;
  HANDLE expected = nullptr;
  if (__atomic_compare_exchange_n(&kept_heap, &expected, created, false,
                                  __ATOMIC_ACQ_REL, __ATOMIC_ACQUIRE)) {
    return created;
  }
  HeapDestroy(created);
  return expected;
}

}  // namespace

void* AllocateKept(uint64_t bytes) { return TakeFrom(KeptHeap(), bytes, 0); }

void ReleaseKept(void* block) {
  // A kept block exists only while its heap does: never create one here.
  HANDLE heap = __atomic_load_n(&kept_heap, __ATOMIC_ACQUIRE);
  if (block != nullptr && heap != nullptr) HeapFree(heap, 0, block);
}

void ReleaseKeptHeap() {
  HANDLE heap = __atomic_exchange_n(&kept_heap, nullptr, __ATOMIC_ACQ_REL);
  if (heap != nullptr) HeapDestroy(heap);
}

void* Allocate(uint64_t bytes) { return Take(bytes, 0); }

void* AllocateZeroed(uint64_t bytes) { return Take(bytes, HEAP_ZERO_MEMORY); }

void Release(void* block) {
  if (block != nullptr) HeapFree(GetProcessHeap(), 0, block);
}

}  // namespace engine
