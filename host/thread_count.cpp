// The threads of this process, counted before the first call into a
// plug-in and after each: a plug-in that decodes on threads of its own must
// have joined every one of them before the call returns.
#include "host/thread_count.h"

#include <stdio.h>

#if defined(_WIN32)
#include <windows.h>
// windows.h first: the snapshot declarations need its types.
#include <tlhelp32.h>
#else
#include <dirent.h>
#endif

namespace {

int baseline = -1;

int ThreadCount() {
  int count = 0;
#if defined(_WIN32)
  HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
  if (snapshot == INVALID_HANDLE_VALUE) return -1;
  THREADENTRY32 entry;
  entry.dwSize = sizeof(entry);
  const DWORD self = GetCurrentProcessId();
  for (BOOL more = Thread32First(snapshot, &entry); more;
       more = Thread32Next(snapshot, &entry)) {
    if (entry.th32OwnerProcessID == self) ++count;
  }
  CloseHandle(snapshot);
#else
  DIR* tasks = opendir("/proc/self/task");
  if (tasks == nullptr) return -1;
  while (const dirent* e = readdir(tasks)) {
    if (e->d_name[0] != '.') ++count;
  }
  closedir(tasks);
#endif
  return count;
}

}  // namespace

void NoteThreadsBefore() {
  if (baseline < 0) baseline = ThreadCount();
}

bool NoThreadLeft(const char* call, uint64_t picture_bytes) {
#if defined(_WIN32)
  // Smaller pictures are decoded on the calling thread alone.
  if (picture_bytes < (256u << 10)) return true;
#else
  (void)picture_bytes;
#endif
  const int after = ThreadCount();
  if (baseline < 0 || after <= baseline) return true;
  fprintf(stderr, "psdhost: %d threads of the plug-in still run after %s\n",
          after - baseline, call);
  return false;
}
