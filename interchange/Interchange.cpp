#include "interchange/Interchange.h"

#include <atomic>
#include <cinttypes>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <new>

#include "foundation/memory/Memory.h"
#include "foundation/string/String.h"
#include "foundation/system/Exception.h"
#include "foundation/system/File.h"
#include "interchange/ByteSink.h"
#include "interchange/InterchangeNames.h"
#include "interchange/InterchangeProgress.h"
#include "interchange/XmlImporter.h"
#include "interchange/XmlWriter.h"

namespace Quorin {
namespace {

constexpr uint32_t kExportFileMode = Bravik::kFileWrite | Bravik::kFileTruncate;
constexpr uint32_t kImportFileMode = Bravik::kFileRead;
constexpr size_t kMessageCapacity = 512;

// One direction: whether a run is under way, its progress, and the outcome of the last run.
struct SOperation {
  std::atomic<uint32_t> running{0};
  CInterchangeProgress progress;
  bool hasResult = false;
  TlxInterchangeResult result{};
  char message[kMessageCapacity] = {};
};

SOperation s_operations[2];

SOperation& OperationOf(EInterchangeDirection direction) { return s_operations[static_cast<uint32_t>(direction)]; }

void Keep(SOperation& operation, EInterchangeCode code, uint64_t bytes, const char* format, ...)
    __attribute__((format(printf, 4, 5)));

void Keep(SOperation& operation, EInterchangeCode code, uint64_t bytes, const char* format, ...) {
  operation.result = TlxInterchangeResult{};
  operation.result.code = static_cast<uint32_t>(code);
  operation.result.bytes = bytes;
  va_list arguments;
  va_start(arguments, format);
  std::vsnprintf(operation.message, sizeof operation.message, format, arguments);
  va_end(arguments);
  operation.hasResult = true;
}

const char* TextOf(const Bravik::CException& failure) {
  const char* text = static_cast<const char*>(failure.GetMessage().GetData());
  return text != nullptr ? text : "unknown error";
}

// The file layer's file as the writer's sink; a short write is a failure.
class CFileSink final : public IByteSink {
 public:
  explicit CFileSink(Bravik::IFile& file) : m_file(file) {}
  void Write(const void* bytes, size_t count) override {
    if (m_file.Write(bytes, count) != count) throw Bravik::CFileException("the disk is full", 0);
    m_written += count;
  }
  uint64_t GetWritten() const { return m_written; }

 private:
  Bravik::IFile& m_file;
  uint64_t m_written = 0;
};

class CFileSource final : public IByteSource {
 public:
  explicit CFileSource(Bravik::IFile& file) : m_file(file) {}
  size_t Read(void* buffer, size_t size) override { return static_cast<size_t>(m_file.Read(buffer, size)); }
  bool Rewind() override { return m_file.Seek(Bravik::kSeekBegin, 0) == 0; }
  uint64_t GetSize() override { return m_file.GetSize(); }

