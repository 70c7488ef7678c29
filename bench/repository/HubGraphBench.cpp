// Connection resolution over a dense cyclic story: n hubs, each connected to every other hub
// and (with an exit) to one dialogue fragment, entered through a connection to the first hub.
// Enumerating every simple path would take seconds to minutes; one resolution does bounded
// work, so each of these stays in milliseconds. Reports the paths one resolution returns.
#include <cstdint>
#include <cstring>
#include <vector>

#include <benchmark/benchmark.h>

#include "bench/support/BenchSupport.h"
#include "capi/QuorinCAPI.h"

namespace {

constexpr uint16_t kPart = 0xFFC0, kLine = 0xFFDF, kHub = 0xFF0F;

struct HubGraph {
  uint32_t nextObject = 1, nextList = 1;

  uint32_t Object(uint16_t classId, uint32_t offset, const void* member) {
    std::vector<uint8_t> data(TlxGetClassSizeByte(classId), 0);
    if (member != nullptr) std::memcpy(&data[offset], member, 5);
    TlxCreatePrototype(nextObject, classId, 0xFFFF);
    TlxStorePrototypeClassData(nextObject, data.data(), static_cast<uint32_t>(data.size()));
    return nextObject++;
  }
  uint32_t List(const std::vector<TlxReference>& entries) {
    TlxCreateListPrototype(nextList, entries.data(), static_cast<uint32_t>(entries.size()));
    return nextList++;
  }
  // A connection of one part that targets the object.
  uint32_t ConnectionTo(uint32_t object) {
    const TlxReference target{object, 1};
    return List({{Object(kPart, 14, &target), 1}});
  }

  // Returns the connection that enters the first hub.
  uint32_t Build(uint32_t hubs, bool exit) {
    const uint32_t firstHubList = 1000000;
    std::vector<uint32_t> toHub;
    for (uint32_t i = 0; i < hubs; ++i) {
      const TlxListReference connections{firstHubList + i, 1};
      toHub.push_back(ConnectionTo(Object(kHub, 0, &connections)));
    }
    const uint32_t toExit = ConnectionTo(Object(kLine, 0, nullptr));
    for (uint32_t i = 0; i < hubs; ++i) {
      std::vector<TlxReference> entries;
      for (uint32_t j = 0; j < hubs; ++j)
        if (j != i) entries.push_back({toHub[j], 3});
      if (exit) entries.push_back({toExit, 3});
      TlxCreateListPrototype(firstHubList + i, entries.data(), static_cast<uint32_t>(entries.size()));
    }
    return toHub[0];
  }
};

// Arguments: the number of hubs, and 1 when the hubs lead out to a fragment.
void BM_ResolveCompleteHubGraph(benchmark::State& state) {
  QuorinBench::EnsureMemory();
  TlxInitialize(17, 0);
  TlxRegisterDefaultClasses();
  HubGraph graph;
  const uint32_t entry = graph.Build(static_cast<uint32_t>(state.range(0)), state.range(1) != 0);
  void* connection = reinterpret_cast<char*>(TlxGetListPrototype(entry)) - sizeof(void*);
  uint32_t paths = 0;
  for (auto _ : state) {
    void** result = QuorinBench::Exported(&TlxResolveConnectionWithIndirections)(connection);
    paths = TlxGetResolvedConnectionCount(result);
    TlxFreeResolvedConnection(result);
  }
  state.counters["paths"] = paths;
  TlxShutdown();
}

BENCHMARK(BM_ResolveCompleteHubGraph)
    ->Args({10, 1})
    ->Args({11, 1})
    ->Args({12, 0})
    ->Unit(benchmark::kMillisecond);

}  // namespace
