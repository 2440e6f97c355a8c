// psdhost: a command-line stand-in for the image viewer. It loads a plug-in,
// checks its interface code, calls its exports the way the viewer does and
// prints what comes back. Its standard output is the same bytes in every
// build (no addresses, no timing, paths as given), so the outputs of the
// Linux and the Windows builds can be compared directly.
#include <errno.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>

#include <string>
#include <vector>

#if defined(_WIN32)
#include <direct.h>
#include <fcntl.h>
#include <io.h>
#else
#include <dlfcn.h>
#include <fcntl.h>
#include <unistd.h>
#endif

#include "host/host_util.h"
#include "host/plugin_api.h"
#include "platform/accounting.h"

namespace {

const char kUsage[] =
    "usage: psdhost COMMAND PLUGIN ARGUMENTS...\n"
    "\n"
    "Loads PLUGIN (a .so, .spi or .sph file), checks its interface code and\n"
    "calls its exports the way the image viewer does.\n"
    "\n"
    "commands:\n"
    "  about PLUGIN\n"
    "      identity strings 0 to 3 from GetPluginInfo and GetPluginInfoW, "
    "with\n"
    "      the length each call returned\n"
    "  probe PLUGIN FILE...\n"
    "      IsSupported and IsSupportedW for each FILE, with the first 2048\n"
    "      bytes in memory and with an open file handle\n"
    "  info PLUGIN FILE... [--memory]\n"
    "      GetPictureInfo (and GetPictureInfoW) for each FILE; --memory "
    "passes\n"
    "      the whole file in memory (input mode 1)\n"
    "  picture PLUGIN FILE -o OUT.bmp [--memory]\n"
    "  picture PLUGIN FILE... --batch -o DIR [--memory]\n"
    "      GetPicture with a progress callback; writes the picture as a BMP\n"
    "      file (with --batch, DIR/NNNN-NAME.bmp for the NNNN-th FILE)\n"
    "  list PLUGIN FILE... [--memory]\n"
    "      GetArchiveInfo: the entries of each FILE and a total line\n"
    "  fileinfo PLUGIN FILE NAME... [--memory]\n"
    "      GetFileInfo for each entry NAME of FILE\n"
    "  extract PLUGIN FILE [ENTRY...] -o DIR [--memory-output]\n"
    "  extract PLUGIN FILE... --batch -o DIR [--memory-output]\n"
    "      GetFile for each ENTRY (an entry number or a name from the\n"
    "      listing; all entries when none is given). The plug-in writes the\n"
    "      files into DIR (output mode 0), or with --memory-output returns\n"
    "      each as a memory block that psdhost writes to DIR/NAME (output\n"
    "      mode 0x100). With --batch every FILE goes to DIR/NNNN-NAME/.\n"
    "      --limit N extracts at most N entries of each document, spread\n"
    "      evenly from the first to the last.\n"
    "\n"
    "Every command that takes FILE... also reads file names, one a line,\n"
    "from the file named by --files LIST (they follow the other FILEs).\n"
    "\n"
    "\"info\" and \"picture\" need a picture plug-in (interface code "
    "\"00IN\"),\n"
    "\"list\", \"fileinfo\" and \"extract\" an archive plug-in (\"00AM\").\n"
    "Exit status: 0 success, 1 a file could not be read or a call returned\n"
    "a failing result code, 2 a usage error or a plug-in that cannot be\n"
    "used (missing, not loadable, missing export, wrong interface code),\n"
    "3 (Linux) blocks or files the plug-in's platform layer still counts\n"
    "as live when the command ends.\n";

// A loaded plug-in and the block functions that go with it: the plug-in's
// own exports on Linux, kernel32's on Windows.
struct Plugin {
  std::string path;
#if defined(_WIN32)
  HMODULE module = nullptr;
#else
  void* module = nullptr;
#endif
  LocalFreeFn local_free = nullptr;
  LocalSizeFn local_size = nullptr;
  LocalLockFn local_lock = nullptr;
  LocalUnlockFn local_unlock = nullptr;
};

void Error(const std::string& message) {
  fprintf(stderr, "psdhost: %s\n", message.c_str());
}

bool FileExists(const std::string& path) {
  struct stat info;
  return stat(path.c_str(), &info) == 0;
}

void* RawSymbol(const Plugin& plugin, const char* name) {
#if defined(_WIN32)
  return reinterpret_cast<void*>(GetProcAddress(plugin.module, name));
#else
  return dlsym(plugin.module, name);
#endif
}

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

bool LoadPlugin(const std::string& path, Plugin* plugin) {
  plugin->path = path;
  if (!FileExists(path)) {
    Error(path + ": no such plug-in file");
    return false;
  }
#if defined(_WIN32)
  plugin->module = LoadLibraryA(path.c_str());
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
#else
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
#endif
}

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

std::string IdentityString(const Plugin& plugin, int32_t index) {
  GetPluginInfoFn get_info = nullptr;
  if (!Export(plugin, "GetPluginInfo", &get_info)) return std::string();
  char buffer[256];
  memset(buffer, 0, sizeof(buffer));
  get_info(index, buffer, sizeof(buffer));
  buffer[sizeof(buffer) - 1] = 0;
  return buffer;
}

// Checks the interface code the command needs.
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

std::basic_string<WCHAR> WideName(const std::string& name) {
#if defined(_WIN32)
  // The name as the plug-in itself would convert it.
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

// Size of a file, or -1 when there is none.
long long FileSize(const std::string& path) {
  struct stat info;
  if (stat(path.c_str(), &info) != 0) return -1;
  return static_cast<long long>(info.st_size);
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

bool StderrIsTerminal() {
#if defined(_WIN32)
  return _isatty(_fileno(stderr)) != 0;
#else
  return isatty(fileno(stderr)) != 0;
#endif
}

// The document as the viewer passes it: a file name (input mode 0) or the
// whole file in memory (input mode 1).
struct Source {
  std::string path;
  std::vector<uint8_t> bytes;
  bool memory = false;

  bool Load(const std::string& file, bool in_memory) {
    path = file;
    memory = in_memory;
    if (in_memory) return ReadWholeFile(file, &bytes);
    if (!FileExists(file)) {
      Error(file + ": no such file");
      return false;
    }
    return true;
  }
  LPCSTR source() const {
    return memory ? reinterpret_cast<LPCSTR>(bytes.data()) : path.c_str();
  }
  intptr_t size() const {
    return memory ? static_cast<intptr_t>(bytes.size()) : 0;
  }
  uint32_t mode() const { return memory ? kInputMemory : kInputFile; }
  const char* label() const { return memory ? " (memory)" : ""; }
};

// ---------------------------------------------------------------- about

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
  for (int32_t index = 0; index <= 3; ++index) {
    char buffer[256];
    memset(buffer, 0, sizeof(buffer));
    int32_t length = get_info(index, buffer, sizeof(buffer));
    printf("GetPluginInfo %d: \"%s\" (%d)\n", index,
           EscapeBytes(buffer, sizeof(buffer)).c_str(), length);
  }
  for (int32_t index = 0; index <= 3; ++index) {
    WCHAR buffer[256];
    memset(buffer, 0, sizeof(buffer));
    int32_t length = get_info_w(index, buffer, 256);
    uint16_t units[256];
    memcpy(units, buffer, sizeof(units));
    std::string text = Utf8FromUtf16(units, 256);
    std::string shown;
    for (char c : text) {
      if (static_cast<unsigned char>(c) < 0x20 || c == '\\') {
        shown += EscapeBytes(&c, 1);
      } else {
        shown.push_back(c);
      }
    }
    printf("GetPluginInfoW %d: \"%s\" (%d)\n", index, shown.c_str(), length);
  }
  return 0;
}

// ---------------------------------------------------------------- probe

int CommandProbe(const Plugin& plugin, const Arguments& args) {
  IsSupportedFn is_supported = nullptr;
  IsSupportedWFn is_supported_w = nullptr;
  if (!Export(plugin, "IsSupported", &is_supported) ||
      !Export(plugin, "IsSupportedW", &is_supported_w)) {
    return 2;
  }
  if (args.positional.empty()) {
    Error("probe needs at least one FILE");
    return 2;
  }
  int status = 0;
  for (const std::string& path : args.positional) {
    FILE* file = fopen(path.c_str(), "rb");
    if (file == nullptr) {
      Error(path + ": cannot open (" + strerror(errno) + ")");
      status = 1;
      continue;
    }
    std::vector<uint8_t> head(2048, 0);
    size_t got = fread(head.data(), 1, head.size(), file);
    (void)got;  // a short file leaves zeros behind its bytes
    fclose(file);
    std::basic_string<WCHAR> wide = WideName(path);
    uintptr_t memory = reinterpret_cast<uintptr_t>(head.data());
    int32_t memory_a = is_supported(path.c_str(), memory);
    int32_t memory_w = is_supported_w(wide.c_str(), memory);

    int32_t handle_a = -1;
    int32_t handle_w = -1;
#if defined(_WIN32)
    HANDLE handle =
        CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                    OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    bool opened = handle != INVALID_HANDLE_VALUE;
    uintptr_t value = reinterpret_cast<uintptr_t>(handle);
#else
    int fd = open(path.c_str(), O_RDONLY);
    bool opened = fd >= 0;
    uintptr_t value = static_cast<uintptr_t>(fd);
#endif
    if (!opened) {
      Error(path + ": cannot open a handle");
      status = 1;
      continue;
    }
    if (value >= 0x10000) {
      Error(path + ": the file handle is too large to pass as a handle");
      status = 1;
    } else {
      handle_a = is_supported(path.c_str(), value);
#if defined(_WIN32)
      SetFilePointer(handle, 0, nullptr, FILE_BEGIN);
#else
      lseek(fd, 0, SEEK_SET);
#endif
      handle_w = is_supported_w(wide.c_str(), value);
    }
#if defined(_WIN32)
    CloseHandle(handle);
#else
    close(fd);
#endif
    printf(
        "%s: IsSupported memory %d handle %d, IsSupportedW memory %d "
        "handle %d\n",
        path.c_str(), memory_a, handle_a, memory_w, handle_w);
  }
  return status;
}

// ---------------------------------------------------------------- info

int CommandInfo(const Plugin& plugin, const Arguments& args) {
  GetPictureInfoFn get_info = nullptr;
  GetPictureInfoWFn get_info_w = nullptr;
  if (!CheckInterface(plugin, "00IN", "info") ||
      !Export(plugin, "GetPictureInfo", &get_info) ||
      !Export(plugin, "GetPictureInfoW", &get_info_w)) {
    return 2;
  }
  if (args.positional.empty()) {
    Error("info needs at least one FILE");
    return 2;
  }
  int status = 0;
  for (const std::string& path : args.positional) {
    Source source;
    if (!source.Load(path, args.memory)) {
      status = 1;
      continue;
    }
    // Fill both records with the same pattern, so fields a call leaves
    // alone show up alike and the two can be compared field by field.
    PictureInfo info;
    PictureInfo info_w;
    memset(&info, 0xA5, sizeof(info));
    memset(&info_w, 0xA5, sizeof(info_w));
    int32_t result =
        get_info(source.source(), source.size(), source.mode(), &info);
    printf("%s: GetPictureInfo%s result %d\n", path.c_str(), source.label(),
           result);
    if (result == 0) printf("%s", DescribePictureInfo(info).c_str());
    std::basic_string<WCHAR> wide = WideName(path);
    const WCHAR* wide_source =
        source.memory ? reinterpret_cast<const WCHAR*>(source.bytes.data())
                      : wide.c_str();
    int32_t result_w =
        get_info_w(wide_source, source.size(), source.mode(), &info_w);
    bool same = result_w == result &&
                (result != 0 ||
                 (info.left == info_w.left && info.top == info_w.top &&
                  info.width == info_w.width && info.height == info_w.height &&
                  info.x_density == info_w.x_density &&
                  info.y_density == info_w.y_density &&
                  info.color_depth == info_w.color_depth &&
                  info.text_info == info_w.text_info));
    if (same) {
      printf("  GetPictureInfoW: the same\n");
    } else {
      printf("  GetPictureInfoW: result %d, differs\n", result_w);
      if (result_w == 0) printf("%s", DescribePictureInfo(info_w).c_str());
    }
    if (result != 0 || !same) status = 1;
  }
  return status;
}

// ---------------------------------------------------------------- picture

int DecodeOne(const Plugin& plugin, GetPictureFn get_picture,
              const Source& source, const std::string& out) {
  Block header(plugin);
  Block pixels(plugin);
  ProgressLog progress;
  intptr_t token = StartProgress(&progress);
  int32_t result =
      get_picture(source.source(), source.size(), source.mode(), header.slot(),
                  pixels.slot(), &RecordProgress, token);
  printf("%s: GetPicture%s result %d\n", source.path.c_str(), source.label(),
         result);
  printf("  progress %s\n", DescribeProgress(progress).c_str());
  size_t header_size = header.size();
  size_t pixel_size = pixels.size();
  if (!header.empty() || !pixels.empty()) {
    printf("  header block %s, pixel block %s\n",
           header.empty() ? "none"
                          : (std::to_string(header_size) + " bytes").c_str(),
           pixels.empty() ? "none"
                          : (std::to_string(pixel_size) + " bytes").c_str());
  }
  if (!header.empty()) {
    const uint8_t* bytes = header.Lock();
    printf("%s", DescribeBitmapHeader(bytes, header_size).c_str());
    header.Unlock();
  }
  if (result != 0) return 1;
  if (header.empty() || pixels.empty()) {
    Error(source.path + ": result 0 without both blocks");
    return 1;
  }
  if (header_size > 0x7FFFFFFFu || pixel_size > 0x7FFFFFFFu ||
      header_size + pixel_size > 0xFFFFFFF0u) {
    Error(source.path + ": blocks too large for a BMP file");
    return 1;
  }
  uint8_t file_header[14];
  MakeBmpFileHeader(static_cast<uint32_t>(header_size),
                    static_cast<uint32_t>(pixel_size), file_header);
  const uint8_t* header_bytes = header.Lock();
  const uint8_t* pixel_bytes = pixels.Lock();
  bool written = WriteWholeFile(out, {{file_header, sizeof(file_header)},
                                      {header_bytes, header_size},
                                      {pixel_bytes, pixel_size}});
  pixels.Unlock();
  header.Unlock();
  if (!written) return 1;
  printf("  BMP bfSize %zu bfOffBits %zu -> %s\n",
         14 + header_size + pixel_size, 14 + header_size, out.c_str());
  return 0;
}

int CommandPicture(const Plugin& plugin, const Arguments& args) {
  GetPictureFn get_picture = nullptr;
  if (!CheckInterface(plugin, "00IN", "picture") ||
      !Export(plugin, "GetPicture", &get_picture)) {
    return 2;
  }
  if (args.positional.empty() || args.output.empty() ||
      (!args.batch && args.positional.size() != 1)) {
    Error("picture needs FILE -o OUT.bmp, or FILE... --batch -o DIR");
    return 2;
  }
  if (args.batch && !MakeDirectory(args.output)) return 2;
  int status = 0;
  for (size_t i = 0; i < args.positional.size(); ++i) {
    const std::string& path = args.positional[i];
    std::string out = args.batch
                          ? args.output + "/" + BatchName(i, path) + ".bmp"
                          : args.output;
    Source source;
    if (!source.Load(path, args.memory)) {
      status = 1;
      continue;
    }
    if (DecodeOne(plugin, get_picture, source, out) != 0) status = 1;
  }
  return status;
}

// ---------------------------------------------------------------- list

// GetArchiveInfo for one document. Prints the result line on failure.
bool GetListing(const Plugin& plugin, GetArchiveInfoFn get_archive_info,
                const Source& source, std::vector<ListingEntry>* entries) {
  Block listing(plugin);
  int32_t result = get_archive_info(source.source(), source.size(),
                                    source.mode(), listing.slot());
  if (result != 0) {
    printf("%s: GetArchiveInfo%s result %d\n", source.path.c_str(),
           source.label(), result);
    return false;
  }
  if (listing.empty()) {
    printf("%s: GetArchiveInfo%s result 0 without a listing\n",
           source.path.c_str(), source.label());
    return false;
  }
  std::string error;
  size_t size = listing.size();
  bool ok = ReadListing(listing.Lock(), size, entries, &error);
  listing.Unlock();
  if (!ok) printf("%s: %s\n", source.path.c_str(), error.c_str());
  return ok;
}

int CommandList(const Plugin& plugin, const Arguments& args) {
  GetArchiveInfoFn get_archive_info = nullptr;
  if (!CheckInterface(plugin, "00AM", "list") ||
      !Export(plugin, "GetArchiveInfo", &get_archive_info)) {
    return 2;
  }
  if (args.positional.empty()) {
    Error("list needs at least one FILE");
    return 2;
  }
  int status = 0;
  for (const std::string& path : args.positional) {
    Source source;
    std::vector<ListingEntry> entries;
    if (!source.Load(path, args.memory) ||
        !GetListing(plugin, get_archive_info, source, &entries)) {
      status = 1;
      continue;
    }
    printf("%s", FormatListing(path + source.label(), entries).c_str());
  }
  return status;
}

int CommandFileInfo(const Plugin& plugin, const Arguments& args) {
  GetFileInfoFn get_file_info = nullptr;
  if (!CheckInterface(plugin, "00AM", "fileinfo") ||
      !Export(plugin, "GetFileInfo", &get_file_info)) {
    return 2;
  }
  if (args.positional.size() < 2) {
    Error("fileinfo needs FILE NAME...");
    return 2;
  }
  Source source;
  if (!source.Load(args.positional[0], args.memory)) return 1;
  int status = 0;
  for (size_t i = 1; i < args.positional.size(); ++i) {
    const std::string& name = args.positional[i];
    ArchiveFileInfo record;
    memset(&record, 0xA5, sizeof(record));
    int32_t result = get_file_info(source.source(), source.size(), name.c_str(),
                                   source.mode(), &record);
    printf("%s%s %s: GetFileInfo result %d\n", source.path.c_str(),
           source.label(), name.c_str(), result);
    if (result == 0) {
      printf("%s", DescribeFileInfo(EntryFromRecord(record)).c_str());
    } else {
      status = 1;
    }
  }
  return status;
}

// ---------------------------------------------------------------- extract

int ExtractDocument(const Plugin& plugin, GetArchiveInfoFn get_archive_info,
                    GetFileFn get_file, const std::string& path,
                    const std::vector<std::string>& selectors,
                    const std::string& directory, bool memory_output,
                    size_t limit) {
  Source source;
  std::vector<ListingEntry> entries;
  if (!source.Load(path, false) ||
      !GetListing(plugin, get_archive_info, source, &entries)) {
    return 1;
  }
  std::vector<size_t> selected;
  std::string error;
  if (!SelectEntries(entries, selectors, &selected, &error)) {
    Error(path + ": " + error);
    return 1;
  }
  if (limit > 0 && selected.size() > limit) {
    std::vector<size_t> spread;
    for (size_t k : SpreadSelection(selected.size(), limit)) {
      spread.push_back(selected[k]);
    }
    selected.swap(spread);
  }
  if (!MakeDirectory(directory)) return 1;
  printf("%s: extracting %zu of %zu entries into %s (%s)\n", path.c_str(),
         selected.size(), entries.size(), directory.c_str(),
         memory_output ? "memory output" : "file output");
  bool show_progress = selected.size() > 20 && StderrIsTerminal();
  int status = 0;
  for (size_t k = 0; k < selected.size(); ++k) {
    if (show_progress) {
      fprintf(stderr, "\rextracting %zu/%zu", k + 1, selected.size());
      fflush(stderr);
    }
    const ListingEntry& entry = entries[selected[k]];
    std::string shown = EscapeBytes(entry.name.data(), entry.name.size());
    ProgressLog progress;
    intptr_t token = StartProgress(&progress);
    Block block(plugin);
    std::string destination = directory;
    LPSTR target =
        memory_output ? reinterpret_cast<LPSTR>(block.slot()) : &destination[0];
    int32_t result =
        get_file(path.c_str(), static_cast<intptr_t>(entry.entry_number),
                 target, memory_output ? kOutputMemory : kOutputDirectory,
                 &RecordProgress, token);
    printf("  %llu %s: result %d, progress %s",
           static_cast<unsigned long long>(entry.entry_number), shown.c_str(),
           result, DescribeProgress(progress).c_str());
    if (result != 0) {
      printf("\n");
      status = 1;
      continue;
    }
    if (memory_output) {
      if (block.empty()) {
        printf(", no block\n");
        status = 1;
        continue;
      }
      if (!IsPlainFileName(entry.name)) {
        printf(", block of %zu bytes not written: unusable name\n",
               block.size());
        status = 1;
        continue;
      }
      size_t size = block.size();
      std::string out = directory + "/" + entry.name;
      const uint8_t* bytes = block.Lock();
      bool written = WriteWholeFile(out, {{bytes, size}});
      block.Unlock();
      printf(", block of %zu bytes -> %s\n", size, shown.c_str());
      if (!written) status = 1;
    } else {
      // The plug-in names the file itself: ".dat" for an entry without
      // pixels, so look for both.
      std::string found;
      long long size = -1;
      std::string base = entry.name;
      std::vector<std::string> names = {base};
      if (base.size() > 4) {
        std::string stem = base.substr(0, base.size() - 4);
        std::string ext = base.substr(base.size() - 4);
        names.push_back(stem + (ext == ".dat" ? ".bmp" : ".dat"));
      }
      for (const std::string& name : names) {
        if (!IsPlainFileName(name)) continue;
        size = FileSize(directory + "/" + name);
        if (size >= 0) {
          found = name;
          break;
        }
      }
      if (size < 0) {
        printf(", no file written\n");
      } else {
        printf(", file %s %lld bytes\n",
               EscapeBytes(found.data(), found.size()).c_str(), size);
      }
    }
  }
  if (show_progress) fprintf(stderr, "\n");
  return status;
}

int CommandExtract(const Plugin& plugin, const Arguments& args) {
  GetArchiveInfoFn get_archive_info = nullptr;
  GetFileFn get_file = nullptr;
  if (!CheckInterface(plugin, "00AM", "extract") ||
      !Export(plugin, "GetArchiveInfo", &get_archive_info) ||
      !Export(plugin, "GetFile", &get_file)) {
    return 2;
  }
  if (args.positional.empty() || args.output.empty()) {
    Error("extract needs FILE [ENTRY...] -o DIR, or FILE... --batch -o DIR");
    return 2;
  }
  if (args.memory) {
    Error("extract reads the document by name; --memory is not offered");
    return 2;
  }
  if (!args.batch) {
    std::vector<std::string> selectors(args.positional.begin() + 1,
                                       args.positional.end());
    return ExtractDocument(plugin, get_archive_info, get_file,
                           args.positional[0], selectors, args.output,
                           args.memory_output, args.limit);
  }
  if (!MakeDirectory(args.output)) return 2;
  int status = 0;
  for (size_t i = 0; i < args.positional.size(); ++i) {
    std::string directory =
        args.output + "/" + BatchName(i, args.positional[i]);
    if (ExtractDocument(plugin, get_archive_info, get_file, args.positional[i],
                        {}, directory, args.memory_output, args.limit) != 0) {
      status = 1;
    }
  }
  return status;
}

// Appends the lines of a list file (LF or CR LF, empty lines skipped).
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

}  // namespace

int main(int argc, char** argv) {
#if defined(_WIN32)
  // The same bytes as the Linux build: no CR LF translation.
  _setmode(_fileno(stdout), _O_BINARY);
#endif
  std::vector<std::string> all(argv + 1, argv + argc);
  if (all.empty() || all[0] == "--help" || all[0] == "-h" || all[0] == "help") {
    fputs(kUsage, all.empty() ? stderr : stdout);
    return all.empty() ? 2 : 0;
  }
  const std::string command = all[0];
  typedef int (*CommandFn)(const Plugin&, const Arguments&);
  struct {
    const char* name;
    CommandFn run;
  } const commands[] = {
      {"about", CommandAbout},     {"probe", CommandProbe},
      {"info", CommandInfo},       {"picture", CommandPicture},
      {"list", CommandList},       {"fileinfo", CommandFileInfo},
      {"extract", CommandExtract},
  };
  CommandFn run = nullptr;
  for (const auto& c : commands) {
    if (command == c.name) run = c.run;
  }
  if (run == nullptr) {
    Error("unknown command \"" + command + "\" (psdhost --help lists them)");
    return 2;
  }
  Arguments args;
  std::string error;
  if (!ParseArguments(std::vector<std::string>(all.begin() + 1, all.end()),
                      &args, &error)) {
    Error(error);
    return 2;
  }
  if (args.positional.empty()) {
    Error(command + " needs a PLUGIN (psdhost --help)");
    return 2;
  }
  if (!args.files.empty() && !ReadFileList(args.files, &args.positional)) {
    return 2;
  }
  Plugin plugin;
  if (!LoadPlugin(args.positional[0], &plugin)) return 2;
  args.positional.erase(args.positional.begin());
  int status = run(plugin, args);
  fflush(stdout);
#if !defined(_WIN32)
  // The Linux platform layer counts live blocks and open files: after a
  // command every block handed over has been freed and every file closed.
  typedef void (*GetCountsFn)(PlatformCounts*);
  void* counts_symbol = RawSymbol(plugin, "PlatformGetCounts");
  if (counts_symbol != nullptr) {
    PlatformCounts counts = {0, 0, 0};
    reinterpret_cast<GetCountsFn>(counts_symbol)(&counts);
    if (counts.local_blocks != 0 || counts.heap_blocks != 0 ||
        counts.open_files != 0) {
      Error("left behind: " + std::to_string(counts.local_blocks) +
            " local blocks, " + std::to_string(counts.heap_blocks) +
            " heap blocks, " + std::to_string(counts.open_files) +
            " open files");
      return 3;
    }
  }
#endif
  // The plug-in stays loaded until the process ends, as in the viewer.
  return status;
}
