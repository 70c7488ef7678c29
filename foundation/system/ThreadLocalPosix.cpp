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

// The key goes with the library (process exit or unloading), so that no thread ending later calls
// code that is gone; the memory system gives every cache back at that point anyway.
class CThreadEndKey {
 public:
  explicit CThreadEndKey(ThreadEndFunction function) {
    g_threadEnd.store(function, std::memory_order_release);
    m_created = pthread_key_create(&m_key, &RunThreadEnd) == 0;
  }
  ~CThreadEndKey() {
    if (m_created) pthread_key_delete(m_key);
  }
  CThreadEndKey(const CThreadEndKey&) = delete;
  CThreadEndKey& operator=(const CThreadEndKey&) = delete;
  // Any value but null makes the destructor run.
  bool Arm() { return m_created && pthread_setspecific(m_key, this) == 0; }

 private:
  pthread_key_t m_key{};
  bool m_created = false;
};
}  // namespace

bool WatchThreadEnd(ThreadEndFunction function) {
  static CThreadEndKey key(function);
  return key.Arm();
}

}  // namespace Bravik::System
