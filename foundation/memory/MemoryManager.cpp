#include "foundation/memory/MemoryManager.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <new>

#include "foundation/system/Assert.h"
#include "foundation/system/ThreadLocal.h"

namespace Bravik::Memory {

namespace {
constexpr uint32_t kInitialBucketBits = 8;  // 256 buckets to start with
constexpr uint64_t kFirstGenerationBlocks = 2;
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

// Holds the manager lock and marks the table as changing for lock-free readers (odd sequence).
class CWriteSection {
 public:
  explicit CWriteSection(CMemoryManager& manager) : manager_(manager), guard_(manager.lock_) {
    manager_.sequence_.store(manager_.sequence_.load(std::memory_order_relaxed) + 1, std::memory_order_relaxed);
    std::atomic_thread_fence(std::memory_order_release);
  }
  ~CWriteSection() {
    manager_.sequence_.store(manager_.sequence_.load(std::memory_order_relaxed) + 1, std::memory_order_release);
  }
  CWriteSection(const CWriteSection&) = delete;
  CWriteSection& operator=(const CWriteSection&) = delete;

 private:
  CMemoryManager& manager_;
  CLockGuard guard_;
};

bool CMemoryManager::Setup() {
  const uint64_t count = 1ull << kInitialBucketBits;
  auto* table = static_cast<Bucket*>(RawAllocate(count * sizeof(Bucket)));
  if (table == nullptr) return false;
  for (uint64_t i = 0; i < count; ++i) new (&table[i]) Bucket(nullptr);
  buckets_.store(table, std::memory_order_relaxed);
  bucketBits_.store(kInitialBucketBits, std::memory_order_relaxed);
  return GrowRecordStorage();
}

void CMemoryManager::Teardown() {
  for (uint64_t i = 0; i < recordBlockCount_; ++i) RawFree(recordBlocks_[i], kRecordBlockBytes);
  const uint64_t tableLength = generations_ == 0 ? 0 : kFirstGenerationBlocks << (generations_ - 1);
  RawFree(recordBlocks_, tableLength * sizeof(CAllocationRecord*));
  // A retired table keeps its successor in slot 0 and its own bucket count in slot 1.
  while (retiredBuckets_ != nullptr) {
    Bucket* table = retiredBuckets_;
    retiredBuckets_ = reinterpret_cast<Bucket*>(table[0].load(std::memory_order_relaxed));
    RawFree(table, reinterpret_cast<uintptr_t>(table[1].load(std::memory_order_relaxed)) * sizeof(Bucket));
  }
  RawFree(buckets_.load(std::memory_order_relaxed), BucketCount() * sizeof(Bucket));
  recordBlocks_ = nullptr;
  buckets_.store(nullptr, std::memory_order_relaxed);
  freeRecords_ = nullptr;
  recordBlockCount_ = generations_ = liveRecords_ = 0;
}

uint64_t CMemoryManager::BucketCount() const { return 1ull << bucketBits_.load(std::memory_order_relaxed); }

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
      new (&block[i]) CAllocationRecord{{0}, {freeRecords_}, {0}};
      freeRecords_ = &block[i];
    }
  }
  return freeRecords_ != nullptr;
}

CMemoryManager::Bucket* CMemoryManager::BucketOf(Bucket* buckets, uint32_t bits, uintptr_t address) {
  return &buckets[BucketIndex(address, bits)];
}

CMemoryManager::Bucket* CMemoryManager::BucketOf(uintptr_t address) const {
  return BucketOf(buckets_.load(std::memory_order_relaxed), bucketBits_.load(std::memory_order_relaxed), address);
}

void CMemoryManager::Link(CAllocationRecord* record) {
  Bucket* bucket = BucketOf(record->address.load(std::memory_order_relaxed));
  record->next.store(bucket->load(std::memory_order_relaxed), std::memory_order_relaxed);
  bucket->store(record, std::memory_order_relaxed);
}

