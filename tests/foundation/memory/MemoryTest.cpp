#include <atomic>
#include <cstdint>
#include <cstring>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "foundation/memory/Memory.h"
#include "foundation/memory/MemorySystem.h"
#include "tests/support/CountingAllocator.h"

using namespace Bravik::Memory;

namespace {

// Host callbacks for private systems: remember the sizes asked for and the blocks live.
struct HostLog {
  std::vector<size_t> allocateSizes;
  int64_t live = 0;
  uint64_t calls = 0;
  uint64_t failAt = 0;  // the call with this number fails
};
HostLog g_host;

void* LogAllocate(size_t size) {
  if (++g_host.calls == g_host.failAt) return nullptr;
  g_host.allocateSizes.push_back(size);
  ++g_host.live;
  return std::malloc(size);
}
void* LogReallocate(void* block, size_t size) {
  if (++g_host.calls == g_host.failAt) return nullptr;
  if (block == nullptr) ++g_host.live;
  return std::realloc(block, size);
}
void LogFree(void* block) {
  if (block != nullptr) --g_host.live;
  std::free(block);
}

constexpr uint32_t kL1 = 48 * 1024;

// A private manager on the logging host, destroyed (and checked for host leaks) at scope end.
// Without thread caches unless asked, so host calls follow each request directly.
class PrivateSystem {
 public:
  explicit PrivateSystem(uint64_t limit = kNoLimit, uint32_t l1 = kL1, bool threadCaches = false) {
    g_host = HostLog{};
    m_system = CMemorySystem::Create(&LogAllocate, &LogReallocate, &LogFree, limit, l1, threadCaches);
  }
  ~PrivateSystem() {
    CMemorySystem::Destroy(m_system);
    EXPECT_EQ(g_host.live, 0) << "host blocks left after the system was destroyed";
  }
  CMemorySystem* operator->() { return m_system; }
  CMemorySystem* get() { return m_system; }

 private:
  CMemorySystem* m_system;
};

bool IsAligned(const void* p, uintptr_t alignment) { return reinterpret_cast<uintptr_t>(p) % alignment == 0; }

}  // namespace

TEST(MemoryRouting, SelectorsAreRecordedAndOutOfRangeOnesGoToTheCore) {
  const struct { uint32_t selector; uint64_t size; uint32_t recorded; } cases[] = {
      {1, 1, 1}, {2, 24, 2}, {3, 100, 3}, {4, 1024, 4}, {0, 16, 0},
      {5, 16, 0}, {77, 4096, 0}, {0xFFFFFFFF, 8, 0}, {1, 5000, 1}, {4, 1025, 4}};
  for (const auto& c : cases) {
    void* block = Allocate(c.size, c.selector);
    ASSERT_NE(block, nullptr);
    EXPECT_EQ(GetBlockPool(block), c.recorded) << "selector " << c.selector << " size " << c.size;
    EXPECT_EQ(GetBlockSize(block), c.size);
    Free(block);
    EXPECT_EQ(GetBlockSize(block), 0u);
  }
}

TEST(MemoryRouting, SizeZeroGivesNullAndRecordsNothing) {
  const uint64_t before = GetMemoryStatistics().liveBlocks;
  for (uint32_t selector = 0; selector <= 5; ++selector) EXPECT_EQ(TryAllocate(0, selector), nullptr);
  EXPECT_EQ(Allocate(0, 1), nullptr);
  EXPECT_EQ(GetMemoryStatistics().liveBlocks, before);
}

TEST(MemoryRouting, Block1024ComesFromAChunkAnd1025FromTheHost) {
  PrivateSystem system;
  void* warm = system->Allocate(1024, 1);  // first one carves a chunk
  const uint64_t callsAfterChunk = g_host.calls;
  void* second = system->Allocate(1024, 1);
  EXPECT_EQ(g_host.calls, callsAfterChunk) << "1024 bytes must come from the class";
  void* large = system->Allocate(1025, 1);
  EXPECT_EQ(g_host.calls, callsAfterChunk + 1) << "1025 bytes must go to the host";
  EXPECT_EQ(g_host.allocateSizes.back(), 1026u) << "one spare byte for the stored distance";
  for (void* p : {warm, second, large}) EXPECT_TRUE(system->Free(p));
}

