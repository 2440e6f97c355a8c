// The host's side of the file system: whole files read and written, folders
// made, sizes looked up, list files of document names, and the document as
// the viewer passes it to a plug-in (by name or as a memory image).
#pragma once

#include <stddef.h>
#include <stdint.h>

#include <string>
#include <utility>
#include <vector>

#include "host/plugin_api.h"

bool FileExists(const std::string& path);

// Size of a file, or -1 when there is none.
long long FileSize(const std::string& path);

// These say on standard error why they failed.
bool ReadWholeFile(const std::string& path, std::vector<uint8_t>* data);
bool WriteWholeFile(
    const std::string& path,
    const std::vector<std::pair<const uint8_t*, size_t>>& parts);
// An existing folder is fine.
bool MakeDirectory(const std::string& path);

// Appends the lines of a list file (LF or CR LF, empty lines skipped).
bool ReadFileList(const std::string& path, std::vector<std::string>* out);

bool StderrIsTerminal();

// A file name as the plug-in's wide entry points receive it: converted the
// way the plug-in itself converts a narrow name.
std::basic_string<WCHAR> WideName(const std::string& name);

// The document as the viewer passes it: a file name (input mode 0) or the
// whole file in memory (input mode 1).
struct Source {
  std::string path;
  std::vector<uint8_t> bytes;
  bool memory = false;

  // Reads the file for a memory image, or checks that it exists.
  bool Load(const std::string& file, bool in_memory);
  LPCSTR source() const {
    return memory ? reinterpret_cast<LPCSTR>(bytes.data()) : path.c_str();
  }
  intptr_t size() const {
    return memory ? static_cast<intptr_t>(bytes.size()) : 0;
  }
  uint32_t mode() const { return memory ? kInputMemory : kInputFile; }
  const char* label() const { return memory ? " (memory)" : ""; }
};
