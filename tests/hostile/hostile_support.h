// Helpers of the hostile-document tests: documents held in memory with
// nothing readable after their last byte, the entry points that take memory
// images run with their results, block accounting and output checked, and
// the places of a document's length fields.
#pragma once

#include <gtest/gtest.h>
#include <limits.h>
#include <stdint.h>
#include <string.h>
#include <sys/mman.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "engine/serve/plugin_abi.h"
#include "fuzz/fuzz_support.h"
#include "platform/accounting.h"

namespace hostile {

using Bytes = std::vector<uint8_t>;

#if defined(__SANITIZE_ADDRESS__)
#define HOSTILE_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define HOSTILE_ASAN 1
#endif
#endif

// A copy of a document whose last byte is the last readable byte: under the
// address sanitizer an exactly sized heap block, elsewhere the end of a
// mapping followed by an inaccessible page, so an over-read faults in every
// build. The sweeps make hundreds of thousands of them: one mapping, grown
// as needed, serves each in turn (mapping and unmapping each anew cost more
// than the decodes), and one made while it is in use gets its own.
class ExactImage {
 public:
  explicit ExactImage(const uint8_t* data, size_t size) : size_(size) {
#ifdef HOSTILE_ASAN
    heap_ = new uint8_t[size ? size : 1];
    if (size != 0) memcpy(heap_, data, size);
    bytes_ = heap_;
#else
    const size_t page = static_cast<size_t>(sysconf(_SC_PAGESIZE));
    const size_t needed = (size + page - 1) / page * page + page;
    Region& shared = Shared();
    region_ = __atomic_exchange_n(&shared.busy, true, __ATOMIC_ACQUIRE)
                  ? &own_
                  : &shared;
    if (region_->mapped < needed) Map(region_, needed, page);
    bytes_ = region_->base + region_->mapped - page - size;
    if (size != 0) memcpy(bytes_, data, size);
#endif
  }
  explicit ExactImage(const Bytes& b) : ExactImage(b.data(), b.size()) {}
  ~ExactImage() {
#ifdef HOSTILE_ASAN
    delete[] heap_;
#else
    if (region_ == &own_) {
      munmap(own_.base, own_.mapped);
    } else {
      __atomic_store_n(&region_->busy, false, __ATOMIC_RELEASE);
    }
#endif
  }
  ExactImage(const ExactImage&) = delete;
  ExactImage& operator=(const ExactImage&) = delete;
  const uint8_t* data() const { return bytes_; }
  size_t size() const { return size_; }

 private:
  size_t size_;
  uint8_t* bytes_ = nullptr;
#ifdef HOSTILE_ASAN
  uint8_t* heap_ = nullptr;
#else
  struct Region {
    uint8_t* base;
    size_t mapped;  // its last page inaccessible
    bool busy;
  };
  static Region& Shared() {
    static Region region = {nullptr, 0, false};
    return region;
  }
  static void Map(Region* r, size_t bytes, size_t page) {
    if (r->base != nullptr) munmap(r->base, r->mapped);
    void* m = mmap(nullptr, bytes, PROT_READ | PROT_WRITE,
                   MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    r->base = static_cast<uint8_t*>(m);
    r->mapped = bytes;
    mprotect(r->base + bytes - page, page, PROT_NONE);
  }
  Region* region_ = nullptr;
  Region own_ = {nullptr, 0, false};
#endif
};

// A request for one entry of a memory image, the way the archive entry
// points fill it; `pixels` null asks for the header only.
inline DecodeRequest MemoryRequest(const ExactImage& image, uint32_t entry,
                                   HLOCAL* header, HLOCAL* pixels) {
  return fuzzcheck::MemoryRequest(image.data(), image.size(), entry, header,
                                  pixels);
}

inline PlatformCounts Counts() {
  PlatformCounts c;
  PlatformGetCounts(&c);
  return c;
}

// FNV-1a over everything a call handed out, so that runs can be compared.
struct Digest {
  uint64_t value = 1469598103934665603ull;
  void Add(const void* data, size_t size) {
    const uint8_t* p = static_cast<const uint8_t*>(data);
    for (size_t i = 0; i < size; ++i) {
      value = (value ^ p[i]) * 1099511628211ull;
    }
  }
  void Add(int64_t v) { Add(&v, sizeof v); }
};

// What the entry points did with one document; `failures` collects every
// broken rule, with the call that broke it.
struct Outcome {
  std::vector<int32_t> results;
  Digest digest;
  std::vector<std::string> failures;
};

// Runs every entry point that takes a memory image over `doc`: GetPicture,
// GetPictureInfo, GetArchiveInfo, GetFileInfo (the merged picture and the
// first layers) and DecodePictureW for the first `layers` layer entries and
// one beyond. Checks results, accounting and block sizes, and reads every
// byte handed out. Defined in hostile_calls.cpp.
Outcome RunEntryPoints(const ExactImage& doc, uint32_t layers = 3);

// Where a document keeps its length fields (offset and width), as far as
// they can be found; corrupting them one at a time is the sweep's second
// half. Defined in hostile_documents.cpp.
struct Field {
  size_t offset;
  uint32_t width;  // 2 or 4
  const char* what;
};
std::vector<Field> LengthFields(const Bytes& doc);

// End of the header, sections, resources and layer records: truncations
// before it are the interesting ones.
size_t StructureEnd(const Bytes& doc);

// The documents to sweep: the shared collections (the corpus and the
// further documents beside it, "extra/..." by name; documents of at most
// `max_size` bytes) and the test-document writer's set
// (hostile_documents.cpp).
std::vector<std::pair<std::string, Bytes>> CorpusDocuments(size_t max_size);
std::vector<std::pair<std::string, Bytes>> WriterDocuments();

// One case in how many the sweeps run: HOSTILE_SAMPLE in the environment
// (the quick tier runs a sample; 1, every case, without it).
size_t SampleEvery();

// The log goes to <executable>.LOG: the sweeps send it to /dev/null.
void SendLogToNowhere();

}  // namespace hostile
