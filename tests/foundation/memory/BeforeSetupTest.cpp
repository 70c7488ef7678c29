// Runs without the test main: the memory manager does not exist until the test starts it.
#include <new>

#include <gtest/gtest.h>

#include "foundation/memory/Memory.h"
#include "tests/support/CountingAllocator.h"

using namespace Bravik::Memory;

// Before set-up and after shutdown the boundary forms fail quietly and the internal ones raise;
// a second set-up keeps the first manager.
TEST(MemoryBeforeSetup, ServesOnlyBetweenSetupAndShutdown) {
  int onStack = 0;
  for (int phase = 0; phase < 2; ++phase) {
    EXPECT_FALSE(IsMemoryInitialized());
    EXPECT_EQ(TryAllocate(16, 1), nullptr);
    EXPECT_EQ(TryReallocate(nullptr, 16, 1), nullptr);
    TryFree(&onStack);
    EXPECT_THROW(Allocate(16, 1), std::bad_alloc);
    EXPECT_THROW(Reallocate(nullptr, 16, 1), std::bad_alloc);
    EXPECT_THROW(Free(&onStack), std::bad_alloc);
    EXPECT_NO_THROW(Free(nullptr));
    EXPECT_EQ(GetBlockSize(&onStack), 0u);
    if (phase == 1) break;
    ASSERT_TRUE(InitializeMemory(&QuorinTest::CountingAllocate, &QuorinTest::CountingReallocate,
                                 &QuorinTest::CountingFree, kNoLimit));
    EXPECT_TRUE(InitializeMemory(nullptr, nullptr, nullptr, 1));
    EXPECT_EQ(GetMemoryStatistics().byteLimit, kNoLimit);
    TryFree(TryAllocate(5000, 0));  // would fail under the second call's limit
    EXPECT_EQ(GetMemoryStatistics().allocations, 1u);
    ShutdownMemory();
    EXPECT_EQ(QuorinTest::Counters().liveBlocks.load(), 0) << "shutdown returns everything to the host";
  }
}

int main(int argc, char** argv) {
  testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
