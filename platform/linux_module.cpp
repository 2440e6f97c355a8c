// The module: the path of the executable or shared object the platform layer
// was linked into, found through the dynamic linker, and the attach and
// detach notifications DllMain receives when that binary is loaded and
// unloaded. The plug-ins link the whole layer; a program that links it as a
// static library gets the notifications with GetModuleFileNameA, which
// brings this file in.

#include <dlfcn.h>
#include <limits.h>
#include <link.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include "platform/linux_internal.h"
#include "platform/win32_api.h"

using linux_platform::SetError;

namespace {

// The address of this object identifies the binary the platform layer was
// linked into.
const char module_anchor = 0;

DWORD CopyPath(const char* path, LPSTR buffer, DWORD size) {
  size_t length = strlen(path);
  if (size == 0) {
    SetError(ERROR_INSUFFICIENT_BUFFER);
    return 0;
  }
  if (length >= size) {
    memcpy(buffer, path, size - 1);
    buffer[size - 1] = '\0';
    SetError(ERROR_INSUFFICIENT_BUFFER);
    return size;
  }
  memcpy(buffer, path, length + 1);
  SetError(ERROR_SUCCESS);
  return static_cast<DWORD>(length);
}

__attribute__((constructor)) void AttachModule() {
  DllMain(reinterpret_cast<HINSTANCE>(const_cast<char*>(&module_anchor)),
          DLL_PROCESS_ATTACH, nullptr);
}

__attribute__((destructor)) void DetachModule() {
  DllMain(reinterpret_cast<HINSTANCE>(const_cast<char*>(&module_anchor)),
          DLL_PROCESS_DETACH, nullptr);
}

}  // namespace

extern "C" DWORD GetModuleFileNameA(HMODULE module, LPSTR path, DWORD size) {
  char resolved[PATH_MAX];
  if (module != nullptr) {
    Dl_info info;
    struct link_map* map = nullptr;
    if (dladdr1(module, &info, reinterpret_cast<void**>(&map),
                RTLD_DL_LINKMAP) == 0 ||
        map == nullptr) {
      SetError(ERROR_INVALID_HANDLE);
      if (size > 0) path[0] = '\0';
      return 0;
    }
    // The main program has an empty name in the link map.
    if (map->l_name != nullptr && map->l_name[0] != '\0') {
      if (realpath(map->l_name, resolved) == nullptr) {
        return CopyPath(map->l_name, path, size);
      }
      return CopyPath(resolved, path, size);
    }
  }
  ssize_t length = readlink("/proc/self/exe", resolved, sizeof resolved - 1);
  if (length < 0) {
    SetError(ERROR_INVALID_HANDLE);
    if (size > 0) path[0] = '\0';
    return 0;
  }
  resolved[length] = '\0';
  return CopyPath(resolved, path, size);
}
