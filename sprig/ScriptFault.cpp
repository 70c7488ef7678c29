#include "sprig/ScriptFault.h"

#include <algorithm>
#include <cstring>

namespace Quorin::Sprig {

constinit BRAVIK_FAST_THREAD_LOCAL uint32_t t_lastFaultCode = kScriptFaultNone;

namespace {

// Message and position of the last fault; only touched when there was one.
thread_local SScriptFault t_lastFault;

// How many bytes of text fit into size - 1 bytes without splitting a UTF-8 sequence.
uint64_t FittingLength(const char* text, uint64_t length, uint64_t size) {
  if (length < size) return length;
  uint64_t cut = size - 1;
  while (cut > 0 && (static_cast<uint8_t>(text[cut]) & 0xC0) == 0x80) --cut;
  return cut;
}

void CopyText(const char* text, char* buffer, uint64_t size) {
  const uint64_t length = FittingLength(text, std::strlen(text), size);
  std::memcpy(buffer, text, length);
  buffer[length] = '\0';
}

}  // namespace

void SScriptFault::Capture(const CSprigException& error) {
  if (code != kScriptFaultNone) return;
  code = error.GetCode();
  position = error.GetPosition();
  const char* text = static_cast<const char*>(error.GetMessage().GetData());
  CopyText(text != nullptr ? text : "", message, kMessageSize);
}

void SScriptFault::CaptureOutOfMemory() {
  if (code != kScriptFaultNone) return;
  code = kScriptFaultOutOfMemory;
  position = 0;
  CopyText("Out of memory.", message, kMessageSize);
}

void SScriptFault::CopyMessage(char* buffer, uint32_t size) const {
  if (buffer == nullptr || size == 0) return;
  CopyText(code != kScriptFaultNone ? message : "", buffer, size);
}

void PublishFaultDetails(const SScriptFault& fault) {
  t_lastFault.code = fault.code;
  t_lastFault.position = fault.position;
  CopyText(fault.message, t_lastFault.message, SScriptFault::kMessageSize);
}

uint32_t ReadLastFault(char* message, uint32_t messageSize, uint32_t* position) {
  const uint32_t code = t_lastFaultCode;
  const bool raised = code != kScriptFaultNone;
  if (message != nullptr && messageSize != 0) CopyText(raised ? t_lastFault.message : "", message, messageSize);
  if (position != nullptr) *position = raised ? t_lastFault.position : 0;
  return code;
}

}  // namespace Quorin::Sprig
