#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "foundation/system/Exception.h"
#include "foundation/system/File.h"

namespace Bravik {

namespace {

constexpr size_t kPathCapacity = PATH_MAX;
// One read or write call moves at most this much (Linux caps a call just below 2 GiB).
constexpr uint64_t kTransferChunk = 1u << 30;

[[noreturn]] void ThrowErrno(int code) {
  ThrowFileError(static_cast<uint32_t>(code != 0 ? code : EIO));
  __builtin_unreachable();
}

// Appends `text` (length bytes) at out[used]; ENAMETOOLONG when it does not fit with a terminator.
size_t Append(char* out, size_t used, const char* text, size_t length) {
  if (used + length >= kPathCapacity) ThrowErrno(ENAMETOOLONG);
  std::memcpy(out + used, text, length);
  out[used + length] = 0;
  return used + length;
}

// The documents folder, read from the environment at each call.
size_t AppendDocumentsFolder(char* out, size_t used) {
  if (const char* documents = std::getenv("XDG_DOCUMENTS_DIR"); documents && *documents)
    return Append(out, used, documents, std::strlen(documents));
  const char* home = std::getenv("HOME");
  if (home == nullptr || *home == 0) ThrowErrno(ENOENT);
  used = Append(out, used, home, std::strlen(home));
  return Append(out, used, "/Documents", 10);
}

// The UTF-8 path with "~" expanded and the current folder in front of a relative path.
void AbsolutePath(const IString& path, char* out) {
  if (path.GetSizeIn(kUtf8) > kPathCapacity) ThrowErrno(ENAMETOOLONG);
  char expanded[kPathCapacity];
  expanded[0] = 0;
  Convert(path, kUtf8, expanded);
  if (expanded[0] == '~') {
    char rest[kPathCapacity];
    std::memcpy(rest, expanded + 1, std::strlen(expanded));
    Append(expanded, AppendDocumentsFolder(expanded, 0), rest, std::strlen(rest));
  }
  size_t used = 0;
  out[0] = 0;
  if (expanded[0] != '/') {
    if (::getcwd(out, kPathCapacity) == nullptr) ThrowErrno(errno == ERANGE ? ENAMETOOLONG : errno);
    used = Append(out, std::strlen(out), "/", 1);
  }
  Append(out, used, expanded, std::strlen(expanded));
}

// Drops empty and "." segments and resolves ".." lexically (never above the root), in place.
void NormalizeSegments(char* path) {
  size_t write = 0;
  const char* read = path;
  while (*read != 0) {
    while (*read == '/') ++read;
    const char* end = read;
    while (*end != 0 && *end != '/') ++end;
    const size_t length = static_cast<size_t>(end - read);
    if (length == 2 && read[0] == '.' && read[1] == '.') {
      while (write > 0 && path[--write] != '/') {
      }
    } else if (length != 0 && !(length == 1 && read[0] == '.')) {
      path[write++] = '/';
      std::memmove(path + write, read, length);
      write += length;
    }
    read = end;
  }
  if (write == 0) path[write++] = '/';
  path[write] = 0;
}

void ToNativePath(const IString& canonicalPath, char* out) {
  if (canonicalPath.GetSizeIn(kUtf8) > kPathCapacity) ThrowErrno(ENAMETOOLONG);
  Convert(canonicalPath, kUtf8, out);
}

int OpenFlags(uint32_t mode) {
  int flags = O_CLOEXEC;
  const uint32_t access = mode & (kFileRead | kFileWrite);
  flags |= access == kFileRead ? O_RDONLY : access == kFileWrite ? O_WRONLY : O_RDWR;
  if ((mode & kFileTruncate) != 0) return flags | O_CREAT | O_TRUNC;
  if ((mode & kFileCreate) != 0) return flags | O_CREAT;
  return flags;
}

}  // namespace

CMutableString CanonicalizePath(const IString& path) {
  char absolute[kPathCapacity];
  AbsolutePath(path, absolute);
  NormalizeSegments(absolute);
  CMutableString canonical;
  canonical.Assign(absolute, kUtf8, kUtf16);
  return canonical;
}

namespace System {

FileHandle OpenNative(const IString& canonicalPath, uint32_t mode) {
  char native[kPathCapacity];
  ToNativePath(canonicalPath, native);
  int descriptor;
  do {
    descriptor = ::open(native, OpenFlags(mode), 0666);
  } while (descriptor < 0 && errno == EINTR);
  if (descriptor < 0) ThrowErrno(errno);
  // A folder opens for reading here; as a file it is in the way.
  struct stat status;
  if (::fstat(descriptor, &status) == 0 && S_ISDIR(status.st_mode)) {
    ::close(descriptor);
    ThrowErrno(EISDIR);
  }
  return descriptor;
}

void CloseNative(FileHandle handle) { ::close(static_cast<int>(handle)); }

uint64_t ReadNative(FileHandle handle, void* buffer, uint64_t size) {
  uint64_t done = 0;
  while (done < size) {
    const uint64_t wanted = size - done < kTransferChunk ? size - done : kTransferChunk;
    const ssize_t got = ::read(static_cast<int>(handle), static_cast<char*>(buffer) + done, wanted);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) ThrowErrno(errno);
    done += static_cast<uint64_t>(got);
    if (static_cast<uint64_t>(got) < wanted) break;  // end of file
  }
  return done;
}

uint64_t WriteNative(FileHandle handle, const void* buffer, uint64_t size) {
  uint64_t done = 0;
  while (done < size) {
    const uint64_t wanted = size - done < kTransferChunk ? size - done : kTransferChunk;
    const ssize_t put =
        ::write(static_cast<int>(handle), static_cast<const char*>(buffer) + done, wanted);
    if (put < 0 && errno == EINTR) continue;
    if (put < 0) ThrowErrno(errno);
    if (put == 0) break;
    done += static_cast<uint64_t>(put);
  }
  return done;
}

int64_t SeekNative(FileHandle handle, uint32_t origin, int64_t offset) {
  constexpr int kWhence[] = {SEEK_SET, SEEK_END, SEEK_CUR};  // ORDER SEEK_ORIGIN
  static_assert(sizeof kWhence / sizeof kWhence[0] == kSeekCurrent + 1);
  if (origin > kSeekCurrent) ThrowErrno(EINVAL);
  const off_t position = ::lseek(static_cast<int>(handle), offset, kWhence[origin]);
  if (position < 0) ThrowErrno(errno);
  return position;
}

int64_t TryGetNativeSize(FileHandle handle) {
  struct stat status;
  if (::fstat(static_cast<int>(handle), &status) != 0) return -1;
  return status.st_size;
}

int64_t TryTellNative(FileHandle handle) { return ::lseek(static_cast<int>(handle), 0, SEEK_CUR); }

}  // namespace System

}  // namespace Bravik
