#include <cstdlib>

#include "foundation/system/Platform.h"

// The language runtime's allocator is the same call on every platform.
namespace Bravik::System {

namespace {
void* RuntimeAllocate(size_t size) { return std::malloc(size); }
void* RuntimeReallocate(void* block, size_t size) { return std::realloc(block, size); }
void RuntimeFree(void* block) { std::free(block); }
}  // namespace

AllocateFunction DefaultAllocate() { return &RuntimeAllocate; }
ReallocateFunction DefaultReallocate() { return &RuntimeReallocate; }
FreeFunction DefaultFree() { return &RuntimeFree; }

}  // namespace Bravik::System
