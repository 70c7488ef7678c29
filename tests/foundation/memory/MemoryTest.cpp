#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstring>
#include <new>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "foundation/memory/Memory.h"
#include "foundation/memory/MemorySystem.h"
#include "tests/support/CountingAllocator.h"

using namespace Bravik::Memory;

namespace {

std::atomic<size_t> g_lastHostSize{0};
std::atomic<bool> g_slowHost{false};  // keeps every caller inside the host for a while
void* LogAllocate(size_t size) {
  g_lastHostSize = size;
  if (g_slowHost) std::this_thread::sleep_for(std::chrono::milliseconds(5));
  return QuorinTest::CountingAllocate(size);
}
uint64_t HostCalls() { return QuorinTest::Counters().allocateCalls + QuorinTest::Counters().reallocateCalls; }

// A private system on the counting host, which must have every host block back at scope end.
// Without thread caches unless asked, so host calls follow each request directly.
struct PrivateSystem {
  int64_t hostBlocks = QuorinTest::Counters().liveBlocks;
  CMemorySystem* system;
  explicit PrivateSystem(uint64_t limit = kNoLimit, uint32_t l1 = 48 * 1024, bool caches = false)
      : system(CMemorySystem::Create(&LogAllocate, &QuorinTest::CountingReallocate, &QuorinTest::CountingFree,
                                     limit, l1, caches)) {}
  ~PrivateSystem() {
    CMemorySystem::Destroy(system);
    EXPECT_EQ(QuorinTest::Counters().liveBlocks, hostBlocks) << "host blocks left after the system went";
  }
  CMemorySystem* operator->() const { return system; }
};

// Allocates, resizes, fills and checks blocks with one pattern, keeping 64 alive so that frees
// interleave with the other thread's allocations: a block handed to both threads shows.
void Hammer(uint32_t selector, uint64_t baseSize, uint8_t pattern) {
  void* window[64] = {};
  for (int i = 0; i < 200000; ++i) {
    auto*& slot = reinterpret_cast<uint8_t*&>(window[i % 64]);
    const bool intact = slot == nullptr || (slot[0] == pattern && slot[GetBlockSize(slot) - 1] == pattern);
    ASSERT_TRUE(intact) << "a block was handed to both threads";
    Free(slot);
    slot = static_cast<uint8_t*>(Allocate(baseSize + static_cast<uint64_t>(i % 7), selector));
    if (i % 5 == 0) slot = static_cast<uint8_t*>(Reallocate(slot, GetBlockSize(slot) + 40, selector));
    std::memset(slot, pattern, GetBlockSize(slot));
  }
  for (void* block : window) Free(block);
}

// A host thread_local whose destructor allocates and frees. Constructed before the thread's first
// allocation, it is destroyed after whatever the library registered for the thread's end.
struct LateUser {
  bool armed = false;
  ~LateUser() {
    if (!armed) return;
    Free(Allocate(48, 1));
    Free(Allocate(3000, 4));
  }
};
thread_local LateUser t_lateUser;

}  // namespace

// Selectors 1 to 4 are recorded as given and align as promised, any other is the core; every
// block is usable to its end; size 0 gives null and records nothing.
TEST(MemoryRouting, SelectorsSizesAndAlignment) {
  const uintptr_t alignment[] = {1, 1, 4, 8, 16};
  for (uint32_t selector : {0u, 1u, 2u, 3u, 4u, 5u, 77u, 0xFFFFFFFFu}) {
    const uint32_t recorded = selector <= 4 ? selector : 0;
    const uint64_t live = GetMemoryStatistics().liveBlocks;
    EXPECT_EQ(TryAllocate(0, selector), nullptr);
    std::vector<void*> blocks;
    for (uint64_t size : {1, 3, 4, 7, 8, 9, 15, 16, 17, 100, 513, 1024, 1025, 1500, 4096, 70000}) {
      for (int i = 0; i < 3; ++i) {
        void* block = blocks.emplace_back(Allocate(size, selector));
        EXPECT_EQ(GetBlockPool(block), recorded) << selector << " " << size;
        EXPECT_EQ(GetBlockSize(block), size);
        EXPECT_EQ(reinterpret_cast<uintptr_t>(block) % alignment[recorded], 0u) << selector << " " << size;
        std::memset(block, 0xAB, size);
      }
    }
    EXPECT_EQ(GetMemoryStatistics().liveBlocks, live + blocks.size());
    for (void* block : blocks) Free(block);
    for (void* block : blocks) EXPECT_EQ(GetBlockSize(block), 0u);
  }
}

