// about and probe: the identity strings and the format check that every
// plug-in answers, whatever its interface.
#include <errno.h>
#include <stdio.h>
#include <string.h>

#include <string>
#include <vector>

#include "host/commands.h"
#include "host/host_files.h"

namespace {

// A wide identity string as UTF-8, control characters and backslashes
// escaped.
std::string ShownWide(const WCHAR* buffer, size_t units) {
  std::vector<uint16_t> copy(units);
  memcpy(copy.data(), buffer, units * sizeof(uint16_t));
  std::string text = Utf8FromUtf16(copy.data(), units);
  std::string shown;
  for (char c : text) {
    if (static_cast<unsigned char>(c) < 0x20 || c == '\\') {
      shown += EscapeBytes(&c, 1);
    } else {
      shown.push_back(c);
    }
  }
  return shown;
}

// The first 2048 bytes of a file; a short file leaves zeros behind its
// bytes.
bool ReadHead(const std::string& path, std::vector<uint8_t>* head) {
  FILE* file = OpenFile(path, "rb");
  if (file == nullptr) {
    Error(path + ": cannot open (" + strerror(errno) + ")");
    return false;
  }
  head->assign(2048, 0);
  size_t got = fread(head->data(), 1, head->size(), file);
  (void)got;
  fclose(file);
  return true;
}

// Both probes of one file: with its head in memory and with an open
// handle. Prints the line, or says why there is none. A name outside the
// ANSI code page reaches the narrow calls only with --memory, and then as
// no name at all: they judge the bytes alone.
int ProbeFile(IsSupportedFn is_supported, IsSupportedWFn is_supported_w,
              const std::string& path, bool bytes_alone) {
  std::string ansi;
  bool exact = AnsiName(path, &ansi);
  if (!exact && !bytes_alone) {
    NotAnsiError(path, "--memory probes by the bytes alone");
    return 1;
  }
  LPCSTR narrow = exact ? ansi.c_str() : nullptr;
  std::vector<uint8_t> head;
  if (!ReadHead(path, &head)) return 1;
  std::basic_string<WCHAR> wide = WideName(path);
  uintptr_t memory = reinterpret_cast<uintptr_t>(head.data());
  int32_t memory_a = is_supported(narrow, memory);
  int32_t memory_w = is_supported_w(wide.c_str(), memory);

  ReadHandle handle(path);
  if (!handle.opened()) {
    Error(path + ": cannot open a handle");
    return 1;
  }
  int status = 0;
  int32_t handle_a = -1;
  int32_t handle_w = -1;
  if (handle.value() >= 0x10000) {
    Error(path + ": the file handle is too large to pass as a handle");
    status = 1;
  } else {
    handle_a = is_supported(narrow, handle.value());
    handle.Rewind();
    handle_w = is_supported_w(wide.c_str(), handle.value());
  }
  printf(
      "%s: IsSupported memory %d handle %d, IsSupportedW memory %d "
      "handle %d\n",
      path.c_str(), memory_a, handle_a, memory_w, handle_w);
  return status;
}

}  // namespace

int CommandAbout(const Plugin& plugin, const Arguments& args) {
  if (!args.positional.empty()) {
    Error("about takes no arguments besides the plug-in");
    return 2;
  }
  GetPluginInfoFn get_info = nullptr;
  GetPluginInfoWFn get_info_w = nullptr;
  if (!Export(plugin, "GetPluginInfo", &get_info) ||
      !Export(plugin, "GetPluginInfoW", &get_info_w)) {
    return 2;
  }
  // The interface code, the notice and two pattern pairs (.psd, .psb); the
  // index after them is the first that must be empty.
  const int32_t kLastIndex = 6;
  for (int32_t index = 0; index <= kLastIndex; ++index) {
    char buffer[256];
    memset(buffer, 0, sizeof(buffer));
    int32_t length = get_info(index, buffer, sizeof(buffer));
    printf("GetPluginInfo %d: \"%s\" (%d)\n", index,
           EscapeBytes(buffer, sizeof(buffer)).c_str(), length);
  }
  for (int32_t index = 0; index <= kLastIndex; ++index) {
    WCHAR buffer[256];
    memset(buffer, 0, sizeof(buffer));
    int32_t length = get_info_w(index, buffer, 256);
    printf("GetPluginInfoW %d: \"%s\" (%d)\n", index,
           ShownWide(buffer, 256).c_str(), length);
  }
  return 0;
}

int CommandProbe(const Plugin& plugin, const Arguments& args) {
  IsSupportedFn is_supported = nullptr;
  IsSupportedWFn is_supported_w = nullptr;
  if (!Export(plugin, "IsSupported", &is_supported) ||
      !Export(plugin, "IsSupportedW", &is_supported_w)) {
    return 2;
  }
  return ForEachFile(args, "probe", [&](const std::string& path) {
    return ProbeFile(is_supported, is_supported_w, path, args.memory) == 0;
  });
}
