// The memory manager's parts: the core (host callbacks, byte limit, block records) and the
// small-block pools. Memory.h is the face the rest of the library uses; tests build private
// instances of CMemorySystem from here.
#pragma once

#include <atomic>
#include <bit>
#include <cstddef>
#include <cstdint>

#include "foundation/system/Platform.h"
#include "foundation/system/ThreadLocal.h"

namespace Bravik::Memory {

// Owner-tracked spin lock that the owning thread may take again; others busy-wait.
class CRecursiveSpinLock {
 public:
  void Lock();
  void Unlock();

 private:
  static constexpr uint32_t kNoOwner = 0xFFFFFFFFu;
  uint32_t m_recursion = 0;
  std::atomic<uint32_t> m_owner{kNoOwner};
};

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

// Every block handed out has one: address, chain link, size (low 61 bits) and pool (top 3).
// Fields are atomic because look-ups read chains without the lock (see CMemoryManager).
struct CAllocationRecord {
  std::atomic<uintptr_t> address;
  std::atomic<CAllocationRecord*> next;
  std::atomic<uint64_t> sizeAndPool;
};
static_assert(sizeof(CAllocationRecord) == 24);

constexpr uint64_t kMaxBlockSize = 1ull << 60;
constexpr uint32_t kPoolShift = 61;
constexpr uint64_t kSizeMask = (1ull << kPoolShift) - 1;
// Sizes never reach bit 60: a record with it set belongs to a block parked in a thread cache,
// which counts as not handed out.
constexpr uint64_t kCachedFlag = 1ull << 60;

constexpr uint64_t PackSizeAndPool(uint64_t size, uint32_t pool) {
  return (size & kSizeMask) | (static_cast<uint64_t>(pool) << kPoolShift);
}
constexpr uint32_t kRecordsPerBlock = 256;
constexpr uint64_t kRecordBlockBytes = kRecordsPerBlock * sizeof(CAllocationRecord);
static_assert(kRecordBlockBytes == 6144);

class CMemoryManager {
 public:
  CMemoryManager(System::AllocateFunction allocate, System::ReallocateFunction reallocate,
                 System::FreeFunction release, uint64_t limit, uint64_t ownBytes);
  CMemoryManager(const CMemoryManager&) = delete;
  CMemoryManager& operator=(const CMemoryManager&) = delete;

  // Makes the first record generation and the bucket table; false when the host refuses.
  bool Setup();
  // Returns record storage and buckets to the host.
  void Teardown();

  // Host blocks without a record (chunks, chunk tables, padded large pool blocks): null at the
  // limit or when the host refuses; counted in bytes in use.
  void* RawAllocate(uint64_t size);
  void* RawReallocate(void* block, uint64_t oldSize, uint64_t newSize);
  void RawFree(void* block, uint64_t size);

  // Records. AddRecord fails only when record storage cannot grow. Find and Take see only
  // blocks handed out (not those parked in thread caches).
  bool AddRecord(const void* block, uint64_t size, uint32_t pool);
  bool FindRecord(const void* block, uint64_t* size, uint32_t* pool);
  bool TakeRecord(const void* block, uint64_t* size, uint32_t* pool);
  // Re-keys (when moved) and resizes a live record without allocating.
  void UpdateRecord(const void* oldBlock, const void* newBlock, uint64_t size);

  // Lock-free look-up: the record of block and a consistent copy of its size-and-pool word,
  // or null. Writers bump a sequence number around every change of the table, readers retry.
  CAllocationRecord* Lookup(const void* block, uint64_t* word) const {
    const uint64_t before = m_sequence.load(std::memory_order_acquire);
    uint64_t value = 0;
    CAllocationRecord* found = Walk(reinterpret_cast<uintptr_t>(block), &value);
    std::atomic_thread_fence(std::memory_order_acquire);
    // One test for both "a writer was inside" (odd) and "a writer came and went" (moved).
    if (((before & 1) | (m_sequence.load(std::memory_order_relaxed) ^ before)) != 0) return LookupRetry(block, word);
    if (found == nullptr || (value & kCachedFlag) != 0) return nullptr;
    *word = value;
    return found;
  }
  // Batch forms for thread caches: records every block with `word`, returns how many got one.
  uint32_t AddRecords(void* const* blocks, uint32_t count, uint64_t word, CAllocationRecord** records);
  void RemoveRecords(CAllocationRecord* const* records, uint32_t count);

  // The lock also guards the thread-cache registry of the owning system.
  CRecursiveSpinLock& Lock() { return m_lock; }

  uint64_t BytesInUse() const { return m_bytesInUse.load(std::memory_order_relaxed); }
  uint64_t Limit() const { return m_limit; }
  uint64_t RecordCount();
  uint64_t BucketCount() const;
  void AdjustBytesInUse(int64_t delta) {
    m_bytesInUse.fetch_add(static_cast<uint64_t>(delta), std::memory_order_relaxed);
  }
  System::FreeFunction FreeCallback() const { return m_free; }

