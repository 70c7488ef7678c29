#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <cstdlib>
#include <dlfcn.h>
#include <execinfo.h>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/syscall.h>
#include <time.h>
#include <ucontext.h>
#include <unistd.h>

#include "foundation/system/Crash.h"

namespace Bravik::System {

namespace {

constexpr int kSignals[] = {SIGSEGV, SIGBUS, SIGFPE, SIGILL};
constexpr size_t kSignalCount = sizeof kSignals / sizeof kSignals[0];
struct sigaction g_previous[kSignalCount];
std::atomic<bool> g_installed{false};

constexpr size_t kAlternateStackSize = 64 * 1024;
// A fault this close to the stack pointer is the stack running out.
constexpr uint64_t kStackOverflowReach = 64 * 1024;

constexpr int kAnyCode = -1;
struct SignalCode {
  int signal;
  int code;
  uint32_t exception;
};
// First match wins: specific codes before the signal's catch-all.
constexpr SignalCode kSignalCodes[] = {
    {SIGSEGV, kAnyCode, 0xC0000005u},  {SIGBUS, BUS_ADRALN, 0x80000002u},
    {SIGBUS, kAnyCode, 0xC0000006u},   {SIGFPE, FPE_INTDIV, 0xC0000094u},
    {SIGFPE, FPE_INTOVF, 0xC0000095u}, {SIGFPE, FPE_FLTDIV, 0xC000008Eu},
    {SIGFPE, FPE_FLTOVF, 0xC0000091u}, {SIGFPE, FPE_FLTUND, 0xC0000093u},
    {SIGFPE, FPE_FLTRES, 0xC000008Fu}, {SIGFPE, FPE_FLTSUB, 0xC000008Cu},
    {SIGFPE, kAnyCode, 0xC0000090u},   {SIGILL, ILL_PRVOPC, 0xC0000096u},
    {SIGILL, ILL_PRVREG, 0xC0000096u}, {SIGILL, kAnyCode, 0xC000001Du},
};

// The thread id straight from the kernel: safe in a signal handler on any thread.
uint32_t RawThreadId() { return static_cast<uint32_t>(::syscall(SYS_gettid)); }

struct Registers {
  uint64_t instruction = 0;
  uint64_t stack = 0;
};

Registers ReadRegisters(const void* context) {
  const auto* user = static_cast<const ucontext_t*>(context);
#if defined(__x86_64__)
  return {static_cast<uint64_t>(user->uc_mcontext.gregs[REG_RIP]),
          static_cast<uint64_t>(user->uc_mcontext.gregs[REG_RSP])};
#elif defined(__aarch64__)
  return {user->uc_mcontext.pc, user->uc_mcontext.sp};
#else
  (void)user;
  return {};
#endif
}

uint32_t ExceptionCode(int signal, const siginfo_t* info, const Registers& registers) {
  const auto address = reinterpret_cast<uint64_t>(info->si_addr);
  const uint64_t distance =
      address > registers.stack ? address - registers.stack : registers.stack - address;
  if (signal == SIGSEGV && registers.stack != 0 && distance < kStackOverflowReach)
    return 0xC00000FDu;
  for (const SignalCode& entry : kSignalCodes)
    if (entry.signal == signal && (entry.code == kAnyCode || entry.code == info->si_code))
      return entry.exception;
  return 0;
}

void WriteAll(int descriptor, const char* text, size_t length) {
  while (length > 0) {
    const ssize_t written = ::write(descriptor, text, length);
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) return;
    text += written;
    length -= static_cast<size_t>(written);
  }
}

// "<exe>_Y-M-D_h-m-s.crash": code, addresses, thread and the backtrace through the signal frame.
void WriteReportFile(uint32_t code, int signal, const siginfo_t* info, uint64_t instruction) {
  char executable[1024], path[1100], header[512];
  GetExecutablePath(executable, sizeof executable);
  timespec now{};
  ::clock_gettime(CLOCK_REALTIME, &now);
  FormatReportPath(path, sizeof path, executable, CivilTimeFromUnix(now.tv_sec), ".crash");
  const int descriptor = ::open(path, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (descriptor < 0) return;
  const int length = std::snprintf(
      header, sizeof header,
      "Unhandled exception: %s (0x%x)\nSignal %d, code %d\nAddress: 0x%llx\n"
      "Data address: 0x%llx\nThread %u\n\nBacktrace:\n",
      ExceptionCodeText(code), code, signal, info->si_code,
      static_cast<unsigned long long>(instruction),
      static_cast<unsigned long long>(reinterpret_cast<uintptr_t>(info->si_addr)), RawThreadId());
  if (length > 0) WriteAll(descriptor, header, static_cast<size_t>(length));
  void* frames[64];
  ::backtrace_symbols_fd(frames, ::backtrace(frames, 64), descriptor);
  ::close(descriptor);
}

size_t SignalIndex(int signal) {
  size_t index = 0;
  while (index + 1 < kSignalCount && kSignals[index] != signal) ++index;
  return index;
}

// Hands the fault to the handler that was there before; the default action ends the process
// (a fault raised by an instruction comes back when the handler returns, a sent one is raised).
void PassOn(int signal, siginfo_t* info, void* context) {
  const struct sigaction& previous = g_previous[SignalIndex(signal)];
  if (previous.sa_handler == SIG_IGN) return;
  if (previous.sa_handler == SIG_DFL) {
    struct sigaction standard {};
    standard.sa_handler = SIG_DFL;
    ::sigaction(signal, &standard, nullptr);
    if (info->si_code <= 0) ::raise(signal);
    return;
  }
  if ((previous.sa_flags & SA_SIGINFO) != 0)
    previous.sa_sigaction(signal, info, context);
  else
    previous.sa_handler(signal);
}

void OnFault(int signal, siginfo_t* info, void* context) {
  const int savedErrno = errno;
  const uint32_t self = RawThreadId();
  const bool ours = BeginCrashHandling(self);
  if (ours) {
    const Registers registers = ReadRegisters(context);
    const uint32_t code = ExceptionCode(signal, info, registers);
    WriteReportFile(code, signal, info, registers.instruction);
    ReportCrash(code, registers.instruction);
  }
  errno = savedErrno;
  PassOn(signal, info, context);
  if (ours) EndCrashHandling(self);
}

// Gives the handlers back when the library is unloaded, unless someone replaced ours since.
struct CHandlerRemover {
  ~CHandlerRemover() {
    if (!g_installed.load(std::memory_order_acquire)) return;
    for (size_t i = 0; i < kSignalCount; ++i) {
      struct sigaction current {};
      ::sigaction(kSignals[i], nullptr, &current);
      if ((current.sa_flags & SA_SIGINFO) != 0 && current.sa_sigaction == &OnFault)
        ::sigaction(kSignals[i], &g_previous[i], nullptr);
    }
  }
} g_handlerRemover;

}  // namespace

void InstallCrashHandler() {
  static const bool installed = [] {
    void* warmUp[1];
    ::backtrace(warmUp, 1);  // loads the unwinder now, not inside a fault
    struct sigaction action {};
    action.sa_sigaction = &OnFault;
    action.sa_flags = SA_SIGINFO | SA_ONSTACK;
    sigemptyset(&action.sa_mask);
    for (size_t i = 0; i < kSignalCount; ++i) ::sigaction(kSignals[i], &action, &g_previous[i]);
    g_installed.store(true, std::memory_order_release);
    return true;
  }();
  (void)installed;
}

// A stack for the handler, so that a thread that ran out of stack can still report. A thread
// that already has one (a sanitizer's) keeps it.
void* PrepareGuardedThread() {
  stack_t current{};
  if (::sigaltstack(nullptr, &current) == 0 && (current.ss_flags & SS_DISABLE) == 0) return nullptr;
  void* memory = ::mmap(nullptr, kAlternateStackSize, PROT_READ | PROT_WRITE,
                        MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (memory == MAP_FAILED) return nullptr;
  stack_t stack{};
  stack.ss_sp = memory;
  stack.ss_size = kAlternateStackSize;
  if (::sigaltstack(&stack, nullptr) == 0) return memory;
  ::munmap(memory, kAlternateStackSize);
  return nullptr;
}

void ReleaseGuardedThread(void* state) {
  if (state == nullptr) return;
  stack_t disabled{};
  disabled.ss_flags = SS_DISABLE;
  ::sigaltstack(&disabled, nullptr);
  ::munmap(state, kAlternateStackSize);
}

bool IsAssertionSwitchOn() {
  const char* value = std::getenv("BRAVIK_SUPPRESS_ASSERTIONS");
  if (value == nullptr) return false;
  for (; *value != 0; ++value)
    if (*value >= '1' && *value <= '9') return true;
  return false;
}

ReportAnswer ShowPlatformDialog(const char* text, const char* caption) {
  return ReportToStandardError(text, caption);
}

void EndProcess(uint32_t exitCode) { ::_exit(static_cast<int>(exitCode)); }

bool IsDebuggerAttached() {
  char status[4096];
  const int descriptor = ::open("/proc/self/status", O_RDONLY | O_CLOEXEC);
  if (descriptor < 0) return false;
  const ssize_t length = ::read(descriptor, status, sizeof status - 1);
  ::close(descriptor);
  if (length <= 0) return false;
  status[length] = 0;
  const char* tracer = std::strstr(status, "TracerPid:");
  if (tracer == nullptr) return false;
  for (tracer += 10; *tracer == ' ' || *tracer == '\t'; ++tracer) {
  }
  return *tracer >= '1' && *tracer <= '9';
}

uint32_t CaptureReturnAddresses(uint64_t* addresses, uint32_t capacity, uint32_t* hash) {
  void* frames[kMaxCallstackFrames];
  const int count = ::backtrace(
      frames, static_cast<int>(capacity < kMaxCallstackFrames ? capacity : kMaxCallstackFrames));
  uint32_t fnv = 2166136261u;
  for (int i = 0; i < count; ++i) {
    addresses[i] = reinterpret_cast<uintptr_t>(frames[i]);
    for (int shift = 0; shift < 64; shift += 8)
      fnv = (fnv ^ static_cast<uint8_t>(addresses[i] >> shift)) * 16777619u;
  }
  if (hash != nullptr) *hash = fnv;
  return count < 0 ? 0 : static_cast<uint32_t>(count);
}

size_t GetExecutablePath(char* buffer, size_t capacity) {
  if (capacity == 0) return 0;
  const ssize_t length = ::readlink("/proc/self/exe", buffer, capacity - 1);
  const size_t used = length < 0 ? 0 : static_cast<size_t>(length);
  buffer[used] = 0;
  return used;
}

void WriteStandardError(const char* text, size_t length) { WriteAll(STDERR_FILENO, text, length); }

}  // namespace Bravik::System

namespace Bravik {

// Exported symbols only: no line numbers without a debugger's help.
void ResolveFrame(uint64_t address, CallstackFrame& frame) {
  frame.address = address;
  frame.line = 0;
  frame.function[0] = frame.module[0] = 0;
  std::snprintf(frame.file, sizeof frame.file, "%s", "unknown_file");
  Dl_info info{};
  if (::dladdr(reinterpret_cast<void*>(address), &info) == 0) return;
  if (info.dli_fname != nullptr) {
    const char* slash = std::strrchr(info.dli_fname, '/');
    std::snprintf(frame.module, sizeof frame.module, "%s",
                  slash != nullptr ? slash + 1 : info.dli_fname);
  }
  if (info.dli_sname != nullptr)
    std::snprintf(frame.function, sizeof frame.function, "%s", info.dli_sname);
}

}  // namespace Bravik
