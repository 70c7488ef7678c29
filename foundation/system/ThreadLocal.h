// Per-thread state of the allocator's hot path, and the notice that a thread ends. One
// implementation per platform (ThreadLocalPosix.cpp, ThreadLocalWin32.cpp).
#pragma once

#include <cstdint>

#if defined(_WIN32)
#define BRAVIK_FAST_THREAD_LOCAL thread_local
#else
// On ELF targets the initial-exec model turns each access into one segment-relative load
// instead of a call into the loader.
#define BRAVIK_FAST_THREAD_LOCAL thread_local __attribute__((tls_model("initial-exec")))
#endif

namespace Bravik::System {

// Two words of the calling thread, zero until set. They stay readable and writable through the
// whole end of the thread, also after its thread_local objects are gone: this toolchain emulates
// those on Windows and frees them before the host's own thread-end code runs.
struct CThreadSlot {
  void* pointer;
  uint64_t tag;
};

#if defined(_WIN32)
CThreadSlot ThreadSlot();
// False when the platform has no slot to give; the value is then not kept.
bool SetThreadSlot(CThreadSlot slot);
#else
extern constinit BRAVIK_FAST_THREAD_LOCAL CThreadSlot t_threadSlot;
inline CThreadSlot ThreadSlot() { return t_threadSlot; }
inline bool SetThreadSlot(CThreadSlot slot) {
  t_threadSlot = slot;
  return true;
}
#endif

// Makes the thread-end function run on the calling thread when it ends: on POSIX after the
// thread's C++ thread_local destructors, on Windows at the module's thread detach (there for every
// thread, asked or not). The first function given is the process's; later calls only arm the
// calling thread. False when the platform cannot promise the call.
using ThreadEndFunction = void (*)();
bool WatchThreadEnd(ThreadEndFunction function);

}  // namespace Bravik::System