TEST(MemoryAlignment, PoolsAlignSmallAndLargeBlocks) {
  const uint64_t sizes[] = {1, 3, 4, 7, 8, 9, 15, 16, 17, 100, 513, 1024, 1025, 1500, 4096, 70000};
  const uintptr_t alignment[] = {1, 1, 4, 8, 16};
  for (uint32_t selector = 2; selector <= 4; ++selector) {
    std::vector<void*> blocks;
    for (uint64_t size : sizes) {
      for (int i = 0; i < 3; ++i) {
        void* block = Allocate(size, selector);
        EXPECT_TRUE(IsAligned(block, alignment[selector])) << "selector " << selector << " size " << size;
        std::memset(block, 0xAB, size);  // the whole block must be usable
        blocks.push_back(block);
      }
    }
    for (void* block : blocks) Free(block);
  }
}

TEST(MemoryAlignment, LargeBlockFreeReturnsThePaddedRawBlock) {
  PrivateSystem system;
  const uint64_t bytesBefore = system->Manager().BytesInUse();
  const int64_t liveBefore = g_host.live;
  void* block = system->Allocate(3000, 4);
  ASSERT_NE(block, nullptr);
  EXPECT_TRUE(IsAligned(block, 16));
  EXPECT_EQ(g_host.allocateSizes.back(), 3016u);
  EXPECT_EQ(system->Manager().BytesInUse(), bytesBefore + 3016);
  EXPECT_TRUE(system->Free(block));  // an invalid raw pointer would crash the host free
  EXPECT_EQ(g_host.live, liveBefore);
  EXPECT_EQ(system->Manager().BytesInUse(), bytesBefore);
}

TEST(MemoryReallocate, InPlaceOrMovedWithContentKept) {
  const struct { uint64_t from, to; uint32_t selector; bool inPlace; } cases[] = {
      {40, 60, 1, true},      {40, 70, 1, false},     {40, 33, 3, true},      {40, 32, 3, false},
      {64, 64, 2, true},      {3000, 2500, 1, true},  {3000, 1977, 4, true},  {3000, 1976, 4, false},
      {3000, 3001, 1, false}, {3000, 100, 2, false},  {100, 3000, 3, false},  {1024, 1025, 1, false},
  };
  for (const auto& c : cases) {
    auto* block = static_cast<uint8_t*>(Allocate(c.from, c.selector));
    for (uint64_t i = 0; i < c.from; ++i) block[i] = static_cast<uint8_t>(i * 7 + 1);
    auto* resized = static_cast<uint8_t*>(Reallocate(block, c.to, c.selector));
    ASSERT_NE(resized, nullptr);
    EXPECT_EQ(resized == block, c.inPlace) << c.from << " -> " << c.to;
    for (uint64_t i = 0; i < std::min(c.from, c.to); ++i) ASSERT_EQ(resized[i], static_cast<uint8_t>(i * 7 + 1));
    EXPECT_EQ(GetBlockSize(resized), c.to);
    EXPECT_EQ(GetBlockPool(resized), c.selector);
    if (!c.inPlace) {
      EXPECT_EQ(GetBlockSize(block), 0u) << "the old block must be released";
    }
    Free(resized);
  }
}

TEST(MemoryReallocate, NullZeroAndForeignBlocks) {
  void* fresh = TryReallocate(nullptr, 10, 3);
  ASSERT_NE(fresh, nullptr);
  EXPECT_EQ(GetBlockPool(fresh), 3u);
  EXPECT_EQ(GetBlockSize(fresh), 10u);
  const uint64_t live = GetMemoryStatistics().liveBlocks;
  EXPECT_EQ(TryReallocate(fresh, 0, 1), nullptr);
  EXPECT_EQ(GetMemoryStatistics().liveBlocks, live - 1);

  int onStack = 0;
  EXPECT_EQ(TryReallocate(&onStack, 64, 1), nullptr);
  void* block = Allocate(40, 1);
  EXPECT_EQ(TryReallocate(static_cast<char*>(block) + 8, 64, 1), nullptr) << "interior pointer";
  EXPECT_EQ(GetBlockSize(block), 40u);
  Free(block);
}

