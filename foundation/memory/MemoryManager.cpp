#include "foundation/memory/MemoryManager.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <new>

#include "foundation/system/Assert.h"

namespace Bravik::Memory {

namespace {
constexpr uint32_t kPoolShift = 61;
constexpr uint64_t kSizeMask = (1ull << kPoolShift) - 1;
constexpr uint32_t kInitialBucketBits = 8;  // 256 buckets to start with
constexpr uint64_t kFirstGenerationBlocks = 2;

uint64_t PackSizeAndPool(uint64_t size, uint32_t pool) {
  return (size & kSizeMask) | (static_cast<uint64_t>(pool) << kPoolShift);
}
}  // namespace

// ---- CRecursiveSpinLock ----------------------------------------------------------------

void CRecursiveSpinLock::Lock() {
  const uint32_t self = System::CurrentThreadId();
  if (owner_.load(std::memory_order_relaxed) == self) {
    ++recursion_;
    return;
  }
  for (;;) {
    uint32_t expected = kNoOwner;
    if (owner_.compare_exchange_weak(expected, self, std::memory_order_acquire, std::memory_order_relaxed))
      break;
    while (owner_.load(std::memory_order_relaxed) != kNoOwner) System::SpinPause();
  }
  recursion_ = 1;
}

void CRecursiveSpinLock::Unlock() {
  BRAVIK_ASSERT(owner_.load(std::memory_order_relaxed) == System::CurrentThreadId());
  if (--recursion_ == 0) owner_.store(kNoOwner, std::memory_order_release);
}

namespace {
class CLockGuard {
 public:
  explicit CLockGuard(CRecursiveSpinLock& lock) : lock_(lock) { lock_.Lock(); }
  ~CLockGuard() { lock_.Unlock(); }
  CLockGuard(const CLockGuard&) = delete;
  CLockGuard& operator=(const CLockGuard&) = delete;

