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

class ChunkArrayTest : public testing::Test {
 protected:
  void TearDown() override {
    pool.Clear();
    EXPECT_EQ(g_liveItems, 0);
  }
  std::vector<uint64_t> Payloads() const {
    std::vector<uint64_t> seen;
    pool.Walk([&](const TestItem& item) { return seen.push_back(item.payload), true; });
    return seen;
  }
  TChunkArray<TestItem, 14> pool;
};

TEST_F(ChunkArrayTest, ItemsNeverMoveWhileThePoolGrowsByWholeChunks) {
  std::vector<TestItem*> handles;
  for (uint32_t i = 0; i < 100000; ++i) handles.push_back(pool.Emplace(i));
  for (uint32_t i = 0; i < 100000; ++i) ASSERT_EQ(handles[i]->payload, i);
  EXPECT_EQ(pool.LiveCount(), 100000u);
  EXPECT_EQ(pool.Capacity(), (100000u + 13) / 14 * 14);
}

// Released slots are reused newest first and keep their place in the walk; a walk skips them and
// ends at a false answer.
TEST_F(ChunkArrayTest, ReleasedSlotsAreSkippedThenReusedInPlace) {
  std::vector<TestItem*> items;
  std::vector<uint64_t> expected;
  for (uint32_t i = 0; i < 20; ++i) items.push_back(pool.Emplace(i));
  for (uint32_t i = 0; i < 20; ++i) {
    if (i == 3 || i == 15) pool.Release(items[i]);
    else expected.push_back(i);
  }
  EXPECT_EQ(Payloads(), expected);
  EXPECT_EQ(pool.At(3), nullptr);
  EXPECT_EQ(pool.Emplace(99u), items[15]);
  EXPECT_EQ(pool.Emplace(98u), items[3]);
  EXPECT_EQ(pool.SlotCount(), 20u);
  expected.insert(expected.begin() + 14, 99);
  expected.insert(expected.begin() + 3, 98);
  EXPECT_EQ(Payloads(), expected);
  int visits = 0;
  EXPECT_FALSE(pool.Walk([&](TestItem&) { return ++visits < 2; }));
  EXPECT_EQ(visits, 2);
}

TEST_F(ChunkArrayTest, AFailedConstructionGivesTheSlotBack) {
  pool.Emplace(1u);
  EXPECT_THROW(pool.Emplace(2u, true), std::runtime_error);
  EXPECT_EQ(pool.LiveCount(), 1u);
  EXPECT_EQ(Payloads(), std::vector<uint64_t>{1});
  pool.Emplace(3u);
  EXPECT_EQ(pool.SlotCount(), 2u);
}

// With 128 chunks the chunk list fills its 1 KiB block: recording the next chunk reaches the host,
// and when that fails the new chunk goes back too (leak check).
TEST_F(ChunkArrayTest, AChunkThatCannotBeRecordedIsFreed) {
  while (pool.LiveCount() < 128 * 14) pool.Emplace(0u);
  EXPECT_GT(QuorinTest::ForEachAllocationFailure([&] { pool.Emplace(1u); },
                                                 [&] { EXPECT_EQ(pool.LiveCount(), 128u * 14); }),
            0u);
  EXPECT_EQ(pool.Capacity(), 129u * 14);
}

TEST_F(ChunkArrayTest, UnlinkAllErasesAndClearDestroysEveryStoredItem) {
  RepositoryIndex index;
  for (uint32_t i = 0; i < 30; ++i) index.prototypes.Insert(pool.Emplace(i), 7);  // one id for all
  index.prototypes.Erase(pool.At(7));
  pool.Release(pool.At(7));
  pool.UnlinkAll(index);
  EXPECT_EQ(index.prototypes.count, 0u);
  EXPECT_EQ(index.prototypes.root, nullptr);
  pool.Clear();
  EXPECT_EQ(g_liveItems, 0);
  EXPECT_EQ(pool.Capacity(), 0u);
  EXPECT_EQ(pool.Emplace(5u)->payload, 5u);
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

// Given-back blocks are reused by size; small requests share the eight-byte blocks, all of which
// is usable; steady take and give stops reaching the allocator.
TEST(DataBlockPoolTest, BlocksAreReusedBySize) {
  CDataBlockPool pool;
  void* a = pool.Take(37);
  void* c = pool.Take(12);
  EXPECT_NE(pool.Take(37), a);
  pool.Give(a, 37);
  pool.Give(c, 12);
  EXPECT_EQ(pool.Take(12), c);
  EXPECT_EQ(pool.Take(37), a);
  void* one = pool.Take(1);
  std::memset(one, 0xAB, CDataBlockPool::kMinimumBlock);
  pool.Give(one, 1);
  EXPECT_EQ(pool.Take(5), one);
  EXPECT_EQ(pool.SizeCount(), 3u);
  std::vector<void*> blocks(200);
  for (int round = 0; round < 3; ++round) {
    const uint64_t before = QuorinTest::Counters().allocateCalls.load();
    for (void*& block : blocks) block = pool.Take(37);
    for (void* block : blocks) pool.Give(block, 37);
    if (round > 0) {
      EXPECT_EQ(QuorinTest::Counters().allocateCalls.load(), before);
    }
  }
}

TEST(DataBlockPoolTest, BlocksOfOneSizeDoNotOverlap) {
  for (uint32_t size : {8u, 37u, 512u, 1023u, 1024u, 3000u}) {  // around the slab size
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

TEST(BytePoolTest, PiecesArePackedAlignedToTheLastByteAndLongOnesGetTheirOwnBlock) {
  CBytePool pool;
  auto* a = static_cast<uint8_t*>(pool.Take(3));
  auto* b = static_cast<uint8_t*>(pool.Take(4, 4));
  EXPECT_EQ(b, a + 4);  // same block, aligned up
  auto* longPiece = static_cast<uint8_t*>(pool.Take(5000, 2));
  std::memset(longPiece, 1, 5000);
  EXPECT_EQ(pool.BlockCount(), 2u);
  EXPECT_EQ(pool.Take(4, 4), b + 4);  // the shared block goes on after a long piece
  EXPECT_EQ(pool.Take(1012), b + 8);   // fills it to the last byte
  EXPECT_NE(pool.Take(1), nullptr);   // does not fit: a new shared block
  EXPECT_EQ(pool.BlockCount(), 3u);
  EXPECT_EQ(pool.Take(0), nullptr);
}

}  // namespace
}  // namespace Quorin