// Pool blocks above 1024 bytes come from the host with room to align them and keep the distance
// (one spare byte even unaligned); freeing gives the padded raw block back. Up to 1024: a chunk.
TEST(MemoryRouting, LargePoolBlocksComeFromTheHostPadded) {
  PrivateSystem system;
  const struct { uint32_t selector; uint64_t size, hostSize; } cases[] = {
      {1, 1024, 0}, {1, 1025, 1026}, {2, 2000, 2004}, {4, 3000, 3016}, {0, 2000, 2000}};
  for (const auto& c : cases) {
    system->Free(system->Allocate(c.size, c.selector));  // the first of a class carves a chunk
    const uint64_t calls = HostCalls(), bytes = system->Manager().BytesInUse();
    void* block = system->Allocate(c.size, c.selector);
    EXPECT_EQ(HostCalls() - calls, c.hostSize != 0 ? 1u : 0u) << c.size;
    EXPECT_EQ(c.hostSize != 0 ? g_lastHostSize.load() : 0, c.hostSize);
    EXPECT_EQ(system->Manager().BytesInUse() - bytes, c.hostSize);
    EXPECT_TRUE(system->Free(block));  // a wrong raw address would crash the host's free
    EXPECT_EQ(system->Manager().BytesInUse(), bytes);
  }
}

// The argument selector matters only for a null block: resizes stay in the recorded pool, so a
// pool block never reaches the host's reallocate. A move counts as a new allocation.
TEST(MemoryReallocate, InPlaceOrMovedWithContentKept) {
  const struct { uint64_t from, to; uint32_t selector, argument; bool inPlace; } cases[] = {
      {40, 60, 1, 1, true},       {40, 70, 1, 1, false},      {40, 33, 3, 3, true},
      {40, 32, 3, 3, false},      {64, 64, 2, 2, true},       {3000, 2500, 1, 1, true},
      {3000, 1977, 4, 4, true},   {3000, 1976, 4, 4, false},  {3000, 3001, 1, 1, false},
      {3000, 100, 2, 2, false},   {100, 3000, 3, 3, false},   {1024, 1025, 1, 1, false},
      {40, 2000, 1, 0, false}};
  for (const auto& c : cases) {
    const uint64_t allocations = GetMemoryStatistics().allocations;
    auto* block = static_cast<uint8_t*>(Allocate(c.from, c.selector));
    for (uint64_t i = 0; i < c.from; ++i) block[i] = static_cast<uint8_t>(i * 7 + 1);
    auto* resized = static_cast<uint8_t*>(Reallocate(block, c.to, c.argument));
    EXPECT_EQ(resized == block, c.inPlace) << c.from << " -> " << c.to;
    for (uint64_t i = 0; i < std::min(c.from, c.to); ++i) ASSERT_EQ(resized[i], static_cast<uint8_t>(i * 7 + 1));
    EXPECT_EQ(GetBlockSize(resized), c.to);
    EXPECT_EQ(GetBlockPool(resized), c.selector);
    EXPECT_EQ(GetBlockSize(block), c.inPlace ? c.to : 0) << "a moved block's old address is released";
    EXPECT_EQ(GetMemoryStatistics().allocations - allocations, c.inPlace ? 1u : 2u);
    Free(resized);
  }
}

