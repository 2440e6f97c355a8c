// The log file and the module handle that names it.
#include <string.h>

#include "common/log.h"
#include "platform/win32_api.h"

namespace {

HINSTANCE g_module;

}  // namespace

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
  if (reason == DLL_PROCESS_ATTACH) g_module = instance;
  return TRUE;
}

bool AppendToLog(const char* bytes, uint32_t length) {
  // Room for 259 characters of module path, ".LOG" and the terminator.
  char path[264];
  path[0] = 0;
  GetModuleFileNameA(g_module, path, 260);
  path[259] = 0;
  memcpy(path + strlen(path), ".LOG", 5);

  // Share mode 0: no other writer holds the file while these lines are
  // written, so lines of concurrent requests never mix.
  HANDLE file = CreateFileA(path, GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  SetFilePointer(file, 0, nullptr, FILE_END);
  DWORD written = 0;
  WriteFile(file, bytes, length, &written, nullptr);
  CloseHandle(file);
  return true;
}
