#include "host/host_files.h"

#include <errno.h>
#include <stdio.h>
#include <string.h>
#include <sys/stat.h>

#if defined(_WIN32)
#include <direct.h>
#include <io.h>
#else
#include <unistd.h>
#endif

#include "host/text.h"

bool FileExists(const std::string& path) {
  struct stat info;
  return stat(path.c_str(), &info) == 0;
}

long long FileSize(const std::string& path) {
  struct stat info;
  if (stat(path.c_str(), &info) != 0) return -1;
  return static_cast<long long>(info.st_size);
}

bool ReadWholeFile(const std::string& path, std::vector<uint8_t>* data) {
  FILE* file = fopen(path.c_str(), "rb");
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
  FILE* file = fopen(path.c_str(), "wb");
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
#if defined(_WIN32)
  int rc = _mkdir(path.c_str());
#else
  int rc = mkdir(path.c_str(), 0777);
#endif
  if (rc != 0 && errno != EEXIST) {
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

bool StderrIsTerminal() {
#if defined(_WIN32)
  return _isatty(_fileno(stderr)) != 0;
#else
  return isatty(fileno(stderr)) != 0;
#endif
}

std::basic_string<WCHAR> WideName(const std::string& name) {
#if defined(_WIN32)
  int n =
      MultiByteToWideChar(CP_ACP, MB_PRECOMPOSED, name.c_str(), -1, nullptr, 0);
  std::basic_string<WCHAR> out(n > 0 ? static_cast<size_t>(n) : 1, L'\0');
  if (n > 0) {
    MultiByteToWideChar(CP_ACP, MB_PRECOMPOSED, name.c_str(), -1, &out[0], n);
  }
  out.resize(out.size() - 1);
  return out;
#else
  return Utf16FromUtf8(name);
#endif
}

bool Source::Load(const std::string& file, bool in_memory) {
  path = file;
  memory = in_memory;
  if (in_memory) return ReadWholeFile(file, &bytes);
  if (!FileExists(file)) {
    Error(file + ": no such file");
    return false;
  }
  return true;
}
