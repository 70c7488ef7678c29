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
  if (m_owner.load(std::memory_order_relaxed) == self) {
    ++m_recursion;
    return;
  }
  for (;;) {
    uint32_t expected = kNoOwner;
    if (m_owner.compare_exchange_weak(expected, self, std::memory_order_acquire, std::memory_order_relaxed))
      break;
    while (m_owner.load(std::memory_order_relaxed) != kNoOwner) System::SpinPause();
  }
  m_recursion = 1;
}

void CRecursiveSpinLock::Unlock() {
  BRAVIK_ASSERT(m_owner.load(std::memory_order_relaxed) == System::CurrentThreadId());
  if (--m_recursion == 0) m_owner.store(kNoOwner, std::memory_order_release);
}

namespace {
class CLockGuard {
 public:
  explicit CLockGuard(CRecursiveSpinLock& lock) : m_lock(lock) { m_lock.Lock(); }
  ~CLockGuard() { m_lock.Unlock(); }
  CLockGuard(const CLockGuard&) = delete;
  CLockGuard& operator=(const CLockGuard&) = delete;

 private:
  CRecursiveSpinLock& m_lock;
};
}  // namespace

// ---- CMemoryManager: host blocks -------------------------------------------------------

CMemoryManager::CMemoryManager(System::AllocateFunction allocate, System::ReallocateFunction reallocate,
                               System::FreeFunction release, uint64_t limit, uint64_t ownBytes)
    : m_allocate(allocate), m_reallocate(reallocate), m_free(release), m_bytesInUse(ownBytes), m_limit(limit) {}

void* CMemoryManager::RawAllocate(uint64_t size) {
  const uint64_t inUse = BytesInUse();
  // Written so that nothing wraps: sizes near 2^64 and a limit below the current use both fail.
  if (size > kMaxBlockSize || inUse > m_limit || size > m_limit - inUse) return nullptr;
  void* block = m_allocate(static_cast<size_t>(size));
  if (block == nullptr) return nullptr;
  m_bytesInUse.fetch_add(size, std::memory_order_relaxed);
  m_liveHostBlocks.fetch_add(1, std::memory_order_relaxed);
  return block;
}

void* CMemoryManager::RawReallocate(void* block, uint64_t oldSize, uint64_t newSize) {
  if (block == nullptr) return RawAllocate(newSize);
  const uint64_t inUse = BytesInUse();
  if (newSize > kMaxBlockSize) return nullptr;
  if (newSize > oldSize && (inUse > m_limit || newSize - oldSize > m_limit - inUse)) return nullptr;
  void* moved = m_reallocate(block, static_cast<size_t>(newSize));
  if (moved == nullptr) return nullptr;
  m_bytesInUse.fetch_add(newSize - oldSize, std::memory_order_relaxed);
  return moved;
}

void CMemoryManager::RawFree(void* block, uint64_t size) {
  if (block == nullptr) return;
  m_bytesInUse.fetch_sub(size, std::memory_order_relaxed);
  m_liveHostBlocks.fetch_sub(1, std::memory_order_relaxed);
  m_free(block);
}

// ---- CMemoryManager: records -----------------------------------------------------------

// Holds the manager lock and marks the table as changing for lock-free readers (odd sequence).
class CWriteSection {
 public:
  explicit CWriteSection(CMemoryManager& manager) : m_manager(manager), m_guard(manager.m_lock) {
    m_manager.m_sequence.store(m_manager.m_sequence.load(std::memory_order_relaxed) + 1, std::memory_order_relaxed);
    std::atomic_thread_fence(std::memory_order_release);
  }
  ~CWriteSection() {
    m_manager.m_sequence.store(m_manager.m_sequence.load(std::memory_order_relaxed) + 1, std::memory_order_release);
  }
  CWriteSection(const CWriteSection&) = delete;
  CWriteSection& operator=(const CWriteSection&) = delete;

 private:
  CMemoryManager& m_manager;
  CLockGuard m_guard;
};

