// Benchmarks of large layered documents read from their files.
#pragma once

#include <benchmark/benchmark.h>

#include <string>

namespace bench {

// Registers one benchmark as the others are (median of repetitions).
using Registrar = void (*)(const std::string& name,
                           void (*run)(benchmark::State&));

void RegisterLargeDocuments(const Registrar& add);

// Runs this program again (`self`) for the peak memory of the layered
// document's picture and listing; MeasureLargePeakMemory is what the child
// does.
void ReportLargePeakMemory(const char* self);
void MeasureLargePeakMemory(const char* kind, const char* path);

// Removes the documents written for the benchmarks.
void RemoveLargeDocuments();

}  // namespace bench
