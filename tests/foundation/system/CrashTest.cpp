// Faults and reports that end the process run in child processes (death tests).
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>
#include <string>

#include <gtest/gtest.h>

#include "TestPlatform.h"
#include "foundation/system/Crash.h"
#include "foundation/system/Platform.h"
#include "foundation/system/Thread.h"

using namespace Bravik;
namespace fs = std::filesystem;

namespace {

class CFaultingThread : public IThread {
 public:
  void Step() override { Fault(); }
  static void Fault() {
    volatile uintptr_t address = 16;
    *reinterpret_cast<volatile int*>(address) = 1;
  }
};

// Report files beside this executable.
std::set<fs::path> Reports() {
  char executable[1024];
  System::GetExecutablePath(executable, sizeof executable);
  const fs::path self(executable);
  std::set<fs::path> found;
  for (const auto& entry : fs::directory_iterator(self.parent_path())) {
    const std::string name = entry.path().filename().string();
    if (name.starts_with(self.stem().string() + "_") &&
        (name.ends_with(".crash") || name.ends_with(".dmp")))
      found.insert(entry.path());
  }
  return found;
}

// A library thread runs first, so the guard is in place; then the chosen thread faults.
void FaultOn(bool libraryThread, int hostExitCode) {
  SetReportDialog(&ReportToStandardError);
  QuorinTest::InstallHostFaultHandler(hostExitCode);
  CFaultingThread thread;
  thread.SetPaused(true);
  thread.Start();  // paused with its stop flag set: ends without a step
  thread.StopAndJoin();
  thread.SetPaused(!libraryThread);
  thread.Start();
  thread.StopAndJoin();
  CFaultingThread::Fault();
}

int g_shown = 0;
ReportAnswer g_answer{EReportChoice::kIgnore, false};
std::string g_text;
ReportAnswer ScriptedDialog(const char* text, const char*) {
  g_text = text;
  return ++g_shown, g_answer;
}
ReportAnswer AbortingDialog(const char*, const char*) { return {EReportChoice::kAbort, false}; }
ReportAnswer ExitingDialog(const char*, const char*) { std::_Exit(7); }

void Report(ReportDialogFunction dialog, bool suppress) {
  QuorinTest::SetSuppressSwitch(suppress);
  SetReportDialog(dialog);
  ReportAssertion("file.cpp", 12, "Title", "value %d", 5);
  std::_Exit(0);
}

}  // namespace

TEST(CrashDeathTest, FaultsAreReportedOnLibraryThreadsOnlyThenPassedToTheHost) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  const std::set<fs::path> before = Reports();
  EXPECT_EXIT(FaultOn(false, 43), testing::ExitedWithCode(43), "");
  EXPECT_EQ(Reports(), before) << "a fault on the host's thread is not ours";
  EXPECT_EXIT(FaultOn(true, 42), testing::ExitedWithCode(42), "Unhandled exception.");
  std::set<fs::path> added = Reports();
  for (const fs::path& old : before) added.erase(old);
  ASSERT_EQ(added.size(), 1u);
  const fs::path report = *added.begin();
  std::stringstream text;
  text << std::ifstream(report, std::ios::binary).rdbuf();
  EXPECT_GT(text.str().size(), 0u);
  if (report.extension() == ".crash") {
    EXPECT_NE(text.str().find("Access violation (0xc0000005)\n"), std::string::npos) << text.str();
  }
  fs::remove(report);
}

TEST(CrashDeathTest, SwitchAndAbortEndTheProcessWithCodeOne) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(Report(&ExitingDialog, true), testing::ExitedWithCode(1), "");
  QuorinTest::SetSuppressSwitch(false);
  EXPECT_EXIT(Report(&AbortingDialog, false), testing::ExitedWithCode(1), "");
  EXPECT_EXIT(Report(nullptr, false), testing::ExitedWithCode(0), "value 5");  // no display
}

// Ignore with Control held silences one call path; the others still report.
TEST(Assertion, IgnoreWithControlSilencesThatCallPath) {
  SetReportDialog(&ScriptedDialog);
  const std::pair<ReportAnswer, int> cases[] = {{{EReportChoice::kRetry, false}, 1},
                                                {{EReportChoice::kIgnore, false}, 2},
                                                {{EReportChoice::kIgnore, true}, 3},
                                                {{EReportChoice::kIgnore, false}, 3}};
  for (const auto& [answer, shownAfter] : cases) {
    g_answer = answer;
    EXPECT_FALSE(ReportAssertion("file.cpp", 12, "Title", "value %d", 5)) << "no debugger";
    EXPECT_EQ(g_shown, shownAfter);
  }
  EXPECT_EQ(g_text, "Title\n\nvalue 5\n\nThread " + std::to_string(System::CurrentThreadId()) +
                        "\nfile.cpp (12)\n");
  ReportAssertion("other.cpp", 1, "Other", "%s", "path");
  EXPECT_EQ(g_shown, 4);
  SetReportDialog(nullptr);
  CReportIgnoreList list;
  for (uint32_t hash = 1; hash <= 65; ++hash) EXPECT_EQ(list.Add(hash), hash <= 64);
  EXPECT_TRUE(list.Contains(64) && !list.Contains(65));
}

TEST(Assertion, ReportNamesAndTimes) {
  const CivilTime time = CivilTimeFromUnix(1767603787);
  char path[64];
  FormatReportPath(path, sizeof path, "C:\\app\\tool.exe", time, ".dmp");
  EXPECT_STREQ(path, "C:\\app\\tool_2026-1-5_9-3-7.dmp");
  FormatReportPath(path, sizeof path, "/opt/app.d/tool", time, ".crash");
  EXPECT_STREQ(path, "/opt/app.d/tool_2026-1-5_9-3-7.crash");
  EXPECT_EQ(FormatReportPath(path, 8, "/a/b", time, ".crash"), 7u);
  const CivilTime leap = CivilTimeFromUnix(951825600), before = CivilTimeFromUnix(-1);
  EXPECT_EQ(leap.month * 100 + leap.day, 229u);
  EXPECT_EQ(before.year * 10000 + before.month * 100 + before.day, 19691231u);
  EXPECT_EQ(before.hour * 10000 + before.minute * 100 + before.second, 235959u);
  EXPECT_STREQ(ExceptionCodeText(0xC0000094u), "Int division by zero");
  EXPECT_STREQ(ExceptionCodeText(0xE06D7363u), "Unknown exception");
}
