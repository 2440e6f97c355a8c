// Decoding speed: the merged picture of 24-megapixel documents, layer
// extraction and listing, the whole GetPicture path from a file, each beside
// stb_image on the same bytes (where it reads the document) and beside the
// memory floors: a fresh write of the output, a warm copy of it, a pass over
// the input, a plain read of the file.
//
// Every figure is the median of several repetitions; a table of figures and
// ratios is printed after the run. The engine writes its log lines next to
// this program (<exe>.LOG) as the plug-ins do; they are part of the cost.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <malloc.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "bench/bench_documents.h"
#include "common/log.h"
#include "engine/plugin_abi.h"

#ifdef HAVE_STB_IMAGE
#include <stb/stb_image.h>
#endif

namespace {

using bench::Content;

const uint32_t kWidth = 6000;
const uint32_t kHeight = 4000;
const uint32_t kLayers = 200;
const int kRepetitions = 7;

// ---------------------------------------------------------------------------
// Documents, built once on first use.

enum Doc {
  kRgbPackPhoto,
  kRgbPackFlat,
  kRgbRawPhoto,
  kGrayPackPhoto,
  kGrayRawPhoto,
  kCmykPackPhoto,
  kRgb16RawPhoto,
  kRgb16PackPhoto,
  kLayered,
  kDocCount
};

const char* const kDocNames[kDocCount] = {
    "rgb8_packbits_photo",  "rgb8_packbits_flat",   "rgb8_raw_photo",
    "gray8_packbits_photo", "gray8_raw_photo",      "cmyk8_packbits_photo",
    "rgb16_raw_photo",      "rgb16_packbits_photo", "layered_200"};

const psdw::Bytes& Document(Doc doc) {
  static std::unique_ptr<psdw::Bytes> cache[kDocCount];
  if (!cache[doc]) {
    psdw::Bytes bytes;
    switch (doc) {
      case kRgbPackPhoto:
        bytes = bench::MergedDocument(3, 8, psdw::kPackBits, Content::kPhoto,
                                      kWidth, kHeight);
        break;
      case kRgbPackFlat:
        bytes = bench::MergedDocument(3, 8, psdw::kPackBits, Content::kFlat,
                                      kWidth, kHeight);
        break;
      case kRgbRawPhoto:
        bytes = bench::MergedDocument(3, 8, psdw::kRaw, Content::kPhoto, kWidth,
                                      kHeight);
        break;
      case kGrayPackPhoto:
        bytes = bench::MergedDocument(1, 8, psdw::kPackBits, Content::kPhoto,
                                      kWidth, kHeight);
        break;
      case kGrayRawPhoto:
        bytes = bench::MergedDocument(1, 8, psdw::kRaw, Content::kPhoto, kWidth,
                                      kHeight);
        break;
      case kCmykPackPhoto:
        bytes = bench::MergedDocument(4, 8, psdw::kPackBits, Content::kPhoto,
                                      kWidth, kHeight);
        break;
      case kRgb16RawPhoto:
        bytes = bench::MergedDocument(3, 16, psdw::kRaw, Content::kPhoto,
                                      kWidth, kHeight);
        break;
      case kRgb16PackPhoto:
        bytes = bench::MergedDocument(3, 16, psdw::kPackBits, Content::kPhoto,
                                      kWidth, kHeight);
        break;
      case kLayered:
        bytes = bench::LayeredDocument(kWidth, kHeight, kLayers);
        break;
      default:
        break;
    }
    cache[doc].reset(new psdw::Bytes(std::move(bytes)));
  }
  return *cache[doc];
}

// The RGB PackBits document written to a file, for the file paths.
const std::string& DocumentFile() {
  static std::string path;
  if (path.empty()) {
    char dir[] = "/tmp/psd_bench.XXXXXX";
    if (mkdtemp(dir) == nullptr) abort();
    path = std::string(dir) + "/photo.psd";
    if (!psdw::WriteFile(path, Document(kRgbPackPhoto))) abort();
  }
  return path;
}

void RemoveDocumentFile() {
  const std::string& path = DocumentFile();
  unlink(path.c_str());
  rmdir(path.substr(0, path.rfind('/')).c_str());
}

// ---------------------------------------------------------------------------
// Calls into the engine.

// Decodes entry `entry` of a memory image (0: the merged picture) and frees
// what it returns. Returns the result code.
int32_t DecodeFromMemory(const psdw::Bytes& doc, uint32_t entry, bool list) {
  HLOCAL header = nullptr;
  HLOCAL pixels = nullptr;
  DecodeRequest request;
  memset(&request, 0, sizeof(request));
  request.size = sizeof(request);
  request.flags = list ? uint32_t{kListFlag} : 0u;
  request.entry_index = entry;
  request.memory_image = doc.data();
  request.memory_length = doc.size();
  request.header_slot = &header;
  request.pixels_slot = &pixels;
  const int32_t result = DecodePictureW(&request);
  benchmark::DoNotOptimize(pixels);
  if (pixels != nullptr) LocalFree(pixels);
  if (header != nullptr) LocalFree(header);
  return result;
}

void CheckResult(benchmark::State& state, int32_t result, int32_t expected) {
  if (result != expected) {
    state.SkipWithError(
        ("unexpected result " + std::to_string(result)).c_str());
  }
}

// ---------------------------------------------------------------------------
// Benchmarks

void BM_Merged(benchmark::State& state, Doc doc) {
  const psdw::Bytes& bytes = Document(doc);
  for (auto _ : state) {
    HLOCAL header = nullptr;
    HLOCAL pixels = nullptr;
    const int32_t result =
        GetPictureW(reinterpret_cast<LPCWSTR>(bytes.data()),
                    static_cast<intptr_t>(bytes.size()), kInputMemory, &header,
                    &pixels, nullptr, 0);
    benchmark::DoNotOptimize(pixels);
    LocalFree(pixels);
    LocalFree(header);
    CheckResult(state, result, 0);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) *
                          static_cast<int64_t>(bytes.size()));
}