bool CMemoryManager::Setup() {
  const uint64_t count = 1ull << kInitialBucketBits;
  auto* table = static_cast<Bucket*>(RawAllocate(count * sizeof(Bucket)));
  if (table == nullptr) return false;
  for (uint64_t i = 0; i < count; ++i) new (&table[i]) Bucket(nullptr);
  m_buckets.store(table, std::memory_order_relaxed);
  m_bucketBits.store(kInitialBucketBits, std::memory_order_relaxed);
  return GrowRecordStorage();
}

void CMemoryManager::Teardown() {
  for (uint64_t i = 0; i < m_recordBlockCount; ++i) RawFree(m_recordBlocks[i], kRecordBlockBytes);
  const uint64_t tableLength = m_generations == 0 ? 0 : kFirstGenerationBlocks << (m_generations - 1);
  RawFree(m_recordBlocks, tableLength * sizeof(CAllocationRecord*));
  // A retired table keeps its successor in slot 0 and its own bucket count in slot 1.
  while (m_retiredBuckets != nullptr) {
    Bucket* table = m_retiredBuckets;
    m_retiredBuckets = reinterpret_cast<Bucket*>(table[0].load(std::memory_order_relaxed));
    RawFree(table, reinterpret_cast<uintptr_t>(table[1].load(std::memory_order_relaxed)) * sizeof(Bucket));
  }
  RawFree(m_buckets.load(std::memory_order_relaxed), BucketCount() * sizeof(Bucket));
  m_recordBlocks = nullptr;
  m_buckets.store(nullptr, std::memory_order_relaxed);
  m_freeRecords = nullptr;
  m_recordBlockCount = m_generations = m_liveRecords = 0;
}

uint64_t CMemoryManager::BucketCount() const { return 1ull << m_bucketBits.load(std::memory_order_relaxed); }

// Doubles the record-block table and fills the new half with fresh blocks of 256 records.
bool CMemoryManager::GrowRecordStorage() {
  const uint64_t oldLength = m_generations == 0 ? 0 : kFirstGenerationBlocks << (m_generations - 1);
  const uint64_t newLength = m_generations == 0 ? kFirstGenerationBlocks : oldLength * 2;
  if (m_recordBlockCount == oldLength) {
    void* table = RawReallocate(m_recordBlocks, oldLength * sizeof(CAllocationRecord*),
                                newLength * sizeof(CAllocationRecord*));
    if (table == nullptr) return false;
    m_recordBlocks = static_cast<CAllocationRecord**>(table);
    ++m_generations;
  }
  // A generation cut short by the host keeps the blocks it got; the next growth fills the rest.
  const uint64_t length = kFirstGenerationBlocks << (m_generations - 1);
  while (m_recordBlockCount < length) {
    auto* block = static_cast<CAllocationRecord*>(RawAllocate(kRecordBlockBytes));
    if (block == nullptr) break;
    m_recordBlocks[m_recordBlockCount++] = block;
    for (uint32_t i = kRecordsPerBlock; i-- > 0;) {
      new (&block[i]) CAllocationRecord{{0}, {m_freeRecords}, {0}};
      m_freeRecords = &block[i];
    }
  }
  return m_freeRecords != nullptr;
}

CMemoryManager::Bucket* CMemoryManager::BucketOf(Bucket* buckets, uint32_t bits, uintptr_t address) {
  return &buckets[BucketIndex(address, bits)];
}

CMemoryManager::Bucket* CMemoryManager::BucketOf(uintptr_t address) const {
  return BucketOf(m_buckets.load(std::memory_order_relaxed), m_bucketBits.load(std::memory_order_relaxed), address);
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
  record->next.store(m_freeRecords, std::memory_order_relaxed);
  m_freeRecords = record;
  --m_liveRecords;
}

