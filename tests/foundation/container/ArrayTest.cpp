// TArray: growth, Reserve, removal, pools, and growth that runs out of memory.
#include <cstdint>
#include <new>
#include <vector>

#include <gtest/gtest.h>

#include "foundation/container/Array.h"
#include "foundation/memory/Memory.h"
#include "tests/support/CountingAllocator.h"

namespace {

using Bravik::TArray;
namespace Memory = Bravik::Memory;

struct Pair {
  uint32_t key;
  void* value;
};

TEST(ArrayGrowth, CapacityFollowsStep) {
  const struct { uint64_t step; std::vector<uint64_t> capacities; } cases[] = {
      {0, {0, 1, 2, 4, 4, 8, 8, 8, 8, 16}}, {3, {0, 3, 3, 3, 6, 6, 6, 9, 9, 9}}, {1, {0, 1, 2, 3, 4, 5, 6, 7, 8, 9}}};
  for (const auto& c : cases) {
    TArray<Pair> array(c.step);
    std::vector<uint64_t> capacities{array.Capacity()};
    for (uint32_t i = 0; i < 9; ++i) capacities.push_back((array.Append(Pair{i, nullptr}), array.Capacity()));
    EXPECT_EQ(capacities, c.capacities) << "step " << c.step;
  }
}

TEST(ArrayGrowth, KeepsValuesAndUsesChosenPool) {
  TArray<uint32_t, Memory::kPool16> array;
  for (uint32_t i = 0; i < 100; ++i) array.Append(i * 3);
  ASSERT_EQ(array.Count(), 100u);
  for (uint32_t i = 0; i < 100; ++i) EXPECT_EQ(array[i], i * 3);
  EXPECT_EQ(Memory::GetBlockPool(array.Data()), Memory::kPool16);
  EXPECT_EQ(Memory::GetBlockSize(array.Data()), array.Capacity() * sizeof(uint32_t));
}

TEST(ArrayGrowth, DefaultPoolAlignsElementsPastSmallBlocks) {
  TArray<char> bytes;
  bytes.Append('x');
  EXPECT_EQ(Memory::GetBlockPool(bytes.Data()), Memory::kObjectPool);
  TArray<void*> pointers;
  for (int i = 0; i < 300; ++i) pointers.Append(&pointers);  // 2400 bytes: a host block
  EXPECT_EQ(reinterpret_cast<uintptr_t>(pointers.Data()) % alignof(void*), 0u);
}

TEST(ArrayGrowth, AppendOfOwnElementSurvivesMove) {
  TArray<uint64_t> array;
  array.Append(0x1234567890ull);
  for (int i = 0; i < 10; ++i) array.Append(array[0]);
  for (uint64_t value : array) EXPECT_EQ(value, 0x1234567890ull);
}

TEST(ArrayReserve, ClipsCountAndHasMinimumOne) {
  TArray<uint32_t> array;
  for (uint32_t i = 0; i < 5; ++i) array.Append(i + 10);
  array.Reserve(3);
  EXPECT_EQ(array.Capacity(), 3u);
  EXPECT_EQ(array.Count(), 3u);
  EXPECT_EQ(array[2], 12u);
  array.Reserve(0);
  EXPECT_EQ(array.Capacity(), 1u);
  EXPECT_EQ(array.Count(), 1u);
  EXPECT_EQ(array[0], 10u);
  array.Reserve(40);
  EXPECT_EQ(array.Count(), 1u);
  EXPECT_EQ(Memory::GetBlockSize(array.Data()), 40 * sizeof(uint32_t));
}

TEST(ArrayEdit, RemoveAtKeepsOrderAndClearKeepsBlock) {
  TArray<uint32_t> array;
  for (uint32_t i = 0; i < 6; ++i) array.Append(i);
  array.RemoveAt(0);
  array.RemoveAt(2);
  array.RemoveAt(3);
  EXPECT_EQ(std::vector<uint32_t>(array.begin(), array.end()), (std::vector<uint32_t>{1, 2, 4}));
  array.Clear();
  EXPECT_TRUE(array.IsEmpty());
  EXPECT_EQ(array.Capacity(), 8u);
  array.Free();
  EXPECT_EQ(array.Data(), nullptr);
  EXPECT_EQ(array.Capacity(), 0u);
}

TEST(ArrayEdit, MoveHandsOverTheBlock) {
  TArray<uint32_t> source(5);
  source.Append(7);
  TArray<uint32_t> target;
  target.Append(1);
  target = std::move(source);
  EXPECT_EQ(target.Count(), 1u);
  EXPECT_EQ(target[0], 7u);
  EXPECT_EQ(target.Step(), 5u);
  EXPECT_EQ(source.Data(), nullptr);
  EXPECT_EQ(source.Count(), 0u);
}

// Fails the N-th host call for N = 1, 2, ... while an array of 8-byte records grows past the
// small-block sizes (so growth reaches the host): each failed append must leave the array as it
// was, and the run ends when no call fails any more.
TEST(ArrayOutOfMemory, FailedGrowthLeavesArrayUnchanged) {
  QuorinTest::AllocatorCounters& counters = QuorinTest::Counters();
  bool completed = false;
  for (uint64_t failAt = 1; !completed; ++failAt) {
    ASSERT_LT(failAt, 100u);
    TArray<uint64_t> array;
    counters.failAtCall = counters.allocateCalls + counters.reallocateCalls + failAt;
    try {
      for (uint64_t i = 0; i < 2000; ++i) {
        const uint64_t* before = array.Data();
        const uint64_t capacity = array.Capacity();
        try {
          array.Append(i);
        } catch (const std::bad_alloc&) {
          EXPECT_EQ(array.Data(), before);
          EXPECT_EQ(array.Count(), i);
          EXPECT_EQ(array.Capacity(), capacity);
          for (uint64_t j = 0; j < i; ++j) ASSERT_EQ(array[j], j);
          throw;
        }
      }
      completed = true;
      EXPECT_GT(failAt, 2u);  // growth to 16 KiB needs several host calls
    } catch (const std::bad_alloc&) {
    }
    counters.failAtCall = 0;
  }
}

// A size whose byte count would overflow raises instead of wrapping.
TEST(ArrayOutOfMemory, OverflowingSizeRaises) {
  TArray<uint64_t> array;
  array.Append(1);
  EXPECT_THROW(array.Reserve(~0ull / 4), std::bad_alloc);
  EXPECT_EQ(array.Capacity(), 1u);
  EXPECT_EQ(array[0], 1u);
}

}  // namespace
