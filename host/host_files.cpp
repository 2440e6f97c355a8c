#include "host/host_files.h"

#include <errno.h>
#include <fcntl.h>
#include <string.h>
#include <sys/stat.h>

#if defined(_WIN32)
#include <direct.h>
#include <io.h>
#else
#include <unistd.h>
#endif

#include "host/text.h"

// The calls that differ: on Windows the wide forms, each name converted from
// UTF-8 at the call; on Linux the names as they are.
#if defined(_WIN32)

long long FileSize(const std::string& path) {
  struct _stat64 info;
  if (_wstat64(WideName(path).c_str(), &info) != 0) return -1;
  return static_cast<long long>(info.st_size);
}

FILE* OpenFile(const std::string& path, const char* mode) {
  return _wfopen(WideName(path).c_str(), WideName(mode).c_str());
}

static int MakeDirectoryCall(const std::string& path) {
  return _wmkdir(WideName(path).c_str());
}

int OpenDescriptorForWriting(const std::string& path) {
  return _wopen(WideName(path).c_str(),
                _O_WRONLY | _O_CREAT | _O_TRUNC | _O_BINARY,
                _S_IREAD | _S_IWRITE);
}

bool ChangeDirectory(const std::string& path) {
  return _wchdir(WideName(path).c_str()) == 0;
}

bool StderrIsTerminal() { return _isatty(_fileno(stderr)) != 0; }

bool AnsiName(const std::string& name, std::string* ansi) {
  // A UTF-8 ANSI code page takes every name as it is (and no flags).
  if (GetACP() == CP_UTF8) {
    *ansi = name;
    return true;
  }
  ansi->clear();
  std::wstring wide = WideName(name);
  if (wide.empty()) return true;
  // No best fit: a character without an exact form sets used_default
  // rather than turning into a look-alike that names another file.
  BOOL used_default = FALSE;
  int units = static_cast<int>(wide.size());
  int n = WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, wide.c_str(), units,
                              nullptr, 0, nullptr, &used_default);
  if (n <= 0 || used_default) return false;
  ansi->resize(static_cast<size_t>(n));
  n = WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, wide.c_str(), units,
                          &(*ansi)[0], n, nullptr, &used_default);
  return n == static_cast<int>(ansi->size()) && !used_default;
}

ReadHandle::ReadHandle(const std::string& path) {
  HANDLE handle =
      CreateFileW(WideName(path).c_str(), GENERIC_READ, FILE_SHARE_READ,
                  nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  opened_ = handle != INVALID_HANDLE_VALUE;
  value_ = reinterpret_cast<uintptr_t>(handle);
}

ReadHandle::~ReadHandle() {
  if (opened_) CloseHandle(reinterpret_cast<HANDLE>(value_));
}

void ReadHandle::Rewind() {
  SetFilePointer(reinterpret_cast<HANDLE>(value_), 0, nullptr, FILE_BEGIN);
}

#else

long long FileSize(const std::string& path) {
  struct stat info;
  if (stat(path.c_str(), &info) != 0) return -1;
  return static_cast<long long>(info.st_size);
}

FILE* OpenFile(const std::string& path, const char* mode) {
  return fopen(path.c_str(), mode);
}

static int MakeDirectoryCall(const std::string& path) {
  return mkdir(path.c_str(), 0777);
}

int OpenDescriptorForWriting(const std::string& path) {
  return open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0666);
}

bool ChangeDirectory(const std::string& path) {
  return chdir(path.c_str()) == 0;
}

bool StderrIsTerminal() { return isatty(fileno(stderr)) != 0; }

bool AnsiName(const std::string& name, std::string* ansi) {
  *ansi = name;
  return true;
}

ReadHandle::ReadHandle(const std::string& path) {
  int fd = open(path.c_str(), O_RDONLY);
  opened_ = fd >= 0;
  value_ = static_cast<uintptr_t>(fd);
}

ReadHandle::~ReadHandle() {
  if (opened_) close(static_cast<int>(value_));
}

void ReadHandle::Rewind() { lseek(static_cast<int>(value_), 0, SEEK_SET); }

#endif

bool FileExists(const std::string& path) { return FileSize(path) >= 0; }

bool ReadWholeFile(const std::string& path, std::vector<uint8_t>* data) {
  FILE* file = OpenFile(path, "rb");
  if (file == nullptr) {
    Error(path + ": cannot open (" + strerror(errno) + ")");
    return false;
  }
  data->clear();
  uint8_t chunk[65536];
  size_t n;
  while ((n = fread(chunk, 1, sizeof(chunk), file)) > 0) {
    data->insert(data->end(), chunk, chunk + n);
  }
  bool ok = !ferror(file);
  fclose(file);
  if (!ok) Error(path + ": read error");
  return ok;
}

bool WriteWholeFile(
    const std::string& path,
    const std::vector<std::pair<const uint8_t*, size_t>>& parts) {
  FILE* file = OpenFile(path, "wb");
  if (file == nullptr) {
    Error(path + ": cannot create (" + strerror(errno) + ")");
    return false;
  }
  bool ok = true;
  for (const auto& part : parts) {
    if (part.second > 0 &&
        fwrite(part.first, 1, part.second, file) != part.second) {
      ok = false;
    }
  }
  if (fclose(file) != 0) ok = false;
  if (!ok) Error(path + ": write error");
  return ok;
}

bool MakeDirectory(const std::string& path) {
  if (MakeDirectoryCall(path) != 0 && errno != EEXIST) {
    Error(path + ": cannot create directory (" + strerror(errno) + ")");
    return false;
  }
  return true;
}

bool ReadFileList(const std::string& path, std::vector<std::string>* out) {
  std::vector<uint8_t> bytes;
  if (!ReadWholeFile(path, &bytes)) return false;
  std::string line;
  for (size_t i = 0; i <= bytes.size(); ++i) {
    char c = i < bytes.size() ? static_cast<char>(bytes[i]) : '\n';
    if (c == '\n') {
      if (!line.empty() && line.back() == '\r') line.pop_back();
      if (!line.empty()) out->push_back(line);
      line.clear();
    } else {
      line.push_back(c);
    }
  }
  return true;
}

std::basic_string<WCHAR> WideName(const std::string& name) {
  std::u16string units = Utf16FromUtf8(name);
  return std::basic_string<WCHAR>(units.begin(), units.end());
}

std::string NameFromWide(const WCHAR* wide) {
  std::vector<uint16_t> units;
  for (; *wide != 0; ++wide) units.push_back(static_cast<uint16_t>(*wide));
  return Utf8FromUtf16(units.data(), units.size());
}

void NotAnsiError(const std::string& name, const std::string& remedy) {
  Error(name +
        ": the name is outside the ANSI code page, and the plug-in's narrow "
        "calls take only ANSI names; " +
        remedy);
}

bool Source::Load(const std::string& file, bool in_memory) {
  path = file;
  memory = in_memory;
  wide = WideName(file);
  ansi_exact = AnsiName(file, &ansi);
  if (in_memory) return ReadWholeFile(file, &bytes);
  if (!FileExists(file)) {
    Error(file + ": no such file");
    return false;
  }
  return true;
}
