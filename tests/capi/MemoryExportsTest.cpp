// The memory exports seen from a host: this program links the QuorinCAPI shared library and
// nothing of the foundation, so it meets the library's own memory manager, never a copy.
// The public header comes first and twice: it must stand alone and be guarded.
#include "capi/QuorinCAPI.h"
#include "capi/QuorinCAPI.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <type_traits>
#include <utility>

#include <gtest/gtest.h>

namespace {

// The prototypes hosts are promised; a changed parameter type breaks the build here.
static_assert(std::is_same_v<decltype(&BrvMalloc), void* (*)(uint64_t, uint32_t)>);
static_assert(std::is_same_v<decltype(&BrvRealloc), void* (*)(void*, uint64_t, uint32_t)>);
static_assert(std::is_same_v<decltype(&BrvFree), void (*)(void*)>);

// Nothing here starts the library: before start-up no pool serves (every selector, small and
// large sizes), and a block the host got elsewhere stays the host's, untouched (freeing it
// below would be a double free under the sanitizers had the library taken it).
TEST(BeforeStartUp, NothingIsServedAndForeignBlocksStayTheHosts) {
  const std::pair<uint64_t, uint32_t> requests[] = {{1, 0},    {16, 1},       {24, 2}, {64, 3},
                                                    {1024, 4}, {1025, 1}, {1u << 20, 0}, {8, 99}};
  for (const auto& [size, pool] : requests) {
    EXPECT_EQ(BrvMalloc(size, pool), nullptr) << size << " " << pool;
    EXPECT_EQ(BrvRealloc(nullptr, size, pool), nullptr) << size << " " << pool;
  }
  auto* block = static_cast<unsigned char*>(std::malloc(48));
  std::memset(block, 0x5A, 48);
  BrvFree(block);
  EXPECT_EQ(BrvRealloc(block, 96, 1), nullptr);
  EXPECT_EQ(BrvRealloc(block, 0, 1), nullptr);
  for (int i = 0; i < 48; ++i) EXPECT_EQ(block[i], 0x5A) << "byte " << i;
  std::free(block);
  uint64_t onStack[2] = {1, 2};
  BrvFree(onStack);
  BrvFree(&onStack[1]);
  BrvFree(nullptr);
  EXPECT_EQ(onStack[0] + onStack[1], 3u);
}

}  // namespace
