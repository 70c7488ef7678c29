#include <pthread.h>

#include <atomic>

#include "foundation/system/ThreadLocal.h"

namespace Bravik::System {

constinit BRAVIK_FAST_THREAD_LOCAL CThreadSlot t_threadSlot = {nullptr, 0};

namespace {
std::atomic<ThreadEndFunction> g_threadEnd{nullptr};

// A key destructor: the C library runs these after the thread's thread_local destructors.
void RunThreadEnd(void*) {
  if (ThreadEndFunction function = g_threadEnd.load(std::memory_order_acquire)) function();
}
}  // namespace

bool WatchThreadEnd(ThreadEndFunction function) {
  static pthread_key_t key;
  static const bool created = [function] {
    g_threadEnd.store(function, std::memory_order_release);
    return pthread_key_create(&key, &RunThreadEnd) == 0;
  }();
  // Any value but null makes the destructor run.
  return created && pthread_setspecific(key, &key) == 0;
}

}  // namespace Bravik::System
