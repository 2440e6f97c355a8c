// A shared object built like a plug-in (platform layer linked in, its own
// DllMain) so the tests can check what the attach notification hands it.

#include "platform_attach.h"

// The module's own path as its log writer would learn it; the number of
// attach notifications through `calls`.
extern "C" __attribute__((visibility("default"))) DWORD ModulePath(
    LPSTR buffer, DWORD size, DWORD* calls) {
  *calls = attach_calls;
  return GetModuleFileNameA(attached_handle, buffer, size);
}
