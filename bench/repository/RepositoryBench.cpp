// Type look-up by id (the tree descent behind TlxGetClassType and every member access by name)
// against std::map and std::unordered_map over the same ids, in the same process.
#include <algorithm>
#include <cstdint>
#include <map>
#include <random>
#include <unordered_map>
#include <vector>

#include <benchmark/benchmark.h>

#include "bench/support/BenchSupport.h"
#include "capi/QuorinCAPI.h"

namespace {

constexpr uint32_t kTypeCount = 4096;

// The ids registered (spread over the 16-bit space) and a shuffled order to look them up in.
struct TypeIds {
  std::vector<uint16_t> ids;
  std::vector<uint16_t> order;
  TypeIds() {
    std::mt19937 random(7);
    for (uint32_t i = 0; i < kTypeCount; ++i) ids.push_back(static_cast<uint16_t>(i * 13 + 1));
    order = ids;
    std::shuffle(order.begin(), order.end(), random);
  }
};

const TypeIds& Ids() {
  static const TypeIds ids;
  return ids;
}

void BM_RepositoryGetClassType(benchmark::State& state) {
  QuorinBench::EnsureMemory();
  TlxInitialize(17, 0);
  const TlxMember member{1, (1u << 5) | 4u};
  for (uint16_t id : Ids().ids) TlxRegisterClassType("Bench", id, &member, 1);
  size_t i = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(TlxGetClassType(Ids().order[i]));
    if (++i == kTypeCount) i = 0;
  }
  TlxShutdown();
}

template <typename Map>
void LookUpIn(benchmark::State& state) {
  Map map;
  std::vector<TlxTypeInfo> infos(kTypeCount);
  for (uint32_t k = 0; k < kTypeCount; ++k) map[Ids().ids[k]] = &infos[k];
  size_t i = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(map.find(Ids().order[i])->second);
    if (++i == kTypeCount) i = 0;
  }
}

void BM_StdMapTypeLookUp(benchmark::State& state) { LookUpIn<std::map<uint16_t, TlxTypeInfo*>>(state); }
void BM_StdUnorderedMapTypeLookUp(benchmark::State& state) {
  LookUpIn<std::unordered_map<uint16_t, TlxTypeInfo*>>(state);
}

BENCHMARK(BM_RepositoryGetClassType);
BENCHMARK(BM_StdMapTypeLookUp);
BENCHMARK(BM_StdUnorderedMapTypeLookUp);

const bool kRatios = QuorinBench::RegisterRatio("BM_RepositoryGetClassType", "BM_StdMapTypeLookUp") &&
                     QuorinBench::RegisterRatio("BM_RepositoryGetClassType", "BM_StdUnorderedMapTypeLookUp");

}  // namespace
