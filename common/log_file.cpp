// The log file and the module handle that names it.
#include <string.h>

#include "common/log.h"
#include "platform/win32_api.h"

namespace {

HINSTANCE g_module;

// Opens the log exclusively (share mode 0: no other writer holds it while
// lines are written, so lines of concurrent requests never mix) and moves
// to its end; `*size` receives its length.
HANDLE OpenAtEnd(const char* path, uint64_t* size) {
  HANDLE file = CreateFileA(path, GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return file;
  LONG high = 0;
  const DWORD low = SetFilePointer(file, 0, &high, FILE_END);
  *size = (static_cast<uint64_t>(static_cast<uint32_t>(high)) << 32) | low;
  return file;
}

}  // namespace

namespace engine {
void ReleaseKeptConversions();
}

// An unloaded module (not one whose process ends) frees what the engine
// kept between requests.
extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason,
                               LPVOID reserved) {
  if (reason == DLL_PROCESS_ATTACH) g_module = instance;
  if (reason == DLL_PROCESS_DETACH && reserved == nullptr) {
    engine::ReleaseKeptConversions();
  }
  return TRUE;
}

bool AppendToLog(const char* bytes, uint32_t length) {
  // Room for 259 characters of module path, ".LOG", ".1" and the
  // terminator.
  char path[268];
  path[0] = 0;
  GetModuleFileNameA(g_module, path, 260);
  path[259] = 0;
  memcpy(path + strlen(path), ".LOG", 5);

  uint64_t size = 0;
  HANDLE file = OpenAtEnd(path, &size);
  if (file == INVALID_HANDLE_VALUE) return false;
  if (size != 0 && size + length > kLogFileCap) {
    // A full log becomes the older one and a new one starts. Should another
    // writer hold it meanwhile, the lines go on where it is, up to twice
    // the cap; past that they are lost.
    CloseHandle(file);
    char older[sizeof(path)];
    memcpy(older, path, sizeof(path));
    memcpy(older + strlen(older), ".1", 3);
    MoveFileExA(path, older, MOVEFILE_REPLACE_EXISTING);
    file = OpenAtEnd(path, &size);
    if (file == INVALID_HANDLE_VALUE) return false;
    if (size + length > 2ull * kLogFileCap) {
      CloseHandle(file);
      return false;
    }
  }
  DWORD written = 0;
  WriteFile(file, bytes, length, &written, nullptr);
  CloseHandle(file);
  return true;
}
