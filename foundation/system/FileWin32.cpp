#include "foundation/system/Exception.h"
#include "foundation/system/File.h"

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
#include <shlobj.h>
#include <shlwapi.h>

namespace Bravik {

namespace {

static_assert(sizeof(wchar_t) == sizeof(char16_t));
// One ReadFile or WriteFile call moves at most this much (its count is 32-bit).
constexpr uint64_t kTransferChunk = 1u << 30;

[[noreturn]] void ThrowCode(DWORD code) {
  ThrowFileError(code != 0 ? code : ERROR_GEN_FAILURE);
  __builtin_unreachable();
}

[[noreturn]] void ThrowLastError() { ThrowCode(::GetLastError()); }

HANDLE AsHandle(FileHandle handle) { return reinterpret_cast<HANDLE>(handle); }

// The UTF-16 path in `out` (MAX_PATH units) with a leading "~" replaced by the documents folder.
void ExpandPath(const IString& path, wchar_t* out) {
  wchar_t source[MAX_PATH];
  if (path.GetSizeIn(kUtf16) > sizeof source) ThrowCode(ERROR_FILENAME_EXCED_RANGE);
  source[0] = 0;
  Convert(path, kUtf16, source);
  if (source[0] != L'~') {
    ::lstrcpyW(out, source);
    return;
  }
  const HRESULT result = ::SHGetFolderPathW(nullptr, CSIDL_PERSONAL, nullptr, 0, out);
  if (FAILED(result)) ThrowCode(HRESULT_CODE(result));
  if (::lstrlenW(out) + ::lstrlenW(source + 1) >= MAX_PATH) ThrowCode(ERROR_FILENAME_EXCED_RANGE);
  ::lstrcatW(out, source + 1);
}

DWORD Access(uint32_t mode) {
  const uint32_t access = mode & (kFileRead | kFileWrite);
  if (access == kFileRead) return GENERIC_READ;
  if (access == kFileWrite) return GENERIC_WRITE;
  return GENERIC_READ | GENERIC_WRITE;
}

DWORD Creation(uint32_t mode) {
  if ((mode & kFileTruncate) != 0) return CREATE_ALWAYS;
  if ((mode & kFileCreate) != 0) return OPEN_ALWAYS;
  return OPEN_EXISTING;
}

}  // namespace

// The absolute path comes first: canonicalising a relative path would drop its leading "..".
CMutableString CanonicalizePath(const IString& path) {
  wchar_t expanded[MAX_PATH];
  wchar_t absolute[MAX_PATH];
  wchar_t canonical[MAX_PATH];
  ExpandPath(path, expanded);
  const DWORD length = ::GetFullPathNameW(expanded, MAX_PATH, absolute, nullptr);
  if (length == 0) ThrowLastError();
  if (length >= MAX_PATH) ThrowCode(ERROR_FILENAME_EXCED_RANGE);
  if (!::PathCanonicalizeW(canonical, absolute)) ThrowLastError();
  CMutableString result;
  result.Set(canonical, kUtf16);
  return result;
}

namespace System {

FileHandle OpenNative(const IString& canonicalPath, uint32_t mode) {
  const auto* path = static_cast<const wchar_t*>(canonicalPath.GetData());
  HANDLE handle = ::CreateFileW(path, Access(mode), FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                Creation(mode), FILE_ATTRIBUTE_NORMAL, nullptr);
  if (handle == INVALID_HANDLE_VALUE) ThrowLastError();
  return reinterpret_cast<FileHandle>(handle);
}

void CloseNative(FileHandle handle) { ::CloseHandle(AsHandle(handle)); }

uint64_t ReadNative(FileHandle handle, void* buffer, uint64_t size) {
  uint64_t done = 0;
  while (done < size) {
    const DWORD wanted =
        static_cast<DWORD>(size - done < kTransferChunk ? size - done : kTransferChunk);
    DWORD got = 0;
    if (!::ReadFile(AsHandle(handle), static_cast<char*>(buffer) + done, wanted, &got, nullptr))
      ThrowLastError();
    done += got;
    if (got < wanted) break;  // end of file
  }
  return done;
}

uint64_t WriteNative(FileHandle handle, const void* buffer, uint64_t size) {
  uint64_t done = 0;
  while (done < size) {
    const DWORD wanted =
        static_cast<DWORD>(size - done < kTransferChunk ? size - done : kTransferChunk);
    DWORD put = 0;
    if (!::WriteFile(AsHandle(handle), static_cast<const char*>(buffer) + done, wanted, &put,
                     nullptr))
      ThrowLastError();
    if (put == 0) break;
    done += put;
  }
  return done;
}

int64_t SeekNative(FileHandle handle, uint32_t origin, int64_t offset) {
  constexpr DWORD kMethod[] = {FILE_BEGIN, FILE_END, FILE_CURRENT};  // ORDER SEEK_ORIGIN
  static_assert(sizeof kMethod / sizeof kMethod[0] == kSeekCurrent + 1);
  if (origin > kSeekCurrent) ThrowCode(ERROR_INVALID_PARAMETER);
  LARGE_INTEGER distance, position;
  distance.QuadPart = offset;
  if (!::SetFilePointerEx(AsHandle(handle), distance, &position, kMethod[origin])) ThrowLastError();
  return position.QuadPart;
}

int64_t TryGetNativeSize(FileHandle handle) {
  LARGE_INTEGER size;
  return ::GetFileSizeEx(AsHandle(handle), &size) ? size.QuadPart : -1;
}

int64_t TryTellNative(FileHandle handle) {
  LARGE_INTEGER distance, position;
  distance.QuadPart = 0;
  return ::SetFilePointerEx(AsHandle(handle), distance, &position, FILE_CURRENT) ? position.QuadPart
                                                                                 : -1;
}

}  // namespace System

}  // namespace Bravik
