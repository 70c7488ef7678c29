#include "repository/Texts.h"

#include <cstring>

#include "foundation/memory/Memory.h"
#include "repository/ReferenceLists.h"

namespace Quorin {

namespace Memory = Bravik::Memory;

CText_Internal::CText_Internal(void* bytes, Bravik::StringEncoding encoding, uint32_t capacity, uint32_t written,
                               uint16_t region)
    : text(bytes, encoding), m_capacity(capacity), m_written(written) {
  regionId = region;
}

void CText_Internal::EraseFromIndex(RepositoryIndex& index) { index.texts.Erase(this); }

uint32_t CText_Internal::AppendBytes(const void* bytes, uint32_t count) {
  const uint64_t unit = Bravik::UnitSize(GetEncoding());
  if (m_written >= m_capacity || uint64_t{m_written} + count + unit > m_capacity) return 0;
  auto* data = static_cast<uint8_t*>(const_cast<void*>(GetBytes()));
  std::memcpy(data + m_written, bytes, count);
  m_written += count;
  std::memset(data + m_written, 0, unit);
  if (m_capacity - m_written <= unit) m_written = m_capacity;  // only the terminator would still fit
  return count;
}

uint32_t CText_Internal::Close() {
  m_capacity = m_written;
  return m_written;
}

CBlob_Internal::CBlob_Internal(uint8_t* bytes, uint32_t byteCount, uint16_t region) {
  size = byteCount;
  data = bytes;
  regionId = region;
}

CBlob_Internal::~CBlob_Internal() { Memory::Free(data); }

void CBlob_Internal::EraseFromIndex(RepositoryIndex& index) { index.blobs.Erase(this); }

uint32_t CBlob_Internal::WriteBytes(const void* bytes, uint32_t count) {
  if (m_written >= size || uint64_t{m_written} + count > size) return 0;
  std::memcpy(data + m_written, bytes, count);
  m_written += count;
  return count;
}

namespace {

template <typename T>
T* FindIn(const Bravik::TMapTree<uint32_t>& tree, uint32_t id) {
  Bravik::TMapElement<uint32_t>* node = tree.Find(id);
  return node != nullptr ? static_cast<T*>(node) : nullptr;
}

// The first item of this id (ids may repeat) that can still be written to.
template <typename T, typename IsOpen>
T* FindOpen(const Bravik::TMapTree<uint32_t>& tree, uint32_t id, IsOpen isOpen) {
  using Tree = Bravik::TMapTree<uint32_t>;
  for (Tree::Node* node = tree.FindFirst(id); node != nullptr; node = Tree::NextSameKey(node)) {
    T* item = static_cast<T*>(node);
    if (isOpen(*item)) return item;
  }
  return nullptr;
}

// Bytes for a text of `size` bytes in the current region, aligned to its code unit so the text
// can be read in place. Long texts get a block of their own from the byte pool.
uint8_t* TakeTextBytes(Region& region, uint64_t size, Bravik::StringEncoding encoding) {
  return static_cast<uint8_t*>(region.bytes.Take(size, Bravik::UnitSize(encoding)));
}

CText_Internal* StoreText(Repository& repository, uint32_t id, uint8_t* bytes, Bravik::StringEncoding encoding,
                          uint32_t capacity, uint32_t written) {
  Region& region = repository.CurrentRegion();
  // The bytes stay in the region's byte pool if this throws; they go with the region.
  CText_Internal* text = region.texts.Emplace(bytes, encoding, capacity, written, region.id);
  repository.Index().texts.Insert(text, id);
  return text;
}

}  // namespace

CText_Internal* FindText(const Repository& repository, uint32_t id) {
  return FindIn<CText_Internal>(repository.Index().texts, id);
}

CText_Internal* FindUnfilledText(const Repository& repository, uint32_t id) {
  return FindOpen<CText_Internal>(repository.Index().texts, id,
                                  [](const CText_Internal& text) { return !text.IsFilled(); });
}

CText_Internal* CreateText(Repository& repository, uint32_t id, const void* text, Bravik::StringEncoding encoding) {
  const uint64_t size = Bravik::CString(text, encoding).GetSize();
  if (size > UINT32_MAX) return nullptr;  // sizes are 32-bit
  return CreateTextOfSize(repository, id, text, static_cast<uint32_t>(size), encoding);
}

CText_Internal* CreateTextOfSize(Repository& repository, uint32_t id, const void* bytes, uint32_t size,
                                 Bravik::StringEncoding encoding) {
  uint8_t* copy = TakeTextBytes(repository.CurrentRegion(), size, encoding);
  if (size != 0) std::memcpy(copy, bytes, size);
  return StoreText(repository, id, copy, encoding, size, size);
}

CText_Internal* CreateTextWithCapacity(Repository& repository, uint32_t id, uint32_t capacity,
                                       Bravik::StringEncoding encoding) {
  // Whole code units, and at least a terminator, so the text reads as empty from the start.
  const uint64_t unit = Bravik::UnitSize(encoding);
  const uint64_t room = capacity == 0 ? 0 : (uint64_t{capacity} + unit - 1) / unit * unit;
  uint8_t* bytes = TakeTextBytes(repository.CurrentRegion(), room, encoding);
  if (bytes != nullptr) std::memset(bytes, 0, unit);
  return StoreText(repository, id, bytes, encoding, capacity, 0);
}

const void* GetTextBytes(const Repository& repository, uint32_t id) {
  const CText_Internal* text = FindText(repository, id);
  return text != nullptr ? text->GetBytes() : nullptr;
}

const void* ResolveTextReference(const Repository& repository, uint32_t id) {
  return id != kNoId32 ? GetTextBytes(repository, id) : nullptr;
}

const void* ResolveScriptReference(const Repository& repository, const TlxScriptReference& reference) {
  if (static_cast<EScriptKind>(reference.kind) == EScriptKind::kNotSet) return nullptr;
  return GetTextBytes(repository, reference.textId);
}

CBlob_Internal* FindBlob(const Repository& repository, uint32_t id) {
  return FindIn<CBlob_Internal>(repository.Index().blobs, id);
}

CBlob_Internal* FindUnfilledBlob(const Repository& repository, uint32_t id) {
  return FindOpen<CBlob_Internal>(repository.Index().blobs, id,
                                  [](const CBlob_Internal& blob) { return blob.GetRemaining() != 0; });
}

CBlob_Internal* CreateBlob(Repository& repository, uint32_t id, const void* bytes, uint32_t size) {
  if (FindBlob(repository, id) != nullptr) return nullptr;
  Region& region = repository.CurrentRegion();
  // Blob bytes are raw: no alignment needed. Size 0 allocates nothing.
  auto* block = static_cast<uint8_t*>(Memory::Allocate(size, Memory::kObjectPool));
  CBlob_Internal* blob;
  try {
    blob = region.blobs.Emplace(block, size, region.id);
  } catch (...) {
    Memory::Free(block);
    throw;
  }
  if (bytes != nullptr) blob->WriteBytes(bytes, size);
  repository.Index().blobs.Insert(blob, id);
  return blob;
}

CBlob_Internal* ResolveBlobReference(const Repository& repository, const TlxReference& reference) {
  if (static_cast<EReferenceKind>(reference.kind) != EReferenceKind::kBlob) return nullptr;
  return FindBlob(repository, reference.id);
}

}  // namespace Quorin
