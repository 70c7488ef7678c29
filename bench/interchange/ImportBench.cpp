// The XML import on the ~30 MB story: the whole import into the Repository against expat reading
// the same file with SAX handlers that do the same value conversion (hexadecimal ids, decimal
// sizes and numbers, floats, joined texts, blob digits to bytes) into plain buffers without
// building anything, and against pugixml parsing it into its DOM. The import's peak memory is
// reported against the Repository it builds (counter peak_ratio).
#include <charconv>
#include <cstring>
#include <string>
#include <vector>

#include <benchmark/benchmark.h>
#include <expat.h>
#include <pugixml.hpp>

#include "bench/interchange/InterchangeBenchData.h"
#include "bench/support/BenchSupport.h"
#include "capi/QuorinCAPI.h"
#include "foundation/memory/Memory.h"
#include "interchange/XmlImporter.h"

namespace {

// The story from memory; every read samples the library's bytes in use for the peak.
class CStorySource final : public Quorin::IByteSource {
 public:
  explicit CStorySource(const std::string& bytes) : m_bytes(bytes) {}
  size_t Read(void* buffer, size_t size) override {
    m_peak = std::max(m_peak, Bravik::Memory::GetMemoryStatistics().bytesInUse);
    const size_t count = std::min(size, m_bytes.size() - m_at);
    std::memcpy(buffer, m_bytes.data() + m_at, count);
    m_at += count;
    return count;
  }
  bool Rewind() override {
    m_at = 0;
    return true;
  }
  uint64_t GetSize() override { return m_bytes.size(); }
  uint64_t Peak() const { return m_peak; }

 private:
  const std::string& m_bytes;
  size_t m_at = 0;
  uint64_t m_peak = 0;
};

void BM_InterchangeImportXml(benchmark::State& state) {
  const std::string& xml = QuorinBench::StoryXml();
  TlxInitialize(17, 1);
  double peakRatio = 0;
  for (auto _ : state) {
    state.PauseTiming();
    TlxClearRepository();
    const uint64_t before = Bravik::Memory::GetMemoryStatistics().bytesInUse;
    CStorySource source(xml);
    state.ResumeTiming();
    const Quorin::SImportOutcome outcome = Quorin::ImportXmlInterchange(*Quorin::Repository::Get(), source, 8192);
    state.PauseTiming();
    if (outcome.malformed) state.SkipWithError("the story did not import");
    const uint64_t built = Bravik::Memory::GetMemoryStatistics().bytesInUse - before;
    const uint64_t peak = std::max(source.Peak(), before + built) - before;
    peakRatio = static_cast<double>(peak) / static_cast<double>(built);
    state.ResumeTiming();
  }
  state.counters["peak_ratio"] = peakRatio;
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * xml.size()));
  TlxShutdown();
}
BENCHMARK(BM_InterchangeImportXml)->Unit(benchmark::kMillisecond);

// ---- expat with the same conversions ---------------------------------------------------------

uint64_t Number(const char* text, size_t length) {
  uint64_t value = 0;
  if (length > 2 && text[0] == '0' && text[1] == 'x') {
    std::from_chars(text + 2, text + length, value, 16);
  } else {
    std::from_chars(text + (text[0] == '-'), text + length, value);
  }
  return value;
}

// What the handlers convert into: numbers summed, texts and blob bytes appended.
struct SConverted {
  uint64_t numbers = 0;
  double floats = 0;
  std::string texts;
  std::vector<uint8_t> blobs;
  std::string content;
  std::string memberType;
  bool inBlob = false;
};

int HexValue(char c) { return c <= '9' ? c - '0' : (c | 0x20) - 'a' + 10; }

void OnStart(void* data, const XML_Char* name, const XML_Char** attributes) {
  auto& converted = *static_cast<SConverted*>(data);
  converted.content.clear();
  converted.inBlob = std::strcmp(name, "blob") == 0;
  for (const XML_Char** a = attributes; *a != nullptr; a += 2) {
    if (std::strcmp(a[0], "type") == 0) {
      converted.memberType = a[1];
    } else if (std::strcmp(a[0], "name") != 0) {
      converted.numbers += Number(a[1], std::strlen(a[1]));
    }
  }
}

void OnEnd(void* data, const XML_Char* name) {
  auto& converted = *static_cast<SConverted*>(data);
  const std::string& content = converted.content;
  if (std::strcmp(name, "text") == 0 || std::strcmp(name, "variable") == 0) {
    converted.texts += content;
  } else if (std::strcmp(name, "blob") == 0) {
    for (size_t i = 0; i + 1 < content.size(); i += 2) {
      converted.blobs.push_back(static_cast<uint8_t>(HexValue(content[i]) << 4 | HexValue(content[i + 1])));
    }
  } else if (!content.empty() && (converted.memberType == "Float" || converted.memberType == "Double")) {
    double value = 0;
    std::from_chars(content.data(), content.data() + content.size(), value);
    converted.floats += value;
  } else if (!content.empty()) {
    converted.numbers += Number(content.data(), content.size());
  }
  converted.content.clear();
  converted.inBlob = false;
}

void OnCharacters(void* data, const XML_Char* text, int length) {
  auto& converted = *static_cast<SConverted*>(data);
  // Blanks between elements are not content, as for the import.
  if (converted.content.empty()) {
    while (length > 0 && (*text == ' ' || *text == '\t' || *text == '\n' || *text == '\r')) ++text, --length;
  }
  converted.content.append(text, static_cast<size_t>(length));
}

void BM_ExpatImportBaseline(benchmark::State& state) {
  const std::string& xml = QuorinBench::StoryXml();
  constexpr size_t kChunk = 8192;
  for (auto _ : state) {
    SConverted converted;
    XML_Parser parser = XML_ParserCreate(nullptr);
    XML_SetUserData(parser, &converted);
    XML_SetElementHandler(parser, OnStart, OnEnd);
    XML_SetCharacterDataHandler(parser, OnCharacters);
    for (size_t offset = 0; offset < xml.size(); offset += kChunk) {
      const size_t length = std::min(kChunk, xml.size() - offset);
      XML_Parse(parser, xml.data() + offset, static_cast<int>(length), offset + length == xml.size());
    }
    XML_ParserFree(parser);
    benchmark::DoNotOptimize(converted.numbers);
    benchmark::DoNotOptimize(converted.floats);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * xml.size()));
}
BENCHMARK(BM_ExpatImportBaseline)->Unit(benchmark::kMillisecond);

void BM_PugixmlParse(benchmark::State& state) {
  const std::string& xml = QuorinBench::StoryXml();
  for (auto _ : state) {
    pugi::xml_document document;
    document.load_buffer(xml.data(), xml.size());
    benchmark::DoNotOptimize(document.first_child());
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * xml.size()));
}
BENCHMARK(BM_PugixmlParse)->Unit(benchmark::kMillisecond);

const bool kRatios = QuorinBench::RegisterThroughputRatio("BM_InterchangeImportXml", "BM_ExpatImportBaseline") &&
                     QuorinBench::RegisterThroughputRatio("BM_InterchangeImportXml", "BM_PugixmlParse");

}  // namespace
