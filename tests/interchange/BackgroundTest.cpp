// Export and import on their own threads: polled to completion with progress that never falls,
// overlapping runs refused, failures reported, shutdown waiting for a run.
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>

#include <gtest/gtest.h>

#include "tests/interchange/BinaryTestSupport.h"
#include "tests/repository/ItemTestSupport.h"

namespace {

constexpr uint32_t kBackgroundExport = 1u << 31;

class BackgroundTest : public testing::TestWithParam<uint32_t> {
 protected:
  void SetUp() override { ASSERT_TRUE(QuorinTest::StartLibrary(1)); }
  void TearDown() override { TlxShutdown(); }
  // Enough items that a run lasts well beyond the calls that follow its start.
  static void BuildLargeRepository() {
    QuorinTest::BuildRichRepository();
    for (uint32_t id = 100; id < 60000; ++id) TlxCreateText(id, "a text of the story, long enough to take a while");
  }
};

std::string Path(const char* name, uint32_t format) {
  return testing::TempDir() + name + (format == 0 ? ".xml" : ".bin");
}

std::string ReadFile(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  std::stringstream bytes;
  bytes << file.rdbuf();
  return bytes.str();
}

uint32_t Code(uint32_t direction, std::string* message = nullptr) {
  TlxInterchangeResult result{};
  char text[512] = {};
  if (!TlxGetInterchangeResult(direction, &result, text, sizeof text)) return 99;
  if (message != nullptr) *message = text;
  return result.code;
}

// Polls until done; progress must rise from 0 to 1 and never fall.
void PollToCompletion(uint32_t direction) {
  float last = 0.0f;
  for (;;) {
    const float progress = direction == 0 ? TlxGetExportProgress() : TlxGetImportProgress();
    EXPECT_GE(progress, last);
    EXPECT_LE(progress, 1.0f);
    last = progress;
    if (direction == 0 ? TlxGetExportDone() : TlxGetImportDone()) break;
  }
  EXPECT_EQ(direction == 0 ? TlxGetExportProgress() : TlxGetImportProgress(), 1.0f);
}

TEST_P(BackgroundTest, ExportAndImportPolledToCompletion) {
  const uint32_t format = GetParam();
  BuildLargeRepository();
  const std::string path = Path("quorin-background", format);
  TlxExportConfig exportConfig = TlxGetDefaultExportConfig(format);
  exportConfig.flags |= kBackgroundExport;
  TlxExport(path.c_str(), &exportConfig);
  EXPECT_EQ(Code(0), TlxGetExportDone() ? 0u : 1u);
  PollToCompletion(0);
  EXPECT_EQ(Code(0), 0u);
  const std::string written = format == 0 ? QuorinTest::ExportXml(255, 0) : QuorinTest::ExportBinary(8192, 255, 0);
  const std::string file = ReadFile(path);
  EXPECT_TRUE(file.substr(8) == written.substr(8));  // the test export names a bundle
  TlxShutdown();
  ASSERT_TRUE(QuorinTest::StartLibrary(1));
  TlxImportConfig importConfig = TlxGetDefaultImportConfig(format);
  importConfig.flags |= 1;
  TlxImport(path.c_str(), &importConfig);
  PollToCompletion(1);
  std::string message;
  EXPECT_EQ(Code(1, &message), 0u) << message;
  EXPECT_NE(TlxGetText(59999), nullptr);
  std::remove(path.c_str());
}

TEST_P(BackgroundTest, OverlappingRunsAreRefusedAndTheFirstCompletes) {
  const uint32_t format = GetParam();
  BuildLargeRepository();
  const std::string first = Path("quorin-first", format);
  const std::string second = Path("quorin-second", format);
  std::remove(second.c_str());
  TlxExportConfig config = TlxGetDefaultExportConfig(format);
  config.flags |= kBackgroundExport;
  TlxExport(first.c_str(), &config);
  TlxExport(second.c_str(), &config);
  const uint32_t secondCode = Code(0);
  TlxImportConfig importConfig = TlxGetDefaultImportConfig(format);
  TlxImport(first.c_str(), &importConfig);
  const uint32_t importCode = Code(1);
  const bool overlapped = !TlxGetExportDone();
  PollToCompletion(0);
  if (!overlapped) GTEST_SKIP() << "the first export ended before the others were called";
  EXPECT_EQ(secondCode, 6u);
  EXPECT_EQ(importCode, 6u);
  EXPECT_EQ(std::fopen(second.c_str(), "rb"), nullptr);  // never created
  EXPECT_EQ(Code(0), 0u);
  std::remove(first.c_str());
}

TEST_P(BackgroundTest, ShutdownWaitsForTheRun) {
  const uint32_t format = GetParam();
  BuildLargeRepository();
  const std::string expected = format == 0 ? QuorinTest::ExportXml(255, 0) : QuorinTest::ExportBinary(8192, 255, 0);
  const std::string path = Path("quorin-shutdown", format);
  TlxExportConfig config = TlxGetDefaultExportConfig(format);
  config.flags |= kBackgroundExport;
  TlxExport(path.c_str(), &config);
  TlxShutdown();
  EXPECT_EQ(ReadFile(path).size(), expected.size());
  EXPECT_TRUE(TlxGetExportDone());
  ASSERT_TRUE(QuorinTest::StartLibrary(1));
  std::remove(path.c_str());
}

TEST_P(BackgroundTest, MalformedFileEndsDoneWithItsCode) {
  const uint32_t format = GetParam();
  const std::string path = Path("quorin-malformed", format);
  {
    std::ofstream file(path, std::ios::binary);
    file << (format == 0 ? "<talvex><texts><text id=\"0x1\">kept</text><text id=\"2>" : "TLXC\x01\x01\0\0\0\x20\0\0\x04");
  }
  TlxImportConfig config = TlxGetDefaultImportConfig(format);
  config.flags |= 1;
  TlxImport(path.c_str(), &config);
  PollToCompletion(1);
  std::string message;
  EXPECT_EQ(Code(1, &message), 4u);
  EXPECT_NE(message.find("quorin-malformed"), std::string::npos) << message;
  std::remove(path.c_str());
}

INSTANTIATE_TEST_SUITE_P(Forms, BackgroundTest, testing::Values(0u, 1u),
                         [](const testing::TestParamInfo<uint32_t>& param) {
                           return param.param == 0 ? std::string("Xml") : std::string("Binary");
                         });

}  // namespace
