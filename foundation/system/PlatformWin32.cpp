#include "foundation/system/Platform.h"

#include <cstring>

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

namespace Bravik::System {

namespace {
struct ErrorKindEntry {
  uint32_t code;
  uint32_t kind;
};
constexpr ErrorKindEntry kErrorKinds[] = {
    {2, 1},   {1921, 1}, {4350, 1},                                     // not found
    {276, 2}, {1392, 2}, {1393, 2},                                     // corrupt
    {206, 3}, {222, 3},  {223, 3},  {665, 3}, {1006, 3},                // unsupported
    {32, 4},  {80, 4},   {145, 4},  {183, 4}, {1920, 4}, {6002, 4}, {6009, 4},  // in the way
};
}  // namespace

uint32_t CurrentThreadId() { return static_cast<uint32_t>(::GetCurrentThreadId()); }

size_t SystemErrorText(uint32_t code, char* buffer, size_t capacity) {
  if (buffer == nullptr || capacity == 0) return 0;
  DWORD length = ::FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                                   nullptr, code, 0, buffer, static_cast<DWORD>(capacity), nullptr);
  if (length >= capacity) length = static_cast<DWORD>(capacity - 1);
  buffer[length] = 0;
  return length;
}

uint32_t FileErrorKind(uint32_t code) {
  for (const ErrorKindEntry& entry : kErrorKinds)
    if (entry.code == code) return entry.kind;
  return 0;
}

}  // namespace Bravik::System
