// The XML interchange form on a ~30 MB story: the export writer against pugixml saving the same
// document built in memory, and the reader alone (no-op handler, 64 KiB chunks as the import reads
// them) against expat parsing the same file with no-op handlers. Throughput in MB/s, ratios after
// the table.
#include <cstring>
#include <string>
#include <vector>

#include <benchmark/benchmark.h>
#include <expat.h>
#include <pugixml.hpp>

#include "bench/interchange/InterchangeBenchData.h"
#include "bench/support/BenchSupport.h"
#include "capi/QuorinCAPI.h"
#include "interchange/XmlReader.h"
#include "interchange/XmlWriter.h"

namespace {

constexpr size_t kChunk = 64 * 1024;

// Takes the written bytes into one block reused by every iteration.
class CMemorySink final : public Quorin::IByteSink, public pugi::xml_writer {
 public:
  explicit CMemorySink(size_t capacity) : m_bytes(capacity) {}
  void Write(const void* data, size_t count) override { Take(data, count); }
  void write(const void* data, size_t size) override { Take(data, size); }
  void Reset() { m_used = 0; }
  size_t Used() const { return m_used; }

 private:
  void Take(const void* data, size_t count) {
    if (m_used + count > m_bytes.size()) m_bytes.resize((m_used + count) * 2);
    std::memcpy(m_bytes.data() + m_used, data, count);
    m_used += count;
  }
  std::vector<char> m_bytes;
  size_t m_used = 0;
};

void BM_InterchangeExportXml(benchmark::State& state) {
  CMemorySink sink(QuorinBench::StoryXml().size() + kChunk);  // made in a library of its own first
  TlxInitialize(17, 1);
  QuorinBench::BuildStory();
  const TlxExportConfig config = {8192, 255, 0, nullptr, 0, 0, 0};
  for (auto _ : state) {
    sink.Reset();
    Quorin::WriteXmlInterchange(*Quorin::Repository::Get(), config, sink);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * sink.Used()));
  TlxShutdown();
}
BENCHMARK(BM_InterchangeExportXml)->Unit(benchmark::kMillisecond);

void BM_PugixmlSave(benchmark::State& state) {
  pugi::xml_document document;
  const std::string& xml = QuorinBench::StoryXml();
  document.load_buffer(xml.data(), xml.size(), pugi::parse_default | pugi::parse_declaration | pugi::parse_comments);
  CMemorySink sink(xml.size() + kChunk);
  for (auto _ : state) {
    sink.Reset();
    document.save(sink, "\t", pugi::format_default, pugi::encoding_utf8);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * sink.Used()));
}
BENCHMARK(BM_PugixmlSave)->Unit(benchmark::kMillisecond);

class CNoOpHandler final : public Quorin::IXmlHandler {
 public:
  void OnElementStart(const char*, size_t) override {}
  void OnElementEnd(const char*, size_t) override {}
  void OnAttribute(const char*, size_t, char*, size_t) override {}
  size_t OnText(char*, size_t length, Quorin::EXmlText) override { return length; }
};

void BM_XmlReaderParse(benchmark::State& state) {
  const std::string& xml = QuorinBench::StoryXml();
  std::vector<char> buffer(kChunk + 1);
  for (auto _ : state) {
    CNoOpHandler handler;
    Quorin::CXmlReader reader(handler);
    size_t held = 0;
    for (size_t offset = 0; offset < xml.size() || held != 0;) {
      const size_t added = std::min(buffer.size() - 1 - held, xml.size() - offset);
      std::memcpy(buffer.data() + held, xml.data() + offset, added);
      offset += added;
      held += added;
      const size_t used = reader.Parse(buffer.data(), held);
      if (used == 0 && added == 0) break;
      if (used == 0) buffer.resize(buffer.size() * 2);
      std::memmove(buffer.data(), buffer.data() + used, held - used);
      held -= used;
    }
    reader.Finish();
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * xml.size()));
}
BENCHMARK(BM_XmlReaderParse)->Unit(benchmark::kMillisecond);

void BM_ExpatParse(benchmark::State& state) {
  const std::string& xml = QuorinBench::StoryXml();
  for (auto _ : state) {
    XML_Parser parser = XML_ParserCreate(nullptr);
    XML_SetElementHandler(parser, [](void*, const XML_Char*, const XML_Char**) {}, [](void*, const XML_Char*) {});
    XML_SetCharacterDataHandler(parser, [](void*, const XML_Char*, int) {});
    for (size_t offset = 0; offset < xml.size(); offset += kChunk) {
      const size_t length = std::min(kChunk, xml.size() - offset);
      XML_Parse(parser, xml.data() + offset, static_cast<int>(length), offset + length == xml.size());
    }
    XML_ParserFree(parser);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * xml.size()));
}
BENCHMARK(BM_ExpatParse)->Unit(benchmark::kMillisecond);

const bool kRatios = QuorinBench::RegisterThroughputRatio("BM_InterchangeExportXml", "BM_PugixmlSave") &&
                     QuorinBench::RegisterThroughputRatio("BM_XmlReaderParse", "BM_ExpatParse");

}  // namespace
