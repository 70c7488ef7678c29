#include <cstdio>
#include <map>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include <benchmark/benchmark.h>

#include "bench/support/BenchSupport.h"
#include "foundation/memory/Memory.h"

namespace QuorinBench {

CAllocationCount::CAllocationCount() : m_before(Bravik::Memory::GetMemoryStatistics().allocations) {}

double CAllocationCount::PerIteration(const benchmark::State& state) const {
  const uint64_t made = Bravik::Memory::GetMemoryStatistics().allocations - m_before;
  return static_cast<double>(made) / static_cast<double>(state.iterations());
}

namespace {
std::vector<std::pair<std::string, std::string>>& Ratios() {
  static std::vector<std::pair<std::string, std::string>> ratios;
  return ratios;
}
std::vector<std::pair<std::string, std::string>>& ThroughputRatios() {
  static std::vector<std::pair<std::string, std::string>> ratios;
  return ratios;
}

// Prints the usual table and keeps each benchmark's real time per iteration for the ratios.
class RatioReporter : public benchmark::ConsoleReporter {
 public:
  std::map<std::string, double> times;
  std::map<std::string, double> throughputs;  // bytes per second, where a benchmark sets them
  std::set<std::string> medians;

  void ReportRuns(const std::vector<Run>& runs) override {
    // With repetitions the median stands for the benchmark; otherwise its single run does.
    for (const Run& run : runs) {
      const auto bytes = run.counters.find("bytes_per_second");
      if (run.run_type == Run::RT_Aggregate && run.aggregate_name == "median") {
        times[run.run_name.str()] = run.GetAdjustedCPUTime();
        if (bytes != run.counters.end()) throughputs[run.run_name.str()] = bytes->second;
        medians.insert(run.run_name.str());
      } else if (run.run_type == Run::RT_Iteration && run.iterations > 0 && !medians.count(run.benchmark_name())) {
        times[run.benchmark_name()] = run.GetAdjustedCPUTime();
        if (bytes != run.counters.end()) throughputs[run.benchmark_name()] = bytes->second;
      }
    }
    ConsoleReporter::ReportRuns(runs);
  }
};
}  // namespace

bool RegisterRatio(const std::string& name, const std::string& baseline) {
  Ratios().emplace_back(name, baseline);
  return true;
}

bool RegisterThroughputRatio(const std::string& name, const std::string& baseline) {
  ThroughputRatios().emplace_back(name, baseline);
  return true;
}

void EnsureMemory() { Bravik::Memory::InitializeMemory(nullptr, nullptr, nullptr, Bravik::Memory::kNoLimit); }

}  // namespace QuorinBench

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  QuorinBench::EnsureMemory();
  QuorinBench::RatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  std::printf("\n%-56s %-40s %8s\n", "Ratio (CPU time)", "against", "ratio");
  for (const auto& [name, baseline] : QuorinBench::Ratios()) {
    auto a = reporter.times.find(name), b = reporter.times.find(baseline);
    if (a == reporter.times.end() || b == reporter.times.end() || b->second <= 0) continue;
    std::printf("%-56s %-40s %8.2f\n", name.c_str(), baseline.c_str(), a->second / b->second);
  }
  std::printf("\n%-56s %-40s %8s\n", "Ratio (throughput)", "against", "ratio");
  for (const auto& [name, baseline] : QuorinBench::ThroughputRatios()) {
    auto a = reporter.throughputs.find(name), b = reporter.throughputs.find(baseline);
    if (a == reporter.throughputs.end() || b == reporter.throughputs.end() || b->second <= 0) continue;
    std::printf("%-56s %-40s %8.2f\n", name.c_str(), baseline.c_str(), a->second / b->second);
  }
  benchmark::Shutdown();
  return 0;
}
