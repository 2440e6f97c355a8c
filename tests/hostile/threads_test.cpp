// Several threads decoding different documents through the same loaded
// plug-ins at once, as a host with worker threads would: every result and
// every byte handed out equals what a serial run gave, nothing stays
// allocated, and every line the log gained is whole and one of the
// engine's messages (lines may be lost by design: a request writes its
// lines with exclusive opens of the log, and lines that meet the file held
// by another request are dropped).
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <stdio.h>

#include <atomic>
#include <fstream>
#include <sstream>
#include <thread>

#include "common/log.h"
#include "hostile_support.h"
#include "log_lines.h"

namespace hostile {
namespace {

typedef int32_t(WINAPI* GetPictureFn)(LPCSTR, intptr_t, uint32_t, HLOCAL*,
                                      HLOCAL*, void*, intptr_t);
typedef int32_t(WINAPI* GetFileFn)(LPCSTR, intptr_t, LPSTR, uint32_t, void*,
                                   intptr_t);
typedef int32_t(WINAPI* GetArchiveInfoFn)(LPCSTR, intptr_t, uint32_t, HLOCAL*);
typedef SIZE_T (*LocalSizeFn)(HLOCAL);
typedef LPVOID (*LocalLockFn)(HLOCAL);
typedef HLOCAL (*LocalFreeFn)(HLOCAL);
typedef void (*GetCountsFn)(PlatformCounts*);

// One loaded plug-in and the calls a host makes through it.
struct Plugin {
  void* handle = nullptr;
  std::string path;
  LocalSizeFn size = nullptr;
  LocalLockFn lock = nullptr;
  LocalFreeFn free_block = nullptr;
  GetCountsFn counts = nullptr;

