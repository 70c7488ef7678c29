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
#include "foundation/system/Thread.h"
#include "interchange/BinaryReader.h"
#include "interchange/BinaryWriter.h"
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

// Guards an outcome that the worker writes while the host reads it.
class CSpinLock {
 public:
  void Lock() {
    while (m_flag.test_and_set(std::memory_order_acquire)) Bravik::System::YieldThread();
  }
  void Unlock() { m_flag.clear(std::memory_order_release); }

 private:
  std::atomic_flag m_flag = ATOMIC_FLAG_INIT;
};

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
    m_written.store(m_written.load(std::memory_order_relaxed) + count, std::memory_order_relaxed);
  }
  uint64_t GetWritten() const { return m_written.load(std::memory_order_relaxed); }

 private:
  Bravik::IFile& m_file;
  std::atomic<uint64_t> m_written{0};
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

}  // namespace

// One direction of the interchange: the configuration and file of its run, its running flag, a
// progress per form, and the outcome of its last run. A run goes on the caller's thread or, as
// the one step of this thread, in the background; a library thread runs under the crash guard.
class CInterchangeThread : public Bravik::IThread {
 public:
  ~CInterchangeThread() override { StopAndJoin(); }

  // Runs the writer or reader, keeps its outcome, drops the file and clears the running flag.
  // Out of memory on the caller's thread is kept and then raised.
  void Step() override;
  bool IsBusy() const { return running.load(std::memory_order_acquire) != 0; }
  float GetProgress() const;

  void Keep(EInterchangeCode code, uint64_t bytes, const char* text, ...) __attribute__((format(printf, 4, 5)));
  void KeepFault(uint64_t offset, uint32_t line, uint32_t skipped);
  bool CopyResult(TlxInterchangeResult* result, char* message, uint32_t messageSize);

  std::atomic<uint32_t> running{0};
  CInterchangeProgress progress[2];  // by form
  uint32_t format = 0;
  bool background = false;
  Repository* repository = nullptr;
  Bravik::TResourceRef<Bravik::IFile> file;
  char path[kMessageCapacity] = {};

 protected:
  // The writer or reader on the open file; gives the bytes moved so far when it raises.
  virtual void Run(uint64_t& bytes) = 0;
  virtual const char* Verb() const = 0;

 private:
  CSpinLock m_lock;
  bool m_hasResult = false;
  TlxInterchangeResult m_result{};
  char m_message[kMessageCapacity] = {};
};

class CExportThread final : public CInterchangeThread {
 public:
  ~CExportThread() override { StopAndJoin(); }
  TlxExportConfig config{};

 protected:
  void Run(uint64_t& bytes) override;
  const char* Verb() const override { return "exporting to"; }
};

class CImportThread final : public CInterchangeThread {
 public:
  ~CImportThread() override { StopAndJoin(); }
  TlxImportConfig config{};

 protected:
  void Run(uint64_t& bytes) override;
  const char* Verb() const override { return "importing"; }
};

namespace {

CExportThread s_exportThread;
CImportThread s_importThread;

CInterchangeThread& ThreadOf(EInterchangeDirection direction) {
  if (direction == EInterchangeDirection::kExport) return s_exportThread;
  return s_importThread;
}

}  // namespace

void CInterchangeThread::Keep(EInterchangeCode code, uint64_t bytes, const char* text, ...) {
  m_lock.Lock();
  m_result = TlxInterchangeResult{};
  m_result.code = static_cast<uint32_t>(code);
  m_result.bytes = bytes;
  va_list arguments;
  va_start(arguments, text);
  std::vsnprintf(m_message, sizeof m_message, text, arguments);
  va_end(arguments);
  m_hasResult = true;
  m_lock.Unlock();
}

void CInterchangeThread::KeepFault(uint64_t offset, uint32_t line, uint32_t skipped) {
  m_lock.Lock();
  m_result.offset = offset;
  m_result.line = line;
  m_result.skipped = skipped;
  m_lock.Unlock();
}

