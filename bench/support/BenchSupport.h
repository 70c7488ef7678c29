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

}  // namespace QuorinBench
