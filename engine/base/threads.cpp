#include "engine/base/threads.h"

#include "engine/base/limits.h"
#include "platform/win32_api.h"

namespace engine {
namespace {

uint32_t held_threads = 0;  // read and written with atomics

struct PartCall {
  PartFunction part;
  void* context;
  uint32_t k;
};

DWORD WINAPI RunPart(LPVOID argument) {
  const PartCall* call = static_cast<const PartCall*>(argument);
  call->part(call->context, call->k);
  return 0;
}

uint32_t CountBits(uint64_t mask) {
  uint32_t n = 0;
  for (; mask != 0; mask &= mask - 1) ++n;
  return n;
}

// Processors this process may run on.
uint32_t Processors() {
  SYSTEM_INFO info;
  GetSystemInfo(&info);
  uint32_t count = info.dwNumberOfProcessors;
  DWORD_PTR mine = 0, system = 0;
  if (GetProcessAffinityMask(GetCurrentProcess(), &mine, &system) &&
      mine != 0) {
    const uint32_t allowed = CountBits(mine);
    if (allowed < count) count = allowed;
  }
  return count == 0 ? 1 : count;
}

}  // namespace

void HoldThreadsTo(uint32_t count) {
  __atomic_store_n(&held_threads, count, __ATOMIC_RELAXED);
}

uint32_t PartsFor(uint64_t pixels, uint32_t rows) {
  // A held count is used whatever the work, so that the tests split even
  // small pictures.
  const uint32_t held = __atomic_load_n(&held_threads, __ATOMIC_RELAXED);
  uint32_t count = held != 0 ? held : Processors();
  if (count > kLimits.max_threads) count = kLimits.max_threads;
  const uint64_t worth = pixels / kLimits.pixels_per_thread;
  if (held == 0 && worth < count) {
    count = worth == 0 ? 1 : static_cast<uint32_t>(worth);
  }
  if (count > rows) count = rows == 0 ? 1 : rows;
  return count;
}

RowBand BandOf(uint32_t rows, uint32_t count, uint32_t k) {
  RowBand band;
  band.first = static_cast<uint32_t>(static_cast<uint64_t>(rows) * k / count);
  band.end =
      static_cast<uint32_t>(static_cast<uint64_t>(rows) * (k + 1) / count);
  return band;
}

void RunParts(uint32_t count, PartFunction part, void* context) {
  PartCall calls[kLimits.max_threads];
  HANDLE threads[kLimits.max_threads];
  const uint32_t started =
      count < kLimits.max_threads ? count : kLimits.max_threads;
  for (uint32_t k = 1; k < started; ++k) {
    calls[k] = PartCall{part, context, k};
    threads[k] = CreateThread(nullptr, 0, RunPart, &calls[k], 0, nullptr);
  }
  part(context, 0);
  for (uint32_t k = 1; k < started; ++k) {
    if (threads[k] == nullptr) {
      part(context, k);
      continue;
    }
    WaitForSingleObject(threads[k], INFINITE);
    CloseHandle(threads[k]);
  }
  for (uint32_t k = started; k < count; ++k) part(context, k);
}

}  // namespace engine
