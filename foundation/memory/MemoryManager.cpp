#include "foundation/memory/MemoryManager.h"

#include <new>

#include "foundation/system/Assert.h"

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

// ---- CMemoryManager: host blocks -------------------------------------------------------

CMemoryManager::CMemoryManager(System::AllocateFunction allocate, System::ReallocateFunction reallocate,
                               System::FreeFunction release, uint64_t limit, uint64_t ownBytes)
    : m_allocate(allocate), m_reallocate(reallocate), m_free(release), m_bytesInUse(ownBytes), m_limit(limit) {}

// Charges size to bytes in use unless that would cross the limit. The charge comes before the
// host call, so concurrent requests never pass the limit together; compared without wrapping,
// so sizes near 2^64 and a limit below the current use both fail.
bool CMemoryManager::Reserve(uint64_t size) {
  uint64_t inUse = m_bytesInUse.load(std::memory_order_relaxed);
  do {
    if (size > kMaxBlockSize || inUse > m_limit || size > m_limit - inUse) return false;
  } while (!m_bytesInUse.compare_exchange_weak(inUse, inUse + size, std::memory_order_relaxed));
  return true;
}

void* CMemoryManager::RawAllocate(uint64_t size) {
  if (!Reserve(size)) return nullptr;
  void* block = m_allocate(static_cast<size_t>(size));
  if (block == nullptr) {
    m_bytesInUse.fetch_sub(size, std::memory_order_relaxed);
    return nullptr;
  }
  return block;
}

// Growth reserves the difference first; a shrink gives it back once the host has resized.
void* CMemoryManager::RawReallocate(void* block, uint64_t oldSize, uint64_t newSize) {
  if (block == nullptr) return RawAllocate(newSize);
  if (newSize > kMaxBlockSize) return nullptr;
  const uint64_t growth = newSize > oldSize ? newSize - oldSize : 0;
  if (growth != 0 && !Reserve(growth)) return nullptr;
  void* moved = m_reallocate(block, static_cast<size_t>(newSize));
  if (moved == nullptr) {
    m_bytesInUse.fetch_sub(growth, std::memory_order_relaxed);
    return nullptr;
  }
  if (growth == 0) m_bytesInUse.fetch_sub(oldSize - newSize, std::memory_order_relaxed);
  return moved;
}

void CMemoryManager::RawFree(void* block, uint64_t size) {
  if (block == nullptr) return;
  m_bytesInUse.fetch_sub(size, std::memory_order_relaxed);
  m_free(block);
}

// ---- CMemoryManager: records -----------------------------------------------------------

// Holds the manager lock and marks the table as changing for lock-free readers (odd sequence).
class CWriteSection {
 public:
  explicit CWriteSection(CMemoryManager& manager) : m_manager(manager), m_guard(manager.m_lock) {
    m_manager.m_sequence.store(m_manager.m_sequence.load(std::memory_order_relaxed) + 1, std::memory_order_relaxed);
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
  record->next.store(bucket->load(std::memory_order_relaxed), kPublish);
  bucket->store(record, kPublish);
}

CAllocationRecord* CMemoryManager::Unlink(uintptr_t address) {
  Bucket* link = BucketOf(address);
  for (CAllocationRecord* record = link->load(std::memory_order_relaxed); record != nullptr;
       link = &record->next, record = link->load(std::memory_order_relaxed)) {
    if (record->address.load(std::memory_order_relaxed) != address) continue;
    link->store(record->next.load(std::memory_order_relaxed), kPublish);
    return record;
  }
  return nullptr;
}

void CMemoryManager::Release(CAllocationRecord* record) {
  record->next.store(m_freeRecords, kPublish);
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
      record->next.store(bucket->load(std::memory_order_relaxed), kPublish);
      bucket->store(record, kPublish);
      record = next;
    }
  }
  // Table before bits: a reader that sees the new bits also sees the table they index.
  m_buckets.store(table, std::memory_order_release);
  m_bucketBits.store(oldBits + 1, std::memory_order_release);
  oldTable[0].store(reinterpret_cast<CAllocationRecord*>(m_retiredBuckets), kPublish);
  oldTable[1].store(reinterpret_cast<CAllocationRecord*>(static_cast<uintptr_t>(oldCount)), kPublish);
  m_retiredBuckets = oldTable;
}

CAllocationRecord* CMemoryManager::NewRecord(uintptr_t address, uint64_t word) {
  if (m_freeRecords == nullptr && !GrowRecordStorage()) return nullptr;
  CAllocationRecord* record = m_freeRecords;
  m_freeRecords = record->next.load(std::memory_order_relaxed);
  record->address.store(address, kPublish);
  record->sizeAndPool.store(word, kPublish);
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
  record->address.store(reinterpret_cast<uintptr_t>(newBlock), kPublish);
  record->sizeAndPool.store(PackSizeAndPool(size, static_cast<uint32_t>(word >> kPoolShift)), kPublish);
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
}  // namespace Bravik::Memory
