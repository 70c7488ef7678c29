// The library allocator. Every byte the library uses comes from here, with a pool selector:
// 1 to 4 are small-block pools (alignment 1, 4, 8, 16), 0 and anything else the core.
#pragma once

#include <cstddef>
#include <cstdint>
#include <new>
#include <type_traits>
#include <utility>

#include "foundation/system/Platform.h"

namespace Bravik::Memory {

// Pool selectors used inside the library.
constexpr uint32_t kCorePool = 0;    // the manager's own bookkeeping, raw host blocks
constexpr uint32_t kObjectPool = 1;  // texts, arrays, objects
constexpr uint32_t kValuePool = 2;   // entries of value stores
constexpr uint32_t kPool8 = 3;
constexpr uint32_t kPool16 = 4;

constexpr uint64_t kNoLimit = ~0ull;

// Pool 1 serves blocks above 1024 bytes at any byte address, so data with a stricter alignment
// that may grow past that comes from the pool that guarantees it.
constexpr uint32_t PoolForAlignment(size_t alignment) {
  return alignment <= 1 ? kObjectPool : alignment <= 8 ? kPool8 : kPool16;
}

// Creates the process-wide manager once (a second call keeps the first and returns true).
// Null callbacks mean the runtime's malloc/realloc/free. Registers ShutdownMemory at exit.
bool InitializeMemory(System::AllocateFunction allocate, System::ReallocateFunction reallocate,
                      System::FreeFunction release, uint64_t limit);
// Returns every chunk and the manager state to the callbacks; later calls behave as before set-up.
void ShutdownMemory();
bool IsMemoryInitialized();

// Boundary forms: null on failure, before set-up, or for size 0. TryFree ignores null, unknown
// blocks, and everything before set-up.
void* TryAllocate(uint64_t size, uint32_t pool);
void* TryReallocate(void* block, uint64_t size, uint32_t pool);
void TryFree(void* block);

// Internal forms: raise std::bad_alloc ("bad allocation") on failure and before set-up.
// Allocate(0) gives null without raising; Reallocate(block, 0) frees and gives null.
void* Allocate(uint64_t size, uint32_t pool);
void* Reallocate(void* block, uint64_t size, uint32_t pool);
void Free(void* block);

// From the block's record: the size the caller asked for and the pool selector; 0 for blocks
// the manager did not hand out.
uint64_t GetBlockSize(const void* block);
uint32_t GetBlockPool(const void* block);

struct MemoryStatistics {
  uint64_t bytesInUse;   // raw blocks plus the manager's own structures
  uint64_t liveBlocks;   // blocks handed out and not freed, all pools
  uint64_t byteLimit;
  uint64_t allocations;  // blocks handed out since set-up (resizes that move count too)
};
MemoryStatistics GetMemoryStatistics();

// Constructs a T in a block of the given pool; the block is freed if the constructor throws.
template <typename T, typename... Args>
T* New(uint32_t pool, Args&&... args) {
  void* block = Allocate(sizeof(T), pool);
  try {
    // Braces for aggregates: not every supported compiler takes parentheses for them yet.
    if constexpr (std::is_aggregate_v<T>)
      return new (block) T{std::forward<Args>(args)...};
    else
      return new (block) T(std::forward<Args>(args)...);
  } catch (...) {
    Free(block);
    throw;
  }
}

template <typename T>
void Delete(T* object) {
  if (object == nullptr) return;
  object->~T();
  Free(object);
}

}  // namespace Bravik::Memory
