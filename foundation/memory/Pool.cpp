#include "foundation/memory/Pool.h"

#include <algorithm>
#include <bit>
#include <cstring>

namespace Bravik::Memory {

namespace {
// Advances a raw address by 1 to alignment bytes to the next multiple of the alignment and
// stores the distance in the byte before, so the raw address can be found again.
uint8_t* AlignAfter(void* raw, uint64_t alignment) {
  const uintptr_t address = reinterpret_cast<uintptr_t>(raw);
  const uintptr_t aligned = (address + alignment) & ~static_cast<uintptr_t>(alignment - 1);
  auto* block = reinterpret_cast<uint8_t*>(aligned);
  block[-1] = static_cast<uint8_t>(aligned - address);
  return block;
}

// Free elements of the 4-byte pool sit at 4-byte boundaries, so the link is copied, not loaded.
void* NextFree(void* element) {
  void* next;
  std::memcpy(&next, element, sizeof next);
  return next;
}

void SetNextFree(void* element, void* next) { std::memcpy(element, &next, sizeof next); }

void* RawOfAligned(void* block) {
  auto* bytes = static_cast<uint8_t*>(block);
  return bytes - bytes[-1];
}
}  // namespace

template <unsigned N>
TPool<N>::TPool(CMemoryManager& manager, uint32_t selector, uint32_t l1DataCacheBytes)
    : m_manager(manager), m_selector(selector) {
  for (uint32_t i = 0; i < kClassCount; ++i) {
    const uint64_t classSize = 1ull << (i + kFirstClassShift);
    const uint64_t elements = (l1DataCacheBytes / 2) / classSize;
    m_classes[i].elementsPerChunk = static_cast<uint32_t>(std::clamp<uint64_t>(elements, 4, 256));
  }
}

template <unsigned N>
uint32_t TPool<N>::ClassIndex(uint64_t size) {
  const uint32_t shift = std::max<uint32_t>(static_cast<uint32_t>(std::bit_width(size - 1)), kFirstClassShift);
  return shift - kFirstClassShift;
}

// Chunks of aligned pools carry the same padding as large blocks; the 1-byte pool needs none.
template <unsigned N>
bool TPool<N>::AddChunk(CSizeClass& sizeClass, uint64_t classSize) {
  const uint64_t bytes = sizeClass.elementsPerChunk * classSize;
  void* raw = m_manager.RawAllocate(N > 0 ? bytes + kAlignment : bytes);
  if (raw == nullptr) return false;
  void* table = m_manager.RawReallocate(sizeClass.chunks, sizeClass.chunkCount * sizeof(uint8_t*),
                                       (sizeClass.chunkCount + 1) * sizeof(uint8_t*));
  if (table == nullptr) {
    m_manager.RawFree(raw, N > 0 ? bytes + kAlignment : bytes);
    return false;
  }
  uint8_t* start = N > 0 ? AlignAfter(raw, kAlignment) : static_cast<uint8_t*>(raw);
  sizeClass.chunks = static_cast<uint8_t**>(table);
  sizeClass.chunks[sizeClass.chunkCount++] = start;
  void* next = sizeClass.freeList;
  for (uint32_t i = sizeClass.elementsPerChunk; i-- > 0;) {
    void* element = start + i * classSize;
    SetNextFree(element, next);
    next = element;
  }
  sizeClass.freeList = next;
  return true;
}

template <unsigned N>
void* TPool<N>::Allocate(uint64_t size) {
  if (size > kLargestClass) return AllocateLarge(size);
  const uint32_t index = ClassIndex(size);
  CSizeClass& sizeClass = m_classes[index];
  sizeClass.lock.Lock();
  if (sizeClass.freeList == nullptr && !AddChunk(sizeClass, 1ull << (index + kFirstClassShift))) {
    sizeClass.lock.Unlock();
    return nullptr;
  }
  void* element = sizeClass.freeList;
  sizeClass.freeList = NextFree(element);
  ++sizeClass.liveBlocks;
  sizeClass.lock.Unlock();
  return element;
}

template <unsigned N>
void TPool<N>::Free(void* block, uint64_t size) {
  if (size > kLargestClass) return FreeLarge(block, size);
  CSizeClass& sizeClass = m_classes[ClassIndex(size)];
  sizeClass.lock.Lock();
  SetNextFree(block, sizeClass.freeList);
  sizeClass.freeList = block;
  --sizeClass.liveBlocks;
  sizeClass.lock.Unlock();
}

// Large blocks take one padding unit more than asked so the start can be aligned and the
// distance stored before it (one spare byte even for the unaligned pool).
template <unsigned N>
void* TPool<N>::AllocateLarge(uint64_t size) {
  if (size > kMaxBlockSize) return nullptr;
  void* raw = m_manager.RawAllocate(size + Padding());
  if (raw == nullptr) return nullptr;
  m_largeBlocks.fetch_add(1, std::memory_order_relaxed);
  return AlignAfter(raw, kAlignment);
}

template <unsigned N>
void TPool<N>::FreeLarge(void* block, uint64_t size) {
  m_largeBlocks.fetch_sub(1, std::memory_order_relaxed);
  m_manager.RawFree(RawOfAligned(block), size + Padding());
}

// In place when nothing needs to move: same class, or a large block shrinking by less than
// 1024 bytes. Null means the caller must move the block.
template <unsigned N>
void* TPool<N>::Reallocate(void* block, uint64_t oldSize, uint64_t newSize) {
  if (oldSize == newSize) return block;
  if (oldSize > kLargestClass) {
    if (newSize > kLargestClass && newSize < oldSize && newSize > oldSize - kLargestClass) {
      // The raw block is now accounted at the new size, so the later free balances.
      m_manager.AdjustBytesInUse(-static_cast<int64_t>(oldSize - newSize));
      return block;
    }
    return nullptr;
  }
  if (newSize <= kLargestClass && ClassIndex(newSize) == ClassIndex(oldSize)) return block;
  return nullptr;
}

// Pops up to count blocks, carving chunks as needed; stops early only when the host refuses.
template <unsigned N>
uint32_t TPool<N>::TakeBatch(uint32_t classIndex, void** blocks, uint32_t count) {
  CSizeClass& sizeClass = m_classes[classIndex];
  uint32_t taken = 0;
  sizeClass.lock.Lock();
  while (taken < count) {
    if (sizeClass.freeList == nullptr && !AddChunk(sizeClass, 1ull << (classIndex + kFirstClassShift))) break;
    void* element = sizeClass.freeList;
    sizeClass.freeList = NextFree(element);
    blocks[taken++] = element;
  }
  sizeClass.liveBlocks += taken;
  sizeClass.lock.Unlock();
  return taken;
}

template <unsigned N>
void TPool<N>::GiveBatch(uint32_t classIndex, void* const* blocks, uint32_t count) {
  CSizeClass& sizeClass = m_classes[classIndex];
  sizeClass.lock.Lock();
  for (uint32_t i = 0; i < count; ++i) {
    SetNextFree(blocks[i], sizeClass.freeList);
    sizeClass.freeList = blocks[i];
  }
  sizeClass.liveBlocks -= count;
  sizeClass.lock.Unlock();
}

template <unsigned N>
void TPool<N>::Destroy() {
  for (uint32_t i = 0; i < kClassCount; ++i) {
    CSizeClass& sizeClass = m_classes[i];
    const uint64_t bytes = sizeClass.elementsPerChunk * (1ull << (i + kFirstClassShift));
    for (uint32_t c = 0; c < sizeClass.chunkCount; ++c) {
      if (N > 0)
        m_manager.RawFree(RawOfAligned(sizeClass.chunks[c]), bytes + kAlignment);
      else
        m_manager.RawFree(sizeClass.chunks[c], bytes);
    }
    m_manager.RawFree(sizeClass.chunks, sizeClass.chunkCount * sizeof(uint8_t*));
    sizeClass.chunks = nullptr;
    sizeClass.chunkCount = 0;
    sizeClass.freeList = nullptr;
    sizeClass.liveBlocks = 0;
  }
}

template <unsigned N>
uint64_t TPool<N>::LiveBlocks() {
  uint64_t live = m_largeBlocks.load(std::memory_order_relaxed);
  for (CSizeClass& sizeClass : m_classes) {
    sizeClass.lock.Lock();
    live += sizeClass.liveBlocks;
    sizeClass.lock.Unlock();
  }
  return live;
}

template class TPool<0>;
template class TPool<2>;
template class TPool<3>;
template class TPool<4>;

}  // namespace Bravik::Memory
