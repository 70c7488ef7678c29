// Crash reports and assertion reports. A processor fault on one of the library's own threads
// (those under a CCrashGuardScope, every IThread body) is named, written to a report file beside
// the executable (a minidump "<exe>_Y-M-D_h-m-s.dmp" on Windows, a text "<exe>_Y-M-D_h-m-s.crash"
// elsewhere) and reported, then passed on to whatever handled it before: the host's handler, or
// the end of the process. Faults on the host's threads are never touched.
//
// Reports go through a dialog (Abort, Retry, Ignore). Without a display they are written to
// standard error and answered Ignore. The switch "SuppressAssertions" (Windows: DWORD under the
// current user's "Software\Bravik"; elsewhere: environment variable BRAVIK_SUPPRESS_ASSERTIONS
// non-zero) ends the process with exit code 1 instead of any dialog.
//
// Nothing here allocates from the library's pools: a fault inside an allocation must not wait on
// a pool lock.
#pragma once

#include <cstddef>
#include <cstdint>

// The runtime's own printf rules, which MinGW's compiler knows under another name.
#ifdef __MINGW32__
#define BRAVIK_PRINTF_FORMAT(formatIndex, firstIndex) \
  [[gnu::format(gnu_printf, formatIndex, firstIndex)]]
#else
#define BRAVIK_PRINTF_FORMAT(formatIndex, firstIndex) \
  [[gnu::format(printf, formatIndex, firstIndex)]]
#endif

namespace Bravik {

constexpr uint32_t kMaxCallstackFrames = 32;

struct CallstackFrame {
  uint64_t address;
  uint32_t line;
  char function[1024];
  char module[64];
  char file[256];  // "unknown_file" when the symbols name none
};

// Captures up to 32 return addresses of the calling thread and resolves each; gives the count.
// `hash`, when not null, receives a 32-bit hash of the addresses (the call path).
uint32_t CaptureCallstack(CallstackFrame* frames, uint32_t* hash = nullptr);
// Module, function, source file and line of a code address, as far as symbols tell.
void ResolveFrame(uint64_t address, CallstackFrame& frame);

enum class EReportChoice : uint32_t { kAbort, kRetry, kIgnore };
struct ReportAnswer {
  EReportChoice choice;
  bool controlHeld;  // Ignore with Control held: never show this call path again
};
using ReportDialogFunction = ReportAnswer (*)(const char* text, const char* caption);

// Reports a failed check: "<title>\n\n<message>\n\nThread <id>\n<file> (<line>)\n", message from
// a printf format. Returns true when the caller should break into the debugger (Retry with a
// debugger attached). Abort, or the switch on, ends the process with exit code 1. Reports from
// one call path that was ignored with Control held return false at once (64 paths at most).
BRAVIK_PRINTF_FORMAT(4, 5)
bool ReportAssertion(const char* file, long line, const char* title, const char* format, ...);
// Replaces the dialog (tests, hosts without a display); null restores the platform's.
void SetReportDialog(ReportDialogFunction dialog);
// The dialog without a display: the text on standard error, answered Ignore.
ReportAnswer ReportToStandardError(const char* text, const char* caption);

// The name of a Windows exception code ("Access violation"; "Unknown exception" for others).
const char* ExceptionCodeText(uint32_t code);

struct CivilTime {
  uint32_t year, month, day, hour, minute, second;
};
// "<executable without its extension>_Y-M-D_h-m-s<extension>", numbers without leading zeros,
// cut to `capacity`; gives the length.
size_t FormatReportPath(char* buffer, size_t capacity, const char* executable,
                        const CivilTime& time, const char* extension);
// The UTC date and time of seconds since 1970.
CivilTime CivilTimeFromUnix(int64_t seconds);

// Call paths whose reports were ignored for good.
class CReportIgnoreList {
 public:
  static constexpr uint32_t kCapacity = 64;
  bool Contains(uint32_t hash) const;
  // False, and nothing kept, when the list is full.
  bool Add(uint32_t hash);

 private:
  uint32_t m_hashes[kCapacity] = {};
  uint32_t m_count = 0;
};

namespace System {

// Puts the calling thread under the crash guard for the scope's lifetime.
class CCrashGuardScope {
 public:
  CCrashGuardScope();
  ~CCrashGuardScope();
  CCrashGuardScope(const CCrashGuardScope&) = delete;
  CCrashGuardScope& operator=(const CCrashGuardScope&) = delete;

 private:
  uint32_t m_threadId;
  void* m_platformState;
};

// Library threads under the guard, by platform thread id (at most 64 at once).
bool IsGuardedThread(uint32_t threadId);
// Marks the start of handling a fault on a guarded thread; false for other threads and for a
// fault raised while that thread already handles one.
bool BeginCrashHandling(uint32_t threadId);
// The fault was passed on and came back (the previous handler returned).
void EndCrashHandling(uint32_t threadId);
// Steps shared by the platforms after the dump is written: name the code, resolve the faulting
// address, report.
void ReportCrash(uint32_t code, uint64_t address);

// Platform services of the reports.
bool IsAssertionSwitchOn();
ReportAnswer ShowPlatformDialog(const char* text, const char* caption);
[[noreturn]] void EndProcess(uint32_t exitCode);
bool IsDebuggerAttached();
uint32_t CaptureReturnAddresses(uint64_t* addresses, uint32_t capacity, uint32_t* hash);
size_t GetExecutablePath(char* buffer, size_t capacity);
void WriteStandardError(const char* text, size_t length);
// Installs the process-wide handler once; prepares and releases a guarded thread.
void InstallCrashHandler();
void* PrepareGuardedThread();
void ReleaseGuardedThread(void* state);

}  // namespace System

}  // namespace Bravik