 private:
  CRecursiveSpinLock& lock_;
};
}  // namespace

// ---- CMemoryManager: host blocks -------------------------------------------------------

CMemoryManager::CMemoryManager(System::AllocateFunction allocate, System::ReallocateFunction reallocate,
                               System::FreeFunction release, uint64_t limit, uint64_t ownBytes)
    : allocate_(allocate), reallocate_(reallocate), free_(release), bytesInUse_(ownBytes), limit_(limit) {}

void* CMemoryManager::RawAllocate(uint64_t size) {
  const uint64_t inUse = BytesInUse();
  // Written so that nothing wraps: sizes near 2^64 and a limit below the current use both fail.
  if (size > kMaxBlockSize || inUse > limit_ || size > limit_ - inUse) return nullptr;
  void* block = allocate_(static_cast<size_t>(size));
  if (block == nullptr) return nullptr;
  bytesInUse_.fetch_add(size, std::memory_order_relaxed);
  liveHostBlocks_.fetch_add(1, std::memory_order_relaxed);
  return block;
}

void* CMemoryManager::RawReallocate(void* block, uint64_t oldSize, uint64_t newSize) {
  if (block == nullptr) return RawAllocate(newSize);
  const uint64_t inUse = BytesInUse();
  if (newSize > kMaxBlockSize) return nullptr;
  if (newSize > oldSize && (inUse > limit_ || newSize - oldSize > limit_ - inUse)) return nullptr;
  void* moved = reallocate_(block, static_cast<size_t>(newSize));
  if (moved == nullptr) return nullptr;
  bytesInUse_.fetch_add(newSize - oldSize, std::memory_order_relaxed);
  return moved;
}

void CMemoryManager::RawFree(void* block, uint64_t size) {
  if (block == nullptr) return;
  bytesInUse_.fetch_sub(size, std::memory_order_relaxed);
  liveHostBlocks_.fetch_sub(1, std::memory_order_relaxed);
  free_(block);
}

// ---- CMemoryManager: records -----------------------------------------------------------

bool CMemoryManager::Setup() {
  const uint64_t buckets = 1ull << kInitialBucketBits;
  buckets_ = static_cast<CAllocationRecord**>(RawAllocate(buckets * sizeof(CAllocationRecord*)));
  if (buckets_ == nullptr) return false;
  std::memset(buckets_, 0, buckets * sizeof(CAllocationRecord*));
  bucketBits_ = kInitialBucketBits;
  bucketMask_ = buckets - 1;
  return GrowRecordStorage();
}

void CMemoryManager::Teardown() {
  for (uint64_t i = 0; i < recordBlockCount_; ++i) RawFree(recordBlocks_[i], kRecordBlockBytes);
  const uint64_t tableLength = generations_ == 0 ? 0 : kFirstGenerationBlocks << (generations_ - 1);
  RawFree(recordBlocks_, tableLength * sizeof(CAllocationRecord*));
  RawFree(buckets_, BucketCount() * sizeof(CAllocationRecord*));
  recordBlocks_ = nullptr;
  buckets_ = nullptr;
  freeRecords_ = nullptr;
  recordBlockCount_ = generations_ = liveRecords_ = 0;
}

// Doubles the record-block table and fills the new half with fresh blocks of 256 records.
bool CMemoryManager::GrowRecordStorage() {
  const uint64_t oldLength = generations_ == 0 ? 0 : kFirstGenerationBlocks << (generations_ - 1);
  const uint64_t newLength = generations_ == 0 ? kFirstGenerationBlocks : oldLength * 2;
  if (recordBlockCount_ == oldLength) {
    void* table = RawReallocate(recordBlocks_, oldLength * sizeof(CAllocationRecord*),
                                newLength * sizeof(CAllocationRecord*));
    if (table == nullptr) return false;
    recordBlocks_ = static_cast<CAllocationRecord**>(table);
    ++generations_;
  }
  // A generation cut short by the host keeps the blocks it got; the next growth fills the rest.
  const uint64_t length = kFirstGenerationBlocks << (generations_ - 1);
  while (recordBlockCount_ < length) {
    auto* block = static_cast<CAllocationRecord*>(RawAllocate(kRecordBlockBytes));
    if (block == nullptr) break;
    recordBlocks_[recordBlockCount_++] = block;
    for (uint32_t i = kRecordsPerBlock; i-- > 0;) {
      block[i].next = freeRecords_;
      freeRecords_ = &block[i];
    }
  }
  return freeRecords_ != nullptr;
}

// Neighbouring blocks land in neighbouring buckets; the fold spreads distant address ranges.
CAllocationRecord** CMemoryManager::BucketOf(uintptr_t address) const {
  return &buckets_[((address >> 4) ^ (address >> (4 + bucketBits_))) & bucketMask_];
}

void CMemoryManager::Link(CAllocationRecord* record) {
  CAllocationRecord** bucket = BucketOf(record->address);
  record->next = *bucket;
  *bucket = record;
}

CAllocationRecord* CMemoryManager::Unlink(uintptr_t address) {
  for (CAllocationRecord** link = BucketOf(address); *link != nullptr; link = &(*link)->next) {
    if ((*link)->address != address) continue;
    CAllocationRecord* record = *link;
    *link = record->next;
    return record;
  }
  return nullptr;
}

// Keeps chains short as live blocks grow, so a free costs the same at any population.
void CMemoryManager::GrowBuckets() {
  const uint32_t bits = bucketBits_ + 1;
  const uint64_t count = 1ull << bits;
  auto* table = static_cast<CAllocationRecord**>(RawAllocate(count * sizeof(CAllocationRecord*)));
  if (table == nullptr) return;  // longer chains, still correct
  std::memset(table, 0, count * sizeof(CAllocationRecord*));
  CAllocationRecord** oldTable = buckets_;
  const uint64_t oldCount = BucketCount();
  buckets_ = table;
  bucketBits_ = bits;
  bucketMask_ = count - 1;
  for (uint64_t i = 0; i < oldCount; ++i) {
    for (CAllocationRecord* record = oldTable[i]; record != nullptr;) {
      CAllocationRecord* next = record->next;
      Link(record);
      record = next;
    }
  }
  RawFree(oldTable, oldCount * sizeof(CAllocationRecord*));
}

bool CMemoryManager::AddRecord(const void* block, uint64_t size, uint32_t pool) {
  CLockGuard guard(lock_);
  if (freeRecords_ == nullptr && !GrowRecordStorage()) return false;
  CAllocationRecord* record = freeRecords_;
  freeRecords_ = record->next;
  record->address = reinterpret_cast<uintptr_t>(block);
  record->sizeAndPool = PackSizeAndPool(size, pool);
  Link(record);
  if (++liveRecords_ > 2 * BucketCount()) GrowBuckets();
  return true;
}

bool CMemoryManager::FindRecord(const void* block, uint64_t* size, uint32_t* pool) {
  CLockGuard guard(lock_);
  const uintptr_t address = reinterpret_cast<uintptr_t>(block);
  for (CAllocationRecord* record = *BucketOf(address); record != nullptr; record = record->next) {
    if (record->address != address) continue;
    *size = record->sizeAndPool & kSizeMask;
    *pool = static_cast<uint32_t>(record->sizeAndPool >> kPoolShift);
    return true;
  }
  return false;
}

bool CMemoryManager::TakeRecord(const void* block, uint64_t* size, uint32_t* pool) {
  CLockGuard guard(lock_);
  CAllocationRecord* record = Unlink(reinterpret_cast<uintptr_t>(block));
  if (record == nullptr) return false;
  *size = record->sizeAndPool & kSizeMask;
  *pool = static_cast<uint32_t>(record->sizeAndPool >> kPoolShift);
  record->next = freeRecords_;
  freeRecords_ = record;
  --liveRecords_;
  return true;
}

void CMemoryManager::UpdateRecord(const void* oldBlock, const void* newBlock, uint64_t size) {
  CLockGuard guard(lock_);
  CAllocationRecord* record = Unlink(reinterpret_cast<uintptr_t>(oldBlock));
  BRAVIK_ASSERT(record != nullptr);
  if (record == nullptr) return;
  record->address = reinterpret_cast<uintptr_t>(newBlock);
  record->sizeAndPool = PackSizeAndPool(size, static_cast<uint32_t>(record->sizeAndPool >> kPoolShift));
  Link(record);
}

uint64_t CMemoryManager::RecordCount() {
  CLockGuard guard(lock_);
  return liveRecords_;
}

// ---- TPool<N> --------------------------------------------------------------------------

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

void* RawOfAligned(void* block) {
  auto* bytes = static_cast<uint8_t*>(block);
  return bytes - bytes[-1];
}
}  // namespace

