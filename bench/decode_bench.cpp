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
#include <zlib.h>

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "bench/bench_documents.h"
#include "bench/bench_report.h"
#include "bench/large_bench.h"
#include "common/log.h"
#include "engine/base/threads.h"
#include "engine/compose/layer/vector_mask.h"
#include "engine/serve/plugin_abi.h"

#ifdef HAVE_STB_IMAGE
#include <stb/stb_image.h>
#endif

namespace {

using namespace bench;  // NOLINT: the benchmarks' own documents

const int kRepetitions = 7;

// ---------------------------------------------------------------------------
// Calls into the engine.

// Decodes entry `entry` (0: the merged picture) and frees it; the result.
int32_t DecodeFromMemory(const psdw::Bytes& doc, uint32_t entry, bool list) {
  return DecodeOnce(&doc, std::string(), entry, list);
}

void CheckResult(benchmark::State& state, int32_t result, int32_t expected) {
  if (result != expected) {
    state.SkipWithError(
        ("unexpected result " + std::to_string(result)).c_str());
  }
}

// ---------------------------------------------------------------------------
// Benchmarks

// Skips the benchmark when its document could not be made.
bool DocumentReady(benchmark::State& state, Doc doc) {
  if (!Document(doc).empty()) return true;
  state.SkipWithError(DocumentMissing(doc).c_str());
  return false;
}

void BM_Merged(benchmark::State& state, Doc doc) {
  if (!DocumentReady(state, doc)) return;
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
  if (!DocumentReady(state, doc)) return;
  const psdw::Bytes& bytes = Document(doc);
  for (auto _ : state) {
    int width = 0, height = 0, components = 0;
    // No component conversion: stb_image's fastest path for PSD documents.
    stbi_uc* pixels =
        stbi_load_from_memory(bytes.data(), static_cast<int>(bytes.size()),
                              &width, &height, &components, 0);
    if (!StbDecoded(state, pixels)) break;
  }
}
#endif

void BM_Layer(benchmark::State& state, uint32_t entry) {
  const psdw::Bytes& bytes = Document(kLayered);
  for (auto _ : state) {
    CheckResult(state, DecodeFromMemory(bytes, entry, false), 0);
  }
}

void BM_ZipLayer(benchmark::State& state) {
  const psdw::Bytes& bytes = Document(kZipLayer16);
  for (auto _ : state) {
    CheckResult(state, DecodeFromMemory(bytes, 1, false), 0);
  }
}

// zlib's inflate alone over the zip layer's streams, into one reused row of
// fresh memory per channel: the floor of the layer's decode.
void BM_InflateZipLayer(benchmark::State& state) {
  const std::vector<psdw::Bytes>& streams = ZipLayerStreams();
  const size_t plane = size_t{kWidth} * kHeight * 2;
  for (auto _ : state) {
    std::unique_ptr<uint8_t[]> out(new uint8_t[plane]);
    for (const psdw::Bytes& s : streams) {
      uLongf size = static_cast<uLongf>(plane);
      if (uncompress(out.get(), &size, s.data(),
                     static_cast<uLong>(s.size())) != Z_OK) {
        state.SkipWithError("inflate failed");
      }
      benchmark::DoNotOptimize(out.get());
    }
  }
}

// The composite of a document saved without a merged picture.
void BM_CompositeOf(benchmark::State& state, Doc doc) {
  const psdw::Bytes& bytes = Document(doc);
  for (auto _ : state) {
    CheckResult(state, DecodeFromMemory(bytes, 0, false), 0);
  }
}

// Held to one thread, against which the bands on every core are measured.
void BM_MergedOneThread(benchmark::State& state, Doc doc) {
  engine::HoldThreadsTo(1);
  BM_Merged(state, doc);
  engine::HoldThreadsTo(0);
}

void BM_CompositeOneThread(benchmark::State& state) {
  engine::HoldThreadsTo(1);
  BM_CompositeOf(state, kComposite);
  engine::HoldThreadsTo(0);
}

// Each of the composite document's layer pictures, decoded on its own: the
// pixels the composite reads.
void BM_CompositeLayersAlone(benchmark::State& state) {
  const psdw::Bytes& bytes = Document(kComposite);
  for (auto _ : state) {
    for (uint32_t entry = 1; entry <= kCompositeRecords; ++entry) {
      DecodeFromMemory(bytes, entry, false);
    }
  }
}

// The coverage of a vector mask as large as the document (an ellipse
// touching its sides with a star cut out), row by row.
void BM_VectorMaskFullCanvas(benchmark::State& state) {
  const double w = kWidth, h = kHeight;
  psdw::Subpath ellipse;
  const double k = 0.5522847498;
  const double points[4][6] = {
      {w, h / 2, w, h / 2 - k * h / 2, w, h / 2 + k * h / 2},
      {w / 2, h, w / 2 + k * w / 2, h, w / 2 - k * w / 2, h},
      {0, h / 2, 0, h / 2 + k * h / 2, 0, h / 2 - k * h / 2},
      {w / 2, 0, w / 2 - k * w / 2, 0, w / 2 + k * w / 2, 0}};
  for (const auto& p : points) {
    psdw::PathKnot knot;
    knot.x = p[0];
    knot.y = p[1];
    knot.in_x = p[2];
    knot.in_y = p[3];
    knot.out_x = p[4];
    knot.out_y = p[5];
    ellipse.knots.push_back(knot);
  }
  psdw::Subpath star;
  star.operation = 2;
  const double sx[5] = {0.5, 0.8, 0.2, 0.85, 0.15},
               sy[5] = {0.1, 0.9, 0.4, 0.4, 0.9};
  for (int i = 0; i < 5; ++i) {
    star.knots.push_back(psdw::CornerKnot(sx[i] * w, sy[i] * h));
  }
  const psdw::Bytes block =
      psdw::VectorMaskBlock({ellipse, star}, kWidth, kHeight);
  std::vector<uint8_t> row(size_t{kWidth} * 4, 255);
  for (auto _ : state) {
    engine::VectorMask mask;
    // The block's data follows "8BIM", the key and the length.
    if (engine::OpenVectorMask(block.data() + 12,
                               static_cast<uint32_t>(block.size() - 12), kWidth,
                               kHeight, 255, &mask) != 0 ||
        !mask.active) {
      state.SkipWithError("the vector mask was not read");
      break;
    }
    for (uint32_t y = 0; y < kHeight; ++y) {
      engine::ApplyVectorMaskRow(&mask, static_cast<int32_t>(y), 0, kWidth,
                                 row.data());
    }
    benchmark::DoNotOptimize(row.data());
    engine::CloseVectorMask(&mask);
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

void RegisterPlain(const std::string& name, void (*run)(benchmark::State&)) {
  Register(name, run);
}

void RegisterAll() {
  const Doc merged[] = {
      kRgbPackPhoto,      kRgbPackFlat,          kRgbRawPhoto,
      kGrayPackPhoto,     kGrayRawPhoto,         kCmykPackPhoto,
      kRgb16RawPhoto,     kRgb16PackPhoto,       kRgbPackImageMagick,
      kRgbZipPhoto,       kRgbPackPhotoLarge,    kCmykPackPhotoSwop,
      kRgbPackPhotoAdobe, kGrayPackPhotoDotGain, kRgb16PackPhotoAdobe};
  for (Doc doc : merged) {
    Register<Doc>(std::string("merged/") + kDocNames[doc], BM_Merged, doc);
#ifdef HAVE_STB_IMAGE
    if (doc == kRgbPackPhoto || doc == kRgbPackFlat || doc == kRgbRawPhoto ||
        doc == kRgb16RawPhoto || doc == kRgb16PackPhoto ||
        doc == kRgbPackImageMagick) {
      Register<Doc>(std::string("stb_image/") + kDocNames[doc], BM_StbImage,
                    doc);
    }
#endif
  }
  Register<uint32_t>("layer/1", BM_Layer, 1);
  Register<uint32_t>("layer/200", BM_Layer, kLayers);
  Register("layer/listing", BM_Listing);
  Register<Doc>("composite/rgb8_10_layers", BM_CompositeOf, kComposite);
  Register("composite/layers_alone", BM_CompositeLayersAlone);
  Register<Doc>("composite/2_layers", BM_CompositeOf, kTwoLayers);
  Register<Doc>("composite/curves", BM_CompositeOf, kCurvesOver);
  Register<Doc>("composite/hue_saturation", BM_CompositeOf, kHueOver);
  Register<Doc>("composite/drop_shadow", BM_CompositeOf, kShadowOver);
  Register<Doc>("one_thread/merged/rgb8_packbits_photo", BM_MergedOneThread,
                kRgbPackPhoto);
  Register("one_thread/composite/rgb8_10_layers", BM_CompositeOneThread);
  // The profile's cost where other work shares the processor: one thread.
  for (Doc doc : {kRgb16PackPhoto, kRgb16PackPhotoAdobe}) {
    Register<Doc>(std::string("one_thread/merged/") + kDocNames[doc],
                  BM_MergedOneThread, doc);
  }
  Register("vector_mask/full_canvas", BM_VectorMaskFullCanvas);
  Register("layer/zip16_layer", BM_ZipLayer);
  Register("floor/inflate_zip16_layer", BM_InflateZipLayer);
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
  RegisterLargeDocuments(RegisterPlain);
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
    bench::ReportPeakMemory(argv[2]);
    return 0;
  }
  if (argc == 4 && strcmp(argv[1], "--large-peak-memory-of") == 0) {
    bench::MeasureLargePeakMemory(argv[2], argv[3]);
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
  bench::MedianCollector collector;
  benchmark::RunSpecifiedBenchmarks(&collector);
  bench::PrintSummary(collector, kRepetitions);
  bench::PrintPeerComposite(collector, DocumentFileOf(kComposite));
  ReportPeakMemoryInChild(exe_path);
  bench::ReportLargePeakMemory(exe_path);
  RemoveDocumentFile();
  bench::RemoveLargeDocuments();
  benchmark::Shutdown();
  return 0;
}
