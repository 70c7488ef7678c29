// TArray: growth by step or doubling, Reserve, removal, pools, and growth that runs out of memory.
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

TEST(Array, CapacityFollowsTheStep) {
  const struct { uint64_t step; std::vector<uint64_t> capacities; } cases[] = {
      {0, {0, 1, 2, 4, 4, 8, 8, 8, 8, 16}}, {3, {0, 3, 3, 3, 6, 6, 6, 9, 9, 9}}, {1, {0, 1, 2, 3, 4, 5, 6, 7, 8, 9}}};
  for (const auto& c : cases) {
    TArray<uint64_t> array(c.step);
    std::vector<uint64_t> capacities{array.Capacity()};
    for (uint32_t i = 0; i < 9; ++i) capacities.push_back((array.Append(i), array.Capacity()));
    EXPECT_EQ(capacities, c.capacities) << "step " << c.step;
  }
}

TEST(Array, ElementsLiveInTheChosenPoolAndAppendMayCopyItsOwn) {
  TArray<uint32_t, Memory::kPool16> array;
  for (uint32_t i = 0; i < 100; ++i) array.Append(i * 3);
  for (uint32_t i = 0; i < 100; ++i) ASSERT_EQ(array[i], i * 3);
  EXPECT_EQ(Memory::GetBlockPool(array.Data()), Memory::kPool16);
  EXPECT_EQ(Memory::GetBlockSize(array.Data()), array.Capacity() * sizeof(uint32_t));
  TArray<void*> pointers;  // 2400 bytes: a host block, still aligned for pointers
  for (int i = 0; i < 300; ++i) pointers.Append(&pointers);
  EXPECT_EQ(reinterpret_cast<uintptr_t>(pointers.Data()) % alignof(void*), 0u);
  TArray<uint64_t> own;
  own.Append(0x1234567890ull);
  for (int i = 0; i < 10; ++i) own.Append(own[0]);  // the source moves with the growth
  for (uint64_t value : own) EXPECT_EQ(value, 0x1234567890ull);
}

TEST(Array, ReserveClipsTheCountKeepsOneAndRefusesOverflow) {
  TArray<uint32_t> array;
  for (uint32_t i = 0; i < 5; ++i) array.Append(i + 10);
  array.Reserve(3);
  EXPECT_EQ(array.Capacity(), 3u);
  EXPECT_EQ(array.Count(), 3u);
  array.Reserve(0);
  EXPECT_EQ(array.Capacity(), 1u);
  EXPECT_EQ(array.Count(), 1u);
  EXPECT_EQ(array[0], 10u);
  EXPECT_THROW(array.Reserve(~0ull / 2), std::bad_alloc);  // the byte count would wrap
  EXPECT_EQ(array.Capacity(), 1u);
  array.Reserve(40);
  EXPECT_EQ(Memory::GetBlockSize(array.Data()), 40 * sizeof(uint32_t));
}

TEST(Array, RemoveAtKeepsOrderClearKeepsTheBlockMoveHandsItOver) {
  TArray<uint32_t> array;
  for (uint32_t i = 0; i < 6; ++i) array.Append(i);
  for (uint64_t at : {0, 2, 3}) array.RemoveAt(at);
  EXPECT_EQ(std::vector<uint32_t>(array.begin(), array.end()), (std::vector<uint32_t>{1, 2, 4}));
  array.Clear();
  EXPECT_TRUE(array.IsEmpty());
  EXPECT_EQ(array.Capacity(), 8u);
  TArray<uint32_t> source(5);
  source.Append(7);
  array = std::move(source);  // the target's own block is freed (leak check)
  EXPECT_EQ(array.Count(), 1u);
  EXPECT_EQ(array[0], 7u);
  EXPECT_EQ(array.Step(), 5u);
  EXPECT_EQ(source.Data(), nullptr);
  array.Free();
  EXPECT_EQ(array.Capacity(), 0u);
}

// 8-byte records growing to 16 KiB reach the host several times; a failed append leaves the
// block, count, capacity and contents as they were.
TEST(Array, FailedGrowthLeavesTheArrayUnchanged) {
  TArray<uint64_t> array;
  const uint64_t* data = nullptr;
  uint64_t capacity = 0;
  const uint64_t failures = QuorinTest::ForEachAllocationFailure(
      [&] {
        while (array.Count() < 2000) {
          data = array.Data();
          capacity = array.Capacity();
          array.Append(array.Count());
        }
      },
      [&] {
        EXPECT_EQ(array.Data(), data);
        EXPECT_EQ(array.Capacity(), capacity);
        for (uint64_t j = 0; j < array.Count(); ++j) ASSERT_EQ(array[j], j);
      });
  EXPECT_GT(failures, 2u);
}

}  // namespace
