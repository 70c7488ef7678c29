#include <atomic>

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include "foundation/system/ThreadLocal.h"

namespace Bravik::System {

namespace {
// Two slots of the thread block, which the loader keeps until the thread is gone.
struct CSlotIndexes {
  DWORD pointer;
  DWORD tag;
  bool valid;
};

const CSlotIndexes& SlotIndexes() {
  static const CSlotIndexes indexes = [] {
    const DWORD pointer = ::TlsAlloc(), tag = ::TlsAlloc();
    return CSlotIndexes{pointer, tag, pointer != TLS_OUT_OF_INDEXES && tag != TLS_OUT_OF_INDEXES};
  }();
  return indexes;
}

std::atomic<ThreadEndFunction> g_threadEnd{nullptr};

// The loader calls this at every thread's start and end, for the module it is linked into, after
// the fiber-local callbacks and before the executable's own thread_local destructors.
void NTAPI OnThreadEvent(PVOID, DWORD reason, PVOID) {
  if (reason != DLL_THREAD_DETACH) return;
  if (ThreadEndFunction function = g_threadEnd.load(std::memory_order_acquire)) function();
}
}  // namespace

// Pointers in the .CRT$XL* sections form the module's table of thread callbacks.
extern "C" __attribute__((section(".CRT$XLY"), used)) const PIMAGE_TLS_CALLBACK g_bravikThreadCallback = &OnThreadEvent;

CThreadSlot ThreadSlot() {
  const CSlotIndexes& indexes = SlotIndexes();
  if (!indexes.valid) return {nullptr, 0};
  // TlsGetValue clears the thread's last error, which belongs to the host.
  const DWORD error = ::GetLastError();
  const CThreadSlot slot{::TlsGetValue(indexes.pointer), reinterpret_cast<uintptr_t>(::TlsGetValue(indexes.tag))};
  ::SetLastError(error);
  return slot;
}

bool SetThreadSlot(CThreadSlot slot) {
  const CSlotIndexes& indexes = SlotIndexes();
  return indexes.valid && ::TlsSetValue(indexes.pointer, slot.pointer) &&
         ::TlsSetValue(indexes.tag, reinterpret_cast<void*>(static_cast<uintptr_t>(slot.tag)));
}

bool WatchThreadEnd(ThreadEndFunction function) {
  ThreadEndFunction expected = nullptr;
  g_threadEnd.compare_exchange_strong(expected, function, std::memory_order_acq_rel);
  return true;
}

}  // namespace Bravik::System
