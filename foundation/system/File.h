// Files and paths: a reference-counted resource base, the abstract file and the platform's file.
// Paths are canonicalised before opening (absolute, "." and ".." removed, a leading "~" for the
// user's documents folder) and kept as UTF-16 directory, name and extension. Every platform
// failure raises CFileException with the system's text and the error kind.
#pragma once

#include <atomic>
#include <cstdint>

#include "foundation/string/String.h"

namespace Bravik {

#ifdef _WIN32
constexpr char16_t kPathSeparator = u'\\';
#else
constexpr char16_t kPathSeparator = u'/';
#endif

// The platform's file handle as a word; all ones when not open.
using FileHandle = intptr_t;
constexpr FileHandle kInvalidFileHandle = -1;

// Mode bits of CNativeFile. Read and write both, or neither, open for reading and writing.
constexpr uint32_t kFileRead = 1;
constexpr uint32_t kFileWrite = 2;
constexpr uint32_t kFileCreate = 4;    // create the file when it does not exist
constexpr uint32_t kFileTruncate = 8;  // always a new, empty file (over kFileCreate)

// Seek origins.
constexpr uint32_t kSeekBegin = 0;
constexpr uint32_t kSeekEnd = 1;
constexpr uint32_t kSeekCurrent = 2;

// A shared object whose one word is its reference count, zero at construction. Objects made with
// Memory::New (foundation/memory/Memory.h) are shared through TResourceRef; the last reference
// destroys and frees them.
class CResource {
 public:
  CResource() = default;
  CResource(const CResource&) = delete;
  CResource& operator=(const CResource&) = delete;
  virtual ~CResource() = default;

  void AddReference() { m_references.fetch_add(1, std::memory_order_relaxed); }
  // Destroys the object (Memory::Delete) when this was the last reference.
  void ReleaseReference();
  uint64_t GetReferenceCount() const { return m_references.load(std::memory_order_relaxed); }

 private:
  std::atomic<uint64_t> m_references{0};
};

// Holds one reference to a CResource-derived object (or none).
template <typename T>
class TResourceRef {
 public:
  TResourceRef() = default;
  // Takes a reference to `object` (which may be new, with count 0).
  explicit TResourceRef(T* object) : m_object(object) {
    if (m_object != nullptr) m_object->AddReference();
  }
  TResourceRef(const TResourceRef& other) : TResourceRef(other.m_object) {}
  TResourceRef(TResourceRef&& other) noexcept : m_object(other.m_object) {
    other.m_object = nullptr;
  }
  TResourceRef& operator=(TResourceRef other) noexcept {
    T* previous = m_object;
    m_object = other.m_object;
    other.m_object = previous;
    return *this;
  }
  ~TResourceRef() { Reset(); }

  void Reset() {
    T* object = m_object;
    m_object = nullptr;
    if (object != nullptr) object->ReleaseReference();
  }
  T* Get() const { return m_object; }
  T* operator->() const { return m_object; }
  explicit operator bool() const { return m_object != nullptr; }

 private:
  T* m_object = nullptr;
};

// A file. Reads and writes move 64-bit counts; a short count is not an error (end of file).
class IFile : public CResource {
 public:
  ~IFile() override = default;

  virtual CString GetDirectory() const = 0;
  virtual CString GetName() const = 0;
  virtual CString GetExtension() const = 0;
  virtual bool CanWrite() const = 0;
  virtual bool CanRead() const = 0;
  virtual FileHandle GetHandle() const = 0;
  // Bytes read; fewer than `size` only at the end of the file.
  virtual uint64_t Read(void* buffer, uint64_t size) = 0;
  // Bytes written.
  virtual uint64_t Write(const void* buffer, uint64_t size) = 0;
  // Moves to `offset` from the origin (kSeekBegin, kSeekEnd, kSeekCurrent); gives the position.
  virtual int64_t Seek(uint32_t origin, int64_t offset) = 0;
  virtual int64_t Tell() = 0;
  // True when the position equals the size, or either cannot be read. Never throws.
  virtual bool IsEndOfFile() = 0;
  // 0 when the size cannot be read. Never throws.
  virtual uint64_t GetSize() = 0;
};

// A file of the platform. Opening raises CFileException; the object is then not created.
class CNativeFile : public IFile {
 public:
  CNativeFile(const IString& path, uint32_t mode);
  // Opens JoinPath(base, relative).
  CNativeFile(const IString& base, const IString& relative, uint32_t mode);
  ~CNativeFile() override;

  CString GetDirectory() const override { return CString(m_directory); }
  CString GetName() const override { return CString(m_name); }
  CString GetExtension() const override { return CString(m_extension); }
  // The access the handle was opened with (mode 0 reads and writes).
  bool CanWrite() const override;
  bool CanRead() const override;
  FileHandle GetHandle() const override { return m_handle; }
  uint64_t Read(void* buffer, uint64_t size) override;
  uint64_t Write(const void* buffer, uint64_t size) override;
  int64_t Seek(uint32_t origin, int64_t offset) override;
  int64_t Tell() override;
  bool IsEndOfFile() override;
  uint64_t GetSize() override;

 private:
  void Open(const IString& path);

  FileHandle m_handle = kInvalidFileHandle;
  uint32_t m_mode;
  CMutableString m_directory;
  CMutableString m_name;
  CMutableString m_extension;
};

// The absolute UTF-16 form of `path`: a leading "~" becomes the user's documents folder, "." and
// ".." segments go, separators become the platform's. The file need not exist. A path longer than
// the platform takes raises CFileException of kind 3.
CMutableString CanonicalizePath(const IString& path);

// Splits at the last separator and the last dot after it: "<directory>/<name>.<extension>".
// Each part is empty when absent; results keep the encoding of `path`.
void SplitPath(const IString& path, CMutableString& directory, CMutableString& name,
               CMutableString& extension);

// `base` and `relative` with one platform separator between them, in UTF-16.
CMutableString JoinPath(const IString& base, const IString& relative);

namespace System {
// Platform file services behind CNativeFile; each raises CFileException on failure.
// Creation follows the mode bits; the path is the canonical UTF-16 path.
FileHandle OpenNative(const IString& canonicalPath, uint32_t mode);
void CloseNative(FileHandle handle);
uint64_t ReadNative(FileHandle handle, void* buffer, uint64_t size);
uint64_t WriteNative(FileHandle handle, const void* buffer, uint64_t size);
int64_t SeekNative(FileHandle handle, uint32_t origin, int64_t offset);
// -1 when the size cannot be read.
int64_t TryGetNativeSize(FileHandle handle);
// -1 when the position cannot be read.
int64_t TryTellNative(FileHandle handle);
}  // namespace System

}  // namespace Bravik
