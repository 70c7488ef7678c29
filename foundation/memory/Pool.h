// Small-block pools: power-of-two size classes carved from chunks, each class under its own
// spin bit; larger blocks go to the core with alignment padding.
#pragma once

#include <atomic>
#include <cstdint>

#include "foundation/memory/MemoryManager.h"

namespace Bravik::Memory {

// Spin bit of one size class: bit 0 set while held.
class CSpinBit {
 public:
  void Lock() {
    while (m_word.fetch_or(1u, std::memory_order_acquire) & 1u)
      while (m_word.load(std::memory_order_relaxed) & 1u) System::SpinPause();
  }
  // Only bit 0 is ever set and only its holder clears it, so a release store does the AND.
  void Unlock() { m_word.store(0u, std::memory_order_release); }

 private:
  std::atomic<uint32_t> m_word{0};
};

// Small-block pool with 2^N alignment: power-of-two classes up to 1024 bytes carved from
// chunks sized after the L1 data cache; larger blocks go to the host with padding.
template <unsigned N>
class TPool {
 public:
  static constexpr uint64_t kAlignment = 1ull << N;
  static constexpr uint32_t kFirstClassShift = N == 4 ? 4 : 3;
  static constexpr uint32_t kClassCount = 11 - kFirstClassShift;
  static constexpr uint64_t kLargestClass = 1024;

  TPool(CMemoryManager& manager, uint32_t selector, uint32_t l1DataCacheBytes);
  TPool(const TPool&) = delete;
  TPool& operator=(const TPool&) = delete;

  void* Allocate(uint64_t size);
  void Free(void* block, uint64_t size);
  void* Reallocate(void* block, uint64_t oldSize, uint64_t newSize);
  // Returns every chunk to the host.
  void Destroy();

  uint64_t LiveBlocks();
  uint32_t ElementsPerChunk(uint32_t classIndex) const { return m_classes[classIndex].elementsPerChunk; }
  static uint32_t ClassIndex(uint64_t size);

  // Batch moves between a class's free list and a thread cache, one lock round each.
  // TakeBatch returns how many blocks it could provide (0 when no chunk could be added).
  uint32_t TakeBatch(uint32_t classIndex, void** blocks, uint32_t count);
  void GiveBatch(uint32_t classIndex, void* const* blocks, uint32_t count);

 private:
  struct CSizeClass {
    uint32_t elementsPerChunk = 0;
    uint32_t chunkCount = 0;
    CSpinBit lock;
    void* freeList = nullptr;  // elements chained through their first pointer-size bytes
    uint8_t** chunks = nullptr;
    uint64_t liveBlocks = 0;  // under the class lock
  };

  bool AddChunk(CSizeClass& sizeClass, uint64_t classSize);
  void* AllocateLarge(uint64_t size);
  void FreeLarge(void* block, uint64_t size);
  static uint64_t Padding() { return kAlignment; }

  CMemoryManager& m_manager;
  uint32_t m_selector;
  CSizeClass m_classes[kClassCount];
  std::atomic<uint64_t> m_largeBlocks{0};
};

}  // namespace Bravik::Memory
