// Per-region memory for variable-size data. CDataBlockPool serves object data blocks by exact
// size: blocks given back are reused for the next request of the same size, so releasing and
// re-creating objects of the same types stops reaching the allocator. CBytePool packs small
// pieces (text bytes) into 1024-byte blocks. Both free everything at once when the region goes.
#pragma once

#include <cstdint>

#include "foundation/container/Array.h"
#include "foundation/container/MapTree.h"

namespace Quorin {

class CDataBlockPool {
 public:
  static constexpr uint32_t kMinimumBlock = 8;  // room for the free-list link
  static constexpr uint32_t kSlabBytes = 1024;  // blocks are cut from slabs of about this size

  CDataBlockPool() = default;
  CDataBlockPool(const CDataBlockPool&) = delete;
  CDataBlockPool& operator=(const CDataBlockPool&) = delete;
  ~CDataBlockPool() { Clear(); }

  // Served size of a request: sizes below 8 bytes get 8-byte blocks.
  static uint32_t BlockSize(uint32_t size) { return size < kMinimumBlock ? kMinimumBlock : size; }

  // A block of BlockSize(size) bytes, contents undefined: the last one given back with this size,
  // else a new one. Blocks are packed back to back (no alignment). Raises std::bad_alloc with
  // the pool unchanged.
  void* Take(uint32_t size);
  // Gives back a block that Take(size) handed out, with that same size.
  void Give(void* block, uint32_t size);
  // Frees every block, handed out or not; the pool stays usable.
  void Clear();

  // Distinct block sizes served so far (a tree node each).
  uint64_t SizeCount() const { return m_sizes.count; }

 private:
  struct SizeEntry;
  SizeEntry* EntryFor(uint32_t size);

  Bravik::TMapTree<uint32_t> m_sizes;
};

class CBytePool {
 public:
  static constexpr uint32_t kBlockBytes = 1024;

  CBytePool() = default;
  CBytePool(const CBytePool&) = delete;
  CBytePool& operator=(const CBytePool&) = delete;
  ~CBytePool() { Clear(); }

  // size bytes at a multiple of alignment (1, 2, 4 or 8) in the current block, or in a new
  // 1024-byte block when they do not fit; a piece longer than a block gets a block of its own.
  // Null for size 0. Raises std::bad_alloc with the pool unchanged.
  void* Take(uint64_t size, uint32_t alignment = 1);
  void Clear();

  uint64_t BlockCount() const { return m_blocks.Count(); }

 private:
  void MakeRoom();

  Bravik::TArray<uint8_t*> m_blocks;  // every block, shared and own
  uint8_t* m_current = nullptr;       // the shared block pieces are cut from
  uint32_t m_used = kBlockBytes;
};

}  // namespace Quorin