#ifdef HAVE_STB_IMAGE
void BM_StbImage(benchmark::State& state, Doc doc) {
  const psdw::Bytes& bytes = Document(doc);
  for (auto _ : state) {
    int width = 0, height = 0, components = 0;
    // No component conversion: stb_image's fastest path for PSD documents.
    stbi_uc* pixels =
        stbi_load_from_memory(bytes.data(), static_cast<int>(bytes.size()),
                              &width, &height, &components, 0);
    if (pixels == nullptr) {
      state.SkipWithError("stb_image does not read this document");
      break;
    }
    benchmark::DoNotOptimize(pixels);
    stbi_image_free(pixels);
  }
}
#endif

void BM_Layer(benchmark::State& state, uint32_t entry) {
  const psdw::Bytes& bytes = Document(kLayered);
  for (auto _ : state) {
    CheckResult(state, DecodeFromMemory(bytes, entry, false), 0);
  }
}

void BM_Listing(benchmark::State& state) {
  const psdw::Bytes& bytes = Document(kLayered);
  for (auto _ : state) {
    CheckResult(state, DecodeFromMemory(bytes, 0, true), 8);
  }
}

void BM_GetPictureFile(benchmark::State& state) {
  const std::string& path = DocumentFile();
  for (auto _ : state) {
    HLOCAL header = nullptr;
    HLOCAL pixels = nullptr;
    const int32_t result =
        GetPicture(path.c_str(), 0, kInputFile, &header, &pixels, nullptr, 0);
    benchmark::DoNotOptimize(pixels);
    LocalFree(pixels);
    LocalFree(header);
    CheckResult(state, result, 0);
  }
}

// Floors ------------------------------------------------------------------

// 72 MB written into memory fresh from the system, then released.
void BM_FreshWrite(benchmark::State& state) {
  const size_t size = size_t{kWidth} * 3 * kHeight;
  for (auto _ : state) {
    char* block = static_cast<char*>(malloc(size));
    memset(block, 0x5A, size);
    benchmark::DoNotOptimize(block);
    benchmark::ClobberMemory();
    free(block);
  }
}

// 72 MB copied between two buffers already in place.
void BM_WarmCopy(benchmark::State& state) {
  const size_t size = size_t{kWidth} * 3 * kHeight;
  std::vector<char> from(size, 1), to(size, 0);
  for (auto _ : state) {
    memcpy(to.data(), from.data(), size);
    benchmark::DoNotOptimize(to.data());
    benchmark::ClobberMemory();
  }
}

// One read of every byte of a document.
void BM_InputPass(benchmark::State& state, Doc doc) {
  const psdw::Bytes& bytes = Document(doc);
  for (auto _ : state) {
    uint64_t sum = 0;
    const uint8_t* p = bytes.data();
    const size_t words = bytes.size() / 8;
    for (size_t i = 0; i < words; ++i) {
      uint64_t w;
      memcpy(&w, p + 8 * i, 8);
      sum += w;
    }
    benchmark::DoNotOptimize(sum);
  }
}