// Keeps chains short as live blocks grow, so a free costs the same at any population.
void CMemoryManager::GrowBuckets() {
  const uint32_t oldBits = m_bucketBits.load(std::memory_order_relaxed);
  const uint64_t oldCount = 1ull << oldBits, count = oldCount * 2;
  auto* table = static_cast<Bucket*>(RawAllocate(count * sizeof(Bucket)));
  if (table == nullptr) return;  // longer chains, still correct
  for (uint64_t i = 0; i < count; ++i) new (&table[i]) Bucket(nullptr);
  Bucket* oldTable = m_buckets.load(std::memory_order_relaxed);
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
  m_buckets.store(table, std::memory_order_release);
  m_bucketBits.store(oldBits + 1, std::memory_order_release);
  oldTable[0].store(reinterpret_cast<CAllocationRecord*>(m_retiredBuckets), std::memory_order_relaxed);
  oldTable[1].store(reinterpret_cast<CAllocationRecord*>(static_cast<uintptr_t>(oldCount)), std::memory_order_relaxed);
  m_retiredBuckets = oldTable;
}

CAllocationRecord* CMemoryManager::NewRecord(uintptr_t address, uint64_t word) {
  if (m_freeRecords == nullptr && !GrowRecordStorage()) return nullptr;
  CAllocationRecord* record = m_freeRecords;
  m_freeRecords = record->next.load(std::memory_order_relaxed);
  record->address.store(address, std::memory_order_relaxed);
  record->sizeAndPool.store(word, std::memory_order_relaxed);
  Link(record);
  // At most one record per bucket on average: a free with a million live blocks then walks
  // about as few records, each a likely cache miss, as with a thousand.
  if (++m_liveRecords > BucketCount()) GrowBuckets();
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
    const uint64_t before = m_sequence.load(std::memory_order_acquire);
    if (before & 1) {
      System::SpinPause();
      continue;
    }
    uint64_t value = 0;
    CAllocationRecord* found = Walk(address, &value);
    std::atomic_thread_fence(std::memory_order_acquire);
    if (m_sequence.load(std::memory_order_relaxed) != before) continue;
    if (found == nullptr || (value & kCachedFlag) != 0) return nullptr;
    *word = value;
    return found;
  }
}

uint64_t CMemoryManager::RecordCount() {
  CLockGuard guard(m_lock);
  return m_liveRecords;
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
  if (slot.systemId == m_cacheKey) return slot.cache;
  return AdoptThreadCache();
}

// A thread serves one system from a cache; other systems it uses take the locked paths.
CThreadCache* CMemorySystem::AdoptThreadCache() {
  if (m_cacheKey == kNoCacheKey || FindLiveSystem(t_cacheSlot.systemId) != nullptr) return nullptr;
  void* memory = m_manager.RawAllocate(sizeof(CThreadCache));
  if (memory == nullptr) return nullptr;
  auto* cache = new (memory) CThreadCache{};
  {
    CLockGuard guard(m_manager.Lock());
    cache->next = m_caches;
    if (m_caches != nullptr) m_caches->previous = cache;
    m_caches = cache;
  }
  t_cacheSlot = {cache, m_id};
  t_exitHook.armed = true;
  return cache;
}

void CMemorySystem::ReleaseThreadCache(CThreadCache* cache) {
  for (uint32_t bin = 0; bin < kCacheBins; ++bin) {
    const uint64_t count = cache->states[bin].load(std::memory_order_relaxed) & CThreadCache::kCountMask;
    if (count != 0) Flush(*cache, PoolOfBin(bin), bin, static_cast<uint32_t>(count));
  }
  {
    CLockGuard guard(m_manager.Lock());
    m_allocations.fetch_add(cache->HandedOut(), std::memory_order_relaxed);
    if (cache->previous != nullptr) cache->previous->next = cache->next;
    else m_caches = cache->next;
    if (cache->next != nullptr) cache->next->previous = cache->previous;
  }
  m_manager.RawFree(cache, sizeof(CThreadCache));
}

