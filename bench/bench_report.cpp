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
  const double magick = c.Get("merged/rgb8_packbits_imagemagick");
  PrintRatio("stb_image / merged, RGB 8-bit PackBits (ImageMagick)",
             c.Get("stb_image/rgb8_packbits_imagemagick"), magick, 3.0, true);
  PrintRatio("merged ImageMagick-written / merged clean, same picture", magick,
             packed, 1.2, false);
  PrintRatio("merged, large-document format / the same picture in a .psd",
             c.Get("merged/rgb8_packbits_photo_psb"), packed, 1.1, false);
  PrintRatio("zip 16-bit layer / zlib's inflate of its streams alone",
             c.Get("layer/zip16_layer"), c.Get("floor/inflate_zip16_layer"),
             1.3, false);
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
  PrintRatio("GetPicture from a file / (file read + merged from memory)",
             from_file, read > 0 && packed > 0 ? read + packed : -1, 1.5,
             false);
  PrintRatio("GetPicture from a file / file read alone", from_file, read, 1.5,
             false);
  const double layered = c.Get("large/merged_layered_file");
  const double merged_only = c.Get("large/merged_only_file");
  PrintRatio("large: merged from the layered file / from the merged-only one",
             layered, merged_only, 1.25, false);
  PrintRatio("large: stb_image / merged, the layered file",
             c.Get("stb_image/large_layered_file"), layered, 1.5, true);
  const double large_listing = c.Get("large/listing_layered_file");
  printf("  %-58s %8.3f   (target < 0.05 s: %s)\n",
         "large: listing of the layered file, s", large_listing,
         large_listing >= 0 && large_listing < 0.05 ? "met" : "NOT met");
  PrintRatio("large: all 9 entries / the merged-only file's picture",
             c.Get("large/extract_all_layered_file"), merged_only, 11.0, false);
  const double sparse = c.Get("large/sparse_psb_file");
  printf("  %-58s %8.3f   (target < 2 s: %s)\n",
         "large: 8000 x 8000 of a 4.6 GB sparse .psb, s", sparse,
         sparse >= 0 && sparse < 2 ? "met" : "NOT met");
  PrintRatio("composite of 10 layers / decoding those layers alone",
             c.Get("composite/rgb8_10_layers"), c.Get("composite/layers_alone"),
             4.0, false);
  PrintRatio("a layer under curves / under a second Normal layer",
             c.Get("composite/curves"), c.Get("composite/2_layers"), 1.1,
             false);
  PrintRatio("a layer under hue/saturation / under a second Normal layer",
             c.Get("composite/hue_saturation"), c.Get("composite/2_layers"),
             1.1, false);
  // Two Normal passes, and the shadow's at most four more.
  PrintRatio("a layer with a drop shadow of 50 over another / two layers",
             c.Get("composite/drop_shadow"), c.Get("composite/2_layers"), 3.0,
             false);
  PrintRatio("merged PackBits photo: one thread / every core",
             c.Get("one_thread/merged/rgb8_packbits_photo"), packed, 1.6, true);
  PrintRatio("composite of 10 layers: one thread / every core",
             c.Get("one_thread/composite/rgb8_10_layers"),
             c.Get("composite/rgb8_10_layers"), 1.6, true);
  PrintRatio("full-canvas vector mask / one 8-bit channel (gray merged)",
             c.Get("vector_mask/full_canvas"),
             c.Get("merged/gray8_packbits_photo"), 1.0, false);
  PrintRatio("CMYK with the SWOP profile / the same without a profile",
             c.Get("merged/cmyk8_packbits_photo_swop"),
             c.Get("merged/cmyk8_packbits_photo"), 2.0, false);
  PrintRatio("RGB with the Adobe RGB profile / the same without a profile",
             c.Get("merged/rgb8_packbits_photo_adobe_rgb"), packed, 1.5, false);
  PrintRatio("gray with the Dot Gain 20% profile / the same without a profile",
             c.Get("merged/gray8_packbits_photo_dot_gain"),
             c.Get("merged/gray8_packbits_photo"), 1.05, false);
  PrintRatio("16-bit RGB with the Adobe RGB profile / the same without one",
             c.Get("merged/rgb16_packbits_photo_adobe_rgb"),
             c.Get("merged/rgb16_packbits_photo"), 1.5, false);
  PrintRatio("the same, on one thread",
             c.Get("one_thread/merged/rgb16_packbits_photo_adobe_rgb"),
             c.Get("one_thread/merged/rgb16_packbits_photo"), 1.5, false);
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

// Peak resident memory of one decode from the file at `path`, beyond what
// the process held before it, against the output blocks. Run in a fresh
// process, whose heap holds no freed memory that the decode could reuse unseen.
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