 private:
  Bravik::IFile& m_file;
};

// Opens the file; null, with the outcome kept, when it cannot be opened.
Bravik::TResourceRef<Bravik::IFile> OpenFile(SOperation& operation, const char* path, uint32_t mode) {
  try {
    Bravik::IFile* file = Bravik::Memory::New<Bravik::CNativeFile>(Bravik::Memory::kObjectPool,
                                                                   Bravik::CString(path), mode);
    return Bravik::TResourceRef<Bravik::IFile>(file);
  } catch (const Bravik::CException& failure) {
    Keep(operation, EInterchangeCode::kOpenFailed, 0, "Could not %s \"%s\": %s.",
         mode == kExportFileMode ? "create" : "open", path, TextOf(failure));
  }
  return Bravik::TResourceRef<Bravik::IFile>();
}

// Claims the direction for one run: false (with the outcome kept) when this or the other
// direction is running, or the arguments are refused.
bool Claim(EInterchangeDirection direction, const char* path, bool configGiven, uint32_t format, bool background) {
  SOperation& operation = OperationOf(direction);
  const char* verb = direction == EInterchangeDirection::kExport ? "export" : "import";
  if (path == nullptr || !configGiven || format > kBinaryForm) {
    Keep(operation, EInterchangeCode::kInvalidArguments, 0,
         "Refused the %s: the path or configuration is missing, or the format is unknown.", verb);
    return false;
  }
  if (format == kBinaryForm || background) {
    Keep(operation, EInterchangeCode::kInvalidArguments, 0,
         "Refused the %s of \"%s\": the %s is not available in this build.", verb, path,
         format == kBinaryForm ? "binary form" : "background thread");
    return false;
  }
  const EInterchangeDirection other = direction == EInterchangeDirection::kExport ? EInterchangeDirection::kImport
                                                                                  : EInterchangeDirection::kExport;
  if (OperationOf(other).running.load() != 0) {
    Keep(operation, EInterchangeCode::kRefused, 0, "Refused the %s of \"%s\": an %s is running.", verb, path,
         other == EInterchangeDirection::kExport ? "export" : "import");
    return false;
  }
  uint32_t idle = 0;
  return operation.running.compare_exchange_strong(idle, 1);  // a second run of the same direction is ignored
}

// Runs body with the direction claimed, keeping a failure's outcome; clears the claim always.
template <typename F>
void Guarded(EInterchangeDirection direction, const char* path, F&& body) {
  SOperation& operation = OperationOf(direction);
  const char* verb = direction == EInterchangeDirection::kExport ? "exporting to" : "importing";
  try {
    body(operation);
  } catch (const std::bad_alloc&) {
    Keep(operation, EInterchangeCode::kOutOfMemory, operation.result.bytes, "Ran out of memory while %s \"%s\".",
         verb, path);
    operation.running.store(0);
    throw;
  } catch (const Bravik::CException& failure) {
    Keep(operation, EInterchangeCode::kFileFailed, operation.result.bytes, "Failed while %s \"%s\": %s.", verb, path,
         TextOf(failure));
  } catch (...) {
    Keep(operation, EInterchangeCode::kFileFailed, operation.result.bytes, "Failed while %s \"%s\".", verb, path);
  }
  operation.running.store(0);
}

void Export(Repository& repository, const char* path, const TlxExportConfig& config, SOperation& operation) {
  Bravik::TResourceRef<Bravik::IFile> file = OpenFile(operation, path, kExportFileMode);
  if (!file) return;
  CFileSink sink(*file.Get());
  Keep(operation, EInterchangeCode::kRunning, 0, "Exporting to \"%s\".", path);
  try {
    WriteXmlInterchange(repository, config, sink, &operation.progress);
  } catch (...) {
    operation.result.bytes = sink.GetWritten();
    throw;
  }
  Keep(operation, EInterchangeCode::kSucceeded, sink.GetWritten(), "Exported to \"%s\".", path);
}

void Import(Repository& repository, const char* path, const TlxImportConfig& config, SOperation& operation) {
  Bravik::TResourceRef<Bravik::IFile> file = OpenFile(operation, path, kImportFileMode);
  if (!file) return;
  CFileSource source(*file.Get());
  Keep(operation, EInterchangeCode::kRunning, 0, "Importing \"%s\".", path);
  const SImportOutcome outcome = ImportXmlInterchange(repository, source, config.readBufferSize, &operation.progress);
  if (outcome.malformed) {
    Keep(operation, EInterchangeCode::kMalformed, outcome.bytes,
         "Stopped importing \"%s\" at line %" PRIu32 ", byte %" PRIu64 ": expected %s.", path, outcome.line,
         outcome.offset, outcome.expected);
    operation.result.offset = outcome.offset;
    operation.result.line = outcome.line;
  } else {
    Keep(operation, EInterchangeCode::kSucceeded, outcome.bytes, "Imported \"%s\".", path);
  }
  operation.result.skipped = outcome.skipped;
}

}  // namespace

TlxExportConfig DefaultExportConfig(uint32_t format) {
  return TlxExportConfig{8192, 255, 0, nullptr, kLittleEndian, format, 0};
}

TlxImportConfig DefaultImportConfig(uint32_t format) {
  return TlxImportConfig{format == kTextForm ? kDefaultReadBufferSize : 0, 0, format};
}

void RunExport(Repository& repository, const char* path, const TlxExportConfig* config) {
  const bool given = config != nullptr;
  if (!Claim(EInterchangeDirection::kExport, path, given, given ? config->format : 0,
             given && (config->flags & kBackgroundExport) != 0)) {
    return;
  }
  const TlxExportConfig copy = *config;
  Guarded(EInterchangeDirection::kExport, path,
          [&](SOperation& operation) { Export(repository, path, copy, operation); });
}

void RunImport(Repository& repository, const char* path, const TlxImportConfig* config) {
  const bool given = config != nullptr;
  if (!Claim(EInterchangeDirection::kImport, path, given, given ? config->format : 0,
             given && (config->flags & kBackgroundImport) != 0)) {
    return;
  }
  const TlxImportConfig copy = *config;
  Guarded(EInterchangeDirection::kImport, path,
          [&](SOperation& operation) { Import(repository, path, copy, operation); });
}

float GetInterchangeProgress(EInterchangeDirection direction) {
  const SOperation& operation = OperationOf(direction);
  if (operation.running.load() == 0) return 1.0f;
  const float total = operation.progress.GetTotal();
  // Nothing to count yet reads as not started rather than as not-a-number.
  return total > 0.0f ? operation.progress.GetCounter() / total : 0.0f;
}

bool IsInterchangeDone(EInterchangeDirection direction) { return OperationOf(direction).running.load() == 0; }

bool GetInterchangeResult(uint32_t direction, TlxInterchangeResult* result, char* message, uint32_t messageSize) {
  if (direction > 1 || result == nullptr) return false;
  const SOperation& operation = s_operations[direction];
  if (!operation.hasResult) return false;
  *result = operation.result;
  if (message != nullptr && messageSize != 0) {
    const size_t length = std::strlen(operation.message);
    const size_t copied = length < messageSize - 1 ? length : messageSize - 1;
    std::memcpy(message, operation.message, copied);
    message[copied] = '\0';
  }
  return true;
}

}  // namespace Quorin
