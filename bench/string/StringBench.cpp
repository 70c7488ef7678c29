// The name hash against zlib's crc32, and UTF-8 to UTF-16 conversion against iconv, on the same
// buffers in the same process.
#include <iconv.h>
#include <zlib.h>

#include <cstdint>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include <benchmark/benchmark.h>

#include "bench/support/BenchSupport.h"
#include "foundation/memory/Memory.h"
#include "foundation/string/String.h"

namespace {

using namespace Bravik;

// `size` bytes of non-zero text, the last of them the terminator.
const std::string& HashInput(size_t size) {
  static std::string inputs[2];
  std::string& text = inputs[size > 64 ? 1 : 0];
  if (text.size() + 1 != size) {
    std::mt19937 random(1);
    text.resize(size - 1);
    for (char& c : text) c = static_cast<char>('!' + random() % 90);
  }
  return text;
}

void BM_StringHash(benchmark::State& state) {
  const std::string& text = HashInput(static_cast<size_t>(state.range(0)));
  const CString view(text.c_str());
  for (auto _ : state) benchmark::DoNotOptimize(CalculateHash(view));
  state.SetBytesProcessed(state.iterations() * state.range(0));
}

void BM_StringHashKnownSize(benchmark::State& state) {
  const std::string& text = HashInput(static_cast<size_t>(state.range(0)));
  for (auto _ : state) {
    benchmark::DoNotOptimize(UpdateHash(kHashSeed, text.c_str(), text.size() + 1));
  }
  state.SetBytesProcessed(state.iterations() * state.range(0));
}

void BM_ZlibCrc32(benchmark::State& state) {
  const std::string& text = HashInput(static_cast<size_t>(state.range(0)));
  const auto* bytes = reinterpret_cast<const Bytef*>(text.c_str());
  for (auto _ : state) {
    benchmark::DoNotOptimize(crc32(0, bytes, static_cast<uInt>(text.size() + 1)));
  }
  state.SetBytesProcessed(state.iterations() * state.range(0));
}

BENCHMARK(BM_StringHash)->Arg(16)->Arg(65536);
BENCHMARK(BM_StringHashKnownSize)->Arg(16)->Arg(65536);
BENCHMARK(BM_ZlibCrc32)->Arg(16)->Arg(65536);

// 64 KiB of UTF-8: pure ASCII, or words with about one accented letter, euro sign or emoji in
// twenty characters.
const std::string& ConversionInput(int64_t mixed) {
  static std::string inputs[2];
  std::string& text = inputs[mixed ? 1 : 0];
  if (!text.empty()) return text;
  static const char* const kRare[] = {"\xC3\xA9", "\xC3\xBC", "\xE2\x82\xAC", "\xF0\x9F\x98\x80"};
  std::mt19937 random(2);
  while (text.size() < 65536) {
    const uint32_t pick = random() % 20;
    if (mixed && pick == 0) {
      text += kRare[random() % 4];
    } else {
      text += pick < 4 ? ' ' : static_cast<char>('a' + random() % 26);
    }
  }
  return text;
}

// What ConvertToNew does apart from the allocation: measure, then convert.
void BM_StringUtf8ToUtf16(benchmark::State& state) {
  Memory::InitializeMemory(nullptr, nullptr, nullptr, Memory::kNoLimit);
  const std::string& text = ConversionInput(state.range(0));
  const CString source(text.c_str());
  std::vector<char16_t> out(text.size() + 1);
  for (auto _ : state) {
    if (source.GetSizeIn(kUtf16) > out.size() * 2) state.SkipWithError("buffer too small");
    Convert(source, kUtf16, out.data());
    benchmark::DoNotOptimize(out.data());
  }
  state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(text.size()));
}

void BM_StringConvertToNew(benchmark::State& state) {
  Memory::InitializeMemory(nullptr, nullptr, nullptr, Memory::kNoLimit);
  const std::string& text = ConversionInput(state.range(0));
  const CString source(text.c_str());
  for (auto _ : state) {
    uint64_t length;
    const void* converted = ConvertToNew(kUtf16, source, length);
    benchmark::DoNotOptimize(converted);
    Memory::Free(const_cast<void*>(converted));
  }
  state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(text.size()));
}

void BM_IconvUtf8ToUtf16(benchmark::State& state) {
  const std::string& text = ConversionInput(state.range(0));
  std::vector<char16_t> out(text.size() + 1);
  iconv_t cd = iconv_open("UTF-16LE", "UTF-8");
  for (auto _ : state) {
    char* in = const_cast<char*>(text.c_str());
    size_t inLeft = text.size() + 1;
    char* outAt = reinterpret_cast<char*>(out.data());
    size_t outLeft = out.size() * 2;
    iconv(cd, nullptr, nullptr, nullptr, nullptr);
    if (iconv(cd, &in, &inLeft, &outAt, &outLeft) == static_cast<size_t>(-1)) {
      state.SkipWithError("iconv failed");
    }
    benchmark::DoNotOptimize(out.data());
  }
  iconv_close(cd);
  state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(text.size()));
}

// Argument 0: pure ASCII; 1: mixed.
BENCHMARK(BM_StringUtf8ToUtf16)->Arg(0)->Arg(1);
BENCHMARK(BM_StringConvertToNew)->Arg(0)->Arg(1);
BENCHMARK(BM_IconvUtf8ToUtf16)->Arg(0)->Arg(1);

[[maybe_unused]] const bool kRatios[] = {
    QuorinBench::RegisterRatio("BM_StringHash/16", "BM_ZlibCrc32/16"),
    QuorinBench::RegisterRatio("BM_StringHash/65536", "BM_ZlibCrc32/65536"),
    QuorinBench::RegisterRatio("BM_StringHashKnownSize/65536", "BM_ZlibCrc32/65536"),
    QuorinBench::RegisterRatio("BM_StringUtf8ToUtf16/0", "BM_IconvUtf8ToUtf16/0"),
    QuorinBench::RegisterRatio("BM_StringUtf8ToUtf16/1", "BM_IconvUtf8ToUtf16/1"),
    QuorinBench::RegisterRatio("BM_StringConvertToNew/1", "BM_IconvUtf8ToUtf16/1"),
};

}  // namespace
