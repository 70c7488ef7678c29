#include "foundation/system/File.h"

#include <cstring>
#include <utility>

#include "foundation/memory/Memory.h"

namespace Bravik {

void CResource::ReleaseReference() {
  if (m_references.fetch_sub(1, std::memory_order_acq_rel) == 1) Memory::Delete(this);
}

CNativeFile::CNativeFile(const IString& path, uint32_t mode) : m_mode(mode) { Open(path); }

CNativeFile::CNativeFile(const IString& base, const IString& relative, uint32_t mode)
    : m_mode(mode) {
  Open(JoinPath(base, relative));
}

CNativeFile::~CNativeFile() {
  if (m_handle != kInvalidFileHandle) System::CloseNative(m_handle);
}

void CNativeFile::Open(const IString& path) {
  CMutableString canonical = CanonicalizePath(path);
  SplitPath(canonical, m_directory, m_name, m_extension);
  m_handle = System::OpenNative(canonical, m_mode);
}

// Neither bit asks for both, as the handle was opened.
bool CNativeFile::CanWrite() const { return (m_mode & kFileWrite) != 0 || (m_mode & 3) == 0; }
bool CNativeFile::CanRead() const { return (m_mode & kFileRead) != 0 || (m_mode & 3) == 0; }

uint64_t CNativeFile::Read(void* buffer, uint64_t size) {
  return System::ReadNative(m_handle, buffer, size);
}

uint64_t CNativeFile::Write(const void* buffer, uint64_t size) {
  return System::WriteNative(m_handle, buffer, size);
}

int64_t CNativeFile::Seek(uint32_t origin, int64_t offset) {
  return System::SeekNative(m_handle, origin, offset);
}

int64_t CNativeFile::Tell() { return System::SeekNative(m_handle, kSeekCurrent, 0); }

bool CNativeFile::IsEndOfFile() {
  const int64_t position = System::TryTellNative(m_handle);
  const int64_t size = System::TryGetNativeSize(m_handle);
  return position < 0 || size < 0 || position == size;
}

uint64_t CNativeFile::GetSize() {
  const int64_t size = System::TryGetNativeSize(m_handle);
  return size < 0 ? 0 : static_cast<uint64_t>(size);
}

void SplitPath(const IString& path, CMutableString& directory, CMutableString& name,
               CMutableString& extension) {
  const char16_t separatorText[] = {kPathSeparator, 0};
  const uint64_t length = path.GetLength();
  const uint64_t separator = FindLast(path, CString(separatorText));
  const uint64_t dot = FindLast(path, CString(u"."));
  const bool hasSeparator = separator != kNotFound;
  const uint64_t nameStart = hasSeparator ? separator + 1 : 0;
  const bool hasExtension = dot != kNotFound && (!hasSeparator || dot > separator);
  const uint64_t nameEnd = hasExtension ? dot : length;
  // Build all three first so that a failure leaves the outputs as they were.
  CMutableString newDirectory = Substring(path, 0, hasSeparator ? separator : 0);
  CMutableString newName = Substring(path, nameStart, nameEnd);
  CMutableString newExtension = Substring(path, hasExtension ? dot + 1 : length, length);
  directory = std::move(newDirectory);
  name = std::move(newName);
  extension = std::move(newExtension);
}

CMutableString JoinPath(const IString& base, const IString& relative) {
  const uint64_t baseBytes = base.GetSizeIn(kUtf16);
  const uint64_t baseUnits = baseBytes == 0 ? 0 : baseBytes / 2 - 1;
  const uint64_t relativeBytes = relative.GetSizeIn(kUtf16);
  const uint64_t total = (baseUnits + 1) * 2 + (relativeBytes == 0 ? 2 : relativeBytes);
  auto* buffer = static_cast<char16_t*>(Memory::Allocate(total, Memory::kObjectPool));
  if (baseUnits != 0) Convert(base, kUtf16, buffer);
  buffer[baseUnits] = kPathSeparator;
  buffer[baseUnits + 1] = 0;
  if (relativeBytes != 0) Convert(relative, kUtf16, buffer + baseUnits + 1);
  CMutableString joined;
  joined.Adopt(buffer, kUtf16);
  return joined;
}

}  // namespace Bravik
