// One story step as a host takes it: resolve the node's connections (a hub with four choices,
// each with a condition), test every condition, run the chosen path's outcome, resolve its
// target and free the paths. Reports the blocks the step allocates besides the paths.
#include <cstring>
#include <vector>

#include <benchmark/benchmark.h>

#include "bench/support/BenchSupport.h"
#include "capi/QuorinCAPI.h"

namespace {

constexpr uint16_t kPart = 0xFFC0, kLine = 0xFFDF, kHub = 0xFF0F;

uint32_t g_nextObject = 1, g_nextList = 1, g_nextText = 1;

uint32_t Text(const char* text) {
  TlxCreateText(g_nextText, text);
  return g_nextText++;
}

uint32_t Object(uint16_t classId, const std::vector<std::pair<uint32_t, std::vector<uint8_t>>>& members) {
  std::vector<uint8_t> data(TlxGetClassSizeByte(classId), 0);
  for (const auto& [offset, bytes] : members) std::memcpy(&data[offset], bytes.data(), bytes.size());
  TlxCreatePrototype(g_nextObject, classId, 0xFFFF);
  TlxStorePrototypeClassData(g_nextObject, data.data(), static_cast<uint32_t>(data.size()));
  return g_nextObject++;
}

template <typename T>
std::vector<uint8_t> Bytes(const T& value, size_t size = sizeof(T)) {
  std::vector<uint8_t> bytes(size);
  std::memcpy(bytes.data(), &value, size);
  return bytes;
}

uint32_t List(const std::vector<TlxReference>& entries) {
  TlxCreateListPrototype(g_nextList, entries.data(), static_cast<uint32_t>(entries.size()));
  return g_nextList++;
}

uint32_t Part(uint32_t target, const char* condition, const char* outcome) {
  const TlxScriptReference cond{Text(condition), 1}, out{Text(outcome), 1};
  const TlxReference to{target, 1};
  return Object(kPart, {{4, Bytes(out, 5)}, {9, Bytes(cond, 5)}, {14, Bytes(to, 5)}});
}

// The node: its connection leads to a hub of four conditional choices. Returns the node's
// "Connections" list reference.
TlxListReference BuildStep() {
  std::vector<TlxReference> choices;
  const char* conditions[] = {"step:gold >= 3", "!step:heard", "step:visits < 1000000000", "step:gold > -5"};
  for (const char* condition : conditions) {
    const uint32_t part = Part(Object(kLine, {}), condition, "step:visits += 1");
    choices.push_back({List({{part, 1}}), 3});
  }
  const TlxListReference hubOut{List(choices), 1};
  const uint32_t hub = Object(kHub, {{0, Bytes(hubOut, 5)}});
  const TlxReference toHub{hub, 1};
  const uint32_t entry = Object(kPart, {{14, Bytes(toHub, 5)}});
  return TlxListReference{List({{List({{entry, 1}}), 3}}), 1};
}

void Step(const TlxListReference& connections) {
  void** paths = TlxResolveConnectionsWithIndirections(&connections);
  const uint32_t count = TlxGetResolvedConnectionCount(paths);
  void* chosen = nullptr;
  for (uint32_t i = 0; i < count; ++i)
    if (TlxResolveConnectionConditions(paths[i]) && chosen == nullptr) chosen = paths[i];
  TlxResolveConnectionOutcomes(chosen);
  benchmark::DoNotOptimize(TlxResolveConnectionTarget(chosen));
  TlxFreeResolvedConnection(paths);
}

void BM_StoryStep(benchmark::State& state) {
  QuorinBench::EnsureMemory();
  TlxInitialize(17, 0);
  TlxRegisterDefaultClasses();
  g_nextObject = g_nextList = g_nextText = 1;
  TlxSprigExecute("step:gold = 10");
  const TlxListReference connections = BuildStep();
  Step(connections);  // warm-up: parses the scripts once, fills the allocator's caches
  const QuorinBench::CAllocationCount allocations;
  for (auto _ : state) Step(connections);
  // Per step: four paths, their four entry blocks and the result array.
  const double blocks = allocations.PerIteration(state);
  state.counters["blocks/step"] = blocks;
  state.counters["besides paths"] = blocks - 9.0;
  TlxShutdown();
}

BENCHMARK(BM_StoryStep);

}  // namespace