// The document file read once into fresh memory, as the reader does.
void BM_FileRead(benchmark::State& state) {
  const std::string& path = DocumentFile();
  for (auto _ : state) {
    const int fd = open(path.c_str(), O_RDONLY);
    struct stat info;
    fstat(fd, &info);
    const size_t size = static_cast<size_t>(info.st_size);
    char* buffer = static_cast<char*>(malloc(size + 256));
    size_t done = 0;
    while (done < size) {
      const ssize_t n = read(fd, buffer + done, size - done);
      if (n <= 0) break;
      done += static_cast<size_t>(n);
    }
    close(fd);
    benchmark::DoNotOptimize(buffer);
    free(buffer);
    if (done != size) state.SkipWithError("short read");
  }
}

void BM_CopyToDevNull(benchmark::State& state) {
  const std::string command = "cp " + DocumentFile() + " /dev/null";
  for (auto _ : state) {
    if (system(command.c_str()) != 0) state.SkipWithError("cp failed");
  }
}

// One diagnostic line written on its own, as a request with one line
// writes it.
void BM_LogLine(benchmark::State& state) {
  LogBuffer log;
  LogBegin(&log);
  for (auto _ : state) {
    LogLine(&log, "Layers = %d", kLayers);
    LogFlush(&log);
  }
}

// ---------------------------------------------------------------------------
// Registration and the summary

template <class... Args>
void Register(const std::string& name, void (*fn)(benchmark::State&, Args...),
              Args... args) {
  benchmark::RegisterBenchmark(name.c_str(), fn, args...)
      ->Unit(benchmark::kMillisecond)
      ->UseRealTime()
      ->MinTime(0.2)
      ->Repetitions(kRepetitions)
      ->ReportAggregatesOnly(true);
}

void RegisterAll() {
  const Doc merged[] = {kRgbPackPhoto,  kRgbPackFlat,   kRgbRawPhoto,
                        kGrayPackPhoto, kGrayRawPhoto,  kCmykPackPhoto,
                        kRgb16RawPhoto, kRgb16PackPhoto};
  for (Doc doc : merged) {
    Register<Doc>(std::string("merged/") + kDocNames[doc], BM_Merged, doc);
#ifdef HAVE_STB_IMAGE
    if (doc == kRgbPackPhoto || doc == kRgbPackFlat || doc == kRgbRawPhoto ||
        doc == kRgb16RawPhoto || doc == kRgb16PackPhoto) {
      Register<Doc>(std::string("stb_image/") + kDocNames[doc], BM_StbImage,
                    doc);
    }
#endif
  }
  Register<uint32_t>("layer/1", BM_Layer, 1);
  Register<uint32_t>("layer/200", BM_Layer, kLayers);
  Register("layer/listing", BM_Listing);
  Register("file/GetPicture", BM_GetPictureFile);
  Register("file/read", BM_FileRead);
  Register("file/cp_to_dev_null", BM_CopyToDevNull);
  Register("floor/fresh_write_72MB", BM_FreshWrite);
  Register("floor/warm_memcpy_72MB", BM_WarmCopy);
  Register("floor/log_line", BM_LogLine);
  Register<Doc>(std::string("floor/input_pass/") + kDocNames[kRgbPackPhoto],
                BM_InputPass, kRgbPackPhoto);
  Register<Doc>(std::string("floor/input_pass/") + kDocNames[kRgbRawPhoto],
                BM_InputPass, kRgbRawPhoto);
}

// Keeps the median of every benchmark (seconds) while the console shows
// the usual report.
class MedianCollector : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    for (const Run& run : runs) {
      if (run.error_occurred) continue;
      if (run.run_type == Run::RT_Aggregate && run.aggregate_name == "median") {
        const double unit = benchmark::GetTimeUnitMultiplier(run.time_unit);
        medians_[run.run_name.function_name] = run.GetAdjustedRealTime() / unit;
        cpu_medians_[run.run_name.function_name] =
            run.GetAdjustedCPUTime() / unit;
      }
    }
    ConsoleReporter::ReportRuns(runs);
  }

  // Median seconds of real time, or a negative value when the benchmark
  // did not run.
  double Get(const std::string& name) const {
    auto it = medians_.find(name);
    return it == medians_.end() ? -1.0 : it->second;
  }

  // Median seconds of this process's processor time (kernel included).
  double GetCpu(const std::string& name) const {
    auto it = cpu_medians_.find(name);
    return it == cpu_medians_.end() ? -1.0 : it->second;
  }

 private:
  std::map<std::string, double> medians_;
  std::map<std::string, double> cpu_medians_;
};

