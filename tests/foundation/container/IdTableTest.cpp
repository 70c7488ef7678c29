// TIdTable: bucket choice, look-up order with repeated keys, removal, walks, out of memory.
#include <cstdint>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "foundation/container/IdTable.h"
#include "tests/support/CountingAllocator.h"

namespace {

using Bravik::TIdTable;

TEST(IdTable, KeyMixSelectsTheBucketAndPairsKeepTheirOrder) {
  const struct { uint32_t key, bucket; } cases[] = {{0, 0}, {65, 0}, {64, 1}, {63, 63}, {4095, 0}, {0xFFFFFFFF, 0}, {0x12345678, 33}};
  for (const auto& c : cases) EXPECT_EQ((TIdTable<uint32_t, void*>::BucketOf(c.key)), c.bucket) << c.key;
  EXPECT_EQ((TIdTable<uint16_t, void*>::BucketOf(0xABCD)), 34u);
  TIdTable<uint16_t, uint64_t> table;
  for (uint16_t key : {65, 64, 0}) table.Add(key, key * 10u);
  ASSERT_EQ(table.GetBucket(0).Count(), 2u);
  EXPECT_EQ(table.GetBucket(0)[1].key, 0u);
  EXPECT_EQ(*table.Lookup(64), 640u);
  EXPECT_EQ(table.Lookup(1), nullptr);
  EXPECT_EQ(table.Count(), 3u);
}

TEST(IdTable, FirstAddedWinsUntilRemoved) {
  TIdTable<uint32_t, uint64_t> table;
  table.Add(7, 100);
  table.Add(7, 200);
  EXPECT_EQ(*table.Lookup(7), 100u);
  EXPECT_TRUE(table.Remove(7));
  EXPECT_EQ(*table.Lookup(7), 200u);
  EXPECT_TRUE(table.Remove(7));
  EXPECT_FALSE(table.Remove(7));
}

TEST(IdTable, WalksInBucketOrderOrAscendingAndStopEarly) {
  TIdTable<uint32_t, int> table;
  const uint32_t keys[] = {64, 65, 3, 0, 65, 200000};
  for (int i = 0; i < 6; ++i) table.Add(keys[i], i);
  std::vector<std::pair<uint32_t, int>> seen;
  auto record = [&](uint32_t key, int& value) { return seen.emplace_back(key, value), true; };
  EXPECT_TRUE(table.Walk(record));
  // Buckets: 65 -> 0, 0 -> 0, 64 -> 1, 3 -> 3, 200000 -> 5.
  EXPECT_EQ(seen, (std::vector<std::pair<uint32_t, int>>{{65, 1}, {0, 3}, {65, 4}, {64, 0}, {3, 2}, {200000, 5}}));
  seen.clear();
  EXPECT_TRUE(table.WalkAscending(record));
  EXPECT_EQ(seen, (std::vector<std::pair<uint32_t, int>>{{0, 3}, {3, 2}, {64, 0}, {65, 1}, {65, 4}, {200000, 5}}));
  int visits = 0;
  EXPECT_FALSE(table.WalkAscending([&](uint32_t, int&) { return ++visits < 2; }));
  EXPECT_EQ(visits, 2);
  table.Free();
  EXPECT_EQ(table.Count(), 0u);
}

TEST(IdTable, FailedAddLeavesTheTableUnchanged) {
  // A full bucket of 100+ pointer pairs grows through the host.
  TIdTable<uint32_t, void*> table;
  auto inBucket0 = [](uint32_t i) { return i * 64 + (i & 63); };
  for (uint32_t i = 0; i < 100; ++i) table.Add(inBucket0(i), nullptr);
  const uint64_t capacity = table.GetBucket(0).Capacity();
  for (uint32_t i = 100; i < capacity; ++i) table.Add(inBucket0(i), nullptr);
  const uint32_t extra = inBucket0(static_cast<uint32_t>(capacity));
  EXPECT_EQ(QuorinTest::ForEachAllocationFailure([&] { table.Add(extra, nullptr); },
                                                 [&] {
                                                   EXPECT_EQ(table.Lookup(extra), nullptr);
                                                   EXPECT_EQ(table.GetBucket(0).Count(), capacity);
                                                 }),
            1u);
}

}  // namespace
