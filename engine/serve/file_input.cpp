// Reads at an offset of the file (OVERLAPPED on a synchronous handle: the
// read is at that offset whatever another reader does, so readers on other
// threads may share the handle).
#include "engine/serve/file_input.h"

#include <string.h>

namespace engine {
namespace {

bool ReadFileAt(void* file, uint64_t offset, uint8_t* out, uint32_t bytes,
                uint32_t* got) {
  OVERLAPPED at;
  memset(&at, 0, sizeof(at));
  at.Offset = static_cast<DWORD>(offset);
  at.OffsetHigh = static_cast<DWORD>(offset >> 32);
  DWORD read = 0;
  const BOOL ok = ReadFile(static_cast<HANDLE>(file), out, bytes, &read, &at);
  *got = read;
  // Reading at or past the end is no fault: nothing arrives.
  return ok != FALSE || GetLastError() == ERROR_HANDLE_EOF;
}

}  // namespace

Status OpenFileSource(const WCHAR* name, Source* source) {
  memset(source, 0, sizeof(*source));
  HANDLE file =
      CreateFileW(name, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                  nullptr, OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
  if (file == INVALID_HANDLE_VALUE) return kUnreadable;
  DWORD high = 0;
  const DWORD low = GetFileSize(file, &high);
  source->size = (static_cast<uint64_t>(high) << 32) | low;
  source->file = file;
  source->read_at = ReadFileAt;
  return kDone;
}

void CloseFileSource(Source* source) {
  if (source->file != nullptr) CloseHandle(static_cast<HANDLE>(source->file));
  source->file = nullptr;
}

}  // namespace engine