void PrintFigure(const MedianCollector& c, const std::string& name) {
  const double t = c.Get(name);
  if (t < 0) {
    printf("  %-44s %12s\n", name.c_str(), "n/a");
  } else {
    printf("  %-44s %10.3f ms  (cpu %8.3f ms)\n", name.c_str(), t * 1e3,
           c.GetCpu(name) * 1e3);
  }
}

// `numerator` / `denominator` against a target; `at_least` says which side
// of the target passes.
void PrintRatio(const char* what, double numerator, double denominator,
                double target, bool at_least) {
  if (numerator <= 0 || denominator <= 0) {
    printf("  %-58s %8s   (target %s %.1f)\n", what, "n/a",
           at_least ? ">=" : "<=", target);
    return;
  }
  const double ratio = numerator / denominator;
  const bool met = at_least ? ratio >= target : ratio <= target;
  printf("  %-58s %8.2f   (target %s %.1f: %s)\n", what, ratio,
         at_least ? ">=" : "<=", target, met ? "met" : "NOT met");
}

void PrintSummary(const MedianCollector& c) {
  printf(
      "\nFigures (medians of %d repetitions, real time; processor time of "
      "this process beside it):\n",
      kRepetitions);
  const char* const names[] = {"merged/rgb8_packbits_photo",
                               "stb_image/rgb8_packbits_photo",
                               "merged/rgb8_packbits_flat",
                               "stb_image/rgb8_packbits_flat",
                               "merged/rgb8_raw_photo",
                               "stb_image/rgb8_raw_photo",
                               "merged/gray8_packbits_photo",
                               "merged/gray8_raw_photo",
                               "merged/cmyk8_packbits_photo",
                               "merged/rgb16_raw_photo",
                               "stb_image/rgb16_raw_photo",
                               "merged/rgb16_packbits_photo",
                               "stb_image/rgb16_packbits_photo",
                               "layer/1",
                               "layer/200",
                               "layer/listing",
                               "file/GetPicture",
                               "file/read",
                               "file/cp_to_dev_null",
                               "floor/fresh_write_72MB",
                               "floor/warm_memcpy_72MB",
                               "floor/input_pass/rgb8_packbits_photo",
                               "floor/input_pass/rgb8_raw_photo",
                               "floor/log_line"};
  for (const char* name : names) PrintFigure(c, name);

  const double fresh = c.Get("floor/fresh_write_72MB");
  const double pass_packed = c.Get("floor/input_pass/rgb8_packbits_photo");
  const double pass_raw = c.Get("floor/input_pass/rgb8_raw_photo");
  const double packed = c.Get("merged/rgb8_packbits_photo");
  const double raw = c.Get("merged/rgb8_raw_photo");
  const double from_file = c.Get("file/GetPicture");
  const double read = c.Get("file/read");

  printf("\nRatios:\n");
  PrintRatio("stb_image / merged, RGB 8-bit PackBits (photo)",
             c.Get("stb_image/rgb8_packbits_photo"), packed, 3.0, true);
  PrintRatio("stb_image / merged, RGB 8-bit PackBits (flat)",
             c.Get("stb_image/rgb8_packbits_flat"),
             c.Get("merged/rgb8_packbits_flat"), 3.0, true);
  PrintRatio("stb_image / merged, RGB 8-bit raw (photo)",
             c.Get("stb_image/rgb8_raw_photo"), raw, 3.0, true);
  PrintRatio("stb_image / merged, RGB 16-bit raw (photo)",
             c.Get("stb_image/rgb16_raw_photo"),
             c.Get("merged/rgb16_raw_photo"), 3.0, true);
  PrintRatio("merged PackBits / (fresh write + input pass)", packed,
             fresh > 0 && pass_packed > 0 ? fresh + pass_packed : -1, 2.0,
             false);
  PrintRatio("merged raw / (fresh write + input pass)", raw,
             fresh > 0 && pass_raw > 0 ? fresh + pass_raw : -1, 2.0, false);
  // Layer 1 already parses all 200 records; layer 200 adds the stepping.
  PrintRatio("layer 200 / layer 1 (records parsed in both)", c.Get("layer/200"),
             c.Get("layer/1"), 2.0, false);
  const double listing = c.Get("layer/listing");
  printf("  %-58s %8.3f   (target < 1 ms: %s)\n", "listing of 200 layers, ms",
         listing * 1e3, listing > 0 && listing < 1e-3 ? "met" : "NOT met");
  // The listing logs two lines per layer record and six more.
  const double line = c.Get("floor/log_line");
  if (line > 0) {
    printf("  %-58s %8.3f\n", "  of which 406 log lines, ms (estimate)",
           406 * line * 1e3);
  }
  PrintRatio("GetPicture from a file / (file read + merged from memory)",
             from_file, read > 0 && packed > 0 ? read + packed : -1, 1.5,
             false);
  PrintRatio("GetPicture from a file / file read alone", from_file, read, 1.5,
             false);
}

