#include "foundation/system/Platform.h"

#include <cerrno>
#include <cstring>
#include <sys/syscall.h>
#include <unistd.h>

namespace Bravik::System {

namespace {
struct ErrorKindEntry {
  int code;
  uint32_t kind;
};
constexpr ErrorKindEntry kErrorKinds[] = {
    {ENOENT, 1},       {EBADMSG, 2},
#ifdef EUCLEAN
    {EUCLEAN, 2},
#endif
    {ENAMETOOLONG, 3}, {EFBIG, 3},  {EOVERFLOW, 3}, {EOPNOTSUPP, 3},
    {EEXIST, 4},       {ENOTEMPTY, 4}, {EBUSY, 4},  {ETXTBSY, 4},     {EROFS, 4},
};
}  // namespace

uint32_t CurrentThreadId() {
  // gettid is a system call and the id never changes for a thread, so ask once; a constant
  // initialiser keeps the thread_local free of a guard check on every call.
  thread_local uint32_t id = 0;
  if (id == 0) id = static_cast<uint32_t>(::syscall(SYS_gettid));
  return id;
}

size_t SystemErrorText(uint32_t code, char* buffer, size_t capacity) {
  if (buffer == nullptr || capacity == 0) return 0;
  char local[256];
  const char* text = local;
  // GNU strerror_r may return a static string instead of filling the buffer.
#if defined(__GLIBC__) && defined(_GNU_SOURCE)
  text = ::strerror_r(static_cast<int>(code), local, sizeof local);
#else
  if (::strerror_r(static_cast<int>(code), local, sizeof local) != 0) local[0] = 0;
#endif
  size_t length = std::strlen(text);
  if (length >= capacity) length = capacity - 1;
  std::memcpy(buffer, text, length);
  buffer[length] = 0;
  return length;
}

uint32_t FileErrorKind(uint32_t code) {
  for (const ErrorKindEntry& entry : kErrorKinds)
    if (static_cast<uint32_t>(entry.code) == code) return entry.kind;
  return 0;
}

}  // namespace Bravik::System
