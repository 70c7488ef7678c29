// The binary interchange form on the ~30 MB story, through the exports and real files: export
// against fwrite of the same bytes, import against fread of the same file and against the XML
// import of the same content. Throughput in MB/s of file by the wall clock (what a loading game
// waits for; fwrite's CPU time leaves out the time it waits in the file system), ratios after
// the table. The same runs against memory give the library's own share of the time.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include <benchmark/benchmark.h>

#include "bench/interchange/InterchangeBenchData.h"
#include "bench/support/BenchSupport.h"
#include "capi/QuorinCAPI.h"
#include "tests/interchange/BinaryTestSupport.h"

namespace {

constexpr size_t kChunk = 256 * 1024;

std::string TempPath(const char* name) {
  const char* folder = std::getenv("TMPDIR");
  return std::string(folder != nullptr ? folder : "/tmp") + "/" + name;
}

// The story written once in both forms by a library of its own; gives the paths.
struct SStoryFiles {
  std::string binary = TempPath("quorin-bench-story.bin");
  std::string xml = TempPath("quorin-bench-story.xml");
  uint64_t binaryBytes = 0;
};

const SStoryFiles& StoryFiles() {
  static const SStoryFiles files = [] {
    SStoryFiles made;
    const std::string& xml = QuorinBench::StoryXml();
    FILE* file = std::fopen(made.xml.c_str(), "wb");
    std::fwrite(xml.data(), 1, xml.size(), file);
    std::fclose(file);
    TlxInitialize(17, 0);
    QuorinBench::BuildStory();
    const TlxExportConfig config = TlxGetDefaultExportConfig(1);
    TlxExport(made.binary.c_str(), &config);
    TlxShutdown();
    file = std::fopen(made.binary.c_str(), "rb");
    std::fseek(file, 0, SEEK_END);
    made.binaryBytes = static_cast<uint64_t>(std::ftell(file));
    std::fclose(file);
    return made;
  }();
  return files;
}

void BM_BinaryExport(benchmark::State& state) {
  const SStoryFiles& files = StoryFiles();
  const std::string path = TempPath("quorin-bench-export.bin");
  TlxInitialize(17, 0);
  QuorinBench::BuildStory();
  const TlxExportConfig config = TlxGetDefaultExportConfig(1);
  for (auto _ : state) TlxExport(path.c_str(), &config);
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * files.binaryBytes));
  TlxShutdown();
  std::remove(path.c_str());
}
BENCHMARK(BM_BinaryExport)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_FwriteSameBytes(benchmark::State& state) {
  const SStoryFiles& files = StoryFiles();
  const std::string path = TempPath("quorin-bench-fwrite.bin");
  std::vector<char> bytes(files.binaryBytes, 'x');
  for (auto _ : state) {
    FILE* file = std::fopen(path.c_str(), "wb");
    for (size_t at = 0; at < bytes.size(); at += kChunk) {
      std::fwrite(bytes.data() + at, 1, std::min(kChunk, bytes.size() - at), file);
    }
    std::fclose(file);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * files.binaryBytes));
  std::remove(path.c_str());
}
BENCHMARK(BM_FwriteSameBytes)->Unit(benchmark::kMillisecond)->UseRealTime();

// Each iteration imports into an emptied Repository; emptying it is not timed.
void Import(benchmark::State& state, const std::string& path, uint32_t format, uint64_t bytes) {
  TlxInitialize(17, 0);
  const TlxImportConfig config = TlxGetDefaultImportConfig(format);
  for (auto _ : state) {
    state.PauseTiming();
    TlxClearRepository();
    state.ResumeTiming();
    TlxImport(path.c_str(), &config);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * bytes));
  TlxShutdown();
}

void BM_BinaryImport(benchmark::State& state) {
  const SStoryFiles& files = StoryFiles();
  Import(state, files.binary, 1, files.binaryBytes);
}
BENCHMARK(BM_BinaryImport)->Unit(benchmark::kMillisecond)->UseRealTime();

// Counted in bytes of the binary file, so that the ratio compares the same content.
void BM_XmlImportSameContent(benchmark::State& state) {
  const SStoryFiles& files = StoryFiles();
  Import(state, files.xml, 0, files.binaryBytes);
}
BENCHMARK(BM_XmlImportSameContent)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_FreadSameFile(benchmark::State& state) {
  const SStoryFiles& files = StoryFiles();
  std::vector<char> buffer(kChunk);
  for (auto _ : state) {
    FILE* file = std::fopen(files.binary.c_str(), "rb");
    while (std::fread(buffer.data(), 1, buffer.size(), file) == buffer.size()) {
    }
    std::fclose(file);
    benchmark::DoNotOptimize(buffer.data());
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * files.binaryBytes));
}
BENCHMARK(BM_FreadSameFile)->Unit(benchmark::kMillisecond)->UseRealTime();

// The export into a sink that drops the bytes, and the import from the file's bytes in memory.
struct SDroppingSink final : Quorin::IByteSink {
  void Write(const void* bytes, size_t count) override { benchmark::DoNotOptimize(bytes), written += count; }
  uint64_t written = 0;
};

void BM_BinaryExportToMemory(benchmark::State& state) {
  const SStoryFiles& files = StoryFiles();
  TlxInitialize(17, 0);
  QuorinBench::BuildStory();
  const TlxExportConfig config = TlxGetDefaultExportConfig(1);
  for (auto _ : state) {
    SDroppingSink sink;
    Quorin::WriteBinaryInterchange(*Quorin::Repository::Get(), config, sink);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * files.binaryBytes));
  TlxShutdown();
}
BENCHMARK(BM_BinaryExportToMemory)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_BinaryImportFromMemory(benchmark::State& state) {
  const SStoryFiles& files = StoryFiles();
  std::string bytes(files.binaryBytes, '\0');
  FILE* file = std::fopen(files.binary.c_str(), "rb");
  bytes.resize(std::fread(bytes.data(), 1, bytes.size(), file));
  std::fclose(file);
  TlxInitialize(17, 0);
  for (auto _ : state) {
    state.PauseTiming();
    TlxClearRepository();
    state.ResumeTiming();
    QuorinTest::CMemorySource source(bytes);
    Quorin::ReadBinaryInterchange(*Quorin::Repository::Get(), source);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * files.binaryBytes));
  TlxShutdown();
}
BENCHMARK(BM_BinaryImportFromMemory)->Unit(benchmark::kMillisecond)->UseRealTime();

const bool kRatios =
    QuorinBench::RegisterThroughputRatio("BM_BinaryExport/real_time", "BM_FwriteSameBytes/real_time") &&
    QuorinBench::RegisterThroughputRatio("BM_BinaryImport/real_time", "BM_FreadSameFile/real_time") &&
    QuorinBench::RegisterThroughputRatio("BM_BinaryImport/real_time", "BM_XmlImportSameContent/real_time");

}  // namespace
