// The memory exports seen from a host: this program links the QuorinCAPI shared library and
// nothing of the foundation, so it meets the library's own memory manager, never a copy.
// The public header comes first and twice: it must stand alone and be guarded.
#include "capi/QuorinCAPI.h"
#include "capi/QuorinCAPI.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <ostream>
#include <string>
#include <type_traits>

#include <gtest/gtest.h>

namespace {

// The prototypes hosts are promised; a changed parameter type breaks the build here.
static_assert(std::is_same_v<decltype(&BrvMalloc), void* (*)(uint64_t, uint32_t)>);
static_assert(std::is_same_v<decltype(&BrvRealloc), void* (*)(void*, uint64_t, uint32_t)>);
static_assert(std::is_same_v<decltype(&BrvFree), void (*)(void*)>);

// Each test runs in a process of its own, and none of them starts the library: these are the
// results a host gets before start-up, when the allocator does not exist yet.
struct AllocationCase {
  uint64_t size;
  uint32_t pool;
};

void PrintTo(const AllocationCase& c, std::ostream* out) {
  *out << "size " << c.size << ", pool " << c.pool;
}

class BeforeStartAllocation : public testing::TestWithParam<AllocationCase> {};

TEST_P(BeforeStartAllocation, MallocGivesNull) {
  EXPECT_EQ(BrvMalloc(GetParam().size, GetParam().pool), nullptr);
}

TEST_P(BeforeStartAllocation, ReallocOfNullGivesNull) {
  EXPECT_EQ(BrvRealloc(nullptr, GetParam().size, GetParam().pool), nullptr);
}

// Every pool selector (0 core, 1-4 small blocks, others core), small and large sizes.
INSTANTIATE_TEST_SUITE_P(PoolsAndSizes, BeforeStartAllocation,
                         testing::Values(AllocationCase{1, 0}, AllocationCase{16, 1},
                                         AllocationCase{24, 2}, AllocationCase{64, 3},
                                         AllocationCase{1024, 4}, AllocationCase{1025, 1},
                                         AllocationCase{1u << 20, 0}, AllocationCase{8, 99}),
                         [](const testing::TestParamInfo<AllocationCase>& test) {
                           return "Size" + std::to_string(test.param.size) + "Pool" +
                                  std::to_string(test.param.pool);
                         });

// A block the host got elsewhere stays the host's: the library must neither free nor touch it.
class ForeignBlock : public testing::Test {
 protected:
  static constexpr size_t kSize = 48;
  static constexpr unsigned char kFill = 0x5A;
  unsigned char* m_block = static_cast<unsigned char*>(std::malloc(kSize));

  void SetUp() override {
    ASSERT_NE(m_block, nullptr);
    std::memset(m_block, kFill, kSize);
  }
  // Freeing it here would be a double free (caught by the sanitizer build) had the library
  // taken it.
  void TearDown() override {
    for (size_t i = 0; i < kSize; ++i) EXPECT_EQ(m_block[i], kFill) << "byte " << i;
    std::free(m_block);
  }
};

TEST_F(ForeignBlock, FreeIgnoresIt) { BrvFree(m_block); }

TEST_F(ForeignBlock, ReallocGivesNullAndLeavesIt) {
  EXPECT_EQ(BrvRealloc(m_block, 2 * kSize, 1), nullptr);
}

TEST_F(ForeignBlock, ReallocToZeroLeavesIt) { EXPECT_EQ(BrvRealloc(m_block, 0, 1), nullptr); }

TEST(BeforeStartFree, IgnoresNullAndStackBlocks) {
  BrvFree(nullptr);
  uint64_t onStack[4] = {1, 2, 3, 4};
  BrvFree(onStack);
  BrvFree(&onStack[1]);
  EXPECT_EQ(onStack[0] + onStack[1] + onStack[2] + onStack[3], 10u);
}

}  // namespace
