// The import of an interchange file's XML form: the file is read in chunks into a buffer that
// grows only while one construct does not fit, fed to the streaming reader, and each element's
// attributes and content are decoded and handed to the import builder when the element ends.
#pragma once

#include <cstddef>
#include <cstdint>

#include "interchange/InterchangeProgress.h"
#include "repository/Repository.h"

namespace Quorin {

// Where an import reads from: a file, or memory in tests.
class IByteSource {
 public:
  // Bytes read into buffer; fewer than size only at the end. Raises what the file layer raises.
  virtual size_t Read(void* buffer, size_t size) = 0;
  // Starts over from the first byte; false when the source cannot (then the fault's line is 0).
  virtual bool Rewind() = 0;
  // Bytes in all, or 0 when unknown.
  virtual uint64_t GetSize() = 0;

 protected:
  ~IByteSource() = default;
};

// How an import ended.
struct SImportOutcome {
  bool malformed = false;  // stopped at a fault of the file; what came before stays
  uint64_t offset = 0;     // byte offset of the fault
  uint32_t line = 0;       // 1-based line of the fault
  uint32_t skipped = 0;    // elements not accepted where they stand, and items refused
  uint64_t bytes = 0;      // bytes read
  const char* expected = nullptr;  // what the file should have held at the fault
};

// Reads the XML form from `source` into the Repository with a first read buffer of
// readBufferSize bytes (0 means 8192). The progress, when given, counts bytes read against the
// source's size. Raises std::bad_alloc and what the source raises; what was imported stays.
SImportOutcome ImportXmlInterchange(Repository& repository, IByteSource& source, uint32_t readBufferSize,
                                    CInterchangeProgress* progress = nullptr);

}  // namespace Quorin