// Addresses the manager did not hand out are left alone: free ignores them, resize gives null,
// they have no size. A null block allocates, size 0 frees.
TEST(MemoryForeignBlocks, AreLeftAlone) {
  int onStack = 0;
  auto* block = static_cast<char*>(TryReallocate(nullptr, 40, 2));
  for (void* foreign : {static_cast<void*>(&onStack), static_cast<void*>(block + 8)}) {
    TryFree(foreign);
    EXPECT_EQ(TryReallocate(foreign, 64, 1), nullptr);
    EXPECT_EQ(GetBlockSize(foreign), 0u);
  }
  EXPECT_EQ(GetBlockSize(block), 40u);
  EXPECT_EQ(GetBlockPool(block), 2u);
  EXPECT_EQ(TryReallocate(block, 0, 1), nullptr);
  EXPECT_EQ(GetBlockSize(block), 0u);
}

// A freed block is parked in this thread's cache, counted as not handed out (no size, no resize,
// no second free), in its own size class: the next request of the class gets it back, once; a
// request one byte larger never does.
TEST(MemoryThreadCache, FreedBlocksServeTheirOwnSizeClassOnce) {
  const struct { uint32_t pool; uint64_t size; } cases[] = {{1, 8}, {2, 16}, {3, 64}, {4, 16}, {4, 512}, {1, 1024}};
  for (const auto& c : cases) {
    void* block = Allocate(c.size, c.pool);
    Free(block);
    TryFree(block);
    EXPECT_EQ(TryReallocate(block, 64, 1), nullptr);
    EXPECT_EQ(GetBlockSize(block), 0u);
    void* larger = Allocate(c.size + 1, c.pool);
    void* same = Allocate(c.size / 2 + 1, c.pool);
    void* next = Allocate(c.size, c.pool);
    EXPECT_NE(larger, block) << c.pool << " " << c.size;
    EXPECT_EQ(same, block) << c.pool << " " << c.size;
    EXPECT_NE(next, block) << c.pool << " " << c.size;
    for (void* other : {larger, same, next}) Free(other);
  }
}

// The limit counts the manager's own structures; a request ending exactly on it succeeds, one byte
// more fails, and resizes count the new size in place of the old.
TEST(MemoryLimit, RequestsCrossingTheLimitFail) {
  const uint64_t setupBytes = PrivateSystem()->Manager().BytesInUse();
  PrivateSystem system(setupBytes + 10000);
  void* fits = system->Allocate(9000, 0);
  EXPECT_EQ(system->Allocate(1001, 0), nullptr);
  void* exact = system->Allocate(1000, 0);
  ASSERT_NE(exact, nullptr);
  EXPECT_EQ(system->Reallocate(exact, 1001, 0), nullptr);
  EXPECT_EQ(system->BlockSize(exact), 1000u) << "a failed resize keeps the block";
  void* shrunk = system->Reallocate(fits, 4000, 0);
  void* again = system->Allocate(5000, 0);
  EXPECT_NE(again, nullptr) << "shrinking gave the room back";
  for (void* block : {shrunk, exact, again}) system->Free(block);
  EXPECT_EQ(PrivateSystem(16).system, nullptr) << "a limit below what the manager itself uses";
  // Without a limit, sizes near 2^64 must not wrap into small requests.
  void* core = Allocate(16, 0);
  for (uint64_t size : {(1ull << 60) + 1, ~0ull, ~0ull - 15, 1ull << 63}) {
    for (uint32_t selector : {0u, 1u, 4u}) EXPECT_EQ(TryAllocate(size, selector), nullptr) << size;
    EXPECT_EQ(TryReallocate(core, size, 0), nullptr);
  }
  Free(core);
}

