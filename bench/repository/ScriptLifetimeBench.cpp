// What scripts cost over a long play: releasing instances and namespaces that hold variables
// (each variable handed to the host, so it may hold a stored Reference), at three sizes, where
// the time per release should stay flat; and a story played chapter by chapter, a region each
// with 2,000 conditions evaluated and then dropped, where the memory in use should stay flat.
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include <benchmark/benchmark.h>

#include "bench/support/BenchSupport.h"
#include "capi/QuorinCAPI.h"
#include "foundation/memory/Memory.h"

namespace {

// One variable per item, written through the address TlxSprigGetVar hands out; every tenth
// also holds a stored Reference to the previous item's variable.
void BindVariables(uint32_t count, const char* format) {
  TlxSprigValue previous{};
  for (uint32_t i = 0; i < count; ++i) {
    char name[48];
    std::snprintf(name, sizeof name, format, i + 1);
    const TlxSprigValue reference = TlxSprigGetVar(name);
    auto* variable = reinterpret_cast<TlxSprigValue*>(static_cast<uintptr_t>(reference.payload));
    if (i % 10 == 9) {
      variable->kind = 0;
      variable->payload = previous.payload;
    } else {
      variable->payload = i;
    }
    previous = reference;
  }
}

// Time per release of `count` items, each with its variables.
template <typename Release>
void MeasureReleases(benchmark::State& state, const char* format, bool instances, Release release) {
  QuorinBench::EnsureMemory();
  const auto count = static_cast<uint32_t>(state.range(0));
  for (auto _ : state) {
    state.PauseTiming();
    TlxInitialize(17, 0);
    for (uint32_t i = 0; instances && i < count; ++i) TlxCreateEmptyInstance(i + 1, 0xFFEE, 0xFFFF, 0xFFFFFFFF);
    BindVariables(count, format);
    state.ResumeTiming();
    for (uint32_t i = 0; i < count; ++i) release(i + 1);
    state.PauseTiming();
    TlxShutdown();
    state.ResumeTiming();
  }
  state.counters["perRelease"] = benchmark::Counter(static_cast<double>(count),
                                                    benchmark::Counter::kIsIterationInvariantRate |
                                                        benchmark::Counter::kInvert);
}

void BM_ReleaseInstances(benchmark::State& state) {
  MeasureReleases(state, "0x%x:v", true, [](uint32_t id) { TlxReleaseInstance(id); });
}
BENCHMARK(BM_ReleaseInstances)->Arg(1000)->Arg(10000)->Arg(100000)->Unit(benchmark::kMillisecond)->Iterations(1);

void BM_ReleaseNamespaces(benchmark::State& state) {
  MeasureReleases(state, "ns%u:v", false, [](uint32_t id) {
    char name[24];
    std::snprintf(name, sizeof name, "ns%u", id);
    TlxSprigReleaseNamespace(name);
  });
}
BENCHMARK(BM_ReleaseNamespaces)->Arg(1000)->Arg(10000)->Arg(100000)->Unit(benchmark::kMillisecond)->Iterations(1);

constexpr uint16_t kPartClass = 0xFFC0;
constexpr uint32_t kConditions = 2000;
constexpr uint32_t kChapters = 50;

// A chapter in a region of its own: kConditions parts, each with a condition text of its own,
// listed in one path whose conditions are all evaluated; then the region is dropped.
void PlayChapter(uint32_t chapter) {
  const auto region = static_cast<uint16_t>(chapter + 1);
  TlxBeginRegionWithId(region);
  std::vector<uint8_t> data(TlxGetClassSizeByte(kPartClass), 0);
  std::vector<TlxReference> parts;
  for (uint32_t i = 0; i < kConditions; ++i) {
    const uint32_t id = chapter * kConditions + i + 1;
    const std::string condition = "story:turn >= " + std::to_string(i) + " && !story:done";
    TlxCreateText(id, condition.c_str());
    const TlxScriptReference script{id, 1};
    std::memcpy(&data[9], &script, sizeof script);
    TlxCreatePrototype(id, kPartClass, 0xFFFF);
    TlxStorePrototypeClassData(id, data.data(), static_cast<uint32_t>(data.size()));
    parts.push_back(TlxReference{id, 1});
  }
  TlxReferenceList* path = TlxCreateListPrototype(region, parts.data(), kConditions);
  TlxResolveConnectionConditions(reinterpret_cast<char*>(path) - sizeof(void*));
  TlxEndRegion();
  TlxDropRegionData(region);
}

void BM_ChapterPlayMemory(benchmark::State& state) {
  QuorinBench::EnsureMemory();
  for (auto _ : state) {
    TlxInitialize(17, 0);
    TlxRegisterDefaultClasses();
    TlxSprigExecute("story:turn = 1000000");
    std::string line = "memory in use per chapter (KiB):";
    double first = 0, last = 0;
    for (uint32_t chapter = 0; chapter < kChapters; ++chapter) {
      PlayChapter(chapter);
      const double kib = static_cast<double>(Bravik::Memory::GetMemoryStatistics().bytesInUse) / 1024.0;
      if (chapter == 0) first = kib;
      last = kib;
      line += " " + std::to_string(static_cast<long long>(kib));
    }
    std::fprintf(stderr, "%s\n", line.c_str());
    state.counters["firstChapterKiB"] = first;
    state.counters["growthPerChapterKiB"] = (last - first) / (kChapters - 1);
    TlxShutdown();
  }
}
BENCHMARK(BM_ChapterPlayMemory)->Unit(benchmark::kMillisecond)->Iterations(1);

}  // namespace
