// A plug-in loaded the way the viewer loads it: the module, its exports
// looked up by name, the interface code a command needs, and the blocks it
// hands over, freed with the block functions that go with it.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include <string>

#include "host/plugin_api.h"
#include "host/text.h"

// A loaded plug-in and the block functions that go with it: the plug-in's
// own exports on Linux, kernel32's on Windows.
struct Plugin {
  std::string path;
  void* module = nullptr;  // an HMODULE on Windows, a dlopen handle on Linux
  LocalFreeFn local_free = nullptr;
  LocalSizeFn local_size = nullptr;
  LocalLockFn local_lock = nullptr;
  LocalUnlockFn local_unlock = nullptr;
};

// Loads the plug-in file; says why on standard error when it cannot. The
// plug-in stays loaded until the process ends, as in the viewer.
bool LoadPlugin(const std::string& path, Plugin* plugin);

// The address of an export, or null.
void* RawSymbol(const Plugin& plugin, const char* name);

// Looks up an export as a function; says so when it is missing.
template <typename Fn>
bool Export(const Plugin& plugin, const char* name, Fn* fn) {
  void* symbol = RawSymbol(plugin, name);
  if (symbol == nullptr) {
    Error(plugin.path + ": missing export " + name);
    return false;
  }
  *fn = reinterpret_cast<Fn>(symbol);
  return true;
}

// Identity string `index` from GetPluginInfo ("" without the export).
std::string IdentityString(const Plugin& plugin, int32_t index);

// Checks the interface code the command needs, saying why it is wrong.
bool CheckInterface(const Plugin& plugin, const char* wanted,
                    const char* command);

// 3 when the plug-in's Linux platform layer still counts live blocks or
// open files (saying which), otherwise 0. Always 0 on Windows.
int CheckNothingLeftBehind(const Plugin& plugin);

// A block the plug-in handed over; freed with the plug-in's LocalFree.
class Block {
 public:
  explicit Block(const Plugin& plugin) : plugin_(plugin) {}
  ~Block() { Free(); }
  Block(const Block&) = delete;
  Block& operator=(const Block&) = delete;

  HLOCAL* slot() { return &handle_; }
  bool empty() const { return handle_ == nullptr; }
  size_t size() const {
    return handle_ == nullptr
               ? 0
               : static_cast<size_t>(plugin_.local_size(handle_));
  }
  // The block's bytes between LocalLock and Unlock().
  const uint8_t* Lock() {
    return static_cast<const uint8_t*>(plugin_.local_lock(handle_));
  }
  void Unlock() { plugin_.local_unlock(handle_); }
  void Free() {
    if (handle_ != nullptr) plugin_.local_free(handle_);
    handle_ = nullptr;
  }

 private:
  const Plugin& plugin_;
  HLOCAL handle_ = nullptr;
};
