// Large layered documents read from their files: the engine reads only
// what a request serves. Written at bench time, a part at a time:
//   layered: 6000 x 4000 RGB, 8 full-canvas raw layers, a raw merged
//            picture (648 MB);
//   merged:  the same merged picture alone;
//   sparse:  8000 x 8000 RGB in the large-document format, 24 full-canvas
//            layers left as holes of a sparse file, a PackBits merged
//            picture (4.6 GB, most of it never written).
// The merged picture from the file against the merged-only document and
// against stb_image on the same file, the listing, extracting every entry,
// the sparse document's picture, and the peak memory of the picture and the
// listing (in a fresh process each).
#include "bench/large_bench.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>

#include "bench/bench_documents.h"
#include "bench/bench_report.h"
#include "engine/serve/plugin_abi.h"
#include "large_document.h"

#ifdef HAVE_STB_IMAGE
#include <stb/stb_image.h>
#endif

namespace bench {
namespace {

enum Large { kLargeLayered, kLargeMerged, kLargeSparse, kLargeCount };
const char* const kLargeNames[] = {"layered", "merged", "sparse"};
const uint32_t kLargeLayers = 8;

std::string LargeFolder() {
  static const std::string folder =
      "/tmp/psd_bench_large_" + std::to_string(getpid());
  mkdir(folder.c_str(), 0700);
  return folder;
}

std::string LargePath(Large which) {
  return LargeFolder() + "/" + kLargeNames[which] + ".psb";
}

// Writes the document on first use; empty when it cannot be written.
const std::string& LargeFile(Large which) {
  static std::string paths[kLargeCount];
  if (paths[which].empty()) {
    psdw::LargeDocument d;
    d.width = which == kLargeSparse ? 8000 : kWidth;
    d.height = which == kLargeSparse ? 8000 : kHeight;
    d.layers = which == kLargeLayered  ? kLargeLayers
               : which == kLargeSparse ? 24
                                       : 0;
    d.version = which == kLargeSparse ? 2 : 1;
    d.layer_holes = which == kLargeSparse;
    d.packbits = which == kLargeSparse;
    const std::string path = LargePath(which);
    if (psdw::WriteLargeDocument(path, d)) paths[which] = path;
  }
  return paths[which];
}

// One request of the file: entry `entry`, or the listing.
int32_t DecodeFile(const std::string& path, uint32_t entry, bool list) {
  return DecodeOnce(nullptr, path, entry, list);
}

bool Ready(benchmark::State& state, Large which) {
  if (!LargeFile(which).empty()) return true;
  state.SkipWithError("the document could not be written");
  return false;
}

void Check(benchmark::State& state, int32_t result, int32_t expected) {
  if (result != expected) state.SkipWithError("unexpected result");
}

void BM_LargePicture(benchmark::State& state, Large which) {
  if (!Ready(state, which)) return;
  for (auto _ : state) Check(state, DecodeFile(LargeFile(which), 0, false), 0);
}

void BM_LargeListing(benchmark::State& state) {
  if (!Ready(state, kLargeLayered)) return;
  for (auto _ : state) {
    Check(state, DecodeFile(LargeFile(kLargeLayered), 0, true), 8);
  }
}

// The merged picture and every layer, each a request of its own, as a host
// browsing the archive asks for them.
void BM_LargeExtractAll(benchmark::State& state) {
  if (!Ready(state, kLargeLayered)) return;
  for (auto _ : state) {
    for (uint32_t entry = 0; entry <= kLargeLayers; ++entry) {
      Check(state, DecodeFile(LargeFile(kLargeLayered), entry, false), 0);
    }
  }
}

#ifdef HAVE_STB_IMAGE
void BM_StbLayeredFile(benchmark::State& state) {
  if (!Ready(state, kLargeLayered)) return;
  for (auto _ : state) {
    int width = 0, height = 0, components = 0;
    stbi_uc* pixels = stbi_load(LargeFile(kLargeLayered).c_str(), &width,
                                &height, &components, 0);
    if (!StbDecoded(state, pixels)) break;
  }
}
#endif

}  // namespace

void RegisterLargeDocuments(const Registrar& add) {
  add("large/merged_layered_file",
      [](benchmark::State& s) { BM_LargePicture(s, kLargeLayered); });
  add("large/merged_only_file",
      [](benchmark::State& s) { BM_LargePicture(s, kLargeMerged); });
#ifdef HAVE_STB_IMAGE
  add("stb_image/large_layered_file", BM_StbLayeredFile);
#endif
  add("large/listing_layered_file", BM_LargeListing);
  add("large/extract_all_layered_file", BM_LargeExtractAll);
  add("large/sparse_psb_file",
      [](benchmark::State& s) { BM_LargePicture(s, kLargeSparse); });
}

void ReportLargePeakMemory(const char* self) {
  printf("\nPeak memory of one request, in a fresh process:\n");
  for (const char* kind : {"picture", "listing"}) {
    const std::string command = std::string(self) + " --large-peak-memory-of " +
                                kind + " " + LargeFile(kLargeLayered);
    fflush(stdout);
    if (system(command.c_str()) != 0) printf("  %s: not measured\n", kind);
  }
}

void MeasureLargePeakMemory(const char* kind, const char* path) {
  if (!ResetPeakMemory()) return;
  const long before = StatusKiB("VmRSS:");
  const bool listing = strcmp(kind, "listing") == 0;
  const int32_t result = DecodeFile(path, 0, listing);
  const long peak = StatusKiB("VmHWM:") - before;
  const long target = listing ? 64 * 1024 : 256 * 1024;
  printf(
      "  %-8s of the layered document (result %d): %ld KiB (target <= %ld "
      "KiB: %s)\n",
      kind, result, peak, target, peak <= target ? "met" : "NOT met");
}

void RemoveLargeDocuments() {
  for (int which = 0; which < kLargeCount; ++which) {
    unlink(LargePath(static_cast<Large>(which)).c_str());
  }
  rmdir(LargeFolder().c_str());
}

}  // namespace bench
