#include <climits>
#include <cstring>
#include <pthread.h>
#include <sched.h>
#include <sys/resource.h>
#include <time.h>

#include "foundation/system/Platform.h"
#include "foundation/system/Thread.h"

namespace Bravik::System {

namespace {

static_assert(sizeof(pthread_t) <= sizeof(uintptr_t));

// Linux keeps 15 bytes of a thread name.
constexpr size_t kPlatformNameLength = 15;

void* Trampoline(void* thread) {
  RunThreadBody(thread);
  return nullptr;
}

}  // namespace

uintptr_t StartThread(void* thread, uint64_t stackSize) {
  pthread_attr_t attributes;
  if (::pthread_attr_init(&attributes) != 0) return 0;
  bool usable = true;
  if (stackSize != 0) {
    const auto minimum = static_cast<uint64_t>(PTHREAD_STACK_MIN);
    const uint64_t size = stackSize < minimum ? minimum : stackSize;
    usable = size <= SIZE_MAX && ::pthread_attr_setstacksize(&attributes, size) == 0;
  }
  pthread_t handle{};
  const bool started = usable && ::pthread_create(&handle, &attributes, &Trampoline, thread) == 0;
  ::pthread_attr_destroy(&attributes);
  return started ? static_cast<uintptr_t>(handle) : 0;
}

void JoinThread(uintptr_t handle) { ::pthread_join(static_cast<pthread_t>(handle), nullptr); }

void SleepMilliseconds(uint32_t milliseconds) {
  timespec wait{static_cast<time_t>(milliseconds / 1000),
                static_cast<long>(milliseconds % 1000) * 1000000L};
  while (::nanosleep(&wait, &wait) != 0) {
  }
}

void YieldThread() { ::sched_yield(); }

// The tail names the class when a qualified name is too long.
void SetCurrentThreadName(const char* utf8) {
  size_t length = std::strlen(utf8);
  const char* start = utf8;
  if (length > kPlatformNameLength) {
    start += length - kPlatformNameLength;
    while (*start == ':' || (static_cast<unsigned char>(*start) & 0xC0) == 0x80) ++start;
  }
  ::pthread_setname_np(::pthread_self(), start);
}

size_t GetCurrentThreadName(char* buffer, size_t capacity) {
  if (capacity == 0) return 0;
  char name[kPlatformNameLength + 1] = {};
  if (::pthread_getname_np(::pthread_self(), name, sizeof name) != 0) name[0] = 0;
  size_t length = std::strlen(name);
  if (length >= capacity) length = capacity - 1;
  std::memcpy(buffer, name, length);
  buffer[length] = 0;
  return length;
}

// Each Windows step is five nice levels; only lowering is allowed without privileges.
void SetCurrentThreadPriority(int32_t priority) {
  int nice = -5 * priority;
  nice = nice < -20 ? -20 : nice > 19 ? 19 : nice;
  ::setpriority(PRIO_PROCESS, static_cast<id_t>(CurrentThreadId()), nice);
}

}  // namespace Bravik::System
