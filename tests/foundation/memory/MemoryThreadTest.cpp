#include <atomic>
#include <chrono>
#include <cstdlib>
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

// Allocates, writes a thread-specific pattern, reallocates, checks the pattern and frees,
// keeping a window of live blocks so frees interleave with the other thread's allocations.
void Hammer(uint32_t selector, uint64_t baseSize, uint8_t pattern, std::atomic<int>& failures) {
  constexpr int kRounds = 200000;
  constexpr int kWindow = 64;
  void* window[kWindow] = {};
  for (int i = 0; i < kRounds; ++i) {
    void*& slot = window[i % kWindow];
    if (slot != nullptr) {
      const auto* bytes = static_cast<const uint8_t*>(slot);
      if (bytes[0] != pattern || bytes[GetBlockSize(slot) - 1] != pattern) failures++;
      Free(slot);
    }
    const uint64_t size = baseSize + static_cast<uint64_t>(i % 7);
    slot = Allocate(size, selector);
    std::memset(slot, pattern, size);
    if (i % 5 == 0) {
      slot = Reallocate(slot, size + 40, selector);
      std::memset(slot, pattern, size + 40);
    }
  }
  for (void* block : window) Free(block);
}

void RunPair(uint32_t selectorA, uint64_t sizeA, uint32_t selectorB, uint64_t sizeB) {
  const uint64_t before = GetMemoryStatistics().liveBlocks;
  std::atomic<int> failures{0};
  std::thread a(Hammer, selectorA, sizeA, uint8_t{0x5A}, std::ref(failures));
  std::thread b(Hammer, selectorB, sizeB, uint8_t{0xC3}, std::ref(failures));
  a.join();
  b.join();
  EXPECT_EQ(failures.load(), 0) << "a block was handed to both threads";
  EXPECT_EQ(GetMemoryStatistics().liveBlocks, before);
}

}  // namespace

TEST(MemoryThreads, TwoThreadsOnTheSameSizeClass) { RunPair(1, 24, 1, 24); }

TEST(MemoryThreads, TwoThreadsOnDifferentClassesAndPools) { RunPair(1, 24, 4, 300); }

TEST(MemoryThreads, TwoThreadsOnLargeAndCoreBlocks) { RunPair(0, 2000, 3, 1500); }

// Blocks allocated on one thread and freed on another move between the two threads' caches.
TEST(MemoryThreads, BlocksFreedOnAnotherThread) {
  const uint64_t before = GetMemoryStatistics().liveBlocks;
  constexpr int kBlocks = 20000;
  std::vector<void*> blocks(kBlocks);
  std::thread producer([&] {
    for (int i = 0; i < kBlocks; ++i) {
      blocks[i] = Allocate(16 + i % 200, 1 + i % 4);
      std::memset(blocks[i], 0x11, 16);
    }
  });
  producer.join();
  std::thread consumer([&] {
    for (void* block : blocks) Free(block);
  });
  consumer.join();
  EXPECT_EQ(GetMemoryStatistics().liveBlocks, before);
}

TEST(MemoryThreads, RecursiveLockIsReentrantForItsOwnerAndExcludesOthers) {
  CRecursiveSpinLock lock;
  int counter = 0;
  auto work = [&] {
    for (int i = 0; i < 50000; ++i) {
      lock.Lock();
      lock.Lock();  // the owner re-enters without deadlock
      ++counter;
      lock.Unlock();
      lock.Unlock();
    }
  };
  std::thread a(work), b(work);
  a.join();
  b.join();
  EXPECT_EQ(counter, 100000);
}

// Requests racing for the last room under the byte limit: a slow host keeps every thread inside
// its allocate call at once, yet only the blocks that fit together are handed out.
TEST(MemoryThreads, ConcurrentRequestsNeverPassTheLimitTogether) {
  constexpr int kThreads = 16;
  constexpr uint64_t kBlock = 100000;
  const auto slowAllocate = [](size_t size) {
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
    return std::malloc(size);
  };
  const auto create = [&](uint64_t limit) {
    return CMemorySystem::Create(slowAllocate, &std::realloc, &std::free, limit, 0, false);
  };
  CMemorySystem* probe = create(kNoLimit);
  const uint64_t setupBytes = probe->Manager().BytesInUse();
  CMemorySystem::Destroy(probe);
  CMemorySystem* system = create(setupBytes + 6 * kBlock + kBlock / 2);
  std::atomic<int> ready{0};
  std::vector<void*> blocks(kThreads);
  std::vector<std::thread> threads;
  for (int i = 0; i < kThreads; ++i) {
    threads.emplace_back([&, i] {
      ready++;
      while (ready.load() < kThreads) std::this_thread::yield();
      blocks[i] = system->Allocate(kBlock, 0);
    });
  }
  for (std::thread& thread : threads) thread.join();
  int granted = 0;
  for (void* block : blocks) granted += block != nullptr ? (system->Free(block), 1) : 0;
  EXPECT_EQ(granted, 6);
  EXPECT_EQ(system->Manager().BytesInUse(), setupBytes) << "failed requests gave their reservation back";
  CMemorySystem::Destroy(system);
}

namespace {
// A host thread_local whose destructor allocates and frees. Constructed before the thread's first
// allocation, it is destroyed after whatever the library registered for the thread's end.
struct LateUser {
  bool armed = false;
  ~LateUser() {
    if (!armed) return;
    void* small = Allocate(48, 1);
    void* large = Allocate(3000, 4);
    Free(small);
    Free(large);
  }
};
thread_local LateUser t_lateUser;
}  // namespace

// Whatever order the platform ends a thread in, nothing of its cache may outlive it: threads that
// allocate, threads whose first allocation is in a late destructor, and threads with both.
TEST(MemoryThreads, EndedThreadsLeaveNoCacheOrBlockBehind) {
  const struct { bool late, early; } cases[] = {{false, true}, {true, false}, {true, true}};
  for (const auto& c : cases) {
    const auto body = [c] {
      t_lateUser.armed = c.late;
      if (c.early) Free(Allocate(24, 2));
    };
    std::thread(body).join();  // warms the pools' chunks up
    const int64_t hostBlocks = QuorinTest::Counters().liveBlocks.load();
    const uint64_t bytes = GetMemoryStatistics().bytesInUse;
    for (int i = 0; i < 20; ++i) std::thread(body).join();
    EXPECT_EQ(QuorinTest::Counters().liveBlocks.load(), hostBlocks) << c.late << c.early;
    EXPECT_EQ(GetMemoryStatistics().bytesInUse, bytes) << c.late << c.early;
  }
  // Calls after the thread's end was handled take the locked paths instead of a new cache.
  std::thread([] {
    Free(Allocate(24, 2));
    CMemorySystem::EndCallingThread();
    Free(Allocate(40, 1));
    EXPECT_EQ(Bravik::System::ThreadSlot().tag, kEndedThread);
  }).join();
}
