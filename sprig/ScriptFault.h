// What went wrong in a script, as a record that allocates nothing: a code, the character index
// of the token concerned and the message (UTF-8, cut on a character boundary). Each thread keeps
// the record of its last call that ran a script, for hosts that cannot see the exception.
#pragma once

#include <cstdint>

#include "foundation/system/ThreadLocal.h"
#include "sprig/SprigException.h"

namespace Quorin::Sprig {

// Code 0 is "no error"; out of memory that a host asked the library to contain is code 5.
constexpr uint32_t kScriptFaultNone = 0;
constexpr uint32_t kScriptFaultOutOfMemory = 5;

struct SScriptFault {
  static constexpr uint32_t kMessageSize = 256;

  uint32_t code = kScriptFaultNone;
  uint32_t position = 0;
  char message[kMessageSize];

  // Keeps the error unless one is kept already (the first error of a call is the one reported).
  void Capture(const CSprigException& error);
  void CaptureOutOfMemory();
  // Copies the message into a host buffer: cut to size bytes and terminated; nothing for a null
  // buffer or size 0.
  void CopyMessage(char* buffer, uint32_t size) const;
};

// The calling thread's record. The code is read and written on every scripted call, so it lives
// where one instruction reaches it; the rest only when an error happened.
extern constinit BRAVIK_FAST_THREAD_LOCAL uint32_t t_lastFaultCode;

// Keeps the message and position of a fault as the calling thread's.
void PublishFaultDetails(const SScriptFault& fault);

// Makes fault the calling thread's last record; a call without error costs one store.
inline void PublishFault(const SScriptFault& fault) {
  if (fault.code != kScriptFaultNone) [[unlikely]] PublishFaultDetails(fault);
  t_lastFaultCode = fault.code;
}

// The calling thread's last record: its code, with the message copied and the position written
// (each when its pointer is not null).
uint32_t ReadLastFault(char* message, uint32_t messageSize, uint32_t* position);

}  // namespace Quorin::Sprig
