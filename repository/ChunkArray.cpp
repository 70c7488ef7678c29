#include "repository/ChunkArray.h"

namespace Quorin {

void CChunkStore::SetLayout(uint32_t itemSize, uint32_t alignment, uint32_t perChunk,
                            DestroyFunction destroy, UnlinkFunction unlink) {
  itemSize_ = itemSize;
  stride_ = (itemSize + 1 + alignment - 1) / alignment * alignment;
  perChunk_ = perChunk;
  pool_ = Bravik::Memory::PoolForAlignment(alignment);
  destroy_ = destroy;
  unlink_ = unlink;
}

uint8_t* CChunkStore::TakeSlot() {
  if (freeHead_ != nullptr) {
    uint8_t* slot = freeHead_;
    std::memcpy(&freeHead_, slot, sizeof(freeHead_));
    return slot;
  }
  if (count_ == Capacity()) {
    auto* chunk = static_cast<uint8_t*>(Bravik::Memory::Allocate(uint64_t{stride_} * perChunk_, pool_));
    try {
      chunks_.Append(chunk);
    } catch (...) {
      Bravik::Memory::Free(chunk);
      throw;
    }
  }
  uint8_t* slot = SlotAt(count_++);
  slot[itemSize_] = 0;
  return slot;
}

void CChunkStore::PutBack(uint8_t* slot) {
  std::memcpy(slot, &freeHead_, sizeof(freeHead_));
  freeHead_ = slot;
}

void CChunkStore::UnlinkAll(RepositoryIndex& index) {
  for (uint64_t i = 0; i < count_; ++i) {
    uint8_t* slot = SlotAt(i);
    if (IsStored(slot)) unlink_(slot, index);
  }
}

void CChunkStore::Clear() {
  for (uint64_t i = 0; i < count_; ++i) {
    uint8_t* slot = SlotAt(i);
    if (IsStored(slot)) destroy_(slot);
  }
  for (uint8_t* chunk : chunks_) Bravik::Memory::Free(chunk);
  chunks_.Free();
  count_ = 0;
  live_ = 0;
  freeHead_ = nullptr;
}

}  // namespace Quorin
