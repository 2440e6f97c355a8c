#include "common/log.h"

namespace {

HINSTANCE g_module;

// Length of a NUL-terminated string; the DLLs have no C runtime.
uint32_t TextLength(const char* text) {
  uint32_t n = 0;
  while (text[n] != 0) ++n;
  return n;
}

}  // namespace

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
  if (reason == DLL_PROCESS_ATTACH) g_module = instance;
  return TRUE;
}

void LogMessage(const char* format, ...) {
  // The formatter writes at most 1024 bytes, so the message always fits.
  char message[2048];
  va_list args;
  va_start(args, format);
  wvsprintfA(message, format, args);
  va_end(args);

  // Room for 259 characters of module path, ".LOG" and the terminator.
  char path[264];
  path[0] = 0;
  GetModuleFileNameA(g_module, path, 260);
  path[259] = 0;
  uint32_t end = TextLength(path);
  const char suffix[] = ".LOG";
  for (uint32_t i = 0; i < sizeof(suffix); ++i) path[end + i] = suffix[i];

  SYSTEMTIME now;
  GetLocalTime(&now);

  // Share mode 0: no other writer may hold the file while this line is
  // written; a line that meets the file held by another writer is lost.
  HANDLE file = CreateFileA(path, GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return;
  SetFilePointer(file, 0, nullptr, FILE_END);

  char* stamp = path;  // the path is no longer needed
  wsprintfA(stamp, "%4d-%02d-%02d %02d:%02d:%02d ", now.wYear, now.wMonth,
            now.wDay, now.wHour, now.wMinute, now.wSecond);
  DWORD written = 0;
  WriteFile(file, stamp, TextLength(stamp), &written, nullptr);
  WriteFile(file, message, TextLength(message), &written, nullptr);
  WriteFile(file, "\r\n", 2, &written, nullptr);
  CloseHandle(file);
}
