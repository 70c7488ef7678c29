// The memory manager core: host callbacks, the byte limit, and the record table that finds any
// block handed out from its address alone.
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
  uint32_t m_recursion = 0;
  std::atomic<uint32_t> m_owner{kNoOwner};
};

// Holds a recursive spin lock for a scope.
class CLockGuard {
 public:
  explicit CLockGuard(CRecursiveSpinLock& lock) : m_lock(lock) { m_lock.Lock(); }
  ~CLockGuard() { m_lock.Unlock(); }
  CLockGuard(const CLockGuard&) = delete;
  CLockGuard& operator=(const CLockGuard&) = delete;

 private:
  CRecursiveSpinLock& m_lock;
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

  // Changes of the table are release stores and the walk's reads acquire loads: a reader that
  // sees any part of a change also sees the odd sequence that announced it. Neither costs an
  // instruction on x86, and thread checkers follow them, unlike fences.
  static constexpr std::memory_order kPublish = std::memory_order_release;
  static constexpr std::memory_order kObserve = std::memory_order_acquire;

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
    for (CAllocationRecord* record = buckets[BucketIndex(address, bits)].load(kObserve);
         record != nullptr && ++steps < kMaxWalk; record = record->next.load(kObserve)) {
      if (record->address.load(kObserve) != address) continue;
      *value = record->sizeAndPool.load(kObserve);
      return record;
    }
    return nullptr;
  }
  CAllocationRecord* LookupRetry(const void* block, uint64_t* word) const;
  bool Reserve(uint64_t size);
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
  std::atomic<uint64_t> m_bytesInUse;
  uint64_t m_limit;
  CRecursiveSpinLock m_lock;
};

}  // namespace Bravik::Memory
