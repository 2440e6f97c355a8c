// Threads on pthreads. A thread's handle is the address of its record; the
// records live in a short list, so that CloseHandle can tell a thread's
// handle from a file's (a small descriptor number) without guessing.
#include <pthread.h>
#include <sched.h>
#include <stdlib.h>
#include <unistd.h>

#include "platform/linux_internal.h"
#include "platform/win32_api.h"

using linux_platform::SetError;

namespace {

struct ThreadRecord {
  pthread_t thread;
  LPTHREAD_START_ROUTINE start;
  LPVOID parameter;
  bool joined;
  ThreadRecord* next;
};

pthread_mutex_t records_lock = PTHREAD_MUTEX_INITIALIZER;
ThreadRecord* records = nullptr;

void* RunThread(void* argument) {
  ThreadRecord* record = static_cast<ThreadRecord*>(argument);
  record->start(record->parameter);
  return nullptr;
}

// Takes `object` off the list when it is a live thread record.
ThreadRecord* FindRecord(HANDLE object, bool unlink) {
  pthread_mutex_lock(&records_lock);
  ThreadRecord** at = &records;
  while (*at != nullptr && *at != object) at = &(*at)->next;
  ThreadRecord* found = *at;
  if (found != nullptr && unlink) *at = found->next;
  pthread_mutex_unlock(&records_lock);
  return found;
}

}  // namespace

bool linux_platform::CloseThreadHandle(HANDLE object) {
  ThreadRecord* record = FindRecord(object, true);
  if (record == nullptr) return false;
  // A thread still running goes on without its handle, as on Windows.
  if (!record->joined) pthread_detach(record->thread);
  free(record);
  return true;
}

extern "C" {

HANDLE CreateThread(void* /*security*/, SIZE_T /*stack*/,
                    LPTHREAD_START_ROUTINE start, LPVOID parameter,
                    DWORD /*flags*/, LPDWORD id) {
  ThreadRecord* record =
      static_cast<ThreadRecord*>(calloc(1, sizeof(ThreadRecord)));
  if (record == nullptr) {
    SetError(ERROR_NOT_ENOUGH_MEMORY);
    return nullptr;
  }
  record->start = start;
  record->parameter = parameter;
  pthread_mutex_lock(&records_lock);
  record->next = records;
  records = record;
  pthread_mutex_unlock(&records_lock);
  if (pthread_create(&record->thread, nullptr, RunThread, record) != 0) {
    FindRecord(record, true);
    free(record);
    SetError(ERROR_NOT_ENOUGH_MEMORY);
    return nullptr;
  }
  if (id != nullptr) *id = 0;
  return record;
}

DWORD WaitForSingleObject(HANDLE object, DWORD milliseconds) {
  ThreadRecord* record = FindRecord(object, false);
  if (record == nullptr || milliseconds != INFINITE) {
    SetError(ERROR_INVALID_PARAMETER);
    return WAIT_FAILED;
  }
  if (!record->joined) {
    pthread_join(record->thread, nullptr);
    record->joined = true;
  }
  return WAIT_OBJECT_0;
}

void GetSystemInfo(LPSYSTEM_INFO info) {
  *info = SYSTEM_INFO();
  const long count = sysconf(_SC_NPROCESSORS_ONLN);
  info->dwNumberOfProcessors = count > 0 ? static_cast<DWORD>(count) : 1;
  info->dwPageSize = 4096;
}

HANDLE GetCurrentProcess(void) {
  return reinterpret_cast<HANDLE>(static_cast<intptr_t>(-1));
}

BOOL GetProcessAffinityMask(HANDLE /*process*/, DWORD_PTR* process_mask,
                            DWORD_PTR* system_mask) {
  cpu_set_t set;
  CPU_ZERO(&set);
  if (sched_getaffinity(0, sizeof(set), &set) != 0) return FALSE;
  DWORD_PTR mask = 0;
  for (unsigned k = 0; k < 8 * sizeof(DWORD_PTR) && k < CPU_SETSIZE; ++k) {
    if (CPU_ISSET(k, &set)) mask |= DWORD_PTR{1} << k;
  }
  *process_mask = mask;
  *system_mask = mask;
  return TRUE;
}

}  // extern "C"
