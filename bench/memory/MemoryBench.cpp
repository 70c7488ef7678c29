// Small-block allocate+free pairs against glibc and mimalloc, and the cost of a free with a
// thousand versus a million live blocks.
#include <dlfcn.h>

#include <cstdint>
#include <cstdlib>
#include <random>
#include <vector>

#include <benchmark/benchmark.h>

#include "bench/support/BenchSupport.h"
#include "capi/QuorinCAPI.h"

namespace {

using MallocFunction = void* (*)(size_t);
using FreeFunction = void (*)(void*);

// mimalloc is opened locally so that it does not replace glibc's malloc in this process.
struct Mimalloc {
  MallocFunction malloc = nullptr;
  FreeFunction free = nullptr;
  Mimalloc() {
    void* library = dlopen("libmimalloc.so.2", RTLD_NOW | RTLD_LOCAL);
    if (library == nullptr) return;
    malloc = reinterpret_cast<MallocFunction>(dlsym(library, "mi_malloc"));
    free = reinterpret_cast<FreeFunction>(dlsym(library, "mi_free"));
  }
};
const Mimalloc& Mi() {
  static Mimalloc mi;
  return mi;
}

void BM_BrvMallocFree(benchmark::State& state) {
  QuorinBench::EnsureMemory();
  const uint64_t size = static_cast<uint64_t>(state.range(0));
  const auto allocate = QuorinBench::Exported(&BrvMalloc);
  const auto release = QuorinBench::Exported(&BrvFree);
  for (auto _ : state) {
    void* block = allocate(size, 1);
    benchmark::DoNotOptimize(block);
    release(block);
  }
}

void BM_GlibcMallocFree(benchmark::State& state) {
  const size_t size = static_cast<size_t>(state.range(0));
  for (auto _ : state) {
    void* block = std::malloc(size);
    benchmark::DoNotOptimize(block);
    std::free(block);
  }
}

void BM_MimallocMallocFree(benchmark::State& state) {
  if (Mi().malloc == nullptr) return state.SkipWithError("libmimalloc.so.2 not found");
  const size_t size = static_cast<size_t>(state.range(0));
  for (auto _ : state) {
    void* block = Mi().malloc(size);
    benchmark::DoNotOptimize(block);
    Mi().free(block);
  }
}

// With `live` blocks of 64 bytes held, each step frees one block and allocates its replacement,
// so the population stays the same. range(1) 0 frees the oldest block (the cost of the free itself),
// 1 a block picked at random (adds the cache misses of touching cold memory).
template <typename Allocate, typename Release>
void ChurnLive(benchmark::State& state, Allocate allocate, Release release) {
  const size_t live = static_cast<size_t>(state.range(0));
  const bool randomOrder = state.range(1) != 0;
  std::vector<void*> blocks(live);
  std::mt19937_64 random(42);
  for (void*& block : blocks) block = allocate(64);
  std::vector<uint32_t> order(1 << 16);
  for (size_t i = 0; i < order.size(); ++i)
    order[i] = static_cast<uint32_t>(randomOrder ? random() % live : i % live);
  size_t step = 0;
  size_t cursor = 0;
  for (auto _ : state) {
    const size_t index = randomOrder ? order[step++ & (order.size() - 1)] : cursor++ % live;
    void*& block = blocks[index];
    release(block);
    block = allocate(64);
  }
  for (void* block : blocks) release(block);
}

void BM_BrvChurnLive(benchmark::State& state) {
  QuorinBench::EnsureMemory();
  const auto allocate = QuorinBench::Exported(&BrvMalloc);
  const auto release = QuorinBench::Exported(&BrvFree);
  ChurnLive(state, [=](uint64_t size) { return allocate(size, 1); }, [=](void* block) { release(block); });
}

void BM_GlibcChurnLive(benchmark::State& state) {
  ChurnLive(state, [](size_t size) { return std::malloc(size); }, [](void* block) { std::free(block); });
}

BENCHMARK(BM_BrvMallocFree)->RangeMultiplier(4)->Range(16, 1024);
BENCHMARK(BM_GlibcMallocFree)->RangeMultiplier(4)->Range(16, 1024);
BENCHMARK(BM_MimallocMallocFree)->RangeMultiplier(4)->Range(16, 1024);
BENCHMARK(BM_BrvChurnLive)->ArgsProduct({{1000, 1000000}, {0, 1}});
BENCHMARK(BM_GlibcChurnLive)->ArgsProduct({{1000, 1000000}, {0, 1}});

const bool kRatios = [] {
  for (const char* size : {"16", "64", "256", "1024"}) {
    QuorinBench::RegisterRatio(std::string("BM_BrvMallocFree/") + size, std::string("BM_GlibcMallocFree/") + size);
    QuorinBench::RegisterRatio(std::string("BM_BrvMallocFree/") + size, std::string("BM_MimallocMallocFree/") + size);
  }
  for (const char* order : {"/0", "/1"}) {
    const std::string o = order;
    QuorinBench::RegisterRatio("BM_BrvChurnLive/1000000" + o, "BM_BrvChurnLive/1000" + o);
    QuorinBench::RegisterRatio("BM_GlibcChurnLive/1000000" + o, "BM_GlibcChurnLive/1000" + o);
    QuorinBench::RegisterRatio("BM_BrvChurnLive/1000000" + o, "BM_GlibcChurnLive/1000000" + o);
  }
  return true;
}();

}  // namespace
