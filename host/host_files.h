// The host's side of the file system: whole files read and written, folders
// made and entered, sizes looked up, list files of document names, and the
// document as the viewer passes it to a plug-in (by name or as a memory
// image). Every name inside psdhost is UTF-8; on Windows each call here
// converts it to UTF-16 for the wide file calls, so any name opens, whatever
// the ANSI code page.
#pragma once

#include <stddef.h>
#include <stdint.h>
#include <stdio.h>

#include <string>
#include <utility>
#include <vector>

#include "host/plugin_api.h"

bool FileExists(const std::string& path);

// Size of a file, or -1 when there is none.
long long FileSize(const std::string& path);

// fopen with a UTF-8 name.
FILE* OpenFile(const std::string& path, const char* mode);

// These say on standard error why they failed.
bool ReadWholeFile(const std::string& path, std::vector<uint8_t>* data);
bool WriteWholeFile(
    const std::string& path,
    const std::vector<std::pair<const uint8_t*, size_t>>& parts);
// An existing folder is fine.
bool MakeDirectory(const std::string& path);

// Appends the lines of a list file (LF or CR LF, empty lines skipped).
bool ReadFileList(const std::string& path, std::vector<std::string>* out);

// A descriptor of a file made or emptied for writing (binary), or -1.
int OpenDescriptorForWriting(const std::string& path);
bool ChangeDirectory(const std::string& path);

bool StderrIsTerminal();

// A file name as the plug-ins' wide entry points and the wide Windows calls
// receive it: UTF-16.
std::basic_string<WCHAR> WideName(const std::string& name);
// The other way: a UTF-16 name (up to its terminator) as UTF-8.
std::string NameFromWide(const WCHAR* wide);

// A file name as the plug-ins' narrow entry points receive it: in the ANSI
// code page. False when the name has no exact form there (some character
// would be replaced); on Linux the ANSI code page is UTF-8 and every name
// has one.
bool AnsiName(const std::string& name, std::string* ansi);

// An open file whose handle the plug-in receives as a number.
class ReadHandle {
 public:
  explicit ReadHandle(const std::string& path);
  ~ReadHandle();
  ReadHandle(const ReadHandle&) = delete;
  ReadHandle& operator=(const ReadHandle&) = delete;

  bool opened() const { return opened_; }
  uintptr_t value() const { return value_; }
  void Rewind();

 private:
  uintptr_t value_ = 0;  // a HANDLE on Windows, a descriptor on Linux
  bool opened_ = false;
};

// The document as the viewer passes it: a file name (input mode 0) or the
// whole file in memory (input mode 1).
struct Source {
  std::string path;               // as given, UTF-8; what psdhost prints
  std::string ansi;               // the name for the narrow entry points
  std::basic_string<WCHAR> wide;  // the name for the wide ones
  bool ansi_exact = true;         // `ansi` names the file
  std::vector<uint8_t> bytes;
  bool memory = false;

  // Reads the file for a memory image, or checks that it exists.
  bool Load(const std::string& file, bool in_memory);
  // Whether the narrow entry points can be given the document.
  bool narrow_usable() const { return memory || ansi_exact; }
  LPCSTR source() const {
    return memory ? reinterpret_cast<LPCSTR>(bytes.data()) : ansi.c_str();
  }
  LPCWSTR wide_source() const {
    return memory ? reinterpret_cast<LPCWSTR>(bytes.data()) : wide.c_str();
  }
  intptr_t size() const {
    return memory ? static_cast<intptr_t>(bytes.size()) : 0;
  }
  uint32_t mode() const { return memory ? kInputMemory : kInputFile; }
  const char* label() const { return memory ? " (memory)" : ""; }
};

// Says on standard error that the narrow entry points cannot be given this
// name, and what to do about it (`remedy`, e.g. "--memory passes the
// document's bytes instead").
void NotAnsiError(const std::string& name, const std::string& remedy);
