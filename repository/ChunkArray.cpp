#include "repository/ChunkArray.h"

namespace Quorin {

void CChunkStore::SetLayout(uint32_t itemSize, uint32_t alignment, uint32_t perChunk,
                            DestroyFunction destroy, UnlinkFunction unlink) {
  m_itemSize = itemSize;
  m_stride = (itemSize + 1 + alignment - 1) / alignment * alignment;
  m_perChunk = perChunk;
  m_pool = Bravik::Memory::PoolForAlignment(alignment);
  m_destroy = destroy;
  m_unlink = unlink;
}

uint8_t* CChunkStore::TakeSlot() {
  if (m_freeHead != nullptr) {
    uint8_t* slot = m_freeHead;
    std::memcpy(&m_freeHead, slot, sizeof(m_freeHead));
    return slot;
  }
  if (m_endLeft == 0) {
    auto* chunk = static_cast<uint8_t*>(Bravik::Memory::Allocate(uint64_t{m_stride} * m_perChunk, m_pool));
    try {
      m_chunks.Append(chunk);
    } catch (...) {
      Bravik::Memory::Free(chunk);
      throw;
    }
    m_end = chunk;
    m_endLeft = m_perChunk;
  }
  uint8_t* slot = m_end;
  m_end += m_stride;
  --m_endLeft;
  ++m_count;
  slot[m_itemSize] = 0;
  return slot;
}

void CChunkStore::PutBack(uint8_t* slot) {
  std::memcpy(slot, &m_freeHead, sizeof(m_freeHead));
  m_freeHead = slot;
}

void CChunkStore::UnlinkAll(RepositoryIndex& index) {
  ForEachSlot([&](uint8_t* slot) {
    if (IsStored(slot)) m_unlink(slot, index);
    return true;
  });
}

void CChunkStore::Clear() {
  ForEachSlot([&](uint8_t* slot) {
    if (IsStored(slot)) m_destroy(slot);
    return true;
  });
  for (uint8_t* chunk : m_chunks) Bravik::Memory::Free(chunk);
  m_chunks.Free();
  m_count = 0;
  m_live = 0;
  m_freeHead = nullptr;
  m_end = nullptr;
  m_endLeft = 0;
}

}  // namespace Quorin