  explicit Plugin(const char* file) : path(file) {
    handle = dlopen(file, RTLD_NOW | RTLD_LOCAL);
    if (handle == nullptr) return;
    size = reinterpret_cast<LocalSizeFn>(dlsym(handle, "LocalSize"));
    lock = reinterpret_cast<LocalLockFn>(dlsym(handle, "LocalLock"));
    free_block = reinterpret_cast<LocalFreeFn>(dlsym(handle, "LocalFree"));
    counts = reinterpret_cast<GetCountsFn>(dlsym(handle, "PlatformGetCounts"));
  }
  template <typename Fn>
  Fn Get(const char* name) const {
    return reinterpret_cast<Fn>(dlsym(handle, name));
  }
  // Adds the block to the digest and frees it.
  void Take(HLOCAL block, Digest* d) const {
    if (block == nullptr) {
      d->Add(int64_t{-1});
      return;
    }
    d->Add(static_cast<int64_t>(size(block)));
    d->Add(lock(block), size(block));
    free_block(block);
  }
  int64_t Live() const {
    PlatformCounts c;
    counts(&c);
    return c.local_blocks + c.heap_blocks + c.open_files;
  }
};

struct Document {
  std::string name;
  std::string path;
  Bytes bytes;
};

// Everything the plug-ins return for one document, as one digest.
uint64_t DecodeAll(const Plugin& flatview, const Plugin& layerpack,
                   const Document& doc) {
  static const GetPictureFn get_picture =
      flatview.Get<GetPictureFn>("GetPicture");
  static const GetFileFn get_file = layerpack.Get<GetFileFn>("GetFile");
  static const GetArchiveInfoFn get_listing =
      layerpack.Get<GetArchiveInfoFn>("GetArchiveInfo");
  Digest d;
  for (uint32_t mode : {0u, 1u}) {
    HLOCAL header = nullptr, pixels = nullptr;
    const bool memory = mode == 1;
    d.Add(get_picture(
        memory ? reinterpret_cast<LPCSTR>(doc.bytes.data()) : doc.path.c_str(),
        memory ? static_cast<intptr_t>(doc.bytes.size()) : 0, mode, &header,
        &pixels, nullptr, 0));
    flatview.Take(header, &d);
    flatview.Take(pixels, &d);
  }
  HLOCAL listing = nullptr;
  d.Add(get_listing(reinterpret_cast<LPCSTR>(doc.bytes.data()),
                    static_cast<intptr_t>(doc.bytes.size()), 1, &listing));
  layerpack.Take(listing, &d);
  for (intptr_t entry = 0; entry < 3; ++entry) {
    HLOCAL bmp = nullptr;
    d.Add(get_file(doc.path.c_str(), entry, reinterpret_cast<LPSTR>(&bmp),
                   0x100, nullptr, 0));
    layerpack.Take(bmp, &d);
  }
  return d.value;
}

// A log and the older one it became when it passed its cap: their
// sizes, and their text, older first.
size_t FileSize(const std::string& path) {
  std::ifstream in(path, std::ios::binary | std::ios::ate);
  return in ? static_cast<size_t>(in.tellg()) : 0;
}
std::string LogText(const std::string& path) {
  std::string text;
  for (const std::string& file : {path + ".1", path}) {
    std::ifstream in(file, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    text += s.str();
  }
  return text;
}

// Checks the lines a log gained; returns how many there were.
size_t CheckLogLines(const std::string& text) {
  size_t lines = 0, pos = 0;
  while (pos < text.size()) {
    const size_t end = text.find("\r\n", pos);
    if (end == std::string::npos) {
      ADD_FAILURE() << "log ends inside a line: " << text.substr(pos, 200);
      break;
    }
    const std::string line = text.substr(pos, end - pos);
    if (!loglines::KnownLine(line)) {
      ADD_FAILURE() << "broken or unknown log line: " << line;
      if (++lines > 20) break;
    }
    ++lines;
    pos = end + 2;
  }
  return lines;
}

std::vector<Document> Documents() {
  std::vector<Document> docs;
  char dir[] = "/tmp/hostile_threads_XXXXXX";
  if (mkdtemp(dir) == nullptr) return docs;
  auto add = [&](const std::string& name, const Bytes& bytes) {
    Document d;
    d.name = name;
    d.path = std::string(dir) + "/" + std::to_string(docs.size()) + ".psd";
    d.bytes = bytes;
    std::ofstream(d.path, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()),
               static_cast<std::streamsize>(bytes.size()));
    docs.push_back(std::move(d));
  };
  for (const auto& [name, bytes] : WriterDocuments()) add(name, bytes);
  size_t taken = 0;
  for (const auto& [name, bytes] : CorpusDocuments(96 * 1024)) {
    if (taken++ % 3 == 0) add(name, bytes);  // a third of them
  }
  return docs;
}

TEST(ThreadsTest, ConcurrentDecodesEqualSerialOnesAndLogLinesStayWhole) {
  const Plugin flatview(HOSTILE_FLATVIEW);
  const Plugin layerpack(HOSTILE_LAYERPACK);
  ASSERT_NE(flatview.handle, nullptr) << dlerror();
  ASSERT_NE(layerpack.handle, nullptr) << dlerror();
  ASSERT_NE(flatview.counts, nullptr);
  const std::vector<Document> docs = Documents();
  ASSERT_GT(docs.size(), 20u);

  // Each log starts afresh: all it holds at the end is this test's.
  const std::string logs[2] = {flatview.path + ".LOG", layerpack.path + ".LOG"};
  for (const std::string& log : logs) {
    remove(log.c_str());
    remove((log + ".1").c_str());
  }

  std::vector<uint64_t> serial;
  for (const Document& d : docs)
    serial.push_back(DecodeAll(flatview, layerpack, d));
  ASSERT_EQ(flatview.Live(), 0);
  ASSERT_EQ(layerpack.Live(), 0);

  const int kThreads = 4;
  const int kRounds = 2;
  std::atomic<int> mismatches{0};
  std::vector<std::string> first_mismatch(kThreads);
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      // Each thread walks the documents from a different starting point,
      // so different documents are decoded at the same moment.
      for (int round = 0; round < kRounds; ++round) {
        for (size_t i = 0; i < docs.size(); ++i) {
          const size_t k = (i + t * docs.size() / kThreads) % docs.size();
          if (DecodeAll(flatview, layerpack, docs[k]) != serial[k]) {
            if (mismatches++ == 0 || first_mismatch[t].empty()) {
              first_mismatch[t] = docs[k].name;
            }
          }
        }
      }
    });
  }
  for (std::thread& t : threads) t.join();
  for (int t = 0; t < kThreads; ++t) {
    EXPECT_TRUE(first_mismatch[t].empty())
        << "thread " << t << " decoded " << first_mismatch[t]
        << " differently from the serial run";
  }
  EXPECT_EQ(mismatches.load(), 0);
  EXPECT_EQ(flatview.Live(), 0) << "flatview left blocks or files";
  EXPECT_EQ(layerpack.Live(), 0) << "layerpack left blocks or files";

  size_t lines = 0;
  for (const std::string& log : logs) {
    lines += CheckLogLines(LogText(log));
    // Past its cap a log starts again; the writers that meet it held by
    // another go on at most to twice the cap.
    EXPECT_LE(FileSize(log), 2u * kLogFileCap) << log;
    EXPECT_LE(FileSize(log + ".1"), 2u * kLogFileCap) << log;
  }
  // Most lines get through; lost ones are allowed, none at all is not.
  EXPECT_GT(lines, docs.size()) << "the plug-ins wrote (almost) no log lines";
  printf("%zu documents, %zu log lines checked\n", docs.size(), lines);
}

}  // namespace
}  // namespace hostile
