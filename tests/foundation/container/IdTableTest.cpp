// TIdTable: bucket choice, lookup order with repeated keys, removal, walks, out of memory.
#include <cstdint>
#include <new>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "foundation/container/IdTable.h"
#include "tests/support/CountingAllocator.h"

namespace {

using Bravik::TIdPair;
using Bravik::TIdTable;

struct Value16 {  // the shape of a script value
  uint32_t kind;
  uint32_t extra;
  void* payload;
};

static_assert(sizeof(TIdPair<uint32_t, void*>) == 16);
static_assert(sizeof(TIdPair<uint32_t, Value16>) == 24);
static_assert(sizeof(TIdPair<uint16_t, Value16>) == 24);
static_assert(sizeof(TIdTable<uint32_t, void*>) == 64 * 32);

TEST(IdTableBuckets, KeyMixSelectsBucket) {
  const struct { uint32_t key, bucket; } cases[] = {{0, 0}, {65, 0}, {64, 1}, {63, 63}, {4095, 0}, {0xFFFFFFFF, 0}, {0x12345678, 33}};
  using Table = TIdTable<uint32_t, void*>;
  for (const auto& c : cases) EXPECT_EQ(Table::BucketOf(c.key), c.bucket) << c.key;
  EXPECT_EQ((TIdTable<uint16_t, void*>::BucketOf(0xFFFF)), 0u);
  EXPECT_EQ((TIdTable<uint16_t, void*>::BucketOf(0xABCD)), 34u);
}

TEST(IdTableBuckets, PairsLandInTheirBucketInOrder) {
  TIdTable<uint16_t, Value16> table;
  table.Add(65, Value16{1, 0, nullptr});
  table.Add(64, Value16{2, 0, nullptr});
  table.Add(0, Value16{3, 0, nullptr});
  ASSERT_EQ(table.GetBucket(0).Count(), 2u);
  EXPECT_EQ(table.GetBucket(0)[0].key, 65u);
  EXPECT_EQ(table.GetBucket(0)[1].key, 0u);
  ASSERT_EQ(table.GetBucket(1).Count(), 1u);
  EXPECT_EQ(table.Lookup(0)->kind, 3u);
  EXPECT_EQ(table.Lookup(64)->kind, 2u);
  EXPECT_EQ(table.Lookup(1), nullptr);
  EXPECT_EQ(table.Count(), 3u);
}

TEST(IdTableLookup, FirstAddedWinsUntilRemoved) {
  TIdTable<uint32_t, uint64_t> table;
  table.Add(7, 100);
  table.Add(7, 200);
  EXPECT_EQ(*table.Lookup(7), 100u);
  EXPECT_TRUE(table.Remove(7));
  EXPECT_EQ(*table.Lookup(7), 200u);
  EXPECT_TRUE(table.Remove(7));
  EXPECT_EQ(table.Lookup(7), nullptr);
  EXPECT_FALSE(table.Remove(7));
}

TEST(IdTableWalk, BucketOrderAscendingOrderAndEarlyStop) {
  TIdTable<uint32_t, int> table;
  const uint32_t keys[] = {64, 65, 3, 0, 65, 200000};
  for (int i = 0; i < 6; ++i) table.Add(keys[i], i);
  std::vector<std::pair<uint32_t, int>> seen;
  auto record = [&](uint32_t key, int& value) { return seen.emplace_back(key, value), true; };
  EXPECT_TRUE(table.Walk(record));
  // Buckets: 65 -> 0, 0 -> 0, 64 -> 1, 3 -> 3, 200000 -> (3125 ^ 200000) & 63 = 5.
  EXPECT_EQ(seen, (std::vector<std::pair<uint32_t, int>>{
                      {65, 1}, {0, 3}, {65, 4}, {64, 0}, {3, 2}, {200000, 5}}));
  seen.clear();
  EXPECT_TRUE(table.WalkAscending(record));
  EXPECT_EQ(seen, (std::vector<std::pair<uint32_t, int>>{
                      {0, 3}, {3, 2}, {64, 0}, {65, 1}, {65, 4}, {200000, 5}}));
  int visits = 0;
  EXPECT_FALSE(table.WalkAscending([&](uint32_t, int&) { return ++visits < 2; }));
  EXPECT_EQ(visits, 2);
  table.Free();
  EXPECT_EQ(table.Count(), 0u);
  EXPECT_TRUE(table.WalkAscending([](uint32_t, int&) { return false; }));
}

TEST(IdTableOutOfMemory, FailedAddLeavesTableUnchanged) {
  // 100 pointer pairs fill a bucket past the small-block sizes, so its growth reaches the host.
  TIdTable<uint32_t, void*> table;
  auto inBucket0 = [](uint32_t i) { return i * 64 + (i & 63); };
  for (uint32_t i = 0; i < 100; ++i) table.Add(inBucket0(i), nullptr);
  ASSERT_EQ(table.GetBucket(0).Count(), 100u);
  const uint64_t capacity = table.GetBucket(0).Capacity();
  for (uint32_t i = 100; i < capacity; ++i) table.Add(inBucket0(i), nullptr);
  QuorinTest::AllocatorCounters& counters = QuorinTest::Counters();
  counters.failAtCall = counters.allocateCalls + counters.reallocateCalls + 1;
  const uint32_t extra = inBucket0(static_cast<uint32_t>(capacity));
  EXPECT_THROW(table.Add(extra, nullptr), std::bad_alloc);
  counters.failAtCall = 0;
  EXPECT_EQ(table.Lookup(extra), nullptr);
  EXPECT_EQ(table.GetBucket(0).Count(), capacity);
  EXPECT_EQ(table.GetBucket(0).Capacity(), capacity);
}

}  // namespace
