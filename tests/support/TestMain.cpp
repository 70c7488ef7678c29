// Test entry point: runs every test on the counting allocator and fails the run when a test
// leaves blocks behind or when anything is still live after the manager shut down.
#include <cstdio>

#include <gtest/gtest.h>

#include "foundation/memory/Memory.h"
#include "tests/support/CountingAllocator.h"

namespace {

bool g_leaked = false;

class LeakListener : public testing::EmptyTestEventListener {
  uint64_t m_before = 0;

  void OnTestStart(const testing::TestInfo&) override {
    m_before = Bravik::Memory::GetMemoryStatistics().liveBlocks;
  }
  void OnTestEnd(const testing::TestInfo& info) override {
    const uint64_t after = Bravik::Memory::GetMemoryStatistics().liveBlocks;
    if (after != m_before) {
      std::fprintf(stderr, "LEAK: %s.%s left %lld live blocks\n", info.test_suite_name(),
                   info.name(), static_cast<long long>(after - m_before));
      g_leaked = true;
    }
  }
};

}  // namespace

int main(int argc, char** argv) {
  testing::InitGoogleTest(&argc, argv);
  QuorinTest::InitializeCountingMemory();
  testing::UnitTest::GetInstance()->listeners().Append(new LeakListener);
  int result = RUN_ALL_TESTS();
  Bravik::Memory::ShutdownMemory();
  const int64_t live = QuorinTest::Counters().liveBlocks.load();
  if (live != 0) {
    std::fprintf(stderr, "LEAK: %lld host blocks still live after shutdown\n",
                 static_cast<long long>(live));
    g_leaked = true;
  }
  return (result != 0 || g_leaked) ? 1 : 0;
}
