// Shared pieces of the benchmark program: ratio lines printed after the table, and the
// allocator start-up every benchmark needs.
#pragma once

#include <cstdint>
#include <string>

#include <benchmark/benchmark.h>

namespace QuorinBench {

// After the run, prints "name / baseline = ratio" of the two benchmarks' real times.
// Names are the full benchmark names as printed in the table (e.g. "BM_X/16").
bool RegisterRatio(const std::string& name, const std::string& baseline);
// The same for benchmarks that set the bytes they process, whose work differs in size: the
// ratio of their throughputs (bytes per second), above 1 when `name` is faster.
bool RegisterThroughputRatio(const std::string& name, const std::string& baseline);

// Starts the library allocator on the runtime's malloc (idempotent).
void EnsureMemory();

// Library allocations made from construction on, per iteration of a benchmark loop.
class CAllocationCount {
 public:
  CAllocationCount();
  double PerIteration(const benchmark::State& state) const;

 private:
  uint64_t m_before;
};

// A host calls the exports through the library's export table and can never inline them; the
// benchmark program links the library's objects, so it calls them through this pointer instead.
template <typename F>
F* Exported(F* function) {
  F* volatile pointer = function;
  return pointer;
}

}  // namespace QuorinBench