void CMemorySystem::ReleaseCallingThreadCache() {
  const CThreadSlot slot = t_cacheSlot;
  t_cacheSlot = {nullptr, 0};
  if (CMemorySystem* system = FindLiveSystem(slot.systemId)) system->ReleaseThreadCache(slot.cache);
}

bool CMemorySystem::CallingThreadIsCached() { return ThreadCache() != nullptr; }

uint32_t CMemorySystem::TakeBatch(uint32_t pool, uint32_t classIndex, void** blocks, uint32_t count) {
  switch (pool) {
    case 1: return m_pool1.TakeBatch(classIndex, blocks, count);
    case 2: return m_pool2.TakeBatch(classIndex, blocks, count);
    case 3: return m_pool3.TakeBatch(classIndex, blocks, count);
    default: return m_pool4.TakeBatch(classIndex, blocks, count);
  }
}

void CMemorySystem::GiveBatch(uint32_t pool, uint32_t classIndex, void* const* blocks, uint32_t count) {
  switch (pool) {
    case 1: return m_pool1.GiveBatch(classIndex, blocks, count);
    case 2: return m_pool2.GiveBatch(classIndex, blocks, count);
    case 3: return m_pool3.GiveBatch(classIndex, blocks, count);
    default: return m_pool4.GiveBatch(classIndex, blocks, count);
  }
}

