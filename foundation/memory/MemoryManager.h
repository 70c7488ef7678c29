// The memory manager's parts: the core (host callbacks, byte limit, block records) and the
// small-block pools. Memory.h is the face the rest of the library uses; tests build private
// instances of CMemorySystem from here.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>

#include "foundation/system/Platform.h"

namespace Bravik::Memory {

// Owner-tracked spin lock that the owning thread may take again; others busy-wait.
class CRecursiveSpinLock {
 public:
  void Lock();
  void Unlock();

 private:
  static constexpr uint32_t kNoOwner = 0xFFFFFFFFu;
  uint32_t recursion_ = 0;
  std::atomic<uint32_t> owner_{kNoOwner};
};

// Spin bit of one size class: bit 0 set while held.
class CSpinBit {
 public:
  void Lock() {
    while (word_.fetch_or(1u, std::memory_order_acquire) & 1u)
      while (word_.load(std::memory_order_relaxed) & 1u) System::SpinPause();
  }
  // Only bit 0 is ever set and only its holder clears it, so a release store does the AND.
  void Unlock() { word_.store(0u, std::memory_order_release); }

 private:
  std::atomic<uint32_t> word_{0};
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
  CAllocationRecord* Lookup(const void* block, uint64_t* word) const;
  // Batch forms for thread caches: records every block with `word`, returns how many got one.
  uint32_t AddRecords(void* const* blocks, uint32_t count, uint64_t word, CAllocationRecord** records);
  void RemoveRecords(CAllocationRecord* const* records, uint32_t count);

  // The lock also guards the thread-cache registry of the owning system.
  CRecursiveSpinLock& Lock() { return lock_; }

  uint64_t BytesInUse() const { return bytesInUse_.load(std::memory_order_relaxed); }
  uint64_t Limit() const { return limit_; }
  uint64_t RecordCount();
  uint64_t BucketCount() const;
  void AdjustBytesInUse(int64_t delta) {
    bytesInUse_.fetch_add(static_cast<uint64_t>(delta), std::memory_order_relaxed);
  }
  System::FreeFunction FreeCallback() const { return free_; }

 private:
  friend class CWriteSection;
  using Bucket = std::atomic<CAllocationRecord*>;

  bool GrowRecordStorage();
  void GrowBuckets();
  static Bucket* BucketOf(Bucket* buckets, uint32_t bits, uintptr_t address);
  Bucket* BucketOf(uintptr_t address) const;
  CAllocationRecord* Unlink(uintptr_t address);
  void Link(CAllocationRecord* record);
  void Release(CAllocationRecord* record);
  CAllocationRecord* NewRecord(uintptr_t address, uint64_t word);
  CAllocationRecord* FindLive(uintptr_t address) const;

  uint64_t generations_ = 0;
  CAllocationRecord** recordBlocks_ = nullptr;
  uint64_t recordBlockCount_ = 0;
  CAllocationRecord* freeRecords_ = nullptr;
  std::atomic<Bucket*> buckets_{nullptr};
  std::atomic<uint32_t> bucketBits_{0};
  // Replaced bucket tables stay until teardown: a lock-free reader may still be walking one.
  Bucket* retiredBuckets_ = nullptr;
  std::atomic<uint64_t> sequence_{0};
  uint64_t liveRecords_ = 0;
  System::AllocateFunction allocate_;
  System::ReallocateFunction reallocate_;
  System::FreeFunction free_;
  std::atomic<uint64_t> liveHostBlocks_{0};
  std::atomic<uint64_t> bytesInUse_;
  uint64_t limit_;
  CRecursiveSpinLock lock_;
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
  uint32_t ElementsPerChunk(uint32_t classIndex) const { return classes_[classIndex].elementsPerChunk; }
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

  CMemoryManager& manager_;
  uint32_t selector_;
  CSizeClass classes_[kClassCount];
  std::atomic<uint64_t> largeBlocks_{0};
};

constexpr uint32_t kCacheCapacity = 32;  // blocks a thread keeps per size class
constexpr uint32_t kCacheBatch = 16;     // blocks moved per refill or flush

// A thread's private stock of small blocks, one bin per pool and size class, so that the common
// allocate and free take no lock. Parked blocks keep their records, flagged as not handed out.
struct CThreadCache {
  struct Entry {
    void* block;
    CAllocationRecord* record;
  };
  struct Bin {
    uint32_t count;
    Entry entries[kCacheCapacity];
  };
  CThreadCache* previous;
  CThreadCache* next;
  std::atomic<uint64_t> parked;       // written by the owner only; summed by statistics
  std::atomic<uint64_t> allocations;  // blocks handed out through this cache; owner writes
  Bin bins[4][8];
};

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

  void* Allocate(uint64_t size, uint32_t pool);
  void* Reallocate(void* block, uint64_t size, uint32_t pool);
  // False for null and for blocks this system did not hand out.
  bool Free(void* block);
  uint64_t BlockSize(const void* block);
  uint32_t BlockPool(const void* block);
  // Blocks handed out and not freed (parked blocks excluded).
  uint64_t LiveBlocks();
  // Blocks handed out since creation.
  uint64_t Allocations();
  CMemoryManager& Manager() { return manager_; }
  // Whether the calling thread allocates through a cache of this system; makes the cache when
  // the thread has none yet.
  bool CallingThreadIsCached();

 private:
  CMemorySystem(System::AllocateFunction allocate, System::ReallocateFunction reallocate,
                System::FreeFunction release, uint64_t limit, uint32_t l1DataCacheBytes);
  CThreadCache* ThreadCache();
  CThreadCache* AdoptThreadCache();
  void ReleaseThreadCache(CThreadCache* cache);
  bool Refill(uint32_t pool, uint32_t classIndex, CThreadCache::Bin& bin, CThreadCache& cache);
  void Flush(uint32_t pool, uint32_t classIndex, CThreadCache::Bin& bin, CThreadCache& cache, uint32_t count);
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

  CMemoryManager manager_;
  TPool<0> pool1_;
  TPool<2> pool2_;
  TPool<3> pool3_;
  TPool<4> pool4_;
  uint64_t id_ = 0;                       // never reused, so a thread can tell a stale cache
  std::atomic<uint64_t> allocations_{0};  // outside caches, and those of ended threads
  CThreadCache* caches_ = nullptr;        // registry, under the manager lock
};

// Size class of a small block in pool 1 to 4 (pool 4 starts at 16 bytes).
uint32_t CacheClassIndex(uint32_t pool, uint64_t size);

// Recorded selector of a request: pools 1 to 4 keep theirs, everything else is the core.
constexpr uint32_t RecordedPool(uint32_t selector) { return selector >= 1 && selector <= 4 ? selector : 0; }

}  // namespace Bravik::Memory
