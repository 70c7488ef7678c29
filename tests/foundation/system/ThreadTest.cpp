#include <atomic>
#include <string>
#include <thread>

#include <gtest/gtest.h>

#include "foundation/system/Exception.h"
#include "foundation/system/Platform.h"
#include "foundation/system/Thread.h"

using namespace Bravik;

namespace QuorinTest {

// Counts its steps; notes the name and thread of the first.
class CCountingThread : public IThread {
 public:
  ~CCountingThread() override { StopAndJoin(); }
  void Step() override {
    if (m_steps++ == 0) {
      System::GetCurrentThreadName(m_platformName, sizeof m_platformName);
      m_stepThread = System::CurrentThreadId();
    }
    if (m_throws) throw CException("step failed");
    System::YieldThread();
  }
  void StartLooping() { SetStopRequested(false), Start(); }

  std::atomic<int> m_steps{0};
  std::atomic<uint32_t> m_stepThread{0};
  bool m_throws = false;
  char m_platformName[64] = {};
};

}  // namespace QuorinTest

using QuorinTest::CCountingThread;

// A new object keeps its stop flag set: one step, on a thread of its own.
TEST(Thread, StopBeforeStartReturnsAtOnceAndANewObjectStepsOnce) {
  CCountingThread thread;
  thread.StopAndJoin();
  EXPECT_EQ(thread.GetThreadId(), IThread::kNoThreadId);
  thread.Start();
  thread.StopAndJoin();
  EXPECT_EQ(thread.m_steps.load(), 1);
  EXPECT_NE(thread.m_stepThread.load(), System::CurrentThreadId());
  EXPECT_FALSE(thread.IsRunning());
}

TEST(Thread, StepsUntilStoppedStartsAgainAndAPausedThreadStillStops) {
  CCountingThread thread;
  for (int run = 1; run <= 3; ++run) {
    const int target = thread.m_steps.load() + 3;
    thread.StartLooping();
    while (thread.m_steps.load() < target) System::YieldThread();
    EXPECT_TRUE(thread.IsRunning());
    if (run == 3) thread.SetPaused(true);
    std::thread other([&] { thread.StopAndJoin(); });  // two stoppers at once
    thread.StopAndJoin();
    other.join();
    EXPECT_FALSE(thread.IsRunning());
  }
}

TEST(Thread, ExceptionFromStepEndsTheThreadQuietly) {
  CCountingThread thread;
  thread.m_throws = true;
  thread.StartLooping();
  thread.StopAndJoin();
  EXPECT_EQ(thread.m_steps.load(), 1);
}

TEST(Thread, UnnamedThreadIsNamedAfterItsClass) {
  CCountingThread thread;
  char name[IThread::kNameCapacity];
  thread.GetDisplayName(name, sizeof name);
  EXPECT_STREQ(name, "QuorinTest::CCountingThread");
  thread.Start();
  thread.StopAndJoin();
  const std::string platform = thread.m_platformName;  // the platform may keep only the tail
  EXPECT_TRUE(!platform.empty() && std::string(name).ends_with(platform)) << platform;
  thread.SetName(CString("Exporter"));
  EXPECT_EQ(thread.GetDisplayName(name, 5), 4u);
  EXPECT_STREQ(name, "Expo");
  const std::pair<const char*, const char*> cases[] = {
      {"N6Quorin13CExportThreadE", "Quorin::CExportThread"}, {"13CExportThread", "CExportThread"},
      {"class Quorin::CExportThread", "Quorin::CExportThread"},
      {"N12_GLOBAL__N_11XE", "(anonymous namespace)::X"},
      {"N6Quorin5TListIiEE", "N6Quorin5TListIiEE"}, {"N99XE", "N99XE"}};
  for (const auto& [raw, readable] : cases) {
    ReadableTypeName(raw, name, sizeof name);
    EXPECT_STREQ(name, readable) << raw;
  }
}

// No stack can be larger than the address space: the step runs on the caller's thread.
TEST(Thread, CreationFailureRunsTheStepHere) {
  CCountingThread thread;
  thread.SetStackSize(1ull << 50);
  thread.Start();
  EXPECT_EQ(thread.m_steps.load(), 1);
  EXPECT_EQ(thread.m_stepThread.load(), System::CurrentThreadId());
  EXPECT_FALSE(thread.IsRunning());
  thread.StopAndJoin();
}
