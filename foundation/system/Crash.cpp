#include "foundation/system/Crash.h"

#include <atomic>
#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "foundation/system/Platform.h"

namespace Bravik {

namespace {

struct ExceptionName {
  uint32_t code;
  const char* text;
};
constexpr ExceptionName kExceptionNames[] = {
    {0xC0000005u, "Access violation"},
    {0xC0000006u, "Page load failed"},
    {0xC0000008u, "Invalid handle"},
    {0xC000001Du, "Illegal instruction"},
    {0xC0000025u, "Cannot continue after previous exception"},
    {0xC0000026u, "Exception handler returned an invalid disposition"},
    {0xC000008Cu, "Array out of bounds"},
    {0xC000008Du, "Float value too small"},
    {0xC000008Eu, "Float division by zero"},
    {0xC000008Fu, "Float value cannot be displayed as fraction"},
    {0xC0000090u, "Invalid floating point operation"},
    {0xC0000091u, "Float exponent overflow"},
    {0xC0000092u, "Stack overflow due to floating point operation"},
    {0xC0000093u, "Float exponent underflow"},
    {0xC0000094u, "Int division by zero"},
    {0xC0000095u, "Integer overflow"},
    {0xC0000096u, "Operation not allowed in current machine mode"},
    {0xC00000FDu, "Stack overflow"},
    {0x80000001u, "Guard page hit"},
    {0x80000002u, "Misaligned datatype"},
    {0x80000003u, "Breakpoint triggered"},
};
static_assert(sizeof kExceptionNames / sizeof kExceptionNames[0] == 21);

constexpr uint32_t kNoOwner = 0xFFFFFFFFu;

// Recursive spin lock: a report may fault and report again on the same thread.
class CReportLock {
 public:
  void Lock(uint32_t self) {
    if (m_owner.load(std::memory_order_acquire) != self) {
      uint32_t expected = kNoOwner;
      while (!m_owner.compare_exchange_weak(expected, self, std::memory_order_acquire)) {
        expected = kNoOwner;
        System::SpinPause();
      }
    }
    ++m_count;
  }
  void Unlock() {
    if (--m_count == 0) m_owner.store(kNoOwner, std::memory_order_release);
  }

