#include "foundation/container/WeakTypeStorage.h"

#include <atomic>

namespace Bravik {

namespace {
// Stores are used by one thread at a time, so a relaxed load and store suffice.
std::atomic<uint64_t> g_entryGeneration{0};
}  // namespace

uint64_t StoreEntryGeneration() { return g_entryGeneration.load(std::memory_order_relaxed); }

void AdvanceStoreEntryGeneration() {
  g_entryGeneration.store(g_entryGeneration.load(std::memory_order_relaxed) + 1, std::memory_order_relaxed);
}

}  // namespace Bravik