// Peak resident memory of one decode from the file at `path`, beyond what
// the process held before it, against the file buffer and the output
// blocks. Run in a fresh process, whose heap holds no freed memory that the
// decode could reuse unseen.
void ReportPeakMemory(const std::string& path) {
  struct stat info;
  if (stat(path.c_str(), &info) != 0) return;
  auto read_status = [](const char* key) -> long {
    FILE* f = fopen("/proc/self/status", "r");
    if (f == nullptr) return -1;
    char line[256];
    long value = -1;
    const size_t n = strlen(key);
    while (fgets(line, sizeof line, f) != nullptr) {
      if (strncmp(line, key, n) == 0) value = atol(line + n);
    }
    fclose(f);
    return value;  // KiB
  };
  // Writing 5 resets the peak to the current resident size.
  FILE* clear = fopen("/proc/self/clear_refs", "w");
  if (clear == nullptr) {
    printf("\nPeak memory: /proc/self/clear_refs not writable\n");
    return;
  }
  fputs("5", clear);
  fclose(clear);
  const long before = read_status("VmRSS:");
  HLOCAL header = nullptr;
  HLOCAL pixels = nullptr;
  const int32_t result =
      GetPicture(path.c_str(), 0, kInputFile, &header, &pixels, nullptr, 0);
  const long peak = read_status("VmHWM:");
  const double pixel_bytes =
      pixels != nullptr ? static_cast<double>(LocalSize(pixels)) : 0;
  const double header_bytes =
      header != nullptr ? static_cast<double>(LocalSize(header)) : 0;
  LocalFree(pixels);
  LocalFree(header);
  const double file_bytes = static_cast<double>(info.st_size) + 256;
  const double extra_kib = static_cast<double>(peak - before) -
                           (file_bytes + pixel_bytes + header_bytes) / 1024.0;
  printf("Peak memory of GetPicture from a file (result %d):\n", result);
  printf(
      "  peak resident growth %ld KiB; file buffer %.0f KiB + blocks "
      "%.0f KiB; beyond them %.0f KiB (target: a few hundred)\n",
      peak - before, file_bytes / 1024.0, (pixel_bytes + header_bytes) / 1024.0,
      extra_kib);
}

// Runs this program again to measure one decode's peak memory.
void ReportPeakMemoryInChild(const char* self) {
  const std::string command =
      std::string(self) + " --peak-memory-of " + DocumentFile();
  printf("\n");
  fflush(stdout);
  if (system(command.c_str()) != 0) printf("Peak memory: not measured\n");
}

}  // namespace

int main(int argc, char** argv) {
  // Large blocks always come fresh from the system and go back to it, as a
  // viewer's picture blocks do: no decode reuses the pages of the last one.
  mallopt(M_MMAP_THRESHOLD, 256 * 1024);
  mallopt(M_TRIM_THRESHOLD, 512 * 1024);
  if (argc == 3 && strcmp(argv[1], "--peak-memory-of") == 0) {
    ReportPeakMemory(argv[2]);
    return 0;
  }
  // The engine's log grows with every decode: start each run afresh.
  char exe[4096];
  char exe_path[4096];
  const ssize_t n = readlink("/proc/self/exe", exe, sizeof exe - 5);
  exe_path[0] = 0;
  if (n > 0) {
    memcpy(exe_path, exe, static_cast<size_t>(n));
    exe_path[n] = 0;
    memcpy(exe + n, ".LOG", 5);
    unlink(exe);
  }
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  RegisterAll();
  MedianCollector collector;
  benchmark::RunSpecifiedBenchmarks(&collector);
  PrintSummary(collector);
  ReportPeakMemoryInChild(exe_path);
  RemoveDocumentFile();
  benchmark::Shutdown();
  return 0;
}
