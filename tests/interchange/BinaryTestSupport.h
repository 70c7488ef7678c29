// Shared by the binary form's tests and fuzz target: the export into bytes, a source over
// bytes, and the import of bytes into the Repository.
#pragma once

#include <algorithm>
#include <cstring>
#include <string>

#include "interchange/BinaryReader.h"
#include "interchange/BinaryWriter.h"
#include "tests/interchange/ExportTestSupport.h"

namespace QuorinTest {

struct CMemorySource : Quorin::IByteSource {
  explicit CMemorySource(const std::string& text) : bytes(text) {}
  size_t Read(void* out, size_t count) override {
    const size_t taken = std::min(count, bytes.size() - at);
    std::memcpy(out, bytes.data() + at, taken);
    at += taken;
    return taken;
  }
  bool Rewind() override { return at = 0, true; }
  uint64_t GetSize() override { return bytes.size(); }
  std::string bytes;
  size_t at = 0;
};

inline std::string ExportBinary(uint32_t blockSize = 8192, uint32_t flags = 255, uint32_t byteOrder = 0,
                                Quorin::CInterchangeProgress* progress = nullptr) {
  const TlxExportConfig config{blockSize, flags, 0, nullptr, byteOrder, 1, 0x0102};
  CStringSink sink;
  Quorin::WriteBinaryInterchange(*Quorin::Repository::Get(), config, sink, progress);
  return sink.bytes;
}

inline Quorin::SBinaryReadResult ImportBinary(const std::string& bytes,
                                              Quorin::CInterchangeProgress* progress = nullptr) {
  CMemorySource source(bytes);
  return Quorin::ReadBinaryInterchange(*Quorin::Repository::Get(), source, progress);
}

}  // namespace QuorinTest
