// The memory system: the core with its four pools, and the per-thread caches that serve small
// blocks without a lock. Memory.h is the face the rest of the library uses; tests build private
// instances of CMemorySystem from here.
#pragma once

#include <atomic>
#include <bit>
#include <cstdint>

#include "foundation/memory/MemoryManager.h"
#include "foundation/memory/Pool.h"
#include "foundation/system/Platform.h"
#include "foundation/system/ThreadLocal.h"

namespace Bravik::Memory {

constexpr uint32_t kCacheCapacity = 32;  // blocks a thread keeps per size class
constexpr uint32_t kCacheBatch = 16;     // blocks moved per refill or flush
constexpr uint32_t kCacheBins = 4 * 8;   // eight classes per pool; pool 4's 8-byte bin stays empty

// Bin of a small block (pool 1 to 4, size 1 to 1024): the pool's eight bins by power-of-two class.
inline uint32_t CacheBin(uint32_t pool, uint64_t size) {
  const uint32_t shift = static_cast<uint32_t>(std::bit_width(size - 1));
  const uint32_t first = pool == 4 ? 4 : 3;
  return (pool - 1) * 8 + (shift > first ? shift : first) - 3;
}

// Cache key of a system whose threads take the locked paths: no thread slot ever holds it.
constexpr uint64_t kNoCacheKey = ~0ull;

// A thread's private stock of small blocks, one bin per pool and size class, so that the common
// allocate and free take no lock. Parked blocks keep their records, flagged as not handed out.
struct CThreadCache {
  // One word per bin, written by the owner only: the parked count in the low bits and the blocks
  // this bin handed out above them, so a hand-out is a single add and statistics add up the rest.
  static constexpr uint32_t kCountBits = 6;
  static constexpr uint64_t kCountMask = (1ull << kCountBits) - 1;
  static constexpr uint64_t kHandOut = kCountMask;  // one more handed out, one fewer parked
  static_assert(kCacheCapacity <= kCountMask);

  struct Entry {
    void* block;
    CAllocationRecord* record;
  };
  std::atomic<uint64_t> states[kCacheBins];
  Entry entries[kCacheBins][kCacheCapacity];
  CThreadCache* previous;
  CThreadCache* next;

  uint64_t Parked() const;
  uint64_t HandedOut() const;
};

// A thread's slot (System::ThreadSlot) holds its cache and, as the tag, the id of the system the
// cache belongs to: 0 while it has none, kEndedThread once its end was handled.
constexpr uint64_t kEndedThread = ~0ull - 1;

// The manager with its four pools; the unit behind the process-wide allocator.
class CMemorySystem {
 public:
  // The system state itself comes from the allocate callback; null when it cannot be set up.
  // Without threadCaches every call takes the locked paths.
  static CMemorySystem* Create(System::AllocateFunction allocate, System::ReallocateFunction reallocate,
                               System::FreeFunction release, uint64_t limit, uint32_t l1DataCacheBytes,
                               bool threadCaches);
  static void Destroy(CMemorySystem* system);
  // The thread-end function: returns the calling thread's cache to its system, if that system
  // still exists, and sends the thread's later calls down the locked paths.
  static void EndCallingThread();

  // The common case, a small block from the calling thread's cache, inline; the rest out of line.
  void* Allocate(uint64_t size, uint32_t pool) {
    // size - 1 wraps for 0, which the slow path turns into null.
    if (pool - 1 < 4 && size - 1 < TPool<0>::kLargestClass) {
      const System::CThreadSlot slot = System::ThreadSlot();
      if (slot.tag == m_cacheKey) {
        auto& cache = *static_cast<CThreadCache*>(slot.pointer);
        if (void* block = HandOutParked(cache, CacheBin(pool, size), size, pool)) return block;
      }
    }
    return AllocateSlow(size, pool);
  }
  void* Reallocate(void* block, uint64_t size, uint32_t pool);
  // False for null and for blocks this system did not hand out.
  bool Free(void* block) {
    if (block == nullptr) return false;
    uint64_t word = 0;
    CAllocationRecord* record = m_manager.Lookup(block, &word);
    if (record == nullptr) return false;
    const uint32_t pool = static_cast<uint32_t>(word >> kPoolShift);
    const uint64_t size = word & kSizeMask;
    if (pool != 0 && size <= TPool<0>::kLargestClass) {
      const System::CThreadSlot slot = System::ThreadSlot();
      if (slot.tag == m_cacheKey && Park(*static_cast<CThreadCache*>(slot.pointer), CacheBin(pool, size), block, record, word))
        return true;
    }
    return FreeSlow(block, record, word);
  }
  uint64_t BlockSize(const void* block);
  uint32_t BlockPool(const void* block);
  // Blocks handed out and not freed (parked blocks excluded).
  uint64_t LiveBlocks();
  // Blocks handed out since creation.
  uint64_t Allocations();
  CMemoryManager& Manager() { return m_manager; }
  // Whether the calling thread allocates through a cache of this system; makes the cache when
  // the thread has none yet.
  bool CallingThreadIsCached();

