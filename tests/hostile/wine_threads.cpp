// Several threads decoding different documents through the same loaded
// plug-ins at once, on Windows (run under wine by wine_threads.sh): every
// result and every byte handed out equals a serial run's, and every line
// the logs gained is whole and one of the engine's messages.
//
//   wine_threads.exe FLATVIEW LAYERPACK DOCUMENT_LIST
#include <stdint.h>
#include <stdio.h>
#include <string.h>
#include <windows.h>

#include <string>
#include <vector>

#include "log_lines.h"

typedef int32_t(WINAPI* GetPictureFn)(LPCSTR, intptr_t, uint32_t, HLOCAL*,
                                      HLOCAL*, void*, intptr_t);
typedef int32_t(WINAPI* GetArchiveInfoFn)(LPCSTR, intptr_t, uint32_t, HLOCAL*);
typedef int32_t(WINAPI* GetFileFn)(LPCSTR, intptr_t, LPSTR, uint32_t, void*,
                                   intptr_t);

namespace {

GetPictureFn g_picture;
GetArchiveInfoFn g_listing;
GetFileFn g_file;

struct Document {
  std::string path;
  std::string bytes;
  uint64_t serial;
};
std::vector<Document> g_docs;
volatile LONG g_mismatches;

struct Digest {
  uint64_t value = 1469598103934665603ull;
  void Add(const void* data, size_t size) {
    const uint8_t* p = static_cast<const uint8_t*>(data);
    for (size_t i = 0; i < size; ++i) value = (value ^ p[i]) * 1099511628211ull;
  }
  void Add(int64_t v) { Add(&v, sizeof v); }
  void Take(HLOCAL block) {
    if (block == nullptr) return Add(int64_t{-1});
    Add(static_cast<int64_t>(LocalSize(block)));
    Add(LocalLock(block), LocalSize(block));
    LocalUnlock(block);
    LocalFree(block);
  }
};

uint64_t DecodeAll(const Document& doc) {
  Digest d;
  for (uint32_t mode : {0u, 1u}) {
    HLOCAL header = nullptr, pixels = nullptr;
    d.Add(g_picture(mode ? doc.bytes.data() : doc.path.c_str(),
                    mode ? static_cast<intptr_t>(doc.bytes.size()) : 0, mode,
                    &header, &pixels, nullptr, 0));
    d.Take(header);
    d.Take(pixels);
  }
  HLOCAL listing = nullptr;
  d.Add(g_listing(doc.bytes.data(), static_cast<intptr_t>(doc.bytes.size()), 1,
                  &listing));
  d.Take(listing);
  for (intptr_t entry = 0; entry < 3; ++entry) {
    HLOCAL bmp = nullptr;
    d.Add(g_file(doc.path.c_str(), entry, reinterpret_cast<LPSTR>(&bmp), 0x100,
                 nullptr, 0));
    d.Take(bmp);
  }
  return d.value;
}

DWORD WINAPI Worker(LPVOID parameter) {
  const size_t start = reinterpret_cast<uintptr_t>(parameter);
  for (int round = 0; round < 2; ++round) {
    for (size_t i = 0; i < g_docs.size(); ++i) {
      const Document& doc = g_docs[(i + start) % g_docs.size()];
      if (DecodeAll(doc) != doc.serial) InterlockedIncrement(&g_mismatches);
    }
  }
  return 0;
}

bool ReadFileBytes(const std::string& path, std::string* out) {
  FILE* f = fopen(path.c_str(), "rb");
  if (f == nullptr) return false;
  char chunk[65536];
  size_t n;
  out->clear();
  while ((n = fread(chunk, 1, sizeof chunk, f)) > 0) out->append(chunk, n);
  fclose(f);
  return true;
}

// Checks the lines of `log`; returns the bad ones.
int CheckLog(const std::string& log, size_t* lines) {
  // The log and the older one it became when it passed its cap.
  std::string text, older;
  if (!ReadFileBytes(log, &text)) return 1;
  if (ReadFileBytes(log + ".1", &older)) text = older + text;
  int bad = 0;
  size_t pos = 0;
  while (pos < text.size()) {
    const size_t end = text.find("\r\n", pos);
    const std::string line = text.substr(pos, end - pos);
    if (end == std::string::npos || !loglines::KnownLine(line)) {
      if (++bad <= 5) printf("bad log line: %s\n", line.c_str());
      if (end == std::string::npos) break;
    }
    ++*lines;
    pos = end + 2;
  }
  return bad;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 4) {
    fprintf(stderr, "usage: wine_threads FLATVIEW LAYERPACK DOCUMENT_LIST\n");
    return 2;
  }
  HMODULE flatview = LoadLibraryA(argv[1]);
  HMODULE layerpack = LoadLibraryA(argv[2]);
  if (flatview == nullptr || layerpack == nullptr) {
    fprintf(stderr, "cannot load the plug-ins\n");
    return 2;
  }
  g_picture = reinterpret_cast<GetPictureFn>(
      reinterpret_cast<void*>(GetProcAddress(flatview, "GetPicture")));
  g_listing = reinterpret_cast<GetArchiveInfoFn>(
      reinterpret_cast<void*>(GetProcAddress(layerpack, "GetArchiveInfo")));
  g_file = reinterpret_cast<GetFileFn>(
      reinterpret_cast<void*>(GetProcAddress(layerpack, "GetFile")));
  if (!g_picture || !g_listing || !g_file) {
    fprintf(stderr, "missing exports\n");
    return 2;
  }
  std::string list;
  if (!ReadFileBytes(argv[3], &list)) return 2;
  size_t pos = 0;
  while (pos < list.size()) {
    size_t end = list.find('\n', pos);
    if (end == std::string::npos) end = list.size();
    Document doc;
    doc.path = list.substr(pos, end - pos);
    if (!doc.path.empty() && doc.path.back() == '\r') doc.path.pop_back();
    if (!doc.path.empty() && ReadFileBytes(doc.path, &doc.bytes)) {
      g_docs.push_back(doc);
    }
    pos = end + 1;
  }
  if (g_docs.size() < 10) {
    fprintf(stderr, "too few documents (%u)\n", unsigned(g_docs.size()));
    return 2;
  }

  const std::string logs[2] = {std::string(argv[1]) + ".LOG",
                               std::string(argv[2]) + ".LOG"};
  // Each log starts afresh: all it holds at the end is this run's.
  for (const std::string& log : logs) {
    DeleteFileA(log.c_str());
    DeleteFileA((log + ".1").c_str());
  }
  for (Document& doc : g_docs) doc.serial = DecodeAll(doc);

  const int kThreads = 4;
  HANDLE threads[kThreads];
  for (int t = 0; t < kThreads; ++t) {
    threads[t] = CreateThread(nullptr, 0, Worker,
                              reinterpret_cast<LPVOID>(static_cast<uintptr_t>(
                                  t * g_docs.size() / kThreads)),
                              0, nullptr);
  }
  WaitForMultipleObjects(kThreads, threads, TRUE, INFINITE);
  for (HANDLE h : threads) CloseHandle(h);

  size_t lines = 0;
  const int bad = CheckLog(logs[0], &lines) + CheckLog(logs[1], &lines);
  printf(
      "%u documents, %d threads: %ld decodes differed from the serial run; "
      "%u log lines, %d broken or unknown\n",
      unsigned(g_docs.size()), kThreads, long(g_mismatches), unsigned(lines),
      bad);
  const bool ok = g_mismatches == 0 && bad == 0 && lines > g_docs.size();
  printf("%d passed, %d failed\n", ok ? 1 : 0, ok ? 0 : 1);
  return ok ? 0 : 1;
}
