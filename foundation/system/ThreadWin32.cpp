#include <cstring>
#include <process.h>

#include "foundation/system/Thread.h"

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

namespace Bravik::System {

namespace {

using SetDescriptionFunction = HRESULT(WINAPI*)(HANDLE, PCWSTR);
using GetDescriptionFunction = HRESULT(WINAPI*)(HANDLE, PWSTR*);

unsigned __stdcall Trampoline(void* thread) {
  RunThreadBody(thread);
  return 0;
}

// Thread descriptions exist from Windows 10 1607 on: look them up where they are.
template <typename T>
T Kernel32Function(const char* name) {
  HMODULE kernel = ::GetModuleHandleW(L"kernel32.dll");
  if (kernel == nullptr) return nullptr;
  // Through the generic function pointer type, which converts to any other without a warning.
  return reinterpret_cast<T>(reinterpret_cast<void (*)()>(::GetProcAddress(kernel, name)));
}

}  // namespace

// The runtime takes a 32-bit stack size: a larger one cannot be honoured.
uintptr_t StartThread(void* thread, uint64_t stackSize) {
  if (stackSize > 0xFFFFFFFFu) return 0;
  return ::_beginthreadex(nullptr, static_cast<unsigned>(stackSize), &Trampoline, thread, 0,
                          nullptr);
}

void JoinThread(uintptr_t handle) {
  ::WaitForSingleObject(reinterpret_cast<HANDLE>(handle), INFINITE);
  ::CloseHandle(reinterpret_cast<HANDLE>(handle));
}

void SleepMilliseconds(uint32_t milliseconds) { ::Sleep(milliseconds); }

void YieldThread() { ::SwitchToThread(); }

void SetCurrentThreadName(const char* utf8) {
  static const auto setDescription =
      Kernel32Function<SetDescriptionFunction>("SetThreadDescription");
  if (setDescription == nullptr) return;
  wchar_t name[64];
  if (::MultiByteToWideChar(CP_UTF8, 0, utf8, -1, name, 64) == 0) return;
  setDescription(::GetCurrentThread(), name);
}

size_t GetCurrentThreadName(char* buffer, size_t capacity) {
  static const auto getDescription =
      Kernel32Function<GetDescriptionFunction>("GetThreadDescription");
  if (capacity == 0) return 0;
  buffer[0] = 0;
  PWSTR name = nullptr;
  if (getDescription == nullptr || FAILED(getDescription(::GetCurrentThread(), &name))) return 0;
  const int length = ::WideCharToMultiByte(CP_UTF8, 0, name, -1, buffer, static_cast<int>(capacity),
                                           nullptr, nullptr);
  ::LocalFree(name);
  if (length <= 0) buffer[0] = 0;
  return length <= 0 ? 0 : static_cast<size_t>(length - 1);
}

void SetCurrentThreadPriority(int32_t priority) {
  ::SetThreadPriority(::GetCurrentThread(), priority);
}

}  // namespace Bravik::System
