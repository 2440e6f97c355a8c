// The benchmarks' summary: the median of every benchmark, the figures and
// the ratios against their targets, and the peak memory of one decode.
#pragma once

#include <benchmark/benchmark.h>

#include <map>
#include <string>
#include <vector>

namespace bench {

// Keeps the median of every benchmark (seconds) while the console shows
// the usual report.
class MedianCollector : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override;
  // Median seconds of real time, or a negative value when the benchmark
  // did not run.
  double Get(const std::string& name) const;
  // Median seconds of this process's processor time (kernel included).
  double GetCpu(const std::string& name) const;

 private:
  std::map<std::string, double> medians_;
  std::map<std::string, double> cpu_medians_;
};

void PrintSummary(const MedianCollector& c, int repetitions);

// The peer library's composite of the document at `path` (psd-tools'
// PSDImage.composite() through /usr/bin/python3, timed once), beside
// "composite/rgb8_10_layers".
void PrintPeerComposite(const MedianCollector& c, const std::string& path);

// Resets the process's peak resident size to its current one; false where
// /proc/self/clear_refs cannot be written.
bool ResetPeakMemory();
// A field of /proc/self/status ("VmRSS:", "VmHWM:") in KiB, or -1.
long StatusKiB(const char* key);

// Peak resident memory of one GetPicture of the file at `path`, beyond the
// output blocks. Run it in a fresh process.
void ReportPeakMemory(const std::string& path);

}  // namespace bench