TEST(MemoryReallocate, DispatchesOnTheRecordedPoolNotTheArgument) {
  void* pooled = Allocate(40, 1);
  void* moved = Reallocate(pooled, 2000, 0);  // selector 0 must not send a pool block to the host realloc
  EXPECT_EQ(GetBlockPool(moved), 1u);
  void* core = Allocate(40, 0);
  void* grown = Reallocate(core, 80, 4);
  EXPECT_EQ(GetBlockPool(grown), 0u);
  Free(moved);
  Free(grown);
}

TEST(MemoryForeignBlocks, FreeIgnoresBlocksItDidNotHandOut) {
  const MemoryStatistics before = GetMemoryStatistics();
  int onStack = 0;
  TryFree(&onStack);
  TryFree(nullptr);
  void* block = Allocate(24, 2);
  TryFree(static_cast<char*>(block) + 4);
  EXPECT_EQ(GetBlockSize(block), 24u);
  TryFree(block);
  TryFree(block);  // a second free finds no record
  const MemoryStatistics after = GetMemoryStatistics();
  EXPECT_EQ(after.liveBlocks, before.liveBlocks);
}

TEST(MemoryLimit, RequestsCrossingTheLimitFail) {
  const uint64_t setupBytes = [] { return PrivateSystem()->Manager().BytesInUse(); }();
  PrivateSystem system(setupBytes + 10000);
  void* fits = system->Allocate(9000, 0);
  ASSERT_NE(fits, nullptr);
  EXPECT_EQ(system->Allocate(2000, 0), nullptr) << "would cross the limit";
  void* small = system->Allocate(500, 0);
  EXPECT_NE(small, nullptr);
  EXPECT_EQ(system->Reallocate(fits, 9600, 0), nullptr) << "growth counts the new size in place of the old";
  EXPECT_EQ(system->BlockSize(fits), 9000u) << "a failed resize keeps the block";
  void* shrunk = system->Reallocate(fits, 4000, 0);
  EXPECT_NE(shrunk, nullptr);
  void* again = system->Allocate(4000, 0);
  EXPECT_NE(again, nullptr) << "shrinking gave the room back";
  system->Free(again);
  system->Free(shrunk);
  system->Free(small);
}

TEST(MemoryLimit, HugeSizesFailWithoutWrapping) {
  const uint64_t sizes[] = {(1ull << 60) + 1, ~0ull, ~0ull - 15, 1ull << 63};
  for (uint64_t size : sizes) {
    for (uint32_t selector : {0u, 1u, 4u}) EXPECT_EQ(TryAllocate(size, selector), nullptr) << size;
  }
  void* block = Allocate(16, 1);
  EXPECT_EQ(TryReallocate(block, ~0ull - 3, 1), nullptr);
  EXPECT_EQ(GetBlockSize(block), 16u);
  Free(block);
  PrivateSystem tiny(16);  // a limit below what the manager itself uses
  EXPECT_EQ(tiny.get(), nullptr);
}

TEST(MemoryChunks, ElementsPerChunkFollowTheL1DataCache) {
  const struct { uint32_t l1, classIndex, expected; } cases[] = {
      {0, 0, 4}, {0, 7, 4}, {32768, 0, 256}, {32768, 6, 32}, {32768, 7, 16}, {4096, 7, 4}};
  for (const auto& c : cases) {
    PrivateSystem system(kNoLimit, c.l1);
    TPool<0> pool(system->Manager(), 1, c.l1);
    EXPECT_EQ(pool.ElementsPerChunk(c.classIndex), c.expected) << "L1 " << c.l1 << " class " << c.classIndex;
  }
}

TEST(MemoryChunks, AChunkServesElementsPerChunkBlocksBeforeTheNext) {
  PrivateSystem system(kNoLimit, 0);  // no cache size: 4 elements per chunk
  std::vector<void*> blocks;
  blocks.push_back(system->Allocate(100, 3));
  const uint64_t calls = g_host.calls;
  for (int i = 0; i < 3; ++i) blocks.push_back(system->Allocate(100, 3));
  EXPECT_EQ(g_host.calls, calls);
  blocks.push_back(system->Allocate(100, 3));
  EXPECT_EQ(g_host.calls, calls + 2) << "a new chunk and a longer chunk table";
  for (void* block : blocks) system->Free(block);
}

