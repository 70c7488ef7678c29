// A named thread whose work is one overridable step, called over and over on its own thread
// until a stop is requested. Thread bodies run under the crash guard (Crash.h).
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>

#include "foundation/string/String.h"

namespace Bravik {

namespace System {
void RunThreadBody(void* thread);
}

class IThread {
 public:
  static constexpr uint32_t kNoThreadId = 0xFFFFFFFFu;
  // Leaves the platform's priority in place.
  static constexpr int32_t kDefaultPriority = -256;
  // Longest name handed to the platform, terminator included.
  static constexpr size_t kNameCapacity = 64;

  IThread() = default;
  // `name` is a view: its text must live as long as the object.
  explicit IThread(const IString& name) : m_name(name) {}
  IThread(const IThread&) = delete;
  IThread& operator=(const IThread&) = delete;
  // Joins a thread still running. A derived class whose Step() uses its own members must call
  // StopAndJoin() in its own destructor, before those members go.
  virtual ~IThread();

  // One round of the thread's work.
  virtual void Step() = 0;

  // Joins any earlier run, then starts a thread that steps until the stop flag is found set
  // after a step. The stop flag is kept as the caller left it (set, as for a new object: one
  // step). When no thread can be created, the loop runs here, on the caller's thread.
  void Start();
  // Sets the stop flag and waits for the thread without time limit; returns at once when none
  // was started. Any number of threads may call it at once.
  void StopAndJoin();

  void SetName(const IString& name) { m_name = CString(name); }
  const CString& GetName() const { return m_name; }
  void SetPriority(int32_t priority) { m_priority = priority; }
  int32_t GetPriority() const { return m_priority; }
  // 0: the platform's default.
  void SetStackSize(uint64_t bytes) { m_stackSize = bytes; }
  uint64_t GetStackSize() const { return m_stackSize; }
  // While paused the thread sleeps instead of stepping (a stop still ends it).
  void SetPaused(bool paused) { m_paused.store(paused, std::memory_order_release); }
  bool IsPaused() const { return m_paused.load(std::memory_order_acquire); }
  void SetStopRequested(bool stop) { m_stopRequested.store(stop, std::memory_order_release); }
  bool IsStopRequested() const { return m_stopRequested.load(std::memory_order_acquire); }
  // From the start of the thread until it is joined.
  bool IsRunning() const { return m_running.load(std::memory_order_acquire); }
  uint32_t GetThreadId() const { return m_threadId.load(std::memory_order_acquire); }

  // The name the thread is given: its own, else its class name ("NON_RTTI_TYPE" when unknown),
  // UTF-8, cut to fit `capacity` with the terminator. Gives the length.
  size_t GetDisplayName(char* buffer, size_t capacity) const;

 private:
  friend void System::RunThreadBody(void* thread);
  void RunOnOwnThread();
  void RunOnCallerThread();
  void Loop();

  std::atomic<uint32_t> m_threadId{kNoThreadId};
  std::atomic<uintptr_t> m_handle{0};
  CString m_name;
  std::atomic<bool> m_paused{false};
  std::atomic<bool> m_stopRequested{true};
  std::atomic<bool> m_running{false};
  int32_t m_priority = kDefaultPriority;
  uint64_t m_stackSize = 0;
};

// Writes the readable form of a compiler type name ("N6Quorin13CExportThreadE" or
// "class Quorin::CExportThread" become "Quorin::CExportThread"), cut to `capacity`; gives the
// length. Names it cannot read are copied as they are.
size_t ReadableTypeName(const char* typeName, char* buffer, size_t capacity);

namespace System {
// Starts a platform thread that calls RunThreadBody(thread); 0 when none can be created.
uintptr_t StartThread(void* thread, uint64_t stackSize);
// Waits for the thread and releases its handle.
void JoinThread(uintptr_t handle);
void SleepMilliseconds(uint32_t milliseconds);
void YieldThread();
// Names the calling thread for debuggers and tools (the platform may keep only the tail).
void SetCurrentThreadName(const char* utf8);
// The calling thread's name as the platform keeps it (UTF-8); gives the length, 0 when unknown.
size_t GetCurrentThreadName(char* buffer, size_t capacity);
// Priorities as on Windows (-2 lowest ... 2 highest, 15 time-critical); failures are ignored.
void SetCurrentThreadPriority(int32_t priority);
}  // namespace System

}  // namespace Bravik
