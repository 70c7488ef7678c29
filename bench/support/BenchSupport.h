// Shared pieces of the benchmark program: ratio lines printed after the table, and the
// allocator start-up every benchmark needs.
#pragma once

#include <string>

namespace QuorinBench {

// After the run, prints "name / baseline = ratio" of the two benchmarks' real times.
// Names are the full benchmark names as printed in the table (e.g. "BM_X/16").
bool RegisterRatio(const std::string& name, const std::string& baseline);

// Starts the library allocator on the runtime's malloc (idempotent).
void EnsureMemory();

// A host calls the exports through the library's export table and can never inline them; the
// benchmark program links the library's objects, so it calls them through this pointer instead.
template <typename F>
F* Exported(F* function) {
  F* volatile pointer = function;
  return pointer;
}

}  // namespace QuorinBench
