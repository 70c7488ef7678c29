// Exports: the library allocator, before start-up and after shutdown included.
#include "capi/QuorinCAPI.h"
#include "foundation/memory/Memory.h"

extern "C" {

QUORIN_API void* BrvMalloc(uint64_t size, uint32_t pool) { return Bravik::Memory::TryAllocate(size, pool); }

QUORIN_API void* BrvRealloc(void* block, uint64_t size, uint32_t pool) {
  return Bravik::Memory::TryReallocate(block, size, pool);
}

QUORIN_API void BrvFree(void* block) { Bravik::Memory::TryFree(block); }

}  // extern "C"
