// Memory: fixed local blocks and the process heap, both with a size header,
// the live-block accounting the tests read, and the allocation fault they can
// inject.

#include <stdlib.h>
#include <string.h>

#include <atomic>

#include "platform/accounting.h"
#include "platform/linux_internal.h"
#include "platform/win32_api.h"

using linux_platform::SetError;

namespace {

// ---------------------------------------------------------------------------
// Accounting

std::atomic<int64_t> live_local_blocks{0};
std::atomic<int64_t> live_heap_blocks{0};
std::atomic<int64_t> fail_countdown{0};

// True when this allocation is the one PlatformFailAllocation chose.
bool AllocationShouldFail() {
  int64_t left = fail_countdown.load();
  while (left > 0) {
    if (fail_countdown.compare_exchange_weak(left, left - 1)) {
      return left == 1;
    }
  }
  return false;
}

// ---------------------------------------------------------------------------
// Blocks: a 16-byte header holding the requested size sits in front of the
// address handed out, which keeps the block 16-byte aligned.

constexpr size_t kHeaderBytes = 16;
// Requests above this are refused like a request the system cannot satisfy;
// a 64-bit Windows process could not commit more either.
constexpr size_t kLargestBlock = size_t{1} << 40;

void* AllocateBlock(SIZE_T bytes, bool zero) {
  if (AllocationShouldFail() || bytes > kLargestBlock ||
      bytes > SIZE_MAX - kHeaderBytes) {
    SetError(ERROR_NOT_ENOUGH_MEMORY);
    return nullptr;
  }
  unsigned char* base = static_cast<unsigned char*>(
      zero ? calloc(1, bytes + kHeaderBytes) : malloc(bytes + kHeaderBytes));
  if (base == nullptr) {
    SetError(ERROR_NOT_ENOUGH_MEMORY);
    return nullptr;
  }
  memcpy(base, &bytes, sizeof bytes);
  return base + kHeaderBytes;
}

unsigned char* BlockBase(void* block) {
  return static_cast<unsigned char*>(block) - kHeaderBytes;
}

SIZE_T BlockSize(void* block) {
  SIZE_T bytes;
  memcpy(&bytes, BlockBase(block), sizeof bytes);
  return bytes;
}

}  // namespace

extern "C" {

// ---------------------------------------------------------------------------
// Accounting

void PlatformGetCounts(PlatformCounts* counts) {
  counts->local_blocks = live_local_blocks.load();
  counts->heap_blocks = live_heap_blocks.load();
  counts->open_files = linux_platform::OpenFileCount();
}

void PlatformFailAllocation(int64_t n) { fail_countdown.store(n < 0 ? 0 : n); }

// ---------------------------------------------------------------------------
// Local memory

HLOCAL LocalAlloc(UINT flags, SIZE_T bytes) {
  void* block = AllocateBlock(bytes, (flags & LMEM_ZEROINIT) != 0);
  if (block != nullptr) live_local_blocks.fetch_add(1);
  return block;
}

LPVOID LocalLock(HLOCAL block) {
  if (block == nullptr) SetError(ERROR_INVALID_HANDLE);
  return block;
}

BOOL LocalUnlock(HLOCAL block) {
  // A fixed block stays valid and at its address after unlocking.
  (void)block;
  return TRUE;
}

SIZE_T LocalSize(HLOCAL block) {
  if (block == nullptr) {
    SetError(ERROR_INVALID_HANDLE);
    return 0;
  }
  return BlockSize(block);
}

HLOCAL LocalFree(HLOCAL block) {
  if (block == nullptr) return nullptr;
  free(BlockBase(block));
  live_local_blocks.fetch_sub(1);
  return nullptr;
}

// ---------------------------------------------------------------------------
// The process heap

HANDLE GetProcessHeap(void) {
  static char heap_anchor;
  return &heap_anchor;
}

// Blocks of the process heap are counted; those of a private heap (kept
// across calls by design) are not.
LPVOID HeapAlloc(HANDLE heap, DWORD flags, SIZE_T bytes) {
  void* block = AllocateBlock(bytes, (flags & HEAP_ZERO_MEMORY) != 0);
  if (block != nullptr && heap == GetProcessHeap()) {
    live_heap_blocks.fetch_add(1);
  }
  return block;
}

BOOL HeapFree(HANDLE heap, DWORD flags, LPVOID block) {
  (void)flags;
  if (block == nullptr) return TRUE;
  free(BlockBase(block));
  if (heap == GetProcessHeap()) live_heap_blocks.fetch_sub(1);
  return TRUE;
}

// A private heap is a handle of its own; its blocks are freed one by one
// before it is destroyed.
HANDLE HeapCreate(DWORD options, SIZE_T initial, SIZE_T maximum) {
  (void)options;
  (void)initial;
  (void)maximum;
  return malloc(1);
}

BOOL HeapDestroy(HANDLE heap) {
  free(heap);
  return TRUE;
}

// Huge requests must come back as NULL under the address sanitizer too, the
// way they do in the plain build, rather than ending the process.
#if defined(__SANITIZE_ADDRESS__)
#define PLATFORM_UNDER_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define PLATFORM_UNDER_ASAN 1
#endif
#endif
#ifdef PLATFORM_UNDER_ASAN
__attribute__((weak)) const char* __asan_default_options() {
  return "allocator_may_return_null=1";
}
#endif

}  // extern "C"
