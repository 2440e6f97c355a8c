#include "host/plugin_loader.h"

#include <string.h>

#if !defined(_WIN32)
#include <dlfcn.h>
#endif

#include "host/host_files.h"
#include "platform/accounting.h"

namespace {

#if defined(_WIN32)
HMODULE Module(const Plugin& plugin) {
  return static_cast<HMODULE>(plugin.module);
}

bool OpenModule(const std::string& path, Plugin* plugin) {
  plugin->module = LoadLibraryW(WideName(path).c_str());
  if (plugin->module == nullptr) {
    Error(path + ": the plug-in does not load (error " +
          std::to_string(GetLastError()) + ")");
    return false;
  }
  plugin->local_free = &LocalFree;
  plugin->local_size = &LocalSize;
  plugin->local_lock = &LocalLock;
  plugin->local_unlock = &LocalUnlock;
  return true;
}
#else
bool OpenModule(const std::string& path, Plugin* plugin) {
  // dlopen searches the library path for a bare name; a plug-in file is
  // always meant relative to the current directory.
  std::string name = path.find('/') == std::string::npos ? "./" + path : path;
  plugin->module = dlopen(name.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (plugin->module == nullptr) {
    const char* why = dlerror();
    Error(path + ": the plug-in does not load (" + (why ? why : "?") + ")");
    return false;
  }
  return Export(*plugin, "LocalFree", &plugin->local_free) &&
         Export(*plugin, "LocalSize", &plugin->local_size) &&
         Export(*plugin, "LocalLock", &plugin->local_lock) &&
         Export(*plugin, "LocalUnlock", &plugin->local_unlock);
}
#endif

}  // namespace

void* RawSymbol(const Plugin& plugin, const char* name) {
#if defined(_WIN32)
  return reinterpret_cast<void*>(GetProcAddress(Module(plugin), name));
#else
  return dlsym(plugin.module, name);
#endif
}

bool LoadPlugin(const std::string& path, Plugin* plugin) {
  plugin->path = path;
  if (!FileExists(path)) {
    Error(path + ": no such plug-in file");
    return false;
  }
  return OpenModule(path, plugin);
}

std::string IdentityString(const Plugin& plugin, int32_t index) {
  GetPluginInfoFn get_info = nullptr;
  if (!Export(plugin, "GetPluginInfo", &get_info)) return std::string();
  char buffer[256];
  memset(buffer, 0, sizeof(buffer));
  get_info(index, buffer, sizeof(buffer));
  buffer[sizeof(buffer) - 1] = 0;
  return buffer;
}

bool CheckInterface(const Plugin& plugin, const char* wanted,
                    const char* command) {
  GetPluginInfoFn get_info = nullptr;
  if (!Export(plugin, "GetPluginInfo", &get_info)) return false;
  std::string code = IdentityString(plugin, 0);
  if (code != wanted) {
    Error(plugin.path + ": interface code \"" +
          EscapeBytes(code.data(), code.size()) + "\", but \"" + command +
          "\" needs a \"" + wanted + "\" plug-in");
    return false;
  }
  return true;
}

int CheckNothingLeftBehind(const Plugin& plugin) {
#if defined(_WIN32)
  (void)plugin;
#else
  // The Linux platform layer counts live blocks and open files: after a
  // command every block handed over has been freed and every file closed.
  typedef void (*GetCountsFn)(PlatformCounts*);
  void* counts_symbol = RawSymbol(plugin, "PlatformGetCounts");
  if (counts_symbol == nullptr) return 0;
  PlatformCounts counts = {0, 0, 0};
  reinterpret_cast<GetCountsFn>(counts_symbol)(&counts);
  if (counts.local_blocks != 0 || counts.heap_blocks != 0 ||
      counts.open_files != 0) {
    Error("left behind: " + std::to_string(counts.local_blocks) +
          " local blocks, " + std::to_string(counts.heap_blocks) +
          " heap blocks, " + std::to_string(counts.open_files) + " open files");
    return 3;
  }
#endif
  return 0;
}