TEST(MemoryChunks, ElementsPerChunkFollowTheL1DataCache) {
  const struct { uint32_t l1, classIndex, expected; } cases[] = {{32768, 0, 256}, {32768, 7, 16}, {4096, 7, 4}};
  for (const auto& c : cases) {
    PrivateSystem system(kNoLimit, c.l1);
    TPool<0> pool(system->Manager(), 1, c.l1);
    EXPECT_EQ(pool.ElementsPerChunk(c.classIndex), c.expected) << "L1 " << c.l1 << " class " << c.classIndex;
  }
  PrivateSystem system(kNoLimit, 0);  // 4 elements per chunk: the fifth block needs a new one
  std::vector<void*> blocks{system->Allocate(100, 3)};
  const uint64_t calls = HostCalls();
  for (int i = 0; i < 4; ++i) blocks.push_back(system->Allocate(100, 3));
  EXPECT_EQ(HostCalls(), calls + 2) << "a chunk and a longer chunk table, after three without";
  for (void* block : blocks) system->Free(block);
}

TEST(MemoryRecords, TableGrowsAndFreesStayFindable) {
  PrivateSystem system;
  std::vector<void*> blocks;
  for (int i = 0; i < 100000; ++i) blocks.push_back(system->Allocate(16 + (i % 5) * 40, i % 5));
  EXPECT_EQ(system->LiveBlocks(), 100000u);
  EXPECT_GE(system->Manager().BucketCount(), 100000u) << "buckets grow with live blocks";
  for (size_t i = 0; i < blocks.size(); i += 2) EXPECT_TRUE(system->Free(blocks[i]));
  for (size_t i = 1; i < blocks.size(); i += 2) EXPECT_EQ(system->BlockSize(blocks[i]), 16 + (i % 5) * 40);
  for (size_t i = 1; i < blocks.size(); i += 2) EXPECT_TRUE(system->Free(blocks[i]));
  EXPECT_EQ(system->LiveBlocks(), 0u);
}

// Host call N fails, for every N, in a mixed sequence on a fresh system; the cached variant runs
// on a thread of its own so that refills and flushes meet the failures too. Whatever fails must
// leave the system consistent and every block handed out must still free.
TEST(MemoryOutOfMemory, EveryHostFailureLeavesTheSystemConsistent) {
  for (const bool caches : {false, true}) {
    QuorinTest::ForEachAllocationFailure([caches] {
      PrivateSystem system(kNoLimit, 0, caches);
      if (system.system == nullptr) throw std::bad_alloc();
      const auto work = [&] {
        std::vector<void*> blocks;
        for (int i = 0; i < 200; ++i) {
          void* block = system->Allocate(8 + (i * 37) % 2000, i % 5);
          void* resized = block != nullptr && i % 3 == 0 ? system->Reallocate(block, 1 + (i * 53) % 3000, 1) : block;
          if (block != nullptr) blocks.push_back(resized != nullptr ? resized : block);
          if (i % 4 != 3 || blocks.empty()) continue;
          EXPECT_TRUE(system->Free(blocks[blocks.size() / 2]));
          blocks.erase(blocks.begin() + static_cast<ptrdiff_t>(blocks.size() / 2));
        }
        EXPECT_EQ(system->LiveBlocks(), blocks.size());
        for (void* block : blocks) EXPECT_TRUE(system->Free(block));
      };
      caches ? std::thread(work).join() : work();
      EXPECT_EQ(system->LiveBlocks(), 0u);
      // Ends the sweep only once a run got through without reaching the failing call.
      if (HostCalls() >= QuorinTest::Counters().failAtCall) throw std::bad_alloc();
    });
  }
}