CAllocationRecord* CMemoryManager::Unlink(uintptr_t address) {
  Bucket* link = BucketOf(address);
  for (CAllocationRecord* record = link->load(std::memory_order_relaxed); record != nullptr;
       link = &record->next, record = link->load(std::memory_order_relaxed)) {
    if (record->address.load(std::memory_order_relaxed) != address) continue;
    link->store(record->next.load(std::memory_order_relaxed), std::memory_order_relaxed);
    return record;
  }
  return nullptr;
}

void CMemoryManager::Release(CAllocationRecord* record) {
  record->next.store(freeRecords_, std::memory_order_relaxed);
  freeRecords_ = record;
  --liveRecords_;
}

// Keeps chains short as live blocks grow, so a free costs the same at any population.
void CMemoryManager::GrowBuckets() {
  const uint32_t oldBits = bucketBits_.load(std::memory_order_relaxed);
  const uint64_t oldCount = 1ull << oldBits, count = oldCount * 2;
  auto* table = static_cast<Bucket*>(RawAllocate(count * sizeof(Bucket)));
  if (table == nullptr) return;  // longer chains, still correct
  for (uint64_t i = 0; i < count; ++i) new (&table[i]) Bucket(nullptr);
  Bucket* oldTable = buckets_.load(std::memory_order_relaxed);
  for (uint64_t i = 0; i < oldCount; ++i) {
    for (CAllocationRecord* record = oldTable[i].load(std::memory_order_relaxed); record != nullptr;) {
      CAllocationRecord* next = record->next.load(std::memory_order_relaxed);
      Bucket* bucket = BucketOf(table, oldBits + 1, record->address.load(std::memory_order_relaxed));
      record->next.store(bucket->load(std::memory_order_relaxed), std::memory_order_relaxed);
      bucket->store(record, std::memory_order_relaxed);
      record = next;
    }
  }
  // Table before bits: a reader that sees the new bits also sees the table they index.
  buckets_.store(table, std::memory_order_release);
  bucketBits_.store(oldBits + 1, std::memory_order_release);
  oldTable[0].store(reinterpret_cast<CAllocationRecord*>(retiredBuckets_), std::memory_order_relaxed);
  oldTable[1].store(reinterpret_cast<CAllocationRecord*>(static_cast<uintptr_t>(oldCount)), std::memory_order_relaxed);
  retiredBuckets_ = oldTable;
}

CAllocationRecord* CMemoryManager::NewRecord(uintptr_t address, uint64_t word) {
  if (freeRecords_ == nullptr && !GrowRecordStorage()) return nullptr;
  CAllocationRecord* record = freeRecords_;
  freeRecords_ = record->next.load(std::memory_order_relaxed);
  record->address.store(address, std::memory_order_relaxed);
  record->sizeAndPool.store(word, std::memory_order_relaxed);
  Link(record);
  // At most one record per bucket on average: a free with a million live blocks then walks
  // about as few records, each a likely cache miss, as with a thousand.
  if (++liveRecords_ > BucketCount()) GrowBuckets();
  return record;
}

bool CMemoryManager::AddRecord(const void* block, uint64_t size, uint32_t pool) {
  CWriteSection section(*this);
  return NewRecord(reinterpret_cast<uintptr_t>(block), PackSizeAndPool(size, pool)) != nullptr;
}

uint32_t CMemoryManager::AddRecords(void* const* blocks, uint32_t count, uint64_t word, CAllocationRecord** records) {
  CWriteSection section(*this);
  uint32_t added = 0;
  for (; added < count; ++added) {
    records[added] = NewRecord(reinterpret_cast<uintptr_t>(blocks[added]), word);
    if (records[added] == nullptr) break;
  }
  return added;
}

void CMemoryManager::RemoveRecords(CAllocationRecord* const* records, uint32_t count) {
  CWriteSection section(*this);
  for (uint32_t i = 0; i < count; ++i) {
    CAllocationRecord* record = Unlink(records[i]->address.load(std::memory_order_relaxed));
    BRAVIK_ASSERT(record == records[i]);
    if (record != nullptr) Release(record);
  }
}

