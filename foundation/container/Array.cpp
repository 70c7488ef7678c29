#include "foundation/container/Array.h"

namespace Bravik {

void* ResizeArrayBlock(void* block, uint64_t capacity, uint64_t elementSize, uint32_t pool) {
  if (elementSize != 0 && capacity > ~0ull / elementSize) throw std::bad_alloc();
  const uint64_t bytes = capacity * elementSize;
  return block != nullptr ? Memory::Reallocate(block, bytes, pool) : Memory::Allocate(bytes, pool);
}

}  // namespace Bravik
