// Fuzz target for the XML import: any input must end with an outcome (never a crash, a hang or a
// sanitizer report), and whatever it imported must export again. The read buffer size is picked
// by the last byte so that constructs are cut at every place.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "interchange/XmlImporter.h"
#include "interchange/XmlWriter.h"
#include "repository/Repository.h"

namespace {

struct CMemorySource final : Quorin::IByteSource {
  CMemorySource(const uint8_t* bytes, size_t size) : data(bytes), length(size) {}
  size_t Read(void* buffer, size_t size) override {
    const size_t count = size < length - at ? size : length - at;
    if (count != 0) std::memcpy(buffer, data + at, count);
    at += count;
    return count;
  }
  bool Rewind() override {
    at = 0;
    return true;
  }
  uint64_t GetSize() override { return length; }
  const uint8_t* data;
  size_t length;
  size_t at = 0;
};

struct CNullSink final : Quorin::IByteSink {
  void Write(const void*, size_t) override {}
};

void Stop() { Quorin::Repository::Shutdown(); }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const bool started = [] {
    if (!Quorin::StartLibrary(Quorin::kLibraryVersion, 1, nullptr, nullptr, nullptr, ~0ull)) std::abort();
    std::atexit(Stop);
    return true;
  }();
  (void)started;
  Quorin::Repository& repository = *Quorin::Repository::Get();
  repository.Clear();
  CMemorySource source(data, size);
  const uint32_t bufferSize = size != 0 ? 1 + data[size - 1] % 97 : 0;
  const Quorin::SImportOutcome outcome = Quorin::ImportXmlInterchange(repository, source, bufferSize);
  if (outcome.bytes > size || outcome.offset > size || (!outcome.malformed && outcome.bytes != size)) __builtin_trap();
  CNullSink sink;
  const TlxExportConfig config{8192, 255, 0, nullptr, 0, 0, 0};
  Quorin::WriteXmlInterchange(repository, config, sink);
  return 0;
}
