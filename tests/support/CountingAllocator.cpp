#include "tests/support/CountingAllocator.h"

#include <cstdlib>
#include <new>

#include <gtest/gtest.h>

#include "foundation/memory/Memory.h"

namespace QuorinTest {

AllocatorCounters& Counters() {
  static AllocatorCounters counters;
  return counters;
}

namespace {
bool ShouldFail() {
  AllocatorCounters& c = Counters();
  const uint64_t failAt = c.failAtCall.load();
  return failAt != 0 && c.allocateCalls.load() + c.reallocateCalls.load() == failAt;
}
}  // namespace

void* CountingAllocate(size_t size) {
  Counters().allocateCalls++;
  if (ShouldFail()) return nullptr;
  void* block = std::malloc(size);
  if (block != nullptr) Counters().liveBlocks++;
  return block;
}

void* CountingReallocate(void* block, size_t size) {
  Counters().reallocateCalls++;
  if (ShouldFail()) return nullptr;
  void* moved = std::realloc(block, size);
  if (block == nullptr && moved != nullptr) Counters().liveBlocks++;
  return moved;
}

void CountingFree(void* block) {
  if (block == nullptr) return;
  Counters().freeCalls++;
  Counters().liveBlocks--;
  std::free(block);
}

uint64_t ForEachAllocationFailure(const std::function<void()>& action,
                                  const std::function<void()>& check, uint64_t limit) {
  AllocatorCounters& counters = Counters();
  for (uint64_t n = 1; n <= limit; ++n) {
    counters.failAtCall = counters.allocateCalls + counters.reallocateCalls + n;
    bool failed = false;
    try {
      action();
    } catch (const std::bad_alloc&) {
      failed = true;
    }
    counters.failAtCall = 0;
    if (!failed) return n - 1;
    if (check) check();
  }
  ADD_FAILURE() << "the action still ran out of memory after " << limit << " failing runs";
  return limit;
}

void InitializeCountingMemory() {
  Bravik::Memory::InitializeMemory(&CountingAllocate, &CountingReallocate, &CountingFree,
                                   Bravik::Memory::kNoLimit);
}

}  // namespace QuorinTest