// Cached threads keep their counts in their bins; statistics add them up from any thread, while
// the thread runs and after it ended. A hundred hand-outs from one bin cross the count's bits.
// Another thread then frees the blocks through its own cache.
TEST(MemoryStatisticsCount, CachedCountsAddUpFromOtherThreadsAndSurviveTheThread) {
  PrivateSystem system(kNoLimit, 48 * 1024, true);
  std::atomic<int> phase{0};
  std::vector<void*> blocks;
  std::thread worker([&] {
    for (int i = 0; i < 105; ++i) blocks.push_back(system->Allocate(i < 100 ? 40 : 3, i < 100 ? 1 : 4));
    for (int i = 0; i < 70; ++i) system->Free(blocks[i]);  // past the bin's capacity: flushes
    blocks.erase(blocks.begin(), blocks.begin() + 70);
    for (phase = 1; phase != 2;) std::this_thread::yield();
    for (int i = 0; i < 50; ++i) blocks.push_back(system->Allocate(33, 1));  // parked ones, then refills
  });
  while (phase != 1) std::this_thread::yield();
  EXPECT_EQ(system->Allocations(), 105u);
  EXPECT_EQ(system->LiveBlocks(), 35u);
  phase = 2;
  worker.join();
  EXPECT_EQ(system->Allocations(), 155u) << "an ended thread's hand-outs still count";
  EXPECT_EQ(system->LiveBlocks(), 85u) << "its parked blocks went back to the pools";
  std::thread([&] {
    for (void* block : blocks) EXPECT_TRUE(system->Free(block));
  }).join();
  EXPECT_EQ(system->LiveBlocks(), 0u);
}

// Two threads on the same class, on different classes and pools, on large and core blocks.
TEST(MemoryThreads, PairsNeverShareABlock) {
  const struct { uint32_t selectorA; uint64_t sizeA; uint32_t selectorB; uint64_t sizeB; } cases[] = {
      {1, 24, 1, 24}, {1, 24, 4, 300}, {0, 2000, 3, 1500}};
  for (const auto& c : cases) {
    std::thread a(Hammer, c.selectorA, c.sizeA, uint8_t{0x5A}), b(Hammer, c.selectorB, c.sizeB, uint8_t{0x63});
    a.join();
    b.join();
  }
}

// Requests racing for the last room under the byte limit: a slow host keeps every thread inside
// its allocate call at once, yet only the blocks that fit together are handed out.
TEST(MemoryThreads, ConcurrentRequestsNeverPassTheLimitTogether) {
  const uint64_t setupBytes = PrivateSystem()->Manager().BytesInUse();
  PrivateSystem system(setupBytes + 650000);
  std::vector<void*> blocks(16);
  std::vector<std::thread> threads;
  std::atomic<int> ready{0};
  g_slowHost = true;
  for (void*& block : blocks) {
    threads.emplace_back([&] {
      for (ready++; ready < 16;) std::this_thread::yield();
      block = system->Allocate(100000, 0);
    });
  }
  for (std::thread& thread : threads) thread.join();
  g_slowHost = false;
  EXPECT_EQ(std::count_if(blocks.begin(), blocks.end(), [&](void* block) { return system->Free(block); }), 6);
  EXPECT_EQ(system->Manager().BytesInUse(), setupBytes) << "failed requests gave their reservation back";
}

// Whatever order the platform ends a thread in, nothing of its cache may outlive it: threads that
// allocate, threads whose first allocation is in a late destructor, and threads with both.
TEST(MemoryThreads, EndedThreadsLeaveNoCacheOrBlockBehind) {
  for (const int mode : {1, 2, 3}) {
    const auto body = [mode] {
      t_lateUser.armed = (mode & 2) != 0;
      if (mode & 1) Free(Allocate(24, 2));
    };
    std::thread(body).join();  // warms the pools' chunks up
    const int64_t hostBlocks = QuorinTest::Counters().liveBlocks;
    const uint64_t bytes = GetMemoryStatistics().bytesInUse;
    for (int i = 0; i < 20; ++i) std::thread(body).join();
    EXPECT_EQ(QuorinTest::Counters().liveBlocks, hostBlocks) << "mode " << mode;
    EXPECT_EQ(GetMemoryStatistics().bytesInUse, bytes) << "mode " << mode;
  }
  // Calls after the thread's end was handled take the locked paths instead of a new cache.
  std::thread([] {
    Free(Allocate(24, 2));
    CMemorySystem::EndCallingThread();
    Free(Allocate(40, 1));
    EXPECT_EQ(Bravik::System::ThreadSlot().tag, kEndedThread);
  }).join();
}