bool CInterchangeThread::CopyResult(TlxInterchangeResult* result, char* message, uint32_t messageSize) {
  m_lock.Lock();
  const bool has = m_hasResult;
  if (has) {
    *result = m_result;
    if (message != nullptr && messageSize != 0) {
      const size_t length = std::strlen(m_message);
      const size_t copied = length < messageSize - 1 ? length : messageSize - 1;
      std::memcpy(message, m_message, copied);
      message[copied] = '\0';
    }
  }
  m_lock.Unlock();
  return has;
}

float CInterchangeThread::GetProgress() const {
  if (!IsBusy()) return 1.0f;
  const CInterchangeProgress& form = progress[format];
  const float total = form.GetTotal();
  const float counter = form.GetCounter();
  // Nothing to count yet reads as not started rather than as not-a-number.
  if (!(total > 0.0f)) return 0.0f;
  return counter < total ? counter / total : 1.0f;
}

void CInterchangeThread::Step() {
  uint64_t bytes = 0;
  bool outOfMemory = false;
  try {
    Run(bytes);
  } catch (const std::bad_alloc&) {
    Keep(EInterchangeCode::kOutOfMemory, bytes, "Ran out of memory while %s \"%s\".", Verb(), path);
    outOfMemory = true;
  } catch (const Bravik::CException& failure) {
    Keep(EInterchangeCode::kFileFailed, bytes, "Failed while %s \"%s\": %s.", Verb(), path, TextOf(failure));
  } catch (...) {
    Keep(EInterchangeCode::kFileFailed, bytes, "Failed while %s \"%s\".", Verb(), path);
  }
  file.Reset();
  running.store(0, std::memory_order_release);
  if (outOfMemory && !background) throw std::bad_alloc();
}

void CExportThread::Run(uint64_t& bytes) {
  CFileSink sink(*file.Get());
  try {
    if (format == kBinaryForm) {
      WriteBinaryInterchange(*repository, config, sink, &progress[format]);
    } else {
      WriteXmlInterchange(*repository, config, sink, &progress[format]);
    }
  } catch (...) {
    bytes = sink.GetWritten();
    throw;
  }
  Keep(EInterchangeCode::kSucceeded, sink.GetWritten(), "Exported to \"%s\".", path);
}

void CImportThread::Run(uint64_t&) {
  CFileSource source(*file.Get());
  SImportOutcome outcome;
  if (format == kBinaryForm) {
    const SBinaryReadResult read = ReadBinaryInterchange(*repository, source, &progress[format]);
    outcome = SImportOutcome{read.code != 0, read.offset, 0, read.skipped, read.bytes, read.expected};
  } else {
    outcome = ImportXmlInterchange(*repository, source, config.readBufferSize, &progress[format]);
  }
  if (outcome.malformed && format == kBinaryForm) {
    Keep(EInterchangeCode::kMalformed, outcome.bytes, "Stopped importing \"%s\" at byte %" PRIu64 ": expected %s.",
         path, outcome.offset, outcome.expected);
  } else if (outcome.malformed) {
    Keep(EInterchangeCode::kMalformed, outcome.bytes,
         "Stopped importing \"%s\" at line %" PRIu32 ", byte %" PRIu64 ": expected %s.", path, outcome.line,
         outcome.offset, outcome.expected);
  } else {
    Keep(EInterchangeCode::kSucceeded, outcome.bytes, "Imported \"%s\".", path);
  }
  KeepFault(outcome.malformed ? outcome.offset : 0, outcome.line, outcome.skipped);
}

