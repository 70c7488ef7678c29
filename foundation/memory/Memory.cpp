#include "foundation/memory/Memory.h"

#include <cstdlib>

#include "foundation/memory/MemorySystem.h"

namespace Bravik::Memory {

namespace {
std::atomic<CMemorySystem*> g_system{nullptr};
std::atomic_flag g_setupLock = ATOMIC_FLAG_INIT;
bool g_exitHandlerRegistered = false;

CMemorySystem* CurrentSystem() { return g_system.load(std::memory_order_acquire); }

void ShutdownAtExit() { ShutdownMemory(); }

[[noreturn]] void ThrowOutOfMemory() { throw std::bad_alloc(); }
}  // namespace

bool InitializeMemory(System::AllocateFunction allocate, System::ReallocateFunction reallocate,
                      System::FreeFunction release, uint64_t limit) {
  while (g_setupLock.test_and_set(std::memory_order_acquire)) System::SpinPause();
  bool ready = CurrentSystem() != nullptr;
  if (!ready) {
    CMemorySystem* system =
        CMemorySystem::Create(allocate, reallocate, release, limit, System::QueryL1DataCacheSize(), true);
    // The starting thread is the host's: give it its cache now rather than inside a later call.
    if (system != nullptr) system->CallingThreadIsCached();
    g_system.store(system, std::memory_order_release);
    ready = system != nullptr;
    if (ready && !g_exitHandlerRegistered) g_exitHandlerRegistered = std::atexit(&ShutdownAtExit) == 0;
  }
  g_setupLock.clear(std::memory_order_release);
  return ready;
}

void ShutdownMemory() {
  CMemorySystem* system = g_system.exchange(nullptr, std::memory_order_acq_rel);
  CMemorySystem::Destroy(system);
}

bool IsMemoryInitialized() { return CurrentSystem() != nullptr; }

void* TryAllocate(uint64_t size, uint32_t pool) {
  CMemorySystem* system = CurrentSystem();
  return system != nullptr ? system->Allocate(size, pool) : nullptr;
}

void* TryReallocate(void* block, uint64_t size, uint32_t pool) {
  CMemorySystem* system = CurrentSystem();
  return system != nullptr ? system->Reallocate(block, size, pool) : nullptr;
}

void TryFree(void* block) {
  if (CMemorySystem* system = CurrentSystem()) system->Free(block);
}

void* Allocate(uint64_t size, uint32_t pool) {
  CMemorySystem* system = CurrentSystem();
  if (system == nullptr) ThrowOutOfMemory();
  if (size == 0) return nullptr;
  void* block = system->Allocate(size, pool);
  if (block == nullptr) ThrowOutOfMemory();
  return block;
}

void* Reallocate(void* block, uint64_t size, uint32_t pool) {
  CMemorySystem* system = CurrentSystem();
  if (system == nullptr) ThrowOutOfMemory();
  void* moved = system->Reallocate(block, size, pool);
  if (moved == nullptr && size != 0) ThrowOutOfMemory();
  return moved;
}

void Free(void* block) {
  if (block == nullptr) return;
  CMemorySystem* system = CurrentSystem();
  if (system == nullptr) ThrowOutOfMemory();
  system->Free(block);
}

uint64_t GetBlockSize(const void* block) {
  CMemorySystem* system = CurrentSystem();
  return system != nullptr ? system->BlockSize(block) : 0;
}

uint32_t GetBlockPool(const void* block) {
  CMemorySystem* system = CurrentSystem();
  return system != nullptr ? system->BlockPool(block) : 0;
}

MemoryStatistics GetMemoryStatistics() {
  CMemorySystem* system = CurrentSystem();
  if (system == nullptr) return {0, 0, 0, 0};
  return {system->Manager().BytesInUse(), system->LiveBlocks(), system->Manager().Limit(), system->Allocations()};
}

}  // namespace Bravik::Memory