TEST(MemoryRecords, TableGrowsAndFreesStayFindable) {
  PrivateSystem system;
  EXPECT_EQ(system->Manager().BucketCount(), 256u);
  std::vector<void*> blocks;
  for (int i = 0; i < 100000; ++i) blocks.push_back(system->Allocate(16 + (i % 5) * 40, 1 + i % 4));
  EXPECT_EQ(system->LiveBlocks(), 100000u);
  EXPECT_GE(system->Manager().BucketCount(), 100000u) << "buckets grow with live blocks";
  for (size_t i = 0; i < blocks.size(); i += 2) EXPECT_TRUE(system->Free(blocks[i]));
  for (size_t i = 1; i < blocks.size(); i += 2) EXPECT_EQ(system->BlockSize(blocks[i]), 16 + (i % 5) * 40);
  for (size_t i = 1; i < blocks.size(); i += 2) EXPECT_TRUE(system->Free(blocks[i]));
  EXPECT_EQ(system->LiveBlocks(), 0u);
}

TEST(MemoryRecords, RecordBlocksAreCountedInBytesInUse) {
  PrivateSystem system;
  const uint64_t before = system->Manager().BytesInUse();
  std::vector<void*> blocks;
  for (int i = 0; i < 256; ++i) blocks.push_back(system->Allocate(8, 0));  // one per bucket
  EXPECT_EQ(system->Manager().BytesInUse(), before + 256 * 8);
  for (int i = 0; i < 256; ++i) blocks.push_back(system->Allocate(8, 0));  // fills generation one
  // The 257th record doubled the bucket table; the old one stays until teardown for readers
  // that may still walk it.
  EXPECT_EQ(system->Manager().BytesInUse(), before + 512 * 8 + 512 * sizeof(void*));
  const uint64_t full = system->Manager().BytesInUse();
  blocks.push_back(system->Allocate(8, 0));
  // A second generation (two record blocks, a table twice as long) and buckets doubled again.
  EXPECT_EQ(system->Manager().BytesInUse(),
            full + 8 + 2 * kRecordBlockBytes + 2 * sizeof(void*) + 1024 * sizeof(void*));
  for (void* block : blocks) system->Free(block);
}

// Fails host call N for N = 1, 2, ... through a mixed sequence; whatever fails must leave the
// system consistent and every block that was handed out must still free cleanly.
TEST(MemoryOutOfMemory, EveryHostFailureLeavesTheSystemConsistent) {
  for (uint64_t failAt = 1; failAt < 200; ++failAt) {
    PrivateSystem system(kNoLimit, 0);
    if (system.get() == nullptr) continue;  // set-up itself failed: nothing to check
    g_host.failAt = g_host.calls + failAt;
    std::vector<void*> blocks;
    for (int i = 0; i < 600; ++i) {
      void* block = system->Allocate(8 + (i * 37) % 2000, i % 5);
      if (block != nullptr) blocks.push_back(block);
      if (i % 3 == 0 && !blocks.empty()) {
        void* resized = system->Reallocate(blocks.back(), 1 + (i * 53) % 3000, 1);
        if (resized != nullptr) blocks.back() = resized;
      }
    }
    g_host.failAt = 0;
    EXPECT_EQ(system->LiveBlocks(), blocks.size());
    for (void* block : blocks) EXPECT_TRUE(system->Free(block));
  }
}

TEST(MemoryShutdown, DestroyReturnsEveryChunkToTheHost) {
  PrivateSystem system;
  std::vector<void*> blocks;
  for (uint32_t selector = 0; selector <= 4; ++selector)
    for (uint64_t size = 1; size <= 2048; size = size * 2 + 1) blocks.push_back(system->Allocate(size, selector));
  for (void* block : blocks) system->Free(block);
  // ~PrivateSystem checks that the host has nothing live afterwards.
}

TEST(MemoryStatisticsCount, EveryBlockHandedOutIsCounted) {
  const uint64_t before = GetMemoryStatistics().allocations;
  void* small = Allocate(24, 1);
  void* large = Allocate(4000, 3);
  void* core = Allocate(64, 0);
  small = Reallocate(small, 28, 1);  // same class: in place, no new block
  EXPECT_EQ(GetMemoryStatistics().allocations, before + 3);
  small = Reallocate(small, 200, 1);  // moves
  EXPECT_EQ(GetMemoryStatistics().allocations, before + 4);
  for (void* block : {small, large, core}) Free(block);
  EXPECT_EQ(GetMemoryStatistics().allocations, before + 4) << "frees do not count";
}

