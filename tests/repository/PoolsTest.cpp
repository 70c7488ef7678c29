// Region pools: chunked item pools, contiguous record runs, exact-size data blocks, the byte pool.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <stdexcept>
#include <vector>

#include "foundation/memory/Memory.h"
#include "repository/ChunkArray.h"
#include "repository/DataBlockPool.h"
#include "repository/Repository.h"
#include "tests/support/CountingAllocator.h"

namespace Quorin {
namespace {

int g_liveItems = 0;

// A stand-in item: counts constructions and destructions, can refuse to be built.
struct TestItem : TRepositoryItem<uint32_t> {
  explicit TestItem(uint32_t value, bool fail = false) : payload(value) {
    if (fail) throw std::runtime_error("refused");
    ++g_liveItems;
  }
  ~TestItem() { --g_liveItems; }
  void EraseFromIndex(RepositoryIndex& index) { index.prototypes.Erase(this); }
  uint64_t payload;
};

using TestPool = TChunkArray<TestItem, 14>;

std::vector<uint64_t> WalkPayloads(const TestPool& pool) {
  std::vector<uint64_t> seen;
  pool.Walk([&](const TestItem& item) {
    seen.push_back(item.payload);
    return true;
  });
  return seen;
}

class ChunkArrayTest : public testing::Test {
 protected:
  void TearDown() override {
    pool.Clear();
    EXPECT_EQ(g_liveItems, 0);
  }
  TestPool pool;
};

TEST_F(ChunkArrayTest, ItemsNeverMoveWhileThePoolGrows) {
  constexpr uint32_t kCount = 100000;
  std::vector<TestItem*> handles;
  for (uint32_t i = 0; i < kCount; ++i) handles.push_back(pool.Emplace(i));
  for (uint32_t i = 0; i < kCount; ++i) ASSERT_EQ(handles[i]->payload, i);
  EXPECT_EQ(pool.LiveCount(), kCount);
  EXPECT_EQ(pool.Capacity(), (kCount + 13) / 14 * 14);  // whole chunks of 14
}

TEST_F(ChunkArrayTest, ReleasedSlotsAreReusedNewestFirst) {
  TestItem* a = pool.Emplace(1u);
  TestItem* b = pool.Emplace(2u);
  pool.Emplace(3u);
  pool.Release(a);
  pool.Release(b);
  EXPECT_EQ(pool.Emplace(4u), b);
  EXPECT_EQ(pool.Emplace(5u), a);
  EXPECT_EQ(pool.SlotCount(), 3u);  // no slot added at the end
}

TEST_F(ChunkArrayTest, WalkFollowsPoolOrderAndSkipsReleasedSlots) {
  std::vector<TestItem*> items;
  std::vector<uint64_t> expected;
  for (uint32_t i = 0; i < 20; ++i) items.push_back(pool.Emplace(i));
  for (uint32_t i = 0; i < 20; ++i) {
    if (i == 3 || i == 15) pool.Release(items[i]);
    else expected.push_back(i);
  }
  EXPECT_EQ(WalkPayloads(pool), expected);
  pool.Emplace(99u);  // reuses slot 15: the new item keeps that place
  expected.insert(expected.begin() + 14, 99);
  EXPECT_EQ(WalkPayloads(pool), expected);
  EXPECT_EQ(pool.At(3), nullptr);
  EXPECT_EQ(pool.At(15)->payload, 99u);
  int visits = 0;  // a false answer stops the walk
  EXPECT_FALSE(pool.Walk([&](TestItem&) { return ++visits < 2; }));
  EXPECT_EQ(visits, 2);
}

TEST_F(ChunkArrayTest, AFailedConstructionLeavesNoStoredItem) {
  pool.Emplace(1u);
  EXPECT_THROW(pool.Emplace(2u, true), std::runtime_error);
  EXPECT_EQ(pool.LiveCount(), 1u);
  EXPECT_EQ(WalkPayloads(pool), std::vector<uint64_t>{1});
  TestItem* reused = pool.Emplace(3u);  // takes the slot the failure gave back
  EXPECT_EQ(pool.SlotCount(), 2u);
  EXPECT_EQ(reused->payload, 3u);
}

TEST_F(ChunkArrayTest, ClearDestroysEveryStoredItemAndKeepsThePoolUsable) {
  for (uint32_t i = 0; i < 30; ++i) pool.Emplace(i);
  pool.Release(pool.At(7));
  pool.Clear();
  EXPECT_EQ(g_liveItems, 0);
  EXPECT_EQ(pool.Capacity(), 0u);
  EXPECT_EQ(pool.Emplace(5u)->payload, 5u);
}

TEST_F(ChunkArrayTest, UnlinkAllErasesEveryStoredItemFromItsTree) {
  RepositoryIndex index;
  for (uint32_t i = 0; i < 3; ++i) index.prototypes.Insert(pool.Emplace(i), 7);  // same id thrice
  EXPECT_EQ(index.prototypes.count, 3u);
  pool.UnlinkAll(index);
  EXPECT_EQ(index.prototypes.count, 0u);
  EXPECT_EQ(index.prototypes.root, nullptr);
}

TEST(RecordPoolTest, RunsStayContiguousAndAreNumberedAcrossThePool) {
  TRecordPool<TlxMember, 16> pool;
  std::vector<TlxMember> records(20);
  for (uint32_t i = 0; i < 20; ++i) records[i] = TlxMember{i, i * 32};
  uint32_t first = 99;
  TlxMember* a = pool.Append(records.data(), 10, first);
  EXPECT_EQ(first, 0u);
  TlxMember* b = pool.Append(records.data(), 20, first);  // longer than a chunk: one run anyway
  EXPECT_EQ(first, 10u);
  EXPECT_EQ(std::memcmp(b, records.data(), 20 * sizeof(TlxMember)), 0);
  EXPECT_EQ(a[9].nameHash, 9u);
  EXPECT_EQ(pool.Append(records.data(), 0, first), nullptr);
  EXPECT_EQ(first, 30u);
  EXPECT_EQ(pool.Count(), 30u);
}

TEST(DataBlockPoolTest, GivenBackBlocksAreReusedBySize) {
  CDataBlockPool pool;
  void* a = pool.Take(37);
  void* b = pool.Take(37);
  void* c = pool.Take(12);
  EXPECT_NE(a, b);
  pool.Give(a, 37);
  pool.Give(c, 12);
  EXPECT_EQ(pool.Take(12), c);
  EXPECT_EQ(pool.Take(37), a);
  EXPECT_EQ(pool.SizeCount(), 2u);
  // Small requests share the eight-byte blocks, all of which is usable.
  void* one = pool.Take(1);
  std::memset(one, 0xAB, CDataBlockPool::kMinimumBlock);
  pool.Give(one, 1);
  EXPECT_EQ(pool.Take(5), one);
  EXPECT_EQ(pool.SizeCount(), 3u);
}

TEST(DataBlockPoolTest, BlocksOfOneSizeDoNotOverlap) {
  // Table: sizes around the slab size, each taken often enough to span several slabs.
  for (uint32_t size : {8u, 37u, 512u, 1023u, 1024u, 3000u}) {
    CDataBlockPool pool;
    std::vector<uint8_t*> blocks;
    for (uint32_t i = 0; i < 64; ++i) {
      blocks.push_back(static_cast<uint8_t*>(pool.Take(size)));
      std::memset(blocks.back(), static_cast<int>(i), size);
    }
    for (uint32_t i = 0; i < 64; ++i) {
      ASSERT_EQ(blocks[i][0], i) << size;
      ASSERT_EQ(blocks[i][size - 1], i) << size;
    }
  }
}

TEST(DataBlockPoolTest, SteadyTakeAndGiveStopsReachingTheAllocator) {
  CDataBlockPool pool;
  std::vector<void*> blocks;
  for (int i = 0; i < 200; ++i) blocks.push_back(pool.Take(37));
  for (void* block : blocks) pool.Give(block, 37);
  const uint64_t before = QuorinTest::Counters().allocateCalls.load();
  const uint64_t liveBefore = Bravik::Memory::GetMemoryStatistics().liveBlocks;
  for (int round = 0; round < 100; ++round) {
    for (void*& block : blocks) block = pool.Take(37);
    for (void* block : blocks) pool.Give(block, 37);
  }
  EXPECT_EQ(QuorinTest::Counters().allocateCalls.load(), before);
  EXPECT_EQ(Bravik::Memory::GetMemoryStatistics().liveBlocks, liveBefore);
}

TEST(BytePoolTest, PiecesArePackedAlignedAndLongOnesGetTheirOwnBlock) {
  CBytePool pool;
  auto* a = static_cast<uint8_t*>(pool.Take(3));
  auto* b = static_cast<uint8_t*>(pool.Take(4, 4));
  EXPECT_EQ(reinterpret_cast<uintptr_t>(b) % 4, 0u);
  EXPECT_EQ(b, a + 4);  // same block, aligned up
  EXPECT_EQ(pool.BlockCount(), 1u);
  auto* longPiece = static_cast<uint8_t*>(pool.Take(5000, 2));
  std::memset(longPiece, 1, 5000);
  EXPECT_EQ(pool.BlockCount(), 2u);
  EXPECT_EQ(pool.Take(4, 4), b + 4);  // the shared block goes on after a long piece
  EXPECT_NE(pool.Take(1020), nullptr);  // does not fit: a new shared block
  EXPECT_EQ(pool.BlockCount(), 3u);
  EXPECT_EQ(pool.Take(0), nullptr);
}

TEST(BytePoolTest, FullBlockIsUsedToTheLastByte) {
  CBytePool pool;
  auto* first = static_cast<uint8_t*>(pool.Take(1000));
  EXPECT_EQ(pool.Take(24), first + 1000);
  pool.Take(1);
  EXPECT_EQ(pool.BlockCount(), 2u);
}

}  // namespace
}  // namespace Quorin