// Takes a batch from the class into an empty bin, recorded as parked; blocks that got no record
// go back.
bool CMemorySystem::Refill(CThreadCache& cache, uint32_t pool, uint32_t bin) {
  void* blocks[kCacheBatch];
  CAllocationRecord* records[kCacheBatch];
  const uint32_t taken = TakeBatch(pool, ClassOfBin(bin), blocks, kCacheBatch);
  const uint32_t recorded = m_manager.AddRecords(blocks, taken, PackSizeAndPool(0, pool) | kCachedFlag, records);
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
  m_manager.RemoveRecords(records, count);
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
    : m_manager(allocate, reallocate, release, limit, sizeof(CMemorySystem)),
      m_pool1(m_manager, 1, l1DataCacheBytes),
      m_pool2(m_manager, 2, l1DataCacheBytes),
      m_pool3(m_manager, 3, l1DataCacheBytes),
      m_pool4(m_manager, 4, l1DataCacheBytes) {}

CMemorySystem* CMemorySystem::Create(System::AllocateFunction allocate, System::ReallocateFunction reallocate,
                                     System::FreeFunction release, uint64_t limit, uint32_t l1DataCacheBytes,
                                     bool threadCaches) {
  if (allocate == nullptr) allocate = System::DefaultAllocate();
  if (reallocate == nullptr) reallocate = System::DefaultReallocate();
  if (release == nullptr) release = System::DefaultFree();
  void* state = allocate(sizeof(CMemorySystem));
  if (state == nullptr) return nullptr;
  auto* system = new (state) CMemorySystem(allocate, reallocate, release, limit, l1DataCacheBytes);
  if (!system->m_manager.Setup()) {
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
    system->m_id = id;
    system->m_cacheKey = id;
    break;
  }
  return system;
}

void CMemorySystem::Destroy(CMemorySystem* system) {
  if (system == nullptr) return;
  for (CLiveSystem& entry : g_liveSystems) {
    if (system->m_id == 0 || entry.id.load(std::memory_order_acquire) != system->m_id) continue;
    entry.system.store(nullptr, std::memory_order_release);
    entry.id.store(0, std::memory_order_release);
  }
  if (t_cacheSlot.systemId == system->m_id) t_cacheSlot = {nullptr, 0};
  // Caches of other threads go with the pools; those threads find their system gone.
  while (CThreadCache* cache = system->m_caches) {
    system->m_caches = cache->next;
    system->m_manager.RawFree(cache, sizeof(CThreadCache));
  }
  system->m_pool1.Destroy();
  system->m_pool2.Destroy();
  system->m_pool3.Destroy();
  system->m_pool4.Destroy();
  system->m_manager.Teardown();
  System::FreeFunction release = system->m_manager.FreeCallback();
  system->~CMemorySystem();
  release(system);
}

uint64_t CMemorySystem::Allocations() {
  CLockGuard guard(m_manager.Lock());
  uint64_t total = m_allocations.load(std::memory_order_relaxed);
  for (CThreadCache* cache = m_caches; cache != nullptr; cache = cache->next) total += cache->HandedOut();
  return total;
}

uint64_t CMemorySystem::LiveBlocks() {
  CLockGuard guard(m_manager.Lock());
  uint64_t parked = 0;
  for (CThreadCache* cache = m_caches; cache != nullptr; cache = cache->next)
    parked += cache->Parked();
  return m_manager.RecordCount() - parked;
}

void* CMemorySystem::CoreAllocate(uint64_t size) {
  void* block = m_manager.RawAllocate(size);
  if (block == nullptr) return nullptr;
  if (!m_manager.AddRecord(block, size, 0)) {
    m_manager.RawFree(block, size);
    return nullptr;
  }
  return block;
}

void* CMemorySystem::CoreReallocate(void* block, uint64_t oldSize, uint64_t newSize) {
  void* moved = m_manager.RawReallocate(block, oldSize, newSize);
  if (moved != nullptr) m_manager.UpdateRecord(block, moved, newSize);
  return moved;
}

void* CMemorySystem::PoolAllocate(uint32_t pool, uint64_t size) {
  switch (pool) {
    case 1: return m_pool1.Allocate(size);
    case 2: return m_pool2.Allocate(size);
    case 3: return m_pool3.Allocate(size);
    default: return m_pool4.Allocate(size);
  }
}

void CMemorySystem::PoolFree(uint32_t pool, void* block, uint64_t size) {
  switch (pool) {
    case 1: return m_pool1.Free(block, size);
    case 2: return m_pool2.Free(block, size);
    case 3: return m_pool3.Free(block, size);
    default: return m_pool4.Free(block, size);
  }
}

void* CMemorySystem::PoolReallocate(uint32_t pool, void* block, uint64_t oldSize, uint64_t newSize) {
  switch (pool) {
    case 1: return m_pool1.Reallocate(block, oldSize, newSize);
    case 2: return m_pool2.Reallocate(block, oldSize, newSize);
    case 3: return m_pool3.Reallocate(block, oldSize, newSize);
    default: return m_pool4.Reallocate(block, oldSize, newSize);
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
  if (recorded != 0 && !m_manager.AddRecord(block, size, recorded)) {
    PoolFree(recorded, block, size);
    return nullptr;
  }
  m_allocations.fetch_add(1, std::memory_order_relaxed);
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
  if (!m_manager.TakeRecord(block, &size, &pool)) return false;
  if (pool == 0)
    m_manager.RawFree(block, size);
  else
    PoolFree(pool, block, size);
  return true;
}

// Dispatches on the pool the block was recorded with, never on the argument.
void* CMemorySystem::Reallocate(void* block, uint64_t size, uint32_t pool) {
  if (block == nullptr) return Allocate(size, pool);
  uint64_t oldSize = 0;
  uint32_t recorded = 0;
  if (!m_manager.FindRecord(block, &oldSize, &recorded)) return nullptr;
  if (size == 0) {
    Free(block);
    return nullptr;
  }
  if (size > kMaxBlockSize) return nullptr;
  if (recorded == 0) return CoreReallocate(block, oldSize, size);
  if (PoolReallocate(recorded, block, oldSize, size) != nullptr) {
    m_manager.UpdateRecord(block, block, size);
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
  return block != nullptr && m_manager.FindRecord(block, &size, &pool) ? size : 0;
}

uint32_t CMemorySystem::BlockPool(const void* block) {
  uint64_t size = 0;
  uint32_t pool = 0;
  return block != nullptr && m_manager.FindRecord(block, &size, &pool) ? pool : 0;
}

}  // namespace Bravik::Memory