template <unsigned N>
TPool<N>::TPool(CMemoryManager& manager, uint32_t selector, uint32_t l1DataCacheBytes)
    : manager_(manager), selector_(selector) {
  for (uint32_t i = 0; i < kClassCount; ++i) {
    const uint64_t classSize = 1ull << (i + kFirstClassShift);
    const uint64_t elements = (l1DataCacheBytes / 2) / classSize;
    classes_[i].elementsPerChunk = static_cast<uint32_t>(std::clamp<uint64_t>(elements, 4, 256));
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
  void* raw = manager_.RawAllocate(N > 0 ? bytes + kAlignment : bytes);
  if (raw == nullptr) return false;
  void* table = manager_.RawReallocate(sizeClass.chunks, sizeClass.chunkCount * sizeof(uint8_t*),
                                       (sizeClass.chunkCount + 1) * sizeof(uint8_t*));
  if (table == nullptr) {
    manager_.RawFree(raw, N > 0 ? bytes + kAlignment : bytes);
    return false;
  }
  uint8_t* start = N > 0 ? AlignAfter(raw, kAlignment) : static_cast<uint8_t*>(raw);
  sizeClass.chunks = static_cast<uint8_t**>(table);
  sizeClass.chunks[sizeClass.chunkCount++] = start;
  CFreeElement* next = sizeClass.freeList;
  for (uint32_t i = sizeClass.elementsPerChunk; i-- > 0;) {
    auto* element = reinterpret_cast<CFreeElement*>(start + i * classSize);
    element->next = next;
    next = element;
  }
  sizeClass.freeList = next;
  return true;
}

template <unsigned N>
void* TPool<N>::Allocate(uint64_t size) {
  if (size > kLargestClass) return AllocateLarge(size);
  const uint32_t index = ClassIndex(size);
  CSizeClass& sizeClass = classes_[index];
  sizeClass.lock.Lock();
  if (sizeClass.freeList == nullptr && !AddChunk(sizeClass, 1ull << (index + kFirstClassShift))) {
    sizeClass.lock.Unlock();
    return nullptr;
  }
  CFreeElement* element = sizeClass.freeList;
  sizeClass.freeList = element->next;
  ++sizeClass.liveBlocks;
  sizeClass.lock.Unlock();
  return element;
}

template <unsigned N>
void TPool<N>::Free(void* block, uint64_t size) {
  if (size > kLargestClass) return FreeLarge(block, size);
  CSizeClass& sizeClass = classes_[ClassIndex(size)];
  auto* element = static_cast<CFreeElement*>(block);
  sizeClass.lock.Lock();
  element->next = sizeClass.freeList;
  sizeClass.freeList = element;
  --sizeClass.liveBlocks;
  sizeClass.lock.Unlock();
}

// Large blocks take one padding unit more than asked so the start can be aligned and the
// distance stored before it (one spare byte even for the unaligned pool).
template <unsigned N>
void* TPool<N>::AllocateLarge(uint64_t size) {
  if (size > kMaxBlockSize) return nullptr;
  void* raw = manager_.RawAllocate(size + Padding());
  if (raw == nullptr) return nullptr;
  largeBlocks_.fetch_add(1, std::memory_order_relaxed);
  return AlignAfter(raw, kAlignment);
}

template <unsigned N>
void TPool<N>::FreeLarge(void* block, uint64_t size) {
  largeBlocks_.fetch_sub(1, std::memory_order_relaxed);
  manager_.RawFree(RawOfAligned(block), size + Padding());
}

// In place when nothing needs to move: same class, or a large block shrinking by less than
// 1024 bytes. Null means the caller must move the block.
template <unsigned N>
void* TPool<N>::Reallocate(void* block, uint64_t oldSize, uint64_t newSize) {
  if (oldSize == newSize) return block;
  if (oldSize > kLargestClass) {
    if (newSize > kLargestClass && newSize < oldSize && newSize > oldSize - kLargestClass) {
      // The raw block is now accounted at the new size, so the later free balances.
      manager_.AdjustBytesInUse(-static_cast<int64_t>(oldSize - newSize));
      return block;
    }
    return nullptr;
  }
  if (newSize <= kLargestClass && ClassIndex(newSize) == ClassIndex(oldSize)) return block;
  return nullptr;
}

template <unsigned N>
void TPool<N>::Destroy() {
  for (uint32_t i = 0; i < kClassCount; ++i) {
    CSizeClass& sizeClass = classes_[i];
    const uint64_t bytes = sizeClass.elementsPerChunk * (1ull << (i + kFirstClassShift));
    for (uint32_t c = 0; c < sizeClass.chunkCount; ++c) {
      if (N > 0)
        manager_.RawFree(RawOfAligned(sizeClass.chunks[c]), bytes + kAlignment);
      else
        manager_.RawFree(sizeClass.chunks[c], bytes);
    }
    manager_.RawFree(sizeClass.chunks, sizeClass.chunkCount * sizeof(uint8_t*));
    sizeClass.chunks = nullptr;
    sizeClass.chunkCount = 0;
    sizeClass.freeList = nullptr;
    sizeClass.liveBlocks = 0;
  }
}

template <unsigned N>
uint64_t TPool<N>::LiveBlocks() {
  uint64_t live = largeBlocks_.load(std::memory_order_relaxed);
  for (CSizeClass& sizeClass : classes_) {
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

// ---- CMemorySystem ---------------------------------------------------------------------

CMemorySystem::CMemorySystem(System::AllocateFunction allocate, System::ReallocateFunction reallocate,
                             System::FreeFunction release, uint64_t limit, uint32_t l1DataCacheBytes)
    : manager_(allocate, reallocate, release, limit, sizeof(CMemorySystem)),
      pool1_(manager_, 1, l1DataCacheBytes),
      pool2_(manager_, 2, l1DataCacheBytes),
      pool3_(manager_, 3, l1DataCacheBytes),
      pool4_(manager_, 4, l1DataCacheBytes) {}

CMemorySystem* CMemorySystem::Create(System::AllocateFunction allocate, System::ReallocateFunction reallocate,
                                     System::FreeFunction release, uint64_t limit, uint32_t l1DataCacheBytes) {
  if (allocate == nullptr) allocate = System::DefaultAllocate();
  if (reallocate == nullptr) reallocate = System::DefaultReallocate();
  if (release == nullptr) release = System::DefaultFree();
  void* state = allocate(sizeof(CMemorySystem));
  if (state == nullptr) return nullptr;
  auto* system = new (state) CMemorySystem(allocate, reallocate, release, limit, l1DataCacheBytes);
  if (!system->manager_.Setup()) {
    Destroy(system);
    return nullptr;
  }
  return system;
}

void CMemorySystem::Destroy(CMemorySystem* system) {
  if (system == nullptr) return;
  system->pool1_.Destroy();
  system->pool2_.Destroy();
  system->pool3_.Destroy();
  system->pool4_.Destroy();
  system->manager_.Teardown();
  System::FreeFunction release = system->manager_.FreeCallback();
  system->~CMemorySystem();
  release(system);
}

void* CMemorySystem::CoreAllocate(uint64_t size) {
  void* block = manager_.RawAllocate(size);
  if (block == nullptr) return nullptr;
  if (!manager_.AddRecord(block, size, 0)) {
    manager_.RawFree(block, size);
    return nullptr;
  }
  return block;
}

void* CMemorySystem::CoreReallocate(void* block, uint64_t oldSize, uint64_t newSize) {
  void* moved = manager_.RawReallocate(block, oldSize, newSize);
  if (moved != nullptr) manager_.UpdateRecord(block, moved, newSize);
  return moved;
}

void* CMemorySystem::PoolAllocate(uint32_t pool, uint64_t size) {
  switch (pool) {
    case 1: return pool1_.Allocate(size);
    case 2: return pool2_.Allocate(size);
    case 3: return pool3_.Allocate(size);
    default: return pool4_.Allocate(size);
  }
}

void CMemorySystem::PoolFree(uint32_t pool, void* block, uint64_t size) {
  switch (pool) {
    case 1: return pool1_.Free(block, size);
    case 2: return pool2_.Free(block, size);
    case 3: return pool3_.Free(block, size);
    default: return pool4_.Free(block, size);
  }
}

void* CMemorySystem::PoolReallocate(uint32_t pool, void* block, uint64_t oldSize, uint64_t newSize) {
  switch (pool) {
    case 1: return pool1_.Reallocate(block, oldSize, newSize);
    case 2: return pool2_.Reallocate(block, oldSize, newSize);
    case 3: return pool3_.Reallocate(block, oldSize, newSize);
    default: return pool4_.Reallocate(block, oldSize, newSize);
  }
}

void* CMemorySystem::Allocate(uint64_t size, uint32_t pool) {
  if (size == 0 || size > kMaxBlockSize) return nullptr;
  const uint32_t recorded = RecordedPool(pool);
  if (recorded == 0) return CoreAllocate(size);
  void* block = PoolAllocate(recorded, size);
  if (block == nullptr) return nullptr;
  if (!manager_.AddRecord(block, size, recorded)) {
    PoolFree(recorded, block, size);
    return nullptr;
  }
  return block;
}

bool CMemorySystem::Free(void* block) {
  uint64_t size = 0;
  uint32_t pool = 0;
  if (block == nullptr || !manager_.TakeRecord(block, &size, &pool)) return false;
  if (pool == 0)
    manager_.RawFree(block, size);
  else
    PoolFree(pool, block, size);
  return true;
}

// Dispatches on the pool the block was recorded with, never on the argument.
void* CMemorySystem::Reallocate(void* block, uint64_t size, uint32_t pool) {
  if (block == nullptr) return Allocate(size, pool);
  uint64_t oldSize = 0;
  uint32_t recorded = 0;
  if (!manager_.FindRecord(block, &oldSize, &recorded)) return nullptr;
  if (size == 0) {
    Free(block);
    return nullptr;
  }
  if (size > kMaxBlockSize) return nullptr;
  if (recorded == 0) return CoreReallocate(block, oldSize, size);
  if (PoolReallocate(recorded, block, oldSize, size) != nullptr) {
    manager_.UpdateRecord(block, block, size);
    return block;
  }
  void* moved = Allocate(size, recorded);
  if (moved == nullptr) return nullptr;
  std::memcpy(moved, block, std::min(oldSize, size));
  Free(block);
  return moved;
}

uint64_t CMemorySystem::BlockSize(const void* block) {
  uint64_t size = 0;
  uint32_t pool = 0;
  return block != nullptr && manager_.FindRecord(block, &size, &pool) ? size : 0;
}

uint32_t CMemorySystem::BlockPool(const void* block) {
  uint64_t size = 0;
  uint32_t pool = 0;
  return block != nullptr && manager_.FindRecord(block, &size, &pool) ? pool : 0;
}

}  // namespace Bravik::Memory