TEST(MemoryThreadCache, FreedBlocksAreParkedAndNotHandedOut) {
  const uint64_t live = GetMemoryStatistics().liveBlocks;
  void* block = Allocate(48, 2);
  EXPECT_EQ(GetMemoryStatistics().liveBlocks, live + 1);
  Free(block);
  EXPECT_EQ(GetMemoryStatistics().liveBlocks, live) << "a parked block is not live";
  EXPECT_EQ(GetBlockSize(block), 0u) << "a parked block has no size for callers";
  EXPECT_EQ(TryReallocate(block, 64, 2), nullptr) << "a parked block cannot be resized";
  void* again = Allocate(40, 2);
  EXPECT_EQ(again, block) << "the thread's last freed block of a class is reused first";
  EXPECT_EQ(GetBlockSize(again), 40u);
  Free(again);
}

// The same host-failure sweep on a thread of its own, so that the private system serves it
// through a thread cache: refills and flushes meet the failures too.
TEST(MemoryOutOfMemory, HostFailuresDuringCacheRefillsAndFlushes) {
  for (uint64_t failAt = 1; failAt < 120; ++failAt) {
    PrivateSystem system(kNoLimit, 0, true);
    if (system.get() == nullptr) continue;
    bool cached = false;
    uint64_t live = 0, handedOut = 0;
    std::thread worker([&] {
      g_host.failAt = g_host.calls + failAt;
      std::vector<void*> blocks;
      for (int i = 0; i < 400; ++i) {
        void* block = system->Allocate(8 + (i * 29) % 1000, 1 + i % 4);
        if (block != nullptr) blocks.push_back(block);
        if (i % 4 == 3) {
          system->Free(blocks.front());
          blocks.erase(blocks.begin());
        }
      }
      g_host.failAt = 0;
      cached = system->CallingThreadIsCached();
      live = system->LiveBlocks();
      handedOut = blocks.size();
      for (void* block : blocks) EXPECT_TRUE(system->Free(block));
    });
    worker.join();
    EXPECT_EQ(live, handedOut);
    EXPECT_EQ(system->LiveBlocks(), 0u) << "the ended thread gave its cache back";
    EXPECT_TRUE(cached || failAt <= 40);
  }
}

// Cached threads keep their counts in their bins; statistics add them up when asked, from any
// thread, while the thread runs and after it ended. A hundred hand-outs from one bin also cross
// the bits that hold the bin's parked count.
TEST(MemoryStatisticsCount, CachedCountsAddUpFromOtherThreadsAndSurviveTheThread) {
  PrivateSystem system(kNoLimit, kL1, true);
  std::atomic<int> phase{0};
  std::vector<void*> blocks;
  auto waitFor = [&](int value) {
    while (phase.load() != value) std::this_thread::yield();
  };
  std::thread worker([&] {
    for (int i = 0; i < 100; ++i) blocks.push_back(system->Allocate(40, 1));
    for (int i = 0; i < 5; ++i) blocks.push_back(system->Allocate(3, 4));  // pool 4's smallest class
    for (int i = 0; i < 70; ++i) system->Free(blocks[i]);  // fills the bin past capacity: flushes
    blocks.erase(blocks.begin(), blocks.begin() + 70);
    phase = 1;
    waitFor(2);
    for (int i = 0; i < 50; ++i) blocks.push_back(system->Allocate(33, 1));  // parked ones, then refills
    EXPECT_TRUE(system->CallingThreadIsCached());
  });
  waitFor(1);
  EXPECT_EQ(system->Allocations(), 105u);
  EXPECT_EQ(system->LiveBlocks(), 35u);
  phase = 2;
  worker.join();
  EXPECT_EQ(system->Allocations(), 155u) << "an ended thread's hand-outs still count";
  EXPECT_EQ(system->LiveBlocks(), 85u) << "its parked blocks went back to the pools";
  for (void* block : blocks) EXPECT_TRUE(system->Free(block));
  EXPECT_EQ(system->LiveBlocks(), 0u);
  EXPECT_EQ(system->Allocations(), 155u);
}