CAllocationRecord* CMemoryManager::FindLive(uintptr_t address) const {
  for (CAllocationRecord* record = BucketOf(address)->load(std::memory_order_relaxed); record != nullptr;
       record = record->next.load(std::memory_order_relaxed)) {
    if (record->address.load(std::memory_order_relaxed) != address) continue;
    return (record->sizeAndPool.load(std::memory_order_relaxed) & kCachedFlag) ? nullptr : record;
  }
  return nullptr;
}

bool CMemoryManager::FindRecord(const void* block, uint64_t* size, uint32_t* pool) {
  uint64_t word = 0;
  if (Lookup(block, &word) == nullptr) return false;
  *size = word & kSizeMask;
  *pool = static_cast<uint32_t>(word >> kPoolShift);
  return true;
}

bool CMemoryManager::TakeRecord(const void* block, uint64_t* size, uint32_t* pool) {
  CWriteSection section(*this);
  const uintptr_t address = reinterpret_cast<uintptr_t>(block);
  if (FindLive(address) == nullptr) return false;
  CAllocationRecord* record = Unlink(address);
  const uint64_t word = record->sizeAndPool.load(std::memory_order_relaxed);
  *size = word & kSizeMask;
  *pool = static_cast<uint32_t>(word >> kPoolShift);
  Release(record);
  return true;
}

void CMemoryManager::UpdateRecord(const void* oldBlock, const void* newBlock, uint64_t size) {
  CWriteSection section(*this);
  CAllocationRecord* record = Unlink(reinterpret_cast<uintptr_t>(oldBlock));
  BRAVIK_ASSERT(record != nullptr);
  if (record == nullptr) return;
  const uint64_t word = record->sizeAndPool.load(std::memory_order_relaxed);
  record->address.store(reinterpret_cast<uintptr_t>(newBlock), std::memory_order_relaxed);
  record->sizeAndPool.store(PackSizeAndPool(size, static_cast<uint32_t>(word >> kPoolShift)), std::memory_order_relaxed);
  Link(record);
}

