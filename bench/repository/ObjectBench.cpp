// Objects: prototype look-up by id among a million prototypes against std::map and
// std::unordered_map on the same ids, instance create+release pairs, and the bytes the
// repository spends per stored prototype.
#include <algorithm>
#include <cstdint>
#include <map>
#include <numeric>
#include <random>
#include <unordered_map>
#include <vector>

#include <benchmark/benchmark.h>

#include "bench/support/BenchSupport.h"
#include "capi/QuorinCAPI.h"
#include "foundation/memory/Memory.h"
#include "repository/Objects.h"

namespace {

constexpr uint32_t kPrototypeCount = 1000000;
constexpr uint16_t kClass37 = 0x0137;  // 37 bytes: DWord x 9 + Byte

// The ids in a fixed random order: inserted in one order, looked up in another.
struct IdSet {
  std::vector<uint32_t> insertOrder;
  std::vector<uint32_t> lookupOrder;
  IdSet() : insertOrder(kPrototypeCount), lookupOrder(kPrototypeCount) {
    std::mt19937 random(17);
    for (uint32_t i = 0; i < kPrototypeCount; ++i) insertOrder[i] = i * 2654435761u;
    lookupOrder = insertOrder;
    std::shuffle(insertOrder.begin(), insertOrder.end(), random);
    std::shuffle(lookupOrder.begin(), lookupOrder.end(), random);
  }
};
const IdSet& Ids() {
  static const IdSet ids;
  return ids;
}

void StartLibrary() {
  QuorinBench::EnsureMemory();
  TlxInitialize(17, 0);
}

void Register37ByteClass() {
  if (TlxIsClassRegistered(kClass37)) return;
  TlxBeginClassType(0xFFFF);
  for (const char* name : {"a", "b", "c", "d", "e", "f", "g", "h", "i"}) TlxAddClassMember(name, 4, 1);
  TlxAddClassMember("j", 0, 1);
  TlxEndClassType("Bench37", kClass37);
}

// A million prototypes in the repository; built once and rebuilt if another benchmark cleared it.
void EnsurePrototypes() {
  StartLibrary();
  static TlxObject* probe = nullptr;
  const uint32_t probeId = Ids().insertOrder[0];
  if (probe != nullptr && TlxGetPrototype(probeId) == probe) return;
  TlxClearRepository();
  for (uint32_t id : Ids().insertOrder) TlxCreatePrototype(id, 1, 2);
  probe = TlxGetPrototype(probeId);
}

void BM_TlxGetPrototype(benchmark::State& state) {
  EnsurePrototypes();
  const std::vector<uint32_t>& ids = Ids().lookupOrder;
  size_t next = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(TlxGetPrototype(ids[next]));
    if (++next == ids.size()) next = 0;
  }
}

template <typename Map>
void LookUpInMap(benchmark::State& state) {
  Map map;
  std::vector<TlxObject> objects(kPrototypeCount);
  for (size_t i = 0; i < kPrototypeCount; ++i) map.emplace(Ids().insertOrder[i], &objects[i]);
  const std::vector<uint32_t>& ids = Ids().lookupOrder;
  size_t next = 0;
  for (auto _ : state) {
    auto found = map.find(ids[next]);
    benchmark::DoNotOptimize(found == map.end() ? nullptr : found->second);
    if (++next == ids.size()) next = 0;
  }
}

void BM_StdMapFind(benchmark::State& state) { LookUpInMap<std::map<uint32_t, TlxObject*>>(state); }
void BM_StdUnorderedMapFind(benchmark::State& state) {
  LookUpInMap<std::unordered_map<uint32_t, TlxObject*>>(state);
}

BENCHMARK(BM_TlxGetPrototype);
BENCHMARK(BM_StdMapFind);
BENCHMARK(BM_StdUnorderedMapFind);
const bool kLookUpRatios =
    QuorinBench::RegisterRatio("BM_TlxGetPrototype", "BM_StdMapFind") &&
    QuorinBench::RegisterRatio("BM_TlxGetPrototype", "BM_StdUnorderedMapFind");

// One instance made from a prototype with class data and released again, per iteration. After
// the warm-up round every slot and data block comes from the region's free lists; the counters
// show the blocks and bytes the timed loop left behind (0 when nothing was allocated).
void BM_InstanceCreateRelease(benchmark::State& state) {
  StartLibrary();
  TlxClearRepository();
  Register37ByteClass();
  const uint8_t data[37] = {1, 2, 3};
  TlxCreatePrototype(1, kClass37, 0xFFFF);
  TlxStorePrototypeClassData(1, data, sizeof data);
  TlxReleaseInstance(TlxGetObjectId(TlxCreateInstanceFromPrototype(1, 1)));
  const Bravik::Memory::MemoryStatistics before = Bravik::Memory::GetMemoryStatistics();
  for (auto _ : state) {
    benchmark::DoNotOptimize(TlxCreateInstanceFromPrototype(1, 1));
    TlxReleaseInstance(1);
  }
  const Bravik::Memory::MemoryStatistics after = Bravik::Memory::GetMemoryStatistics();
  state.counters["new_blocks"] = static_cast<double>(after.liveBlocks - before.liveBlocks);
  state.counters["new_bytes"] = static_cast<double>(after.bytesInUse - before.bytesInUse);
  state.SetItemsProcessed(state.iterations());
  TlxClearRepository();
}
BENCHMARK(BM_InstanceCreateRelease);

// Bytes in use per prototype of a 37-byte class with its class data stored, against the object
// struct plus its 37 data bytes. Each iteration adds prototypes on top of the earlier ones, so
// the manager's counter sees fresh pool memory rather than blocks an earlier round gave back.
void BM_PrototypeBytes(benchmark::State& state) {
  constexpr uint32_t kCount = 100000;
  const uint8_t data[37] = {1, 2, 3};
  StartLibrary();
  TlxClearRepository();
  Register37ByteClass();
  double perPrototype = 0;
  uint32_t next = 0;
  for (auto _ : state) {
    const uint64_t before = Bravik::Memory::GetMemoryStatistics().bytesInUse;
    for (const uint32_t end = next + kCount; next < end; ++next) {
      TlxCreatePrototype(next, kClass37, 0xFFFF);
      TlxStorePrototypeClassData(next, data, sizeof data);
    }
    const uint64_t after = Bravik::Memory::GetMemoryStatistics().bytesInUse;
    perPrototype = static_cast<double>(after - before) / kCount;
  }
  TlxClearRepository();
  const double ideal = static_cast<double>(sizeof(Quorin::CObject_Internal) + 37);
  state.counters["bytes_per_prototype"] = perPrototype;
  state.counters["ideal_bytes"] = ideal;
  state.counters["ratio"] = perPrototype / ideal;
}
BENCHMARK(BM_PrototypeBytes)->Iterations(3)->Unit(benchmark::kMillisecond);

}  // namespace