 private:
  std::atomic<uint32_t> m_owner{kNoOwner};
  uint32_t m_count = 0;
};

// Everything a report needs lives here, not in the pools (and not on a faulting stack).
struct CReportState {
  CReportLock lock;
  CReportIgnoreList ignored;
  std::atomic<ReportDialogFunction> dialog{nullptr};
  char message[1024];
  char text[4096];
  char caption[260];
  uint64_t addresses[kMaxCallstackFrames];
  CallstackFrame crashFrame;
};

CReportState g_report;

constexpr uint32_t kMaxGuardedThreads = 64;
std::atomic<uint32_t> g_guardedThreads[kMaxGuardedThreads];
std::atomic<bool> g_handlingCrash[kMaxGuardedThreads];

int32_t GuardedSlot(uint32_t threadId) {
  for (uint32_t slot = 0; slot < kMaxGuardedThreads; ++slot)
    if (g_guardedThreads[slot].load(std::memory_order_acquire) == threadId) return slot;
  return -1;
}

bool AnswerReport(uint32_t hash) {
  CReportState& state = g_report;
  if (System::IsAssertionSwitchOn()) System::EndProcess(1);
  if (state.ignored.Contains(hash)) return false;
  System::GetExecutablePath(state.caption, sizeof state.caption);
  const ReportDialogFunction dialog = state.dialog.load(std::memory_order_acquire);
  const ReportAnswer answer = dialog != nullptr
                                  ? dialog(state.text, state.caption)
                                  : System::ShowPlatformDialog(state.text, state.caption);
  switch (answer.choice) {
    case EReportChoice::kAbort:
      System::EndProcess(1);
    case EReportChoice::kRetry:
      return System::IsDebuggerAttached();
    case EReportChoice::kIgnore:
      break;
  }
  if (answer.controlHeld) state.ignored.Add(hash);
  return false;
}

}  // namespace

uint32_t CaptureCallstack(CallstackFrame* frames, uint32_t* hash) {
  uint64_t addresses[kMaxCallstackFrames];
  const uint32_t count = System::CaptureReturnAddresses(addresses, kMaxCallstackFrames, hash);
  for (uint32_t i = 0; i < count; ++i) ResolveFrame(addresses[i], frames[i]);
  return count;
}

bool ReportAssertion(const char* file, long line, const char* title, const char* format, ...) {
  const uint32_t self = System::CurrentThreadId();
  CReportState& state = g_report;
  state.lock.Lock(self);
  va_list arguments;
  va_start(arguments, format);
  state.message[0] = 0;
  if (format != nullptr) std::vsnprintf(state.message, sizeof state.message, format, arguments);
  va_end(arguments);
  // Long texts are cut to the buffers.
  if (std::snprintf(state.text, sizeof state.text, "%s\n\n%s\n\nThread %u\n%s (%ld)\n",
                    title != nullptr ? title : "", state.message, self,
                    file != nullptr ? file : "", line) < 0)
    state.text[0] = 0;
  uint32_t hash = 0;
  System::CaptureReturnAddresses(state.addresses, kMaxCallstackFrames, &hash);
  const bool breakIn = AnswerReport(hash);
  state.lock.Unlock();
  return breakIn;
}

void SetReportDialog(ReportDialogFunction dialog) {
  g_report.dialog.store(dialog, std::memory_order_release);
}

ReportAnswer ReportToStandardError(const char* text, const char*) {
  System::WriteStandardError(text, std::strlen(text));
  return {EReportChoice::kIgnore, false};
}

const char* ExceptionCodeText(uint32_t code) {
  for (const ExceptionName& name : kExceptionNames)
    if (name.code == code) return name.text;
  return "Unknown exception";
}

size_t FormatReportPath(char* buffer, size_t capacity, const char* executable,
                        const CivilTime& time, const char* extension) {
  if (capacity == 0) return 0;
  const char* name = executable;
  for (const char* at = executable; *at != 0; ++at)
    if (*at == '/' || *at == '\\') name = at + 1;
  const char* dot = std::strrchr(name, '.');
  const size_t stem =
      dot != nullptr ? static_cast<size_t>(dot - executable) : std::strlen(executable);
  const int written = std::snprintf(buffer, capacity, "%.*s_%u-%u-%u_%u-%u-%u%s",
                                    static_cast<int>(stem), executable, time.year, time.month,
                                    time.day, time.hour, time.minute, time.second, extension);
  if (written < 0) return 0;
  return static_cast<size_t>(written) < capacity ? static_cast<size_t>(written) : capacity - 1;
}

// Days to civil date over the proleptic Gregorian calendar, in 400-year eras.
CivilTime CivilTimeFromUnix(int64_t seconds) {
  int64_t days = seconds / 86400;
  int64_t rest = seconds % 86400;
  if (rest < 0) rest += 86400, --days;
  const int64_t z = days + 719468;
  const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const int64_t dayOfEra = z - era * 146097;
  const int64_t yearOfEra =
      (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
  const int64_t dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
  const int64_t shiftedMonth = (5 * dayOfYear + 2) / 153;
  const int64_t month = shiftedMonth < 10 ? shiftedMonth + 3 : shiftedMonth - 9;
  const int64_t year = yearOfEra + era * 400 + (month <= 2 ? 1 : 0);
  return {static_cast<uint32_t>(year),
          static_cast<uint32_t>(month),
          static_cast<uint32_t>(dayOfYear - (153 * shiftedMonth + 2) / 5 + 1),
          static_cast<uint32_t>(rest / 3600),
          static_cast<uint32_t>(rest / 60 % 60),
          static_cast<uint32_t>(rest % 60)};
}

bool CReportIgnoreList::Contains(uint32_t hash) const {
  for (uint32_t i = 0; i < m_count; ++i)
    if (m_hashes[i] == hash) return true;
  return false;
}

bool CReportIgnoreList::Add(uint32_t hash) {
  if (m_count == kCapacity) return false;
  m_hashes[m_count++] = hash;
  return true;
}

namespace System {

CCrashGuardScope::CCrashGuardScope() : m_threadId(CurrentThreadId()) {
  InstallCrashHandler();
  m_platformState = PrepareGuardedThread();
  for (auto& slot : g_guardedThreads) {
    uint32_t expected = 0;
    if (slot.compare_exchange_strong(expected, m_threadId, std::memory_order_acq_rel)) break;
  }
}

CCrashGuardScope::~CCrashGuardScope() {
  const int32_t slot = GuardedSlot(m_threadId);
  if (slot >= 0) {
    g_handlingCrash[slot].store(false, std::memory_order_relaxed);
    g_guardedThreads[slot].store(0, std::memory_order_release);
  }
  ReleaseGuardedThread(m_platformState);
}

bool IsGuardedThread(uint32_t threadId) { return threadId != 0 && GuardedSlot(threadId) >= 0; }

bool BeginCrashHandling(uint32_t threadId) {
  const int32_t slot = threadId != 0 ? GuardedSlot(threadId) : -1;
  return slot >= 0 && !g_handlingCrash[slot].exchange(true, std::memory_order_acq_rel);
}

void EndCrashHandling(uint32_t threadId) {
  const int32_t slot = threadId != 0 ? GuardedSlot(threadId) : -1;
  if (slot >= 0) g_handlingCrash[slot].store(false, std::memory_order_release);
}

void ReportCrash(uint32_t code, uint64_t address) {
  CReportState& state = g_report;
  state.lock.Lock(CurrentThreadId());
  CallstackFrame& frame = state.crashFrame;
  ResolveFrame(address, frame);
  // The whole address: the low half alone does not find the code on a 64-bit system.
  ReportAssertion("", 0, "Unhandled exception.", "%s (0x%x) at 0x%llx\n\n%s (%d)\n%s",
                  ExceptionCodeText(code), code, static_cast<unsigned long long>(address),
                  frame.file, static_cast<int>(frame.line), frame.function);
  state.lock.Unlock();
}

}  // namespace System

}  // namespace Bravik
