#include "repository/DataBlockPool.h"

#include <cstring>

#include "foundation/memory/Memory.h"

namespace Quorin {

namespace Memory = Bravik::Memory;

// The blocks of one size: slabs cut into blocks front to back, and the blocks given back.
struct CDataBlockPool::SizeEntry : Bravik::TMapElement<uint32_t> {
  Bravik::TArray<uint8_t*> slabs;
  uint8_t* freeHead = nullptr;  // given-back blocks, linked through their first 8 bytes
  uint8_t* next = nullptr;      // next unused block of the newest slab
  uint32_t unused = 0;          // unused blocks left in the newest slab
};

CDataBlockPool::SizeEntry* CDataBlockPool::EntryFor(uint32_t size) {
  if (Bravik::TMapElement<uint32_t>* node = m_sizes.Find(size)) return static_cast<SizeEntry*>(node);
  auto* entry = Memory::New<SizeEntry>(Memory::PoolForAlignment(alignof(SizeEntry)));
  m_sizes.Insert(entry, size);
  return entry;
}

void* CDataBlockPool::Take(uint32_t size) {
  size = BlockSize(size);
  SizeEntry* entry = EntryFor(size);
  if (entry->freeHead != nullptr) {
    uint8_t* block = entry->freeHead;
    std::memcpy(&entry->freeHead, block, sizeof(entry->freeHead));
    return block;
  }
  if (entry->unused == 0) {
    const uint32_t perSlab = size >= kSlabBytes ? 1 : kSlabBytes / size;
    auto* slab = static_cast<uint8_t*>(Memory::Allocate(uint64_t{perSlab} * size, Memory::kPool8));
    try {
      entry->slabs.Append(slab);
    } catch (...) {
      Memory::Free(slab);
      throw;
    }
    entry->next = slab;
    entry->unused = perSlab;
  }
  uint8_t* block = entry->next;
  entry->next += size;
  --entry->unused;
  return block;
}

void CDataBlockPool::Give(void* block, uint32_t size) {
  if (block == nullptr) return;
  auto* node = m_sizes.Find(BlockSize(size));
  if (node == nullptr) return;  // never served from here: not ours to keep
  auto* entry = static_cast<SizeEntry*>(node);
  std::memcpy(block, &entry->freeHead, sizeof(entry->freeHead));
  entry->freeHead = static_cast<uint8_t*>(block);
}

void CDataBlockPool::Clear() {
  while (Bravik::TMapElement<uint32_t>* node = m_sizes.root) {
    m_sizes.Erase(node);
    auto* entry = static_cast<SizeEntry*>(node);
    for (uint8_t* slab : entry->slabs) Memory::Free(slab);
    Memory::Delete(entry);
  }
}

void* CBytePool::Take(uint64_t size, uint32_t alignment) {
  if (size == 0) return nullptr;
  if (size > kBlockBytes) {
    MakeRoom();  // first, so the new block cannot be lost
    auto* own = static_cast<uint8_t*>(Memory::Allocate(size, Memory::PoolForAlignment(alignment)));
    m_blocks.Append(own);
    return own;
  }
  const uint32_t start = (m_used + alignment - 1) & ~(alignment - 1);  // alignment is a power of two
  if (m_current == nullptr || start > kBlockBytes || kBlockBytes - start < size) {
    MakeRoom();
    m_current = static_cast<uint8_t*>(Memory::Allocate(kBlockBytes, Memory::kObjectPool));
    m_blocks.Append(m_current);
    m_used = static_cast<uint32_t>(size);
    return m_current;
  }
  m_used = start + static_cast<uint32_t>(size);
  return m_current + start;
}

void CBytePool::MakeRoom() {
  if (m_blocks.Count() == m_blocks.Capacity()) {
    m_blocks.Reserve(m_blocks.Capacity() == 0 ? 4 : m_blocks.Capacity() * 2);
  }
}

void CBytePool::Clear() {
  for (uint8_t* block : m_blocks) Memory::Free(block);
  m_blocks.Free();
  m_current = nullptr;
  m_used = kBlockBytes;
}

}  // namespace Quorin