namespace {

const char* NameOf(EInterchangeDirection direction) {
  return direction == EInterchangeDirection::kExport ? "export" : "import";
}

// Checks the arguments and that no export or import runs: false, with the outcome kept, when
// the run is refused. A second run of the same direction is refused before its file is opened,
// so that it cannot empty the file the first is writing.
bool MayRun(EInterchangeDirection direction, const char* path, bool configGiven, uint32_t format) {
  CInterchangeThread& thread = ThreadOf(direction);
  if (path == nullptr || !configGiven || format > kBinaryForm) {
    thread.Keep(EInterchangeCode::kInvalidArguments, 0,
                "Refused the %s: the path or configuration is missing, or the format is unknown.", NameOf(direction));
    return false;
  }
  const EInterchangeDirection other = direction == EInterchangeDirection::kExport ? EInterchangeDirection::kImport
                                                                                  : EInterchangeDirection::kExport;
  if (ThreadOf(other).IsBusy()) {
    thread.Keep(EInterchangeCode::kRefused, 0, "Refused the %s of \"%s\": an %s is running.", NameOf(direction), path,
                NameOf(other));
    return false;
  }
  if (thread.IsBusy()) {
    thread.Keep(EInterchangeCode::kRefused, 0, "Ignored the %s of \"%s\": another %s is running.", NameOf(direction),
                path, NameOf(direction));
    return false;
  }
  return true;
}

// Opens the file, claims the thread object and starts the run.
void Launch(Repository& repository, EInterchangeDirection direction, const char* path, uint32_t format,
            bool background, uint32_t mode) {
  CInterchangeThread& thread = ThreadOf(direction);
  Bravik::TResourceRef<Bravik::IFile> file;
  try {
    file = Bravik::TResourceRef<Bravik::IFile>(
        Bravik::Memory::New<Bravik::CNativeFile>(Bravik::Memory::kObjectPool, Bravik::CString(path), mode));
  } catch (const Bravik::CException& failure) {
    thread.Keep(EInterchangeCode::kOpenFailed, 0, "Could not %s \"%s\": %s.",
                direction == EInterchangeDirection::kExport ? "create" : "open", path, TextOf(failure));
    return;
  }
  uint32_t idle = 0;
  if (!thread.running.compare_exchange_strong(idle, 1, std::memory_order_acq_rel)) return;
  if (background) thread.StopAndJoin();  // the previous run's thread, finished but not joined
  thread.repository = &repository;
  thread.format = format;
  thread.background = background;
  thread.file = file;
  std::snprintf(thread.path, sizeof thread.path, "%s", path);
  thread.progress[format].Begin(0.0f);
  thread.Keep(EInterchangeCode::kRunning, 0, "%s \"%s\".",
              direction == EInterchangeDirection::kExport ? "Exporting to" : "Importing", path);
  if (background) {
    thread.Start();
  } else {
    thread.Step();
  }
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
  if (!MayRun(EInterchangeDirection::kExport, path, given, given ? config->format : 0)) return;
  s_exportThread.config = *config;
  Launch(repository, EInterchangeDirection::kExport, path, config->format, (config->flags & kBackgroundExport) != 0,
         kExportFileMode);
}

void RunImport(Repository& repository, const char* path, const TlxImportConfig* config) {
  const bool given = config != nullptr;
  if (!MayRun(EInterchangeDirection::kImport, path, given, given ? config->format : 0)) return;
  s_importThread.config = *config;
  Launch(repository, EInterchangeDirection::kImport, path, config->format, (config->flags & kBackgroundImport) != 0,
         kImportFileMode);
}

float GetInterchangeProgress(EInterchangeDirection direction) { return ThreadOf(direction).GetProgress(); }

bool IsInterchangeDone(EInterchangeDirection direction) {
  CInterchangeThread& thread = ThreadOf(direction);
  if (thread.IsBusy()) return false;
  thread.StopAndJoin();
  return true;
}

void WaitForInterchange() {
  s_exportThread.StopAndJoin();
  s_importThread.StopAndJoin();
}

bool GetInterchangeResult(uint32_t direction, TlxInterchangeResult* result, char* message, uint32_t messageSize) {
  if (direction > 1 || result == nullptr) return false;
  return ThreadOf(static_cast<EInterchangeDirection>(direction)).CopyResult(result, message, messageSize);
}

}  // namespace Quorin