// The look-up after a walk that overlapped a change (odd or moved sequence): retried until
// one runs between changes.
CAllocationRecord* CMemoryManager::LookupRetry(const void* block, uint64_t* word) const {
  const uintptr_t address = reinterpret_cast<uintptr_t>(block);
  for (;;) {
    const uint64_t before = sequence_.load(std::memory_order_acquire);
    if (before & 1) {
      System::SpinPause();
      continue;
    }
    uint64_t value = 0;
    CAllocationRecord* found = Walk(address, &value);
    std::atomic_thread_fence(std::memory_order_acquire);
    if (sequence_.load(std::memory_order_relaxed) != before) continue;
    if (found == nullptr || (value & kCachedFlag) != 0) return nullptr;
    *word = value;
    return found;
  }
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
  CSizeClass& sizeClass = classes_[index];
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
  CSizeClass& sizeClass = classes_[ClassIndex(size)];
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

// Pops up to count blocks, carving chunks as needed; stops early only when the host refuses.
template <unsigned N>
uint32_t TPool<N>::TakeBatch(uint32_t classIndex, void** blocks, uint32_t count) {
  CSizeClass& sizeClass = classes_[classIndex];
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
  CSizeClass& sizeClass = classes_[classIndex];
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

// ---- Thread caches ---------------------------------------------------------------------

constinit BRAVIK_FAST_THREAD_LOCAL CThreadSlot t_cacheSlot = {nullptr, 0};

namespace {
// Systems whose caches may be in use, so a thread can tell a live owner from a destroyed one.
constexpr uint32_t kMaxCachedSystems = 8;
struct CLiveSystem {
  std::atomic<uint64_t> id{0};
  std::atomic<CMemorySystem*> system{nullptr};
};
CLiveSystem g_liveSystems[kMaxCachedSystems];
std::atomic<uint64_t> g_nextSystemId{1};

CMemorySystem* FindLiveSystem(uint64_t id) {
  for (CLiveSystem& entry : g_liveSystems)
    if (id != 0 && entry.id.load(std::memory_order_acquire) == id) return entry.system.load(std::memory_order_acquire);
  return nullptr;
}

// Gives the thread's cache back when the thread ends.
struct CThreadExitHook {
  bool armed = false;
  ~CThreadExitHook() {
    if (armed) CMemorySystem::ReleaseCallingThreadCache();
  }
};
thread_local CThreadExitHook t_exitHook;

constexpr uint32_t PoolOfBin(uint32_t bin) { return bin / 8 + 1; }
// The pool's own class index: pool 4 has no 8-byte class.
constexpr uint32_t ClassOfBin(uint32_t bin) { return bin % 8 - (bin / 8 == 3 ? 1 : 0); }
}  // namespace

uint64_t CThreadCache::Parked() const {
  uint64_t parked = 0;
  for (const std::atomic<uint64_t>& state : states) parked += state.load(std::memory_order_relaxed) & kCountMask;
  return parked;
}

uint64_t CThreadCache::HandedOut() const {
  uint64_t handedOut = 0;
  for (const std::atomic<uint64_t>& state : states) handedOut += state.load(std::memory_order_relaxed) >> kCountBits;
  return handedOut;
}

CThreadCache* CMemorySystem::ThreadCache() {
  const CThreadSlot slot = t_cacheSlot;
  if (slot.systemId == cacheKey_) return slot.cache;
  return AdoptThreadCache();
}

// A thread serves one system from a cache; other systems it uses take the locked paths.
CThreadCache* CMemorySystem::AdoptThreadCache() {
  if (cacheKey_ == kNoCacheKey || FindLiveSystem(t_cacheSlot.systemId) != nullptr) return nullptr;
  void* memory = manager_.RawAllocate(sizeof(CThreadCache));
  if (memory == nullptr) return nullptr;
  auto* cache = new (memory) CThreadCache{};
  {
    CLockGuard guard(manager_.Lock());
    cache->next = caches_;
    if (caches_ != nullptr) caches_->previous = cache;
    caches_ = cache;
  }
  t_cacheSlot = {cache, id_};
  t_exitHook.armed = true;
  return cache;
}

void CMemorySystem::ReleaseThreadCache(CThreadCache* cache) {
  for (uint32_t bin = 0; bin < kCacheBins; ++bin) {
    const uint64_t count = cache->states[bin].load(std::memory_order_relaxed) & CThreadCache::kCountMask;
    if (count != 0) Flush(*cache, PoolOfBin(bin), bin, static_cast<uint32_t>(count));
  }
  {
    CLockGuard guard(manager_.Lock());
    allocations_.fetch_add(cache->HandedOut(), std::memory_order_relaxed);
    if (cache->previous != nullptr) cache->previous->next = cache->next;
    else caches_ = cache->next;
    if (cache->next != nullptr) cache->next->previous = cache->previous;
  }
  manager_.RawFree(cache, sizeof(CThreadCache));
}

void CMemorySystem::ReleaseCallingThreadCache() {
  const CThreadSlot slot = t_cacheSlot;
  t_cacheSlot = {nullptr, 0};
  if (CMemorySystem* system = FindLiveSystem(slot.systemId)) system->ReleaseThreadCache(slot.cache);
}

bool CMemorySystem::CallingThreadIsCached() { return ThreadCache() != nullptr; }

uint32_t CMemorySystem::TakeBatch(uint32_t pool, uint32_t classIndex, void** blocks, uint32_t count) {
  switch (pool) {
    case 1: return pool1_.TakeBatch(classIndex, blocks, count);
    case 2: return pool2_.TakeBatch(classIndex, blocks, count);
    case 3: return pool3_.TakeBatch(classIndex, blocks, count);
    default: return pool4_.TakeBatch(classIndex, blocks, count);
  }
}

void CMemorySystem::GiveBatch(uint32_t pool, uint32_t classIndex, void* const* blocks, uint32_t count) {
  switch (pool) {
    case 1: return pool1_.GiveBatch(classIndex, blocks, count);
    case 2: return pool2_.GiveBatch(classIndex, blocks, count);
    case 3: return pool3_.GiveBatch(classIndex, blocks, count);
    default: return pool4_.GiveBatch(classIndex, blocks, count);
  }
}

// Takes a batch from the class into an empty bin, recorded as parked; blocks that got no record
// go back.
bool CMemorySystem::Refill(CThreadCache& cache, uint32_t pool, uint32_t bin) {
  void* blocks[kCacheBatch];
  CAllocationRecord* records[kCacheBatch];
  const uint32_t taken = TakeBatch(pool, ClassOfBin(bin), blocks, kCacheBatch);
  const uint32_t recorded = manager_.AddRecords(blocks, taken, PackSizeAndPool(0, pool) | kCachedFlag, records);
  if (recorded < taken) GiveBatch(pool, ClassOfBin(bin), blocks + recorded, taken - recorded);
  const uint64_t state = cache.states[bin].load(std::memory_order_relaxed);
  const uint64_t parked = state & CThreadCache::kCountMask;
  for (uint32_t i = 0; i < recorded; ++i) cache.entries[bin][parked + i] = {blocks[i], records[i]};
  cache.states[bin].store(state + recorded, std::memory_order_relaxed);
  return recorded != 0;
}

// Returns the oldest `count` parked blocks of a bin to their class, records released.
void CMemorySystem::Flush(CThreadCache& cache, uint32_t pool, uint32_t bin, uint32_t count) {
  void* blocks[kCacheCapacity];
  CAllocationRecord* records[kCacheCapacity];
  CThreadCache::Entry* entries = cache.entries[bin];
  for (uint32_t i = 0; i < count; ++i) {
    blocks[i] = entries[i].block;
    records[i] = entries[i].record;
  }
  manager_.RemoveRecords(records, count);
  GiveBatch(pool, ClassOfBin(bin), blocks, count);
  const uint64_t state = cache.states[bin].load(std::memory_order_relaxed);
  std::memmove(entries, entries + count, ((state & CThreadCache::kCountMask) - count) * sizeof(CThreadCache::Entry));
  cache.states[bin].store(state - count, std::memory_order_relaxed);
}

void* CMemorySystem::CachedAllocate(CThreadCache& cache, uint64_t size, uint32_t pool) {
  const uint32_t bin = CacheBin(pool, size);
  if (void* block = HandOutParked(cache, bin, size, pool)) return block;
  return Refill(cache, pool, bin) ? HandOutParked(cache, bin, size, pool) : nullptr;
}

void CMemorySystem::CachedFree(CThreadCache& cache, void* block, CAllocationRecord* record, uint64_t word) {
  const uint32_t pool = static_cast<uint32_t>(word >> kPoolShift);
  const uint32_t bin = CacheBin(pool, word & kSizeMask);
  if (Park(cache, bin, block, record, word)) return;
  Flush(cache, pool, bin, kCacheBatch);
  Park(cache, bin, block, record, word);
}

// ---- CMemorySystem ---------------------------------------------------------------------

CMemorySystem::CMemorySystem(System::AllocateFunction allocate, System::ReallocateFunction reallocate,
                             System::FreeFunction release, uint64_t limit, uint32_t l1DataCacheBytes)
    : manager_(allocate, reallocate, release, limit, sizeof(CMemorySystem)),
      pool1_(manager_, 1, l1DataCacheBytes),
      pool2_(manager_, 2, l1DataCacheBytes),
      pool3_(manager_, 3, l1DataCacheBytes),
      pool4_(manager_, 4, l1DataCacheBytes) {}

CMemorySystem* CMemorySystem::Create(System::AllocateFunction allocate, System::ReallocateFunction reallocate,
                                     System::FreeFunction release, uint64_t limit, uint32_t l1DataCacheBytes,
                                     bool threadCaches) {
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
  // Without a free slot the system simply works without thread caches.
  if (!threadCaches) return system;
  const uint64_t id = g_nextSystemId.fetch_add(1, std::memory_order_relaxed);
  for (CLiveSystem& entry : g_liveSystems) {
    uint64_t expected = 0;
    if (!entry.id.compare_exchange_strong(expected, ~0ull, std::memory_order_acq_rel)) continue;
    entry.system.store(system, std::memory_order_release);
    entry.id.store(id, std::memory_order_release);
    system->id_ = id;
    system->cacheKey_ = id;
    break;
  }
  return system;
}

void CMemorySystem::Destroy(CMemorySystem* system) {
  if (system == nullptr) return;
  for (CLiveSystem& entry : g_liveSystems) {
    if (system->id_ == 0 || entry.id.load(std::memory_order_acquire) != system->id_) continue;
    entry.system.store(nullptr, std::memory_order_release);
    entry.id.store(0, std::memory_order_release);
  }
  if (t_cacheSlot.systemId == system->id_) t_cacheSlot = {nullptr, 0};
  // Caches of other threads go with the pools; those threads find their system gone.
  while (CThreadCache* cache = system->caches_) {
    system->caches_ = cache->next;
    system->manager_.RawFree(cache, sizeof(CThreadCache));
  }
  system->pool1_.Destroy();
  system->pool2_.Destroy();
  system->pool3_.Destroy();
  system->pool4_.Destroy();
  system->manager_.Teardown();
  System::FreeFunction release = system->manager_.FreeCallback();
  system->~CMemorySystem();
  release(system);
}

uint64_t CMemorySystem::Allocations() {
  CLockGuard guard(manager_.Lock());
  uint64_t total = allocations_.load(std::memory_order_relaxed);
  for (CThreadCache* cache = caches_; cache != nullptr; cache = cache->next) total += cache->HandedOut();
  return total;
}

uint64_t CMemorySystem::LiveBlocks() {
  CLockGuard guard(manager_.Lock());
  uint64_t parked = 0;
  for (CThreadCache* cache = caches_; cache != nullptr; cache = cache->next)
    parked += cache->Parked();
  return manager_.RecordCount() - parked;
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

void* CMemorySystem::AllocateSlow(uint64_t size, uint32_t pool) {
  if (size == 0 || size > kMaxBlockSize) return nullptr;
  const uint32_t recorded = RecordedPool(pool);
  if (recorded != 0 && size <= TPool<0>::kLargestClass) {
    if (CThreadCache* cache = ThreadCache()) return CachedAllocate(*cache, size, recorded);
  }
  void* block = recorded == 0 ? CoreAllocate(size) : PoolAllocate(recorded, size);
  if (block == nullptr) return nullptr;
  if (recorded != 0 && !manager_.AddRecord(block, size, recorded)) {
    PoolFree(recorded, block, size);
    return nullptr;
  }
  allocations_.fetch_add(1, std::memory_order_relaxed);
  return block;
}

// A block the inline path could not park: no cache yet, a full bin, or not a small block.
bool CMemorySystem::FreeSlow(void* block, CAllocationRecord* record, uint64_t word) {
  const bool small = (word >> kPoolShift) != 0 && (word & kSizeMask) <= TPool<0>::kLargestClass;
  if (small) {
    if (CThreadCache* cache = ThreadCache()) {
      CachedFree(*cache, block, record, word);
      return true;
    }
  }
  return UncachedFree(block);
}

bool CMemorySystem::UncachedFree(void* block) {
  uint64_t size = 0;
  uint32_t pool = 0;
  if (!manager_.TakeRecord(block, &size, &pool)) return false;
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
