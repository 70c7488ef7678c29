// Host allocation callbacks that count live blocks and calls, and can fail on demand: every
// test runs the memory manager on top of these to catch leaks and allocation failures.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>

namespace QuorinTest {

struct AllocatorCounters {
  std::atomic<int64_t> liveBlocks{0};
  std::atomic<uint64_t> allocateCalls{0};
  std::atomic<uint64_t> reallocateCalls{0};
  std::atomic<uint64_t> freeCalls{0};
  // When non-zero, the call that brings allocateCalls + reallocateCalls to this number fails.
  std::atomic<uint64_t> failAtCall{0};
};

AllocatorCounters& Counters();

void* CountingAllocate(size_t size);
void* CountingReallocate(void* block, size_t size);
void CountingFree(void* block);

// Runs `action` with host allocation call N failing, for N = 1, 2, ... until it completes
// without std::bad_alloc; after each failed run, `check` (when given) tests that nothing was
// corrupted. Gives the number of failed runs; adds a test failure when the action still fails
// after `limit` runs. The leak check of every test then shows whether a failed run leaked.
uint64_t ForEachAllocationFailure(const std::function<void()>& action,
                                  const std::function<void()>& check = {}, uint64_t limit = 4096);

// Starts the process-wide memory manager on the counting callbacks (once per process).
void InitializeCountingMemory();

}  // namespace QuorinTest
