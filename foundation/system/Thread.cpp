#include "foundation/system/Thread.h"

#include <cstring>
#include <typeinfo>

#include "foundation/system/Crash.h"
#include "foundation/system/Platform.h"

namespace Bravik {

namespace {

// Appends to a zero-terminated buffer, dropping what does not fit.
struct CTextOut {
  char* buffer;
  size_t capacity;
  size_t used = 0;

  void Put(const char* text, size_t length) {
    if (capacity == 0) return;
    const size_t room = capacity - 1 - used;
    if (length > room) length = room;
    std::memcpy(buffer + used, text, length);
    used += length;
    buffer[used] = 0;
  }
  void Put(const char* text) { Put(text, std::strlen(text)); }
};

// Itanium-style "N<len><id>...E" or "<len><id>"; false when the name has another shape.
bool DemangleNested(const char* name, CTextOut& out) {
  const bool nested = *name == 'N';
  const char* at = name + (nested ? 1 : 0);
  const size_t total = std::strlen(at);
  const char* end = at + total;
  bool first = true;
  while (*at >= '0' && *at <= '9') {
    size_t length = 0;
    while (*at >= '0' && *at <= '9') length = length * 10 + static_cast<size_t>(*at++ - '0');
    if (length == 0 || length > static_cast<size_t>(end - at)) return false;
    if (!first) out.Put("::");
    first = false;
    const bool anonymous = length == 12 && std::memcmp(at, "_GLOBAL__N_1", 12) == 0;
    if (anonymous)
      out.Put("(anonymous namespace)");
    else
      out.Put(at, length);
    at += length;
    if (!nested) break;
  }
  return !first && (nested ? at[0] == 'E' && at[1] == 0 : at[0] == 0);
}

}  // namespace

size_t ReadableTypeName(const char* typeName, char* buffer, size_t capacity) {
  CTextOut out{buffer, capacity};
  if (capacity != 0) buffer[0] = 0;
  if (typeName == nullptr || *typeName == 0) return 0;
  if (DemangleNested(typeName, out)) return out.used;
  out.used = 0;
  const char* space = std::strchr(typeName, ' ');
  out.Put(space != nullptr ? space + 1 : typeName);
  return out.used;
}

IThread::~IThread() { StopAndJoin(); }

void IThread::Start() {
  const bool stop = IsStopRequested();
  StopAndJoin();
  SetStopRequested(stop);
  m_running.store(false, std::memory_order_release);
  m_threadId.store(kNoThreadId, std::memory_order_release);
  const uintptr_t handle = System::StartThread(this, m_stackSize);
  if (handle == 0) {
    RunOnCallerThread();
    return;
  }
  m_handle.store(handle, std::memory_order_release);
}

void IThread::StopAndJoin() {
  const uintptr_t handle = m_handle.exchange(0, std::memory_order_acq_rel);
  if (handle == 0) {
    while (IsRunning()) System::YieldThread();
    return;
  }
  SetStopRequested(true);
  System::JoinThread(handle);
  m_threadId.store(kNoThreadId, std::memory_order_release);
  m_running.store(false, std::memory_order_release);
}

size_t IThread::GetDisplayName(char* buffer, size_t capacity) const {
  CTextOut out{buffer, capacity};
  if (capacity != 0) buffer[0] = 0;
  uint8_t encoded[4];
  for (CStringIterator it(m_name); !it.AtEnd(); it.Next()) {
    const auto length = static_cast<size_t>(EncodeUtf8(it.Current(), encoded) - encoded);
    if (out.used + length >= capacity) break;
    out.Put(reinterpret_cast<const char*>(encoded), length);
  }
  if (out.used != 0) return out.used;
  if (const size_t length = ReadableTypeName(typeid(*this).name(), buffer, capacity); length != 0)
    return length;
  out.Put("NON_RTTI_TYPE");
  return out.used;
}

void IThread::RunOnOwnThread() {
  char name[kNameCapacity];
  GetDisplayName(name, sizeof name);
  System::SetCurrentThreadName(name);
  if (m_priority != kDefaultPriority) System::SetCurrentThreadPriority(m_priority);
  m_running.store(true, std::memory_order_release);
  m_threadId.store(System::CurrentThreadId(), std::memory_order_release);
  Loop();
}

// The caller's thread keeps its own name, priority and crash handling.
void IThread::RunOnCallerThread() {
  m_running.store(true, std::memory_order_release);
  m_threadId.store(System::CurrentThreadId(), std::memory_order_release);
  Loop();
  m_threadId.store(kNoThreadId, std::memory_order_release);
  m_running.store(false, std::memory_order_release);
}

// A paused thread still sees a stop, so that a join never waits on it forever.
void IThread::Loop() {
  try {
    for (;;) {
      if (IsPaused()) {
        if (IsStopRequested()) return;
        System::SleepMilliseconds(1);
        continue;
      }
      Step();
      if (IsStopRequested()) return;
    }
  } catch (...) {
    // A failing step ends its thread; the host never sees it.
  }
}

namespace System {

void RunThreadBody(void* thread) {
  CCrashGuardScope guard;
  static_cast<IThread*>(thread)->RunOnOwnThread();
}

}  // namespace System

}  // namespace Bravik
