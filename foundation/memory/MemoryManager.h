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
struct CAllocationRecord {
  uintptr_t address;
  CAllocationRecord* next;
  uint64_t sizeAndPool;
};
static_assert(sizeof(CAllocationRecord) == 24);

constexpr uint64_t kMaxBlockSize = 1ull << 60;
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

  // Records. AddRecord fails only when record storage cannot grow.
  bool AddRecord(const void* block, uint64_t size, uint32_t pool);
  bool FindRecord(const void* block, uint64_t* size, uint32_t* pool);
  bool TakeRecord(const void* block, uint64_t* size, uint32_t* pool);
  // Re-keys (when moved) and resizes a live record without allocating.
  void UpdateRecord(const void* oldBlock, const void* newBlock, uint64_t size);

  uint64_t BytesInUse() const { return bytesInUse_.load(std::memory_order_relaxed); }
  uint64_t Limit() const { return limit_; }
  uint64_t RecordCount();
  uint64_t BucketCount() const { return bucketMask_ + 1; }
  void AdjustBytesInUse(int64_t delta) {
    bytesInUse_.fetch_add(static_cast<uint64_t>(delta), std::memory_order_relaxed);
  }
  System::FreeFunction FreeCallback() const { return free_; }

 private:
  bool GrowRecordStorage();
  void GrowBuckets();
  CAllocationRecord** BucketOf(uintptr_t address) const;
  CAllocationRecord* Unlink(uintptr_t address);
  void Link(CAllocationRecord* record);

  uint64_t generations_ = 0;
  CAllocationRecord** recordBlocks_ = nullptr;
  uint64_t recordBlockCount_ = 0;
  CAllocationRecord* freeRecords_ = nullptr;
  CAllocationRecord** buckets_ = nullptr;
  uint64_t bucketMask_ = 0;
  uint32_t bucketBits_ = 0;
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

 private:
  struct CFreeElement {
    CFreeElement* next;
  };
  struct CSizeClass {
    uint32_t elementsPerChunk = 0;
    uint32_t chunkCount = 0;
    CSpinBit lock;
    CFreeElement* freeList = nullptr;
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

// The manager with its four pools; the unit behind the process-wide allocator.
class CMemorySystem {
 public:
  // The system state itself comes from the allocate callback; null when it cannot be set up.
  static CMemorySystem* Create(System::AllocateFunction allocate, System::ReallocateFunction reallocate,
                               System::FreeFunction release, uint64_t limit, uint32_t l1DataCacheBytes);
  static void Destroy(CMemorySystem* system);

  void* Allocate(uint64_t size, uint32_t pool);
  void* Reallocate(void* block, uint64_t size, uint32_t pool);
  // False for null and for blocks this system did not hand out.
  bool Free(void* block);
  uint64_t BlockSize(const void* block);
  uint32_t BlockPool(const void* block);
  uint64_t LiveBlocks() { return manager_.RecordCount(); }
  CMemoryManager& Manager() { return manager_; }

 private:
  CMemorySystem(System::AllocateFunction allocate, System::ReallocateFunction reallocate,
                System::FreeFunction release, uint64_t limit, uint32_t l1DataCacheBytes);
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
};

// Recorded selector of a request: pools 1 to 4 keep theirs, everything else is the core.
constexpr uint32_t RecordedPool(uint32_t selector) { return selector >= 1 && selector <= 4 ? selector : 0; }

}  // namespace Bravik::Memory
