// The summary printed after the benchmarks.
#include "bench/bench_report.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>

#include "engine/serve/plugin_abi.h"

namespace bench {

void MedianCollector::ReportRuns(const std::vector<Run>& runs) {
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

double MedianCollector::Get(const std::string& name) const {
  auto it = medians_.find(name);
  return it == medians_.end() ? -1.0 : it->second;
}

double MedianCollector::GetCpu(const std::string& name) const {
  auto it = cpu_medians_.find(name);
  return it == cpu_medians_.end() ? -1.0 : it->second;
}

namespace {

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

// `numerator` / `denominator` of two figures against a target; a row
// without `what` stands for the ratios of sums (PrintFigureRatios).
struct RatioRow {
  const char* what;
  const char* numerator;
  const char* denominator;
  double target;
  bool at_least;
};

const RatioRow kRatios[] = {
    {"stb_image / merged, RGB 8-bit PackBits (photo)",
     "stb_image/rgb8_packbits_photo", "merged/rgb8_packbits_photo", 3.0, true},
    {"stb_image / merged, RGB 8-bit PackBits (flat)",
     "stb_image/rgb8_packbits_flat", "merged/rgb8_packbits_flat", 3.0, true},
    {"stb_image / merged, RGB 8-bit raw (photo)", "stb_image/rgb8_raw_photo",
     "merged/rgb8_raw_photo", 3.0, true},
    {"stb_image / merged, RGB 16-bit raw (photo)", "stb_image/rgb16_raw_photo",
     "merged/rgb16_raw_photo", 3.0, true},
    {"stb_image / merged, RGB 8-bit PackBits (ImageMagick)",
     "stb_image/rgb8_packbits_imagemagick", "merged/rgb8_packbits_imagemagick",
     3.0, true},
    {"merged ImageMagick-written / merged clean, same picture",
     "merged/rgb8_packbits_imagemagick", "merged/rgb8_packbits_photo", 1.2,
     false},
    {"merged, large-document format / the same picture in a .psd",
     "merged/rgb8_packbits_photo_psb", "merged/rgb8_packbits_photo", 1.1,
     false},
    {"zip 16-bit layer / zlib's inflate of its streams alone",
     "layer/zip16_layer", "floor/inflate_zip16_layer", 1.3, false},
    {nullptr, nullptr, nullptr, 0, false},
    // Layer 1 already parses all 200 records; layer 200 adds the stepping.
    {"layer 200 / layer 1 (records parsed in both)", "layer/200", "layer/1",
     2.0, false},
    {"large: merged from the layered file / from the merged-only one",
     "large/merged_layered_file", "large/merged_only_file", 1.25, false},
    {"large: stb_image / merged, the layered file",
     "stb_image/large_layered_file", "large/merged_layered_file", 1.5, true},
    {"large: all 9 entries / the merged-only file's picture",
     "large/extract_all_layered_file", "large/merged_only_file", 11.0, false},
    {"composite of 10 layers / decoding those layers alone",
     "composite/rgb8_10_layers", "composite/layers_alone", 4.0, false},
    {"a layer under curves / under a second Normal layer", "composite/curves",
     "composite/2_layers", 1.1, false},
    {"a layer under hue/saturation / under a second Normal layer",
     "composite/hue_saturation", "composite/2_layers", 1.1, false},
    // Two Normal passes, and the shadow's at most four more.
    {"a layer with a drop shadow of 50 over another / two layers",
     "composite/drop_shadow", "composite/2_layers", 3.0, false},
    {"merged PackBits photo: one thread / every core",
     "one_thread/merged/rgb8_packbits_photo", "merged/rgb8_packbits_photo", 1.6,
     true},
    {"composite of 10 layers: one thread / every core",
     "one_thread/composite/rgb8_10_layers", "composite/rgb8_10_layers", 1.6,
     true},
    {"full-canvas vector mask / one 8-bit channel (gray merged)",
     "vector_mask/full_canvas", "merged/gray8_packbits_photo", 1.0, false},
    {"CMYK with the SWOP profile / the same without a profile",
     "merged/cmyk8_packbits_photo_swop", "merged/cmyk8_packbits_photo", 2.0,
     false},
    {"RGB with the Adobe RGB profile / the same without a profile",
     "merged/rgb8_packbits_photo_adobe_rgb", "merged/rgb8_packbits_photo", 1.5,
     false},
    {"gray with the Dot Gain 20% profile / the same without a profile",
     "merged/gray8_packbits_photo_dot_gain", "merged/gray8_packbits_photo",
     1.05, false},
    {"16-bit RGB with the Adobe RGB profile / the same without one",
     "merged/rgb16_packbits_photo_adobe_rgb", "merged/rgb16_packbits_photo",
     1.5, false},
    {"the same, on one thread",
     "one_thread/merged/rgb16_packbits_photo_adobe_rgb",
     "one_thread/merged/rgb16_packbits_photo", 1.5, false},
};

// The ratios whose denominators are sums of figures.
void PrintFigureRatios(const MedianCollector& c, double fresh,
                       double pass_packed, double pass_raw, double from_file,
                       double read) {
  const double packed = c.Get("merged/rgb8_packbits_photo");
  const double raw = c.Get("merged/rgb8_raw_photo");
  PrintRatio("merged PackBits / (fresh write + input pass)", packed,
             fresh > 0 && pass_packed > 0 ? fresh + pass_packed : -1, 2.0,
             false);
  PrintRatio("merged raw / (fresh write + input pass)", raw,
             fresh > 0 && pass_raw > 0 ? fresh + pass_raw : -1, 2.0, false);
  PrintRatio("GetPicture from a file / (file read + merged from memory)",
             from_file, read > 0 && packed > 0 ? read + packed : -1, 1.5,
             false);
  PrintRatio("GetPicture from a file / file read alone", from_file, read, 1.5,
             false);
}

// Figures held against a time of their own.
void PrintTarget(const char* what, double value, double scale, double below,
                 const char* target) {
  printf("  %-58s %8.3f   (target < %s: %s)\n", what, value * scale, target,
         value >= 0 && value < below ? "met" : "NOT met");
}

void PrintTargets(const MedianCollector& c) {
  PrintTarget("listing of 200 layers, ms", c.Get("layer/listing"), 1e3, 1e-3,
              "1 ms");
  PrintTarget("large: listing of the layered file, s",
              c.Get("large/listing_layered_file"), 1, 0.05, "0.05 s");
  PrintTarget("large: 8000 x 8000 of a 4.6 GB sparse .psb, s",
              c.Get("large/sparse_psb_file"), 1, 2, "2 s");
}

}  // namespace

void PrintSummary(const MedianCollector& c, int repetitions) {
  printf(
      "\nFigures (medians of %d repetitions, real time; processor time of "
      "this process beside it):\n",
      repetitions);
  const char* const names[] = {"merged/rgb8_packbits_photo",
                               "stb_image/rgb8_packbits_photo",
                               "merged/rgb8_packbits_flat",
                               "stb_image/rgb8_packbits_flat",
                               "merged/rgb8_raw_photo",
                               "stb_image/rgb8_raw_photo",
                               "merged/gray8_packbits_photo",
                               "merged/gray8_raw_photo",
                               "merged/cmyk8_packbits_photo",
                               "merged/cmyk8_packbits_photo_swop",
                               "merged/rgb8_packbits_photo_adobe_rgb",
                               "merged/gray8_packbits_photo_dot_gain",
                               "merged/rgb16_packbits_photo_adobe_rgb",
                               "merged/rgb16_raw_photo",
                               "stb_image/rgb16_raw_photo",
                               "merged/rgb16_packbits_photo",
                               "stb_image/rgb16_packbits_photo",
                               "merged/rgb8_packbits_imagemagick",
                               "stb_image/rgb8_packbits_imagemagick",
                               "merged/rgb8_zip_photo",
                               "merged/rgb8_packbits_photo_psb",
                               "layer/1",
                               "layer/200",
                               "layer/listing",
                               "composite/rgb8_10_layers",
                               "composite/layers_alone",
                               "composite/2_layers",
                               "composite/curves",
                               "composite/hue_saturation",
                               "composite/drop_shadow",
                               "one_thread/merged/rgb8_packbits_photo",
                               "one_thread/composite/rgb8_10_layers",
                               "vector_mask/full_canvas",
                               "layer/zip16_layer",
                               "floor/inflate_zip16_layer",
                               "file/GetPicture",
                               "file/read",
                               "file/cp_to_dev_null",
                               "floor/fresh_write_72MB",
                               "floor/warm_memcpy_72MB",
                               "floor/input_pass/rgb8_packbits_photo",
                               "floor/input_pass/rgb8_raw_photo",
                               "floor/log_line",
                               "large/merged_layered_file",
                               "large/merged_only_file",
                               "stb_image/large_layered_file",
                               "large/listing_layered_file",
                               "large/extract_all_layered_file",
                               "large/sparse_psb_file"};
  for (const char* name : names) PrintFigure(c, name);

  const double fresh = c.Get("floor/fresh_write_72MB");
  const double pass_packed = c.Get("floor/input_pass/rgb8_packbits_photo");
  const double pass_raw = c.Get("floor/input_pass/rgb8_raw_photo");
  const double from_file = c.Get("file/GetPicture");
  const double read = c.Get("file/read");

  printf("\nRatios:\n");
  for (const RatioRow& row : kRatios) {
    if (row.what == nullptr) {
      PrintFigureRatios(c, fresh, pass_packed, pass_raw, from_file, read);
      continue;
    }
    PrintRatio(row.what, c.Get(row.numerator), c.Get(row.denominator),
               row.target, row.at_least);
  }
  PrintTargets(c);
}

void PrintPeerComposite(const MedianCollector& c, const std::string& path) {
  const char kPython[] = "/usr/bin/python3";
  const std::string command =
      std::string(kPython) +
      " -c 'import sys, time, warnings; warnings.simplefilter(\"ignore\")\n"
      "from psd_tools import PSDImage\n"
      "t = time.time(); PSDImage.open(sys.argv[1]).composite()\n"
      "print(time.time() - t)' " +
      path + " 2>/dev/null";
  double seconds = -1;
  FILE* p = popen(command.c_str(), "r");
  if (p != nullptr) {
    if (fscanf(p, "%lf", &seconds) != 1) seconds = -1;
    pclose(p);
  }
  printf("\nThe peer library (psd-tools) on the composite document:\n");
  if (seconds < 0) {
    printf("  not measured (%s with psd_tools not available)\n", kPython);
    return;
  }
  printf("  %-44s %10.3f ms\n", "psd-tools PSDImage.composite()",
         seconds * 1e3);
  PrintRatio("psd-tools composite / composite", seconds,
             c.Get("composite/rgb8_10_layers"), 30.0, true);
}

bool ResetPeakMemory() {
  FILE* clear = fopen("/proc/self/clear_refs", "w");
  if (clear == nullptr) return false;
  fputs("5", clear);  // the peak becomes the current resident size
  fclose(clear);
  return true;
}

long StatusKiB(const char* key) {
  FILE* f = fopen("/proc/self/status", "r");
  if (f == nullptr) return -1;
  char line[256];
  long value = -1;
  const size_t n = strlen(key);
  while (fgets(line, sizeof line, f) != nullptr) {
    if (strncmp(line, key, n) == 0) value = atol(line + n);
  }
  fclose(f);
  return value;
}

// Peak resident memory of one decode from the file at `path`, beyond what
// the process held before it, against the output blocks. Run in a fresh
// process, whose heap holds no freed memory that the decode could reuse unseen.
void ReportPeakMemory(const std::string& path) {
  struct stat info;
  if (stat(path.c_str(), &info) != 0) return;
  if (!ResetPeakMemory()) {
    printf("\nPeak memory: /proc/self/clear_refs not writable\n");
    return;
  }
  const long before = StatusKiB("VmRSS:");
  HLOCAL header = nullptr;
  HLOCAL pixels = nullptr;
  const int32_t result =
      GetPicture(path.c_str(), 0, kInputFile, &header, &pixels, nullptr, 0);
  const long peak = StatusKiB("VmHWM:");
  const double pixel_bytes =
      pixels != nullptr ? static_cast<double>(LocalSize(pixels)) : 0;
  const double header_bytes =
      header != nullptr ? static_cast<double>(LocalSize(header)) : 0;
  LocalFree(pixels);
  LocalFree(header);
  // The file is read a piece at a time: beyond the blocks handed out, the
  // request holds its pieces and rows.
  const double extra_kib = static_cast<double>(peak - before) -
                           (pixel_bytes + header_bytes) / 1024.0;
  printf("Peak memory of GetPicture from a file (result %d):\n", result);
  printf(
      "  peak resident growth %ld KiB; blocks %.0f KiB; beyond them %.0f KiB "
      "(target: a few thousand at most)\n",
      peak - before, (pixel_bytes + header_bytes) / 1024.0, extra_kib);
}

}  // namespace bench