 private:
  friend class CWriteSection;
  using Bucket = std::atomic<CAllocationRecord*>;

  // Ends a walk caught in a chain that was relinked under it.
  static constexpr uint32_t kMaxWalk = 1u << 20;

  // Neighbouring blocks land in neighbouring buckets; the fold spreads distant address ranges.
  static uint64_t BucketIndex(uintptr_t address, uint32_t bits) {
    return ((address >> 4) ^ (address >> (4 + bits))) & ((uint64_t{1} << bits) - 1);
  }
  // The chain walk of a look-up, without the sequence check. Records and replaced tables are
  // never returned to the host while the manager lives, so stale links still lead to valid memory.
  CAllocationRecord* Walk(uintptr_t address, uint64_t* value) const {
    // Bits first: the table read after them is never smaller than they say.
    const uint32_t bits = m_bucketBits.load(std::memory_order_acquire);
    const Bucket* buckets = m_buckets.load(std::memory_order_acquire);
    uint32_t steps = 0;
    for (CAllocationRecord* record = buckets[BucketIndex(address, bits)].load(std::memory_order_relaxed);
         record != nullptr && ++steps < kMaxWalk; record = record->next.load(std::memory_order_relaxed)) {
      if (record->address.load(std::memory_order_relaxed) != address) continue;
      *value = record->sizeAndPool.load(std::memory_order_relaxed);
      return record;
    }
    return nullptr;
  }
  CAllocationRecord* LookupRetry(const void* block, uint64_t* word) const;
  bool GrowRecordStorage();
  void GrowBuckets();
  static Bucket* BucketOf(Bucket* buckets, uint32_t bits, uintptr_t address);
  Bucket* BucketOf(uintptr_t address) const;
  CAllocationRecord* Unlink(uintptr_t address);
  void Link(CAllocationRecord* record);
  void Release(CAllocationRecord* record);
  CAllocationRecord* NewRecord(uintptr_t address, uint64_t word);
  CAllocationRecord* FindLive(uintptr_t address) const;

  uint64_t m_generations = 0;
  CAllocationRecord** m_recordBlocks = nullptr;
  uint64_t m_recordBlockCount = 0;
  CAllocationRecord* m_freeRecords = nullptr;
  std::atomic<Bucket*> m_buckets{nullptr};
  std::atomic<uint32_t> m_bucketBits{0};
  // Replaced bucket tables stay until teardown: a lock-free reader may still be walking one.
  Bucket* m_retiredBuckets = nullptr;
  std::atomic<uint64_t> m_sequence{0};
  uint64_t m_liveRecords = 0;
  System::AllocateFunction m_allocate;
  System::ReallocateFunction m_reallocate;
  System::FreeFunction m_free;
  std::atomic<uint64_t> m_liveHostBlocks{0};
  std::atomic<uint64_t> m_bytesInUse;
  uint64_t m_limit;
  CRecursiveSpinLock m_lock;
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

// The calling thread's cache and the id of the system it belongs to (0: none yet). Declared here
// so the allocate and free fast paths inline into their callers.
struct CThreadSlot {
  CThreadCache* cache;
  uint64_t systemId;
};
extern constinit BRAVIK_FAST_THREAD_LOCAL CThreadSlot t_cacheSlot;

// The manager with its four pools; the unit behind the process-wide allocator.
class CMemorySystem {
 public:
  // The system state itself comes from the allocate callback; null when it cannot be set up.
  // Without threadCaches every call takes the locked paths.
  static CMemorySystem* Create(System::AllocateFunction allocate, System::ReallocateFunction reallocate,
                               System::FreeFunction release, uint64_t limit, uint32_t l1DataCacheBytes,
                               bool threadCaches);
  static void Destroy(CMemorySystem* system);
  // Returns the calling thread's cache to its system, if that system still exists.
  static void ReleaseCallingThreadCache();

  // The common case, a small block from the calling thread's cache, inline; the rest out of line.
  void* Allocate(uint64_t size, uint32_t pool) {
    // size - 1 wraps for 0, which the slow path turns into null.
    if (pool - 1 < 4 && size - 1 < TPool<0>::kLargestClass) {
      const CThreadSlot slot = t_cacheSlot;
      if (slot.systemId == m_cacheKey) {
        if (void* block = HandOutParked(*slot.cache, CacheBin(pool, size), size, pool)) return block;
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
      const CThreadSlot slot = t_cacheSlot;
      if (slot.systemId == m_cacheKey && Park(*slot.cache, CacheBin(pool, size), block, record, word)) return true;
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