 private:
  CMemorySystem(System::AllocateFunction allocate, System::ReallocateFunction reallocate,
                System::FreeFunction release, uint64_t limit, uint32_t l1DataCacheBytes);
  // The newest parked block of a bin, recorded as handed out with its size; null when none.
  static void* HandOutParked(CThreadCache& cache, uint32_t bin, uint64_t size, uint32_t pool) {
    std::atomic<uint64_t>& state = cache.states[bin];
    const uint64_t value = state.load(std::memory_order_relaxed);
    const uint64_t count = value & CThreadCache::kCountMask;
    if (count == 0) return nullptr;
    state.store(value + CThreadCache::kHandOut, std::memory_order_relaxed);
    const CThreadCache::Entry entry = cache.entries[bin][count - 1];
    entry.record->sizeAndPool.store(PackSizeAndPool(size, pool), std::memory_order_release);
    return entry.block;
  }
  // Parks a freed block with its record flagged as not handed out; false when the bin is full.
  static bool Park(CThreadCache& cache, uint32_t bin, void* block, CAllocationRecord* record, uint64_t word) {
    std::atomic<uint64_t>& state = cache.states[bin];
    const uint64_t value = state.load(std::memory_order_relaxed);
    const uint64_t count = value & CThreadCache::kCountMask;
    if (count == kCacheCapacity) return false;
    record->sizeAndPool.store(word | kCachedFlag, std::memory_order_release);
    cache.entries[bin][count] = {block, record};
    state.store(value + 1, std::memory_order_relaxed);
    return true;
  }
  CThreadCache* ThreadCache();
  CThreadCache* AdoptThreadCache();
  void ReleaseThreadCache(CThreadCache* cache);
  bool Refill(CThreadCache& cache, uint32_t pool, uint32_t bin);
  void Flush(CThreadCache& cache, uint32_t pool, uint32_t bin, uint32_t count);
  [[gnu::noinline]] void* AllocateSlow(uint64_t size, uint32_t pool);
  [[gnu::noinline]] bool FreeSlow(void* block, CAllocationRecord* record, uint64_t word);
  void* CachedAllocate(CThreadCache& cache, uint64_t size, uint32_t pool);
  void CachedFree(CThreadCache& cache, void* block, CAllocationRecord* record, uint64_t word);
  bool UncachedFree(void* block);
  uint32_t TakeBatch(uint32_t pool, uint32_t classIndex, void** blocks, uint32_t count);
  void GiveBatch(uint32_t pool, uint32_t classIndex, void* const* blocks, uint32_t count);
  void* CoreAllocate(uint64_t size);
  void* CoreReallocate(void* block, uint64_t oldSize, uint64_t newSize);
  void* PoolAllocate(uint32_t pool, uint64_t size);
  void PoolFree(uint32_t pool, void* block, uint64_t size);
  void* PoolReallocate(uint32_t pool, void* block, uint64_t oldSize, uint64_t newSize);

  CMemoryManager m_manager;
  TPool<0> m_pool1;
  TPool<2> m_pool2;
  TPool<3> m_pool3;
  TPool<4> m_pool4;
  uint64_t m_id = 0;                       // never reused, so a thread can tell a stale cache
  uint64_t m_cacheKey = kNoCacheKey;       // m_id when threads may cache, else matching no thread
  std::atomic<uint64_t> m_allocations{0};  // outside caches, and those of ended threads
  CThreadCache* m_caches = nullptr;        // registry, under the manager lock
};

// Recorded selector of a request: pools 1 to 4 keep theirs, everything else is the core.
constexpr uint32_t RecordedPool(uint32_t selector) { return selector >= 1 && selector <= 4 ? selector : 0; }

}  // namespace Bravik::Memory
