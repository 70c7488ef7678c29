#include "foundation/memory/MemorySystem.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "foundation/system/Assert.h"

namespace Bravik::Memory {

// ---- Thread caches ---------------------------------------------------------------------

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
  const System::CThreadSlot slot = System::ThreadSlot();
  if (slot.tag == m_cacheKey) return static_cast<CThreadCache*>(slot.pointer);
  return AdoptThreadCache();
}

// A thread serves one system from a cache; other systems it uses, and everything it calls after
// its end was handled (a host's late thread_local destructor), take the locked paths.
CThreadCache* CMemorySystem::AdoptThreadCache() {
  const uint64_t tag = System::ThreadSlot().tag;
  if (m_cacheKey == kNoCacheKey || tag == kEndedThread || FindLiveSystem(tag) != nullptr) return nullptr;
  // Without the promise of a call at the thread's end, a cache would outlive the thread.
  if (!System::WatchThreadEnd(&EndCallingThread)) return nullptr;
  void* memory = m_manager.RawAllocate(sizeof(CThreadCache));
  if (memory == nullptr) return nullptr;
  auto* cache = new (memory) CThreadCache{};
  if (!System::SetThreadSlot({cache, m_id})) {
    m_manager.RawFree(cache, sizeof(CThreadCache));
    return nullptr;
  }
  CLockGuard guard(m_manager.Lock());
  cache->next = m_caches;
  if (m_caches != nullptr) m_caches->previous = cache;
  m_caches = cache;
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

void CMemorySystem::EndCallingThread() {
  const System::CThreadSlot slot = System::ThreadSlot();
  System::SetThreadSlot({nullptr, kEndedThread});
  if (slot.pointer == nullptr) return;
  if (CMemorySystem* system = FindLiveSystem(slot.tag)) system->ReleaseThreadCache(static_cast<CThreadCache*>(slot.pointer));
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
  if (System::ThreadSlot().tag == system->m_id) System::SetThreadSlot({nullptr, 0});
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
