#include <atomic>
#include <cstdio>
#include <cstring>

#include "foundation/system/Crash.h"

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
#include <dbghelp.h>

namespace Bravik::System {

namespace {

// The debug-help library, loaded by name when the first guarded thread starts: loading it
// inside a fault could wait on the loader lock.
struct CDebugHelp {
  HMODULE library = nullptr;
  BOOL(WINAPI* symInitialize)(HANDLE, PCSTR, BOOL) = nullptr;
  BOOL(WINAPI* symRefreshModuleList)(HANDLE) = nullptr;
  BOOL(WINAPI* miniDumpWriteDump)
  (HANDLE, DWORD, HANDLE, MINIDUMP_TYPE, PMINIDUMP_EXCEPTION_INFORMATION,
   PMINIDUMP_USER_STREAM_INFORMATION, PMINIDUMP_CALLBACK_INFORMATION) = nullptr;
  BOOL(WINAPI* symFromAddr)(HANDLE, DWORD64, PDWORD64, PSYMBOL_INFO) = nullptr;
  DWORD(WINAPI* symSetOptions)(DWORD) = nullptr;
  DWORD(WINAPI* symGetOptions)() = nullptr;
  BOOL(WINAPI* symGetLineFromAddr64)(HANDLE, DWORD64, PDWORD, PIMAGEHLP_LINE64) = nullptr;
  BOOL(WINAPI* symGetModuleInfo64)(HANDLE, DWORD64, PIMAGEHLP_MODULE64) = nullptr;
};

constexpr MINIDUMP_TYPE kDumpType = static_cast<MINIDUMP_TYPE>(0x40);  // indirect memory
constexpr UINT kDialogStyle = 0x212;  // Abort/Retry/Ignore, error icon, third button default
constexpr ULONG kStackGuarantee = 64 * 1024;

SRWLOCK g_symbolLock = SRWLOCK_INIT;
PVOID g_vectoredHandler = nullptr;

template <typename T>
void LookUp(HMODULE library, const char* name, T& function) {
  // Through the generic function pointer type, which converts to any other without a warning.
  function = reinterpret_cast<T>(reinterpret_cast<void (*)()>(::GetProcAddress(library, name)));
}

const CDebugHelp& DebugHelp() {
  static const CDebugHelp help = [] {
    CDebugHelp loaded;
    loaded.library = ::LoadLibraryA("dbghelp.dll");
    if (loaded.library == nullptr) return loaded;
    LookUp(loaded.library, "SymInitialize", loaded.symInitialize);
    LookUp(loaded.library, "SymRefreshModuleList", loaded.symRefreshModuleList);
    LookUp(loaded.library, "MiniDumpWriteDump", loaded.miniDumpWriteDump);
    LookUp(loaded.library, "SymFromAddr", loaded.symFromAddr);
    LookUp(loaded.library, "SymSetOptions", loaded.symSetOptions);
    LookUp(loaded.library, "SymGetOptions", loaded.symGetOptions);
    LookUp(loaded.library, "SymGetLineFromAddr64", loaded.symGetLineFromAddr64);
    LookUp(loaded.library, "SymGetModuleInfo64", loaded.symGetModuleInfo64);
    return loaded;
  }();
  return help;
}

// Refreshes the module list, or sets the symbol handler up when that fails.
bool PrepareSymbols(const CDebugHelp& help) {
  HANDLE process = ::GetCurrentProcess();
  if (help.symRefreshModuleList != nullptr && help.symRefreshModuleList(process)) return true;
  if (help.symInitialize == nullptr) return false;
  if (help.symSetOptions != nullptr && help.symGetOptions != nullptr)
    help.symSetOptions(help.symGetOptions() | SYMOPT_LOAD_LINES | SYMOPT_UNDNAME |
                       SYMOPT_DEFERRED_LOADS);
  return help.symInitialize(process, nullptr, TRUE) != FALSE;
}

void ResolveSymbols(const CDebugHelp& help, uint64_t address, CallstackFrame& frame) {
  HANDLE process = ::GetCurrentProcess();
  IMAGEHLP_LINE64 line{};
  line.SizeOfStruct = sizeof line;
  DWORD lineDisplacement = 0;
  if (help.symGetLineFromAddr64 != nullptr &&
      help.symGetLineFromAddr64(process, address, &lineDisplacement, &line) && line.FileName) {
    std::snprintf(frame.file, sizeof frame.file, "%s", line.FileName);
    frame.line = line.LineNumber;
  }
  alignas(SYMBOL_INFO) static char storage[sizeof(SYMBOL_INFO) + sizeof frame.function];
  auto* symbol = reinterpret_cast<SYMBOL_INFO*>(storage);
  std::memset(storage, 0, sizeof storage);
  symbol->SizeOfStruct = sizeof(SYMBOL_INFO);
  symbol->MaxNameLen = sizeof frame.function - 1;
  DWORD64 displacement = 0;
  if (help.symFromAddr != nullptr && help.symFromAddr(process, address, &displacement, symbol))
    std::snprintf(frame.function, sizeof frame.function, "%s", symbol->Name);
  static IMAGEHLP_MODULE64 module;
  std::memset(&module, 0, sizeof module);
  module.SizeOfStruct = sizeof module;
  if (help.symGetModuleInfo64 != nullptr && help.symGetModuleInfo64(process, address, &module))
    std::snprintf(frame.module, sizeof frame.module, "%s", module.ModuleName);
}

// "<exe>_Y-M-D_h-m-s.dmp" beside the executable; nothing when the file cannot be created.
void WriteMinidump(EXCEPTION_POINTERS* pointers) {
  const CDebugHelp& help = DebugHelp();
  if (help.miniDumpWriteDump == nullptr) return;
  wchar_t executable[MAX_PATH * 2], path[MAX_PATH * 2];
  char executableUtf8[MAX_PATH * 6], pathUtf8[MAX_PATH * 6 + 32];
  const DWORD length = ::GetModuleFileNameW(nullptr, executable, MAX_PATH * 2);
  if (length == 0 || length >= MAX_PATH * 2) return;
  if (::WideCharToMultiByte(CP_UTF8, 0, executable, -1, executableUtf8, sizeof executableUtf8,
                            nullptr, nullptr) == 0)
    return;
  SYSTEMTIME now;
  ::GetSystemTime(&now);
  const CivilTime time{now.wYear, now.wMonth, now.wDay, now.wHour, now.wMinute, now.wSecond};
  FormatReportPath(pathUtf8, sizeof pathUtf8, executableUtf8, time, ".dmp");
  if (::MultiByteToWideChar(CP_UTF8, 0, pathUtf8, -1, path, MAX_PATH * 2) == 0) return;
  HANDLE file = ::CreateFileW(path, GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return;
  MINIDUMP_EXCEPTION_INFORMATION exception{::GetCurrentThreadId(), pointers, TRUE};
  help.miniDumpWriteDump(::GetCurrentProcess(), ::GetCurrentProcessId(), file, kDumpType,
                         pointers != nullptr ? &exception : nullptr, nullptr, nullptr);
  ::CloseHandle(file);
}

// Faults only: exceptions that code raises on purpose (C++ throws, debug output, breakpoints)
// pass by, since this handler sees them before any handler of the thread could.
bool IsFault(DWORD code) {
  return code != EXCEPTION_BREAKPOINT &&
         std::strcmp(ExceptionCodeText(code), ExceptionCodeText(0)) != 0;
}

LONG CALLBACK OnException(EXCEPTION_POINTERS* pointers) {
  const DWORD code = pointers->ExceptionRecord->ExceptionCode;
  const DWORD self = ::GetCurrentThreadId();
  if (!IsFault(code) || !BeginCrashHandling(self)) return EXCEPTION_CONTINUE_SEARCH;
  WriteMinidump(pointers);
  ReportCrash(code, reinterpret_cast<uint64_t>(pointers->ExceptionRecord->ExceptionAddress));
  EndCrashHandling(self);
  return EXCEPTION_CONTINUE_SEARCH;
}

// A handler left behind in an unloaded library would be called into freed code.
struct CHandlerRemover {
  ~CHandlerRemover() {
    if (g_vectoredHandler != nullptr) ::RemoveVectoredExceptionHandler(g_vectoredHandler);
  }
} g_handlerRemover;

}  // namespace

void InstallCrashHandler() {
  static const bool installed = [] {
    DebugHelp();
    g_vectoredHandler = ::AddVectoredExceptionHandler(1, &OnException);
    return true;
  }();
  (void)installed;
}

// Room for the handler after the stack ran out.
void* PrepareGuardedThread() {
  ULONG guarantee = kStackGuarantee;
  ::SetThreadStackGuarantee(&guarantee);
  return nullptr;
}

void ReleaseGuardedThread(void*) {}

bool IsAssertionSwitchOn() {
  HKEY key = nullptr;
  if (::RegOpenKeyA(HKEY_CURRENT_USER, "Software\\Bravik", &key) != ERROR_SUCCESS) return false;
  DWORD value = 0, type = 0, size = sizeof value;
  const LONG read = ::RegQueryValueExA(key, "SuppressAssertions", nullptr, &type,
                                       reinterpret_cast<BYTE*>(&value), &size);
  ::RegCloseKey(key);
  return read == ERROR_SUCCESS && type == REG_DWORD && value != 0;
}

// Without a desktop the message box fails at once: the report then goes to standard error.
ReportAnswer ShowPlatformDialog(const char* text, const char* caption) {
  const int answer = ::MessageBoxA(nullptr, text, caption, kDialogStyle);
  const bool control =
      (::GetKeyState(VK_LCONTROL) & 0x8000) != 0 || (::GetKeyState(VK_RCONTROL) & 0x8000) != 0;
  if (answer == IDABORT) return {EReportChoice::kAbort, control};
  if (answer == IDRETRY) return {EReportChoice::kRetry, control};
  if (answer == IDIGNORE) return {EReportChoice::kIgnore, control};
  return ReportToStandardError(text, caption);
}

void EndProcess(uint32_t exitCode) {
  ::TerminateProcess(::GetCurrentProcess(), exitCode);
  ::ExitProcess(exitCode);
}

bool IsDebuggerAttached() { return ::IsDebuggerPresent() != FALSE; }

uint32_t CaptureReturnAddresses(uint64_t* addresses, uint32_t capacity, uint32_t* hash) {
  void* frames[kMaxCallstackFrames];
  DWORD stackHash = 0;
  const USHORT count = ::RtlCaptureStackBackTrace(
      0, capacity < kMaxCallstackFrames ? capacity : kMaxCallstackFrames, frames, &stackHash);
  for (USHORT i = 0; i < count; ++i) addresses[i] = reinterpret_cast<uintptr_t>(frames[i]);
  if (hash != nullptr) *hash = stackHash;
  return count;
}

size_t GetExecutablePath(char* buffer, size_t capacity) {
  if (capacity == 0) return 0;
  DWORD length = ::GetModuleFileNameA(nullptr, buffer, static_cast<DWORD>(capacity));
  if (length >= capacity) length = static_cast<DWORD>(capacity - 1);
  buffer[length] = 0;
  return length;
}

void WriteStandardError(const char* text, size_t length) {
  HANDLE error = ::GetStdHandle(STD_ERROR_HANDLE);
  DWORD written = 0;
  if (error != nullptr && error != INVALID_HANDLE_VALUE)
    ::WriteFile(error, text, static_cast<DWORD>(length), &written, nullptr);
}

}  // namespace Bravik::System

namespace Bravik {

void ResolveFrame(uint64_t address, CallstackFrame& frame) {
  frame.address = address;
  frame.line = 0;
  frame.function[0] = frame.module[0] = 0;
  std::snprintf(frame.file, sizeof frame.file, "%s", "unknown_file");
  const System::CDebugHelp& help = System::DebugHelp();
  ::AcquireSRWLockExclusive(&System::g_symbolLock);
  if (help.library != nullptr && System::PrepareSymbols(help))
    System::ResolveSymbols(help, address, frame);
  ::ReleaseSRWLockExclusive(&System::g_symbolLock);
}

}  // namespace Bravik
